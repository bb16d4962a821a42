#pragma once

#include <QString>
#include <optional>

namespace kestro {
class Prompter;
class SettingWriter;
} // namespace kestro

namespace kestro::jobdb {

// The company's master data: the one row of Stammdaten, in the table's column order. All
// values are texts except the VAT rate. The three flags hold a check box state as a digit
// ("0" unchecked, "1" checked, "2" greyed); see flagState()/flagDigit().
struct MasterData {
    QString name;                // Name, "Firmenname:"
    QString street;              // Street
    QString plz;                 // plz: postal code and town
    QString contact;             // Anspr
    QString taxNumber;           // SteuerNr
    QString vatId;               // UstNr
    float vatRate = 16.0f;       // MwSt, stored as its number written as text
    QString mobile;              // FunkTel
    QString fax;                 // Fax
    QString phone;               // Telefon
    QString bankName;            // BankName
    QString email;               // EMail
    QString web;                 // Web
    QString bankCode;            // BankBLZ
    QString accountNumber;       // BankKTO
    QString cashPayerNetAsGross; // BarzahlerRabat (flag)
    QString grossPrices;         // ArtikelBrutto (flag)
    QString costCentre;          // Kostenstelle
    QString project;             // Projekt
    QString sortProjectsByName1; // ProjNam1Sort (flag)

    bool operator==(const MasterData&) const = default;
};

// A flag's stored digit as a check box state (0, 1, 2); empty or not a digit gives 0.
int flagState(const QString& digit);
// A check box state written as its digit.
QString flagDigit(int state);

// The VAT rate as the window shows and the table stores it: 16 -> "16", 7.5 -> "7,5".
QString vatRateText(float rate);
// A typed or stored VAT rate ("19", "7,5", " 16 ") as a number; nullopt when the text is
// no number (the window then keeps the previous rate).
std::optional<float> parseVatRate(const QString& text);

// The FTP server value and the proxy settings the FTP configuration window saves.
struct ProxySettings {
    bool useProxy = false;
    QString httpProxy;     // HProxy
    QString ftpProxy;      // FProxy
    QString httpProxyPort; // HProxP
    QString ftpProxyPort;  // FProxP
    QString user;          // ProxyU
    QString password;      // ProxyP
};

// Reading and writing the Stammdaten and FTPDaten rows of the file at a database path. Each
// call opens the file by itself and closes it again (next to the program-wide connection).
// A missing or unusable file reads nothing and writes nothing, with a log line.
class MasterDataStore {
public:
    explicit MasterDataStore(QString dbPath) : dbPath_(std::move(dbPath)) {}

    // Reads the first Stammdaten row into `data` (trailing blanks removed). A VAT rate that is
    // no number keeps the previous one; a rate of zero (empty, missing) becomes 16. Without a
    // row `data` keeps its values. False when the file could not be read.
    bool load(MasterData& data) const;
    // FTPDaten.FTPServer of the first row, or nullopt when there is none.
    std::optional<QString> loadFtpServer() const;

    // Writes `data` into the one Stammdaten row (adding it on the first save). A rate of zero
    // becomes 19, in `data` too. A value that does not fit its column is left out and the
    // stored one kept. False when the file could not be written.
    bool save(MasterData& data) const;
    // Writes FTPDaten.FTPServer into the one row (adding it on the first save).
    bool saveFtpServer(const QString& ftpServer) const;

    QString databasePath() const { return dbPath_; }
    // Why the last load or save failed, in the database engine's words.
    QString errorText() const { return error_; }

private:
    QString dbPath_;
    mutable QString error_;
};

// Save master data as OK does it: the row, then the setting Databank with the database path.
// False (the engine's reason in `error`) when the row could not be written; Databank then
// stays as it was.
bool saveMasterData(const QString& dbPath, MasterData& data, SettingWriter& settings,
                    QString* error = nullptr);

// Save FTP settings: the FTPServer value, then useProxy ("Wahr"/"Falsch") and, only when the
// proxy is on, HProxy, FProxy, HProxP, FProxP, ProxyU and ProxyP.
bool saveFtpSettings(const QString& dbPath, const QString& ftpServer, const ProxySettings& proxy,
                     SettingWriter& settings);

// "Sie haben eine neue Datenbank gewählt !" ... : shown (exclamation) after OK when another
// database file was chosen, before the program ends.
QString restartMessage();

// The logic behind the master-data window's "auswählen" button: shows the open-file dialog,
// takes a chosen file as the database path, rewrites the setting Databank (also on cancel)
// and notes whether the file differs from the one the window showed.
class DatabaseFileChoice {
public:
    DatabaseFileChoice(QString databasePath, Prompter& prompter, SettingWriter& settings)
        : path_(std::move(databasePath)), prompter_(prompter), settings_(settings) {}

    // Runs the choice; `shownPath` is the database box's text. Returns the database path
    // the window shows and loads from afterwards.
    QString choose(const QString& shownPath);

    QString databasePath() const { return path_; }
    bool otherFileChosen() const { return otherFileChosen_; }

private:
    QString path_;
    Prompter& prompter_;
    SettingWriter& settings_;
    bool otherFileChosen_ = false;
};

} // namespace kestro::jobdb

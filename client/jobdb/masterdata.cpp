#include "client/jobdb/masterdata.h"

#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "common/germanformat.h"
#include "common/paths.h"
#include "common/prompter.h"
#include "common/settingwriter.h"

#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>

namespace kestro::jobdb {
namespace {

// The record's texts paired with their columns, in the table's order (the VAT rate apart).
struct TextField {
    const char* column;
    QString MasterData::*member;
};

const TextField kTextFields[] = {
    {"Name", &MasterData::name},
    {"Street", &MasterData::street},
    {"plz", &MasterData::plz},
    {"Anspr", &MasterData::contact},
    {"SteuerNr", &MasterData::taxNumber},
    {"UstNr", &MasterData::vatId},
    {"FunkTel", &MasterData::mobile},
    {"Fax", &MasterData::fax},
    {"Telefon", &MasterData::phone},
    {"BankName", &MasterData::bankName},
    {"EMail", &MasterData::email},
    {"Web", &MasterData::web},
    {"BankBLZ", &MasterData::bankCode},
    {"BankKTO", &MasterData::accountNumber},
    {"BarzahlerRabat", &MasterData::cashPayerNetAsGross},
    {"ArtikelBrutto", &MasterData::grossPrices},
    {"Kostenstelle", &MasterData::costCentre},
    {"Projekt", &MasterData::project},
    {"ProjNam1Sort", &MasterData::sortProjectsByName1},
};

// The rowid of a table's first row, or -1 when it has none.
qint64 firstRowId(const QSqlDatabase& db, const QString& tableName) {
    QSqlQuery q(db);
    if (!q.exec(
            QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid LIMIT 1").arg(quoted(tableName)))) {
        qCWarning(lcJobDb) << tableName << "unreadable:" << q.lastError().text();
        return -2;
    }
    return q.next() ? q.value(0).toLongLong() : -1;
}

// Edits the first row, or adds it when there is none, inside one write transaction. False
// with the engine's reason in `error` when the file could not be written.
bool writeSingleRow(const QString& dbPath, const RowValues& row, QString* error) {
    Database file(dbPath);
    if (!file.isOpen()) {
        *error = file.errorText();
        return false;
    }
    QSqlDatabase db = file.connection();
    WriteTransaction tx(db);
    if (!tx.isActive()) {
        *error = tx.errorText();
        return false;
    }
    const qint64 rowid = firstRowId(db, row.layout().name);
    if (rowid == -2) {
        *error = db.lastError().text();
        return false;
    }
    const bool written = rowid < 0 ? insertRow(db, row, error) : updateRow(db, row, rowid, error);
    if (!written)
        return false;
    if (!tx.commit()) {
        *error = tx.errorText();
        return false;
    }
    return true;
}

} // namespace

int flagState(const QString& digit) {
    bool ok = false;
    const int n = digit.trimmed().toInt(&ok);
    return ok ? n : 0;
}

QString flagDigit(int state) {
    return QString::number(state);
}

QString vatRateText(float rate) {
    QString s = QString::number(static_cast<double>(rate), 'g', 7);
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

std::optional<float> parseVatRate(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    static const QLocale german(QLocale::German, QLocale::Germany);
    float v = german.toFloat(t, &ok);
    if (!ok)
        v = QLocale::c().toFloat(t, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool MasterDataStore::load(MasterData& data) const {
    error_.clear();
    Database file(dbPath_);
    if (!file.isOpen()) {
        error_ = file.errorText();
        return false;
    }
    QSqlQuery q(file.connection());
    if (!q.exec(QStringLiteral("SELECT * FROM Stammdaten ORDER BY rowid LIMIT 1"))) {
        error_ = q.lastError().text();
        qCWarning(lcJobDb) << "master data unreadable:" << error_;
        return false;
    }
    if (q.next()) {
        const QSqlRecord rec = q.record();
        for (const TextField& f : kTextFields) {
            const int i = rec.indexOf(QString::fromLatin1(f.column));
            if (i >= 0)
                data.*f.member = cleanText(q.value(i));
        }
        const int vat = rec.indexOf(QStringLiteral("MwSt"));
        if (vat >= 0) {
            if (const auto rate = parseVatRate(cleanText(q.value(vat))))
                data.vatRate = *rate;
            else if (!cleanText(q.value(vat)).isEmpty())
                qCInfo(lcJobDb) << "stored VAT rate is no number; previous rate kept";
        }
    }
    if (data.vatRate == 0.0f)
        data.vatRate = 16.0f;
    return true;
}

std::optional<QString> MasterDataStore::loadFtpServer() const {
    Database file(dbPath_);
    if (!file.isOpen())
        return std::nullopt;
    QSqlQuery q(file.connection());
    if (!q.exec(QStringLiteral("SELECT FTPServer FROM FTPDaten ORDER BY rowid LIMIT 1"))) {
        qCWarning(lcJobDb) << "FTP data unreadable:" << q.lastError().text();
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return cleanText(q.value(0));
}

bool MasterDataStore::save(MasterData& data) const {
    if (data.vatRate == 0.0f)
        data.vatRate = 19.0f;
    RowValues row(*findLayout(table::Stammdaten));
    for (const TextField& f : kTextFields)
        row.set(QString::fromLatin1(f.column), data.*f.member);
    row.set(QStringLiteral("MwSt"), vatRateText(data.vatRate));
    error_.clear();
    return writeSingleRow(dbPath_, row, &error_);
}

bool MasterDataStore::saveFtpServer(const QString& ftpServer) const {
    RowValues row(*findLayout(table::FTPDaten));
    row.set(QStringLiteral("FTPServer"), ftpServer);
    error_.clear();
    return writeSingleRow(dbPath_, row, &error_);
}

bool saveMasterData(const QString& dbPath, MasterData& data, SettingWriter& settings,
                    QString* error) {
    const MasterDataStore store(dbPath);
    if (!store.save(data)) {
        // The program keeps the database it has: a path that cannot be written to is no
        // database to start with next time.
        if (error)
            *error = store.errorText();
        return false;
    }
    settings.writeSetting(QStringLiteral("Databank"), dbPath);
    return true;
}

bool saveFtpSettings(const QString& dbPath, const QString& ftpServer, const ProxySettings& proxy,
                     SettingWriter& settings) {
    const bool saved = MasterDataStore(dbPath).saveFtpServer(ftpServer);
    settings.writeSetting(QStringLiteral("useProxy"), de::boolText(proxy.useProxy));
    if (proxy.useProxy) {
        settings.writeSetting(QStringLiteral("HProxy"), proxy.httpProxy);
        settings.writeSetting(QStringLiteral("FProxy"), proxy.ftpProxy);
        settings.writeSetting(QStringLiteral("HProxP"), proxy.httpProxyPort);
        settings.writeSetting(QStringLiteral("FProxP"), proxy.ftpProxyPort);
        settings.writeSetting(QStringLiteral("ProxyU"), proxy.user);
        settings.writeSetting(QStringLiteral("ProxyP"), proxy.password);
    }
    return saved;
}

QString restartMessage() {
    return QStringLiteral("Sie haben eine neue Datenbank gewählt !\r"
                          "Das Programm wird nun beendet und anschließend können Sie es wieder "
                          "Starten.\r"
                          "Es wird dann automatich die neue Datenbank benutzt.");
}

QString DatabaseFileChoice::choose(const QString& shownPath) {
    const QString chosen = prompter_.chooseOpenFile(databaseFileFilter(), paths::systemDrive());
    // A path the client could not read back would leave the next start without a database.
    if (!chosen.isEmpty() && !settingFits(chosen))
        prompter_.message(settingTooLongText(QStringLiteral("Databank"), chosen) +
                              QStringLiteral("\rBitte legen Sie die Datenbank in einen Ordner "
                                             "mit kürzerem Pfad."),
                          Prompter::Icon::Critical);
    else if (!chosen.isEmpty())
        path_ = chosen;
    settings_.writeSetting(QStringLiteral("Databank"), path_);
    if (shownPath != path_)
        otherFileChosen_ = true;
    return path_;
}

} // namespace kestro::jobdb

#pragma once

#include "client/startup/ftpencryption.h"

#include "client/jobdb/masterdata.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <vector>

namespace kestro::startup {

// The client's identity. The version is three 16-bit numbers, recorded in the database
// and sent with the update request.
inline const QString kAppName = QStringLiteral("KestroFTP-Client");
inline constexpr qint16 kVersionMajor = 1;
inline constexpr qint16 kVersionMinor = 0;
inline constexpr qint16 kVersionRevision = 41;

// "1.0.41"
QString versionText();
// The version marker line: each number behind a sign blank and followed by one blank,
// ended by CR LF: " 1  0  41 \r\n".
QByteArray versionLine();

// Proxy settings as stored in the registry (read by TPProxy, saved with the FTP settings).
using ProxySettings = jobdb::ProxySettings;

// The user's own mail account, or "0" for the built-in one.
struct MailAccountSettings {
    QString account = QStringLiteral("0"); // KontoEM
    QString popServer;
    QString smtpServer;
    QString from;
    QString username;
    QString password;
    bool popLogin = false;
    bool smtpLogin = false; // GLogin
    // SMTPTLS: TLS from the connection's first byte ("1") or STARTTLS ("0"); not stored in
    // configurations older than the choice, which keep deciding by port 465 or "smtps://".
    std::optional<bool> tlsOnConnect;
};

// Where and as whom jobs are sent: the server from the database, the login and the
// recipient from the shop's catalogue, with the maker's defaults where empty.
struct FtpSettings {
    QString server;
    QString user;
    QString password;
    QString recipient;
    FtpEncryption encryption = FtpEncryption::Plain; // FTPTLS
    // An FTPTLS value that is none of the choices (edited by hand, or by a later version):
    // sent unencrypted as before the choice existed, and said in the log at every send.
    QString unknownEncryption;
    // The pauses before each further attempt after a dropped line, as a script set them;
    // empty for the usual 2 s, 10 s, 30 s.
    std::vector<std::chrono::milliseconds> retryPauses;
};

// Program-wide values that the start-up settles and the windows read and change.
struct ClientState {
    QString clientDataFolder;
    QString startDirectory; // the folder the program is installed in
    QString databasePath;
    bool newDatabase = false;
    bool databaseUsable = true; // false after a failed rebuild: the window opens without it
    QString startFolder;
    QString rememberLastFolder = QStringLiteral("No"); // "Yes" or "No"
    MailAccountSettings mail;
    ProxySettings proxy;
    FtpSettings ftp;
    jobdb::MasterData master;
    bool updateRequested = false;
    bool closing = false;
    bool endRequested = false; // the program is to end (another database was chosen)
    // Lines the start-up has for the main window's status list (waiting jobs it recorded).
    QStringList startNotices;
};

} // namespace kestro::startup

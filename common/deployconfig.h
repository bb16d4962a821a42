#pragma once

#include <QString>
#include <QStringList>

namespace kestro {

// What the maker sets per deployment: where its web server is, the default FTP target
// and mail account, and what Vellmon may write. Read from one INI file (KESTRO_CONFIG, or
// /etc/varnholt/kestro.conf); every value missing there keeps its compiled-in default.
struct DeployConfig {
    // [Maker]
    QString webServer = QStringLiteral("http://www.varnholt.example");
    QString ftpHost = QStringLiteral("ftp.varnholt.example");
    QString mail = QStringLiteral("info@varnholt.example");
    QString demoWord = QStringLiteral("demo");
    QString site = QStringLiteral("https://www.varnholt.example");
    QString contact = QStringLiteral("Varnholt, info@varnholt.example");
    // [DefaultMailAccount]
    QString smtpServer = QStringLiteral("smtp.varnholt.example");
    QString from = QStringLiteral("kestroclient@varnholt.example");
    QString username = QStringLiteral("100001");
    QString password = QStringLiteral("abcd1");
    // [Service] RegistryWriteAllow: key paths below HKEY_LOCAL_MACHINE that Vellmon may
    // write into (the key itself and its subkeys), separated by ";". Nothing below
    // HKEY_CLASSES_ROOT unless listed in RegistryWriteAllowClasses.
    QStringList registryWriteAllow{QStringLiteral("Software\\Varnholt\\KestroFTP\\Client")};
    QStringList registryWriteAllowClasses;
    // [Service] SettingNames: the value names Vellmon accepts in the client's own settings
    // key (the names the client writes), separated by ";".
    QStringList settingNames{
        QStringLiteral("Databank"), QStringLiteral("FolderDir"), QStringLiteral("valFolderDir"),
        QStringLiteral("KontoEM"),  QStringLiteral("PopServer"), QStringLiteral("SMTPServer"),
        QStringLiteral("From"),     QStringLiteral("Username"),  QStringLiteral("PW"),
        QStringLiteral("PopLogin"), QStringLiteral("GLogin"),    QStringLiteral("useProxy"),
        QStringLiteral("HProxy"),   QStringLiteral("HProxP"),    QStringLiteral("FProxy"),
        QStringLiteral("FProxP"),   QStringLiteral("ProxyU"),    QStringLiteral("ProxyP"),
        QStringLiteral("FTPTLS"),   QStringLiteral("SMTPTLS")};
    // [Service] Products: the product names an update may be searched for, separated by ";".
    QStringList products{QStringLiteral("KestroFTP-Client")};
    // [Update] PublicKey: the maker's Ed25519 public key (base64 of the 32 raw bytes, or of
    // its DER form). When set, an installer starts only with a valid "<address>.sig".
    QString updatePublicKey;
    // [Update] ClientFolders: folders an installed client lives in, separated by ";". An
    // update search is made for such a folder whichever program asks; any other folder
    // only when the asking program is the client program installed in exactly that folder.
    QStringList clientFolders;

    static QString defaultPath();
    static DeployConfig load(const QString& path = defaultPath());
};

} // namespace kestro

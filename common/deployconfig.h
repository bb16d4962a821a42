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

    static QString defaultPath();
    static DeployConfig load(const QString& path = defaultPath());
};

} // namespace kestro

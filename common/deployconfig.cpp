#include "common/deployconfig.h"

#include "common/inifile.h"

namespace kestro {
namespace {

void take(const IniFile& ini, const char* section, const char* key, QString* target) {
    const QString s = QString::fromLatin1(section), k = QString::fromLatin1(key);
    if (ini.contains(s, k))
        *target = ini.value(s, k);
}

void takeList(const IniFile& ini, const char* section, const char* key, QStringList* target) {
    const QString s = QString::fromLatin1(section), k = QString::fromLatin1(key);
    if (!ini.contains(s, k))
        return;
    target->clear();
    for (const QString& part : ini.value(s, k).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = part.trimmed();
        if (!p.isEmpty())
            target->append(p);
    }
}

} // namespace

QString DeployConfig::defaultPath() {
    const QString env = qEnvironmentVariable("KESTRO_CONFIG");
    return env.isEmpty() ? QStringLiteral("/etc/varnholt/kestro.conf") : env;
}

DeployConfig DeployConfig::load(const QString& path) {
    DeployConfig c;
    const IniFile ini = IniFile::load(path, IniFile::Comments::AlsoTrailing);
    take(ini, "Maker", "WebServer", &c.webServer);
    take(ini, "Maker", "FtpHost", &c.ftpHost);
    take(ini, "Maker", "Mail", &c.mail);
    take(ini, "Maker", "DemoWord", &c.demoWord);
    take(ini, "Maker", "Site", &c.site);
    take(ini, "Maker", "Contact", &c.contact);
    take(ini, "DefaultMailAccount", "SmtpServer", &c.smtpServer);
    take(ini, "DefaultMailAccount", "From", &c.from);
    take(ini, "DefaultMailAccount", "Username", &c.username);
    take(ini, "DefaultMailAccount", "Password", &c.password);
    takeList(ini, "Service", "RegistryWriteAllow", &c.registryWriteAllow);
    takeList(ini, "Service", "RegistryWriteAllowClasses", &c.registryWriteAllowClasses);
    takeList(ini, "Service", "SettingNames", &c.settingNames);
    takeList(ini, "Service", "Products", &c.products);
    take(ini, "Update", "PublicKey", &c.updatePublicKey);
    takeList(ini, "Update", "ClientFolders", &c.clientFolders);
    c.updatePublicKey = c.updatePublicKey.trimmed();
    while (c.webServer.endsWith(QLatin1Char('/')))
        c.webServer.chop(1);
    return c;
}

} // namespace kestro

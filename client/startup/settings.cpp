#include "client/startup/settings.h"

#include "client/startup/startuplog.h"
#include "common/logging.h"
#include "common/servicemessage.h"

#include <QLocale>

namespace kestro::startup {

SettingsReader::SettingsReader(RegistryStore store) : store_(std::move(store)) {}

QString SettingsReader::read(const QString& name) const {
    const QString value =
        store_.read(Hive::LocalMachine, kSettingsKeyPath, name).value_or(QString());
    // The value had to fit a 150-character buffer with room to spare; one that fills
    // it is taken as not there.
    if (!settingFits(value)) {
        qCWarning(lcStartup) << "setting" << name << "is 150 characters or longer and is ignored";
        return {};
    }
    return value;
}

bool settingToBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("Wahr"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double n =
        QLocale::c().toDouble(QString(t).replace(QLatin1Char(','), QLatin1Char('.')), &ok);
    return ok && n != 0.0;
}

ProxySettings readProxySettings(const SettingsReader& reader) {
    ProxySettings p;
    const QString flag = reader.read(QStringLiteral("useProxy"));
    p.useProxy = flag == QLatin1String("True") || flag == QLatin1String("Wahr");
    if (!p.useProxy)
        return p;
    p.httpProxy = reader.read(QStringLiteral("HProxy"));
    p.ftpProxy = reader.read(QStringLiteral("FProxy"));
    p.httpProxyPort = reader.read(QStringLiteral("HProxP"));
    p.ftpProxyPort = reader.read(QStringLiteral("FProxP"));
    p.user = reader.read(QStringLiteral("ProxyU"));
    p.password = reader.read(QStringLiteral("ProxyP"));
    return p;
}

FtpEncryption readFtpEncryption(const SettingsReader& reader, QString* unknown) {
    const QString text = reader.read(kFtpEncryptionSetting);
    const FtpEncryption encryption = ftpEncryptionFrom(text);
    if (unknown)
        *unknown = !text.trimmed().isEmpty() && ftpEncryptionText(encryption) != text.trimmed()
                       ? text
                       : QString();
    return encryption;
}

MailAccountSettings readMailAccountSettings(const SettingsReader& reader) {
    MailAccountSettings m;
    m.account = reader.read(QStringLiteral("KontoEM"));
    if (m.account.isEmpty())
        m.account = QStringLiteral("0");
    m.popServer = reader.read(QStringLiteral("PopServer"));
    m.smtpServer = reader.read(QStringLiteral("SMTPServer"));
    m.from = reader.read(QStringLiteral("From"));
    m.username = reader.read(QStringLiteral("Username"));
    m.password = reader.read(QStringLiteral("PW"));
    m.popLogin = settingToBool(reader.read(QStringLiteral("PopLogin")));
    m.smtpLogin = settingToBool(reader.read(QStringLiteral("GLogin")));
    if (const QString tls = reader.read(QStringLiteral("SMTPTLS")); !tls.isEmpty())
        m.tlsOnConnect = settingToBool(tls);
    return m;
}

void reportServiceDelivery(bool delivered, Prompter& prompter) {
    if (!delivered)
        prompter.message(QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!"),
                         Prompter::Icon::Critical);
}

ServiceSettingWriter::ServiceSettingWriter(ServiceMessageSender& sender, Prompter& prompter)
    : sender_(sender), prompter_(prompter) {}

void ServiceSettingWriter::writeSetting(const QString& name, const QString& value) {
    const bool delivered = sender_.send(keySchreibenMessage(name, value));
    if (!delivered)
        qCWarning(lcStartup) << "setting" << name << "not delivered to the service";
    reportServiceDelivery(delivered, prompter_);
}

} // namespace kestro::startup

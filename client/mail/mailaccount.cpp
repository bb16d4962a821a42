#include "client/mail/mailaccount.h"

#include "common/settingwriter.h"

namespace kestro::transfer {

using startup::MailAccountSettings;

namespace {

QString flagText(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// The built-in account's value is stored as the empty text.
QString unlessDefault(const QString& value, const QString& builtIn) {
    return value == builtIn ? QString() : value;
}

void takeDefaultServerAndLogin(MailAccountSettings& account, const DeployConfig& config) {
    account.smtpServer = config.smtpServer;
    account.from = config.from;
    account.username = config.username;
    account.password = config.password;
}

} // namespace

MailAccountSettings defaultMailAccount(const DeployConfig& config) {
    MailAccountSettings account;
    account.account = QStringLiteral("0");
    takeDefaultServerAndLogin(account, config);
    account.smtpLogin = true;
    account.popLogin = false;
    return account;
}

MailAccountSettings effectiveMailAccount(const MailAccountSettings& settings,
                                         const DeployConfig& config) {
    // "0", "", "abc" all read as the number 0.
    const bool ownAccount = settings.account.trimmed().toInt() != 0;
    if (ownAccount && !settings.smtpServer.isEmpty())
        return settings;
    MailAccountSettings account = defaultMailAccount(config);
    account.account = settings.account;
    account.popServer = settings.popServer;
    // The built-in account's server decides by its own port; the choice was the worker's
    // for a server of their own.
    return account;
}

MailAccountSettings mailAccountForWindow(const MailAccountSettings& settings,
                                         const DeployConfig& config) {
    MailAccountSettings shown = settings;
    if (shown.account.isEmpty())
        shown.account = QStringLiteral("0");
    if (shown.smtpServer.isEmpty())
        takeDefaultServerAndLogin(shown, config);
    return shown;
}

void storeMailAccount(SettingWriter& writer, MailAccountSettings& current,
                      MailAccountSettings entered, const DeployConfig& config) {
    if (entered.smtpServer.isEmpty())
        takeDefaultServerAndLogin(entered, config);
    current = entered;
    writer.writeSetting(QStringLiteral("KontoEM"), entered.account);
    writer.writeSetting(QStringLiteral("PopServer"), entered.popServer);
    writer.writeSetting(QStringLiteral("SMTPServer"),
                        unlessDefault(entered.smtpServer, config.smtpServer));
    writer.writeSetting(QStringLiteral("From"), unlessDefault(entered.from, config.from));
    writer.writeSetting(QStringLiteral("Username"),
                        unlessDefault(entered.username, config.username));
    writer.writeSetting(QStringLiteral("PW"), unlessDefault(entered.password, config.password));
    writer.writeSetting(QStringLiteral("PopLogin"), flagText(entered.popLogin));
    writer.writeSetting(QStringLiteral("GLogin"), flagText(entered.smtpLogin));
    if (entered.tlsOnConnect)
        writer.writeSetting(QStringLiteral("SMTPTLS"), flagText(*entered.tlsOnConnect));
}

} // namespace kestro::transfer

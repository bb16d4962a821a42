#include "client/startup/ftpconfig.h"
#include "client/jobdb/address.h"

#include "client/jobdb/masterdata.h"
#include "client/startup/ftpdefaults.h"
#include "client/startup/startuplog.h"

#include <QLoggingCategory>

namespace kestro::startup {

namespace {

QString unlessEqual(const QString& value, const QString& hidden) {
    return value.toLower() == hidden.toLower() ? QString() : value;
}

} // namespace

FtpConfigForm formFromSettings(const FtpSettings& ftp, const ProxySettings& proxy,
                               const DeployConfig& config) {
    FtpConfigForm form;
    form.server = isDefaultFtpHost(ftp.server, config) ? QString() : ftp.server;
    form.user = unlessEqual(ftp.user, config.demoWord);
    form.password = unlessEqual(ftp.password, config.demoWord);
    form.recipient = unlessEqual(ftp.recipient, config.mail);
    form.encryption = form.server.isEmpty() ? kNewTargetEncryption : ftp.encryption;
    form.useProxy = proxy.useProxy;
    if (proxy.useProxy) {
        form.httpProxy = proxy.httpProxy;
        form.httpProxyPort = proxy.httpProxyPort;
        form.ftpProxy = proxy.ftpProxy;
        form.ftpProxyPort = proxy.ftpProxyPort;
        form.proxyUser = proxy.user;
        form.proxyPassword = proxy.password;
    }
    return form;
}

bool saveFtpConfig(const FtpConfigForm& form, ClientState& state, const DeployConfig& config,
                   SettingWriter& settings) {
    state.ftp.server = form.server.trimmed();
    state.ftp.user = form.user;
    state.ftp.password = form.password;
    state.ftp.recipient = form.recipient;
    state.ftp.encryption = form.encryption;
    state.ftp.unknownEncryption.clear();
    state.proxy.useProxy = form.useProxy;
    state.proxy.httpProxy = form.httpProxy;
    state.proxy.httpProxyPort = form.httpProxyPort;
    state.proxy.ftpProxy = form.ftpProxy;
    state.proxy.ftpProxyPort = form.ftpProxyPort;
    state.proxy.user = form.proxyUser;
    state.proxy.password = form.proxyPassword;
    applyFtpDefaults(state.ftp, config);
    const bool saved =
        jobdb::saveFtpSettings(state.databasePath, state.ftp.server, state.proxy, settings);
    settings.writeSetting(kFtpEncryptionSetting, ftpEncryptionText(state.ftp.encryption));
    if (!saved)
        qCWarning(lcStartup).noquote()
            << "FTP server not stored in" << jobdb::shownDatabank(state.databasePath)
            << "; it holds for this run only";
    return saved;
}

FtpConfigConfirmation::FtpConfigConfirmation(ClientState& state, const DeployConfig& config,
                                             SettingWriter& settings, QObject* parent)
    : QObject(parent), state_(state), config_(config), settings_(settings) {
    connect(&refresh_, &CatalogueRefresh::finished, this, &FtpConfigConfirmation::onRefreshed);
}

bool FtpConfigConfirmation::confirm(const FtpConfigForm& form) {
    if (isRunning())
        return false;
    saveFtpConfig(form, state_, config_, settings_);
    return refresh_.start(catalogueRequestFor(state_, config_));
}

void FtpConfigConfirmation::onRefreshed() {
    const CatalogueOutcome& outcome = refresh_.outcome();
    takeFtpAccount(state_.ftp, outcome.lists);
    Q_EMIT finished(outcome);
}

} // namespace kestro::startup

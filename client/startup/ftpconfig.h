#pragma once

#include "client/startup/cataloguefetch.h"
#include "client/startup/clientstate.h"
#include "common/deployconfig.h"
#include "common/settingwriter.h"

#include <QObject>

namespace kestro::startup {

// What the FTP configuration window shows and collects: the four target boxes, the
// proxy check box and the six proxy boxes.
struct FtpConfigForm {
    QString server;
    QString user;
    QString password;
    QString recipient;
    FtpEncryption encryption = kNewTargetEncryption;
    bool useProxy = false;
    QString httpProxy;
    QString httpProxyPort;
    QString ftpProxy;
    QString ftpProxyPort;
    QString proxyUser;
    QString proxyPassword;

    bool operator==(const FtpConfigForm&) const = default;
};

// The window's contents when it opens. The maker's defaults are not shown, so the user
// sees what still has to be filled in: the default host, the demo word as user or
// password, and the maker's address leave their boxes empty (compared without case). The
// six proxy boxes are filled only while the proxy is on. A target not configured yet (no
// server of its own) is offered encryption when the server has it.
FtpConfigForm formFromSettings(const FtpSettings& ftp, const ProxySettings& proxy,
                               const DeployConfig& config);

// The save half of OK: the boxes go into the program-wide settings, the maker's defaults
// fill whatever was left empty, and the server goes into FTPDaten.FTPServer of the job
// database, the encryption choice and useProxy to the registry (and, only with the proxy on, the
// six proxy values; turning the proxy off keeps the old ones stored). False when the database row
// could not be written (logged by the database layer; the settings still changed).
bool saveFtpConfig(const FtpConfigForm& form, ClientState& state, const DeployConfig& config,
                   SettingWriter& settings);

// OK as a whole: saves, then fetches the catalogue of the (possibly new) server off the
// window's thread, and takes the login and notification address from it, overwriting
// what was typed. After a failed fetch the catalogue is gone, so the lists and those
// three values become empty. finished() tells the main window to reload its lists.
class FtpConfigConfirmation : public QObject {
    Q_OBJECT
public:
    FtpConfigConfirmation(ClientState& state, const DeployConfig& config, SettingWriter& settings,
                          QObject* parent = nullptr);

    // False (nothing done) while an earlier confirmation still fetches the catalogue.
    bool confirm(const FtpConfigForm& form);
    bool isRunning() const { return refresh_.isRunning(); }

Q_SIGNALS:
    void finished(const kestro::startup::CatalogueOutcome& outcome);

private:
    void onRefreshed();

    ClientState& state_;
    const DeployConfig& config_;
    SettingWriter& settings_;
    CatalogueRefresh refresh_;
};

} // namespace kestro::startup

#include "client/startup/ftpdefaults.h"

namespace kestro::startup {

void applyFtpDefaults(FtpSettings& ftp, const DeployConfig& config) {
    if (ftp.server.isEmpty())
        ftp.server = config.ftpHost;
    if (ftp.user.isEmpty())
        ftp.user = config.demoWord;
    if (ftp.password.isEmpty())
        ftp.password = config.demoWord;
    if (ftp.recipient.isEmpty())
        ftp.recipient = config.mail;
}

bool isDefaultFtpHost(const QString& server, const DeployConfig& config) {
    return server.toLower() == config.ftpHost.toLower();
}

} // namespace kestro::startup

#pragma once

#include "client/startup/clientstate.h"
#include "common/deployconfig.h"

namespace kestro::startup {

// FTPDemo: an empty server becomes the maker's default host, an empty user and password
// the demo word, an empty recipient the maker's address. Runs at start-up and after the
// FTP settings were edited, so nothing is ever sent with empty settings.
void applyFtpDefaults(FtpSettings& ftp, const DeployConfig& config);

// True while the server is still the maker's default host (compared without case): the
// send then warns that the job would go to the maker, not to a print shop.
bool isDefaultFtpHost(const QString& server, const DeployConfig& config);

} // namespace kestro::startup

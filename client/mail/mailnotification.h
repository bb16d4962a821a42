#pragma once

#include "client/mail/mailaccount.h"
#include "client/mail/mailsender.h"

namespace kestro::transfer {

// The mail error log in the client data folder: ".../MailErr.Log".
QString mailErrorLogPath(const QString& clientDataFolder);

// The notification for one delivered archive, through the account that
// effectiveMailAccount() picks, to `recipient` (the FTP configuration's address).
MailJob notificationMailJob(const startup::MailAccountSettings& settings,
                            const DeployConfig& config, const QString& recipient,
                            const QString& archiveName, const QString& clientDataFolder);

// Tells the print shop that an archive arrived: makes sure the mail error log exists and
// starts the send on `sender`. The job counts as delivered whatever the mail does; the
// sender's signals tell how it went. False when the sender is still busy with an earlier
// mail (then that is logged and said on the status signal as well).
bool sendJobMail(MailSender& sender, const startup::MailAccountSettings& settings,
                 const DeployConfig& config, const QString& recipient, const QString& archiveName,
                 const QString& clientDataFolder);

} // namespace kestro::transfer

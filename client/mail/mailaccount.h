#pragma once

#include "client/startup/clientstate.h"
#include "common/deployconfig.h"

namespace kestro {
class SettingWriter;
}

// Which mail account sends the notification, and how the mail settings window stores it.
// The built-in account is the maker's (from the deployment configuration); it is never
// written into the registry, so a changed deployment reaches every machine.
namespace kestro::transfer {

// The maker's account: its SMTP host, sender, user name and password, SMTP login on,
// POP login off. The account choice says "0".
startup::MailAccountSettings defaultMailAccount(const DeployConfig& config);

// The account a notification goes out through: the built-in one when the account choice,
// read as a number, is 0 or the own SMTP server is empty; otherwise the own values. The
// POP3 server stays the own one (unused while POP login is off).
startup::MailAccountSettings effectiveMailAccount(const startup::MailAccountSettings& settings,
                                                  const DeployConfig& config);

// What the mail settings window shows on opening: an empty account choice reads "0";
// without an own SMTP server the server, sender, user and password boxes show the
// built-in account.
startup::MailAccountSettings mailAccountForWindow(const startup::MailAccountSettings& settings,
                                                  const DeployConfig& config);

// Stores what the user entered in the mail settings window: without an SMTP server the
// built-in server, sender, user and password are taken. `current` (the client's in-memory
// copy) becomes the entered values, and the registry values are written in the order
// KontoEM, PopServer, SMTPServer, From, Username, PW, PopLogin, GLogin; server, sender,
// user and password equal to the built-in account's are written empty.
void storeMailAccount(SettingWriter& writer, startup::MailAccountSettings& current,
                      startup::MailAccountSettings entered, const DeployConfig& config);

} // namespace kestro::transfer

#pragma once

#include "client/mail/mailconnection.h"

#include <QString>
#include <atomic>
#include <optional>

namespace kestro::transfer {

// POP-before-SMTP: logs in to the POP3 server (USER/PASS, STLS when offered), asks for the
// mailbox size and leaves. Many providers open their SMTP server to an address for a few
// minutes after such a login. Blocking; run it off the UI thread. Nothing on success,
// otherwise the explanation.
std::optional<QString> pop3Login(const QString& server, const QString& user,
                                 const QString& password, const MailConnectionOptions& options,
                                 const std::atomic_bool& abort);

} // namespace kestro::transfer

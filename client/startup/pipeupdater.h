#pragma once

#include "common/prompter.h"
#include "common/settingwriter.h"
#include "piperpc/piperpc.h"

namespace kestro::startup {

// The client's way to Vellmon: every service message is one pipe call to the pipe
// "Vellmon" on this machine, the text as UTF-16LE bytes, with a 200-byte answer that
// is not looked at. A message counts as delivered when the call succeeded.
class PipeUpdater : public ServiceMessageSender {
public:
    PipeUpdater();
    bool send(const QString& message) override;
    // The system error code of the last call (0 when it was delivered).
    quint32 lastError() const { return lastError_; }

private:
    PipeRpc pipe_;
    quint32 lastError_ = 0;
};

// What the client shows when a service message could not be delivered.
inline QString undeliveredMessageText() {
    return QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!");
}

// Sends the update request "searchingUpdate|" + application name + "|" + start folder +
// "|" + version; when it cannot be delivered, says so (critical icon) and returns false.
bool requestUpdate(ServiceMessageSender& sender, Prompter& prompter, const QString& appName,
                   const QString& startFolder, const QString& versionText);

} // namespace kestro::startup

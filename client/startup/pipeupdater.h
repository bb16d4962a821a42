#pragma once

#include "common/prompter.h"
#include "common/settingwriter.h"
#include "piperpc/piperpc.h"

namespace kestro::startup {

// The client's way to Vellmon: every service message is one pipe call to the pipe
// "Vellmon" on this machine, the text as UTF-16LE bytes, with an answer of up to 200
// bytes. A message counts as delivered when the call succeeded.
class PipeUpdater : public ServiceMessageSender {
public:
    PipeUpdater();
    bool send(const QString& message) override;
    QString lastAnswer() const override { return lastAnswer_; }
    // The system error code of the last call (0 when it was delivered).
    quint32 lastError() const { return lastError_; }

private:
    PipeRpc pipe_;
    quint32 lastError_ = 0;
    QString lastAnswer_;
};

// What the client shows when a service message could not be delivered.
inline QString undeliveredMessageText() {
    return QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!");
}

// What the client shows when its folder belongs to the system's package manager.
inline QString packageManagedUpdateText() {
    return QStringLiteral("Diese Installation wird über die Paketverwaltung des Systems "
                          "aktualisiert.\rBitte wenden Sie sich für ein Update an Ihre "
                          "IT-Abteilung.");
}

// Sends the update request "searchingUpdate|" + application name + "|" + start folder +
// "|" + version; when it cannot be delivered, says so (critical icon) and returns false.
// When Vellmon answers that the package manager updates this installation, says that
// (information icon) and returns false: no installer will come.
bool requestUpdate(ServiceMessageSender& sender, Prompter& prompter, const QString& appName,
                   const QString& startFolder, const QString& versionText);

} // namespace kestro::startup

#include "client/startup/pipeupdater.h"

#include "client/startup/startuplog.h"
#include "common/servicemessage.h"

#include <QLoggingCategory>

namespace kestro::startup {

PipeUpdater::PipeUpdater() {
    pipe_.setMaxRequest(200);
    pipe_.setMaxResponse(200);
    pipe_.setPipeName(QStringLiteral("Vellmon"));
}

bool PipeUpdater::send(const QString& message) {
    pipe_.setServer(QStringLiteral("."));
    pipe_.setPipeName(QStringLiteral("Vellmon"));
    QByteArray response(200, '\0');
    lastError_ = pipe_.pipeCall(toUtf16Le(message), response);
    lastAnswer_ = lastError_ == 0 ? fromUtf16Le(response) : QString();
    if (lastError_ != 0)
        qCWarning(lcStartup) << "service message not delivered, system error" << lastError_;
    return lastError_ == 0;
}

bool requestUpdate(ServiceMessageSender& sender, Prompter& prompter, const QString& appName,
                   const QString& startFolder, const QString& versionText) {
    if (!sender.send(searchingUpdateMessage(appName, startFolder, versionText))) {
        prompter.message(undeliveredMessageText(), Prompter::Icon::Critical);
        return false;
    }
    if (sender.lastAnswer() == kPackageManagedAnswer) {
        prompter.message(packageManagedUpdateText(), Prompter::Icon::Information);
        return false;
    }
    return true;
}

} // namespace kestro::startup

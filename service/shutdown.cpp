#include "service/shutdown.h"

#include "service/servicelog.h"

#include <QProcess>
#include <QStandardPaths>

namespace kestro::service {

SystemShutdown::SystemShutdown(Prompter& prompter, PowerOffAction action)
    : prompter_(prompter), action_(std::move(action)) {}

bool SystemShutdown::shutDownNTbasedWindows(quint32 mode) {
    return shutDownDOSbasedWindows(mode);
}

bool SystemShutdown::shutDownDOSbasedWindows(quint32 mode) {
    if (action_ && action_(mode))
        return true;
    prompter_.message(
        QStringLiteral("Das System kann aufgrund eines Fehlers nicht heruntergefahren werden."),
        Prompter::Icon::Exclamation, kServiceTitle());
    return false;
}

SystemShutdown::PowerOffAction SystemShutdown::defaultAction() {
    return [](quint32 mode) {
        QString program = qEnvironmentVariable("VELLMON_POWEROFF_COMMAND");
        QStringList args{QString::number(mode)};
        if (program.isEmpty()) {
            program = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
            if (program.isEmpty())
                return false;
            args = {(mode & Restart) ? QStringLiteral("reboot") : QStringLiteral("poweroff")};
        }
        if (!(mode & (ShutDown | Restart | PowerOff)))
            return true; // nothing to do beyond forcing: as the exit call, a success
        qCInfo(lcService).noquote() << "shutting down:" << program << args.join(QLatin1Char(' '));
        const int rc = QProcess::execute(program, args);
        return rc == 0;
    };
}

qint16 osVersionCode() {
    return 0;
}

} // namespace kestro::service

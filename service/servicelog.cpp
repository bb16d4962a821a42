#include "service/servicelog.h"

#include <syslog.h>

Q_LOGGING_CATEGORY(lcService, "kestro.vellmon", QtInfoMsg)

namespace kestro::service {

namespace {

struct EventNumbers {
    int first;
    int second;
    int priority;
};

EventNumbers numbersOf(EventKind kind) {
    switch (kind) {
    case EventKind::Failure:
        return {109, 1, LOG_ERR};
    case EventKind::Paused:
        return {1, 109, LOG_INFO};
    case EventKind::Continued:
        break;
    }
    return {4, 110, LOG_INFO};
}

} // namespace

void writeEventLog(EventKind kind, const QString& text) {
    static const bool opened = [] {
        ::openlog("Vellmon", LOG_PID, LOG_DAEMON);
        return true;
    }();
    Q_UNUSED(opened);
    const EventNumbers n = numbersOf(kind);
    const QByteArray line =
        QStringLiteral("(%1, %2) %3").arg(n.first).arg(n.second).arg(text).toUtf8();
    ::syslog(n.priority, "%s", line.constData());
    qCInfo(lcService).noquote() << "event log:" << QString::fromUtf8(line);
}

} // namespace kestro::service

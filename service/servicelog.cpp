#include "service/servicelog.h"

#include <syslog.h>

Q_LOGGING_CATEGORY(lcService, "kestro.vellmon", QtInfoMsg)

namespace kestro::service {

void writeEventLog(int first, int second, const QString& text) {
    static const bool opened = [] {
        ::openlog("Vellmon", LOG_PID, LOG_DAEMON);
        return true;
    }();
    Q_UNUSED(opened);
    const QByteArray line = QStringLiteral("(%1, %2) %3").arg(first).arg(second).arg(text).toUtf8();
    ::syslog(first == 109 ? LOG_ERR : LOG_INFO, "%s", line.constData());
    qCInfo(lcService).noquote() << "event log:" << QString::fromUtf8(line);
}

} // namespace kestro::service

#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcService)

namespace kestro::service {

// The system event log of the Windows service is syslog here. The two numbers of an
// entry are kept in the text as the Windows service passed them.
void writeEventLog(int first, int second, const QString& text);

// The caption of the service's message boxes: the program's title.
inline QString kServiceTitle() {
    return QStringLiteral("Vellmon");
}

} // namespace kestro::service

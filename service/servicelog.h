#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcService)

namespace kestro::service {

// What an entry of the system event log reports. Each kind carries the two numbers the
// Windows service wrote with it, in their order; the caller names the kind and cannot
// swap them.
enum class EventKind {
    Failure,   // an error in start-up or a control handler: (109, 1), logged as an error
    Paused,    // SIGUSR1 or "pause": (1, 109)
    Continued, // SIGUSR2 or "continue": (4, 110)
};

// The system event log of the Windows service is syslog here; the entry's numbers are kept
// in the text.
void writeEventLog(EventKind kind, const QString& text);

// The caption of the service's message boxes: the program's title.
inline QString kServiceTitle() {
    return QStringLiteral("Vellmon");
}

} // namespace kestro::service

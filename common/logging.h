#pragma once

#include <QLoggingCategory>

// The logging category of the shared code. Developer diagnostics go
// through these; the append-only log files that users and the shop read are written by
// the subsystems that own them (see textfile.h).
Q_DECLARE_LOGGING_CATEGORY(lcCommon)

namespace kestro {

// Text from outside (a pipe message, a path a caller named) made safe for a log line:
// control characters, line and paragraph separators and the marks that turn the
// direction of text around are written as escapes ("\\n", "\\x1b", "\\u2028",
// "\\u202e"), so such text can never start a line of its own nor show itself reversed.
// Beyond kLogSafeLength characters only the count of the rest is written, so a caller
// cannot flood the log with one message.
inline constexpr qsizetype kLogSafeLength = 512;
QString logSafe(const QString& text);

} // namespace kestro

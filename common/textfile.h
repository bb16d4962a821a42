#pragma once

#include <QByteArray>
#include <QString>

namespace kestro {

// Appends one line with a CR LF end to an append-only log file, creating the file and
// its folder when needed. The line is written in one write call, so two processes that
// append at the same time never interleave inside a line. Returns false (and logs) when
// the line could not be written.
bool appendLogLine(const QString& path, const QString& line);

// Writes `bytes` as the whole new content of `path` (created or truncated).
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Reads a file up to `maxBytes`; false when it is missing, not a file, larger, or unreadable.
bool readWholeFile(const QString& path, QByteArray* out, qint64 maxBytes = 16 * 1024 * 1024);

// `text` with every control character (CR, LF, tab, ...) replaced by a blank: for texts
// read line by line (the job sheet) and for the names that must match them.
QString withoutControlCharacters(QString text);

} // namespace kestro

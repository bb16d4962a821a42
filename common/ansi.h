#pragma once

#include <QByteArray>
#include <QString>

// The single-byte "ANSI" code page of the customers' machines is Windows-1252. The job
// sheet, the mailslot bytes and the service's narrowing rule all speak it.
namespace kestro {

// Text to Windows-1252 bytes; a character the code page cannot hold becomes '?', as
// Windows writes it.
QByteArray toAnsi(const QString& text);

// Windows-1252 bytes to text. The five bytes that the code page leaves undefined map to
// the C1 control characters of the same value, so every byte sequence round-trips.
QString fromAnsi(const QByteArray& bytes);

// True when the bytes are well-formed UTF-8 (used to tell a UTF-8 catalogue from an
// ANSI one).
bool isValidUtf8(const QByteArray& bytes);

} // namespace kestro

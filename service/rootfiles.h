#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// File access for a process that runs as root on behalf of callers who are not: every
// folder and file a caller names may be a trap (a symbolic link to a root-owned file, a
// FIFO that blocks the reader, a folder the caller can change under our feet).
namespace kestro::service::rootfiles {

// The folder with symbolic links resolved, when it and every folder above it are owned by
// root (or by this process's user) and writable by nobody else, the way sshd judges a
// user's key files: then no other user can plant, swap or remove anything in it.
// Otherwise nothing, and `why` says which folder failed.
std::optional<QString> trustedFolder(const QString& path, QString* why);

// Creates `path` if needed as a folder only this process's user may enter (0700), and
// checks that it is one: a real folder, not a link, owned by us, mode 0700.
bool ensurePrivateFolder(const QString& path, QString* why);

// Reads a whole regular file without following a final symbolic link and without
// blocking on a FIFO or device: anything but a regular file of at most `maxBytes` fails.
bool readRegularFile(const QString& path, QByteArray* out, qint64 maxBytes, QString* why);

// Puts a complete copy of the regular file `source` (or of `bytes`) at `target` with
// `mode`: written to a new file created exclusively beside the target, never through a
// link, then renamed over the target, which replaces a link or file there instead of
// writing through it. A folder at the target is left alone and fails.
bool installCopy(const QString& source, const QString& target, mode_t mode, QString* why);
bool installBytes(const QByteArray& bytes, const QString& target, mode_t mode, QString* why);

} // namespace kestro::service::rootfiles

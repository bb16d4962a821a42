#pragma once

#include "client/jobdb/schema.h"

#include <QString>

namespace kestro {
class Prompter;
}

namespace kestro::jobdb {

// Names derived from the database path.
inline QString rebuildPath(const QString& dbPath) {
    return dbPath + QStringLiteral("Tmp");
}
inline QString backupPath(const QString& dbPath) {
    return dbPath + QStringLiteral(".Sicherung");
}

// The outcome of a rebuild. On failure the live file is untouched, the half-built file is
// gone, and `message` is the German text the user was shown.
struct RebuildResult {
    bool swapped = false;
    QString message;
};

// Rebuilds the file at `dbPath` into the current layouts and swaps it in, so that a file
// written by another program version becomes current without losing a row:
//  1. a leftover dbPath + "Tmp" (and its journal) from an interrupted run is removed;
//  2. the tables (the seven and the number reservations) are built in dbPath + "Tmp" and
//     every row of the old file is copied, all in one transaction; the rebuilt file is used
//     only when every table holds as many rows as the old one did; it is then flushed to disk;
//  3. dbPath + ".Sicherung" is removed, the live file renamed to it, and the rebuilt file
//     renamed to dbPath, flushing the folder after each rename.
// Killing the process at any moment leaves either the old live file, or the old file as
// backup beside a complete rebuilt file, which finishInterruptedSwap() puts in place.
// A failure shows the user a message naming the file (through `prompter`) and returns it.
RebuildResult rebuildDatabase(const QString& dbPath, Prompter& prompter,
                              const QString& versionText = programVersionText());

// When a rebuild was killed between its two renames (no live file, but a backup and a
// complete rebuilt file), finishes the swap. True when it did. Call before testing whether
// the database file exists.
bool finishInterruptedSwap(const QString& dbPath,
                           const QString& versionText = programVersionText());

} // namespace kestro::jobdb

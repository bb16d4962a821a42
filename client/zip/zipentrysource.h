#pragma once

#include <QString>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <sys/types.h>
#include <zip.h>

// One file of the archive as libzip reads it while it writes the archive: the file is
// streamed in chunks (memory stays flat whatever its size), deflated on the thread pool
// or stored, and checked against what it was when it was chosen. A file that shrinks,
// grows, is rewritten or removed while it is read makes the source fail, so libzip never
// writes an entry whose bytes are not one consistent version of the file.
namespace kestro::zip {

// A file chosen for the archive, with what it looked like when it was chosen.
struct PlannedFile {
    QString sourcePath;
    QString spec;
    QString entryName;
    quint64 size = 0;
    qint64 mtimeNs = 0;
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    bool deflate = false;     // else stored
    qint64 replaceIndex = -1; // an existing entry this file replaces (update, freshen)

    enum class State { Pending, Packed, Changed, Unreadable, Cancelled };
    State state = State::Pending;
    QString problem;
};

// Shared by the sources of one run.
struct SourceContext {
    QThreadPool* pool = nullptr;
    int level = 5;
    const std::atomic<bool>* abort = nullptr;
    std::function<bool(const PlannedFile&)> startingEntry; // true cancels
    std::function<void(const PlannedFile&, quint64 compressed)> finishedEntry;
    std::function<void(quint64 bytes)> bytesRead;
};

// Fills `file` from the file on disk (size, time, identity, mode, method); false with a
// problem text when it is no regular readable file.
bool planFile(PlannedFile& file);

// A libzip source over `file`; libzip owns it afterwards. `file` and `context` must outlive
// the zip_t it is added to.
zip_source_t* createEntrySource(zip_t* archive, PlannedFile& file, SourceContext& context);

} // namespace kestro::zip

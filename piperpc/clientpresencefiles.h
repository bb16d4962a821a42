#pragma once

#include <QList>
#include <QString>
#include <atomic>
#include <sys/types.h>

// How a running client makes itself findable by Vellmon, which must close the client's
// window before it starts an update. Each client keeps two entries in <runtime dir>/clients:
// "<pid>.client" with its process id and window title, and "<pid>.sock", a datagram socket
// on which it takes the request "close". Both go when the client ends.
namespace kestro::presence {

struct ClientEntry {
    pid_t pid = 0;
    QString title;
};

inline constexpr char kCloseRequest[] = "close";

QString entryFile(pid_t pid);
QString socketFile(pid_t pid);

// Writes (or replaces) the entry of `pid`.
bool writeEntry(pid_t pid, const QString& title);
void removeEntry(pid_t pid);

// Running clients in the order they were started (by process id); entries of processes
// that no longer run are skipped.
QList<ClientEntry> listClients();

// Sends the close request to a client and waits up to `waitMs` until it has gone (its
// entry removed), or until `abort` is set. True when the client closed within that time.
bool requestClose(const ClientEntry& client, int waitMs, const std::atomic_bool* abort = nullptr);

// Every user may write into the folder, so the server keeps it small: it removes what is
// not an entry of a running process of the entry's owner (a "<pid>.client" file of at
// most kMaxEntryBytes, a "<pid>.sock" socket), and keeps at most kMaxEntriesPerUser
// entries of one user. Returns how many entries it removed.
inline constexpr int kMaxEntriesPerUser = 16;
inline constexpr qint64 kMaxEntryBytes = 4096;
int tidyFolder();

// Asks the first running client whose title contains `titlePart` (case-sensitive) to
// close. True when one was found.
bool closeFirstClientTitled(const QString& titlePart, int waitMs,
                            const std::atomic_bool* abort = nullptr);

} // namespace kestro::presence

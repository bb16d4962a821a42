#pragma once

#include <QList>
#include <QString>
#include <atomic>
#include <sys/types.h>

// How a running client makes itself findable by Vellmon, which must close the client's
// window before it starts an update. Each client keeps two entries in its user's own
// folder <runtime dir>/clients/<uid>: "<pid>.client" with its process id and window
// title, and "<pid>.sock", a datagram socket on which it takes the request "close". Both
// go when the client ends. A user's folder belongs to that user and only it may write
// there, so no other user can take a client's names beforehand.
namespace kestro::presence {

struct ClientEntry {
    pid_t pid = 0;
    QString title;
};

inline constexpr char kCloseRequest[] = "close";

// The folder of one user's entries.
QString userFolder(uid_t uid);
// The entries of process `pid`, in the folder of the user running it (of this process's
// user when it does not run).
QString entryFile(pid_t pid);
QString socketFile(pid_t pid);

// Creates the folder of `uid` if missing, owned by that user, and checks it is that
// user's own (a real folder owned by the user that no one else may write to). A client
// makes its own; the service makes them for the machine's users when it starts, before
// anyone could take such a name first, and for each user who calls it.
bool prepareUserFolder(uid_t uid);
void prepareUserFolders();

// Writes (or replaces) the entry of `pid`.
bool writeEntry(pid_t pid, const QString& title);
void removeEntry(pid_t pid);

// Running clients in the order they were started (by process id); entries of processes
// that no longer run are skipped.
QList<ClientEntry> listClients();

// Sends the close request to a client and waits up to `waitMs` until it has gone (its
// entry removed), or until `abort` is set. True when the client closed within that time.
bool requestClose(const ClientEntry& client, int waitMs, const std::atomic_bool* abort = nullptr);

// Every user may write into the shared folder, so the server keeps it small: it removes
// what is not a user's own folder there, and in each user's folder what is not an entry
// of a running process of that user (a "<pid>.client" file of at most kMaxEntryBytes, a
// "<pid>.sock" socket), keeping at most kMaxEntriesPerUser entries. Trees of any depth
// go, no link followed. Returns how many entries it removed.
inline constexpr int kMaxEntriesPerUser = 16;
inline constexpr qint64 kMaxEntryBytes = 4096;
int tidyFolder();

// Asks the first running client whose title contains `titlePart` (case-sensitive) to
// close. True when one was found.
bool closeFirstClientTitled(const QString& titlePart, int waitMs,
                            const std::atomic_bool* abort = nullptr);

} // namespace kestro::presence

#pragma once

#include <QString>
#include <sys/types.h>

// Where the local sockets of Vellmon and its clients live, and the small socket helpers
// that the pipe, the mailslot and the client presence share. Windows error numbers stay
// the vocabulary of the callers, so errno values are translated here.
namespace kestro::local {

// VELLMON_RUNTIME_DIR when set, otherwise /run/vellmon.
QString runtimeDir();
// <runtime dir>/pipe/<name in lower case>: pipe names ignore case, as on Windows.
QString pipeSocketPath(const QString& pipeName);
// "//./mailslot/Vellmon/AllVersion" -> <runtime dir>/mailslot/vellmon/allversion.
QString mailslotSocketPath(const QString& mailslotName);
// <runtime dir>/clients
QString clientsDir();

// Windows system error codes used by the pipe component.
enum WinError : quint32 {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorAccessDenied = 5,
    kErrorGenFailure = 31,
    kErrorBadNetPath = 53,
    kErrorBrokenPipe = 109,
    kErrorSemTimeout = 121,
    kErrorPipeBusy = 231,
    kErrorNoData = 232,
    kErrorMoreData = 234,
    kErrorPipeConnected = 535,
    kErrorPipeListening = 536,
};
quint32 winErrorFromErrno(int err);

// Creates the folder (and its parents) with the given mode for the last component.
bool makeFolder(const QString& path, mode_t mode);

// A sockaddr_un for `path`; false when the path is too long for one.
bool fillAddress(const QString& path, void* sockaddrUn, socklen_t* length);

// Binds a new non-blocking socket of `type` at `path` (listening, with a backlog of 0,
// unless it is a datagram socket), replacing a stale socket file that nobody serves any
// more. Returns the descriptor or -1 with errno set. A live socket at the path is left
// alone (errno EADDRINUSE).
int bindSocket(const QString& path, int type, mode_t fileMode);

// The user id of the process at the other end of a connected socket, or -1.
struct PeerCredentials {
    pid_t pid = -1;
    uid_t uid = uid_t(-1);
    bool known() const { return pid > 0; }
};
PeerCredentials peerCredentials(int fd);

// One datagram from a socket with SO_PASSCRED set, without waiting: its size (as the
// kernel reports it, so a size above `capacity` or `truncated` means it did not fit)
// and the sender's user id (uid_t(-1) when the kernel did not say). Returns -1 with
// errno set when nothing is waiting or the read failed.
struct Datagram {
    ssize_t size = -1;
    bool truncated = false;
    uid_t senderUid = uid_t(-1);
};
Datagram receiveWithSender(int fd, char* buffer, size_t capacity);

} // namespace kestro::local

#include "piperpc/localsocket.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestro::local {

QString runtimeDir() {
    const QString dir = qEnvironmentVariable("VELLMON_RUNTIME_DIR");
    return dir.isEmpty() ? QStringLiteral("/run/vellmon") : dir;
}

QString pipeSocketPath(const QString& pipeName) {
    // A pipe name may hold "/" and may be "." or "..": encoded, it stays one file name.
    QByteArray encoded = QUrl::toPercentEncoding(pipeName.toLower());
    if (encoded == "." || encoded == "..")
        encoded.replace('.', "%2E");
    return runtimeDir() + QStringLiteral("/pipe/") + QString::fromLatin1(encoded);
}

QString mailslotSocketPath(const QString& mailslotName) {
    static const QString prefix = QStringLiteral("//./mailslot/");
    QString rest = mailslotName.startsWith(prefix) ? mailslotName.mid(prefix.size()) : mailslotName;
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return runtimeDir() + QStringLiteral("/mailslot/") + rest.toLower();
}

QString clientsDir() {
    return runtimeDir() + QStringLiteral("/clients");
}

quint32 winErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return kErrorSuccess;
    case ENOENT:
    case ENOTDIR:
        return kErrorFileNotFound;
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
        return kErrorBrokenPipe;
    case ETIMEDOUT:
    case EAGAIN:
        return kErrorSemTimeout;
    case EMSGSIZE:
        return kErrorMoreData;
    case ECONNREFUSED:
        return kErrorPipeBusy;
    default:
        return kErrorGenFailure;
    }
}

bool makeFolder(const QString& path, mode_t mode) {
    if (!QDir().mkpath(path))
        return false;
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0)
        return false;
    // Only the owner of the folder can (and needs to) fix its mode.
    if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != mode)
        ::chmod(native.constData(), mode);
    return true;
}

bool fillAddress(const QString& path, void* sockaddrUn, socklen_t* length) {
    auto* addr = static_cast<sockaddr_un*>(sockaddrUn);
    std::memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || size_t(native.size()) >= sizeof(addr->sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr->sun_path, native.constData(), size_t(native.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(native.size()) + 1);
    return true;
}

namespace {

bool someoneServes(const sockaddr_un& addr, socklen_t length, int type) {
    const int probe = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0)
        return false;
    const int rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), length);
    const int err = errno;
    ::close(probe);
    return rc == 0 || err == EAGAIN;
}

} // namespace

int bindSocket(const QString& path, int type, mode_t fileMode) {
    sockaddr_un addr{};
    socklen_t length = 0;
    sockaddr_un temp{};
    socklen_t tempLength = 0;
    if (!fillAddress(path, &addr, &length) ||
        !fillAddress(path + QStringLiteral(".new%1").arg(::getpid()), &temp, &tempLength))
        return -1;
    // A socket file left behind by a closed or crashed server is replaced; one that still
    // answers belongs to a running server and is not taken from it.
    if (someoneServes(addr, length, type)) {
        errno = EADDRINUSE;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // Bound and listening under a temporary name first, then renamed over the old file:
    // a client never finds the name missing while the socket is replaced.
    ::unlink(temp.sun_path);
    bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&temp), tempLength) == 0 &&
              ::chmod(temp.sun_path, fileMode) == 0;
    if (ok && type != SOCK_DGRAM)
        ok = ::listen(fd, 0) == 0; // backlog 0: exactly one client may wait
    if (ok)
        ok = ::rename(temp.sun_path, addr.sun_path) == 0;
    if (ok)
        return fd;
    const int err = errno;
    ::unlink(temp.sun_path);
    ::close(fd);
    errno = err;
    return -1;
}

PeerCredentials peerCredentials(int fd) {
    PeerCredentials out;
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.pid > 0) {
        out.pid = cred.pid;
        out.uid = cred.uid;
    }
    return out;
}

Datagram receiveWithSender(int fd, char* buffer, size_t capacity) {
    Datagram out;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec iov{buffer, capacity};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    out.size = ::recvmsg(fd, &msg, MSG_DONTWAIT | MSG_TRUNC);
    if (out.size < 0)
        return out;
    out.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS)
            out.senderUid = reinterpret_cast<const ucred*>(CMSG_DATA(c))->uid;
    }
    return out;
}

} // namespace kestro::local

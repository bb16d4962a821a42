#include "piperpc/piperpc.h"

#include "piperpc/piperpclog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace kestro {

using namespace local;

namespace {

qint64 nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString readComputerName() {
    char buffer[32] = {};
    if (::gethostname(buffer, sizeof(buffer) - 1) != 0)
        return {};
    return QString::fromLocal8Bit(buffer).trimmed();
}

// True when the other end has gone (a read of 0 bytes is then the end, not an empty
// message).
bool peerHungUp(int fd) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR));
}

void setTimeoutOption(int fd, int option, int ms) {
    timeval tv{};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof(tv));
}

// Connects to a pipe, waiting up to `waitMs` (negative: no limit) for a waiting instance.
// Returns the descriptor, or -1 with the Windows error in *error: 2 when no pipe of that
// name exists (only when `missingIsFinal`), otherwise 121 when the time ran out.
int connectWaiting(const QString& path, int waitMs, bool missingIsFinal, quint32* error) {
    sockaddr_un addr{};
    socklen_t length = 0;
    if (!fillAddress(path, &addr, &length)) {
        *error = kErrorFileNotFound;
        return -1;
    }
    const qint64 deadline = waitMs < 0 ? -1 : nowMs() + waitMs;
    int pause = 50;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            *error = winErrorFromErrno(errno);
            return -1;
        }
        const qint64 left = deadline < 0 ? 0 : qMax<qint64>(1, deadline - nowMs());
        // A full backlog (the waiting instance already has a client) makes connect wait
        // in the kernel until the server takes that client, bounded by the send time-out.
        setTimeoutOption(fd, SO_SNDTIMEO, int(left));
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0)
            return fd;
        const int err = errno;
        ::close(fd);
        if (err == ENOENT && missingIsFinal) {
            *error = kErrorFileNotFound;
            return -1;
        }
        const bool retry = err == ECONNREFUSED || err == EAGAIN || err == ENOENT ||
                           err == ETIMEDOUT || err == EINTR;
        if (!retry) {
            *error = winErrorFromErrno(err);
            return -1;
        }
        if (deadline >= 0 && nowMs() >= deadline) {
            *error = kErrorSemTimeout;
            return -1;
        }
        // The server frees a slot within a pass; look again soon, then less often.
        std::this_thread::sleep_for(std::chrono::microseconds(pause));
        pause = qMin(pause * 2, 2000);
    }
}

// One request and its answer on a connected pipe.
// `notRead` tells that the server dropped the connection without reading the request (it
// reset the connection: a full server closing its waiting instance, an idle time-out), so
// the call may safely be made again.
quint32 transact(int fd, const QByteArray& request, QByteArray& response, int replyWaitMs,
                 bool* notRead = nullptr) {
    auto reset = [notRead](int err) {
        if (notRead)
            *notRead = err == ECONNRESET || err == EPIPE;
    };
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0) {
        reset(errno);
        return winErrorFromErrno(errno);
    }
    setTimeoutOption(fd, SO_RCVTIMEO, replyWaitMs);
    const qsizetype capacity = response.size();
    QByteArray buffer(qMax<qsizetype>(capacity, 1), Qt::Uninitialized);
    ssize_t n;
    do {
        n = ::recv(fd, buffer.data(), size_t(capacity), MSG_TRUNC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        reset(errno);
        return winErrorFromErrno(errno);
    }
    if (n == 0 && peerHungUp(fd))
        return kErrorBrokenPipe;
    if (n > capacity) {
        // The caller's buffer holds the first part; the call fails as Windows reports it.
        std::memcpy(response.data(), buffer.constData(), size_t(capacity));
        return kErrorMoreData;
    }
    // A reply of 0 bytes leaves an empty response.
    std::memcpy(response.data(), buffer.constData(), size_t(n));
    response.resize(n);
    return kErrorSuccess;
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

PipeRpcError::PipeRpcError(qint32 number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

PipeRpc::PipeRpc(QObject* parent) : QObject(parent), computerName_(readComputerName()) {
    slots_.resize(1);
}

PipeRpc::~PipeRpc() {
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = -1;
    QSignalBlocker quiet(this);
    closePipe();
}

QString PipeRpc::copyright() {
    return QStringLiteral("PipeRPC Copyright (c) Varnholt Software");
}

void PipeRpc::requireFree() const {
    if (state_ != pstFree)
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("Can only be changed while State = pstFree"));
}

void PipeRpc::setMaxClients(qint16 value) {
    requireFree();
    if (value < 1 || value > 255)
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("MaxClients must be from 1 to 255 (unlimited)"));
    maxClients_ = value;
}

void PipeRpc::setMaxRequest(qint32 value) {
    requireFree();
    if (value < 1 || value > 65536)
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("MaxRequest must be from 1 to 65536"));
    maxRequest_ = value;
}

void PipeRpc::setMaxResponse(qint32 value) {
    requireFree();
    if (value < 1 || value > 65536)
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("MaxResponse must be from 1 to 65536"));
    maxResponse_ = value;
}

void PipeRpc::setMultiPoll(bool value) {
    requireFree();
    multiPoll_ = value;
}

void PipeRpc::setPipeName(const QString& value) {
    requireFree();
    if (value.contains(QLatin1Char('\\')) || value.contains(QChar(0)))
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("Cannot contain \"\\\" or NUL characters"));
    pipeName_ = value;
}

void PipeRpc::setServer(const QString& value) {
    requireFree();
    server_ = value;
}

void PipeRpc::setTimeout(qint32 value) {
    requireFree();
    timeout_ = value;
}

void PipeRpc::setIdleTimeout(qint32 value) {
    requireFree();
    idleTimeout_ = qMax(0, value);
}

void PipeRpc::setMaxConnectionTime(qint32 value) {
    requireFree();
    maxConnectionTime_ = qMax(0, value);
}

void PipeRpc::setOneLastSlotPerUser(bool value) {
    requireFree();
    oneLastSlotPerUser_ = value;
}

QVariantMap PipeRpc::writeProperties() const {
    QVariantMap bag;
    if (maxClients_ != 1)
        bag.insert(QStringLiteral("MaxClients"), maxClients_);
    if (maxRequest_ != 1024)
        bag.insert(QStringLiteral("MaxRequest"), maxRequest_);
    if (maxResponse_ != 1024)
        bag.insert(QStringLiteral("MaxResponse"), maxResponse_);
    if (multiPoll_)
        bag.insert(QStringLiteral("MultiPoll"), multiPoll_);
    if (!pipeName_.isEmpty())
        bag.insert(QStringLiteral("PipeName"), pipeName_);
    if (server_ != QStringLiteral("."))
        bag.insert(QStringLiteral("Server"), server_);
    if (timeout_ != 0)
        bag.insert(QStringLiteral("Timeout"), timeout_);
    return bag;
}

void PipeRpc::readProperties(const QVariantMap& bag) {
    maxClients_ = qint16(bag.value(QStringLiteral("MaxClients"), 1).toInt());
    maxRequest_ = bag.value(QStringLiteral("MaxRequest"), 1024).toInt();
    maxResponse_ = bag.value(QStringLiteral("MaxResponse"), 1024).toInt();
    multiPoll_ = bag.value(QStringLiteral("MultiPoll"), false).toBool();
    pipeName_ = bag.value(QStringLiteral("PipeName"), QString()).toString();
    server_ = bag.value(QStringLiteral("Server"), QStringLiteral(".")).toString();
    timeout_ = bag.value(QStringLiteral("Timeout"), 0).toInt();
}

void PipeRpc::copyMemory(void* dest, const void* source, qint32 lengthInBytes) {
    if (lengthInBytes > 0)
        std::memmove(dest, source, size_t(lengthInBytes));
}

local::PeerCredentials PipeRpc::peerOf(qint32 pipe) const {
    if (pipe < 0 || pipe >= qint32(slots_.size()) || !slots_[size_t(pipe)].connected)
        return {};
    return slots_[size_t(pipe)].peer;
}

// ---- server ----

void PipeRpc::listen() {
    if (state_ != pstFree)
        throw PipeRpcError(kErrInvalidWhileConnected,
                           QStringLiteral("Invalid call while connected"));
    if (timeout_ == 0 || timeout_ == 1 || timeout_ == -1)
        timeout_ = 250;
    fullPath_ = pipeSocketPath(pipeName_);
    if (pipeName_.isEmpty())
        throw PipeRpcError(kErrPipe, QStringLiteral("Pipe #0, System error 123"));
    makeFolder(runtimeDir(), 0755);
    makeFolder(QFileInfo(fullPath_).absolutePath(), 0755);
    slots_.clear();
    slots_.resize(1);
    listening_ = 0;
    openSlot();
    state_ = pstListening;
    const int limit = idleTimeout_ > 0 && maxConnectionTime_ > 0
                          ? qMin(idleTimeout_, maxConnectionTime_)
                          : qMax(idleTimeout_, maxConnectionTime_);
    if (limit > 0) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &PipeRpc::checkIdle);
        timer->start(qBound(10, limit / 4, 1000));
        idleTimer_ = timer;
    }
}

void PipeRpc::openSlot() {
    if (listening_ > 0)
        return; // one waiting instance at a time: there is only one listening socket
    size_t index = 0;
    while (index < slots_.size() && slots_[index].fd >= 0)
        ++index;
    if (index == slots_.size()) {
        if (maxClients_ != 255 && size_t(maxClients_) < slots_.size() + 1) {
            // Limit reached: nobody may connect until a slot is freed.
            releaseListener();
            return;
        }
        slots_.emplace_back();
    }
    if (listenFd_ < 0) {
        // Its backlog of 0 lets exactly one client wait, as one waiting pipe instance does.
        listenFd_ = bindSocket(fullPath_, SOCK_SEQPACKET, 0666);
        if (listenFd_ < 0) {
            const quint32 code = errno == EADDRINUSE ? kErrorPipeBusy : winErrorFromErrno(errno);
            throw PipeRpcError(kErrPipe,
                               QStringLiteral("Pipe #%1, System error %2").arg(index).arg(code));
        }
        listenInode_ = inodeOf(fullPath_);
    }
    slots_[index].fd = listenFd_;
    slots_[index].connected = false;
    watch(int(index));
    ++listening_;
}

void PipeRpc::releaseListener() {
    for (Slot& s : slots_)
        if (!s.connected && s.fd >= 0 && s.fd == listenFd_) {
            s.notifier.reset();
            s.fd = -1;
        }
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void PipeRpc::watch(int index) {
    Slot& s = slots_[size_t(index)];
    s.notifier = std::make_unique<QSocketNotifier>(s.fd, QSocketNotifier::Read);
    connect(s.notifier.get(), &QSocketNotifier::activated, this, &PipeRpc::schedulePass);
}

void PipeRpc::schedulePass() {
    if (passScheduled_)
        return;
    passScheduled_ = true;
    QMetaObject::invokeMethod(this, &PipeRpc::runPoll, Qt::QueuedConnection);
}

void PipeRpc::runPoll() {
    passScheduled_ = false;
    if (state_ != pstListening)
        return;
    if (inPass_) {
        // A handler let the event loop run; the outer pass sees this slot next round.
        schedulePass();
        return;
    }
    inPass_ = true;
    bool again = false;
    do {
        again = false;
        for (int i = 0; i < int(slots_.size()) && state_ == pstListening; ++i) {
            if (slots_[size_t(i)].fd < 0)
                continue;
            if (pollSlot(i) && multiPoll_)
                again = true;
        }
    } while (again && state_ == pstListening);
    inPass_ = false;
}

bool PipeRpc::pollSlot(int index) {
    if (!slots_[size_t(index)].connected) {
        acceptOn(index);
        if (state_ != pstListening || !slots_[size_t(index)].connected)
            return false;
    }
    const int fd = slots_[size_t(index)].fd;
    QByteArray buffer(maxRequest_, Qt::Uninitialized);
    const ssize_t n = ::recv(fd, buffer.data(), size_t(maxRequest_), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EINTR)
            return false; // 232: connected, nothing sent yet
        const quint32 code = winErrorFromErrno(err);
        if (code == kErrorBrokenPipe)
            closeSlot(index, pdrClientDisconnect, kErrorBrokenPipe);
        else
            closeSlot(index, pdrReadError, code);
        return false;
    }
    if (n == 0 && peerHungUp(fd)) {
        closeSlot(index, pdrClientDisconnect, kErrorBrokenPipe);
        return false;
    }
    if (n > maxRequest_) {
        closeSlot(index, pdrRequestTooLong, kErrorMoreData);
        return false;
    }
    buffer.resize(n);
    return serveRequest(index, buffer);
}

void PipeRpc::acceptOn(int index) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EINTR || err == ECONNABORTED)
            return; // 536: still waiting for a client
        qCWarning(lcPipe) << "pipe" << pipeName_ << "cannot take a client:" << strerror(err);
        if (err == EMFILE || err == ENFILE) {
            // Out of descriptors: look again a little later instead of spinning on a
            // listening socket that stays readable.
            QSocketNotifier* notifier = slots_[size_t(index)].notifier.get();
            notifier->setEnabled(false);
            QTimer::singleShot(100, notifier, [notifier] { notifier->setEnabled(true); });
        }
        return;
    }
    // Clients that have already gone free their slots first, so a single-call client
    // right behind the previous one does not find the server at its limit.
    reapHungUpSlots(index);
    const local::PeerCredentials peer = peerCredentials(fd);
    if (wouldTakeLastSlot(peer)) {
        // Closed unread: the caller's call fails as against a busy pipe and may try again.
        // Such a caller retries at once, so the log hears of it once a second at most.
        ::close(fd);
        ++refusedSinceLog_;
        if (nowMs() - refusalLoggedMs_ >= 1000) {
            qCWarning(lcPipe) << "pipe" << pipeName_ << "refused" << refusedSinceLog_
                              << "further connection(s) of user" << peer.uid
                              << "for the last free slot";
            refusalLoggedMs_ = nowMs();
            refusedSinceLog_ = 0;
        }
        return;
    }
    Slot& s = slots_[size_t(index)];
    s.notifier.reset();
    s.fd = fd;
    s.connected = true;
    s.peer = peer;
    s.lastActivityMs = s.connectedAtMs = nowMs();
    watch(index);
    --listening_;
    try {
        openSlot();
    } catch (const PipeRpcError& e) {
        qCWarning(lcPipe).noquote()
            << "pipe" << pipeName_ << "no new waiting instance:" << e.description();
    }
    Q_EMIT connected(index);
}

bool PipeRpc::serveRequest(int index, const QByteArray& request) {
    const int fd = slots_[size_t(index)].fd;
    slots_[size_t(index)].lastActivityMs = nowMs();
    QByteArray response;
    Q_EMIT called(index, request, &response);
    if (state_ != pstListening || slots_[size_t(index)].fd != fd)
        return true; // the handler closed the pipe
    const ssize_t written =
        ::send(fd, response.constData(), size_t(response.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (written < 0)
        closeSlot(index, pdrWriteError, winErrorFromErrno(errno));
    else if (written < response.size())
        closeSlot(index, pdrResponseTooShort, 0);
    return true;
}

void PipeRpc::reapHungUpSlots(int except) {
    for (int i = 0; i < int(slots_.size()) && state_ == pstListening; ++i) {
        const Slot& s = slots_[size_t(i)];
        if (i != except && s.connected && peerHungUp(s.fd)) {
            // Only when nothing unread is left: a last request is still served by the pass.
            int pending = 0;
            if (::ioctl(s.fd, FIONREAD, &pending) == 0 && pending == 0)
                closeSlot(i, pdrClientDisconnect, kErrorBrokenPipe);
        }
    }
}

bool PipeRpc::wouldTakeLastSlot(const local::PeerCredentials& peer) const {
    // Root and the server's own user are trusted with every slot.
    if (!oneLastSlotPerUser_ || !peer.known() || maxClients_ == 255 || peer.uid == 0 ||
        peer.uid == ::geteuid())
        return false;
    int connectedSlots = 0;
    bool userHoldsOne = false;
    for (const Slot& s : slots_) {
        if (!s.connected)
            continue;
        ++connectedSlots;
        userHoldsOne = userHoldsOne || s.peer.uid == peer.uid;
    }
    return userHoldsOne && connectedSlots + 1 >= maxClients_;
}

void PipeRpc::checkIdle() {
    if (state_ != pstListening)
        return;
    const qint64 now = nowMs();
    for (int i = 0; i < int(slots_.size()) && state_ == pstListening; ++i) {
        const Slot& s = slots_[size_t(i)];
        if (s.connected && ((idleTimeout_ > 0 && now - s.lastActivityMs > idleTimeout_) ||
                            (maxConnectionTime_ > 0 && now - s.connectedAtMs > maxConnectionTime_)))
            closeSlot(i, pdrIdleTimeout, 0);
    }
}

void PipeRpc::closeSlot(int index, DisconnectReason reason, quint32 systemError) {
    Slot& s = slots_[size_t(index)];
    if (s.fd < 0)
        return;
    if (!s.connected) {
        releaseListener();
        if (systemError != 0)
            throw PipeRpcError(kErrPipe, QStringLiteral("System error %1").arg(systemError));
        return;
    }
    s.notifier.reset();
    ::close(s.fd);
    s.fd = -1;
    s.connected = false;
    s.peer = {};
    if (listening_ == 0 && !closing_) {
        try {
            openSlot();
        } catch (const PipeRpcError& e) {
            qCWarning(lcPipe).noquote()
                << "pipe" << pipeName_ << "no new waiting instance:" << e.description();
        }
    }
    Q_EMIT disconnected(index, reason, systemError);
}

void PipeRpc::closePipe() {
    if (state_ == pstOpen) {
        if (clientFd_ >= 0)
            ::close(clientFd_);
        clientFd_ = -1;
        state_ = pstFree;
        return;
    }
    if (state_ != pstListening || closing_)
        return;
    closing_ = true;
    for (int i = 0; i < int(slots_.size()); ++i)
        if (slots_[size_t(i)].connected)
            closeSlot(i, pdrClosePipe, 0);
    releaseListener();
    // The socket file goes with the server, unless another server has taken the name.
    if (listenInode_ != 0 && inodeOf(fullPath_) == listenInode_)
        ::unlink(QFile::encodeName(fullPath_).constData());
    listenInode_ = 0;
    delete idleTimer_;
    idleTimer_ = nullptr;
    slots_.clear();
    slots_.resize(1);
    listening_ = 0;
    state_ = pstFree;
    closing_ = false;
}

// ---- client ----

bool PipeRpc::isLocalServer() const {
    return server_ == QStringLiteral(".") || server_.isEmpty() ||
           server_.compare(computerName_, Qt::CaseInsensitive) == 0 ||
           server_.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0;
}

int PipeRpc::waitMs() const {
    if (timeout_ == 0)
        return kServerDefaultTimeoutMs;
    return timeout_ < 0 ? -1 : timeout_;
}

quint32 PipeRpc::openPipe() {
    if (state_ != pstFree)
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("Pipe can only be opened while State = pstFree"));
    if (!isLocalServer())
        return kErrorSemTimeout;
    quint32 error = 0;
    const int fd = connectWaiting(pipeSocketPath(pipeName_), waitMs(), false, &error);
    if (fd < 0)
        return kErrorSemTimeout;
    clientFd_ = fd;
    state_ = pstOpen;
    return kErrorSuccess;
}

quint32 PipeRpc::pipeCall(const QByteArray& request, QByteArray& response) {
    if (state_ == pstListening)
        throw PipeRpcError(kErrInvalidProperty,
                           QStringLiteral("Cannot make calls while listening"));
    const int replyWait = timeout_ < 0 ? 0 : kReplyWaitMs;
    if (state_ == pstOpen)
        return transact(clientFd_, request, response, replyWait);
    if (pipeName_.isEmpty())
        throw PipeRpcError(
            kErrInvalidProperty,
            QStringLiteral(
                "PipeName is required (cannot be empty) to make calls while State = pstFree"));
    if (!isLocalServer())
        return kErrorBadNetPath;
    const int wait = waitMs();
    const qint64 deadline = wait < 0 ? -1 : nowMs() + wait;
    for (;;) {
        const int left = deadline < 0 ? -1 : int(qMax<qint64>(1, deadline - nowMs()));
        quint32 error = 0;
        const int fd = connectWaiting(pipeSocketPath(pipeName_), left, true, &error);
        if (fd < 0)
            return error;
        bool notRead = false;
        const quint32 result = transact(fd, request, response, replyWait, &notRead);
        ::close(fd);
        // Taken into the backlog just as the server reached its slot limit: it never saw
        // the request, so waiting for a free instance goes on.
        if (!notRead || (deadline >= 0 && nowMs() >= deadline))
            return result;
    }
}

} // namespace kestro

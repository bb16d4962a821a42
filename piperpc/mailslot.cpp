#include "piperpc/mailslot.h"

#include "common/ansi.h"
#include "piperpc/localsocket.h"
#include "piperpc/piperpclog.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestro {

MailslotReceiver::MailslotReceiver(QObject* parent) : QObject(parent) {}

MailslotReceiver::~MailslotReceiver() {
    close();
}

bool MailslotReceiver::create(const QString& name) {
    if (name.isEmpty() || !name.startsWith(prefix()))
        return false;
    close();
    const QString path = local::mailslotSocketPath(name);
    local::makeFolder(local::runtimeDir(), 0755);
    local::makeFolder(local::runtimeDir() + QStringLiteral("/mailslot"), 0755);
    // The folder holding the socket is the owner's alone.
    local::makeFolder(QFileInfo(path).absolutePath(), 0700);
    const int fd = local::bindSocket(path, SOCK_DGRAM, 0600);
    if (fd < 0) {
        qCWarning(lcPipe).noquote()
            << "cannot create mailslot" << name << "at" << path << ":" << strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
    fd_ = fd;
    path_ = path;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &MailslotReceiver::messageWaiting);
    return true;
}

void MailslotReceiver::close() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(QFile::encodeName(path_).constData());
    }
    fd_ = -1;
}

std::optional<QString> MailslotReceiver::readNext() {
    while (fd_ >= 0) {
        char data[kMaxMessageBytes + 1];
        const local::Datagram d = local::receiveWithSender(fd_, data, sizeof(data));
        const ssize_t n = d.size;
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR)
                qCWarning(lcPipe) << "mailslot read failed:" << strerror(errno);
            return std::nullopt;
        }
        const uid_t uid = d.senderUid;
        if (uid == uid_t(-1) || (uid != ::geteuid() && uid != 0)) {
            qCWarning(lcPipe) << "mailslot message from user" << int(uid)
                              << "dropped: only the owner may write";
            continue;
        }
        if (n > kMaxMessageBytes || d.truncated) {
            qCWarning(lcPipe) << "mailslot message of" << n << "bytes dropped (limit"
                              << kMaxMessageBytes << ")";
            continue;
        }
        if (n == 0)
            continue;
        return fromAnsi(QByteArray(data, n));
    }
    return std::nullopt;
}

bool mailSlotSend(const QString& message, const QString& target) {
    if (message.isEmpty() || target.isEmpty())
        return false;
    const QByteArray bytes = toAnsi(message);
    if (bytes.size() > MailslotReceiver::kMaxMessageBytes)
        return false;
    sockaddr_un addr{};
    socklen_t length = 0;
    if (!local::fillAddress(local::mailslotSocketPath(target), &addr, &length))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t n = ::sendto(fd, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT,
                               reinterpret_cast<const sockaddr*>(&addr), length);
    const int err = errno;
    ::close(fd);
    if (n <= 0)
        qCWarning(lcPipe).noquote() << "cannot write to mailslot" << target << ":" << strerror(err);
    return n > 0;
}

} // namespace kestro

#include "client/startup/clientpresence.h"

#include "piperpc/clientpresencefiles.h"
#include "piperpc/localsocket.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPresenceClient, "kestro.startup.presence")

namespace kestro::startup {

namespace {

// The user the service runs as: the owner of its pipe socket.
uid_t serviceUser() {
    struct stat st {};
    const QByteArray path = QFile::encodeName(local::pipeSocketPath(QStringLiteral("Vellmon")));
    return ::stat(path.constData(), &st) == 0 ? st.st_uid : uid_t(0);
}

} // namespace

ClientPresence::ClientPresence(const QString& windowTitle, QObject* parent) : QObject(parent) {
    const pid_t pid = ::getpid();
    if (!presence::writeEntry(pid, windowTitle))
        return;
    fd_ = local::bindSocket(presence::socketFile(pid), SOCK_DGRAM, 0666);
    if (fd_ < 0) {
        qCWarning(lcPresenceClient) << "client cannot be found by the service:" << strerror(errno);
        presence::removeEntry(pid);
        return;
    }
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ClientPresence::readRequests);
}

ClientPresence::~ClientPresence() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        presence::removeEntry(::getpid());
    }
}

void ClientPresence::setTitle(const QString& windowTitle) {
    if (fd_ >= 0)
        presence::writeEntry(::getpid(), windowTitle);
}

void ClientPresence::readRequests() {
    for (;;) {
        char data[64];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec iov{data, sizeof(data)};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
        if (n < 0)
            return;
        const ucred* cred = nullptr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS)
                cred = reinterpret_cast<const ucred*>(CMSG_DATA(c));
        const bool allowed =
            cred && (cred->uid == 0 || cred->uid == ::geteuid() || cred->uid == serviceUser());
        if (!allowed) {
            qCWarning(lcPresenceClient)
                << "close request from user" << (cred ? int(cred->uid) : -1) << "ignored";
            continue;
        }
        if (QByteArray(data, int(n)) == presence::kCloseRequest)
            Q_EMIT closeRequested();
    }
}

} // namespace kestro::startup

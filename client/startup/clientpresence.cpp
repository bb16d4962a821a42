#include "client/startup/clientpresence.h"

#include "client/startup/startuplog.h"
#include "piperpc/clientpresencefiles.h"
#include "piperpc/localsocket.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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
        qCWarning(lcStartup) << "client cannot be found by the service:" << strerror(errno);
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
        const local::Datagram d = local::receiveWithSender(fd_, data, sizeof(data));
        if (d.size < 0)
            return;
        const ssize_t n = std::min<ssize_t>(d.size, ssize_t(sizeof(data)));
        const uid_t uid = d.senderUid;
        const bool allowed =
            uid != uid_t(-1) && (uid == 0 || uid == ::geteuid() || uid == serviceUser());
        if (!allowed) {
            qCWarning(lcStartup) << "close request from user" << int(uid) << "ignored";
            continue;
        }
        if (QByteArray(data, int(n)) == presence::kCloseRequest)
            Q_EMIT closeRequested();
    }
}

} // namespace kestro::startup

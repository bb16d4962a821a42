#include "piperpc/clientpresencefiles.h"

#include "piperpc/localsocket.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPresence, "kestro.presence")

namespace kestro::presence {

QString entryFile(pid_t pid) {
    return local::clientsDir() + QStringLiteral("/%1.client").arg(pid);
}

QString socketFile(pid_t pid) {
    return local::clientsDir() + QStringLiteral("/%1.sock").arg(pid);
}

bool writeEntry(pid_t pid, const QString& title) {
    // Every user's clients register here, each only removing its own entries.
    local::makeFolder(local::runtimeDir(), 0755);
    local::makeFolder(local::clientsDir(), 01777);
    QSaveFile file(entryFile(pid));
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcPresence).noquote() << "cannot register client:" << file.errorString();
        return false;
    }
    QString safeTitle = title;
    safeTitle.replace(QLatin1Char('\n'), QLatin1Char(' '));
    file.write(QByteArray::number(pid) + '\n' + safeTitle.toUtf8() + '\n');
    return file.commit();
}

void removeEntry(pid_t pid) {
    QFile::remove(entryFile(pid));
    QFile::remove(socketFile(pid));
}

namespace {

bool isRunning(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The owner of a running process, or nothing when there is none.
std::optional<uid_t> processOwner(pid_t pid) {
    struct stat st {};
    if (::stat(QFile::encodeName(QStringLiteral("/proc/%1").arg(pid)).constData(), &st) != 0)
        return std::nullopt;
    return st.st_uid;
}

} // namespace

QList<ClientEntry> listClients() {
    QList<ClientEntry> out;
    const QDir dir(local::clientsDir());
    for (const QString& name : dir.entryList({QStringLiteral("*.client")}, QDir::Files)) {
        // Any user may put files here: never follow a link, never wait on a FIFO.
        const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(),
                              O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        QByteArray content(4096, Qt::Uninitialized);
        const ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)
                              ? ::read(fd, content.data(), size_t(content.size()))
                              : -1;
        ::close(fd);
        if (n < 0)
            continue;
        content.resize(n);
        const QList<QByteArray> lines = content.split('\n');
        bool ok = false;
        const pid_t pid = pid_t(lines.value(0).toLong(&ok));
        // Only the process's own user can speak for it.
        if (!ok || pid <= 0 || !isRunning(pid) || processOwner(pid) != st.st_uid)
            continue;
        out.append({pid, QString::fromUtf8(lines.value(1))});
    }
    std::sort(out.begin(), out.end(),
              [](const ClientEntry& a, const ClientEntry& b) { return a.pid < b.pid; });
    return out;
}

namespace {

// True when `name` in the folder is a sound entry of a running process of its owner.
bool isLiveEntry(const QString& name, const struct stat& st) {
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    bool ok = false;
    const pid_t pid = pid_t(name.left(dot).toInt(&ok));
    if (!ok || pid <= 0 || name.left(dot) != QString::number(pid))
        return false;
    const QString kind = name.mid(dot + 1);
    const bool sound =
        (kind == QStringLiteral("client") && S_ISREG(st.st_mode) && st.st_size <= kMaxEntryBytes) ||
        (kind == QStringLiteral("sock") && S_ISSOCK(st.st_mode));
    return sound && processOwner(pid) == st.st_uid;
}

// Removes `name` below the open folder `parentFd`, a folder with all it holds. Works on
// descriptors and never follows a link, so swapping a folder for a link meanwhile only
// makes the removal fail. Stops at a depth nobody needs.
bool removeEntry(int parentFd, const char* name, int depth = 0) {
    struct stat st {};
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parentFd, name, 0) == 0;
    if (depth > 16)
        return false;
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            removeEntry(fd, e->d_name, depth + 1);
    }
    ::closedir(dir);
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

} // namespace

int tidyFolder() {
    const QString folder = local::clientsDir();
    const QDir dir(folder);
    // Oldest processes first, so a flood of new entries cannot push out a real client's.
    QStringList names =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.section(QLatin1Char('.'), 0, 0).toLongLong() <
               b.section(QLatin1Char('.'), 0, 0).toLongLong();
    });
    const int folderFd = ::open(QFile::encodeName(folder).constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    QHash<uid_t, int> perUser;
    int removed = 0;
    for (const QString& name : names) {
        const QByteArray native = QFile::encodeName(name);
        struct stat st {};
        if (::fstatat(folderFd, native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (isLiveEntry(name, st) && ++perUser[st.st_uid] <= kMaxEntriesPerUser)
            continue;
        if (removeEntry(folderFd, native.constData()))
            ++removed;
        else
            qCWarning(lcPresence) << "cannot remove" << name << "from the clients folder";
    }
    ::close(folderFd);
    if (removed > 0)
        qCWarning(lcPresence) << "removed" << removed
                              << "stray or surplus entries from the clients folder";
    return removed;
}

bool requestClose(const ClientEntry& client, int waitMs, const std::atomic_bool* abort) {
    // The socket is sent to through a descriptor of the file itself, checked to be a
    // socket of the client's user: a link put there (to another program's socket) is
    // neither followed nor can it be swapped in after the check.
    const int pathFd = ::open(QFile::encodeName(socketFile(client.pid)).constData(),
                              O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (pathFd < 0)
        return false;
    struct stat st {};
    sockaddr_un addr{};
    socklen_t length = 0;
    if (::fstat(pathFd, &st) != 0 || !S_ISSOCK(st.st_mode) ||
        processOwner(client.pid) != st.st_uid ||
        !local::fillAddress(QStringLiteral("/proc/self/fd/%1").arg(pathFd), &addr, &length)) {
        ::close(pathFd);
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ::close(pathFd);
        return false;
    }
    const ssize_t n = ::sendto(fd, kCloseRequest, sizeof(kCloseRequest) - 1, MSG_DONTWAIT,
                               reinterpret_cast<const sockaddr*>(&addr), length);
    const int err = errno;
    ::close(fd);
    ::close(pathFd);
    if (n <= 0) {
        qCWarning(lcPresence) << "cannot ask client" << client.pid << "to close:" << strerror(err);
        return false;
    }
    // Like a close message sent and waited for: the window has handled it when it is gone.
    for (int waited = 0; waited < waitMs && !(abort && abort->load()); waited += 20) {
        if (!QFile::exists(entryFile(client.pid)) || !isRunning(client.pid))
            return true;
        QThread::msleep(20);
    }
    return false;
}

bool closeFirstClientTitled(const QString& titlePart, int waitMs, const std::atomic_bool* abort) {
    for (const ClientEntry& client : listClients())
        if (client.title.contains(titlePart, Qt::CaseSensitive)) {
            requestClose(client, waitMs, abort);
            return true;
        }
    return false;
}

} // namespace kestro::presence

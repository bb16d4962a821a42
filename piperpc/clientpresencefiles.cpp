#include "piperpc/clientpresencefiles.h"

#include "piperpc/localsocket.h"
#include "piperpc/piperpclog.h"

#include <QDir>
#include <QFile>
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
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace kestro::presence {

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

// A user's own folder is a real folder named after the user, owned by that user, that
// no one else may write to: another user can neither take names in it beforehand nor
// swap what is in it.
bool isOwnFolder(const struct stat& st, const QString& name) {
    return S_ISDIR(st.st_mode) && name == QString::number(st.st_uid) &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool isOwnFolder(const QString& path, uid_t uid) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && st.st_uid == uid &&
           isOwnFolder(st, QString::number(uid));
}

QString entryPath(pid_t pid, const char* kind) {
    const uid_t uid = processOwner(pid).value_or(::geteuid());
    return userFolder(uid) + QStringLiteral("/%1.%2").arg(pid).arg(QLatin1String(kind));
}

} // namespace

QString userFolder(uid_t uid) {
    return local::clientsDir() + QLatin1Char('/') + QString::number(uid);
}

QString entryFile(pid_t pid) {
    return entryPath(pid, "client");
}

QString socketFile(pid_t pid) {
    return entryPath(pid, "sock");
}

bool prepareUserFolder(uid_t uid) {
    const QString folder = userFolder(uid);
    const QByteArray native = QFile::encodeName(folder);
    // Made closed, opened to readers whatever the umask left, and only then handed over.
    if (::mkdir(native.constData(), 0700) == 0 &&
        (::chmod(native.constData(), 0755) != 0 ||
         (uid != ::geteuid() && ::lchown(native.constData(), uid, gid_t(-1)) != 0)))
        ::rmdir(native.constData());
    return isOwnFolder(folder, uid);
}

void prepareUserFolders() {
    // Made before the users log in, so nobody can take another's folder name first.
    ::setpwent();
    while (const passwd* user = ::getpwent())
        if (user->pw_uid == 0 || (user->pw_uid >= 1000 && user->pw_uid < 60000))
            prepareUserFolder(user->pw_uid);
    ::endpwent();
}

bool writeEntry(pid_t pid, const QString& title) {
    // Every user's clients register in a folder of their own below the shared one.
    local::makeFolder(local::runtimeDir(), 0755);
    local::makeFolder(local::clientsDir(), 01777);
    if (!prepareUserFolder(::geteuid())) {
        qCWarning(lcPipe).noquote()
            << "cannot register client:" << userFolder(::geteuid())
            << "is not a folder of this user's own that only it may write to";
        return false;
    }
    QSaveFile file(entryFile(pid));
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcPipe).noquote() << "cannot register client:" << file.errorString();
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

QList<ClientEntry> listClients() {
    QList<ClientEntry> out;
    const QDir clients(local::clientsDir());
    for (const QString& user : clients.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isUid = false;
        const uid_t uid = uid_t(user.toUInt(&isUid));
        if (!isUid || !isOwnFolder(clients.filePath(user), uid))
            continue;
        const QDir dir(clients.filePath(user));
        for (const QString& name : dir.entryList({QStringLiteral("*.client")}, QDir::Files)) {
            // Never follow a link, never wait on a FIFO.
            const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(),
                                  O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                continue;
            struct stat st {};
            QByteArray content(4096, Qt::Uninitialized);
            const ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == uid
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
            if (!ok || pid <= 0 || !isRunning(pid) || processOwner(pid) != uid)
                continue;
            out.append({pid, QString::fromUtf8(lines.value(1))});
        }
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

// Folders opened at once while a tree is removed; a deeper part is moved up first.
constexpr int kMaxOpenDepth = 32;

// Moves the folder `name` below `parentFd` to a free name right below `rootFd`, where it
// is removed later on its own: so a tree of any depth goes while only a few folders are
// open at once, and the removal never climbs up through "..", which a user could have
// moved elsewhere meanwhile.
std::optional<QByteArray> moveUp(int parentFd, const char* name, int rootFd) {
    static std::atomic_int counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray target =
            ".tidy-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(++counter);
        if (::renameat(parentFd, name, rootFd, target.constData()) == 0)
            return target;
        if (errno != EEXIST && errno != ENOTEMPTY)
            return std::nullopt;
    }
    return std::nullopt;
}

// Removes `name` right below `rootFd` with all it holds, however deep. Works on
// descriptors and never follows a link, so swapping a folder for a link meanwhile only
// makes the removal fail.
bool removeTree(int rootFd, const QByteArray& topName) {
    struct Level {
        DIR* dir;
        QByteArray name; // its name in the folder one level up
    };
    QList<QByteArray> pending{topName};
    bool ok = true;
    while (!pending.isEmpty()) {
        const QByteArray top = pending.takeLast();
        struct stat st {};
        if (::fstatat(rootFd, top.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            ok = ::unlinkat(rootFd, top.constData(), 0) == 0 && ok;
            continue;
        }
        std::vector<Level> stack;
        auto descend = [&](int parentFd, const QByteArray& name) {
            const int fd = ::openat(parentFd, name.constData(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
            if (!dir) {
                if (fd >= 0)
                    ::close(fd);
                return false;
            }
            stack.push_back({dir, name});
            return true;
        };
        if (!descend(rootFd, top)) {
            ok = false;
            continue;
        }
        while (!stack.empty()) {
            const int fd = ::dirfd(stack.back().dir);
            const dirent* e = ::readdir(stack.back().dir);
            if (!e) {
                const QByteArray name = stack.back().name;
                ::closedir(stack.back().dir);
                stack.pop_back();
                const int parentFd = stack.empty() ? rootFd : ::dirfd(stack.back().dir);
                ok = ::unlinkat(parentFd, name.constData(), AT_REMOVEDIR) == 0 && ok;
                continue;
            }
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            const QByteArray name(e->d_name);
            if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (!S_ISDIR(st.st_mode)) {
                ok = ::unlinkat(fd, name.constData(), 0) == 0 && ok;
            } else if (stack.size() < size_t(kMaxOpenDepth)) {
                ok = descend(fd, name) && ok;
            } else if (const auto moved = moveUp(fd, name.constData(), rootFd)) {
                pending.append(*moved);
            } else {
                ok = false;
            }
        }
    }
    return ok;
}

// Names in the folder `fd`, oldest processes first, so a flood of new entries cannot push
// out a real client's.
QList<QByteArray> namesByPid(int fd) {
    QList<QByteArray> names;
    const int own = ::dup(fd);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        if (own >= 0)
            ::close(own);
        return names;
    }
    while (const dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.append(QByteArray(e->d_name));
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const QByteArray& a, const QByteArray& b) {
        return a.split('.').value(0).toLongLong() < b.split('.').value(0).toLongLong();
    });
    return names;
}

// Keeps in one user's own folder (open as `fd`, owned by `uid`) only entries of running
// processes of that user, at most kMaxEntriesPerUser.
int tidyUserFolder(int fd, uid_t uid) {
    int kept = 0;
    int removed = 0;
    for (const QByteArray& native : namesByPid(fd)) {
        struct stat st {};
        if (::fstatat(fd, native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString name = QFile::decodeName(native);
        if (st.st_uid == uid && isLiveEntry(name, st) && ++kept <= kMaxEntriesPerUser)
            continue;
        if (removeTree(fd, native))
            ++removed;
        else
            qCWarning(lcPipe) << "cannot remove" << name << "from a user's clients folder";
    }
    return removed;
}

} // namespace

int tidyFolder() {
    const int folderFd = ::open(QFile::encodeName(local::clientsDir()).constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    int removed = 0;
    for (const QByteArray& native : namesByPid(folderFd)) {
        struct stat st {};
        if (::fstatat(folderFd, native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // Only users' own folders belong here; the folder is checked again once open.
        if (isOwnFolder(st, QFile::decodeName(native))) {
            const int userFd = ::openat(folderFd, native.constData(),
                                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            struct stat opened {};
            if (userFd >= 0 && ::fstat(userFd, &opened) == 0 && opened.st_ino == st.st_ino &&
                isOwnFolder(opened, QFile::decodeName(native))) {
                removed += tidyUserFolder(userFd, opened.st_uid);
                ::close(userFd);
                continue;
            }
            if (userFd >= 0)
                ::close(userFd);
        }
        if (removeTree(folderFd, native))
            ++removed;
        else
            qCWarning(lcPipe) << "cannot remove" << native << "from the clients folder";
    }
    ::close(folderFd);
    if (removed > 0)
        qCWarning(lcPipe) << "removed" << removed
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
        qCWarning(lcPipe) << "cannot ask client" << client.pid << "to close:" << strerror(err);
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

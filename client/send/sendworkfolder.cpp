#include "client/send/sendworkfolder.h"

#include "common/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

Q_LOGGING_CATEGORY(lcSend, "kestro.send")

namespace kestro::transfer {

namespace {

const QString kPrefix = QStringLiteral("Senden-");
// Written first into every work folder: the clean-up removes only folders that hold it.
constexpr const char* kSendFolderMark = ".kestro-sendung";

// Opens `folder` and takes its lock without waiting; -1 when another process holds it or
// the folder cannot be opened.
int lockFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when `fd` still is the folder at `path`: a cleaner may have removed the folder
// between its creation and our lock.
bool stillThere(int fd, const QString& path) {
    struct stat byFd {};
    struct stat byPath {};
    return ::fstat(fd, &byFd) == 0 && ::stat(QFile::encodeName(path).constData(), &byPath) == 0 &&
           byFd.st_dev == byPath.st_dev && byFd.st_ino == byPath.st_ino;
}

// Removes everything below the open folder `dirFd`, never following a link: a link is
// removed itself, and each subfolder is opened relative to its parent with O_NOFOLLOW, so a
// link planted or swapped in cannot lead the removal out of the folder.
bool removeContents(int dirFd) {
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    bool ok = true;
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int sub =
                ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                ok = false;
                continue;
            }
            ok = removeContents(sub) && ok;
            ::close(sub);
            ok = ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = ::unlinkat(dirFd, name.c_str(), 0) == 0 && ok;
        }
    }
    return ok;
}

// Removes the folder `name` below `parentFd`, which `fd` holds open.
bool removeTree(int parentFd, const QString& name, int fd, const QString& path) {
    if (removeContents(fd) &&
        ::unlinkat(parentFd, QFile::encodeName(name).constData(), AT_REMOVEDIR) == 0)
        return true;
    qCWarning(lcSend) << "cannot remove the leftover" << path << std::strerror(errno);
    return false;
}

// True when the folder `fd` was made by a send of this user: owned by us and holding the
// mark the send writes first. A folder the worker named alike ("Senden-Belege") holds no mark.
bool isSendFolder(int fd) {
    struct stat folder {};
    struct stat mark {};
    return ::fstat(fd, &folder) == 0 && S_ISDIR(folder.st_mode) && folder.st_uid == ::geteuid() &&
           ::fstatat(fd, kSendFolderMark, &mark, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(mark.st_mode) && mark.st_uid == ::geteuid();
}

// The note of a part file in the folder `fd`, read without following a link; at most 4 KB.
QByteArray readPartNote(int fd) {
    const int note = ::openat(fd, kPartNoteName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (note < 0)
        return {};
    QByteArray bytes(4096, Qt::Uninitialized);
    const ssize_t got = ::read(note, bytes.data(), size_t(bytes.size()));
    ::close(note);
    return got > 0 ? bytes.left(got) : QByteArray();
}

bool writeMark(int fd) {
    const int mark =
        ::openat(fd, kSendFolderMark, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (mark < 0)
        return false;
    ::close(mark);
    return true;
}

} // namespace

SendWorkFolder::~SendWorkFolder() {
    remove();
}

bool SendWorkFolder::create(const QString& clientDataFolder, QString* error) {
    remove();
    QDir().mkpath(clientDataFolder);
    for (int attempt = 0; attempt < 5; ++attempt) {
        QByteArray pattern = QFile::encodeName(paths::join(clientDataFolder, kPrefix + "XXXXXX"));
        if (!::mkdtemp(pattern.data()))
            break;
        const QString path = QFile::decodeName(pattern);
        const int fd = lockFolder(path);
        if (fd >= 0 && stillThere(fd, path) && writeMark(fd)) {
            path_ = path;
            fd_ = fd;
            return true;
        }
        if (fd >= 0)
            ::close(fd);
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    if (error)
        *error = QStringLiteral("Im Datenordner %1 kann kein Arbeitsordner angelegt werden: %2")
                     .arg(clientDataFolder, reason);
    return false;
}

void SendWorkFolder::leaveToNextSend() {
    if (fd_ < 0)
        return;
    ::close(fd_); // drops the lock
    fd_ = -1;
    path_.clear();
}

void SendWorkFolder::remove() {
    if (fd_ < 0)
        return;
    const QFileInfo info(path_);
    const int parentFd =
        ::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd >= 0) {
        removeTree(parentFd, info.fileName(), fd_, path_);
        ::close(parentFd);
    } else {
        qCWarning(lcSend) << "cannot remove the work folder" << path_;
    }
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

int removeSendLeftovers(const QString& clientDataFolder, QList<QByteArray>* partNotes) {
    const int dataFd =
        ::open(QFile::encodeName(clientDataFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dataFd < 0)
        return 0;
    // Exactly the names mkdtemp gives; anything else in the data folder is not ours.
    static const QRegularExpression workFolderName(QStringLiteral("^Senden-[A-Za-z0-9]{6}$"));
    int removed = 0;
    const QDir folder(clientDataFolder);
    for (const QString& name :
         folder.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (!workFolderName.match(name).hasMatch())
            continue;
        const QByteArray local = QFile::encodeName(name);
        // O_NOFOLLOW: a link named like a work folder is never entered, nor removed.
        const int fd =
            ::openat(dataFd, local.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat byFd {};
        struct stat byName {};
        const bool same = ::fstat(fd, &byFd) == 0 &&
                          ::fstatat(dataFd, local.constData(), &byName, AT_SYMLINK_NOFOLLOW) == 0 &&
                          byFd.st_dev == byName.st_dev && byFd.st_ino == byName.st_ino;
        // The lock is free only when no living send holds the folder.
        const bool leftover = same && isSendFolder(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const QByteArray note = leftover ? readPartNote(fd) : QByteArray();
        if (leftover && removeTree(dataFd, name, fd, folder.filePath(name))) {
            if (partNotes && !note.isEmpty())
                *partNotes << note;
            qCInfo(lcSend) << "removed the leftover of a killed send" << folder.filePath(name);
            ++removed;
        }
        ::close(fd);
    }
    ::close(dataFd);
    // Archives at the top of the folder are left alone: sends write only into their own
    // work folders, and a zip there may be a copy the worker keeps; only a marked work
    // folder is provably a send's leftover.
    return removed;
}

} // namespace kestro::transfer

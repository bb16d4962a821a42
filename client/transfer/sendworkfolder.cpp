#include "client/transfer/sendworkfolder.h"

#include "common/paths.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWorkFolder, "kestro.send.workfolder")

namespace kestro::transfer {

namespace {

const QString kPrefix = QStringLiteral("Senden-");

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

bool removeTree(const QString& path) {
    if (QDir(path).removeRecursively())
        return true;
    qCWarning(lcWorkFolder) << "cannot remove the leftover" << path;
    return false;
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
        if (fd >= 0 && stillThere(fd, path)) {
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

void SendWorkFolder::remove() {
    if (fd_ < 0)
        return;
    removeTree(path_);
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

int removeSendLeftovers(const QString& clientDataFolder) {
    int removed = 0;
    const QDir folder(clientDataFolder);
    for (const QString& name : folder.entryList({kPrefix + QLatin1Char('*')},
                                                QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = folder.filePath(name);
        const int fd = lockFolder(path);
        if (fd < 0)
            continue; // a running send holds it
        if (stillThere(fd, path) && removeTree(path)) {
            qCInfo(lcWorkFolder) << "removed the leftover of a killed send" << path;
            ++removed;
        }
        ::close(fd);
    }
    // Archives of sends from before the work folders, and the temporary file libzip
    // writes beside an archive.
    static const QRegularExpression oldArchive(
        QStringLiteral("^.+-\\d{6}-\\d{6}\\.zip(\\.\\w{6})?$"));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden)) {
        if (!oldArchive.match(name).hasMatch())
            continue;
        if (QFile::remove(folder.filePath(name))) {
            qCInfo(lcWorkFolder) << "removed the leftover archive" << name;
            ++removed;
        } else {
            qCWarning(lcWorkFolder) << "cannot remove the leftover archive" << name;
        }
    }
    return removed;
}

} // namespace kestro::transfer

#include "service/rootfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::service::rootfiles {

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool ownedByUs(const struct stat& st) {
    return st.st_uid == 0 || st.st_uid == ::geteuid();
}

// A regular file opened for reading that is neither followed through a link nor waited
// for (a FIFO would block the open).
int openRegular(const QString& path, struct stat* st, QString* why) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = path + QStringLiteral(": ") + systemError();
        return -1;
    }
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        *why = path + QStringLiteral(": not a regular file");
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Creates a new file beside `target`, lets `fill` write it, and renames it over the target.
bool installWith(const QString& target, mode_t mode, QString* why,
                 const std::function<bool(int fd)>& fill) {
    const QFileInfo info(target);
    QByteArray pattern =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) + ".XXXXXX";
    // mkostemp creates with O_EXCL: nothing that already exists, a link included, is used.
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = target + QStringLiteral(": ") + systemError();
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && fill(fd) && ::fsync(fd) == 0;
    if (!ok)
        *why = target + QStringLiteral(": ") + systemError();
    if (::close(fd) != 0 && ok) {
        *why = target + QStringLiteral(": ") + systemError();
        ok = false;
    }
    if (ok && ::rename(pattern.constData(), QFile::encodeName(target).constData()) != 0) {
        *why = target + QStringLiteral(": ") + systemError();
        ok = false;
    }
    if (!ok)
        ::unlink(pattern.constData());
    return ok;
}

} // namespace

std::optional<QString> trustedFolder(const QString& path, QString* why) {
    char* resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    if (!resolved) {
        *why = path + QStringLiteral(": ") + systemError();
        return std::nullopt;
    }
    const QByteArray real(resolved);
    std::free(resolved);
    // Every folder from the root down to the folder itself.
    QList<QByteArray> chain{QByteArray("/")};
    for (qsizetype slash = real.indexOf('/', 1); slash > 0; slash = real.indexOf('/', slash + 1))
        chain.append(real.left(slash));
    if (real != "/")
        chain.append(real);
    for (const QByteArray& folder : chain) {
        struct stat st {};
        if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || !ownedByUs(st) ||
            (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            *why = QFile::decodeName(folder) +
                   QStringLiteral(" is not a folder owned by root that only root may change");
            return std::nullopt;
        }
    }
    return QFile::decodeName(real);
}

bool ensurePrivateFolder(const QString& path, QString* why) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *why = path + QStringLiteral(": ") + systemError();
        return false;
    }
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        *why = path + QStringLiteral(" is not a folder of this service's own");
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        *why = path + QStringLiteral(": ") + systemError();
        return false;
    }
    return true;
}

bool readRegularFile(const QString& path, QByteArray* out, qint64 maxBytes, QString* why) {
    struct stat st {};
    const int fd = openRegular(path, &st, why);
    if (fd < 0)
        return false;
    out->clear();
    bool ok = st.st_size <= maxBytes;
    if (!ok)
        *why = path + QStringLiteral(": larger than %1 bytes").arg(maxBytes);
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || out->size() + n > maxBytes) {
            *why = path + QStringLiteral(": cannot be read whole");
            ok = false;
            break;
        }
        out->append(buffer, n);
    }
    ::close(fd);
    return ok;
}

bool installCopy(const QString& source, const QString& target, mode_t mode, QString* why) {
    struct stat st {};
    const int in = openRegular(source, &st, why);
    if (in < 0)
        return false;
    const bool ok = installWith(target, mode, why, [in](int out) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n == 0)
                return true;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || !writeAll(out, buffer, size_t(n)))
                return false;
        }
    });
    ::close(in);
    return ok;
}

bool installBytes(const QByteArray& bytes, const QString& target, mode_t mode, QString* why) {
    return installWith(target, mode, why, [&bytes](int fd) {
        return writeAll(fd, bytes.constData(), size_t(bytes.size()));
    });
}

} // namespace kestro::service::rootfiles

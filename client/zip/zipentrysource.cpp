#include "client/zip/zipentrysource.h"

#include "client/zip/zipdeflate.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::zip {

namespace {

constexpr qsizetype kSniffBytes = 64;

qint64 mtimeNsOf(const struct stat& st) {
    return qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool sameVersion(const struct stat& st, const PlannedFile& file) {
    return quint64(st.st_size) == file.size && mtimeNsOf(st) == file.mtimeNs &&
           st.st_dev == file.device && st.st_ino == file.inode;
}

// Reads exactly n bytes unless the file ends first; returns the count read or -1.
qint64 readFully(int fd, char* buffer, qint64 n) {
    qint64 done = 0;
    while (done < n) {
        const ssize_t got = ::read(fd, buffer + done, size_t(n - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

class EntryStream {
public:
    EntryStream(PlannedFile& file, SourceContext& context) : file_(file), context_(context) {
        zip_error_init(&error_);
    }
    ~EntryStream() {
        closeFile();
        zip_error_fini(&error_);
    }

    zip_int64_t command(void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            return open() ? 0 : -1;
        case ZIP_SOURCE_READ:
            return read(static_cast<char*>(data), length);
        case ZIP_SOURCE_CLOSE:
            closeFile();
            return 0;
        case ZIP_SOURCE_STAT:
            return stat(static_cast<zip_stat_t*>(data));
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, length);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                  ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

private:
    bool fail(PlannedFile::State state, const QString& problem, int zipError, int sysError = 0) {
        file_.state = state;
        file_.problem = problem;
        zip_error_set(&error_, zipError, sysError);
        return false;
    }
    bool changed(const QString& how) {
        return fail(PlannedFile::State::Changed, how, ZIP_ER_CHANGED);
    }

    bool open() {
        closeFile();
        remaining_ = file_.size;
        out_.clear();
        outPos_ = 0;
        complete_ = false;
        verified_ = false;
        if (context_.startingEntry && context_.startingEntry(file_))
            return fail(PlannedFile::State::Cancelled, QStringLiteral("cancelled"),
                        ZIP_ER_CANCELLED);
        fd_ = ::open(QFile::encodeName(file_.sourcePath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            const int err = errno;
            if (err == ENOENT)
                return changed(QStringLiteral("removed while the archive was written"));
            return fail(PlannedFile::State::Unreadable, errnoText(), ZIP_ER_OPEN, err);
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !sameVersion(st, file_))
            return changed(QStringLiteral("changed before it was packed"));
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        if (file_.deflate)
            deflater_ = std::make_unique<ParallelDeflater>(*context_.pool, context_.level,
                                                           2 * context_.pool->maxThreadCount() + 2);
        return true;
    }

    // Called once the planned number of bytes has been read: the file must end here and
    // still be the very file that was planned.
    bool verifyEnd() {
        verified_ = true;
        char extra = 0;
        if (readFully(fd_, &extra, 1) != 0)
            return changed(QStringLiteral("grew while it was packed"));
        struct stat now {};
        if (::fstat(fd_, &now) != 0 || !sameVersion(now, file_))
            return changed(QStringLiteral("changed while it was packed"));
        struct stat onDisk {};
        if (::stat(QFile::encodeName(file_.sourcePath).constData(), &onDisk) != 0 ||
            onDisk.st_dev != file_.device || onDisk.st_ino != file_.inode)
            return changed(QStringLiteral("removed or replaced while it was packed"));
        return true;
    }

    bool aborted() {
        if (!context_.abort || !context_.abort->load())
            return false;
        fail(PlannedFile::State::Cancelled, QStringLiteral("aborted"), ZIP_ER_CANCELLED);
        return true;
    }

    zip_int64_t read(char* data, zip_uint64_t length) {
        if (aborted())
            return -1;
        return file_.deflate ? readDeflated(data, length) : readStored(data, length);
    }

    zip_int64_t readStored(char* data, zip_uint64_t length) {
        if (remaining_ == 0) {
            if (!verified_ && !verifyEnd())
                return -1;
            finish(file_.size);
            return 0;
        }
        const qint64 want = qint64(std::min<quint64>(length, remaining_));
        const qint64 got = readFully(fd_, data, want);
        if (got < 0) {
            fail(PlannedFile::State::Unreadable, errnoText(), ZIP_ER_READ, errno);
            return -1;
        }
        if (got < want) {
            changed(QStringLiteral("shrank while it was packed"));
            return -1;
        }
        remaining_ -= quint64(got);
        report(quint64(got));
        return got;
    }

    zip_int64_t readDeflated(char* data, zip_uint64_t length) {
        while (outPos_ >= out_.size()) {
            if (!queueInput())
                return -1;
            if (!deflater_->hasPending()) {
                finish(compressed_);
                return 0;
            }
            DeflatedChunk chunk = deflater_->takeNext();
            if (!chunk.ok) {
                fail(PlannedFile::State::Unreadable, QStringLiteral("deflate failed"),
                     ZIP_ER_INTERNAL);
                return -1;
            }
            out_ = std::move(chunk.data);
            outPos_ = 0;
            compressed_ += quint64(out_.size());
            report(quint64(chunk.inputSize));
        }
        const qsizetype n = qsizetype(std::min<quint64>(length, quint64(out_.size() - outPos_)));
        std::memcpy(data, out_.constData() + outPos_, size_t(n));
        outPos_ += n;
        return n;
    }

    // Reads chunks of the file into the deflater until it is full or the file is done.
    bool queueInput() {
        while (remaining_ > 0 && !deflater_->full()) {
            const qint64 n = qint64(std::min<quint64>(quint64(kDeflateChunk), remaining_));
            QByteArray chunk(n, Qt::Uninitialized);
            const qint64 got = readFully(fd_, chunk.data(), n);
            if (got < 0)
                return fail(PlannedFile::State::Unreadable, errnoText(), ZIP_ER_READ, errno);
            if (got < n)
                return changed(QStringLiteral("shrank while it was packed"));
            remaining_ -= quint64(n);
            const bool last = remaining_ == 0;
            if (last && !verifyEnd())
                return false;
            deflater_->push(std::move(chunk), last);
        }
        return true;
    }

    zip_int64_t stat(zip_stat_t* st) {
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_MTIME;
        st->size = file_.size;
        st->mtime = time_t(file_.mtimeNs / 1000000000LL);
        st->comp_method = file_.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        if (file_.deflate && complete_) {
            st->valid |= ZIP_STAT_CRC | ZIP_STAT_COMP_SIZE;
            st->crc = deflater_ ? deflater_->crc() : 0;
            st->comp_size = compressed_;
        }
        return sizeof(*st);
    }

    void finish(quint64 compressed) {
        if (complete_)
            return;
        complete_ = true;
        if (context_.finishedEntry)
            context_.finishedEntry(file_, compressed);
    }

    void report(quint64 bytes) {
        if (context_.bytesRead)
            context_.bytesRead(bytes);
    }

    void closeFile() {
        // The deflater is kept until the next open: libzip asks for the CRC after close.
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    PlannedFile& file_;
    SourceContext& context_;
    zip_error_t error_;
    int fd_ = -1;
    quint64 remaining_ = 0;
    std::unique_ptr<ParallelDeflater> deflater_;
    QByteArray out_;
    qsizetype outPos_ = 0;
    quint64 compressed_ = 0;
    bool complete_ = false;
    bool verified_ = false;
};

zip_int64_t entryCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
    return static_cast<EntryStream*>(state)->command(data, length, cmd);
}

} // namespace

bool planFile(PlannedFile& file) {
    const QByteArray path = QFile::encodeName(file.sourcePath);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        file.problem = errnoText();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        file.problem = QStringLiteral("not a regular file");
        return false;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        file.problem = errnoText();
        return false;
    }
    QByteArray head(kSniffBytes, Qt::Uninitialized);
    const qint64 got = readFully(fd, head.data(), head.size());
    ::close(fd);
    head.truncate(std::max<qint64>(got, 0));
    file.size = quint64(st.st_size);
    file.mtimeNs = mtimeNsOf(st);
    file.device = st.st_dev;
    file.inode = st.st_ino;
    file.mode = st.st_mode;
    file.deflate = file.size > 0 && !looksAlreadyCompressed(head);
    return true;
}

zip_source_t* createEntrySource(zip_t* archive, PlannedFile& file, SourceContext& context) {
    auto* stream = new EntryStream(file, context);
    zip_source_t* source = zip_source_function(archive, entryCallback, stream);
    if (!source)
        delete stream;
    return source;
}

} // namespace kestro::zip

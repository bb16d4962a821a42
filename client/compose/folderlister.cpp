#include "client/compose/folderlister.h"

#include "client/compose/composelog.h"

#include <QElapsedTimer>
#include <QFile>
#include <dirent.h>
#include <sys/stat.h>

namespace kestro::compose {
namespace {

// A batch goes out when it is this big or this old, whichever comes first: small enough
// that the first files show at once, large enough that 20,000 files are few hand-overs.
constexpr int kBatchSize = 500;
constexpr qint64 kBatchMillis = 50;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

FolderLister::FolderLister(QObject* parent) : QObject(parent) {
    qRegisterMetaType<ListedFile>();
    qRegisterMetaType<QList<ListedFile>>();
}

FolderLister::~FolderLister() {
    stopWorker();
}

bool FolderLister::isRunning() const {
    return worker_ && worker_->isRunning();
}

void FolderLister::cancel() {
    stopWorker();
}

void FolderLister::stopWorker() {
    ++generation_;
    if (cancelled_)
        cancelled_->store(true);
    if (worker_) {
        worker_->wait();
        worker_.reset();
    }
    cancelled_.reset();
}

void FolderLister::list(const QString& folder) {
    stopWorker();
    const quint64 generation = generation_;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    cancelled_ = cancelled;
    FolderLister* self = this; // alive while the worker runs: the destructor waits for it

    // Hands a result to this object's thread; dropped there when a newer listing has
    // started in the meantime.
    auto post = [self, generation](auto&& deliver) {
        QMetaObject::invokeMethod(
            self,
            [self, generation, deliver = std::forward<decltype(deliver)>(deliver)]() {
                if (self->generation_ == generation)
                    deliver(*self);
            },
            Qt::QueuedConnection);
    };

    worker_.reset(QThread::create([folder, cancelled, post]() {
        const QByteArray encoded = QFile::encodeName(folder);
        std::unique_ptr<DIR, DirCloser> dir(opendir(encoded.constData()));
        if (!dir) {
            qCInfo(lcCompose) << "cannot list folder" << folder;
            post([folder](FolderLister& l) { Q_EMIT l.finished(Outcome::FolderMissing, folder); });
            return;
        }
        QByteArray prefix = encoded;
        if (!prefix.endsWith('/'))
            prefix += '/';

        QList<ListedFile> batch;
        QElapsedTimer sinceLastBatch;
        sinceLastBatch.start();
        auto flush = [&]() {
            if (batch.isEmpty())
                return;
            post([files = std::move(batch)](FolderLister& l) { Q_EMIT l.batchReady(files); });
            batch = {};
            sinceLastBatch.restart();
        };

        while (dirent* entry = readdir(dir.get())) {
            if (cancelled->load())
                return;
            if (entry->d_name[0] == '.')
                continue;
            if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            const QByteArray path = prefix + entry->d_name;
            struct stat info;
            if (stat(path.constData(), &info) != 0) {
                const QString name = QFile::decodeName(entry->d_name);
                qCWarning(lcCompose) << "size of" << QFile::decodeName(path)
                                     << "cannot be read; listing stops there";
                flush();
                post([name](FolderLister& l) {
                    Q_EMIT l.finished(Outcome::StoppedAtUnreadableFile, name);
                });
                return;
            }
            if (!S_ISREG(info.st_mode))
                continue;
            batch.append({QFile::decodeName(entry->d_name), static_cast<qint64>(info.st_size)});
            if (batch.size() >= kBatchSize || sinceLastBatch.elapsed() >= kBatchMillis)
                flush();
        }
        flush();
        post([](FolderLister& l) { Q_EMIT l.finished(Outcome::Complete, {}); });
    }));
    worker_->start();
}

} // namespace kestro::compose

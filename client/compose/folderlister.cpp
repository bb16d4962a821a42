#include "client/compose/folderlister.h"

#include "client/compose/composelog.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace kestro::compose {
namespace {

// The sorted list goes out in batches of this size: 20,000 files are few hand-overs, and
// the window draws between two of them.
constexpr int kBatchSize = 500;

// A character as the name order sees it: its base letter without accents ("Ä" as "a"),
// without regard to case.
char32_t folded(QChar c) {
    if (c.unicode() < 0x80)
        return QChar::toCaseFolded(c.unicode());
    const QString base = QString(c).normalized(QString::NormalizationForm_D);
    return QChar::toCaseFolded(base.isEmpty() ? c.unicode() : base.at(0).unicode());
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

bool fileNameLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            // Numbers by value: the longer run without leading zeros is the larger.
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            QStringView na = QStringView(a).mid(i, ei - i);
            QStringView nb = QStringView(b).mid(j, ej - j);
            while (na.size() > 1 && na.front() == u'0')
                na = na.mid(1);
            while (nb.size() > 1 && nb.front() == u'0')
                nb = nb.mid(1);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (const int c = na.compare(nb); c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        const char32_t ca = folded(a.at(i));
        const char32_t cb = folded(b.at(j));
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    // Names that differ only in case or accents still get a fixed order.
    return a < b;
}

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

        // The whole folder is read first and sorted by name as a file manager sorts
        // (letters without regard to case, numbers by value: "Plan 2" before "Plan 10"),
        // then handed over in batches, so that the window never waits on a long list.
        QList<ListedFile> files;
        auto deliverSorted = [&]() {
            std::stable_sort(files.begin(), files.end(),
                             [](const ListedFile& a, const ListedFile& b) {
                                 return fileNameLess(a.name, b.name);
                             });
            for (qsizetype first = 0; first < files.size(); first += kBatchSize) {
                if (cancelled->load())
                    return false;
                post([batch = files.mid(first, kBatchSize)](FolderLister& l) {
                    Q_EMIT l.batchReady(batch);
                });
            }
            return true;
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
                if (!deliverSorted())
                    return;
                post([name](FolderLister& l) {
                    Q_EMIT l.finished(Outcome::StoppedAtUnreadableFile, name);
                });
                return;
            }
            if (!S_ISREG(info.st_mode))
                continue;
            files.append({QFile::decodeName(entry->d_name), static_cast<qint64>(info.st_size)});
        }
        if (!deliverSorted())
            return;
        post([](FolderLister& l) { Q_EMIT l.finished(Outcome::Complete, {}); });
    }));
    worker_->start();
}

} // namespace kestro::compose

#include "client/zip/czip.h"

#include <QFile>

namespace kestro::zip {

namespace {

// A message from the library as the client shows it: cut at the first NUL, with "\" as
// the folder separator. Messages shorter than 2 or longer than 1023 bytes are dropped.
std::optional<QString> progressText(const QByteArray& raw) {
    if (raw.size() < 2 || raw.size() >= kNameSlots)
        return std::nullopt;
    const qsizetype nul = raw.indexOf('\0');
    QString text = QString::fromUtf8(nul < 0 ? raw : raw.left(nul));
    text.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return text;
}

} // namespace

cZip::cZip(QObject* parent) : QObject(parent) {
    setStoreDirectories(false);
    setStoreFolderNames(false);
    setRecurseSubDirs(false);
}

cZip::~cZip() {
    if (worker_) {
        Abort();
        worker_->wait();
        delete worker_;
    }
}

qint32 cZip::MessageLevel() const {
    if (options_.verbose)
        return 0;
    return options_.quiet ? 1 : 2;
}

void cZip::setMessageLevel(qint32 level) {
    if (level < 0 || level > 2)
        return;
    options_.verbose = level == 0 ? 1 : 0;
    options_.quiet = level == 1 ? 1 : 0;
}

QVariant cZip::FileSpec(qint32 index) const {
    if (index < 1 || index > FileSpecCount()) {
        qCWarning(lcZip) << "file specification" << index << "does not exist; there are"
                         << FileSpecCount();
        return {};
    }
    return specs_.at(index - 1);
}

cZip::Run cZip::snapshot() const {
    return {options_, zipFile_, specs_, password_, comment_};
}

qint32 cZip::runLibrary(const Run& run) {
    ZpUserFunctions functions;
    functions.print = [this](const QByteArray& message) {
        if (const auto text = progressText(message))
            Q_EMIT Progress(qint32(message.size()), *text);
    };
    functions.comment = [this, &run]() -> std::optional<QByteArray> {
        Q_EMIT CommentRequest();
        return run.comment;
    };
    functions.password = [this, &run]() -> std::optional<QByteArray> {
        Q_EMIT PasswordRequest();
        if (run.password.isEmpty())
            return std::nullopt;
        return run.password;
    };
    functions.service = [this](const QByteArray& name, quint64) {
        if (const auto text = progressText(name))
            Q_EMIT Cancel(*text);
        return library_.abortRequested();
    };
    functions.bytes = [this](quint64 done, quint64 total) {
        Q_EMIT BytesPacked(qint64(done), qint64(total));
    };
    library_.ZpInit(functions);
    library_.ZpSetOptions(run.options);
    // Not through the names record: a job may have more files than its 1022 slots.
    return library_.ZpArchiveList(run.specs, run.zipFile);
}

bool cZip::Zip() {
    if (IsRunning()) {
        qCWarning(lcZip) << "a packing run is still going";
        return false;
    }
    lastResult_ = 0;
    library_.resetAbort();
    lastResult_ = runLibrary(snapshot());
    report_ = library_.lastReport();
    return Success();
}

bool cZip::Delete() {
    options_.deleteEntries = 1;
    const bool ok = Zip();
    options_.deleteEntries = 0;
    return ok;
}

bool cZip::StartZip() {
    if (IsRunning())
        return false;
    lastResult_ = 0;
    report_.clear();
    library_.resetAbort();
    worker_ = QThread::create([this, run = snapshot()] {
        const qint32 result = runLibrary(run);
        QMetaObject::invokeMethod(
            this, [this, result] { onWorkerFinished(result); }, Qt::QueuedConnection);
    });
    worker_->start();
    return true;
}

void cZip::onWorkerFinished(qint32 result) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    lastResult_ = result;
    report_ = library_.lastReport();
    Q_EMIT Finished(result);
}

QStringList cZip::PackedEntryNames() const {
    QStringList names;
    for (const ZpEntryReport& r : report_)
        if (r.packed)
            names << r.entryName;
    return names;
}

qint32 cZip::PackedCount() const {
    return qint32(PackedEntryNames().size());
}

qint32 cZip::NotPackedCount() const {
    return qint32(report_.size()) - PackedCount();
}

} // namespace kestro::zip

#include "client/history/searchrunner.h"

#include "client/jobdb/database.h"

namespace kestro::history {

// Lives on the runner's thread and owns the connection it searches with, which is made,
// used and closed on that thread only.
class SearchWorker : public QObject {
    Q_OBJECT
public:
    SearchWorker(QString path, std::shared_ptr<std::atomic<quint64>> latest)
        : path_(std::move(path)), latest_(std::move(latest)) {}

    void run(quint64 generation, const QString& text) {
        SearchOutcome outcome;
        outcome.text = text;
        auto superseded = [this, generation] { return latest_->load() != generation; };
        if (superseded()) {
            outcome.cancelled = true;
        } else {
            if (!db_)
                db_ = std::make_unique<jobdb::Database>(path_);
            if (!db_->isOpen())
                outcome.error = db_->errorText();
            else
                outcome = searchJobs(db_->connection(), text, superseded);
        }
        Q_EMIT done(generation, outcome);
    }

Q_SIGNALS:
    void done(quint64 generation, const kestro::history::SearchOutcome& outcome);

private:
    QString path_;
    std::shared_ptr<std::atomic<quint64>> latest_;
    std::unique_ptr<jobdb::Database> db_;
};

SearchRunner::SearchRunner(const QString& databasePath, QObject* parent)
    : QObject(parent), latest_(std::make_shared<std::atomic<quint64>>(0)) {
    qRegisterMetaType<SearchOutcome>();
    worker_ = new SearchWorker(databasePath, latest_);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &SearchWorker::done, this, &SearchRunner::onDone, Qt::QueuedConnection);
    thread_.setObjectName(QStringLiteral("kestro-search"));
    thread_.start();
}

SearchRunner::~SearchRunner() {
    ++*latest_; // stops a running search at its next check
    thread_.quit();
    thread_.wait();
}

void SearchRunner::search(const QString& text) {
    const quint64 generation = ++*latest_;
    busy_ = true;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, generation, text] { worker->run(generation, text); },
        Qt::QueuedConnection);
}

void SearchRunner::onDone(quint64 generation, const SearchOutcome& outcome) {
    if (generation != latest_->load())
        return; // superseded: its hits are dropped
    busy_ = false;
    Q_EMIT finished(outcome);
}

} // namespace kestro::history

#include "searchrunner.moc"

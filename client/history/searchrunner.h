#pragma once

#include "client/history/jobsearch.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

namespace kestro::history {

class SearchWorker;

// Runs job searches off the caller's thread, on a connection of its own to the database
// file. Each search() supersedes the one before: a search still waiting is skipped, one
// still running is stopped inside the engine, and only the newest search's outcome is
// reported. The worker thread ends with this object.
class SearchRunner : public QObject {
    Q_OBJECT
public:
    explicit SearchRunner(const QString& databasePath, QObject* parent = nullptr);
    ~SearchRunner() override;

    void search(const QString& text);
    // True from search() until the newest search has reported.
    bool isBusy() const { return busy_; }

Q_SIGNALS:
    // The newest search has ended (with hits, or with an error the worker should see).
    void finished(const kestro::history::SearchOutcome& outcome);

private:
    void onDone(quint64 generation, const kestro::history::SearchOutcome& outcome);

    QThread thread_;
    std::shared_ptr<std::atomic<quint64>> latest_;
    SearchWorker* worker_ = nullptr; // lives on thread_, deleted when it ends
    bool busy_ = false;
};

} // namespace kestro::history

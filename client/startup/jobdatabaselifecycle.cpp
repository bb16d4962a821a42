#include "client/startup/jobdatabaselifecycle.h"

#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/pendingrecords.h"
#include "client/jobdb/rebuild.h"
#include "client/jobdb/schema.h"
#include "client/startup/startuplog.h"
#include "common/logging.h"

namespace kestro::startup {
namespace {

class JobDatabaseLifecycle : public DatabaseLifecycle {
public:
    explicit JobDatabaseLifecycle(Prompter& prompter) : prompter_(prompter) {}

    void recoverInterrupted(const QString& path) override { jobdb::finishInterruptedSwap(path); }

    CreationResult create(const QString& path) override {
        const jobdb::CreationOutcome outcome = jobdb::createDatabase(path, prompter_);
        CreationResult result;
        result.path = outcome.databasePath.isEmpty() ? path : outcome.databasePath;
        result.pathChosen = result.path != path;
        switch (outcome.kind) {
        case jobdb::CreationOutcome::Kind::Created:
            result.outcome = Creation::Created;
            break;
        case jobdb::CreationOutcome::Kind::ChoseExisting:
            result.outcome = Creation::ChoseExisting;
            result.pathChosen = true;
            break;
        case jobdb::CreationOutcome::Kind::Cancelled:
            result.outcome = Creation::Cancelled;
            break;
        case jobdb::CreationOutcome::Kind::Failed:
            // The engine error has been shown; the window opens without the database,
            // as when the file cannot be opened.
            result.outcome = Creation::Failed;
            break;
        }
        return result;
    }

    bool isCurrentVersion(const QString& path) override { return jobdb::versionMatches(path); }

    bool rebuildAndSwap(const QString& path) override {
        return jobdb::rebuildDatabase(path, prompter_).swapped;
    }

    QStringList recordPendingJobs(const QString& path, const QString& clientDataFolder) override {
        const jobdb::Database db(path);
        const jobdb::PendingReport report = jobdb::recordPendingJobs(db, clientDataFolder);
        QStringList lines;
        for (const qint32 number : report.recorded)
            lines << jobdb::pendingRecordedText(number);
        if (!report.recorded.isEmpty())
            qCInfo(lcStartup) << "recorded the waiting jobs" << report.recorded;
        if (!report.waiting.isEmpty()) {
            qCWarning(lcStartup) << "jobs still waiting to be recorded:" << report.waiting;
            lines << jobdb::stillWaitingText(report.waiting);
        }
        return lines;
    }

private:
    Prompter& prompter_;
};

} // namespace

std::unique_ptr<DatabaseLifecycle> makeJobDatabaseLifecycle(Prompter& prompter) {
    return std::make_unique<JobDatabaseLifecycle>(prompter);
}

} // namespace kestro::startup

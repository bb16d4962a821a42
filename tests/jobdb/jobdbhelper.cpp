// A separate process for the job database tests:
//   jobdb_helper rebuild <database>            rebuilds the file (a test kills it mid-way)
//   jobdb_helper record <database> <jobs> <tag> records jobs of three files each
//   jobdb_helper reserve <database> <count>     reserves job numbers, one transaction each
// It prints "READY" when it starts working and "DONE" at the end.
#include "client/jobdb/database.h"
#include "client/jobdb/jobrecords.h"
#include "client/jobdb/rebuild.h"
#include "common/prompter.h"

#include <QCoreApplication>
#include <QDate>
#include <cstdio>

using namespace kestro;

namespace {

int record(const QString& path, int jobs, const QString& tag) {
    jobdb::Database db(path);
    if (!db.isOpen())
        return 2;
    jobdb::JobStore store(db);
    compose::JobSnapshot job{{}, {}, QDate(2026, 12, 6), "Sofort", {}, {}};
    for (const char* number : {"1", "2", "3"})
        job.files << compose::FileRow{number, tag + ".pdf", "1", "sw", {}, {}, {}, "/tmp/" + tag};
    for (int i = 0; i < jobs; ++i) {
        const auto number = store.nextJobNumber();
        if (!number)
            return 3;
        job.remarks = tag + QString::number(i);
        const auto r = store.recordJob(job, {}, jobdb::PreparedJob{*number, {}, {}, {}}, "120000",
                                       QDate(2026, 12, 6), path);
        if (!r.ok) {
            std::fprintf(stderr, "record failed: %s\n", qPrintable(r.error));
            return 4;
        }
    }
    return 0;
}

int reserve(const QString& path, int count) {
    jobdb::Database db(path);
    if (!db.isOpen())
        return 2;
    const jobdb::JobStore store(db);
    for (int i = 0; i < count; ++i) {
        QString error;
        if (!store.reserveJobNumber(&error)) {
            std::fprintf(stderr, "reserve failed: %s\n", qPrintable(error));
            return 4;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 1;
    std::printf("READY\n");
    std::fflush(stdout);
    int rc = 1;
    if (args[1] == QLatin1String("rebuild")) {
        ScriptedPrompter prompter;
        rc = jobdb::rebuildDatabase(args[2], prompter).swapped ? 0 : 5;
    } else if (args[1] == QLatin1String("record") && args.size() >= 5) {
        rc = record(args[2], args[3].toInt(), args[4]);
    } else if (args[1] == QLatin1String("reserve") && args.size() >= 4) {
        rc = reserve(args[2], args[3].toInt());
    }
    std::printf("DONE\n");
    std::fflush(stdout);
    return rc;
}

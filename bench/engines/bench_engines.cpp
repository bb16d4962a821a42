// Figures for the job database on both engines, in one run:
//   - eight processes each reserving and recording 500 jobs of three files into one database,
//     on a local SQLite file and on a local PostgreSQL server (started here with initdb and
//     pg_ctl, as nobody when run as root): jobs per second over all, and a check that no job
//     number is taken twice or missing and every row is present;
//   - on the server, the search over 100,000 jobs and 300,000 file rows for a text found in
//     40 jobs and for one found nowhere: median and slowest of 20, with the trigram index.
// Usage: bench_engines             (runs everything)
//        bench_engines record DATABANK JOBS TAG   (one recording process; used by the run)
#include "client/history/jobsearch.h"
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobrecords.h"
#include "client/jobdb/searchindex.h"
#include "common/prompter.h"
#include "support/pgserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace kestro;

namespace {

constexpr int kProcesses = 8;
constexpr int kJobsEach = 500;
constexpr int kFilesPerJob = 3;
constexpr int kSearchJobs = 100000;
constexpr int kRuns = 20;

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "bench_engines: %s\n", qPrintable(what));
    std::exit(1);
}

// One workstation's sends, as the send pipeline records them: reserve, then record.
int record(const QString& databank, int jobs, const QString& tag) {
    const jobdb::Database db(databank);
    if (!db.isOpen())
        return 2;
    const jobdb::JobStore store(db);
    for (int i = 0; i < jobs; ++i) {
        QString error;
        QElapsedTimer waited;
        waited.start();
        const auto number = store.reserveJobNumber(&error);
        if (!number) {
            std::fprintf(stderr, "reserve after %lld ms: %s\n",
                         static_cast<long long>(waited.elapsed()), qPrintable(error));
            return 3;
        }
        jobdb::JobRows rows;
        rows.jobNumber = *number;
        rows.job = {
            {QStringLiteral("JobNumber"), *number},
            {QStringLiteral("Projekt"), QStringLiteral("1 | ") + tag},
            {QStringLiteral("Datum"), QStringLiteral("07.12.26")},
            {QStringLiteral("Uhrzeit"), QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0'))},
            {QStringLiteral("Memo"), tag + QString::number(i)}};
        for (int f = 1; f <= kFilesPerJob; ++f)
            rows.files << jobdb::JobRows::Values{
                {QStringLiteral("JobNumber"), *number},
                {QStringLiteral("FileNumber"), f},
                {QStringLiteral("Filename"),
                 QStringLiteral("%1-%2-%3.pdf").arg(tag).arg(i).arg(f)}};
        const jobdb::RecordResult r = store.storeJobRows(rows);
        if (!r.ok) {
            std::fprintf(stderr, "record: %s\n", qPrintable(r.error));
            return 4;
        }
    }
    return 0;
}

qint64 scalar(const jobdb::Database& db, const QString& sql) {
    QSqlQuery q(db.connection());
    if (!q.exec(sql) || !q.next())
        fail(sql + QStringLiteral(": ") + q.lastError().text());
    return q.value(0).toLongLong();
}

void recordingRun(const QString& engine, const QString& databank) {
    ScriptedPrompter quiet;
    if (!jobdb::createAllTables(databank, quiet))
        fail(QStringLiteral("tables not made on ") + databank);
    std::vector<std::unique_ptr<QProcess>> workers;
    QElapsedTimer t;
    t.start();
    for (int p = 0; p < kProcesses; ++p) {
        workers.push_back(std::make_unique<QProcess>());
        workers.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        workers.back()->start(QCoreApplication::applicationFilePath(),
                              {QStringLiteral("record"), databank, QString::number(kJobsEach),
                               QStringLiteral("ws%1").arg(p)});
    }
    for (auto& w : workers)
        if (!w->waitForFinished(600000) || w->exitCode() != 0)
            fail(engine + QStringLiteral(": a recording process failed"));
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    const int jobs = kProcesses * kJobsEach;
    const jobdb::Database db(databank);
    const bool ok =
        scalar(db, QStringLiteral("SELECT count(*) FROM JobDaten")) == jobs &&
        scalar(db, QStringLiteral("SELECT count(DISTINCT JobNumber) FROM JobDaten")) == jobs &&
        scalar(db, QStringLiteral("SELECT min(JobNumber) FROM JobDaten")) == 1 &&
        scalar(db, QStringLiteral("SELECT max(JobNumber) FROM JobDaten")) == jobs &&
        scalar(db, QStringLiteral("SELECT count(*) FROM FileDaten")) == jobs * kFilesPerJob &&
        scalar(db, QStringLiteral("SELECT count(DISTINCT LaufNR) FROM FileDaten")) ==
            jobs * kFilesPerJob &&
        scalar(db, QStringLiteral("SELECT count(*) FROM (SELECT JobNumber FROM FileDaten GROUP "
                                  "BY JobNumber HAVING count(*) <> 3) x")) == 0 &&
        scalar(db, QStringLiteral("SELECT count(*) FROM JobReserviert")) == 0;
    std::printf("%-10s %d processes x %d jobs of %d files: %.1f s, %.0f jobs/s, numbers %s\n",
                qPrintable(engine), kProcesses, kJobsEach, kFilesPerJob, seconds, jobs / seconds,
                ok ? "unique and complete, every row present" : "WRONG");
    if (!ok)
        fail(engine + QStringLiteral(": rows missing or numbers taken twice"));
}

void fillForSearch(const QString& databank) {
    ScriptedPrompter quiet;
    if (!jobdb::createAllTables(databank, quiet))
        fail(QStringLiteral("tables not made"));
    const jobdb::Database db(databank);
    QSqlQuery q(db.connection());
    // The server makes the rows itself; the texts are those of the SQLite search benchmark.
    const QString jobs =
        QStringLiteral(
            "INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, \"user\", PCName, "
            "Name, "
            "Street, plz, PfadFile, Datum, Uhrzeit, LieferNr, LieferName1, LieferName2, "
            "LieferStreet, LieferOrt, LieferAnspr, Memo) SELECT j, 'KST-4711', (j %% 300) || ' | "
            "Projekt ' || (j %% 300), '6.12.2026 - 10 : 00', 'anna', 'buero-3', 'Müller & Söhne "
            "GmbH', 'Hauptstraße 5', '80331 München', '/srv/kestro/jobs.mdb', '06.12.26', "
            "'101530', "
            "'1', 'Baustelle Nord', 'Halle 3', 'Industriestraße 12', '85748 Garching', 'Jörg "
            "Weiß', "
            "CASE WHEN j %% 2500 = 0 THEN 'Bitte Quarz beachten, Auftrag ' || j ELSE 'Bitte bis "
            "Freitag liefern, Auftrag ' || j END FROM generate_series(1, %1) j")
            .arg(kSearchJobs)
            .replace(QStringLiteral("%%"), QStringLiteral("%"));
    const QString files =
        QStringLiteral(
            "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, FilePath, Anzahl, "
            "Color, "
            "Verarbeitung1, Verarbeitung3, Datum) SELECT (j - 1) * 3 + f, j, f, 'plan-' || j || "
            "'-' "
            "|| f || '.pdf', '/home/anna/Pläne/Auftrag ' || j || '/plan-' || j || '-' || f || "
            "'.pdf', 2, 'farbig', 'heften', 'falzen', '06.12.2026' FROM generate_series(1, %1) j, "
            "generate_series(1, 3) f ORDER BY j, f")
            .arg(kSearchJobs);
    if (!q.exec(jobs) || !q.exec(files) || !q.exec(QStringLiteral("ANALYZE")))
        fail(q.lastError().text());
    QString error;
    if (!jobdb::ensureSearchIndex(db.connection(), &error) ||
        !jobdb::hasSearchIndex(db.connection()))
        fail(QStringLiteral("no trigram index: ") + error);
}

void searchRun(const QString& databank) {
    const jobdb::Database db(databank);
    for (const QString& text : {QStringLiteral("Quarz"), QStringLiteral("Wqzpx")}) {
        std::vector<double> times;
        qsizetype hits = 0;
        for (int i = 0; i < kRuns; ++i) {
            QElapsedTimer t;
            t.start();
            const auto outcome = history::searchJobs(db.connection(), text);
            times.push_back(double(t.nsecsElapsed()) / 1e6);
            if (!outcome.error.isEmpty())
                fail(outcome.error);
            hits = outcome.hits.size();
        }
        std::sort(times.begin(), times.end());
        std::printf("PostgreSQL search \"%s\" over %d jobs / %d file rows: %lld hits, median "
                    "%.1f ms, slowest %.1f ms\n",
                    qPrintable(text), kSearchJobs, kSearchJobs * kFilesPerJob,
                    static_cast<long long>(hits), times[times.size() / 2], times.back());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("record"))
        return record(args[2], args[3].toInt(), args[4]);

    QTemporaryDir temp;
    recordingRun(QStringLiteral("SQLite"), temp.filePath(QStringLiteral("jobs.mdb")));

    test::PgServer server;
    QString why;
    if (!server.start(&why))
        fail(QStringLiteral("PostgreSQL did not start: ") + why);
    recordingRun(QStringLiteral("PostgreSQL"), server.createDatabase(QStringLiteral("record")));
    const QString search = server.createDatabase(QStringLiteral("search"));
    QElapsedTimer t;
    t.start();
    fillForSearch(search);
    std::printf("PostgreSQL search database filled and indexed in %.0f ms\n",
                double(t.nsecsElapsed()) / 1e6);
    searchRun(search);
    return 0;
}

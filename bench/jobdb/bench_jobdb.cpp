// Figures for the job database:
//   - rebuild of a 1.0.40 file with 100,000 jobs and 300,000 file rows (time, peak memory of
//     the rebuilding process, every row present), next to sqlite3's own ".backup" of the file;
//   - record job of a 100-file job into that database;
//   - loading the project list with 30,000 projects, by number and by name.
// Usage: bench_jobdb [work folder]   (a temporary folder by default)
// The rebuild runs in a child process (this program with "--rebuild <file>") so that its peak
// memory is measured alone.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobrecords.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/rebuild.h"
#include "common/prompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace kestro;
using namespace kestro::jobdb;

namespace {

constexpr int kJobs = 100000;
constexpr int kFilesPerJob = 3;
constexpr int kProjects = 30000;

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "bench_jobdb: %s\n", qPrintable(what));
    std::exit(1);
}

void exec(QSqlQuery& q) {
    if (!q.exec())
        fail(q.lastQuery() + QStringLiteral(": ") + q.lastError().text());
}

// A file as version 1.0.40 left it: the seven tables, full of jobs and files.
void makeOldFile(const QString& path) {
    ScriptedPrompter quiet;
    if (!createAllTables(path, quiet, QStringLiteral("1.0.40")))
        fail(QStringLiteral("cannot create ") + path);
    Database db(path);
    QSqlQuery q(db.connection());
    q.exec(QStringLiteral("BEGIN"));
    q.prepare(QStringLiteral(
        "INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, \"User\", PCName, Name, "
        "Street, plz, Anspr, Telefon, EMail, Datum, Uhrzeit, LieferNr, LieferName1, Memo) "
        "VALUES (?, 'KST-4711', ?, '6.12.2026 - 10 : 00', 'anna', 'buero-3', 'Müller & Söhne "
        "GmbH', 'Hauptstraße 5', '80331 München', 'Jörg Weiß', '089 123-0', "
        "'info@mueller.example', '06.12.26', '101530', '1', 'Baustelle Nord', ?)"));
    for (int j = 1; j <= kJobs; ++j) {
        q.addBindValue(j);
        q.addBindValue(QStringLiteral("%1 | Projekt %1").arg(j % 300));
        q.addBindValue(QStringLiteral("Bitte bis Freitag liefern, Auftrag %1").arg(j));
        exec(q);
    }
    q.prepare(QStringLiteral(
        "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, FilePath, Anzahl, Color, "
        "Verarbeitung1, Verarbeitung3, Datum) VALUES (?, ?, ?, ?, ?, 2, 'farbig', 'heften', "
        "'falzen', '06.12.2026')"));
    int lauf = 0;
    for (int j = 1; j <= kJobs; ++j) {
        for (int f = 1; f <= kFilesPerJob; ++f) {
            q.addBindValue(++lauf);
            q.addBindValue(j);
            q.addBindValue(f);
            q.addBindValue(QStringLiteral("plan-%1-%2.pdf").arg(j).arg(f));
            q.addBindValue(
                QStringLiteral("/home/anna/Pläne/Auftrag %1/plan-%1-%2.pdf").arg(j).arg(f));
            exec(q);
        }
    }
    q.exec(QStringLiteral("COMMIT"));
}

qint64 count(const QString& path, const QString& table) {
    Database db(path);
    QSqlQuery q(db.connection());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM ") + table) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

double elapsedMs(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

void benchRebuild(const QString& folder) {
    const QString path = folder + QStringLiteral("/jobs.mdb");
    QElapsedTimer t;
    t.start();
    makeOldFile(path);
    std::printf("setup: 1.0.40 file with %d jobs and %d file rows, %.1f MB, built in %.0f ms\n",
                kJobs, kJobs * kFilesPerJob, double(QFile(path).size()) / 1048576.0, elapsedMs(t));

    // The standard tool copying the same file, for comparison.
    const QString copy = folder + QStringLiteral("/backup.mdb");
    t.restart();
    const int sqliteRc = QProcess::execute(QStringLiteral("sqlite3"),
                                           {path, QStringLiteral(".backup '%1'").arg(copy)});
    const double sqliteMs = elapsedMs(t);

    t.restart();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--rebuild"), path});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        fail(QStringLiteral("rebuild failed: ") +
             QString::fromLocal8Bit(child.readAllStandardError()));
    const double rebuildMs = elapsedMs(t);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);

    const qint64 jobs = count(path, QStringLiteral("JobDaten"));
    const qint64 files = count(path, QStringLiteral("FileDaten"));
    std::printf("rebuild: %.0f ms (target < 15000 ms), peak RSS of the rebuilding process "
                "%.1f MB (target < 200 MB)\n",
                rebuildMs, double(usage.ru_maxrss) / 1024.0);
    std::printf("rebuild: %lld of %d jobs and %lld of %d file rows present, version %s, "
                "backup %s\n",
                jobs, kJobs, files, kJobs * kFilesPerJob, versionMatches(path) ? "1.0.41" : "WRONG",
                QFile::exists(backupPath(path)) ? "kept" : "MISSING");
    if (sqliteRc == 0)
        std::printf("compare: sqlite3 .backup of the same file %.0f ms; rebuild/backup ratio "
                    "%.1f\n",
                    sqliteMs, rebuildMs / sqliteMs);

    // Record job of a 100-file job into the full database.
    Database db(path);
    JobStore store(db);
    compose::JobSnapshot job;
    job.project = QStringLiteral("4 | Neubau");
    job.deadlineDate = QDate(2026, 12, 24);
    job.deadlineTime = QStringLiteral("10 : 00");
    job.remarks = QStringLiteral("Benchmark");
    for (int f = 1; f <= 100; ++f)
        job.files << compose::FileRow{
            QString::number(f),       QStringLiteral("plan-%1.pdf").arg(f),
            QStringLiteral("2"),      QStringLiteral("farbig"),
            QStringLiteral("heften"), {},
            QStringLiteral("falzen"), QStringLiteral("/home/anna/plan-%1.pdf").arg(f)};
    MasterData master;
    master.name = QStringLiteral("Müller & Söhne GmbH");
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        t.restart();
        PreparedJob prepared;
        prepared.jobNumber = store.nextJobNumber().value_or(0);
        const RecordResult r = store.recordJob(job, master, prepared, QStringLiteral("101530"),
                                               QDate::currentDate(), path);
        times.push_back(elapsedMs(t));
        if (!r.ok)
            fail(QStringLiteral("record job failed: ") + r.error);
    }
    std::sort(times.begin(), times.end());
    std::printf("record job (100 files, %d jobs / %d file rows in the file): median %.1f ms, "
                "max %.1f ms (target < 500 ms)\n",
                kJobs, kJobs * kFilesPerJob, times[times.size() / 2], times.back());
}

void benchProjects(const QString& folder) {
    const int projectCount = qEnvironmentVariableIntValue("BENCH_JOBDB_PROJECTS") > 0
                                 ? qEnvironmentVariableIntValue("BENCH_JOBDB_PROJECTS")
                                 : kProjects;
    const QString path = folder + QStringLiteral("/projects.mdb");
    ScriptedPrompter quiet;
    createAllTables(path, quiet);
    {
        Database db(path);
        QSqlQuery q(db.connection());
        q.exec(QStringLiteral("BEGIN"));
        q.prepare(
            QStringLiteral("INSERT INTO Projekte (ProNumber, Name1, Name2, Street, plzOrt) "
                           "VALUES (?, ?, 'Bauabschnitt 2', 'Hauptstraße 5', '80331 München')"));
        for (int p = 1; p <= projectCount; ++p) {
            q.addBindValue(p);
            q.addBindValue(QStringLiteral("%1 Projekt Übersee %2")
                               .arg(QChar(u'A' + (p * 7919) % 26))
                               .arg((qint64(p) * 104729) % 100000));
            exec(q);
        }
        q.exec(QStringLiteral("COMMIT"));
    }
    Database db(path);
    for (const auto& [flag, label] : {std::pair{QStringLiteral("0"), "by number"},
                                      std::pair{QStringLiteral("1"), "by name 1"}}) {
        std::vector<double> times;
        qsizetype n = 0;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer t;
            t.start();
            n = loadProjectLabels(db, flag).size();
            times.push_back(elapsedMs(t));
        }
        std::sort(times.begin(), times.end());
        std::printf("project list %s: %lld labels, median %.1f ms (target < 1000 ms)\n", label,
                    static_cast<long long>(n), times[2]);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--rebuild")) {
        ScriptedPrompter quiet;
        const bool ok = rebuildDatabase(args[2], quiet).swapped;
        for (const auto& s : quiet.shown)
            std::fprintf(stderr, "%s\n", qPrintable(s.text));
        return ok ? 0 : 1;
    }
    QTemporaryDir temp;
    const QString folder = args.size() > 1 ? args[1] : temp.path();
    if (!qEnvironmentVariableIsSet("BENCH_JOBDB_SKIP_REBUILD"))
        benchRebuild(folder);
    benchProjects(folder);
    return 0;
}

// Figures for the job history, on a database of 100,000 jobs and 300,000 file rows:
//   - a search for a five-letter text found in 40 jobs and for one found nowhere, in the
//     process (with the substring index and with a plain scan), median and slowest of 20;
//   - the same searches as whole processes: `kestro-jobs search` against the sqlite3
//     program running the plain statements (LIKE over the fourteen columns, then over the
//     file names) on the same file;
//   - building the index for the file; opening the browser; one step; loading a job of
//     1,000 files into the main window's job area.
// Usage: bench_history [work folder]   (a temporary folder by default)
#include "client/history/historybrowser.h"
#include "client/history/jobsearch.h"
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/searchindex.h"
#include "client/ui/jobpanel.h"
#include "common/prompter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kestro;

namespace {

constexpr int kJobs = 100000;
constexpr int kFilesPerJob = 3;
constexpr int kRuns = 20;
const QString kFound = QStringLiteral("Quarz");   // in the remarks of every 2,500th job
const QString kNowhere = QStringLiteral("Wqzpx"); // in no row

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "bench_history: %s\n", qPrintable(what));
    std::exit(1);
}

void exec(QSqlQuery& q) {
    if (!q.exec())
        fail(q.lastQuery() + QStringLiteral(": ") + q.lastError().text());
}

double elapsedMs(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

struct Figures {
    double median = 0;
    double slowest = 0;
};

Figures measure(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(elapsedMs(t));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void makeFile(const QString& path) {
    ScriptedPrompter quiet;
    if (!jobdb::createAllTables(path, quiet))
        fail(QStringLiteral("cannot create ") + path);
    jobdb::Database db(path);
    QSqlQuery q(db.connection());
    q.exec(QStringLiteral("BEGIN"));
    q.prepare(QStringLiteral(
        "INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, \"User\", PCName, Name, "
        "Street, plz, PfadFile, Datum, Uhrzeit, LieferNr, LieferName1, LieferName2, "
        "LieferStreet, LieferOrt, LieferAnspr, Memo) VALUES (?, 'KST-4711', ?, "
        "'6.12.2026 - 10 : 00', 'anna', 'buero-3', 'Müller & Söhne GmbH', 'Hauptstraße 5', "
        "'80331 München', '/srv/kestro/jobs.mdb', '06.12.26', '101530', '1', "
        "'Baustelle Nord', 'Halle 3', 'Industriestraße 12', '85748 Garching', 'Jörg Weiß', ?)"));
    for (int j = 1; j <= kJobs; ++j) {
        q.addBindValue(j);
        q.addBindValue(QStringLiteral("%1 | Projekt %1").arg(j % 300));
        q.addBindValue(j % 2500 == 0
                           ? QStringLiteral("Bitte %1 beachten, Auftrag %2").arg(kFound).arg(j)
                           : QStringLiteral("Bitte bis Freitag liefern, Auftrag %1").arg(j));
        exec(q);
    }
    q.prepare(QStringLiteral(
        "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, FilePath, Anzahl, Color, "
        "Verarbeitung1, Verarbeitung3, Datum) VALUES (?, ?, ?, ?, ?, 2, 'farbig', 'heften', "
        "'falzen', '06.12.2026')"));
    int lauf = 0;
    auto addFile = [&](int job, int number) {
        q.addBindValue(++lauf);
        q.addBindValue(job);
        q.addBindValue(number);
        q.addBindValue(QStringLiteral("plan-%1-%2.pdf").arg(job).arg(number));
        q.addBindValue(
            QStringLiteral("/home/anna/Pläne/Auftrag %1/plan-%1-%2.pdf").arg(job).arg(number));
        exec(q);
    };
    for (int j = 1; j <= kJobs; ++j)
        for (int f = 1; f <= kFilesPerJob; ++f)
            addFile(j, f);
    // Gaps in the numbering, as deletes leave them, and one big job at the top.
    q.exec(QStringLiteral("DELETE FROM JobDaten WHERE JobNumber BETWEEN 99000 AND 99899"));
    q.prepare(
        QStringLiteral("INSERT INTO JobDaten (JobNumber, Projekt) VALUES (?, 'Großauftrag')"));
    q.addBindValue(kJobs + 1);
    exec(q);
    q.prepare(QStringLiteral(
        "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, FilePath, Anzahl, Color, "
        "Verarbeitung1, Verarbeitung3, Datum) VALUES (?, ?, ?, ?, ?, 2, 'farbig', 'heften', "
        "'falzen', '06.12.2026')"));
    for (int f = 1; f <= 1000; ++f)
        addFile(kJobs + 1, f);
    q.exec(QStringLiteral("COMMIT"));
}

// The Part's plain statements, as the sqlite3 program runs them.
QString plainStatements(const QString& t) {
    QStringList tests;
    for (const QString& c : jobdb::searchedJobColumns())
        tests << QStringLiteral("\"%1\" LIKE '%%2%'").arg(c, t);
    return QStringLiteral("SELECT * FROM JobDaten WHERE %1 ORDER BY JobNumber; "
                          "SELECT * FROM FileDaten WHERE Filename LIKE '%%2%' ORDER BY LaufNR;")
        .arg(tests.join(QStringLiteral(" OR ")), t);
}

Figures runProcess(const QString& program, const QStringList& args,
                   const QProcessEnvironment& env) {
    return measure(kRuns, [&] {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            fail(program + QStringLiteral(" did not finish"));
    });
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = app.arguments().size() > 1 ? app.arguments()[1] : temp.path();
    const QString path = folder + QStringLiteral("/jobs.mdb");
    QFile::remove(path);

    QElapsedTimer t;
    t.start();
    makeFile(path);
    std::printf("setup: %d jobs, %d file rows, %.1f MB, built in %.0f ms\n", kJobs,
                kJobs * kFilesPerJob + 1000, double(QFile(path).size()) / 1048576.0, elapsedMs(t));

    jobdb::Database db(path);
    for (const bool indexed : {false, true}) {
        if (indexed) {
            t.restart();
            if (!jobdb::ensureSearchIndex(db.connection()))
                fail(QStringLiteral("index not built"));
            std::printf("search index built in %.0f ms, file now %.1f MB\n", elapsedMs(t),
                        double(QFile(path).size()) / 1048576.0);
            // What every start-up and every kestro-jobs search pays on a current index.
            const Figures check = measure(kRuns, [&] {
                if (!jobdb::ensureSearchIndex(db.connection()))
                    fail(QStringLiteral("index check failed"));
            });
            std::printf("index check at opening: median %.1f ms, slowest %.1f ms\n", check.median,
                        check.slowest);
            for (const QString& table :
                 {jobdb::searchindex::JobTable, jobdb::searchindex::FileTable}) {
                const Figures integrity = measure(3, [&] {
                    QSqlQuery q(db.connection());
                    if (!q.exec(QStringLiteral("INSERT INTO %1 (%1) VALUES ('integrity-check')")
                                    .arg(table)))
                        fail(q.lastError().text());
                });
                std::printf("FTS5 integrity-check of %s: median %.0f ms\n", qPrintable(table),
                            integrity.median);
            }
        }
        for (const QString& text : {kFound, kNowhere}) {
            qsizetype hits = 0;
            bool usedIndex = false;
            const Figures f = measure(kRuns, [&] {
                const auto outcome = history::searchJobs(db.connection(), text);
                if (!outcome.error.isEmpty())
                    fail(outcome.error);
                hits = outcome.hits.size();
                usedIndex = outcome.usedIndex;
            });
            std::printf("search \"%s\" (%s): %lld hits, median %.1f ms, slowest %.1f ms "
                        "(target < 50 / 150 ms)\n",
                        qPrintable(text), usedIndex ? "index" : "plain scan",
                        static_cast<long long>(hits), f.median, f.slowest);
        }
    }

    // Whole processes on the same file: kestro-jobs against sqlite3 with the plain statements.
    QDir().mkpath(folder + QStringLiteral("/registry"));
    QFile registry(folder + QStringLiteral("/registry/HKEY_LOCAL_MACHINE.json"));
    if (!registry.open(QIODevice::WriteOnly))
        fail(QStringLiteral("registry not writable"));
    registry.write(
        QJsonDocument(QJsonObject{{QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                                   QJsonObject{{QStringLiteral("Databank"), path}}}})
            .toJson());
    registry.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VARNHOLT_REGISTRY"), folder + QStringLiteral("/registry"));
    for (const QString& text : {kFound, kNowhere}) {
        const Figures ours =
            runProcess(QStringLiteral(KESTRO_JOBS_PATH),
                       {QStringLiteral("search"), text, QStringLiteral("--json")}, env);
        const Figures sqlite =
            runProcess(QStringLiteral("sqlite3"), {path, plainStatements(text)}, env);
        std::printf("process \"%s\": kestro-jobs search median %.1f ms, slowest %.1f ms; "
                    "sqlite3 plain LIKE median %.1f ms, slowest %.1f ms; ratio %.2f\n",
                    qPrintable(text), ours.median, ours.slowest, sqlite.median, sqlite.slowest,
                    ours.median / sqlite.median);
    }

    // The browser: opening (newest job), a step over the gap of 900 deleted jobs, one plain
    // step, and loading the 1,000-file job into the job area.
    history::HistoryStore store(db);
    Figures open = measure(kRuns, [&] {
        history::HistoryBrowser browser(store);
        browser.open();
    });
    std::printf("open browser: median %.1f ms, slowest %.1f ms (target < 200 ms)\n", open.median,
                open.slowest);
    history::HistoryBrowser browser(store);
    browser.open();
    Figures step = measure(kRuns, [&] { browser.stepBack(); });
    browser.show(99900);
    Figures gap = measure(1, [&] { browser.stepBack(); });
    std::printf("step: median %.2f ms, slowest %.2f ms; over 900 missing numbers %.2f ms "
                "(target < 20 ms)\n",
                step.median, step.slowest, gap.median);
    ScriptedPrompter quiet;
    ui::JobPanel panel(quiet);
    panel.show();
    Figures load = measure(5, [&] {
        const history::BrowserView view = browser.show(kJobs + 1);
        panel.loadJob(history::reloadedJob(*view.job, *view.files));
        QApplication::processEvents();
    });
    std::printf("load a 1,000-file job into the main window: median %.1f ms, slowest %.1f ms "
                "(target < 300 ms), %d rows\n",
                load.median, load.slowest, panel.model().rowCount());
    return 0;
}

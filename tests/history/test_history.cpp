// The job history on both engines: the browser's walk and delete, and the search. What
// "Laden" carries into the job area is checked with the windows.
#include "client/history/historybrowser.h"
#include "client/history/jobsearch.h"
#include "client/history/searchrunner.h"
#include "client/jobdb/database.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/searchindex.h"
#include "history/historytestdb.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using namespace kestro;
using history::BrowserView;
using history::HistoryBrowser;
using history::SearchHit;
using test::HistoryDb;

namespace {

QString shownNumber(const BrowserView& v) {
    return v.job ? v.job->jobNumber : "-";
}

// Hits as "J<job> <project>" and "F<job> <file name>", in their order.
QStringList hitLines(const QList<SearchHit>& hits) {
    QStringList out;
    for (const SearchHit& h : hits)
        out << (h.kind == SearchHit::Kind::Job ? "J" : "F") + h.jobNumber + QLatin1Char(' ') +
                   h.text;
    return out;
}

QStringList fileNames(const BrowserView& v) {
    QStringList out;
    if (v.files)
        for (const auto& f : *v.files)
            out << f.fileName;
    return out;
}

// An empty history on each engine.
class History : public ::testing::TestWithParam<jobdb::Engine> {
protected:
    HistoryDb db{GetParam()};
};
INSTANTIATE_TEST_SUITE_P(BothEngines, History, dbtest::bothEngines(), dbtest::engineName);

// The walk jumps gaps, goes down to -1 and stops at the highest; a delete takes the files too,
// a refused one (was: shown as done, half done) leaves job and files and says why.
TEST_P(History, BrowserStepsOverGapsAndDeletesOnlyWhatTheDatabaseLets) {
    {
        const jobdb::Database c(db.path);
        history::HistoryStore s(c);
        HistoryBrowser empty(s);
        const BrowserView v = empty.open();
        EXPECT_FALSE(v.job);
        EXPECT_TRUE(v.error.isEmpty());
        EXPECT_EQ(empty.current(), 1);
        EXPECT_FALSE(empty.showsJob());
        EXPECT_FALSE(empty.stepBack().job);
        EXPECT_FALSE(empty.stepForward().job);
    }
    db.add({3, "3 | Altbau", {}, {"drei.pdf"}});
    db.add({5, "5 | Neubau", {}, {"fünf.pdf"}});
    db.add({7, "7 | Umbau", {}, {"sieben-a.pdf", "sieben-b.pdf"}});
    const jobdb::Database connection(db.path);
    history::HistoryStore store(connection);
    HistoryBrowser browser(store);
    BrowserView v = browser.open();
    EXPECT_EQ(shownNumber(v), "7");
    EXPECT_EQ(fileNames(v), QStringList({"sieben-a.pdf", "sieben-b.pdf"}));
    EXPECT_EQ(shownNumber(browser.stepBack()), "5"); // 6 is walked over
    EXPECT_EQ(shownNumber(browser.stepBack()), "3");
    v = browser.stepBack(); // below the lowest: the boxes keep job 3, the list empties
    EXPECT_FALSE(v.job);
    EXPECT_EQ(v.files, QList<compose::FileRow>());
    EXPECT_EQ(browser.current(), -1);
    EXPECT_FALSE(browser.showsJob());
    v = browser.stepForward();
    EXPECT_TRUE(browser.showsJob());
    EXPECT_EQ(shownNumber(v), "3");
    EXPECT_EQ(fileNames(v), QStringList({"drei.pdf"}));
    EXPECT_EQ(shownNumber(browser.stepForward()), "5");
    EXPECT_EQ(shownNumber(browser.stepForward()), "7");
    v = browser.stepForward(); // at the highest: nothing moves
    EXPECT_FALSE(v.job);
    EXPECT_FALSE(v.files);
    EXPECT_EQ(browser.current(), 7);
    EXPECT_EQ(shownNumber(browser.show(4)), "5") << "a hit on a gap walks up to the next job";

    // Each job with its number of file rows, and the file rows in all.
    const auto left = [&] {
        return dbtest::rowTexts(
            db.path, "SELECT CAST(j.JobNumber AS TEXT), (SELECT count(*) FROM FileDaten f "
                     "WHERE f.JobNumber = j.JobNumber) FROM JobDaten j UNION "
                     "ALL SELECT 'all', count(*) FROM FileDaten ORDER BY 1");
    };
    auto r = browser.deleteShown("5");
    EXPECT_EQ(r.step, HistoryBrowser::DeleteStep::ShowNext);
    EXPECT_EQ(shownNumber(r.view), "7");
    EXPECT_EQ(left(), (QStringList{"3|1", "7|2", "all|3"}));
    r = browser.deleteShown("7"); // the highest: deleted, and nothing moves
    EXPECT_EQ(r.step, HistoryBrowser::DeleteStep::ShowNext);
    EXPECT_FALSE(r.view.job);
    EXPECT_EQ(left(), (QStringList{"3|1", "all|1"}));
    // A job without file rows is deleted and the window closes; so does a missing job,
    // which changes nothing (its number's file rows stay).
    db.add({9, "9 | Ohne", {}, {}});
    db.addFile(11, 1, "waise.pdf");
    EXPECT_EQ(browser.deleteShown("9").step, HistoryBrowser::DeleteStep::CloseWindow);
    EXPECT_EQ(browser.deleteShown("11").step, HistoryBrowser::DeleteStep::CloseWindow);
    EXPECT_EQ(left(), (QStringList{"3|1", "all|2"}));

    if (GetParam() == jobdb::Engine::Sqlite) {
        dbtest::execSql(db.path, "CREATE TRIGGER keep BEFORE DELETE ON FileDaten "
                                 "BEGIN SELECT RAISE(ABORT, 'Datei gesperrt'); END");
    } else {
        dbtest::execSql(db.path, "CREATE RULE keep AS ON DELETE TO FileDaten DO INSTEAD "
                                 "SELECT CAST('Datei gesperrt ' || old.Filename AS INTEGER)");
    }
    r = browser.deleteShown("3");
    EXPECT_EQ(r.step, HistoryBrowser::DeleteStep::Failed);
    EXPECT_TRUE(r.error.contains("Datei gesperrt")) << r.error.toStdString();
    EXPECT_EQ(left(), (QStringList{"3|1", "all|2"}));
}

class Searching : public ::testing::TestWithParam<jobdb::Engine> {
protected:
    void SetUp() override {
        db.add({1, "1 | Müller", "Bitte falten", {"plan.pdf", "falten-anleitung.pdf"}});
        db.add({2, "2 | Neubau", "Lieferung in die strasse", {"Straße.pdf"}});
        db.add({3, "3 | O'Brien", "50% Rabatt", {"a_b.pdf", "MÜLLER-plan.pdf"}});
        db.add({4, "4 | Umbau", "ÄÖÜ groß", {"axb.pdf"}, {}, {}, "KST_9"});
    }
    QStringList hits(const QString& text, bool useIndex) {
        const auto outcome = history::searchJobs(connection.connection(), text, {}, useIndex);
        EXPECT_TRUE(outcome.error.isEmpty()) << outcome.error.toStdString();
        return hitLines(outcome.hits);
    }
    HistoryDb db{GetParam()};
    const jobdb::Database connection{db.path};
};
INSTANTIATE_TEST_SUITE_P(BothEngines, Searching, dbtest::bothEngines(), dbtest::engineName);

// The columns searched, with the index and without; the index follows every change of the rows.
// (How a text matches, umlauts and wildcards included: the matcher test.)
TEST_P(Searching, TheIndexFollowsEveryChangeOfTheRows) {
    // Cost centre, remarks, project and file names are searched; jobs, then files, newest first.
    const auto expectColumnsSearched = [&](bool withIndex) {
        SCOPED_TRACE(withIndex ? "index" : "plain");
        EXPECT_EQ(hits("KST_9", withIndex), QStringList{"J4 4 | Umbau"});
        EXPECT_EQ(hits("falten", withIndex),
                  (QStringList{"J1 1 | Müller", "F1 falten-anleitung.pdf"}));
        EXPECT_EQ(hits(" | ", withIndex), (QStringList{"J4 4 | Umbau", "J3 3 | O'Brien",
                                                       "J2 2 | Neubau", "J1 1 | Müller"}));
    };
    expectColumnsSearched(false);
    ASSERT_FALSE(jobdb::hasSearchIndex(connection.connection()));
    ASSERT_TRUE(jobdb::ensureSearchIndex(connection.connection()));
    expectColumnsSearched(true);
    // A pasted NUL is a character of the text: searched, with or without the index, alike.
    const QString withNul = QStringLiteral("Bitte") + QChar(0) + "falten";
    EXPECT_EQ(hits(withNul, true), hits(withNul, false));
    EXPECT_EQ(hits({}, true).size(), 4 + 6) << "an empty text lists every job and every file";
    EXPECT_TRUE(history::searchJobs(connection.connection(), "Müller").usedIndex);

    db.add({5, "5 | Nachtrag", "nachgetragen", {"später.pdf"}});
    EXPECT_EQ(hits("nachgetragen", true), QStringList({"J5 5 | Nachtrag"}));
    EXPECT_EQ(hits("SPÄTER", true), QStringList({"F5 später.pdf"}));
    dbtest::execSql(db.path, "UPDATE JobDaten SET Memo = 'geändert' WHERE JobNumber = 5");
    EXPECT_TRUE(hits("nachgetragen", true).isEmpty());
    EXPECT_EQ(hits("GEÄNDERT", true), QStringList({"J5 5 | Nachtrag"}));
    ASSERT_TRUE(history::HistoryStore(connection).deleteJob(5).ok());
    EXPECT_TRUE(hits("geändert", true).isEmpty());
    EXPECT_TRUE(hits("später", true).isEmpty());
    if (GetParam() == jobdb::Engine::Sqlite) {
        for (const char* table : {"JobDatenSuche", "FileDatenSuche"})
            dbtest::execSql(
                db.path,
                QStringLiteral("INSERT INTO %1 (%1) VALUES ('integrity-check')").arg(table));
    }
}

// A file opened at start-up gets its index, whether current or just rebuilt from an older
// version.
// Opened at start-up, a file gets its index: a current one without it, one just rebuilt from
// an older version, and (was: search silently missed jobs) one whose index no longer fits its
// table because the shop's IT people kept it with the sqlite3 program: a ".dump" read back
// numbers the rows afresh, a table renamed aside and copied back leaves the triggers behind.
// Every job, old or sent afterwards, is then found through the index.
TEST(SearchIndex, IsBuiltAfreshWhenItNoLongerFitsItsTable) {
    const QString sqlite3 = QStandardPaths::findExecutable("sqlite3");
    ASSERT_FALSE(sqlite3.isEmpty()) << "the sqlite3 program is part of the build's packages";
    const struct {
        const char* what;
        std::function<void(HistoryDb&)> change; // may point db.path at another file
    } drifts[] = {
        {"current file without index", {}},
        {"older version",
         [](HistoryDb& db) { dbtest::execSql(db.path, "UPDATE Version SET Version = '1.0.40'"); }},
        {"dump read back",
         [&sqlite3](HistoryDb& db) {
             ASSERT_TRUE(history::HistoryStore(jobdb::Database(db.path)).deleteJob(2).ok());
             QProcess dump;
             dump.start(sqlite3, {db.path, ".dump"});
             ASSERT_TRUE(dump.waitForFinished(30000));
             db.path = db.dir.filePath("restored.mdb");
             QProcess load;
             load.start(sqlite3, {db.path});
             ASSERT_TRUE(load.waitForStarted());
             load.write(dump.readAllStandardOutput());
             load.closeWriteChannel();
             ASSERT_TRUE(load.waitForFinished(30000));
             ASSERT_EQ(load.exitCode(), 0) << load.readAllStandardError().toStdString();
         }},
        {"table recreated",
         [](HistoryDb& db) {
             dbtest::execSql(db.path, "ALTER TABLE JobDaten RENAME TO JobDatenAlt");
             dbtest::execSql(db.path, "CREATE TABLE JobDaten AS SELECT * FROM JobDatenAlt");
         }},
    };
    for (const auto& drift : drifts) {
        SCOPED_TRACE(drift.what);
        HistoryDb db;
        for (int n = 1; n <= 6; ++n)
            db.add({n,
                    QStringLiteral("%1 | Bau").arg(n),
                    QStringLiteral("Bemerkung %1").arg(n),
                    {QStringLiteral("plan-%1.pdf").arg(n)}});
        if (drift.change) {
            ASSERT_TRUE(jobdb::ensureSearchIndex(jobdb::Database(db.path).connection()));
            drift.change(db);
        }
        ScriptedPrompter prompter;
        ASSERT_EQ(jobdb::prepareDatabase(db.path, prompter).kind,
                  jobdb::StartupDatabase::Kind::Ready);
        const jobdb::Database connection(db.path);
        db.add({7, "7 | Bau", "Bemerkung 7", {"plan-7.pdf"}});
        for (const QVariantList& row : dbtest::queryRows(db.path, "SELECT JobNumber FROM JobDaten"))
            for (const QString& n = row.value(0).toString();
                 const QString& text : {"Bemerkung " + n, QStringLiteral("plan-%1.pdf").arg(n)}) {
                SCOPED_TRACE(text.toStdString());
                const auto indexed = history::searchJobs(connection.connection(), text);
                EXPECT_TRUE(indexed.usedIndex);
                EXPECT_EQ(indexed.hits.size(), 1);
                EXPECT_EQ(
                    hitLines(indexed.hits),
                    hitLines(history::searchJobs(connection.connection(), text, {}, false).hits));
            }
    }
}

// ---- the rule, by brute force ----

// The folding a German worker expects: A-Z, the capital letters of Latin-1 without the
// multiplication sign, and the capital sharp s.
char32_t fold(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    return c == 0x1E9E ? 0xDF : c;
}

// "%" any run, "_" any one character, everything else itself after folding.
bool likeMatch(const std::u32string& p, size_t pi, const std::u32string& s, size_t si) {
    while (pi < p.size()) {
        if (p[pi] == U'%') {
            for (size_t k = si; k <= s.size(); ++k)
                if (likeMatch(p, pi + 1, s, k))
                    return true;
            return false;
        }
        if (si >= s.size())
            return false;
        if (p[pi] != U'_' && fold(p[pi]) != fold(s[si]))
            return false;
        ++pi;
        ++si;
    }
    return si == s.size();
}

bool contains(const QString& value, const QString& text) {
    const QString pattern = QLatin1Char('%') + text + QLatin1Char('%');
    return likeMatch(pattern.toStdU32String(), 0, value.toStdU32String(), 0);
}

// Values put into different searched columns of one job; files get every value as a name.
const QStringList kValues =
    QStringList{"Müller",      "MÜLLER",       "Straße",         "STRASSE", "GROẞ",
                "50% Rabatt",  "a_b",          "O'Brien",        "x[ab]y",  "*stern?",
                "C:\\pfad\\d", "😀 lacht",      "abcd",           "abcde",   "NEAR AND OR",
                "\"zitiert\"", "^dach:spalte", "ÄRGER Öl Übel",  "ÉCOLE",   "×÷ÿŸ",
                "ΣΑΣ",         "tab\there",    "zeile\numbruch", "abc",     "def"}
    << QString(240, QLatin1Char('w')); // a file path below /auftrag/ still fits its column

const QStringList kTexts =
    QStringList{"ÜLLER",   "üller",    "müller", "raße",     "RAẞE",  "rasse", "groß",  "GROẞ",
                "50%",     "%",        "_",      "a_b",      "a%b",   "[ab]",  "*",     "?",
                "\\",      "\\pfad\\", "😀",      "😀 l",      "AND",   " OR",   "NEAR",  "\"",
                "\"zit",   "^",        "dach:",  "ab",       "a",     "bcd",   "abcd",  "abcde",
                "cde",     "cd",       "c\nd",   "ärger öl", "école", "ÿ",     "Ÿ",     "σας",
                "b\th",    "e\nu",     "O'B",    "''",       "_rab%", "%%%",   "w%w%w", "GROSS",
                "STRASSE", "KST"}
    << QString(600, QLatin1Char('w')) << QString(400, QLatin1Char('W'));

// Tricky texts against a plain matcher of the rule: texts straddling two columns, wildcards,
// quotes, FTS5 words and signs, umlauts, long runs; with the index and without.
TEST_P(History, EveryTrickyTextFindsExactlyWhatTheRuleFinds) {
    const QStringList columns = jobdb::searchedJobColumns();
    // Job n+1 holds value n in one column (cycling through the columns) and value n+1 in the
    // next, so texts can straddle two columns; its project is "P<n+1>", its file value n.
    const auto valuesOf = [&](int n) {
        QMap<QString, QString> values;
        values[columns[n % columns.size()]] = kValues[n];
        values[columns[(n + 1) % columns.size()]] = kValues[(n + 1) % kValues.size()];
        values["Projekt"] = QStringLiteral("P%1").arg(n + 1);
        return values;
    };
    for (int n = 0; n < kValues.size(); ++n) {
        const auto values = valuesOf(n);
        QStringList names;
        QVariantList binds{n + 1};
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            names << jobdb::quoted(it.key());
            binds << it.value();
        }
        dbtest::execSql(db.path,
                        QStringLiteral("INSERT INTO JobDaten (JobNumber, %1) VALUES (?%2)")
                            .arg(names.join(','), QString(",?").repeated(names.size())),
                        binds);
        db.addFile(n + 1, 1, kValues[n]);
    }
    const jobdb::Database connection(db.path);
    ASSERT_TRUE(jobdb::ensureSearchIndex(connection.connection()));
    for (const QString& text : kTexts) {
        QStringList expected;
        for (int n = kValues.size() - 1; n >= 0; --n) {
            const auto values = valuesOf(n);
            if (std::any_of(columns.begin(), columns.end(),
                            [&](const QString& c) { return contains(values.value(c), text); }))
                expected << QStringLiteral("J%1 P%1").arg(n + 1);
        }
        for (int n = kValues.size() - 1; n >= 0; --n)
            if (contains(kValues[n], text))
                expected << QStringLiteral("F%1 ").arg(n + 1) + kValues[n];
        for (const bool useIndex : {true, false}) {
            const auto outcome = history::searchJobs(connection.connection(), text, {}, useIndex);
            EXPECT_TRUE(outcome.error.isEmpty()) << outcome.error.toStdString();
            EXPECT_EQ(hitLines(outcome.hits), expected)
                << "text [" << text.toStdString() << "] index " << useIndex;
        }
    }
}

// Typing on, the worker gets the answer of the newest text only. Closing the search window
// while another program holds the file's lock stops the search waiting for the lock at once,
// instead of holding the window until the lock goes away.
TEST_P(Searching, ANewerSearchSupersedesAndAnUnwantedOneStopsWaiting) {
    std::atomic<int> locked = 0; // 1 locked, -1 refused
    std::atomic<bool> released = false;
    std::thread otherProgram;
    {
        history::SearchRunner runner(db.path);
        QSignalSpy finished(&runner, &history::SearchRunner::finished);
        for (const char* typed : {"mülle", "müller", "müller-", "MÜLLER-plan"})
            runner.search(QString::fromUtf8(typed));
        ASSERT_TRUE(finished.wait(10000));
        QTest::qWait(300); // no late answer of an older search follows
        ASSERT_EQ(finished.size(), 1);
        const auto outcome = finished.at(0).at(0).value<history::SearchOutcome>();
        EXPECT_EQ(outcome.text, "MÜLLER-plan");
        EXPECT_EQ(hitLines(outcome.hits), QStringList{"F3 MÜLLER-plan.pdf"});
        EXPECT_FALSE(runner.isBusy());
        if (GetParam() != jobdb::Engine::Sqlite)
            return; // a file lock is the embedded engine's
        otherProgram = std::thread([&, path = db.path.toStdString()] {
            sqlite3* handle = nullptr;
            sqlite3_open(path.c_str(), &handle);
            const int rc = sqlite3_exec(handle, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
            locked = rc == SQLITE_OK ? 1 : -1;
            sqlite3_sleep(3000);
            released = true;
            sqlite3_close(handle);
        });
        while (locked == 0)
            QThread::msleep(10);
        ASSERT_EQ(locked, 1);
        runner.search("plan.pdf");
        QThread::msleep(200); // the search now waits for the lock
    }
    EXPECT_FALSE(released) << "closing waited for the other program's lock";
    otherProgram.join();
}

} // namespace

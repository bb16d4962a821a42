// The job history on real SQLite files: the browser's walk over gaps, the delete, "Laden",
// and the search with its order, wildcards, quotes, umlauts and index.
#include "client/history/historybrowser.h"
#include "client/history/jobsearch.h"
#include "client/history/searchrunner.h"
#include "client/jobdb/database.h"
#include "client/jobdb/searchindex.h"
#include "history/historytestdb.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestro;
using history::BrowserView;
using history::HistoryBrowser;
using history::SearchHit;
using test::HistoryDb;

namespace {

QString shownNumber(const BrowserView& v) {
    return v.job ? v.job->jobNumber : QStringLiteral("-");
}

QStringList fileNames(const BrowserView& v) {
    QStringList out;
    if (v.files)
        for (const auto& f : *v.files)
            out << f.fileName;
    return out;
}

class Browsing : public ::testing::Test {
protected:
    void SetUp() override {
        db.add({3, QStringLiteral("3 | Altbau"), {}, {QStringLiteral("drei.pdf")}});
        db.add({5, QStringLiteral("5 | Neubau"), {}, {QStringLiteral("fünf.pdf")}});
        db.add({7,
                QStringLiteral("7 | Umbau"),
                {},
                {QStringLiteral("sieben-a.pdf"), QStringLiteral("sieben-b.pdf")}});
        connection = std::make_unique<jobdb::Database>(db.path);
        store = std::make_unique<history::HistoryStore>(*connection);
        browser = std::make_unique<HistoryBrowser>(*store);
    }
    HistoryDb db;
    std::unique_ptr<jobdb::Database> connection;
    std::unique_ptr<history::HistoryStore> store;
    std::unique_ptr<HistoryBrowser> browser;
};

TEST_F(Browsing, StepsOverGapsDownToMinusOneAndBackUp) {
    BrowserView v = browser->open();
    EXPECT_EQ(shownNumber(v), "7");
    EXPECT_EQ(fileNames(v), QStringList({"sieben-a.pdf", "sieben-b.pdf"}));
    EXPECT_EQ(shownNumber(browser->stepBack()), "5"); // 6 is walked over
    v = browser->stepBack();
    EXPECT_EQ(shownNumber(v), "3");
    EXPECT_EQ(browser->current(), 3);

    // Below the lowest job the walk goes down to -1: the boxes keep job 3, the list empties.
    v = browser->stepBack();
    EXPECT_FALSE(v.job);
    ASSERT_TRUE(v.files);
    EXPECT_TRUE(v.files->isEmpty());
    EXPECT_EQ(browser->current(), -1);
    v = browser->stepForward();
    EXPECT_EQ(shownNumber(v), "3");
    EXPECT_EQ(fileNames(v), QStringList({"drei.pdf"}));

    EXPECT_EQ(shownNumber(browser->stepForward()), "5");
    EXPECT_EQ(shownNumber(browser->stepForward()), "7");
    v = browser->stepForward(); // at the highest: nothing moves
    EXPECT_FALSE(v.job);
    EXPECT_FALSE(v.files);
    EXPECT_EQ(browser->current(), 7);

    // A hit on a number without a job walks up to the next job.
    EXPECT_EQ(shownNumber(browser->show(4)), "5");
}

TEST_F(Browsing, AnEmptyHistoryShowsNothing) {
    HistoryDb empty;
    jobdb::Database c(empty.path);
    history::HistoryStore s(c);
    HistoryBrowser b(s);
    const BrowserView v = b.open();
    EXPECT_FALSE(v.job);
    EXPECT_TRUE(v.error.isEmpty());
    EXPECT_EQ(b.current(), 1);
    EXPECT_FALSE(b.stepBack().job);
    EXPECT_FALSE(b.stepForward().job);
}

TEST_F(Browsing, DeletingRemovesTheJobWithItsFilesAndShowsTheNext) {
    browser->open();
    browser->stepBack();
    auto r = browser->deleteShown(QStringLiteral("5"));
    EXPECT_EQ(r.step, HistoryBrowser::DeleteStep::ShowNext);
    EXPECT_EQ(shownNumber(r.view), "7");
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 5"), 0);
    EXPECT_EQ(db.count("SELECT count(*) FROM FileDaten WHERE JobNumber = 5"), 0);
    EXPECT_EQ(db.count("SELECT count(*) FROM FileDaten"), 3);

    // The highest: deleted, and nothing moves.
    r = browser->deleteShown(QStringLiteral("7"));
    EXPECT_EQ(r.step, HistoryBrowser::DeleteStep::ShowNext);
    EXPECT_FALSE(r.view.job);
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 7"), 0);
    EXPECT_EQ(db.count("SELECT count(*) FROM FileDaten"), 1);

    // A job without file rows is deleted and the window closes; so does a missing job,
    // which changes nothing (its number's file rows stay).
    db.add({9, QStringLiteral("9 | Ohne"), {}, {}});
    db.addFile(11, 1, QStringLiteral("waise.pdf"));
    EXPECT_EQ(browser->deleteShown(QStringLiteral("9")).step,
              HistoryBrowser::DeleteStep::CloseWindow);
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 9"), 0);
    EXPECT_EQ(browser->deleteShown(QStringLiteral("11")).step,
              HistoryBrowser::DeleteStep::CloseWindow);
    EXPECT_EQ(db.count("SELECT count(*) FROM FileDaten WHERE JobNumber = 11"), 1);
}

TEST_F(Browsing, ARefusedDeleteLeavesTheJobAndItsFilesAndSaysWhy) {
    dbtest::execSql(db.path, "CREATE TRIGGER keep BEFORE DELETE ON FileDaten "
                             "BEGIN SELECT RAISE(ABORT, 'Datei gesperrt'); END");
    browser->open();
    const auto r = browser->deleteShown(QStringLiteral("7"));
    EXPECT_EQ(r.step, HistoryBrowser::DeleteStep::Failed);
    EXPECT_TRUE(r.error.contains("Datei gesperrt")) << r.error.toStdString();
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 7"), 1);
    EXPECT_EQ(db.count("SELECT count(*) FROM FileDaten WHERE JobNumber = 7"), 2);
}

TEST(Reload, CarriesFilesRemarksDeliveryAndProjectOnly) {
    history::StoredJob job;
    job.project = QStringLiteral("4 | Neubau");
    job.remarks = QStringLiteral("bitte falten");
    job.deadline = QStringLiteral("6.12.2026 - 10 : 00");
    job.deliveryNumber = QStringLiteral("12");
    job.deliveryName1 = QStringLiteral("Baustelle Nord");
    const QList<compose::FileRow> files{{"1", "a.pdf", "2", "farbig", "heften", "", "", "/a.pdf"}};
    compose::JobSnapshot s = history::reloadedJob(job, files);
    EXPECT_EQ(s.delivery, "12 | Baustelle Nord");
    EXPECT_EQ(s.project, "4 | Neubau");
    EXPECT_EQ(s.remarks, "bitte falten");
    EXPECT_EQ(s.files, files);
    EXPECT_FALSE(s.deadlineDate.isValid());
    EXPECT_TRUE(s.deadlineTime.isEmpty());
    job.deliveryNumber.clear(); // no delivery number: the main window's stays
    EXPECT_TRUE(history::reloadedJob(job, files).delivery.isEmpty());
}

// ---- search ----

class Searching : public ::testing::Test {
protected:
    void SetUp() override {
        db.add({1,
                QStringLiteral("1 | Müller"),
                QStringLiteral("Bitte falten"),
                {QStringLiteral("plan.pdf"), QStringLiteral("falten-anleitung.pdf")}});
        db.add({2,
                QStringLiteral("2 | Neubau"),
                QStringLiteral("Lieferung in die strasse"),
                {QStringLiteral("Straße.pdf")}});
        db.add({3,
                QStringLiteral("3 | O'Brien"),
                QStringLiteral("50% Rabatt"),
                {QStringLiteral("a_b.pdf"), QStringLiteral("MÜLLER-plan.pdf")}});
        db.add({4,
                QStringLiteral("4 | Umbau"),
                QStringLiteral("ÄÖÜ groß"),
                {QStringLiteral("axb.pdf")},
                {},
                {},
                QStringLiteral("KST_9")});
        connection = std::make_unique<jobdb::Database>(db.path);
    }
    QStringList hits(const QString& text, bool useIndex) {
        const auto outcome = history::searchJobs(connection->connection(), text, {}, useIndex);
        EXPECT_TRUE(outcome.error.isEmpty()) << outcome.error.toStdString();
        QStringList out;
        for (const SearchHit& h : outcome.hits)
            out << (h.kind == SearchHit::Kind::Job ? QStringLiteral("J") : QStringLiteral("F")) +
                       h.jobNumber + QLatin1Char(' ') + h.text;
        return out;
    }
    HistoryDb db;
    std::unique_ptr<jobdb::Database> connection;
};

struct SearchCase {
    const char* text;
    QStringList expected;
};

const SearchCase kCases[] = {
    // Jobs newest first, then files newest first; a job can be listed twice.
    {"falten", {"J1 1 | Müller", "F1 falten-anleitung.pdf"}},
    {" | ", {"J4 4 | Umbau", "J3 3 | O'Brien", "J2 2 | Neubau", "J1 1 | Müller"}},
    // Umlauts in every case.
    {"müller", {"J1 1 | Müller", "F3 MÜLLER-plan.pdf"}},
    {"MÜLLER", {"J1 1 | Müller", "F3 MÜLLER-plan.pdf"}},
    {"mÜlLeR", {"J1 1 | Müller", "F3 MÜLLER-plan.pdf"}},
    {"äöü", {"J4 4 | Umbau"}},
    {"ÄÖÜ GROß", {"J4 4 | Umbau"}},
    {"ÄÖÜ GROSS", {}},
    {"STRASSE", {"J2 2 | Neubau"}},
    {"strasse", {"J2 2 | Neubau"}},
    {"straße", {"F2 Straße.pdf"}},
    // A quote is an ordinary character.
    {"O'Brien", {"J3 3 | O'Brien"}},
    {"'", {"J3 3 | O'Brien"}},
    // "%" and "_" keep their wildcard meaning.
    {"50%Rab", {"J3 3 | O'Brien"}},
    {"a_b.", {"F4 axb.pdf", "F3 a_b.pdf"}},
    {"KST_9", {"J4 4 | Umbau"}},
    {"ller%plan", {"F3 MÜLLER-plan.pdf"}},
    {"xyzzy", {}},
};

TEST_F(Searching, HitsOrderWildcardsQuotesAndUmlautsWithAndWithoutTheIndex) {
    for (const bool withIndex : {false, true}) {
        if (withIndex) {
            ASSERT_FALSE(jobdb::hasSearchIndex(connection->connection()));
            ASSERT_TRUE(jobdb::ensureSearchIndex(connection->connection()));
        }
        for (const SearchCase& c : kCases)
            EXPECT_EQ(hits(QString::fromUtf8(c.text), withIndex), c.expected)
                << c.text << (withIndex ? " (index)" : " (plain)");
    }
    // An empty text lists every job and every file.
    EXPECT_EQ(hits({}, true).size(), 4 + 6);
    EXPECT_TRUE(history::searchJobs(connection->connection(), "Müller").usedIndex);
}

TEST_F(Searching, TheIndexFollowsEveryChangeOfTheRows) {
    ASSERT_TRUE(jobdb::ensureSearchIndex(connection->connection()));
    db.add({5,
            QStringLiteral("5 | Nachtrag"),
            QStringLiteral("nachgetragen"),
            {QStringLiteral("später.pdf")}});
    EXPECT_EQ(hits("nachgetragen", true), QStringList({"J5 5 | Nachtrag"}));
    EXPECT_EQ(hits("SPÄTER", true), QStringList({"F5 später.pdf"}));
    dbtest::execSql(db.path, "UPDATE JobDaten SET Memo = 'geändert' WHERE JobNumber = 5");
    EXPECT_TRUE(hits("nachgetragen", true).isEmpty());
    EXPECT_EQ(hits("GEÄNDERT", true), QStringList({"J5 5 | Nachtrag"}));
    history::HistoryStore store(*connection);
    ASSERT_TRUE(store.deleteJob(5).ok());
    EXPECT_TRUE(hits("geändert", true).isEmpty());
    EXPECT_TRUE(hits("später", true).isEmpty());
    // The index is sound after the changes.
    for (const char* table : {"JobDatenSuche", "FileDatenSuche"})
        dbtest::execSql(db.path, QStringLiteral("INSERT INTO %1 (%1) VALUES ('integrity-check')")
                                     .arg(QString::fromLatin1(table)));
}

TEST(SearchIndex, AddedAtStartUpToACurrentFileAndAfterTheVersionRebuild) {
    HistoryDb current;
    current.add({1, QStringLiteral("1 | Müller"), {}, {QStringLiteral("plan.pdf")}});
    ScriptedPrompter prompter;
    EXPECT_EQ(jobdb::prepareDatabase(current.path, prompter).kind,
              jobdb::StartupDatabase::Kind::Ready);
    EXPECT_TRUE(jobdb::hasSearchIndex(jobdb::Database(current.path).connection()));

    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("alt.mdb"));
    ASSERT_TRUE(jobdb::createAllTables(old, prompter, QStringLiteral("1.0.40")));
    dbtest::execSql(old, "INSERT INTO JobDaten (JobNumber, Projekt) VALUES (4, '4 | Neubau')");
    EXPECT_TRUE(jobdb::prepareDatabase(old, prompter).rebuilt);
    const jobdb::Database rebuilt(old);
    EXPECT_TRUE(jobdb::hasSearchIndex(rebuilt.connection()));
    const auto outcome = history::searchJobs(rebuilt.connection(), QStringLiteral("NEUBAU"));
    EXPECT_TRUE(outcome.usedIndex);
    ASSERT_EQ(outcome.hits.size(), 1);
    EXPECT_EQ(outcome.hits[0].jobNumber, "4");
}

TEST_F(Searching, ANewerSearchSupersedesTheOneRunning) {
    history::SearchRunner runner(db.path);
    QSignalSpy finished(&runner, &history::SearchRunner::finished);
    for (const char* typed : {"mülle", "müller", "müller-", "MÜLLER-plan"})
        runner.search(QString::fromUtf8(typed));
    ASSERT_TRUE(finished.wait(10000));
    QTest::qWait(300); // no late answer of an older search follows
    ASSERT_EQ(finished.size(), 1);
    const auto outcome = finished.at(0).at(0).value<history::SearchOutcome>();
    EXPECT_EQ(outcome.text, "MÜLLER-plan");
    ASSERT_EQ(outcome.hits.size(), 1);
    EXPECT_EQ(outcome.hits[0].text, "MÜLLER-plan.pdf");
    EXPECT_FALSE(runner.isBusy());
}

} // namespace

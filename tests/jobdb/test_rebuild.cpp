// Rebuilding a file of an older program version: every row survives, the backup stays, and
// neither a failure nor a killed process loses anything.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobrecords.h"
#include "client/jobdb/rebuild.h"
#include "client/jobdb/schema.h"
#include "common/prompter.h"
#include "jobdbtestutil.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::jobdb;
using dbtest::rowTexts;

namespace {

class Rebuild : public ::testing::Test {
protected:
    // An older file: JobDaten without Termin2 and Anspr, no Projekte or reservations, two
    // Version rows.
    void makeTypicalOldFile() {
        QList<dbtest::OldTable> tables = dbtest::allTables({"Projekte", "JobReserviert"});
        tables[0].dropColumns = QStringList{"Termin2", "Anspr"};
        dbtest::makeOldDatabase(db, tables, {"1.0.40", "x"});
        dbtest::seedJobs(db, 25);
        dbtest::execSql(db, "INSERT INTO Stammdaten (Name, MwSt) VALUES ('Firma  ', '16')");
        dbtest::execSql(db, "INSERT INTO LieferAdr (LiefNumber, Name1) VALUES (1, 'Lager')");
    }

    void expectNoQuestions(const ScriptedPrompter& asked) {
        for (const auto& s : asked.shown)
            ADD_FAILURE() << "unexpected message: " << s.text.toStdString();
    }
    QString counts() const {
        return rowTexts(db, "SELECT (SELECT count(*) FROM JobDaten), count(*), max(LaufNR) FROM "
                            "FileDaten")
            .value(0);
    }

    test::TestMachine machine;
    ScriptedPrompter prompter;
    const QString db = machine.path("jobs.mdb");
    const QString helper = QCoreApplication::applicationDirPath() + "/jobdb_helper";
};

} // namespace

// Numbers reserved by sends under way survive too: no job after the rebuild takes them.
TEST_F(Rebuild, OlderFileIsRebuiltWithEveryRowTheReservationsAndABackup) {
    makeTypicalOldFile();
    dbtest::makeOldDatabase(db, {{"JobReserviert", {}}}, {});
    dbtest::execSql(db, "INSERT INTO JobReserviert (JobNumber, PCName) VALUES (26, 'buero-1'), "
                        "(27, 'buero-2')");
    const StartupDatabase out = prepareDatabase(db, prompter);
    expectNoQuestions(prompter);
    EXPECT_EQ(out.kind, StartupDatabase::Kind::Ready);
    EXPECT_TRUE(out.rebuilt);
    EXPECT_FALSE(QFile::exists(rebuildPath(db)));
    EXPECT_TRUE(versionMatches(backupPath(db), "1.0.40"));

    Database file(db);
    for (const TableLayout& l : tableLayouts())
        EXPECT_EQ(storedLayout(file.connection(), l.name).columns, l.columns)
            << l.name.toStdString();
    EXPECT_EQ(counts(), "25|75|75");
    EXPECT_EQ(dbtest::rowCount(db, "Projekte"), 0);
    EXPECT_EQ(rowTexts(db, "SELECT JobNumber, Name, Termin2, Anspr, Memo FROM JobDaten ORDER BY "
                           "rowid LIMIT 1 OFFSET 24"),
              QStringList{"25|Müller & Söhne|∅|∅|Bemerkung zu Auftrag 25"});
    EXPECT_EQ(rowTexts(db, "SELECT LaufNR, FilePath, Verarbeitung2 FROM FileDaten ORDER BY rowid "
                           "DESC LIMIT 1"),
              QStringList{"75|/home/anna/Pläne/Auftrag 25/plan-25-3.pdf|∅"});
    EXPECT_EQ(rowTexts(db, "SELECT Name FROM Stammdaten"), QStringList{"Firma  "});
    EXPECT_EQ(rowTexts(db, "SELECT Version FROM Version ORDER BY rowid"),
              (QStringList{"1.0.41", "1.0.41"}))
        << "every Version row becomes a current one";
    EXPECT_EQ(rowTexts(db, "SELECT JobNumber, PCName FROM JobReserviert ORDER BY rowid"),
              (QStringList{"26|buero-1", "27|buero-2"}));
    EXPECT_EQ(JobStore(file).nextJobNumber(), 28);

    // The next start finds the current version and leaves the file alone.
    EXPECT_FALSE(prepareDatabase(db, prompter).rebuilt);
}

// A file without a Version table is rebuilt once; old values that no longer fit their column
// are left out, but their rows stay.
TEST_F(Rebuild, OldFileWithoutVersionAndWithOddValuesKeepsEveryRow) {
    dbtest::makeOldDatabase(db, dbtest::allTables({"Version"}), {});
    dbtest::execSql(db,
                    "INSERT INTO FileDaten (LaufNR, Anzahl, Color, Filename) VALUES ('7', "
                    "'viele', ?, 'a.pdf'), (8, 2.0, 'sw', '')",
                    {QString(30, QLatin1Char('c'))});
    EXPECT_FALSE(versionMatches(db));
    EXPECT_TRUE(prepareDatabase(db, prompter).rebuilt);
    EXPECT_TRUE(versionMatches(db));
    EXPECT_EQ(dbtest::rowCount(db, "Version"), 1);
    EXPECT_EQ(rowTexts(db, "SELECT LaufNR, typeof(LaufNR), Anzahl, Color, Filename FROM FileDaten "
                           "ORDER BY rowid"),
              (QStringList{"7|integer|∅|∅|a.pdf", "8|integer|2|sw|∅"}));
}

// What an interrupted run leaves is cleared at the next start: a half-filled rebuilt file
// with a stray row and a journal is removed first; after a kill between the two renames the
// swap is finished; a rebuilt file that is not complete is never swapped in.
TEST_F(Rebuild, WhatAnInterruptedRunLeftIsClearedOrFinished) {
    makeTypicalOldFile();
    dbtest::makeOldDatabase(rebuildPath(db), {{"JobDaten", {}}}, {});
    dbtest::execSql(rebuildPath(db), "INSERT INTO JobDaten (JobNumber) VALUES (999)");
    machine.writeFile("jobs.mdbTmp-journal", "stale journal");
    ASSERT_TRUE(rebuildDatabase(db, prompter).swapped);
    EXPECT_EQ(rowTexts(db, "SELECT max(JobNumber) FROM JobDaten"), QStringList{"25"});
    EXPECT_EQ(counts(), "25|75|75");
    EXPECT_FALSE(QFile::exists(rebuildPath(db) + "-journal"));

    ASSERT_TRUE(QFile::rename(db, rebuildPath(db))); // backup and rebuilt file, no live file
    const StartupDatabase out = prepareDatabase(db, prompter);
    expectNoQuestions(prompter);
    EXPECT_EQ(out.kind, StartupDatabase::Kind::Ready);
    EXPECT_EQ(counts(), "25|75|75");
    EXPECT_TRUE(QFile::exists(backupPath(db)));

    ASSERT_TRUE(QFile::remove(backupPath(db)) && QFile::rename(db, backupPath(db)));
    dbtest::makeOldDatabase(rebuildPath(db), {{"JobDaten", {}}}, {});
    EXPECT_FALSE(finishInterruptedSwap(db));
    EXPECT_FALSE(QFile::exists(db));
    EXPECT_TRUE(QFile::exists(backupPath(db)));
}

TEST_F(Rebuild, KilledRebuildNeverLosesARow) {
    const QString original = machine.path("original.mdb");
    makeTypicalOldFile();
    dbtest::seedJobs(db, 20000);
    const QString rows = counts();
    ASSERT_TRUE(QFile::rename(db, original));

    // How long an undisturbed rebuild takes sets the range of the kill points.
    ASSERT_TRUE(QFile::copy(original, db));
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(QProcess::execute(helper, {"rebuild", db}), 0);
    const qint64 span = qMax<qint64>(timer.elapsed(), 50);

    const int rounds = 12;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        for (const QString& p : {db, backupPath(db), rebuildPath(db), rebuildPath(db) + "-journal"})
            QFile::remove(p);
        ASSERT_TRUE(QFile::copy(original, db));
        QProcess child;
        child.start(helper, {"rebuild", db});
        ASSERT_TRUE(child.waitForReadyRead(30000));
        QThread::msleep(static_cast<unsigned long>(span * round / (rounds - 1)));
        child.kill();
        child.waitForFinished(10000);

        ScriptedPrompter next;
        EXPECT_EQ(prepareDatabase(db, next).kind, StartupDatabase::Kind::Ready);
        expectNoQuestions(next);
        EXPECT_TRUE(versionMatches(db));
        EXPECT_EQ(counts(), rows);
        EXPECT_EQ(rowTexts(db, "PRAGMA integrity_check"), QStringList{"ok"});
    }
}

// Another workstation had the file open before a newer version rebuilt and swapped it: its
// next write is refused in German (the send keeps the job pending) instead of landing in the
// file kept aside, where nobody would see the job; a new connection writes into the new file.
TEST_F(Rebuild, AWorkstationStillHoldingTheSwappedFileWritesNothingIntoIt) {
    makeTypicalOldFile();
    Database otherWorkstation(db);
    ASSERT_TRUE(otherWorkstation.isOpen());
    ASSERT_EQ(QProcess::execute(helper, {"rebuild", db}), 0);

    JobRows rows;
    rows.jobNumber = 900;
    rows.job = {{"JobNumber", 900}, {"Projekt", "spät"}};
    const RecordResult stale = JobStore(otherWorkstation).storeJobRows(rows);
    EXPECT_FALSE(stale.ok);
    EXPECT_TRUE(stale.writeRefused);
    EXPECT_TRUE(stale.error.contains("umgebaut")) << stale.error.toStdString();
    const QString job900 = "SELECT count(*) FROM JobDaten WHERE JobNumber = 900";
    EXPECT_EQ(rowTexts(backupPath(db), job900), QStringList{"0"}) << "went into the file aside";

    Database reopened(db);
    EXPECT_TRUE(JobStore(reopened).storeJobRows(rows).ok);
    EXPECT_EQ(rowTexts(db, job900), QStringList{"1"});
}

// copyTable fills a new table once, and builds a table the old file lacks empty.
TEST_F(Rebuild, CopyTableFillsANewTableOnceOnly) {
    makeTypicalOldFile();
    const QString target = machine.path("kopie.mdb");
    QString error;
    EXPECT_TRUE(copyTable(target, db, "FileDaten", &error)) << error.toStdString();
    EXPECT_FALSE(copyTable(target, db, "filedaten", &error)) << "a table already there";
    EXPECT_TRUE(copyTable(target, db, "Projekte", &error)) << error.toStdString();
    EXPECT_EQ(dbtest::rowCount(target, "FileDaten"), 75);
    EXPECT_EQ(dbtest::rowCount(target, "Projekte"), 0);
}

// Rows that cannot be read (damaged pages, or a table whose rows fail in a sound file) are a
// failed copy, never an empty table reported as copied: by copyTable, and by the rebuild at
// start, which keeps the old file as it was and tells the user so.
TEST_F(Rebuild, TableThatCannotBeReadFailsTheCopyAndTheRebuild) {
    const struct {
        const char* name;
        std::function<void()> damage;
    } cases[] = {
        {"damaged pages",
         [this] {
             // Many rows, then pages in the middle damaged: the header stays valid, so the
             // file opens and only reading the rows fails.
             makeTypicalOldFile();
             dbtest::seedJobs(db, 2000);
             QFile f(db);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             f.seek(f.size() / 2);
             f.write(QByteArray(int(f.size() / 4), '\x5a'));
         }},
        {"rows that fail",
         [this] {
             makeTypicalOldFile();
             dbtest::execSql(db, "DROP TABLE FileDaten");
             dbtest::execSql(db, "CREATE VIEW FileDaten AS SELECT abs(-9223372036854775807 - 1) "
                                 "AS JobNumber");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = machine.path("kopie.mdb");
        for (const QString& p : {db, backupPath(db), rebuildPath(db), target})
            QFile::remove(p);
        c.damage();
        QString error;
        EXPECT_FALSE(copyTable(target, db, "FileDaten", &error));
        EXPECT_TRUE(error.contains("FileDaten")) << error.toStdString();
        EXPECT_FALSE(Database(target).hasTable("FileDaten"));

        const QByteArray before = test::readFile(db);
        ScriptedPrompter told;
        EXPECT_EQ(prepareDatabase(db, told).kind, StartupDatabase::Kind::Unusable);
        EXPECT_EQ(test::readFile(db), before) << "the old file stays as it was";
        EXPECT_FALSE(QFile::exists(backupPath(db)));
        EXPECT_FALSE(QFile::exists(rebuildPath(db)));
        ASSERT_EQ(told.shown.size(), 1u);
        EXPECT_TRUE(told.shown[0].text.contains(db));
        EXPECT_TRUE(told.shown[0].text.contains("bleibt unverändert"));
        EXPECT_EQ(told.shown[0].icon, Prompter::Icon::Critical);
    }
}

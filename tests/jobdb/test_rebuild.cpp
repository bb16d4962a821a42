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

namespace {

class Rebuild : public ::testing::Test {
protected:
    void SetUp() override { db = machine.path(QStringLiteral("jobs.mdb")); }

    // An older file: JobDaten without Termin2 and Anspr, no Projekte table.
    void makeTypicalOldFile() {
        QList<dbtest::OldTable> tables{{QStringLiteral("JobDaten"), {"Termin2", "Anspr"}},
                                       {QStringLiteral("FileDaten"), {}},
                                       {QStringLiteral("Stammdaten"), {}},
                                       {QStringLiteral("FTPDaten"), {}},
                                       {QStringLiteral("Version"), {}},
                                       {QStringLiteral("LieferAdr"), {}}};
        dbtest::makeOldDatabase(db, tables, {QStringLiteral("1.0.40")});
        dbtest::seedJobs(db, 25, 3);
        dbtest::execSql(
            db, QStringLiteral("INSERT INTO Stammdaten (Name, MwSt) VALUES ('Firma  ', '16')"));
        dbtest::execSql(
            db, QStringLiteral("INSERT INTO LieferAdr (LiefNumber, Name1) VALUES (1, 'Lager')"));
    }

    // Many rows, then the pages in the middle of the file damaged; the header stays valid,
    // so the file opens and only reading the rows fails.
    void makeDamagedOldFile() {
        makeTypicalOldFile();
        dbtest::seedJobs(db, 2000, 3);
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        f.seek(size / 2);
        f.write(QByteArray(int(size / 4), '\x5a'));
    }

    void expectNoQuestions() {
        for (const auto& s : prompter.shown)
            ADD_FAILURE() << "unexpected message: " << s.text.toStdString();
    }

    test::TestMachine machine;
    ScriptedPrompter prompter;
    QString db;
};

} // namespace

TEST_F(Rebuild, OlderFileIsRebuiltWithEveryRowAndABackup) {
    makeTypicalOldFile();
    const StartupDatabase out = prepareDatabase(db, prompter);
    expectNoQuestions();
    EXPECT_EQ(out.kind, StartupDatabase::Kind::Ready);
    EXPECT_TRUE(out.rebuilt);
    EXPECT_TRUE(versionMatches(db));
    EXPECT_TRUE(QFile::exists(backupPath(db)));
    EXPECT_FALSE(QFile::exists(rebuildPath(db)));
    EXPECT_TRUE(versionMatches(backupPath(db), QStringLiteral("1.0.40")));

    Database file(db);
    for (const TableLayout& l : tableLayouts())
        EXPECT_EQ(storedLayout(file.connection(), l.name).columns, l.columns)
            << l.name.toStdString();
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("JobDaten")), 25);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("FileDaten")), 75);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Projekte")), 0);
    const auto job = dbtest::queryRows(
        db, QStringLiteral("SELECT JobNumber, Name, Termin2, Anspr, Memo FROM JobDaten "
                           "ORDER BY rowid LIMIT 1 OFFSET 24"));
    EXPECT_EQ(job[0][0].toInt(), 25);
    EXPECT_EQ(job[0][1].toString(), QStringLiteral("Müller & Söhne"));
    EXPECT_TRUE(job[0][2].isNull());
    EXPECT_TRUE(job[0][3].isNull());
    EXPECT_EQ(job[0][4].toString(), QStringLiteral("Bemerkung zu Auftrag 25"));
    const auto file75 = dbtest::queryRows(
        db, QStringLiteral("SELECT LaufNR, FilePath, Verarbeitung2 FROM FileDaten ORDER BY rowid"));
    EXPECT_EQ(file75.last()[0].toInt(), 75);
    EXPECT_EQ(file75.last()[1].toString(),
              QStringLiteral("/home/anna/Pläne/Auftrag 25/plan-25-3.pdf"));
    EXPECT_TRUE(file75.last()[2].isNull());
    EXPECT_EQ(dbtest::queryRows(db, QStringLiteral("SELECT Name FROM Stammdaten"))[0][0].toString(),
              QStringLiteral("Firma  "));

    // The next start finds the current version and leaves the file alone.
    EXPECT_EQ(prepareDatabase(db, prompter).rebuilt, false);
}

// Numbers reserved by sends under way (or by jobs that wait to be recorded) survive a
// rebuild: no job after it takes them.
TEST_F(Rebuild, ReservedJobNumbersSurviveTheRebuild) {
    makeTypicalOldFile();
    QSqlError error;
    {
        Database file(db);
        ASSERT_TRUE(buildTable(file.connection(), *findLayout(table::JobReserviert), &error));
    }
    dbtest::execSql(db, QStringLiteral("INSERT INTO JobReserviert (JobNumber, PCName) VALUES "
                                       "(26, 'buero-1'), (27, 'buero-2')"));
    ASSERT_TRUE(prepareDatabase(db, prompter).rebuilt);
    expectNoQuestions();
    const auto rows = dbtest::queryRows(
        db, QStringLiteral("SELECT JobNumber, PCName FROM JobReserviert ORDER BY rowid"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][0].toInt(), 26);
    EXPECT_EQ(rows[1][1].toString(), QStringLiteral("buero-2"));
    Database file(db);
    EXPECT_EQ(JobStore(file).nextJobNumber(), 28);
}

TEST_F(Rebuild, TwoVersionRowsBecomeTwoCurrentRows) {
    dbtest::makeOldDatabase(db, dbtest::allTables(),
                            {QStringLiteral("1.0.39"), QStringLiteral("x")});
    ASSERT_TRUE(rebuildDatabase(db, prompter).swapped);
    const auto rows =
        dbtest::queryRows(db, QStringLiteral("SELECT Version FROM Version ORDER BY rowid"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][0].toString(), QStringLiteral("1.0.41"));
    EXPECT_EQ(rows[1][0].toString(), QStringLiteral("1.0.41"));
}

TEST_F(Rebuild, FileWithoutVersionTableIsRebuiltOnceAndRecordsTheVersion) {
    QList<dbtest::OldTable> tables = dbtest::allTables();
    tables.removeIf([](const dbtest::OldTable& t) { return t.name == QLatin1String("Version"); });
    dbtest::makeOldDatabase(db, tables, {});
    EXPECT_FALSE(versionMatches(db));
    EXPECT_TRUE(prepareDatabase(db, prompter).rebuilt);
    EXPECT_TRUE(versionMatches(db));
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Version")), 1);
}

TEST_F(Rebuild, OldValuesThatNoLongerFitAreLeftOutButTheRowsStay) {
    dbtest::makeOldDatabase(db, dbtest::allTables(), {QStringLiteral("1.0.40")});
    dbtest::execSql(db,
                    QStringLiteral("INSERT INTO FileDaten (LaufNR, Anzahl, Color, Filename) "
                                   "VALUES ('7', 'viele', ?, 'a.pdf'), (8, 2.0, 'sw', '')"),
                    {QString(30, QLatin1Char('c'))});
    ASSERT_TRUE(rebuildDatabase(db, prompter).swapped);
    const auto rows = dbtest::queryRows(
        db, QStringLiteral("SELECT LaufNR, typeof(LaufNR), Anzahl, Color, Filename FROM FileDaten "
                           "ORDER BY rowid"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][0].toInt(), 7);
    EXPECT_EQ(rows[0][1].toString(), QStringLiteral("integer"));
    EXPECT_TRUE(rows[0][2].isNull());
    EXPECT_TRUE(rows[0][3].isNull());
    EXPECT_EQ(rows[0][4].toString(), QStringLiteral("a.pdf"));
    EXPECT_EQ(rows[1][2].toInt(), 2);
    EXPECT_TRUE(rows[1][4].isNull());
}

TEST_F(Rebuild, LeftoverRebuiltFileIsRemovedFirst) {
    makeTypicalOldFile();
    // A half-filled file of an interrupted run: a JobDaten table with one stray row.
    dbtest::makeOldDatabase(rebuildPath(db), {{QStringLiteral("JobDaten"), {}}}, {});
    dbtest::execSql(rebuildPath(db),
                    QStringLiteral("INSERT INTO JobDaten (JobNumber) VALUES (999)"));
    machine.writeFile(QStringLiteral("jobs.mdbTmp-journal"), "stale journal");
    ASSERT_TRUE(rebuildDatabase(db, prompter).swapped);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("JobDaten")), 25);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("FileDaten")), 75);
    EXPECT_TRUE(
        dbtest::queryRows(db, QStringLiteral("SELECT 1 FROM JobDaten WHERE JobNumber = 999"))
            .isEmpty());
    EXPECT_FALSE(QFile::exists(rebuildPath(db) + QStringLiteral("-journal")));
}

TEST_F(Rebuild, SwapInterruptedBetweenTheRenamesIsFinishedAtTheNextStart) {
    makeTypicalOldFile();
    ASSERT_TRUE(rebuildDatabase(db, prompter).swapped);
    // The state a kill between the two renames leaves: backup and rebuilt file, no live file.
    ASSERT_TRUE(QFile::rename(db, rebuildPath(db)));
    const StartupDatabase out = prepareDatabase(db, prompter);
    expectNoQuestions();
    EXPECT_EQ(out.kind, StartupDatabase::Kind::Ready);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("FileDaten")), 75);
    EXPECT_TRUE(QFile::exists(backupPath(db)));
}

TEST_F(Rebuild, IncompleteRebuiltFileIsNeverSwappedIn) {
    makeTypicalOldFile();
    ASSERT_TRUE(QFile::rename(db, backupPath(db)));
    dbtest::makeOldDatabase(rebuildPath(db), {{QStringLiteral("JobDaten"), {}}}, {});
    EXPECT_FALSE(finishInterruptedSwap(db));
    EXPECT_FALSE(QFile::exists(db));
    EXPECT_TRUE(QFile::exists(backupPath(db)));
}

TEST_F(Rebuild, KilledRebuildNeverLosesARow) {
    const QString original = machine.path(QStringLiteral("original.mdb"));
    {
        const QString keep = db;
        db = original;
        makeTypicalOldFile();
        dbtest::seedJobs(db, 20000, 3);
        db = keep;
    }
    const qint64 jobs = dbtest::rowCount(original, QStringLiteral("JobDaten"));
    const qint64 files = dbtest::rowCount(original, QStringLiteral("FileDaten"));
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/jobdb_helper");

    // How long an undisturbed rebuild takes sets the range of the kill points.
    ASSERT_TRUE(QFile::copy(original, db));
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(QProcess::execute(helper, {QStringLiteral("rebuild"), db}), 0);
    const qint64 span = qMax<qint64>(timer.elapsed(), 50);

    const int rounds = 12;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        for (const QString& p :
             {db, backupPath(db), rebuildPath(db), rebuildPath(db) + QStringLiteral("-journal")})
            QFile::remove(p);
        ASSERT_TRUE(QFile::copy(original, db));
        QProcess child;
        child.start(helper, {QStringLiteral("rebuild"), db});
        ASSERT_TRUE(child.waitForReadyRead(30000));
        QThread::msleep(static_cast<unsigned long>(span * round / (rounds - 1)));
        child.kill();
        child.waitForFinished(10000);

        ScriptedPrompter next;
        const StartupDatabase out = prepareDatabase(db, next);
        for (const auto& s : next.shown)
            ADD_FAILURE() << "unexpected message: " << s.text.toStdString();
        EXPECT_EQ(out.kind, StartupDatabase::Kind::Ready);
        EXPECT_TRUE(versionMatches(db));
        EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("JobDaten")), jobs);
        EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("FileDaten")), files);
        EXPECT_EQ(dbtest::queryRows(db, QStringLiteral("PRAGMA integrity_check"))[0][0].toString(),
                  QStringLiteral("ok"));
    }
}

// Another workstation had the file open before a newer version rebuilt and swapped it: its
// next write must not land in the file now kept aside, where nobody would see the job.
// It is refused in German (the send keeps the job pending), and a new connection writes
// into the rebuilt file.
TEST_F(Rebuild, AWorkstationStillHoldingTheSwappedFileWritesNothingIntoIt) {
    makeTypicalOldFile();
    Database otherWorkstation(db);
    ASSERT_TRUE(otherWorkstation.isOpen());
    const QString helper = QCoreApplication::applicationDirPath() + QStringLiteral("/jobdb_helper");
    ASSERT_EQ(QProcess::execute(helper, {QStringLiteral("rebuild"), db}), 0);

    JobRows rows;
    rows.jobNumber = 900;
    rows.job = {{QStringLiteral("JobNumber"), 900},
                {QStringLiteral("Projekt"), QStringLiteral("spät")}};
    const RecordResult stale = JobStore(otherWorkstation).storeJobRows(rows);
    EXPECT_FALSE(stale.ok);
    EXPECT_TRUE(stale.writeRefused);
    EXPECT_TRUE(stale.error.contains(QStringLiteral("umgebaut"))) << stale.error.toStdString();
    EXPECT_EQ(
        dbtest::queryRows(backupPath(db),
                          QStringLiteral("SELECT count(*) FROM JobDaten WHERE JobNumber = 900"))
            .value(0)
            .value(0)
            .toInt(),
        0)
        << "the job went into the file kept aside";

    Database reopened(db);
    EXPECT_TRUE(JobStore(reopened).storeJobRows(rows).ok);
    EXPECT_EQ(
        dbtest::queryRows(db, QStringLiteral("SELECT count(*) FROM JobDaten WHERE JobNumber = 900"))
            .value(0)
            .value(0)
            .toInt(),
        1);
}

TEST_F(Rebuild, CopyTableFillsANewTableOnceOnly) {
    makeTypicalOldFile();
    const QString target = machine.path(QStringLiteral("kopie.mdb"));
    QString error;
    EXPECT_TRUE(copyTable(target, db, QStringLiteral("FileDaten"), &error)) << error.toStdString();
    EXPECT_FALSE(copyTable(target, db, QStringLiteral("filedaten"), &error))
        << "a table already in the new file is neither rebuilt nor refilled";
    EXPECT_TRUE(copyTable(target, db, QStringLiteral("Projekte"), &error))
        << "a table the old file lacks is built empty";
    EXPECT_EQ(dbtest::rowCount(target, QStringLiteral("FileDaten")), 75);
    EXPECT_EQ(dbtest::rowCount(target, QStringLiteral("Projekte")), 0);
}

// Rows that cannot be read (damaged pages, or a table whose rows fail in a sound file) are a
// failed copy, never an empty table reported as copied: by copyTable, and by the rebuild at
// start, which keeps the old file as it was and tells the user so.
TEST_F(Rebuild, TableThatCannotBeReadFailsTheCopyAndTheRebuild) {
    const std::function<void()> damages[] = {
        [this] { makeDamagedOldFile(); },
        // A FileDaten whose rows fail to read while the file itself is sound.
        [this] {
            makeTypicalOldFile();
            dbtest::execSql(db, QStringLiteral("DROP TABLE FileDaten"));
            dbtest::execSql(db, QStringLiteral("CREATE VIEW FileDaten AS SELECT "
                                               "abs(-9223372036854775807 - 1) AS JobNumber"));
        },
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(&damage == &damages[0] ? "damaged pages" : "rows that fail");
        for (const QString& p : {db, backupPath(db), rebuildPath(db)})
            QFile::remove(p);
        damage();
        const QString target = machine.path(QStringLiteral("kopie.mdb"));
        QFile::remove(target);
        QString error;
        EXPECT_FALSE(copyTable(target, db, QStringLiteral("FileDaten"), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("FileDaten"))) << error.toStdString();
        EXPECT_FALSE(Database(target).hasTable(QStringLiteral("FileDaten")));

        const QByteArray before = test::readFile(db);
        ScriptedPrompter told;
        EXPECT_EQ(prepareDatabase(db, told).kind, StartupDatabase::Kind::Unusable);
        EXPECT_EQ(test::readFile(db), before) << "the old file stays as it was";
        EXPECT_FALSE(QFile::exists(backupPath(db)));
        EXPECT_FALSE(QFile::exists(rebuildPath(db)));
        ASSERT_EQ(told.shown.size(), 1u);
        EXPECT_TRUE(told.shown[0].text.contains(db));
        EXPECT_TRUE(told.shown[0].text.contains(QStringLiteral("bleibt unverändert")));
        EXPECT_EQ(told.shown[0].icon, Prompter::Icon::Critical);
    }
}

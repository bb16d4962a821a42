// kestro-jobs and kestro-send --from-job as a script sees them: exit codes, output, and what
// the database and the print shop hold afterwards.
#include "cli/sendworkstation.h"

#include <QJsonArray>
#include <QProcess>
#include <QSqlQuery>
#include <QThread>
#include <gtest/gtest.h>

#include "client/jobdb/database.h"
#include "client/jobdb/pendingrecords.h"
#include "client/startup/settings.h"
#include "common/registrystore.h"
#include "jobdb/jobdbtestutil.h"
#include "support/peerprocess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

using kestro::test::SendWorkstation;

namespace {

using kestro::test::ProcessRun;

ProcessRun run(const char* program, const QStringList& args) {
    return kestro::test::runProgram(QString::fromUtf8(program), args);
}

ProcessRun jobs(const QStringList& args) {
    return run(KESTRO_JOBS_PATH, args);
}

// Whether the server database has a job table, that is whether anything was copied there.
bool holdsJobs(const QString& server) {
    return !kestro::dbtest::queryRows(server, QStringLiteral("SELECT 1 FROM information_schema."
                                                             "tables WHERE table_name = "
                                                             "'jobdaten'"))
                .isEmpty();
}

// A workstation that has sent one job of two files: "Plan O'Brien.pdf" (farbig, heften) and
// "Übersicht 50%2.pdf" (a name as saved from a web page), with a delivery address and remarks.
class KestroJobsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
        plan = ws.machine.writeFile(QStringLiteral("pläne/Plan O'Brien.pdf"), "%PDF plan");
        overview = ws.machine.writeFile(QStringLiteral("pläne/Übersicht 50%2.pdf"), "%PDF ü");
        auto file = [](const QString& path) {
            return QJsonObject{{"path", path},
                               {"copies", 2},
                               {"color", "farbig"},
                               {"steps", QJsonArray{"heften", "keine", "laminieren"}}};
        };
        const QJsonObject job{{"remarks", "Bitte an Frau MÜLLER"},
                              {"files", QJsonArray{file(plan), file(overview)}}};
        const QString jobFile =
            ws.machine.writeFile(QStringLiteral("job.json"), QJsonDocument(job).toJson());
        const ProcessRun sent = run(KESTRO_SEND_PATH, {jobFile, QStringLiteral("--quiet")});
        ASSERT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    }

    void execSql(const char* sql, const QVariantList& binds = {}) {
        kestro::dbtest::execSql(ws.databasePath, QString::fromUtf8(sql), binds);
    }

    qint64 rows(const QString& sql) {
        const kestro::jobdb::Database db(ws.databasePath);
        QSqlQuery q(db.connection());
        return q.exec(sql) && q.next() ? q.value(0).toLongLong() : -1;
    }

    // Vellmon on this machine, which writes Databank when a copy is confirmed.
    void startVellmon(kestro::test::PeerProcess& vellmon) {
        ws.machine.env().set("SystemRoot", ws.machine.path(QStringLiteral("windows")));
        ws.machine.env().set("VELLMON_UNIT_DIR", ws.machine.path(QStringLiteral("units")));
        ws.machine.env().set("VELLMON_READY_LINE", QStringLiteral("1"));
        ASSERT_TRUE(vellmon.start(
            qEnvironmentVariable("KESTRO_BINARY_DIR") + QStringLiteral("/service/Vellmon"), {}))
            << vellmon.output().toStdString();
    }

    SendWorkstation ws;
    QString plan;
    QString overview;
};

TEST_F(KestroJobsTest, ListShowAndSearchAsTextAndJson) {
    ProcessRun r = jobs({QStringLiteral("list")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("Nr.  ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("1  ")) << lines[1].toStdString();

    r = jobs({QStringLiteral("show"), QStringLiteral("1"), QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject job = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(job["JobNumber"].toInt(), 1);
    EXPECT_EQ(job["Memo"].toString(), "Bitte an Frau MÜLLER");
    const QJsonArray files = job["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].toObject()["Filename"].toString(), "Plan O'Brien.pdf");
    EXPECT_EQ(files[0].toObject()["FilePath"].toString(), plan);
    EXPECT_EQ(files[1].toObject()["Verarbeitung3"].toString(), "laminieren");

    // The window's hits in the window's order: the job, then its file.
    r = jobs({QStringLiteral("search"), QStringLiteral("müller"), QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonArray hits = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].toObject()["kind"].toString(), "job");
    r = jobs({QStringLiteral("search"), QStringLiteral("o'brien"), QStringLiteral("--json")});
    hits = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].toObject()["Filename"].toString(), "Plan O'Brien.pdf");
    r = jobs({QStringLiteral("search"), QStringLiteral("ÜBERSICHT 50%")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("Übersicht 50%2.pdf")) << r.out.toStdString();

    EXPECT_EQ(jobs({QStringLiteral("search"), QStringLiteral("xyzzy")}).exitCode, 1);
    r = jobs({QStringLiteral("show"), QStringLiteral("99")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Der Auftrag 99 ist nicht in der Datenbank."))
        << r.err.toStdString();

    // A NUL another program left in a value is shown as a blank; the text goes on after it.
    execSql(
        "INSERT INTO JobDaten (JobNumber, Projekt, Memo) VALUES (2, ?, ?)",
        {QStringLiteral("Zwei") + QChar(0) + "x", QStringLiteral("zweite") + QChar(0) + "Zeile"});
    execSql("INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename) VALUES "
            "(9, 2, 1, 'plan-2.pdf')");
    r = jobs({QStringLiteral("list")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Zwei x") && r.out.contains("\n1  ")) << r.out.toStdString();
    r = jobs({QStringLiteral("show"), QStringLiteral("2")});
    EXPECT_TRUE(r.out.contains("zweite Zeile") && r.out.contains("plan-2.pdf"))
        << r.out.toStdString();

    // A file of an older program version, not yet rebuilt by the client: told in German.
    execSql("UPDATE Version SET Version = '1.0.40'");
    execSql("ALTER TABLE JobDaten RENAME COLUMN LieferAnspr TO Ansprechpartner");
    r = jobs({QStringLiteral("search"), QStringLiteral("müller")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("stammt von einer anderen Programmversion. Bitte starten Sie "
                               "zuerst den KestroFTP-Client"))
        << r.err.toStdString();
}

TEST_F(KestroJobsTest, SendAgainFromTheHistoryThenDelete) {
    QThread::msleep(1100); // archives are named by the second they are sent in
    ProcessRun r = run(KESTRO_SEND_PATH, {QStringLiteral("--from-job"), QStringLiteral("1"),
                                          QStringLiteral("--quiet")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Auftragsnummer: 2\n")) << r.out.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 2);
    const auto entries =
        kestro::test::zipEntries(ws.value("ftpRoot") + '/' + ws.uploadedFiles().last());
    EXPECT_TRUE(entries.contains("Plan O'Brien.pdf"));
    EXPECT_TRUE(entries.contains("Übersicht 50%2.pdf"));
    EXPECT_EQ(rows("SELECT count(*) FROM FileDaten WHERE JobNumber = 2 AND Color = 'farbig' "
                   "AND Verarbeitung3 = 'laminieren'"),
              2);
    EXPECT_EQ(rows("SELECT count(*) FROM JobDaten WHERE JobNumber = 2 AND "
                   "Memo = 'Bitte an Frau MÜLLER'"),
              1);

    // A file gone: the job is refused and the file named.
    QFile::remove(overview);
    r = run(KESTRO_SEND_PATH, {QStringLiteral("--from-job"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Die Datei Übersicht 50%2.pdf des Auftrags 1 ist nicht mehr "
                               "vorhanden: " +
                               overview))
        << r.err.toStdString();
    EXPECT_EQ(ws.uploadedFiles().size(), 2);
    EXPECT_EQ(run(KESTRO_SEND_PATH, {QStringLiteral("--from-job"), QStringLiteral("7")}).exitCode,
              1);

    // Deleting needs --yes when nobody is at a terminal; the highest job can go.
    r = jobs({QStringLiteral("delete"), QStringLiteral("2")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(rows("SELECT count(*) FROM JobDaten WHERE JobNumber = 2"), 1);
    r = jobs({QStringLiteral("delete"), QStringLiteral("2"), QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rows("SELECT count(*) FROM JobDaten WHERE JobNumber = 2"), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM FileDaten WHERE JobNumber = 2"), 0);
    EXPECT_EQ(rows("SELECT count(*) FROM FileDaten WHERE JobNumber = 1"), 2);
    EXPECT_EQ(
        jobs({QStringLiteral("delete"), QStringLiteral("2"), QStringLiteral("--yes")}).exitCode, 1);
}

// The history moves to a server: copied and checked, the file untouched, a second copy into
// the now filled database refused; Databank changes only when confirmed, through Vellmon.
TEST_F(KestroJobsTest, CopyToAnEmptyServerChecksEveryTableAndLeavesTheFileAsItWas) {
    execSql("INSERT INTO LieferAdr (LiefNumber, Name1, Street) VALUES (12, 'Baustelle Süd', "
            "'Weg 1')");
    execSql("UPDATE JobDaten SET Memo = 'Zeile 1' || char(10) || 'C:\\pfad\\Ärger 50%'");
    auto fileSum = [this] {
        return QCryptographicHash::hash(kestro::test::readFile(ws.databasePath),
                                        QCryptographicHash::Sha256);
    };
    const QByteArray before = fileSum();
    const QString target = kestro::dbtest::freshDatabank(kestro::jobdb::Engine::Postgres, {});
    ASSERT_FALSE(target.isEmpty());

    ProcessRun r = jobs({QStringLiteral("copy-to"), target});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Alle Tabellen stimmen überein.")))
        << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Databank bleibt"))) << r.err.toStdString();
    const auto copied = kestro::dbtest::queryRows(
        target, QStringLiteral("SELECT j.Memo, (SELECT count(*) FROM FileDaten), (SELECT Name1 "
                               "FROM LieferAdr) FROM JobDaten j"));
    ASSERT_EQ(copied.size(), 1);
    EXPECT_EQ(copied[0], (QVariantList{QStringLiteral("Zeile 1\nC:\\pfad\\Ärger 50%"), 2,
                                       QStringLiteral("Baustelle Süd")}));
    EXPECT_EQ(kestro::startup::SettingsReader().read(QStringLiteral("Databank")), ws.databasePath);

    r = jobs({QStringLiteral("copy-to"), target, QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("ist nicht leer: die Tabelle JobDaten")))
        << r.err.toStdString();

    // Confirmed: Vellmon writes the setting, and the history is read from the server.
    kestro::test::PeerProcess vellmon;
    ASSERT_NO_FATAL_FAILURE(startVellmon(vellmon));
    const QString second = kestro::dbtest::freshDatabank(kestro::jobdb::Engine::Postgres, {});
    r = jobs({QStringLiteral("copy-to"), second, QStringLiteral("--yes")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(fileSum(), before) << "the file was changed";
    // Vellmon writes the setting once it has answered the call.
    QElapsedTimer waited;
    waited.start();
    while (kestro::startup::SettingsReader().read(QStringLiteral("Databank")) != second &&
           waited.elapsed() < 10000)
        QThread::msleep(20);
    ASSERT_EQ(kestro::startup::SettingsReader().read(QStringLiteral("Databank")), second);
    r = jobs({QStringLiteral("search"), QStringLiteral("ärger")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("1  ")));
}

// A delivered job still waiting to be recorded in the file would be missing from the copy:
// copy-to refuses, says how many wait and what records them, and copies nothing.
TEST_F(KestroJobsTest, CopyToRefusesWhileADeliveredJobWaitsForTheFile) {
    kestro::jobdb::JobRows waiting;
    waiting.jobNumber = 2;
    waiting.job = {{QStringLiteral("JobNumber"), 2}};
    QString error;
    ASSERT_FALSE(kestro::jobdb::keepPendingRecord(ws.machine.clientDataFolder(), ws.databasePath,
                                                  waiting, &error)
                     .isEmpty())
        << error.toStdString();
    const QString target = kestro::dbtest::freshDatabank(kestro::jobdb::Engine::Postgres, {});
    ASSERT_FALSE(target.isEmpty());
    const ProcessRun r = jobs({QStringLiteral("copy-to"), target, QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("wartet 1 Auftrag"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("nächste Senden"))) << r.err.toStdString();
    EXPECT_FALSE(holdsJobs(target)) << "copied although jobs wait";
}

// A company's server address is long (a generated password, a full host name): a setting
// that long is not read back by the client, which would then take Databank as missing (a new
// empty file would number jobs from 1 again). copy-to refuses it before copying or switching,
// and says why; the history stays where it is.
TEST_F(KestroJobsTest, ALongServerAddressIsRefusedBeforeAnythingIsSwitched) {
    kestro::test::PeerProcess vellmon;
    ASSERT_NO_FATAL_FAILURE(startVellmon(vellmon));
    const QString plain = kestro::dbtest::freshDatabank(kestro::jobdb::Engine::Postgres, {});
    ASSERT_FALSE(plain.isEmpty());
    // The test server trusts every login, so the password only makes the address long
    // (about 185 characters, as a generated password and a full host name make it).
    QString target = plain;
    target.replace(QStringLiteral("postgresql://kestro@"),
                   QStringLiteral("postgresql://kestro:%1@").arg(QString(120, QLatin1Char('x'))));
    ProcessRun r = jobs({QStringLiteral("copy-to"), target, QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("höchstens 149 Zeichen"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("Databank zeigt jetzt auf")));
    EXPECT_FALSE(r.err.contains(QStringLiteral("xxxxxxxx"))) << "the password was shown";
    EXPECT_EQ(kestro::startup::SettingsReader().read(QStringLiteral("Databank")), ws.databasePath);
    EXPECT_FALSE(holdsJobs(plain)) << "copied although refused";
    r = jobs({QStringLiteral("show"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

TEST_F(KestroJobsTest, BadUsageExits64) {
    for (const QStringList& args :
         {QStringList{}, QStringList{"show"}, QStringList{"show", "eins"},
          QStringList{"frobnicate"}, QStringList{"list", "--last", "0"},
          QStringList{"search", "a", "b"}, QStringList{"delete", "1", "--json"},
          QStringList{"copy-to"}, QStringList{"copy-to", "postgresql://a@b/c", "--json"}})
        EXPECT_EQ(jobs(args).exitCode, 64) << args.join(' ').toStdString();
    EXPECT_EQ(run(KESTRO_SEND_PATH, {"--from-job"}).exitCode, 64);
    EXPECT_EQ(run(KESTRO_SEND_PATH, {"--from-job", "1", "job.json"}).exitCode, 64);
    // Asked for, the usage is the answer, not a mistake.
    for (const QString& help : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const ProcessRun asked = jobs({help});
        EXPECT_EQ(asked.exitCode, 0);
        EXPECT_TRUE(asked.out.startsWith(QStringLiteral("usage: kestro-jobs list")))
            << asked.out.toStdString();
    }
}

} // namespace

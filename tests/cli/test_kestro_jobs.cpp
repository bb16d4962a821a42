// kestro-jobs and kestro-send --from-job as a script sees them: exit codes, output, and what
// the database and the print shop hold afterwards.
#include "cli/sendworkstation.h"
#include "client/jobdb/pendingrecords.h"
#include "client/startup/settings.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QThread>

namespace {

using kestro::test::ended;
using kestro::test::ProcessRun;

ProcessRun jobs(const QStringList& args) {
    return kestro::test::runProgram(KESTRO_JOBS_PATH, args);
}
ProcessRun sendAgain(const QString& job) {
    return kestro::test::runProgram(KESTRO_SEND_PATH, {"--from-job", job, "--quiet"});
}
QString databank() {
    return kestro::startup::SettingsReader().read("Databank");
}

// A workstation that has sent one job of two files: "Plan O'Brien.pdf" (farbig, heften) and
// "Übersicht 50%2.pdf" (a name as saved from a web page), with a delivery address and remarks.
class KestroJobsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
        plan = ws.machine.writeFile("pläne/Plan O'Brien.pdf", "%PDF plan");
        overview = ws.machine.writeFile("pläne/Übersicht 50%2.pdf", "%PDF ü");
        auto file = [](const QString& path) {
            return QJsonObject{{"path", path},
                               {"copies", 2},
                               {"color", "farbig"},
                               {"steps", QJsonArray{"heften", "keine", "laminieren"}}};
        };
        const QJsonObject job{{"remarks", "Bitte an Frau MÜLLER"},
                              {"files", QJsonArray{file(plan), file(overview)}}};
        ASSERT_TRUE(ended(
            kestro::test::runProgram(
                KESTRO_SEND_PATH, {ws.machine.writeFile("job.json", QJsonDocument(job).toJson())}),
            0));
    }

    void execSql(const char* sql, const QVariantList& binds = {}) {
        kestro::dbtest::execSql(ws.databasePath, sql, binds);
    }
    qint64 count(const QString& sql) {
        return kestro::dbtest::queryRows(ws.databasePath, sql).value(0).value(0).toLongLong();
    }

    kestro::test::SendWorkstation ws;
    QString plan;
    QString overview;
};

TEST_F(KestroJobsTest, ListShowAndSearchAsTextAndJson) {
    ProcessRun r = jobs({"list"});
    ASSERT_TRUE(ended(r, 0));
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("Nr.  ") && lines[1].startsWith("1  ")) << r.out.toStdString();

    r = jobs({"show", "1", "--json"});
    ASSERT_TRUE(ended(r, 0));
    const QJsonObject job = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(job["JobNumber"].toInt(), 1);
    EXPECT_EQ(job["Memo"].toString(), "Bitte an Frau MÜLLER");
    const QJsonArray files = job["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].toObject()["Filename"].toString(), "Plan O'Brien.pdf");
    EXPECT_EQ(files[0].toObject()["FilePath"].toString(), plan);
    EXPECT_EQ(files[1].toObject()["Verarbeitung3"].toString(), "laminieren");

    // The window's hits, the job then its file (the search itself: tests/history).
    r = jobs({"search", "müller", "--json"});
    ASSERT_TRUE(ended(r, 0));
    QJsonArray hits = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].toObject()["kind"].toString(), "job");
    hits = QJsonDocument::fromJson(jobs({"search", "o'brien", "--json"}).out.toUtf8()).array();
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].toObject()["Filename"].toString(), "Plan O'Brien.pdf");
    r = jobs({"search", "ÜBERSICHT 50%"});
    EXPECT_TRUE(ended(r, 0));
    EXPECT_TRUE(r.out.contains("Übersicht 50%2.pdf")) << r.out.toStdString();
    EXPECT_TRUE(ended(jobs({"search", "xyzzy"}), 1));
    EXPECT_TRUE(ended(jobs({"show", "99"}), 1, {"Der Auftrag 99 ist nicht in der Datenbank."}));

    // A NUL another program left in a value is shown as a blank; the text goes on after it.
    execSql("INSERT INTO JobDaten (JobNumber, Projekt, Memo) VALUES (2, ?, ?)",
            {QString("Zwei") + QChar(0) + "x", QString("zweite") + QChar(0) + "Zeile"});
    execSql("INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename) VALUES "
            "(9, 2, 1, 'plan-2.pdf')");
    r = jobs({"list"});
    EXPECT_TRUE(ended(r, 0));
    EXPECT_TRUE(r.out.contains("Zwei x") && r.out.contains("\n1  ")) << r.out.toStdString();
    r = jobs({"show", "2"});
    EXPECT_TRUE(r.out.contains("zweite Zeile") && r.out.contains("plan-2.pdf"))
        << r.out.toStdString();

    // A file of an older program version, not yet rebuilt by the client: told in German.
    execSql("UPDATE Version SET Version = '1.0.40'");
    execSql("ALTER TABLE JobDaten RENAME COLUMN LieferAnspr TO Ansprechpartner");
    EXPECT_TRUE(ended(jobs({"search", "müller"}), 1,
                      {"stammt von einer anderen Programmversion. Bitte starten Sie zuerst den "
                       "KestroFTP-Client"}));
}

TEST_F(KestroJobsTest, SendAgainFromTheHistoryThenDelete) {
    QThread::msleep(1100); // archives are named by the second they are sent in
    ProcessRun r = sendAgain("1");
    ASSERT_TRUE(ended(r, 0));
    EXPECT_TRUE(r.out.endsWith("Auftragsnummer: 2\n")) << r.out.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 2);
    EXPECT_EQ(
        kestro::test::zipEntries(ws.value("ftpRoot") + '/' + ws.uploadedFiles().last()).keys(),
        (QStringList{"JobDaten.txt", "Plan O'Brien.pdf", "Übersicht 50%2.pdf"}));
    EXPECT_EQ(count("SELECT count(*) FROM FileDaten WHERE JobNumber = 2 AND Color = 'farbig' "
                    "AND Verarbeitung3 = 'laminieren'"),
              2);
    EXPECT_EQ(count("SELECT count(*) FROM JobDaten WHERE JobNumber = 2 AND "
                    "Memo = 'Bitte an Frau MÜLLER'"),
              1);

    // A file gone: the job is refused and the file named.
    QFile::remove(overview);
    EXPECT_TRUE(ended(
        sendAgain("1"), 1,
        {"Die Datei Übersicht 50%2.pdf des Auftrags 1 ist nicht mehr vorhanden: " + overview}));
    EXPECT_EQ(ws.uploadedFiles().size(), 2);
    EXPECT_TRUE(ended(sendAgain("7"), 1));

    // Deleting needs --yes when nobody is at a terminal; the highest job can go.
    EXPECT_TRUE(ended(jobs({"delete", "2"}), 1));
    EXPECT_EQ(count("SELECT count(*) FROM JobDaten WHERE JobNumber = 2"), 1);
    EXPECT_TRUE(ended(jobs({"delete", "2", "--yes"}), 0));
    EXPECT_EQ(count("SELECT count(*) FROM JobDaten WHERE JobNumber = 2"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM FileDaten WHERE JobNumber = 2"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM FileDaten WHERE JobNumber = 1"), 2);
    EXPECT_TRUE(ended(jobs({"delete", "2", "--yes"}), 1));
}

// The history moves to a server: refused while a job waits for the file or for an address
// too long for the setting; then copied, checked, the file untouched, switched once confirmed.
TEST_F(KestroJobsTest, CopyToAnEmptyServerChecksEveryTableAndLeavesTheFileAsItWas) {
    ws.machine.env().set("SystemRoot", ws.machine.path("windows"));
    ws.machine.env().set("VELLMON_UNIT_DIR", ws.machine.path("units"));
    ws.machine.env().set("VELLMON_READY_LINE", "1");
    kestro::test::PeerProcess vellmon;
    ASSERT_TRUE(vellmon.start(qEnvironmentVariable("KESTRO_BINARY_DIR") + "/service/Vellmon", {}))
        << vellmon.output().toStdString();
    const QString target = kestro::dbtest::freshDatabank(kestro::jobdb::Engine::Postgres, {});
    ASSERT_FALSE(target.isEmpty());
    auto holdsJobs = [](const QString& server) {
        return !kestro::dbtest::queryRows(server, "SELECT 1 FROM information_schema.tables WHERE "
                                                  "table_name = 'jobdaten'")
                    .isEmpty();
    };

    kestro::jobdb::JobRows waiting;
    waiting.jobNumber = 2;
    waiting.job = {{"JobNumber", 2}};
    QString error;
    const QString kept = kestro::jobdb::keepPendingRecord(ws.machine.clientDataFolder(),
                                                          ws.databasePath, waiting, &error);
    ASSERT_FALSE(kept.isEmpty()) << error.toStdString();
    EXPECT_TRUE(
        ended(jobs({"copy-to", target, "--yes"}), 1, {"wartet 1 Auftrag", "nächste Senden"}));
    EXPECT_FALSE(holdsJobs(target)) << "copied although a job waits";
    ASSERT_TRUE(QFile::remove(kept));

    // The test server trusts every login: the password only makes the address long (185).
    QString longer = target;
    longer.replace("postgresql://kestro@",
                   QString("postgresql://kestro:%1@").arg(QString(120, 'x')));
    ProcessRun r = jobs({"copy-to", longer, "--yes"});
    EXPECT_TRUE(ended(r, 1, {"höchstens 149 Zeichen"}));
    EXPECT_FALSE(r.err.contains("Databank zeigt jetzt auf"));
    EXPECT_FALSE(r.err.contains("xxxxxxxx")) << "the password was shown";
    EXPECT_EQ(databank(), ws.databasePath);
    EXPECT_FALSE(holdsJobs(target)) << "copied although refused";

    execSql("INSERT INTO LieferAdr (LiefNumber, Name1, Street) VALUES (12, 'Baustelle Süd', "
            "'Weg 1')");
    execSql("UPDATE JobDaten SET Memo = 'Zeile 1' || char(10) || 'C:\\pfad\\Ärger 50%'");
    auto fileSum = [this] {
        return QCryptographicHash::hash(kestro::test::readFile(ws.databasePath),
                                        QCryptographicHash::Sha256);
    };
    const QByteArray before = fileSum();
    r = jobs({"copy-to", target});
    ASSERT_TRUE(ended(r, 0, {"Databank bleibt"}));
    EXPECT_TRUE(r.out.contains("Alle Tabellen stimmen überein.")) << r.out.toStdString();
    EXPECT_EQ(kestro::dbtest::queryRows(target, "SELECT j.Memo, (SELECT count(*) FROM FileDaten), "
                                                "(SELECT Name1 FROM LieferAdr) FROM JobDaten j"),
              (QList<QVariantList>{{"Zeile 1\nC:\\pfad\\Ärger 50%", 2, "Baustelle Süd"}}));
    EXPECT_EQ(databank(), ws.databasePath);
    EXPECT_TRUE(
        ended(jobs({"copy-to", target, "--yes"}), 1, {"ist nicht leer: die Tabelle JobDaten"}));

    // Confirmed: Vellmon writes the setting after its answer; the history is read from the server.
    const QString second = kestro::dbtest::freshDatabank(kestro::jobdb::Engine::Postgres, {});
    ASSERT_TRUE(ended(jobs({"copy-to", second, "--yes"}), 0));
    EXPECT_EQ(fileSum(), before) << "the file was changed";
    QElapsedTimer waited;
    waited.start();
    while (databank() != second && waited.elapsed() < 10000)
        QThread::msleep(20);
    ASSERT_EQ(databank(), second);
    r = jobs({"search", "ärger"});
    EXPECT_TRUE(ended(r, 0));
    EXPECT_TRUE(r.out.contains("1  "));
}

TEST(KestroJobs, BadUsageExits64AndTheAskedForUsageZero) {
    for (const QStringList& args :
         {QStringList{}, QStringList{"show"}, QStringList{"show", "eins"},
          QStringList{"frobnicate"}, QStringList{"list", "--last", "0"},
          QStringList{"search", "a", "b"}, QStringList{"delete", "1", "--json"},
          QStringList{"copy-to"}, QStringList{"copy-to", "postgresql://a@b/c", "--json"}})
        EXPECT_EQ(jobs(args).exitCode, 64) << args.join(' ').toStdString();
    for (const char* help : {"--help", "-h"}) {
        const ProcessRun asked = jobs({help});
        EXPECT_TRUE(ended(asked, 0));
        EXPECT_TRUE(asked.out.startsWith("usage: kestro-jobs list")) << asked.out.toStdString();
    }
}

} // namespace

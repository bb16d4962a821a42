// kestro-send as a script sees it: exit code, stdout and stderr, and what reached the shop
// (what the pipeline does with the archive is checked in tests/transfer).
#include "cli/sendworkstation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/pendingrecords.h"
#include "support/pgserver.h"
#include "support/selfsigned.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

using kestro::test::ended;
using kestro::test::ProcessRun;

class KestroSendTest : public ::testing::Test {
protected:
    void startShop(const QStringList& shopArgs = {},
                   kestro::jobdb::Engine engine = kestro::jobdb::Engine::Sqlite) {
        ASSERT_TRUE(ws.start(shopArgs, {}, engine)) << ws.problem().toStdString();
    }

    ProcessRun run(const QStringList& args) {
        return kestro::test::runProgram(KESTRO_SEND_PATH, args);
    }
    // Sends one job of `path` (a small plan when empty) with `options`.
    ProcessRun send(const QStringList& options = {}, const QString& path = {}) {
        return run(QStringList{jobFile({file(path.isEmpty() ? planFile() : path)})} + options);
    }

    // Sets one of the client's machine-wide registry values, as Vellmon does for the windows.
    void setClientValue(const QString& name, const QString& value) {
        kestro::RegistryStore().write(kestro::Hive::LocalMachine,
                                      "Software\\Varnholt\\KestroFTP\\Client", name, value);
    }

    // A trust file with one line for the shop's server, a fingerprint not its own.
    void trustAnotherFingerprint(const QString& indent = {}) {
        ws.machine.writeFile(
            "appdata/Varnholt/KestroFTP-Client/trusted-certificates.txt",
            (indent + ws.value("ftpServer") + " SHA256:" + QString("AB").repeated(32) + '\n')
                .toUtf8());
    }

    QString planFile() { return ws.machine.writeFile("plan.pdf", "%PDF-1.4 plan"); }
    // A file of `size` random bytes, that no compression makes smaller.
    QString randomFile(const QString& name, int size, quint32 seed) {
        QByteArray noise(size, Qt::Uninitialized);
        QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(noise.data()), size / 4);
        return ws.machine.writeFile(name, noise);
    }

    // Starts kestro-send on `path`; its stderr once `text` appeared, `seen` told of each piece.
    QString startUntil(QProcess& send, const QString& path, const QString& text,
                       const std::function<void(const QString&)>& seen = {}) {
        send.start(KESTRO_SEND_PATH, {jobFile({file(path)})});
        QString err;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 60000 && !err.contains(text)) {
            send.waitForReadyRead(50);
            err += QString::fromUtf8(send.readAllStandardError());
            if (seen)
                seen(err);
        }
        return err;
    }

    // `members` replace or add members of the job.
    QString jobFile(const QJsonArray& files, const QString& name = "job.json",
                    const QJsonObject& members = {}) {
        QJsonObject job{{"time", "10 : 00"}, {"remarks", "Bitte falten"}, {"files", files}};
        for (auto it = members.begin(); it != members.end(); ++it)
            job.insert(it.key(), it.value());
        return ws.machine.writeFile(name, QJsonDocument(job).toJson());
    }

    QJsonObject file(const QString& path, const QString& color = "farbig") {
        QJsonObject f{
            {"path", path}, {"copies", 3}, {"steps", QJsonArray{"heften", "keine", "keine"}}};
        if (!color.isEmpty())
            f.insert("color", color);
        return f;
    }

    // Runs one statement on a connection to the database; its error, empty when none.
    QString sql(kestro::jobdb::Database& db, const QString& statement) {
        QSqlQuery q(db.connection());
        return q.exec(statement) ? QString() : q.lastError().text();
    }

    QList<int> recordedJobNumbers() {
        QList<int> out;
        for (const QVariantList& row : kestro::dbtest::queryRows(
                 ws.databasePath, "SELECT JobNumber FROM JobDaten ORDER BY JobNumber"))
            out << row[0].toInt();
        return out;
    }

    QStringList pendingJobs() const {
        return QDir(kestro::jobdb::pendingRecordsFolder(ws.machine.clientDataFolder()))
            .entryList(QDir::Files);
    }

    kestro::test::SendWorkstation ws;
};

// The number after `label` ("Auftragsnummer: " on stdout, "JobNummer: " on the job sheet).
int jobNumberIn(const QString& text, const QString& label = "Auftragsnummer: ") {
    return QRegularExpression(QRegularExpression::escape(label) + "(\\d+)")
        .match(text)
        .captured(1)
        .toInt();
}

// The sends whose outcome is the same on a database file and on a server.
class KestroSendBothEngines : public KestroSendTest,
                              public ::testing::WithParamInterface<kestro::jobdb::Engine> {};
INSTANTIATE_TEST_SUITE_P(BothEngines, KestroSendBothEngines, kestro::dbtest::bothEngines(),
                         kestro::dbtest::engineName);

TEST_P(KestroSendBothEngines, DeliveredJobsPrintArchiveAndJobNumberEachTheirOwn) {
    ASSERT_NO_FATAL_FAILURE(startShop({}, GetParam()));
    ProcessRun r = send();
    ASSERT_TRUE(ended(r, 0));
    ASSERT_EQ(ws.uploadedFiles().size(), 1);
    const QString archive = ws.uploadedFiles().first();
    EXPECT_EQ(r.out, QString("Archiv: %1\nAuftragsnummer: 1\n").arg(archive));
    EXPECT_TRUE(r.err.contains(QString("Uploading %1 completed.").arg(archive)))
        << r.err.toStdString();
    EXPECT_EQ(ws.mails().size(), 1);

    // --quiet leaves out the progress; the next job gets the next number.
    r = send({"--quiet"});
    EXPECT_TRUE(ended(r, 0));
    EXPECT_TRUE(r.out.endsWith("Auftragsnummer: 2\n")) << r.out.toStdString();
    EXPECT_FALSE(r.err.contains("completed.") || r.err.contains(" %")) << r.err.toStdString();

    // A hand-edited or future FTPTLS value: sent as before the setting existed, and logged.
    setClientValue("FTPTLS", "ja");
    EXPECT_TRUE(ended(send(), 0, {"FTPTLS is ja"}));
    EXPECT_EQ(ws.uploadedFiles().size(), 3);

    // A line that drops once: the send says it waits and where it goes on, and records once.
    ws.setFtpUser("einmal");
    EXPECT_TRUE(ended(send({}, randomFile("scan.tif", 512 * 1024, 12)), 0,
                      {"Verbindung unterbrochen – neuer Versuch 2 von 4 in 2 s …",
                       "Übertragung wird bei 64,0 KB fortgesetzt …"}));
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2, 3, 4}));

    // Eight scripts at the same moment, overlapping on the slow line: each job its own number,
    // record, name, file and sheet; nothing left behind (was: two sends took one number).
    ws.setFtpUser("schnecke");
    const QStringList before = ws.uploadedFiles();
    constexpr int kSends = 8;
    QByteArray noise(256 * 1024, Qt::Uninitialized);
    QRandomGenerator(8).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    auto content = [&](int i) { return QByteArray::number(i) + noise; };
    std::vector<std::unique_ptr<QProcess>> sends;
    for (int i = 0; i < kSends; ++i) {
        const QString plan = ws.machine.writeFile(QString("plan%1.pdf").arg(i), content(i));
        const QString job = jobFile({file(plan)}, QString("job%1.json").arg(i));
        sends.push_back(std::make_unique<QProcess>());
        sends.back()->start(KESTRO_SEND_PATH, {job, "--quiet"});
    }
    QSet<int> numbers;
    QStringList archives;
    for (auto& p : sends) {
        ASSERT_TRUE(p->waitForFinished(180000));
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        numbers << jobNumberIn(out);
        archives << out.section('\n', 0, 0).mid(8);
    }
    EXPECT_EQ(numbers, (QSet<int>{5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

    QStringList expected = before + archives;
    expected.sort();
    expected.removeDuplicates();
    ASSERT_EQ(expected.size(), 4 + kSends) << archives.join(' ').toStdString();
    EXPECT_EQ(ws.uploadedFiles(), expected);
    EXPECT_TRUE(QDir(ws.value("ftpRoot")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    QSet<int> onSheets;
    for (int i = 0; i < kSends; ++i) {
        const QString name = QString("plan%1.pdf").arg(i);
        const auto entries = kestro::test::zipEntries(ws.value("ftpRoot") + '/' + archives[i]);
        EXPECT_EQ(entries.keys(), (QStringList{"JobDaten.txt", name}));
        EXPECT_EQ(entries.value(name), content(i));
        onSheets << jobNumberIn(QString::fromLatin1(entries.value("JobDaten.txt")), "JobNummer: ");
    }
    EXPECT_EQ(onSheets, numbers);
    EXPECT_EQ(ws.mails().size(), 4 + kSends);
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
}

// Whatever kept the shop from getting the whole job: exit 2, and nothing at the shop, in the
// history, in a mail or left locally.
TEST_F(KestroSendTest, AJobTheShopDidNotGetWholeExitsTwoLeavingNothing) {
    ASSERT_NO_FATAL_FAILURE(startShop());
    const QString scan = randomFile("scan.tif", 2 << 20, 7);
    const struct {
        const char* user;
        QStringList options;
        QStringList told;
        const char* notTold;
        bool trustedTls;
    } cases[] = {
        // The account may only read.
        {"gesperrt", {}, {}, nullptr, false},
        // The shop keeps the first bytes and confirms: "100 %" only once it holds them all.
        {"kuerzer", {}, {}, "100 %", false},
        // A line dropping at every attempt, with the script's own pauses: four attempts.
        {"abbruch",
         {"--retry-pauses", "1, 0,1"},
         {"neuer Versuch 2 von 4 in 1 s", "neuer Versuch 3 von 4 in 0 s",
          "neuer Versuch 4 von 4 in 1 s"},
         "Versuch 5",
         false},
        // A trusted server answering without TLS (AUTH TLS stripped) gets nothing in clear.
        {"kunde", {}, {}, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + (c.trustedTls ? ", a trusted server without TLS" : ""));
        ws.setFtpUser(c.user);
        if (c.trustedTls) {
            setClientValue("FTPTLS", "1");
            trustAnotherFingerprint();
        }
        const ProcessRun r = send(c.options, scan);
        EXPECT_TRUE(ended(r, 2, c.told));
        EXPECT_FALSE(c.notTold && r.err.contains(c.notTold)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(QDir(ws.value("ftpRoot"))
                        .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)
                        .filter(QRegularExpression("\\.(zip|part)$"))
                        .isEmpty());
        EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(' ').toStdString();
        EXPECT_TRUE(recordedJobNumbers().isEmpty());
        EXPECT_TRUE(ws.mails().isEmpty());
        EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    }
}

// A shop's self-made certificate: the script is never asked but told the trusting option,
// whose line replaces any old one; a certificate changed while resuming ends the send.
TEST_F(KestroSendTest, SelfSignedCertificateIsTrustedOnlyByTheOption) {
    const QString pem = ws.machine.path("shop.pem");
    const QString fingerprint = kestro::test::makeSelfSignedCertificate(pem);
    const QString laterPem = ws.machine.path("later.pem");
    ASSERT_FALSE(fingerprint.isEmpty() ||
                 kestro::test::makeSelfSignedCertificate(laterPem).isEmpty());
    ASSERT_NO_FATAL_FAILURE(startShop({"--ftp-tls", pem, "--ftp-tls-later", laterPem}));
    setClientValue("FTPTLS", "2");

    EXPECT_TRUE(ended(
        send(), 2,
        {"--trust-fingerprint SHA256:" + fingerprint, "CN=druckerei.test,O=Druckerei Ärmel"}));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
    trustAnotherFingerprint("  ");
    EXPECT_TRUE(
        ended(send({"--trust-fingerprint", "sha256 Fingerprint=" + fingerprint.toLower()}), 0))
        << "the option as openssl prints it, over an indented old line";
    EXPECT_TRUE(ended(send(), 0)) << "trusted from then on";
    EXPECT_EQ(ws.uploadedFiles().size(), 2);

    ws.setFtpUser("einmal");
    const ProcessRun r = send({"--retry-pauses", "0,0,0"}, randomFile("scan.tif", 512 * 1024, 5));
    EXPECT_TRUE(ended(r, 2, {"Achtung: Das Zertifikat des Servers 127.0.0.1 hat sich geändert!"}));
    EXPECT_FALSE(r.err.contains("Versuch 3")) << r.err.toStdString();
    // The part file may stay: the changed server is not talked to again, not even to remove it.
    EXPECT_EQ(ws.uploadedFiles().filter(QRegularExpression("\\.zip$")).size(), 2)
        << ws.uploadedFiles().join(' ').toStdString();
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2}));
    EXPECT_EQ(ws.mails().size(), 2);
}

// Wrong calls, files that are no job, and jobs or values the window would never send: refused
// with the exit code of their kind, naming the file and value; nothing reaches the shop.
TEST_F(KestroSendTest, WhatTheWindowWouldNotSendIsRefusedNamingWhy) {
    ASSERT_NO_FATAL_FAILURE(startShop());
    const QString plan = planFile();
    auto written = [&](const char* name, const char* text) {
        return QStringList{ws.machine.writeFile(name, text)};
    };
    int jobs = 0;
    auto with = [&](const QString& key, const QJsonValue& value) {
        QJsonObject f = file(plan);
        f.insert(key, value);
        return QStringList{jobFile({f}, QString("job%1.json").arg(++jobs))};
    };
    auto withJob = [&](const QString& key, const QString& value) {
        return QStringList{
            jobFile({file(plan)}, QString("job%1.json").arg(++jobs), {{key, value}})};
    };
    const QString job = jobFile({file(plan)});
    const QString nul = QString("/tmp/plan") + QChar(0) + ".pdf";
    const QString nulInside = QString("far") + QChar(0) + "big";
    struct Case {
        QStringList args;
        int exitCode;
        QStringList named;
    };
    std::vector<Case> cases = {
        {{}, 64, {}},
        {{"a.json", "b.json"}, 64, {}},
        {{"--unknown", "a.json"}, 64, {}},
        {{"--from-job"}, 64, {}},
        {{"--from-job", "1", "job.json"}, 64, {}},
        {{job, "--trust-fingerprint", "SHA256:0000"},
         64,
         {"ungültiger Wert für --trust-fingerprint „SHA256:0000“"}},
        {{ws.machine.path("fehlt.json")}, 64, {}},
        {written("broken.json", "{\"files\": ["), 64, {"not valid JSON"}},
        {written("wrong.json", R"({"files": [{"path": ["plan.pdf"]}]})"), 64, {"files[0]"}},
        {written("date.json", R"({"date": "7.12.2026", "files": []})"), 64, {}},
        {{jobFile({}, "leer.json")}, 1, {"keine Daten zum versenden vorhanden !"}},
        {{jobFile({file(plan, {})}, "ohne-farbe.json")},
         1,
         {"Auftrag noch nicht vollständig ausgefüllt !"}},
        {with("copies", 0), 64, {plan, "\"0\""}},
        {with("copies", "101"), 64, {plan, "101"}},
        {with("copies", "drei"), 64, {"drei"}},
        {with("path", nul), 64, {"NUL", "files[0]"}},
        {{"/dev/zero"}, 64, {"/dev/zero"}},
        // A number with a fraction, or one far outside any count, is named as written.
        {with("copies", 5.5), 64, {plan, "5.5"}},
        {with("copies", 1e300), 64, {plan, "1e+300"}},
        // A NUL cuts neither the message nor the value; no text the window fills holds one.
        {with("color", nulInside), 1, {plan, "far\\0big"}},
        {withJob("project", QString("1 | Neubau") + QChar(0)), 64, {"project"}},
        {withJob("time", QString("10:00") + QChar(0)), 64, {"time"}},
        {withJob("remarks", nulInside), 64, {"remarks"}},
        {with("color", "lila"), 1, {plan, "lila"}},
        {with("steps", QJsonArray{"heften", "keine", "tackern"}), 1, {plan, "tackern"}},
    };
    for (const char* bad : {"", "2,x", "-1", "2,,3", "4000", "1,1,1,1,1,1,1,1,1,1,1"})
        cases.push_back(
            {{job, "--retry-pauses", bad}, 64, {QString("--retry-pauses „%1“").arg(bad)}});
    for (const Case& c : cases) {
        const ProcessRun r = run(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_TRUE(ended(r, c.exitCode, c.named));
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_TRUE(run({"--help"}).out.contains("--retry-pauses"));
    // The maker's own host needs the flag; with it the send finds no catalogue for it here.
    ASSERT_TRUE(
        kestro::jobdb::MasterDataStore(ws.databasePath).saveFtpServer("ftp.varnholt.example"));
    EXPECT_TRUE(ended(run({job}), 1, {"keine spezielle Zieladresse"}));
    const ProcessRun r = run({job, "--send-to-default-target"});
    EXPECT_TRUE(ended(r, 1, {"Katalog"}));
    EXPECT_FALSE(r.err.contains("keine spezielle Zieladresse"));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
}

// A database another workstation holds refuses the job before the upload, without waiting
// the lock time-out once per waiting job (was: 10 s each), and the waiting jobs still wait.
TEST_F(KestroSendTest, ADatabaseThatTakesNoWriteRefusesTheJobBeforeTheUpload) {
    ASSERT_NO_FATAL_FAILURE(startShop());
    for (const int waiting : {0, 3}) {
        SCOPED_TRACE(waiting);
        for (int number = 1; number <= waiting; ++number) {
            kestro::jobdb::JobRows rows;
            rows.jobNumber = number;
            rows.job = {{"JobNumber", number}, {"Uhrzeit", "101530"}};
            QString error;
            ASSERT_FALSE(kestro::jobdb::keepPendingRecord(ws.machine.clientDataFolder(),
                                                          ws.databasePath, rows, &error)
                             .isEmpty())
                << error.toStdString();
        }
        kestro::jobdb::Database other(ws.databasePath);
        ASSERT_EQ(sql(other, "BEGIN IMMEDIATE"), QString());
        QElapsedTimer held;
        held.start();
        const ProcessRun r = send();
        const qint64 heldMs = held.elapsed();
        EXPECT_EQ(sql(other, "ROLLBACK"), QString());
        EXPECT_TRUE(ended(r, 1, {"Die Datenbank nimmt keinen Auftrag an", ws.databasePath}));
        EXPECT_TRUE(r.out.isEmpty());
        // Two waits of 10 s at most, with room for a slow machine; one per job would be 40 s.
        EXPECT_LT(heldMs, 25000);
        EXPECT_EQ(pendingJobs().size(), waiting) << "the waiting jobs must still wait";
    }
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
}

// The pid of the server behind `address`, asked before the send (no connection to stall).
pid_t postmasterOf(const QString& address) {
    const auto dataDir = kestro::dbtest::queryRows(address, "SHOW data_directory");
    QFile pidFile(dataDir.value(0).value(0).toString() + "/postmaster.pid");
    if (dataDir.isEmpty() || !pidFile.open(QIODevice::ReadOnly))
        return 0;
    return pid_t(pidFile.readLine().trimmed().toInt());
}

// The server and all its children (the connections) as they are now.
QList<pid_t> serverProcesses(pid_t postmaster) {
    QList<pid_t> out{postmaster};
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        const QByteArray text = kestro::test::readFile(QString("/proc/%1/stat").arg(entry));
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == postmaster)
            out << pid_t(entry.toInt());
    }
    return out;
}

// The record of a confirmed job fails (a full disk, a kill while another workstation holds the
// database, a server stopped or stalled): the send ends, keeps the job with its number
// (exit 3), and the next send records it, also after the login got a password.
enum class Mishap {
    RecordRefused,
    KilledWhileTheRecordWaits,
    Stopped,
    StoppedThenPassword,
    Stalls
};
struct MishapCase {
    const char* name;
    Mishap mishap;
    kestro::jobdb::Engine engine;
};
class KestroSendMishap : public KestroSendTest, public ::testing::WithParamInterface<MishapCase> {};
INSTANTIATE_TEST_SUITE_P(
    Record, KestroSendMishap,
    ::testing::Values(
        MishapCase{"IsRefused", Mishap::RecordRefused, kestro::jobdb::Engine::Sqlite},
        MishapCase{"WaitsWhenTheSendIsKilled", Mishap::KilledWhileTheRecordWaits,
                   kestro::jobdb::Engine::Sqlite},
        MishapCase{"FindsTheServerStopped", Mishap::Stopped, kestro::jobdb::Engine::Postgres},
        MishapCase{"FindsTheServerStoppedThenTheLoginGetsAPassword", Mishap::StoppedThenPassword,
                   kestro::jobdb::Engine::Postgres},
        MishapCase{"FindsTheServerStalled", Mishap::Stalls, kestro::jobdb::Engine::Postgres}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(KestroSendMishap, TheDeliveredJobIsRecordedByTheNextSend) {
    const Mishap mishap = GetParam().mishap;
    // The slow line (64 KiB/s) gives seconds to take the database away before the record. Its
    // first 64 KiB pass unslowed, so a file of two such pieces could pass at full speed under
    // load; a stalled server gets the longest upload, as stopping it takes the longest.
    ASSERT_NO_FATAL_FAILURE(startShop({"--ftp-user", "schnecke"}, GetParam().engine));
    const QString plan = randomFile("plan.pdf", (mishap == Mishap::Stalls ? 512 : 256) * 1024, 5);
    if (mishap == Mishap::RecordRefused)
        kestro::dbtest::execSql(ws.databasePath,
                                "CREATE TRIGGER voll BEFORE INSERT ON JobDaten BEGIN "
                                "SELECT RAISE(ABORT, 'database or disk is full'); END");
    const pid_t postmaster = mishap == Mishap::Stalls ? postmasterOf(ws.databasePath) : 1;
    ASSERT_GT(postmaster, 0);
    std::optional<kestro::jobdb::Database> otherWorkstation;
    if (mishap == Mishap::KilledWhileTheRecordWaits)
        otherWorkstation.emplace(ws.databasePath);
    bool holding = false;
    // Held once the number is reserved and packing began: the record then waits for the lock.
    const QString awaited =
        otherWorkstation ? "Auftrag wird gespeichert" : "Dateien werden gepackt";
    QProcess sending;
    QString err = startUntil(sending, plan, awaited, [&](const QString& e) {
        if (otherWorkstation && !holding && e.contains("Dateien werden gepackt"))
            holding = sql(*otherWorkstation, "BEGIN IMMEDIATE").isEmpty();
    });
    ASSERT_TRUE(err.contains(awaited) && holding == bool(otherWorkstation)) << err.toStdString();
    const QList<pid_t> stalled =
        mishap == Mishap::Stalls ? serverProcesses(postmaster) : QList<pid_t>();
    ASSERT_TRUE(mishap != Mishap::Stalls || stalled.size() > 1) << "no connection to stall";
    for (const pid_t pid : stalled)
        ::kill(pid, SIGSTOP);
    const bool stopped = mishap == Mishap::Stopped || mishap == Mishap::StoppedThenPassword;
    if (stopped)
        kestro::test::PgServer::shared()->stop();
    if (otherWorkstation) {
        QThread::msleep(500);
        ASSERT_EQ(sending.state(), QProcess::Running) << "the send ended before it was killed";
        sending.kill();
    }
    const bool finished = sending.waitForFinished(120000);
    for (const pid_t pid : stalled)
        ::kill(pid, SIGCONT);
    if (!finished)
        sending.kill();
    sending.waitForFinished();
    err += QString::fromUtf8(sending.readAllStandardError());
    ASSERT_TRUE(finished) << "kestro-send still waits for the database: " << err.toStdString();
    ASSERT_TRUE(!stopped || kestro::test::PgServer::shared()->start());
    ASSERT_TRUE(!otherWorkstation || sql(*otherWorkstation, "ROLLBACK").isEmpty());
    ASSERT_EQ(ws.uploadedFiles().size(), 1) << "the shop has job 1";
    if (mishap == Mishap::Stalls) {
        EXPECT_EQ(sending.exitCode(), 3) << err.toStdString();
        EXPECT_EQ(pendingJobs().size() + recordedJobNumbers().size(), 1);
        return;
    }
    if (!otherWorkstation) {
        EXPECT_EQ(sending.exitCode(), 3) << err.toStdString();
        EXPECT_TRUE(err.contains("nicht in der Datenbank gespeichert")) << err.toStdString();
        EXPECT_EQ(QString::fromUtf8(sending.readAllStandardOutput()),
                  QString("Archiv: %1\nAuftragsnummer: 1\n").arg(ws.uploadedFiles().first()));
        EXPECT_EQ(ws.mails().size(), 1);
        EXPECT_EQ(pendingJobs().size(), 1);
        EXPECT_EQ(recordedJobNumbers(), QList<int>());
    }
    if (mishap == Mishap::RecordRefused) {
        EXPECT_TRUE(err.contains("disk is full")) << err.toStdString();
        kestro::dbtest::execSql(ws.databasePath, "DROP TRIGGER voll");
    }
    if (mishap == Mishap::StoppedThenPassword) {
        // The test server trusts every login: the password changes only the address's text.
        ASSERT_TRUE(ws.databasePath.startsWith("postgresql://kestro@"));
        ws.databasePath.replace("kestro@", "kestro:Sommer2027@");
        setClientValue("Databank", ws.databasePath);
    }
    const ProcessRun next = send();
    EXPECT_TRUE(ended(next, 0, {"Auftrag 1 wurde in der Datenbank nachgetragen."}));
    EXPECT_EQ(jobNumberIn(next.out), 2) << "the waiting job keeps its number";
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2})) << "job 1 is delivered but not recorded";
    EXPECT_TRUE(pendingJobs().isEmpty());
}

// A send killed (kill -9, power cut) mid-upload leaves a part file at the shop: the next send
// removes it, or the shop's folder fills with part files nobody removes.
TEST_F(KestroSendTest, PartFileOfAKilledSendIsRemovedByTheNextSend) {
    ASSERT_NO_FATAL_FAILURE(startShop({"--ftp-user", "schnecke"}));
    QProcess killed;
    const QString err = startUntil(killed, randomFile("scan.tif", 16 << 20, 3), "Handle created");
    ASSERT_TRUE(err.contains("Handle created")) << err.toStdString();
    QThread::msleep(1000); // the archive is on its way
    ASSERT_GT(killed.processId(), 0);
    ::kill(killed.processId(), SIGKILL);
    killed.waitForFinished(30000);
    ASSERT_EQ(ws.uploadedFiles().filter(".part").size(), 1)
        << ws.uploadedFiles().join(' ').toStdString();

    EXPECT_TRUE(ended(send(), 0));
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
        << ws.archivesLeftLocally().join(' ').toStdString();
    EXPECT_TRUE(ws.uploadedFiles().filter(".part").isEmpty())
        << ws.uploadedFiles().join(' ').toStdString();
}

} // namespace

// kestro-send as a script sees it: exit code, stdout and stderr, and what reached the shop.
#include "cli/sendworkstation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/pendingrecords.h"
#include "support/pgserver.h"
#include "support/selfsigned.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using kestro::test::SendWorkstation;

namespace {

using kestro::test::ProcessRun;

class KestroSendTest : public ::testing::Test {
protected:
    ProcessRun run(const QStringList& args) {
        return kestro::test::runProgram(QStringLiteral(KESTRO_SEND_PATH), args);
    }

    // Sets one of the client's machine-wide registry values, as the master-data window does.
    void setClientValue(const QString& name, const QString& value) {
        const QString key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");
        const QString file = QStringLiteral("registry/HKEY_LOCAL_MACHINE.json");
        QJsonObject registry =
            QJsonDocument::fromJson(kestro::test::readFile(ws.machine.path(file))).object();
        QJsonObject client = registry.value(key).toObject();
        client.insert(name, value);
        registry.insert(key, client);
        ws.machine.writeFile(file, QJsonDocument(registry).toJson());
    }
    // The target's "FTPTLS" choice ("0", "1", "2").
    void setEncryption(const QString& choice) { setClientValue(QStringLiteral("FTPTLS"), choice); }

    // A trust file with one line for the shop's server, a fingerprint not its own.
    void trustAnotherFingerprint(const QString& indent = {}) {
        QFile trusted(ws.machine.clientDataFolder() + QStringLiteral("/trusted-certificates.txt"));
        ASSERT_TRUE(trusted.open(QIODevice::WriteOnly));
        trusted.write((indent + ws.value("ftpServer") + QStringLiteral(" SHA256:") +
                       QStringLiteral("AB").repeated(32) + QLatin1Char('\n'))
                          .toUtf8());
    }

    QString planFile() { return ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF-1.4 plan"); }
    // A file of `size` random bytes, that no compression makes smaller.
    QString randomFile(const QString& name, int size, quint32 seed, QByteArray* bytes = nullptr) {
        QByteArray noise(size, Qt::Uninitialized);
        QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(noise.data()), size / 4);
        if (bytes)
            *bytes = noise;
        return ws.machine.writeFile(name, noise);
    }

    // Starts kestro-send on `job` and returns its stderr once `text` appeared in it.
    QString startUntil(QProcess& send, const QString& job, const QString& text) {
        send.start(QStringLiteral(KESTRO_SEND_PATH), {job});
        QString err;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 60000 && !err.contains(text)) {
            send.waitForReadyRead(50);
            err += QString::fromUtf8(send.readAllStandardError());
        }
        return err;
    }

    // `members` replace or add members of the job.
    QString jobFile(const QJsonArray& files, const QString& name = QStringLiteral("job.json"),
                    const QJsonObject& members = {}) {
        QJsonObject job{{QStringLiteral("time"), QStringLiteral("10 : 00")},
                        {QStringLiteral("remarks"), QStringLiteral("Bitte falten")},
                        {QStringLiteral("files"), files}};
        for (auto it = members.begin(); it != members.end(); ++it)
            job.insert(it.key(), it.value());
        return ws.machine.writeFile(name, QJsonDocument(job).toJson());
    }

    QJsonObject file(const QString& path, const QString& color = QStringLiteral("farbig")) {
        QJsonObject f{
            {QStringLiteral("path"), path},
            {QStringLiteral("copies"), 3},
            {QStringLiteral("steps"), QJsonArray{QStringLiteral("heften"), QStringLiteral("keine"),
                                                 QStringLiteral("keine")}}};
        if (!color.isEmpty())
            f.insert(QStringLiteral("color"), color);
        return f;
    }

    // Runs one statement on the workstation's database; empty when it went through.
    QString sql(kestro::jobdb::Database& db, const QString& statement) {
        QSqlQuery q(db.connection());
        return q.exec(statement) ? QString() : q.lastError().text();
    }

    QList<int> recordedJobNumbers() {
        kestro::jobdb::Database db(ws.databasePath);
        QSqlQuery q(db.connection());
        q.exec(QStringLiteral("SELECT JobNumber FROM JobDaten ORDER BY JobNumber"));
        QList<int> out;
        while (q.next())
            out << q.value(0).toInt();
        return out;
    }

    QStringList pendingJobs() const {
        return QDir(kestro::jobdb::pendingRecordsFolder(ws.machine.clientDataFolder()))
            .entryList(QDir::Files);
    }

    SendWorkstation ws;
};

// The number after `label` ("Auftragsnummer: " on stdout, "JobNummer: " on the job sheet).
int jobNumberIn(const QString& text, const QString& label = QStringLiteral("Auftragsnummer: ")) {
    return QRegularExpression(QRegularExpression::escape(label) + QStringLiteral("(\\d+)"))
        .match(text)
        .captured(1)
        .toInt();
}

// The sends whose outcome is the same on a database file and on a server.
class KestroSendBothEngines : public KestroSendTest,
                              public ::testing::WithParamInterface<kestro::jobdb::Engine> {};
INSTANTIATE_TEST_SUITE_P(BothEngines, KestroSendBothEngines, kestro::dbtest::bothEngines(),
                         kestro::dbtest::engineName);

TEST_P(KestroSendBothEngines, DeliveredJobPrintsArchiveAndJobNumber) {
    ASSERT_TRUE(ws.start({}, {}, GetParam())) << ws.problem().toStdString();
    const QString plan = planFile();
    const ProcessRun r = run({jobFile({file(plan)})});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 1);
    const QString archive = ws.uploadedFiles().first();
    EXPECT_EQ(r.out, QStringLiteral("Archiv: %1\nAuftragsnummer: 1\n").arg(archive));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Uploading %1 completed.").arg(archive)));
    EXPECT_EQ(ws.mails().size(), 1);

    // --quiet leaves out the progress; the next job gets the next number.
    const ProcessRun again = run({jobFile({file(plan)}), QStringLiteral("--quiet")});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.endsWith(QStringLiteral("Auftragsnummer: 2\n")))
        << again.out.toStdString();
    EXPECT_FALSE(again.err.contains(QStringLiteral("completed."))) << again.err.toStdString();
    EXPECT_FALSE(again.err.contains(QStringLiteral(" %"))) << again.err.toStdString();

    // A hand-edited or future FTPTLS value: sent as before the setting existed, and the log
    // says so at the send.
    setEncryption(QStringLiteral("ja"));
    const ProcessRun unencrypted = run({jobFile({file(plan)})});
    EXPECT_EQ(unencrypted.exitCode, 0) << unencrypted.err.toStdString();
    EXPECT_EQ(ws.uploadedFiles().size(), 3);
    EXPECT_TRUE(unencrypted.err.contains(QStringLiteral("FTPTLS is ja")))
        << unencrypted.err.toStdString();
}

TEST_F(KestroSendTest, DefaultTargetNeedsTheFlag) {
    ASSERT_TRUE(ws.start({}, QStringLiteral("ftp.varnholt.example"))) << ws.problem().toStdString();
    const QString plan = planFile();
    ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("keine spezielle Zieladresse")))
        << r.err.toStdString();
    // With the flag the send goes on; the maker's host has no catalogue at this shop.
    r = run({jobFile({file(plan)}), QStringLiteral("--send-to-default-target")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.contains(QStringLiteral("keine spezielle Zieladresse")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Katalog"))) << r.err.toStdString();
}

TEST_F(KestroSendTest, RefusedUploadExitsTwo) {
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("gesperrt")}))
        << ws.problem().toStdString();
    const QString plan = planFile();
    const ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
}

// The line drops once mid-upload: the send waits, continues the server's part file and
// delivers the job whole, recorded once, telling on stderr what happened.
TEST_F(KestroSendTest, DroppedConnectionIsResumedAndTheJobRecordedOnce) {
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("einmal")}))
        << ws.problem().toStdString();
    QByteArray noise;
    const QString plan = randomFile(QStringLiteral("plan.pdf"), 512 * 1024, 12, &noise);
    const ProcessRun r = run({jobFile({file(plan)})});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("Verbindung unterbrochen – neuer Versuch 2 von 4 in 2 s …")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Übertragung wird bei 64,0 KB fortgesetzt …")))
        << r.err.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 1);
    const auto entries = kestro::test::zipEntries(ws.value("ftpRoot") + QLatin1Char('/') +
                                                  ws.uploadedFiles().first());
    EXPECT_EQ(entries.value(QStringLiteral("plan.pdf")), noise);
    EXPECT_EQ(recordedJobNumbers(), QList<int>{1});
    EXPECT_EQ(ws.mails().size(), 1);
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
}

// A script that cannot wait 42 s sets its own pauses; a line that drops on every attempt
// ends after the first and three further attempts with nothing left at the shop or recorded.
TEST_F(KestroSendTest, RetryPausesOfTheScriptAndALineThatAlwaysDrops) {
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("abbruch")}))
        << ws.problem().toStdString();
    const QString plan = randomFile(QStringLiteral("plan.pdf"), 2 * 1024 * 1024, 7);
    for (const char* bad : {"", "2,x", "-1", "2,,3", "4000", "1,1,1,1,1,1,1,1,1,1,1"}) {
        const ProcessRun r = run(
            {jobFile({file(plan)}), QStringLiteral("--retry-pauses"), QString::fromLatin1(bad)});
        EXPECT_EQ(r.exitCode, 64) << bad;
        EXPECT_TRUE(r.err.contains(QStringLiteral("--retry-pauses „%1“").arg(bad)))
            << r.err.toStdString();
    }
    EXPECT_TRUE(run({QStringLiteral("--help")}).out.contains(QStringLiteral("--retry-pauses")));

    const ProcessRun r =
        run({jobFile({file(plan)}), QStringLiteral("--retry-pauses"), QStringLiteral("1, 0,1")});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    for (const QString& line : {QStringLiteral("neuer Versuch 2 von 4 in 1 s"),
                                QStringLiteral("neuer Versuch 3 von 4 in 0 s"),
                                QStringLiteral("neuer Versuch 4 von 4 in 1 s")})
        EXPECT_TRUE(r.err.contains(line)) << line.toStdString() << "\n" << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("Versuch 5"))) << r.err.toStdString();
    EXPECT_TRUE(QDir(ws.value("ftpRoot"))
                    .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)
                    .filter(QRegularExpression(QStringLiteral("\\.(zip|part)$")))
                    .isEmpty());
    EXPECT_TRUE(recordedJobNumbers().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
}

// A shop whose FTP server requires TLS with a certificate it made itself: the script is
// never asked, it ends with the fingerprint and the option that trusts it; trusted once,
// the certificate is used from then on.
TEST_F(KestroSendTest, SelfSignedCertificateIsTrustedOnlyByTheOption) {
    const QString pem = ws.machine.path(QStringLiteral("shop.pem"));
    const QString fingerprint = kestro::test::makeSelfSignedCertificate(pem);
    ASSERT_FALSE(fingerprint.isEmpty());
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-tls"), pem})) << ws.problem().toStdString();
    setEncryption(QStringLiteral("2"));
    const QString plan = planFile();

    ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("--trust-fingerprint SHA256:") + fingerprint))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("CN=druckerei.test,O=Druckerei Ärmel")));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());

    r = run({jobFile({file(plan)}), QStringLiteral("--trust-fingerprint"),
             QStringLiteral("SHA256:0000")});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains(QStringLiteral("ungültiger Wert für --trust-fingerprint "
                                              "„SHA256:0000“")))
        << r.err.toStdString();
    // As openssl prints it, in lower case.
    r = run({jobFile({file(plan)}), QStringLiteral("--trust-fingerprint"),
             QStringLiteral("sha256 Fingerprint=") + fingerprint.toLower()});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 2);
    EXPECT_EQ(kestro::test::zipEntries(ws.value("ftpRoot") + QLatin1Char('/') +
                                       ws.uploadedFiles().first())
                  .value(QStringLiteral("plan.pdf")),
              QByteArray("%PDF-1.4 plan"));
}

// The shop's server shows another certificate when the send reconnects to resume: the
// script ends at once with the warning, as it would at the first connection.
TEST_F(KestroSendTest, ACertificateChangedWhileResumingEndsTheSendAtOnce) {
    const QString pem = ws.machine.path(QStringLiteral("shop.pem"));
    const QString fingerprint = kestro::test::makeSelfSignedCertificate(pem);
    const QString laterPem = ws.machine.path(QStringLiteral("later.pem"));
    ASSERT_FALSE(kestro::test::makeSelfSignedCertificate(laterPem).isEmpty());
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-tls"), pem, QStringLiteral("--ftp-tls-later"),
                          laterPem, QStringLiteral("--ftp-user"), QStringLiteral("einmal")}))
        << ws.problem().toStdString();
    setEncryption(QStringLiteral("2"));
    const QString plan = randomFile(QStringLiteral("plan.pdf"), 512 * 1024, 5);

    const ProcessRun r = run({jobFile({file(plan)}), QStringLiteral("--trust-fingerprint"),
                              QStringLiteral("SHA256:") + fingerprint,
                              QStringLiteral("--retry-pauses"), QStringLiteral("0,0,0")});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("Achtung: Das Zertifikat des Servers 127.0.0.1 hat sich geändert!")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("Versuch 3"))) << r.err.toStdString();
    EXPECT_TRUE(ws.uploadedFiles().filter(QRegularExpression(QStringLiteral("\\.zip$"))).isEmpty());
    EXPECT_TRUE(recordedJobNumbers().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
}

// A server whose certificate the worker trusted, that now answers without TLS (or someone
// between the office and the shop who strips AUTH TLS), must not get the password and the
// job in clear text just because the target says "wenn der Server es anbietet".
TEST_F(KestroSendTest, ATrustedServerThatStopsOfferingTlsGetsNothingInClearText) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    setEncryption(QStringLiteral("1"));
    ASSERT_NO_FATAL_FAILURE(trustAnotherFingerprint());
    const QString plan = planFile();

    const ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
}

// A hand-edited trust file whose line for the server is indented: the option that trusts
// the shop's new certificate must take effect, not leave the old line winning.
TEST_F(KestroSendTest, TheOptionReplacesAnIndentedOldFingerprint) {
    const QString pem = ws.machine.path(QStringLiteral("shop.pem"));
    const QString fingerprint = kestro::test::makeSelfSignedCertificate(pem);
    ASSERT_FALSE(fingerprint.isEmpty());
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-tls"), pem})) << ws.problem().toStdString();
    setEncryption(QStringLiteral("2"));
    ASSERT_NO_FATAL_FAILURE(trustAnotherFingerprint(QStringLiteral("  ")));
    const QString plan = planFile();

    const ProcessRun r = run({jobFile({file(plan)}), QStringLiteral("--trust-fingerprint"),
                              QStringLiteral("SHA256:") + fingerprint});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(ws.uploadedFiles().size(), 1);
}

// A wrong call, a job file that is no job, a job the window would refuse, and values the
// window's lists would never offer: refused with the exit code for its kind, the file and
// the value named, and nothing reaches the shop.
TEST_F(KestroSendTest, WhatTheWindowWouldNotSendIsRefusedNamingWhy) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    const QString plan = planFile();
    auto written = [&](const char* name, const char* text) {
        return QStringList{ws.machine.writeFile(QLatin1String(name), text)};
    };
    int jobs = 0;
    auto with = [&](const QString& key, const QJsonValue& value) {
        QJsonObject f = file(plan);
        f.insert(key, value);
        return QStringList{jobFile({f}, QStringLiteral("job%1.json").arg(++jobs))};
    };
    auto withJob = [&](const QString& key, const QString& value) {
        return QStringList{
            jobFile({file(plan)}, QStringLiteral("job%1.json").arg(++jobs), {{key, value}})};
    };
    const QString nul = QStringLiteral("/tmp/plan") + QChar(0) + QStringLiteral(".pdf");
    const QString nulInside = QStringLiteral("far") + QChar(0) + QStringLiteral("big");
    const struct {
        QStringList args;
        int exitCode;
        QStringList named;
    } cases[] = {
        {{}, 64, {}},
        {{QStringLiteral("a.json"), QStringLiteral("b.json")}, 64, {}},
        {{QStringLiteral("--unknown"), QStringLiteral("a.json")}, 64, {}},
        {{ws.machine.path(QStringLiteral("fehlt.json"))}, 64, {}},
        {written("broken.json", "{\"files\": ["), 64, {QStringLiteral("not valid JSON")}},
        {written("wrong.json", R"({"files": [{"path": ["plan.pdf"]}]})"),
         64,
         {QStringLiteral("files[0]")}},
        {written("date.json", R"({"date": "7.12.2026", "files": []})"), 64, {}},
        {{jobFile({}, QStringLiteral("leer.json"))},
         1,
         {QStringLiteral("keine Daten zum versenden vorhanden !")}},
        {{jobFile({file(plan, QString())}, QStringLiteral("ohne-farbe.json"))},
         1,
         {QStringLiteral("Auftrag noch nicht vollständig ausgefüllt !")}},
        {with(QStringLiteral("copies"), 0), 64, {plan, QStringLiteral("\"0\"")}},
        {with(QStringLiteral("copies"), QStringLiteral("101")), 64, {plan, QStringLiteral("101")}},
        {with(QStringLiteral("copies"), QStringLiteral("drei")), 64, {QStringLiteral("drei")}},
        {with(QStringLiteral("path"), nul),
         64,
         {QStringLiteral("NUL"), QStringLiteral("files[0]")}},
        {{QStringLiteral("/dev/zero")}, 64, {QStringLiteral("/dev/zero")}},
        // A number with a fraction, or one far outside any count, is named as written.
        {with(QStringLiteral("copies"), 5.5), 64, {plan, QStringLiteral("5.5")}},
        {with(QStringLiteral("copies"), 1e300), 64, {plan, QStringLiteral("1e+300")}},
        // A NUL cuts neither the message nor the value; no text the window fills holds one.
        {with(QStringLiteral("color"), nulInside), 1, {plan, QStringLiteral("far\\0big")}},
        {withJob(QStringLiteral("project"), QStringLiteral("1 | Neubau") + QChar(0)),
         64,
         {QStringLiteral("project")}},
        {withJob(QStringLiteral("time"), QStringLiteral("10:00") + QChar(0)),
         64,
         {QStringLiteral("time")}},
        {withJob(QStringLiteral("remarks"), nulInside), 64, {QStringLiteral("remarks")}},
        {with(QStringLiteral("color"), QStringLiteral("lila")), 1, {plan, QStringLiteral("lila")}},
        {with(QStringLiteral("steps"), QJsonArray{QStringLiteral("heften"), QStringLiteral("keine"),
                                                  QStringLiteral("tackern")}),
         1,
         {plan, QStringLiteral("tackern")}},
    };
    for (const auto& c : cases) {
        const ProcessRun r = run(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString() + ": " + r.err.toStdString());
        EXPECT_EQ(r.exitCode, c.exitCode);
        for (const QString& text : c.named)
            EXPECT_TRUE(r.err.contains(text)) << text.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
}

// Eight scripts on one workstation and one database send at the same moment, their uploads
// overlapping on the shop's slow line: every job gets a number of its own, is recorded under
// it, and reaches the shop under a name of its own, with its own file and its number on its
// sheet; nothing is left behind on the server or locally.
TEST_P(KestroSendBothEngines, EightSendsAtOnceTakeEightNumbersAndEightNames) {
    ASSERT_TRUE(
        ws.start({QStringLiteral("--ftp-user"), QStringLiteral("schnecke")}, {}, GetParam()))
        << ws.problem().toStdString();
    constexpr int kSends = 8;
    QByteArray noise(256 * 1024, Qt::Uninitialized);
    QRandomGenerator(8).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    auto content = [&](int i) { return QByteArray::number(i) + noise; };
    std::vector<std::unique_ptr<QProcess>> sends;
    for (int i = 0; i < kSends; ++i) {
        const QString plan = ws.machine.writeFile(QStringLiteral("plan%1.pdf").arg(i), content(i));
        const QString job = jobFile({file(plan)}, QStringLiteral("job%1.json").arg(i));
        sends.push_back(std::make_unique<QProcess>());
        sends.back()->start(QStringLiteral(KESTRO_SEND_PATH), {job, QStringLiteral("--quiet")});
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
    EXPECT_EQ(numbers, (QSet<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8}));

    QStringList expected = archives;
    expected.sort();
    expected.removeDuplicates();
    ASSERT_EQ(expected.size(), kSends) << archives.join(' ').toStdString();
    EXPECT_EQ(ws.uploadedFiles(), expected);
    EXPECT_TRUE(QDir(ws.value("ftpRoot")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    QSet<int> onSheets;
    for (int i = 0; i < kSends; ++i) {
        const QString name = QStringLiteral("plan%1.pdf").arg(i);
        const auto entries =
            kestro::test::zipEntries(ws.value("ftpRoot") + QLatin1Char('/') + archives[i]);
        EXPECT_EQ(entries.keys(), (QStringList{QStringLiteral("JobDaten.txt"), name}));
        EXPECT_EQ(entries.value(name), content(i));
        onSheets << jobNumberIn(QString::fromLatin1(entries.value(QStringLiteral("JobDaten.txt"))),
                                QStringLiteral("JobNummer: "));
    }
    EXPECT_EQ(onSheets, numbers);
    EXPECT_EQ(ws.mails().size(), kSends);
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
}

// Another workstation holds the database for writing longer than the wait: the job is
// refused before anything is packed or sent, and says why. With three delivered jobs waiting
// to be recorded, one busy database is enough to know that the others would wait in vain:
// the send does not wait the lock time-out (10 s) for each of them before its own
// reservation waits once, and they still wait.
TEST_F(KestroSendTest, ADatabaseThatTakesNoWriteRefusesTheJobBeforeTheUpload) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    const QString plan = planFile();
    for (const int waiting : {0, 3}) {
        SCOPED_TRACE(waiting);
        for (int number = 1; number <= waiting; ++number) {
            kestro::jobdb::JobRows rows;
            rows.jobNumber = number;
            rows.job = {{QStringLiteral("JobNumber"), number},
                        {QStringLiteral("Uhrzeit"), QStringLiteral("101530")}};
            QString error;
            ASSERT_FALSE(kestro::jobdb::keepPendingRecord(ws.machine.clientDataFolder(),
                                                          ws.databasePath, rows, &error)
                             .isEmpty())
                << error.toStdString();
        }
        kestro::jobdb::Database other(ws.databasePath);
        ASSERT_EQ(sql(other, QStringLiteral("BEGIN IMMEDIATE")), QString());
        QElapsedTimer held;
        held.start();
        const ProcessRun r = run({jobFile({file(plan)})});
        const qint64 heldMs = held.elapsed();
        EXPECT_EQ(sql(other, QStringLiteral("ROLLBACK")), QString());
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Die Datenbank nimmt keinen Auftrag an")))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(ws.databasePath));
        EXPECT_TRUE(r.out.isEmpty());
        // Two waits of 10 s at most (the waiting jobs, the reservation), with room for a slow
        // machine; one wait per waiting job would be 40 s.
        EXPECT_LT(heldMs, 25000);
        EXPECT_EQ(pendingJobs().size(), waiting) << "the waiting jobs must still wait";
    }
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
}

// The database refuses the record after the upload: the job counts as delivered but not
// recorded (exit 3), waits in the client data folder with its number kept, and the next send
// records it before its own job.
TEST_F(KestroSendTest, ADeliveredJobTheDatabaseRefusesIsRecordedByTheNextSend) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    const QString plan = planFile();
    {
        kestro::jobdb::Database db(ws.databasePath);
        ASSERT_EQ(sql(db, QStringLiteral("CREATE TRIGGER voll BEFORE INSERT ON JobDaten BEGIN "
                                         "SELECT RAISE(ABORT, 'database or disk is full'); END")),
                  QString());
    }
    ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 1);
    EXPECT_EQ(r.out,
              QStringLiteral("Archiv: %1\nAuftragsnummer: 1\n").arg(ws.uploadedFiles().first()));
    EXPECT_TRUE(r.err.contains(QStringLiteral("nicht in der Datenbank gespeichert")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("disk is full")));
    EXPECT_EQ(ws.mails().size(), 1);
    EXPECT_TRUE(recordedJobNumbers().isEmpty());
    EXPECT_EQ(pendingJobs().size(), 1);

    {
        kestro::jobdb::Database db(ws.databasePath);
        ASSERT_EQ(sql(db, QStringLiteral("DROP TRIGGER voll")), QString());
    }
    r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(jobNumberIn(r.out), 2) << "the waiting job keeps its number";
    EXPECT_TRUE(r.err.contains(QStringLiteral("Auftrag 1 wurde in der Datenbank nachgetragen.")))
        << r.err.toStdString();
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2}));
    EXPECT_TRUE(pendingJobs().isEmpty());
}

// The send is killed (a power cut, a crashed session) after the shop has confirmed the
// archive, while the record waits for another workstation that holds the database. The shop
// has job 1; the next send records it, as it records a job whose record failed.
TEST_F(KestroSendTest, AJobKilledWhileItsRecordWaitsIsRecordedByTheNextSend) {
    // The shop's slow line (64 KiB/s) holds the upload for two seconds, time enough to take
    // the lock on a busy machine.
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("schnecke")}))
        << ws.problem().toStdString();
    const QString plan = randomFile(QStringLiteral("plan.pdf"), 128 * 1024, 3);

    QProcess send;
    send.start(QStringLiteral(KESTRO_SEND_PATH), {jobFile({file(plan)})});
    kestro::jobdb::Database otherWorkstation(ws.databasePath);
    bool holding = false;
    QString err;
    QElapsedTimer waited;
    waited.start();
    // Hold the database once the number is reserved and packing began; the upload needs no
    // database, the record then waits for the lock.
    while (waited.elapsed() < 60000 && !err.contains(QStringLiteral("Auftrag wird gespeichert"))) {
        send.waitForReadyRead(50);
        err += QString::fromUtf8(send.readAllStandardError());
        if (!holding && err.contains(QStringLiteral("Dateien werden gepackt"))) {
            ASSERT_EQ(sql(otherWorkstation, QStringLiteral("BEGIN IMMEDIATE")), QString());
            holding = true;
        }
    }
    ASSERT_TRUE(holding) << err.toStdString();
    ASSERT_TRUE(err.contains(QStringLiteral("Auftrag wird gespeichert"))) << err.toStdString();
    QThread::msleep(500);
    send.kill();
    send.waitForFinished();
    ASSERT_EQ(sql(otherWorkstation, QStringLiteral("ROLLBACK")), QString());
    ASSERT_EQ(ws.uploadedFiles().size(), 1) << "the shop has job 1";

    const ProcessRun next = run({jobFile({file(plan)}), QStringLiteral("--quiet")});
    EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
    EXPECT_EQ(jobNumberIn(next.out), 2);
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2}))
        << "job 1 reached the shop but is missing from the history";
}

// The server goes away (stopped at once, as by a pulled cable) while the job is on its way
// to the shop: the job is delivered, kept in the client data folder (exit 3), and recorded
// under its number by the next send once the server is back. It waits for that server, not
// for the text of its address: after the administrator gave the login a password (the same
// server, database and user, the address now written with it) it is recorded too.
class KestroSendServerGone : public KestroSendTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Address, KestroSendServerGone, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "GotAPassword" : "Unchanged");
});

TEST_P(KestroSendServerGone, AJobDeliveredWhileTheServerIsGoneIsRecordedWhenItIsBack) {
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("schnecke")}, {},
                         kestro::jobdb::Engine::Postgres))
        << ws.problem().toStdString();
    kestro::test::PgServer* server = kestro::test::PgServer::shared();
    ASSERT_TRUE(server);
    const QString plan = randomFile(QStringLiteral("plan.pdf"), 128 * 1024, 5);

    QProcess send;
    QString err = startUntil(send, jobFile({file(plan)}), QStringLiteral("Dateien werden gepackt"));
    ASSERT_TRUE(err.contains(QStringLiteral("Dateien werden gepackt"))) << err.toStdString();
    server->stop();
    ASSERT_TRUE(send.waitForFinished(120000));
    err += QString::fromUtf8(send.readAllStandardError());
    ASSERT_TRUE(server->start());
    EXPECT_EQ(send.exitCode(), 3) << err.toStdString();
    EXPECT_EQ(jobNumberIn(QString::fromUtf8(send.readAllStandardOutput())), 1);
    ASSERT_EQ(ws.uploadedFiles().size(), 1) << "the shop has job 1";
    ASSERT_EQ(pendingJobs().size(), 1);
    EXPECT_EQ(recordedJobNumbers(), QList<int>()) << err.toStdString();

    if (GetParam()) {
        // The test server trusts every login: the password changes only the address's text.
        ASSERT_TRUE(ws.databasePath.startsWith(QStringLiteral("postgresql://kestro@")));
        ws.databasePath.replace(QStringLiteral("kestro@"), QStringLiteral("kestro:Sommer2027@"));
        setClientValue(QStringLiteral("Databank"), ws.databasePath);
    }
    const ProcessRun next = run({jobFile({file(plan)}), QStringLiteral("--quiet")});
    EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
    EXPECT_EQ(jobNumberIn(next.out), 2);
    EXPECT_EQ(recordedJobNumbers(), (QList<int>{1, 2})) << "job 1 is delivered but not recorded";
    EXPECT_TRUE(pendingJobs().isEmpty());
}

// The pid of the server behind `address`, asked before the send so that stalling it later
// takes no connection of its own.
pid_t postmasterOf(const QString& address) {
    QString dataDir;
    {
        const kestro::jobdb::Database db(address);
        QSqlQuery q(db.connection());
        if (q.exec(QStringLiteral("SHOW data_directory")) && q.next())
            dataDir = q.value(0).toString();
    }
    QFile pidFile(dataDir + QStringLiteral("/postmaster.pid"));
    if (dataDir.isEmpty() || !pidFile.open(QIODevice::ReadOnly))
        return 0;
    return pid_t(pidFile.readLine().trimmed().toInt());
}

// The server and all its children (the connections) as they are now.
QList<pid_t> serverProcesses(pid_t postmaster) {
    QList<pid_t> out{postmaster};
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == postmaster)
            out << pid_t(entry.toInt());
    }
    return out;
}

// The server stalls while the job is on its way (a paused machine, a line that drops
// without a reset): its connections stay open and answer nothing. The delivered job must
// not hang the send for ever: it ends, keeps the job pending (exit 3), and says so.
TEST_F(KestroSendTest, AJobDeliveredWhileTheServerStallsEndsAndIsKeptPending) {
    // The slow line holds the upload long enough to stall the server before the record.
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("schnecke")}, {},
                         kestro::jobdb::Engine::Postgres))
        << ws.problem().toStdString();
    const QString plan = randomFile(QStringLiteral("plan.pdf"), 128 * 1024, 7);
    const pid_t postmaster = postmasterOf(ws.databasePath);
    ASSERT_GT(postmaster, 0);

    QProcess send;
    QString err = startUntil(send, jobFile({file(plan)}), QStringLiteral("Dateien werden gepackt"));
    ASSERT_TRUE(err.contains(QStringLiteral("Dateien werden gepackt"))) << err.toStdString();
    const QList<pid_t> server = serverProcesses(postmaster);
    ASSERT_GT(server.size(), 1);
    for (const pid_t pid : server)
        ::kill(pid, SIGSTOP);
    const bool ended = send.waitForFinished(90000);
    for (const pid_t pid : server)
        ::kill(pid, SIGCONT);
    if (!ended) {
        send.kill();
        send.waitForFinished();
    }
    err += QString::fromUtf8(send.readAllStandardError());
    ASSERT_TRUE(ended) << "kestro-send still waits for the stalled server after 90 s: "
                       << err.toStdString();
    EXPECT_EQ(send.exitCode(), 3) << err.toStdString();
    EXPECT_EQ(ws.uploadedFiles().size(), 1);
    EXPECT_EQ(pendingJobs().size() + recordedJobNumbers().size(), 1);
}

TEST_F(KestroSendTest, HundredPercentOnlyAfterTheShopConfirmed) {
    // The shop keeps only the first bytes and still answers 226.
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("kuerzer")}))
        << ws.problem().toStdString();
    const QString scan = randomFile(QStringLiteral("scan.tif"), 2 << 20, 3);
    const ProcessRun r = run({jobFile({file(scan)})});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("100 %"))) << r.err.toStdString();
    EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(' ').toStdString();
}

// kestro-send killed (kill -9, a crash, the machine switched off) while the archive
// travels: its part file stays in the shop's folder, up to the size of the whole archive.
// The next send on this workstation removes the killed send's local leftovers; it must
// remove what that send left on the shop's server as well, or the shop's folder fills
// with part files nobody ever removes.
TEST_F(KestroSendTest, PartFileOfAKilledSendIsRemovedByTheNextSend) {
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("schnecke")}))
        << ws.problem().toStdString();
    const QString scan = randomFile(QStringLiteral("scan.tif"), 16 << 20, 3);
    QProcess killed;
    killed.setReadChannel(QProcess::StandardError);
    killed.start(QStringLiteral(KESTRO_SEND_PATH), {jobFile({file(scan)})});
    QByteArray err;
    while (!err.contains("Handle created") && killed.waitForReadyRead(30000))
        err += killed.readAllStandardError();
    ASSERT_TRUE(err.contains("Handle created")) << err.toStdString();
    QThread::msleep(1000); // the archive is on its way
    ASSERT_GT(killed.processId(), 0);
    ::kill(killed.processId(), SIGKILL);
    killed.waitForFinished(30000);
    ASSERT_EQ(ws.uploadedFiles().filter(QStringLiteral(".part")).size(), 1)
        << ws.uploadedFiles().join(' ').toStdString();

    const QString plan = planFile();
    const ProcessRun r = run({jobFile({file(plan)})});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
        << ws.archivesLeftLocally().join(' ').toStdString();
    EXPECT_TRUE(ws.uploadedFiles().filter(QStringLiteral(".part")).isEmpty())
        << ws.uploadedFiles().join(' ').toStdString();
}

} // namespace

// The send pipeline against a real print shop on loopback: what arrives on the shop's
// FTP server, what the database holds afterwards, the mail the shop receives, and what
// is left on the workstation after an abort or a failed upload.
#include "authoritycert.h"
#include "cli/sendworkstation.h"
#include "client/jobdb/database.h"
#include "client/mail/mailnotification.h"
#include "client/send/progressdisplay.h"
#include "client/send/sendarchive.h"
#include "client/send/sendpipeline.h"
#include "client/send/sendworkfolder.h"
#include "client/startup/catalogue.h"
#include "common/transferlog.h"
#include "support/selfsigned.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::transfer;
using kestro::test::SendWorkstation;

namespace {

const QDateTime kSendTime(QDate(2026, 12, 7), QTime(10, 5, 3));

compose::FileRow row(const QString& path) {
    return {QStringLiteral("1"),      QFileInfo(path).fileName(),
            QStringLiteral("2"),      QStringLiteral("farbig"),
            QStringLiteral("heften"), QStringLiteral("keine"),
            QStringLiteral("keine"),  path};
}

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

class SendPipelineTest : public ::testing::Test {
protected:
    void startShop(const QStringList& shopArgs = {}, const QString& ftpServer = {}) {
        ASSERT_TRUE(ws.start(shopArgs, ftpServer)) << ws.problem().toStdString();
        state.clientDataFolder = ws.machine.clientDataFolder();
        state.databasePath = ws.databasePath;
        state.ftp.server = ftpServer.isEmpty() ? ws.value("ftpServer") : ftpServer;
        state.master.name = kestro::test::kCompany;
        config = DeployConfig::load(ws.machine.configFile());
        database = std::make_unique<jobdb::Database>(ws.databasePath);
        makePipeline();
    }

    // The window's pipeline, as a start of the program makes it.
    void makePipeline() {
        pipeline =
            std::make_unique<SendPipeline>(SendEnvironment{state, config, *database, prompter});
        pipeline->setClock([] { return kSendTime; });
        QObject::connect(pipeline.get(), &SendPipeline::statusLine,
                         [this](const QString& line) { statusLines << line; });
        QObject::connect(pipeline.get(), &SendPipeline::clearJob, [this] { ++clears; });
    }

    SendResult send(const compose::JobSnapshot& job) {
        SendResult result;
        QEventLoop loop;
        QObject::connect(pipeline.get(), &SendPipeline::finished, &loop, [&](const SendResult& r) {
            result = r;
            loop.quit();
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        QTimer::singleShot(0, &loop, [&] { EXPECT_TRUE(pipeline->start(job)); });
        loop.exec();
        return result;
    }

    int rowCount(const QString& table) {
        QSqlQuery q(database->connection());
        q.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table);
        return q.next() ? q.value(0).toInt() : -1;
    }

    // Every entry of an archive in the shop's FTP folder with its bytes.
    QMap<QString, QByteArray> shopArchive(const QString& name) const {
        return kestro::test::zipEntries(ws.value("ftpRoot") + QLatin1Char('/') + name);
    }

    compose::JobSnapshot jobOf(const QStringList& paths) {
        compose::JobSnapshot job;
        job.deadlineDate = QDate(2026, 12, 9);
        job.deadlineTime = QStringLiteral("10 : 00");
        job.remarks = QStringLiteral("Bitte bis Mittwoch");
        for (const QString& p : paths)
            job.files << row(p);
        return job;
    }

    SendWorkstation ws;
    startup::ClientState state;
    DeployConfig config;
    ScriptedPrompter prompter;
    std::unique_ptr<jobdb::Database> database;
    std::unique_ptr<SendPipeline> pipeline;
    QStringList statusLines;
    int clears = 0;
};

TEST(ArchiveName, CompanyDateAndTimeWithUnsafeCharactersReplaced) {
    EXPECT_EQ(archiveName(QStringLiteral("Muster GmbH"), kSendTime),
              QStringLiteral("Muster GmbH-071226-100503.zip"));
    EXPECT_EQ(archiveName(QStringLiteral("A/B\\C\tD\x01"), kSendTime),
              QStringLiteral("A_B_C_D_-071226-100503.zip"));
}

// The job arrives, is recorded and the shop is told. A job of the same company sent a
// moment ago holds the archive's name on the server: this one takes the next free name,
// and everything that names the archive names it as the shop finds it.
TEST_F(SendPipelineTest, DeliveredJobArrivesIsRecordedAndTheShopIsTold) {
    startShop();
    const QString taken = QStringLiteral("Muster_Bau_GmbH-071226-100503.zip");
    ws.machine.writeFile(QStringLiteral("shop/ftp/") + taken, "the job sent a moment ago");
    ASSERT_EQ(ws.uploadedFiles(), QStringList{taken});
    const QString a = ws.machine.writeFile(QStringLiteral("eg/plan.pdf"), "%PDF erdgeschoss");
    const QString b = ws.machine.writeFile(QStringLiteral("og/plan.pdf"), "%PDF obergeschoss");
    const QString c = ws.machine.writeFile(QStringLiteral("scan.tif"), randomBytes(300000));

    const SendResult r = send(jobOf({a, b, c}));

    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    const QString name = QStringLiteral("Muster_Bau_GmbH-071226-100503-2.zip");
    EXPECT_EQ(r.archiveName, name);
    EXPECT_EQ(r.jobNumber, 1);
    EXPECT_EQ(r.message, QStringLiteral("Uploading ") + name + QStringLiteral(" completed."));
    EXPECT_EQ(ws.uploadedFiles(), (QStringList{name, taken}));
    EXPECT_EQ(kestro::test::readFile(ws.value("ftpRoot") + QLatin1Char('/') + taken),
              QByteArray("the job sent a moment ago"));
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());

    // Both plan.pdf arrive, and the job sheet names each entry as it is in the archive.
    const auto entries = shopArchive(name);
    EXPECT_EQ(entries.keys(),
              (QStringList{QStringLiteral("JobDaten.txt"), QStringLiteral("plan (2).pdf"),
                           QStringLiteral("plan.pdf"), QStringLiteral("scan.tif")}));
    EXPECT_EQ(entries.value(QStringLiteral("plan.pdf")), QByteArray("%PDF erdgeschoss"));
    EXPECT_EQ(entries.value(QStringLiteral("plan (2).pdf")), QByteArray("%PDF obergeschoss"));
    EXPECT_EQ(entries.value(QStringLiteral("scan.tif")), kestro::test::readFile(c));
    const QByteArray sheet = entries.value(QStringLiteral("JobDaten.txt"));
    EXPECT_TRUE(sheet.contains("plan (2).pdf")) << sheet.toStdString();

    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 1);
    EXPECT_EQ(rowCount(QStringLiteral("FileDaten")), 3);
    EXPECT_TRUE(r.recorded);

    ASSERT_EQ(ws.mails().size(), 1);
    const QJsonObject mail = ws.mail(ws.mails().first());
    EXPECT_EQ(mail.value(QStringLiteral("subject")).toString(),
              QStringLiteral("KestroClient - File: ") + name)
        << QJsonDocument(mail).toJson().toStdString();
    EXPECT_TRUE(r.mailSent);

    EXPECT_EQ(clears, 1);
    const QByteArray log = kestro::test::readFile(transferLogPath(state.clientDataFolder));
    EXPECT_TRUE(log.contains("Info: compressed ..."));
    EXPECT_TRUE(log.contains(("Uploading " + name + " completed.").toUtf8()));
    // The shop's catalogue gave the login and the notification address.
    EXPECT_EQ(state.ftp.user, QStringLiteral("kunde"));
    EXPECT_EQ(state.ftp.recipient, ws.value("shopMail"));
}

TEST_F(SendPipelineTest, RefusedJobsStopBeforeAnythingIsPacked) {
    startShop();
    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF");

    // Each refusal is for the worker to see; the pipeline itself opens no box.
    SendResult r = send(jobOf({}));
    EXPECT_EQ(r.outcome, SendOutcome::NoFiles);
    EXPECT_EQ(r.message, sendtext::kNoFiles);
    EXPECT_EQ(r.notice, SendNotice::Warning);
    compose::JobSnapshot incomplete = jobOf({a});
    incomplete.files[0].color.clear();
    r = send(incomplete);
    EXPECT_EQ(r.outcome, SendOutcome::Incomplete);
    EXPECT_EQ(r.message, sendtext::kIncomplete);
    EXPECT_EQ(r.notice, SendNotice::Warning);

    // Nothing that can be read: counted, told, no upload, no archive left.
    r = send(jobOf({ws.machine.path(QStringLiteral("fehlt.pdf"))}));
    EXPECT_EQ(r.outcome, SendOutcome::NothingPacked);
    EXPECT_EQ(r.message, QStringLiteral("0 Zipped files and 1 not"));
    EXPECT_EQ(r.notice, SendNotice::Warning);
    EXPECT_TRUE(prompter.shown.empty()) << prompter.texts().join('\n').toStdString();
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 0);
}

TEST_F(SendPipelineTest, DefaultTargetWarnsAndYesStopsTheSend) {
    startShop({}, QStringLiteral("FTP.Varnholt.example"));
    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF");
    prompter.answers = {true};
    SendResult r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::ConfigureTarget);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, sendtext::defaultTargetWarning());
    EXPECT_EQ(prompter.shown[0].kind, ScriptedPrompter::Shown::Kind::Question);

    // No: the send goes on; the maker's host is not in the shop's targets list, so the
    // catalogue is not obtained and the send ends without a word.
    prompter.answers = {false};
    EXPECT_EQ(send(jobOf({a})).outcome, SendOutcome::CatalogueNotObtained);
    EXPECT_EQ(prompter.shown.size(), 2u);

    // A program without anyone to ask decides beforehand; nothing is asked then.
    pipeline->setDefaultTargetChoice(DefaultTargetChoice::Refuse);
    r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::ConfigureTarget);
    EXPECT_EQ(r.message, sendtext::defaultTargetWarning());
    pipeline->setDefaultTargetChoice(DefaultTargetChoice::Send);
    EXPECT_EQ(send(jobOf({a})).outcome, SendOutcome::CatalogueNotObtained);
    EXPECT_EQ(prompter.shown.size(), 2u);
}

// A server that refuses the upload, or keeps only part of the file and still confirms it:
// nothing counts as delivered, nothing is recorded or mailed, and the job stays.
class UndeliveredUpload : public SendPipelineTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(UndeliveredUpload, DeliversNothingAndKeepsTheJob) {
    startShop({QStringLiteral("--ftp-user"), QString::fromLatin1(GetParam())});
    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), randomBytes(300000));
    const SendResult r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::NotDelivered);
    EXPECT_TRUE(r.upload.connected);
    EXPECT_FALSE(r.message.isEmpty());
    EXPECT_NE(pipeline->display().progressText(), QStringLiteral("100 %"));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 0);
    EXPECT_TRUE(ws.mails().isEmpty());
    EXPECT_EQ(clears, 0);
}

INSTANTIATE_TEST_SUITE_P(Server, UndeliveredUpload, ::testing::Values("gesperrt", "kuerzer"),
                         [](const auto& info) { return std::string(info.param); });

// The shop's server requires TLS with a certificate it made itself: the worker is shown it
// once; "Abbrechen" sends nothing, "Zertifikat vertrauen" sends the job and keeps the
// trust, so the next send asks no more.
TEST_F(SendPipelineTest, SelfSignedCertificateIsShownOnceAndTrustedByTheWorker) {
    const QString pem = ws.machine.path(QStringLiteral("shop.pem"));
    const QString fingerprint = kestro::test::makeSelfSignedCertificate(pem);
    ASSERT_FALSE(fingerprint.isEmpty());
    startShop({QStringLiteral("--ftp-tls"), pem});
    state.ftp.encryption = startup::FtpEncryption::Required;
    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), randomBytes(100000));

    SendResult r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::NotDelivered);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].kind, ScriptedPrompter::Shown::Kind::Question);
    EXPECT_TRUE(
        prompter.shown[0].text.contains(QStringLiteral("SHA-256-Fingerabdruck:\r") + fingerprint))
        << prompter.shown[0].text.toStdString();
    EXPECT_TRUE(prompter.shown[0].text.contains(
        QStringLiteral("Ausgestellt für: CN=druckerei.test,O=Druckerei Ärmel")));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 0);

    prompter.answers = {true};
    r = send(jobOf({a}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(prompter.shown.size(), 2u);
    ASSERT_EQ(ws.uploadedFiles().size(), 1);
    EXPECT_EQ(shopArchive(ws.uploadedFiles().first()).value(QStringLiteral("plan.pdf")),
              kestro::test::readFile(a));

    r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(prompter.shown.size(), 2u) << "asked once, trusted from then on";
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 2);
}

// The line drops, and the server the system's authorities confirmed shows a certificate
// of its own when the upload reconnects: the worker is asked, trusts it, and the job goes
// out anew. The part file the first upload left must not stay on the shop's server.
TEST_F(SendPipelineTest, TrustingACertificateMetWhileResumingLeavesNoPartFile) {
    const auto confirmed = kestro::test::makeAuthoritySignedCertificate(
        ws.machine.root(), QStringLiteral("IP:127.0.0.1"));
    ASSERT_FALSE(confirmed.pem.isEmpty());
    const QString later = ws.machine.path(QStringLiteral("later.pem"));
    ASSERT_FALSE(kestro::test::makeSelfSignedCertificate(later).isEmpty());
    ws.machine.env().set("SSL_CERT_FILE", confirmed.authority);
    // The server closes the control connection as well: the first upload cannot remove its
    // part file over a connection that takes the old certificate.
    startShop({QStringLiteral("--ftp-user"), QStringLiteral("dienstende"),
               QStringLiteral("--ftp-tls"), confirmed.pem, QStringLiteral("--ftp-tls-later"),
               later});
    state.ftp.encryption = startup::FtpEncryption::Required;
    state.ftp.retryPauses = kestro::test::kShortRetryPauses;
    prompter.answers = {true};
    const QString a = ws.machine.writeFile(QStringLiteral("scan.tif"), randomBytes(300000));
    const SendResult r = send(jobOf({a}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(ws.uploadedFiles(), QStringList{r.archiveName});
    const QStringList parts =
        QDir(ws.value("ftpRoot")).entryList({QStringLiteral("*.part")}, QDir::Files);
    EXPECT_TRUE(parts.isEmpty()) << parts.join(' ').toStdString();
}

// The whole archive arrived, and the line stays down through every attempt to rename it:
// the complete part file is not deleted for that, and the next send removes it once it
// delivered its own.
TEST_F(SendPipelineTest, APartFileTheRenameCouldNotTakeIsRemovedByTheNextSend) {
    startShop({QStringLiteral("--ftp-user"), QStringLiteral("mkdlange")});
    state.ftp.retryPauses = kestro::test::kShortRetryPauses;
    const QString a = ws.machine.writeFile(QStringLiteral("scan.tif"), randomBytes(300000));
    const QDir shop(ws.value("ftpRoot"));
    EXPECT_EQ(send(jobOf({a})).outcome, SendOutcome::NotDelivered);
    EXPECT_EQ(shop.entryList({QStringLiteral("*.part")}, QDir::Files).size(), 1);
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 0);

    const SendResult r = send(jobOf({a}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(shop.entryList(QDir::Files), QStringList{r.archiveName});
}

TEST_F(SendPipelineTest, FailedMailIsLoggedAndShownButTheJobCountsAsDelivered) {
    // The shop's mail server wants another login than the workstation has.
    startShop({QStringLiteral("--smtp-auth"), QStringLiteral("jemand:anders")});
    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF");
    const SendResult r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_TRUE(r.mailAttempted);
    EXPECT_FALSE(r.mailSent);
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 1);
    EXPECT_EQ(clears, 1);
    EXPECT_TRUE(ws.mails().isEmpty());
    const QString failure = statusLines.filter(QStringLiteral("Mail nicht gesendet")).value(0);
    EXPECT_FALSE(failure.isEmpty()) << statusLines.join('\n').toStdString();
    EXPECT_TRUE(kestro::test::readFile(mailErrorLogPath(state.clientDataFolder))
                    .contains("Mail nicht gesendet"));
}

// A company name so long that the archive's name does not fit a file name: the archive
// cannot be written, not the worker's files. "0 Zipped files and 1 not" would blame a file
// that is fine while every later job of the company fails the same way: the worker is told
// of the archive, the error handler names the error and closes the FTP error log.
TEST_F(SendPipelineTest, ArchiveThatCannotBeWrittenIsNamedAndNotBlamedOnTheFiles) {
    startShop();
    state.master.name = QString(300, QLatin1Char('M'));
    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF");
    const SendResult r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::Failed);
    EXPECT_TRUE(r.message.contains(QStringLiteral("kann nicht geschrieben werden")))
        << r.message.toStdString();
    const QStringList told = prompter.texts() + statusLines + QStringList{r.message};
    EXPECT_TRUE(told.filter(QStringLiteral("Archiv")).size() > 0)
        << "the worker was told only: " << told.join(" | ").toStdString();
    EXPECT_EQ(pipeline->display().infoPanel(), QStringLiteral("FTP-Status: ") + r.message);
    EXPECT_EQ(kestro::test::readFile(ftpErrorLogPath(state.clientDataFolder)),
              QByteArray("errproxy:: \r\r\nEnd ErrLog: \r\r\n"));
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 0);
}

// The abort as each step begins, and while the archive travels (the shop takes 2 MB per
// second, so an upload the abort missed would still be on its way): no archive on either
// side, no row, no mail, and the job stays in the window.
TEST_F(SendPipelineTest, AbortWhilePackingOrUploadingLeavesNoTrace) {
    startShop({QStringLiteral("--ftp-user"), QStringLiteral("langsam")});
    const QString big = ws.machine.writeFile(QStringLiteral("scan.tif"), randomBytes(16 << 20));
    struct Case {
        const char* when;
        std::optional<SendPipeline::State> step; // none: once bytes have gone out
    };
    for (const Case& c : {Case{"packing begins", SendPipeline::State::Packing},
                          Case{"the upload begins", SendPipeline::State::Uploading},
                          Case{"the archive travels", std::nullopt}}) {
        SCOPED_TRACE(c.when);
        QObject hooks; // the abort of this case only
        bool travelling = false;
        QObject::connect(pipeline.get(), &SendPipeline::stateChanged, &hooks,
                         [&](SendPipeline::State s) {
                             if (c.step == s)
                                 QTimer::singleShot(0, &hooks, [this] { pipeline->abort(); });
                         });
        QObject::connect(pipeline.get(), &SendPipeline::progress, &hooks,
                         [&](const TransferProgress& p) {
                             if (!c.step && !travelling && p.done > 0 &&
                                 pipeline->state() == SendPipeline::State::Uploading) {
                                 travelling = true;
                                 pipeline->abort();
                             }
                         });
        const SendResult r = send(jobOf({big}));
        EXPECT_EQ(r.outcome, SendOutcome::Aborted);
        if (!c.step) {
            ASSERT_TRUE(travelling);
            EXPECT_GT(r.upload.bytesSent, 0);
        }
        EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
        EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(' ').toStdString();
    }
    EXPECT_EQ(rowCount(QStringLiteral("JobDaten")), 0);
    EXPECT_TRUE(ws.mails().isEmpty());
    EXPECT_EQ(clears, 0);
}

// Names are names: "[", "?" and "*" in a chosen file never pick other files; and five
// thousand chosen files go into one archive of one send.
TEST_F(SendPipelineTest, ExactlyTheChosenFilesArriveHoweverNamedAndHoweverMany) {
    startShop();
    const QStringList chosen{"Angebot [final].pdf", "Plan*.pdf", "Bericht [2024].pdf",
                             "Frage?.pdf"};
    QStringList paths;
    for (const QString& name : chosen)
        paths << ws.machine.writeFile(QStringLiteral("akten/") + name, ("chosen " + name).toUtf8());
    for (const char* name : {"Angebot f.pdf", "Plan-Gehaelter.pdf", "Bericht 2.pdf", "Frage1.pdf"})
        ws.machine.writeFile(QStringLiteral("akten/") + QLatin1String(name), "not chosen");
    QStringList expected = chosen + QStringList{QStringLiteral("JobDaten.txt")};
    for (int i = 1; i <= 5000; ++i) {
        paths << ws.machine.writeFile(QStringLiteral("viele/blatt%1.pdf").arg(i),
                                      QByteArray::number(i));
        expected << QStringLiteral("blatt%1.pdf").arg(i);
    }
    const SendResult r = send(jobOf(paths));

    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(r.packed, 5004);
    EXPECT_EQ(r.notPacked, 0);
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(ws.uploadedFiles(), QStringList{r.archiveName});
    const auto entries = shopArchive(r.archiveName);
    expected.sort();
    EXPECT_TRUE(entries.keys() == expected) << entries.size() << " entries";
    for (const QString& name : chosen)
        EXPECT_EQ(entries.value(name), ("chosen " + name).toUtf8()) << name.toStdString();
    EXPECT_EQ(entries.value(QStringLiteral("blatt4999.pdf")), QByteArray("4999"));
    EXPECT_EQ(rowCount(QStringLiteral("FileDaten")), 5004);
}

// A remark, a time or a file name cannot forge a line of the job sheet. The shop matches
// each sheet line to a file of the archive by its name: a file whose name holds a line
// break or a tab is listed with a blank, so its entry must carry the same name, or the
// shop finds a file the sheet does not name and a sheet line without its file.
TEST_F(SendPipelineTest, ControlCharactersBecomeBlanksOnTheJobSheetAndInTheArchive) {
    startShop();
    compose::JobSnapshot job =
        jobOf({ws.machine.writeFile(QStringLiteral("plan\nJobNummer: 998.pdf"), "%PDF a"),
               ws.machine.writeFile(QStringLiteral("mit\ttab.pdf"), "%PDF b")});
    job.remarks = QStringLiteral("eilig\r\nJobNummer: 999\tsofort\x01");
    job.deadlineTime = QStringLiteral("10 : 00\rJobNummer: 997");
    const SendResult r = send(job);

    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    const auto entries = shopArchive(r.archiveName);
    const QByteArray sheet = entries.value(QStringLiteral("JobDaten.txt"));
    QList<QByteArray> lines = sheet.split('\n');
    ASSERT_EQ(lines.takeLast(), QByteArray());
    int numberLines = 0;
    for (const QByteArray& line : lines) {
        ASSERT_TRUE(line.endsWith("\r\r")) << line.toStdString();
        for (const char c : line.chopped(2))
            EXPECT_GE(uchar(c), 0x20) << line.toStdString();
        numberLines += line.startsWith("JobNummer:");
    }
    EXPECT_EQ(numberLines, 1) << sheet.toStdString();
    EXPECT_TRUE(
        sheet.contains("BEMERKUNGEN - B E M E R K U N G E N: eilig  JobNummer: 999 sofort "));
    EXPECT_EQ(entries.size(), 3);
    for (const QString& entry : entries.keys()) {
        EXPECT_TRUE(
            entry == QLatin1String("JobDaten.txt") ||
            QString::fromLatin1(sheet).contains(QLatin1Char(' ') + entry + QLatin1Char(' ')))
            << "the archive holds \"" << entry.toStdString()
            << "\", which no line of the sheet names:\n"
            << sheet.toStdString();
    }
}

// What a killed send left goes; what a running send holds, what the worker keeps in the
// data folder (named like an archive or a work folder) and what a link named like a work
// folder points to stay.
TEST_F(SendPipelineTest, LeftoversOfKilledSendsGoAndNothingElse) {
    startShop();
    const QString data = state.clientDataFolder;
    const QString dead = QStringLiteral("appdata/Varnholt/KestroFTP-Client/Senden-tot123/");
    ws.machine.writeFile(dead + QStringLiteral(".kestro-sendung"), "");
    ws.machine.writeFile(dead + QStringLiteral("Muster_Bau_GmbH-011226-090000.zip"),
                         randomBytes(1000));
    ASSERT_TRUE(QFile::exists(data + "/Senden-tot123")) << data.toStdString();
    const QStringList kept = {
        ws.machine.writeFile(QStringLiteral("appdata/Varnholt/KestroFTP-Client/"
                                            "Muster-071226-100503.zip"),
                             "a copy of last week's job"),
        ws.machine.writeFile(QStringLiteral("appdata/Varnholt/KestroFTP-Client/Senden-Belege/"
                                            "Lieferschein.pdf"),
                             "%PDF"),
        ws.machine.writeFile(QStringLiteral("projekte/Angebot.pdf"), "the worker's only copy"),
        ws.machine.writeFile(QStringLiteral("projekte/.kestro-sendung"), "")};
    ASSERT_TRUE(QFile::link(ws.machine.path(QStringLiteral("projekte")),
                            data + QStringLiteral("/Senden-a1b2c3")));
    SendWorkFolder running;
    QString error;
    ASSERT_TRUE(running.create(data, &error)) << error.toStdString();
    const QString sheet = running.path() + QStringLiteral("/JobDaten.txt");
    QFile sheetFile(sheet);
    ASSERT_TRUE(sheetFile.open(QIODevice::WriteOnly));
    sheetFile.close();

    const QString a = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF");
    ASSERT_EQ(send(jobOf({a})).outcome, SendOutcome::Delivered);

    EXPECT_TRUE(QFile::exists(sheet));
    for (const QString& file : kept)
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
    running.remove();
    EXPECT_EQ(ws.archivesLeftLocally(),
              (QStringList{QStringLiteral("Muster-071226-100503.zip"),
                           QStringLiteral("Senden-a1b2c3"), QStringLiteral("Senden-Belege")}));
}

// Closing the main window while the archive travels stops the send as the abort button
// does (the window aborts, then goes). The window does not wait for a slow server to take
// the removal of the part file; the next send, after the next start, removes it, so the
// shop's folder keeps nothing of the job the worker sends again.
TEST_F(SendPipelineTest, APartFileOfAWindowClosedMidUploadIsRemovedByTheNextSend) {
    startShop({QStringLiteral("--ftp-user"), QStringLiteral("traege")});
    const QString big = ws.machine.writeFile(QStringLiteral("scan.tif"), randomBytes(16 << 20));
    QEventLoop loop;
    bool closed = false;
    QObject::connect(
        pipeline.get(), &SendPipeline::progress, &loop, [&](const TransferProgress& p) {
            if (!closed && pipeline->state() == SendPipeline::State::Uploading && p.done > 0) {
                closed = true;
                // What the window's unload and destruction do.
                QTimer::singleShot(0, &loop, [&] {
                    pipeline->abort();
                    pipeline.reset();
                    loop.quit();
                });
            }
        });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    QTimer::singleShot(0, &loop, [&] { EXPECT_TRUE(pipeline->start(jobOf({big}))); });
    loop.exec();
    ASSERT_TRUE(closed);

    // The next start: a new pipeline on the same workstation sends a small job.
    makePipeline();
    const QString small = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF");
    const SendResult r = send(jobOf({small}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(ws.uploadedFiles(), QStringList{r.archiveName})
        << ws.uploadedFiles().join(' ').toStdString();
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
        << ws.archivesLeftLocally().join(' ').toStdString();
}

} // namespace

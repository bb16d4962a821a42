// The send pipeline against a real print shop on loopback: what reaches the shop's FTP server,
// the database and the shop's mail, and what the workstation keeps after an abort or a failure.
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
#include "transfertest.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSqlQuery>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestro;
using namespace kestro::transfer;
using kestro::test::randomBytes;
using kestro::test::SendWorkstation;

namespace {

const QDateTime kSendTime(QDate(2026, 12, 7), QTime(10, 5, 3));

compose::FileRow row(const QString& path) {
    return {u"1"_s,      QFileInfo(path).fileName(),
            u"2"_s,      u"farbig"_s,
            u"heften"_s, u"keine"_s,
            u"keine"_s,  path};
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
        q.exec(u"SELECT COUNT(*) FROM "_s + table);
        return q.next() ? q.value(0).toInt() : -1;
    }

    QMap<QString, QByteArray> shopArchive(const QString& name) const {
        return kestro::test::zipEntries(ws.value("ftpRoot") + QLatin1Char('/') + name);
    }

    compose::JobSnapshot jobOf(const QStringList& paths) {
        compose::JobSnapshot job;
        job.deadlineDate = QDate(2026, 12, 9);
        job.deadlineTime = u"10 : 00"_s;
        job.remarks = u"Bitte bis Mittwoch"_s;
        for (const QString& p : paths)
            job.files << row(p);
        return job;
    }

    QString write(const QString& name, const QByteArray& bytes) {
        return ws.machine.writeFile(name, bytes);
    }

    // Nothing of the job reached the shop, the database or the mail, and the window keeps it.
    void expectJobKept() {
        EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(' ').toStdString();
        EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
            << ws.archivesLeftLocally().join(' ').toStdString();
        EXPECT_EQ(rowCount(u"JobDaten"_s), 0);
        EXPECT_TRUE(ws.mails().isEmpty());
        EXPECT_EQ(clears, 0);
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
    EXPECT_EQ(archiveName(u"Muster GmbH"_s, kSendTime), u"Muster GmbH-071226-100503.zip"_s);
    EXPECT_EQ(archiveName(u"A/B\\C\tD\x01"_s, kSendTime), u"A_B_C_D_-071226-100503.zip"_s);
}

// Odd names, 5,000 files, a forged sheet line, a name taken by a job sent a moment ago, killed
// sends' leftovers: exactly the chosen files arrive, each named on the sheet; recorded and told.
TEST_F(SendPipelineTest, OneJobOfOddNamesAndManyFilesArrivesWholeIsRecordedAndTold) {
    startShop();
    const QString taken = u"Muster_Bau_GmbH-071226-100503.zip"_s;
    write(u"shop/ftp/"_s + taken, "the job sent a moment ago");
    const QString data = u"appdata/Varnholt/KestroFTP-Client/"_s;
    write(data + u"Senden-tot123/.kestro-sendung"_s, "");
    write(data + u"Senden-tot123/Muster_Bau_GmbH-011226-090000.zip"_s, randomBytes(1000));
    const QStringList kept = {write(data + u"Muster-071226-100503.zip"_s, "last week's job"),
                              write(data + u"Senden-Belege/Lieferschein.pdf"_s, "%PDF"),
                              write(u"projekte/Angebot.pdf"_s, "the worker's only copy"),
                              write(u"projekte/.kestro-sendung"_s, "")};
    ASSERT_TRUE(
        QFile::link(ws.machine.path(u"projekte"_s), state.clientDataFolder + u"/Senden-a1b2c3"_s));
    SendWorkFolder running; // another send of this workstation, still at work
    QString error;
    ASSERT_TRUE(running.create(state.clientDataFolder, &error)) << error.toStdString();
    const QString runningSheet = running.path() + u"/JobDaten.txt"_s;
    QFile(runningSheet).open(QIODevice::WriteOnly);

    QStringList paths{write(u"eg/plan.pdf"_s, "%PDF erdgeschoss"),
                      write(u"og/plan.pdf"_s, "%PDF obergeschoss")};
    const QStringList chosen{u"Angebot [final].pdf"_s, u"Plan*.pdf"_s, u"Bericht [2024].pdf"_s,
                             u"Frage?.pdf"_s};
    for (const QString& name : chosen)
        paths << write(u"akten/"_s + name, ("chosen " + name).toUtf8());
    for (const char* name : {"Angebot f.pdf", "Plan-Gehaelter.pdf", "Bericht 2.pdf", "Frage1.pdf"})
        write(u"akten/"_s + QLatin1String(name), "not chosen");
    paths << write(u"plan\nJobNummer: 998.pdf"_s, "%PDF a") << write(u"mit\ttab.pdf"_s, "%PDF b");
    QStringList expected = chosen + QStringList{u"JobDaten.txt"_s, u"plan.pdf"_s, u"plan (2).pdf"_s,
                                                u"plan JobNummer: 998.pdf"_s, u"mit tab.pdf"_s};
    for (int i = 1; i <= 5000; ++i) {
        paths << write(u"viele/blatt%1.pdf"_s.arg(i), QByteArray::number(i));
        expected << u"blatt%1.pdf"_s.arg(i);
    }
    compose::JobSnapshot job = jobOf(paths);
    job.remarks = u"eilig\r\nJobNummer: 999\tsofort\x01"_s;
    job.deadlineTime = u"10 : 00\rJobNummer: 997"_s;
    const SendResult r = send(job);

    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    const QString name = u"Muster_Bau_GmbH-071226-100503-2.zip"_s;
    EXPECT_EQ(r.archiveName, name);
    EXPECT_EQ(r.jobNumber, 1);
    EXPECT_EQ(r.message, u"Uploading "_s + name + u" completed."_s);
    EXPECT_EQ(r.packed, 5008);
    EXPECT_EQ(r.notPacked, 0);
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('\n').toStdString();
    EXPECT_EQ(ws.uploadedFiles(), (QStringList{name, taken}));
    EXPECT_EQ(kestro::test::readFile(ws.value("ftpRoot") + u"/"_s + taken),
              QByteArray("the job sent a moment ago"));

    const auto entries = shopArchive(name);
    expected.sort();
    EXPECT_TRUE(entries.keys() == expected) << entries.keys().mid(0, 12).join('|').toStdString();
    for (const QString& chosenName : chosen)
        EXPECT_EQ(entries.value(chosenName), ("chosen " + chosenName).toUtf8())
            << chosenName.toStdString();
    EXPECT_EQ(entries.value(u"plan.pdf"_s), QByteArray("%PDF erdgeschoss"));
    EXPECT_EQ(entries.value(u"plan (2).pdf"_s), QByteArray("%PDF obergeschoss"));
    EXPECT_EQ(entries.value(u"blatt4999.pdf"_s), QByteArray("4999"));
    // CR CR LF lines without control characters, one job number, every entry named.
    const QByteArray sheet = entries.value(u"JobDaten.txt"_s);
    QList<QByteArray> lines = sheet.split('\n');
    ASSERT_EQ(lines.takeLast(), QByteArray());
    int numberLines = 0;
    for (const QByteArray& line : lines) {
        ASSERT_TRUE(line.endsWith("\r\r")) << line.toStdString();
        for (const char c : line.chopped(2))
            ASSERT_GE(uchar(c), 0x20) << line.toStdString();
        numberLines += line.startsWith("JobNummer:");
    }
    EXPECT_EQ(numberLines, 1);
    EXPECT_TRUE(
        sheet.contains("BEMERKUNGEN - B E M E R K U N G E N: eilig  JobNummer: 999 sofort "));
    const QString sheetText = QString::fromLatin1(sheet);
    for (const QString& entry : entries.keys())
        EXPECT_TRUE(entry == u"JobDaten.txt"_s || sheetText.contains(u' ' + entry + u' '))
            << "the archive holds \"" << entry.toStdString() << "\", which the sheet does not name";

    EXPECT_TRUE(r.recorded);
    EXPECT_EQ(rowCount(u"JobDaten"_s), 1);
    EXPECT_EQ(rowCount(u"FileDaten"_s), 5008);
    EXPECT_TRUE(r.mailSent);
    ASSERT_EQ(ws.mails().size(), 1);
    EXPECT_EQ(ws.mail(ws.mails().first()).value(u"subject"_s).toString(),
              u"KestroClient - File: "_s + name);
    EXPECT_EQ(clears, 1);
    const QByteArray log = kestro::test::readFile(transferLogPath(state.clientDataFolder));
    EXPECT_TRUE(log.contains("Info: compressed ..."));
    EXPECT_TRUE(log.contains(("Uploading " + name + " completed.").toUtf8()));
    // The shop's catalogue gave the login and the notification address.
    EXPECT_EQ(state.ftp.user, u"kunde"_s);
    EXPECT_EQ(state.ftp.recipient, ws.value("shopMail"));

    EXPECT_TRUE(QFile::exists(runningSheet));
    for (const QString& file : kept)
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
    running.remove();
    EXPECT_EQ(ws.archivesLeftLocally(),
              (QStringList{u"Muster-071226-100503.zip"_s, u"Senden-a1b2c3"_s, u"Senden-Belege"_s}));
}

// Refused jobs, an archive that cannot be written, the maker's host: nothing goes out, no box.
TEST_F(SendPipelineTest, JobsThatStopBeforeTheUploadLeaveNothingBehind) {
    startShop();
    const QString a = write(u"plan.pdf"_s, "%PDF");
    compose::JobSnapshot incomplete = jobOf({a});
    incomplete.files[0].color.clear();
    const struct {
        const char* name;
        compose::JobSnapshot job;
        SendOutcome outcome;
        QString message;
    } refused[] = {
        {"no files", jobOf({}), SendOutcome::NoFiles, sendtext::kNoFiles},
        {"incomplete row", incomplete, SendOutcome::Incomplete, sendtext::kIncomplete},
        {"nothing readable", jobOf({ws.machine.path(u"fehlt.pdf"_s)}), SendOutcome::NothingPacked,
         u"0 Zipped files and 1 not"_s},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const SendResult r = send(c.job);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.notice, SendNotice::Warning);
    }
    EXPECT_TRUE(prompter.shown.empty()) << prompter.texts().join('\n').toStdString();
    expectJobKept();

    {
        SCOPED_TRACE("a name too long for a file: the archive is blamed, the error log closed");
        state.master.name = QString(300, u'M');
        const SendResult r = send(jobOf({a}));
        EXPECT_EQ(r.outcome, SendOutcome::Failed);
        EXPECT_TRUE(r.message.contains(u"kann nicht geschrieben werden"_s))
            << r.message.toStdString();
        const QStringList told = prompter.texts() + statusLines + QStringList{r.message};
        EXPECT_FALSE(told.filter(u"Archiv"_s).isEmpty()) << told.join(" | ").toStdString();
        EXPECT_EQ(pipeline->display().infoPanel(), u"FTP-Status: "_s + r.message);
        EXPECT_EQ(kestro::test::readFile(ftpErrorLogPath(state.clientDataFolder)),
                  QByteArray("errproxy:: \r\r\nEnd ErrLog: \r\r\n"));
        expectJobKept();
        state.master.name = kestro::test::kCompany;
    }
    // The maker's host: the worker is asked, or a program without anyone to ask decided
    // beforehand. "No" and "send" go on and end without a word (the host is no shop's target).
    state.ftp.server = u"FTP.Varnholt.example"_s;
    const struct {
        const char* name;
        DefaultTargetChoice choice;
        std::deque<bool> answers; // the worker's, when asked
        SendOutcome outcome;
        size_t asked; // questions shown so far
    } targets[] = {
        {"asked, Yes", DefaultTargetChoice::Ask, {true}, SendOutcome::ConfigureTarget, 1},
        {"asked, No", DefaultTargetChoice::Ask, {false}, SendOutcome::CatalogueNotObtained, 2},
        {"refused beforehand", DefaultTargetChoice::Refuse, {}, SendOutcome::ConfigureTarget, 2},
        {"sent beforehand", DefaultTargetChoice::Send, {}, SendOutcome::CatalogueNotObtained, 2},
    };
    for (const auto& c : targets) {
        SCOPED_TRACE(c.name);
        pipeline->setDefaultTargetChoice(c.choice);
        prompter.answers = c.answers;
        const SendResult r = send(jobOf({a}));
        EXPECT_EQ(r.outcome, c.outcome);
        if (c.outcome == SendOutcome::ConfigureTarget) {
            EXPECT_EQ(r.message, sendtext::defaultTargetWarning());
        }
        ASSERT_EQ(prompter.shown.size(), c.asked);
        EXPECT_EQ(prompter.shown.back().text, sendtext::defaultTargetWarning());
        EXPECT_EQ(prompter.shown.back().kind, ScriptedPrompter::Shown::Kind::Question);
    }
    expectJobKept();
}

// Part of the file kept and confirmed: not delivered, recorded or mailed; the job stays.
TEST_F(SendPipelineTest, ATruncatedUploadIsNeverDelivered) {
    startShop({u"--ftp-user"_s, u"kuerzer"_s});
    const SendResult r = send(jobOf({write(u"plan.pdf"_s, randomBytes(300000))}));
    EXPECT_EQ(r.outcome, SendOutcome::NotDelivered);
    EXPECT_TRUE(r.upload.connected);
    EXPECT_FALSE(r.message.isEmpty());
    expectJobKept();
}

// A self-made certificate is shown once and trusted from then on; a mail the shop's server
// refuses is logged and shown, and the jobs still count as delivered.
TEST_F(SendPipelineTest, SelfSignedCertificateIsShownOnceAndAFailedMailKeepsTheJobDelivered) {
    const QString pem = ws.machine.path(u"shop.pem"_s);
    const QString fingerprint = kestro::test::makeSelfSignedCertificate(pem);
    ASSERT_FALSE(fingerprint.isEmpty());
    startShop({u"--ftp-tls"_s, pem, u"--smtp-auth"_s, u"jemand:anders"_s});
    state.ftp.encryption = startup::FtpEncryption::Required;
    const QString a = write(u"plan.pdf"_s, randomBytes(100000));

    SendResult r = send(jobOf({a}));
    EXPECT_EQ(r.outcome, SendOutcome::NotDelivered);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].kind, ScriptedPrompter::Shown::Kind::Question);
    EXPECT_TRUE(prompter.shown[0].text.contains(u"SHA-256-Fingerabdruck:\r"_s + fingerprint))
        << prompter.shown[0].text.toStdString();
    EXPECT_TRUE(
        prompter.shown[0].text.contains(u"Ausgestellt für: CN=druckerei.test,O=Druckerei Ärmel"_s));
    expectJobKept();

    prompter.answers = {true};
    for (const char* when : {"trusted by the worker", "trusted from then on"}) {
        SCOPED_TRACE(when);
        r = send(jobOf({a}));
        ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
        EXPECT_EQ(prompter.shown.size(), 2u);
        EXPECT_EQ(shopArchive(r.archiveName).value(u"plan.pdf"_s), kestro::test::readFile(a));
        EXPECT_TRUE(r.mailAttempted);
        EXPECT_FALSE(r.mailSent);
    }
    EXPECT_EQ(rowCount(u"JobDaten"_s), 2);
    EXPECT_EQ(clears, 2);
    EXPECT_TRUE(ws.mails().isEmpty());
    EXPECT_FALSE(statusLines.filter(u"Mail nicht gesendet"_s).isEmpty())
        << statusLines.join('\n').toStdString();
    EXPECT_TRUE(kestro::test::readFile(mailErrorLogPath(state.clientDataFolder))
                    .contains("Mail nicht gesendet"));
}

// A certificate met and trusted while resuming: the job goes out anew, the old part file goes.
TEST_F(SendPipelineTest, TrustingACertificateMetWhileResumingLeavesNoPartFile) {
    const auto confirmed =
        kestro::test::makeAuthoritySignedCertificate(ws.machine.root(), u"IP:127.0.0.1"_s);
    ASSERT_FALSE(confirmed.pem.isEmpty());
    const QString later = ws.machine.path(u"later.pem"_s);
    ASSERT_FALSE(kestro::test::makeSelfSignedCertificate(later).isEmpty());
    ws.machine.env().set("SSL_CERT_FILE", confirmed.authority);
    // It closes the control connection too: the first upload cannot remove its part file.
    startShop({u"--ftp-user"_s, u"dienstende"_s, u"--ftp-tls"_s, confirmed.pem,
               u"--ftp-tls-later"_s, later});
    state.ftp.encryption = startup::FtpEncryption::Required;
    state.ftp.retryPauses = kestro::test::kShortRetryPauses;
    prompter.answers = {true};
    const QString a = ws.machine.writeFile(u"scan.tif"_s, randomBytes(300000));
    const SendResult r = send(jobOf({a}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(ws.uploadedFiles(), QStringList{r.archiveName});
    const QStringList parts = QDir(ws.value("ftpRoot")).entryList({u"*.part"_s}, QDir::Files);
    EXPECT_TRUE(parts.isEmpty()) << parts.join(' ').toStdString();
}

// A complete part file no rename could take stays until the next send delivered its own.
TEST_F(SendPipelineTest, APartFileTheRenameCouldNotTakeIsRemovedByTheNextSend) {
    startShop({u"--ftp-user"_s, u"mkdlange"_s});
    state.ftp.retryPauses = kestro::test::kShortRetryPauses;
    const QString a = ws.machine.writeFile(u"scan.tif"_s, randomBytes(300000));
    const QDir shop(ws.value("ftpRoot"));
    EXPECT_EQ(send(jobOf({a})).outcome, SendOutcome::NotDelivered);
    EXPECT_EQ(shop.entryList({u"*.part"_s}, QDir::Files).size(), 1);
    EXPECT_EQ(rowCount(u"JobDaten"_s), 0);

    const SendResult r = send(jobOf({a}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(shop.entryList(QDir::Files), QStringList{r.archiveName});
}

// An abort as each step begins or while the archive travels (at 2 MB/s) leaves no trace.
TEST_F(SendPipelineTest, AbortWhilePackingOrUploadingLeavesNoTrace) {
    startShop({u"--ftp-user"_s, u"langsam"_s});
    const QString big = ws.machine.writeFile(u"scan.tif"_s, randomBytes(16 << 20));
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
        expectJobKept();
    }
}

// A window closed mid-upload does not wait for a slow server: the next start's send removes
// the part file.
TEST_F(SendPipelineTest, APartFileOfAWindowClosedMidUploadIsRemovedByTheNextSend) {
    startShop({u"--ftp-user"_s, u"traege"_s});
    const QString big = ws.machine.writeFile(u"scan.tif"_s, randomBytes(16 << 20));
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
    const QString small = ws.machine.writeFile(u"plan.pdf"_s, "%PDF");
    const SendResult r = send(jobOf({small}));
    ASSERT_EQ(r.outcome, SendOutcome::Delivered) << r.message.toStdString();
    EXPECT_EQ(ws.uploadedFiles(), QStringList{r.archiveName})
        << ws.uploadedFiles().join(' ').toStdString();
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
        << ws.archivesLeftLocally().join(' ').toStdString();
}

} // namespace

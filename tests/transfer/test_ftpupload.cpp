// Uploads against a real pyftpdlib server on loopback: what lands on the server, what the
// user reads in the status box and the transfer log, and when the bar may say "100 %".
#include "client/ftp/ftpuploader.h"
#include "client/send/progressdisplay.h"
#include "common/transferlog.h"
#include "support/peerprocess.h"
#include "support/testenv.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestro::transfer;
using kestro::test::PeerProcess;
using kestro::test::TestMachine;

namespace {

const QString password = QStringLiteral("geheim");
constexpr int cutAfter = 65536;

struct Outcome {
    FtpUploadResult result;
    bool finished = false;
    QStringList statuses;      // status box lines in order
    QStringList progressTexts; // every percentage the bar showed
    QString barMessage;
    QString infoPanel;
};

class FtpUploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(machine.clientDataFolder());
        ASSERT_TRUE(server.startFixture(QStringLiteral("ftpserver.py"),
                                        {QStringLiteral("--root"), serverRoot(),
                                         QStringLiteral("--cut-after"), QString::number(cutAfter)}))
            << server.output().toStdString();
    }

    QString serverRoot() const { return machine.path(QStringLiteral("ftproot")); }
    QString serverAddress() const { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }

    QString writeLocalFile(const QString& name, qint64 size) {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator generator(42);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(generator.bounded(256));
        return machine.writeFile(QStringLiteral("local/") + name, bytes);
    }

    FtpUploadRequest request(const QString& user, const QString& localPath) const {
        FtpUploadRequest r;
        r.server = serverAddress();
        r.user = user;
        r.password = password;
        r.localPath = localPath;
        r.connectTimeoutSeconds = 5;
        r.responseTimeoutSeconds = 10;
        r.lowSpeedSeconds = 10;
        r.retryPauses = {std::chrono::milliseconds(1), std::chrono::milliseconds(1),
                         std::chrono::milliseconds(1)};
        return r;
    }

    // Runs one upload as the window would, with an event loop, and records what the
    // display showed. `onProgress` may act on the uploader mid-transfer.
    Outcome run(const FtpUploadRequest& r,
                const std::function<void(FtpUploader&, const TransferProgress&)>& onProgress = {}) {
        Outcome outcome;
        TransferDisplay display(machine.clientDataFolder());
        FtpUploader uploader;
        showUploadOn(uploader, display);
        QEventLoop loop;
        QObject::connect(&display, &TransferDisplay::statusLineAdded,
                         [&](const QString& line) { outcome.statuses << line; });
        QObject::connect(
            &display, &TransferDisplay::barChanged,
            [&](double, double, const QString& text) { outcome.progressTexts << text; });
        if (onProgress)
            QObject::connect(&uploader, &FtpUploader::progress,
                             [&](const TransferProgress& p) { onProgress(uploader, p); });
        QObject::connect(&uploader, &FtpUploader::finished, &loop,
                         [&](const FtpUploadResult& result) {
                             outcome.result = result;
                             outcome.finished = true;
                             loop.quit();
                         });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit); // guard against a hang
        EXPECT_TRUE(uploader.start(r));
        loop.exec();
        outcome.barMessage = display.barMessage();
        outcome.infoPanel = display.infoPanel();
        return outcome;
    }

    // What the shop's folder holds, by name.
    QStringList onServer() const { return QDir(serverRoot()).entryList(QDir::Files, QDir::Name); }

    // Ten uploads of one archive name at once on each account: ten files, none replaced,
    // each upload told the name its file stands under.
    void tenUploadsOfOneNameAtOnce(std::initializer_list<const char*> users) {
        for (const char* user : users) {
            SCOPED_TRACE(user);
            QDir(serverRoot()).removeRecursively();
            QDir().mkpath(serverRoot());
            std::vector<std::unique_ptr<FtpUploader>> uploaders;
            QList<FtpUploadResult> results;
            QEventLoop loop;
            for (int i = 0; i < 10; ++i) {
                const QString local = machine.writeFile(QStringLiteral("l%1/job.zip").arg(i),
                                                        QByteArray(200000 + i, char('a' + i)));
                auto u = std::make_unique<FtpUploader>();
                QObject::connect(u.get(), &FtpUploader::finished, &loop,
                                 [&](const FtpUploadResult& r) {
                                     results << r;
                                     if (results.size() == 10)
                                         loop.quit();
                                 });
                ASSERT_TRUE(u->start(request(QString::fromLatin1(user), local)));
                uploaders.push_back(std::move(u));
            }
            QTimer::singleShot(120000, &loop, &QEventLoop::quit);
            loop.exec();
            ASSERT_EQ(results.size(), 10);
            QSet<QString> names;
            for (const FtpUploadResult& r : results) {
                EXPECT_TRUE(r.delivered) << r.errorText.toStdString();
                names << r.remoteName;
                EXPECT_EQ(QFileInfo(serverRoot() + "/" + r.remoteName).size(), r.localSize);
            }
            EXPECT_EQ(names.size(), 10);
            EXPECT_EQ(onServer().size(), 10) << onServer().join(' ').toStdString();
        }
    }

    void expectNeverComplete(const Outcome& outcome) {
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.result.delivered);
        EXPECT_FALSE(outcome.progressTexts.contains(QStringLiteral("100 %")))
            << outcome.progressTexts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(outcome.statuses.contains(outcome.result.errorText))
            << outcome.statuses.join(QLatin1Char('|')).toStdString();
    }

    TestMachine machine;
    PeerProcess server;
};

TEST_F(FtpUploadTest, DeliveredFileHasIdenticalBytesAndReaches100Percent) {
    const QString local =
        writeLocalFile(QStringLiteral("Müller GmbH_Job-061226-140509.zip"), 3 * 1024 * 1024 + 17);
    const Outcome outcome = run(request(QStringLiteral("kunde"), local));

    ASSERT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_TRUE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorCode, 0);
    EXPECT_EQ(outcome.result.remoteSize, 3 * 1024 * 1024 + 17);
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/Müller GmbH_Job-061226-140509.zip"),
              kestro::test::readFile(local));
    EXPECT_EQ(outcome.progressTexts.last(), QStringLiteral("100 %"));
    // The bar message shows underscores as blanks; the server got the real name.
    EXPECT_EQ(outcome.barMessage, QStringLiteral("Uploading Müller GmbH Job-061226-140509.zip"));
}

TEST_F(FtpUploadTest, StatusTextsFollowTheConnectionInOrder) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 100000);
    const Outcome outcome = run(request(QStringLiteral("kunde"), local));
    ASSERT_TRUE(outcome.result.delivered);

    QStringList expected{
        QStringLiteral("Looking up the IP address for 127.0.0.1"),
        QStringLiteral("Name resolved 127.0.0.1"),
        QStringLiteral("Connecting to server...127.0.0.1"), // control connection
        QStringLiteral("Connected to 127.0.0.1"),
        QStringLiteral("Handle created: "),                 // the transfer begins
        QStringLiteral("Connecting to server...127.0.0.1"), // data connection
        QStringLiteral("Connected to 127.0.0.1"),
        QStringLiteral("Closing connection"), // data connection done
        QStringLiteral("Connection closed"),
        QStringLiteral("Closing connection"), // control connection
        QStringLiteral("Connection closed"),
    };
    ASSERT_EQ(outcome.statuses.size(), expected.size())
        << outcome.statuses.join(QLatin1Char('|')).toStdString();
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(outcome.statuses[i].startsWith(expected[i]))
            << i << ": " << outcome.statuses[i].toStdString();

    // Every status text is one line of the transfer log, in the same order.
    const QList<QByteArray> lines =
        kestro::test::readFile(transferLogPath(machine.clientDataFolder())).split('\n');
    ASSERT_EQ(lines.size(), expected.size() + 1); // the last line end leaves an empty tail
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith('\r'));
        EXPECT_EQ(QString::fromUtf8(lines[i].mid(42).chopped(1)), outcome.statuses[i]);
    }
    EXPECT_EQ(outcome.infoPanel, QStringLiteral("FTP-Status: Connection closed"));
}

TEST_F(FtpUploadTest, RefusedPasswordNeverConnects) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 1000);
    FtpUploadRequest r = request(QStringLiteral("kunde"), local);
    r.password = QStringLiteral("falsch");
    const Outcome outcome = run(r);

    expectNeverComplete(outcome);
    EXPECT_FALSE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorCode, 12014);
    EXPECT_EQ(outcome.result.errorText,
              QStringLiteral("Request to connect and login to an FTP server could not be "
                             "completed because the supplied password is incorrect. "));
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

TEST_F(FtpUploadTest, RefusedUploadShowsTheServersReply) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 1000);
    const Outcome outcome = run(request(QStringLiteral("gesperrt"), local));

    expectNeverComplete(outcome);
    EXPECT_TRUE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorCode, 12003);
    EXPECT_EQ(outcome.result.errorText, QStringLiteral("550 Not enough privileges."));
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

TEST_F(FtpUploadTest, ServerThatDropsAtTheSameByteEveryTimeFailsAfterFourAttempts) {
    // Far more than the socket buffers hold, so the reset meets data still to be sent.
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 8 * 1024 * 1024);
    const Outcome outcome = run(request(QStringLiteral("abbruch"), local));

    expectNeverComplete(outcome);
    EXPECT_TRUE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorCode, 12030);
    EXPECT_EQ(outcome.result.errorText,
              QStringLiteral("Connection with the server has been terminated."));
    // Three further attempts, each continuing where the server's copy ends, then no more.
    const QStringList expected{
        QStringLiteral("Verbindung unterbrochen – neuer Versuch 2 von 4 in 1 s …"),
        QStringLiteral("Verbindung unterbrochen – neuer Versuch 3 von 4 in 1 s …"),
        QStringLiteral("Verbindung unterbrochen – neuer Versuch 4 von 4 in 1 s …"),
        QStringLiteral("Übertragung wird bei 64,0 KB fortgesetzt …")};
    for (const QString& line : expected)
        EXPECT_TRUE(outcome.statuses.contains(line))
            << line.toStdString() << "\n"
            << outcome.statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(outcome.statuses.join('|').contains(QStringLiteral("Versuch 5")));
    // The partial file is gone once the last attempt failed, so the shop never takes it for a job.
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();

    // A crashing server takes the control connection along: the partial file is removed
    // over a new one.
    const Outcome crashed = run(request(QStringLiteral("absturz"), local));
    expectNeverComplete(crashed);
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

// A line that drops mid-upload: the upload continues the server's part file where it
// ends (or starts it anew on a server that cannot restart), the bar goes on from where it
// stood, and the shop gets the archive whole, once, under its name.
TEST_F(FtpUploadTest, DroppedConnectionResumesTheUpload) {
    struct Case {
        const char* user;
        bool resumes;    // the server's copy is continued, not sent anew
        int connections; // data connections the upload needs
    };
    const qint64 size = 4 * cutAfter + 1234;
    for (const Case& c :
         {Case{"einmal", true, 2}, Case{"ohnerest", false, 2}, Case{"stueckweise", true, 5},
          // the server closes with 421 (libcurl: a time-out): resumed as after a reset
          Case{"dienstende", true, 2},
          // a drop box that lets nobody read the part file back is taken at its size
          Case{"einwurf", true, 2}}) {
        SCOPED_TRACE(c.user);
        const QString local = writeLocalFile(QStringLiteral("job.zip"), size);
        qint64 lastDone = 0;
        bool wentBack = false;
        const Outcome outcome = run(request(QString::fromLatin1(c.user), local),
                                    [&](FtpUploader&, const TransferProgress& p) {
                                        wentBack = wentBack || p.done < lastDone;
                                        lastDone = p.done;
                                    });

        ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
        EXPECT_EQ(onServer(), QStringList{"job.zip"});
        EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), kestro::test::readFile(local));
        EXPECT_TRUE(outcome.statuses.contains(
            QStringLiteral("Verbindung unterbrochen – neuer Versuch 2 von 4 in 1 s …")))
            << outcome.statuses.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(
            outcome.statuses.contains(QStringLiteral("Übertragung wird bei 64,0 KB fortgesetzt …")),
            c.resumes)
            << outcome.statuses.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(outcome.statuses.filter(QStringLiteral("fortgesetzt")).size(),
                  c.resumes ? c.connections - 1 : 0);
        if (c.resumes) {
            EXPECT_FALSE(wentBack);
        }
        EXPECT_TRUE(outcome.progressTexts.contains(QStringLiteral("100 %")));
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
    }
}

// A server that, after the drop, names more bytes of the part file than this upload ever
// sent (a lie, or a size counted before the data reached the disk), or that takes REST and
// then writes from the start: the shop must get the archive byte for byte, or nothing.
TEST_F(FtpUploadTest, ResumeNeverDeliversAnArchiveWithAGapOrAShift) {
    const qint64 size = 4 * cutAfter + 1234;
    for (const char* user : {"uebertreibt", "restluege"}) {
        SCOPED_TRACE(user);
        const QString local = writeLocalFile(QStringLiteral("job.zip"), size);
        const Outcome outcome = run(request(QString::fromLatin1(user), local));
        if (outcome.result.delivered) {
            EXPECT_EQ(kestro::test::readFile(serverRoot() + "/" + outcome.result.remoteName),
                      kestro::test::readFile(local));
        }
        // Starting the file anew delivers it; the server's copy is not to be trusted.
        EXPECT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
    }
}

// The whole archive arrived; the line drops while the upload holds the name for the rename.
// The file on the server is complete: reconnecting and renaming delivers the job, where
// giving up makes the worker send all of it again.
TEST_F(FtpUploadTest, LineDroppingDuringTheRenameStepIsResumedToo) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 4 * cutAfter);
    const Outcome outcome = run(request(QStringLiteral("mkdweg"), local));
    ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_EQ(onServer(), QStringList{"job.zip"});
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), kestro::test::readFile(local));
}

TEST_F(FtpUploadTest, LoginRefusedWhenReconnectingEndsAtOnceWithTheLoginError) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 4 * cutAfter);
    const Outcome outcome = run(request(QStringLiteral("sperrtdanach"), local));

    expectNeverComplete(outcome);
    EXPECT_EQ(outcome.result.errorCode, 12014);
    EXPECT_EQ(outcome.result.errorText,
              QStringLiteral("Request to connect and login to an FTP server could not be "
                             "completed because the supplied password is incorrect. "));
    EXPECT_TRUE(outcome.statuses.contains(outcome.result.errorText));
    EXPECT_FALSE(outcome.statuses.join('|').contains(QStringLiteral("Versuch 3")))
        << outcome.statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(onServer().contains(QStringLiteral("job.zip")));
}

TEST_F(FtpUploadTest, AbortDuringTheRetryPauseEndsAtOnce) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 8 * 1024 * 1024);
    FtpUploadRequest r = request(QStringLiteral("abbruch"), local);
    r.retryPauses = {std::chrono::seconds(60)};
    FtpUploader* running = nullptr;
    QObject context;
    const auto started = std::chrono::steady_clock::now();
    const Outcome outcome = run(r, [&](FtpUploader& uploader, const TransferProgress&) {
        if (!running) {
            running = &uploader;
            QObject::connect(&uploader, &FtpUploader::statusText, &context,
                             [&uploader](const QString& text) {
                                 if (text.startsWith(QStringLiteral("Verbindung unterbrochen")))
                                     uploader.abort();
                             });
        }
    });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    expectNeverComplete(outcome);
    EXPECT_EQ(outcome.result.errorCode, 12017);
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

TEST_F(FtpUploadTest, NameHeldByAnotherFileGivesTheNextFreeName) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 4 * 1024 * 1024);
    machine.writeFile(QStringLiteral("ftproot/job.zip"), "an earlier job");
    machine.writeFile(QStringLiteral("ftproot/job-2.zip"), "another earlier job");
    const Outcome outcome = run(request(QStringLiteral("kunde"), local));

    ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    // The earlier jobs stay as they were; this one takes the next free name.
    EXPECT_EQ(outcome.result.remoteName, QStringLiteral("job-3.zip"));
    EXPECT_EQ(onServer(), (QStringList{"job-2.zip", "job-3.zip", "job.zip"}));
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), QByteArray("an earlier job"));
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job-3.zip"), kestro::test::readFile(local));

    // A name that another upload holds while it renames its file is not taken either.
    ASSERT_TRUE(QDir().mkpath(serverRoot() + "/job-4.zip.lock"));
    const Outcome next = run(request(QStringLiteral("kunde"), local));
    ASSERT_TRUE(next.result.delivered) << next.result.errorText.toStdString();
    EXPECT_EQ(next.result.remoteName, QStringLiteral("job-5.zip"));
    EXPECT_EQ(QDir(serverRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"job-4.zip.lock"});
}

TEST_F(FtpUploadTest, ServerThatCannotRenameGetsTheFileUnderItsFinalName) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 300000);
    Outcome outcome = run(request(QStringLiteral("ohnerename"), local));
    ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_EQ(outcome.result.remoteName, QStringLiteral("job.zip"));
    EXPECT_EQ(outcome.progressTexts.last(), QStringLiteral("100 %"));
    outcome = run(request(QStringLiteral("ohnerename"), local));
    ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_EQ(outcome.result.remoteName, QStringLiteral("job-2.zip"));
    EXPECT_EQ(onServer(), (QStringList{"job-2.zip", "job.zip"}));
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job-2.zip"), kestro::test::readFile(local));
}

TEST_F(FtpUploadTest, UnreachableAndSilentServersFail) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 1000);

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    FtpUploadRequest r = request(QStringLiteral("kunde"), local);
    r.server = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close(); // nobody listens there any more
    Outcome outcome = run(r);
    expectNeverComplete(outcome);
    EXPECT_FALSE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorText, QStringLiteral("Attempt to connect to the server failed."));

    QTcpServer silent; // accepts the connection but never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    r.server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
    r.responseTimeoutSeconds = 1;
    outcome = run(r);
    expectNeverComplete(outcome);
    EXPECT_EQ(outcome.result.errorText, QStringLiteral("The request has timed out."));

    r.server = QStringLiteral("bad/host");
    outcome = run(r);
    expectNeverComplete(outcome);
    EXPECT_EQ(outcome.result.errorText, QStringLiteral("URL is invalid."));
}

TEST_F(FtpUploadTest, AbortMidUploadEndsWithTheUsersText) {
    // A sparse file: large enough to be still on its way when the first progress
    // arrives, without writing it out first.
    const QString local = machine.path(QStringLiteral("big.zip"));
    {
        QFile big(local);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(qint64(1) << 30));
    }
    qint64 abortedAt = -1;
    QStringList seenWhileTravelling;
    const Outcome outcome = run(request(QStringLiteral("kunde"), local),
                                [&](FtpUploader& uploader, const TransferProgress& p) {
                                    if (abortedAt < 0 && p.done > 0) {
                                        abortedAt = p.done;
                                        seenWhileTravelling = onServer();
                                        uploader.abort();
                                    }
                                });

    ASSERT_GT(abortedAt, 0);
    // While it travels the file has a name of its own, which the shop does not take for
    // a job; after the abort nothing of it is left.
    ASSERT_EQ(seenWhileTravelling.size(), 1);
    EXPECT_TRUE(seenWhileTravelling[0].startsWith(QStringLiteral("big.zip.")));
    EXPECT_TRUE(seenWhileTravelling[0].endsWith(QStringLiteral(".part")));
    expectNeverComplete(outcome);
    EXPECT_TRUE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorCode, 12017);
    EXPECT_EQ(outcome.result.errorText, QStringLiteral("Übertragung durch Anwender abgebrochen. "));
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

TEST_F(FtpUploadTest, TruncatedOrMisreportedSizeIsNotDelivered) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 1024 * 1024);

    // The server confirms with 226 but kept only the first bytes; the damaged copy is
    // removed so that the shop never works on it.
    Outcome outcome = run(request(QStringLiteral("kuerzer"), local));
    expectNeverComplete(outcome);
    EXPECT_EQ(outcome.result.remoteSize, cutAfter);
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
    EXPECT_EQ(outcome.result.errorText,
              QStringLiteral("Connection with the server has been terminated."));

    // The bytes arrived, but the server names a different size: nothing proves delivery,
    // and the job will be sent again, so this copy must not stay either.
    outcome = run(request(QStringLiteral("luegner"), local));
    expectNeverComplete(outcome);
    EXPECT_EQ(outcome.result.remoteSize, 1024 * 1024 + 1);
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

// A server without SIZE confirms with 226 whatever it kept: MLST or a listing must name
// the size before the file counts as delivered.
TEST_F(FtpUploadTest, ServerWithoutSizeIsAskedByMlstOrByAListing) {
    const struct {
        const char* user;
        qint64 size;
        bool delivered;
    } cases[] = {
        {"ohnesize", 200000, true},      // MLST names the size
        {"kurzohnesize", 200000, false}, // MLST names the truncated size
        {"kurznurliste", 1000, true},    // only a listing, below the cut
        {"kurznurliste", 200000, false}, // only a listing, truncated
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
        const QString local = writeLocalFile(QStringLiteral("job.zip"), c.size);
        const Outcome outcome = run(request(QString::fromLatin1(c.user), local));
        EXPECT_EQ(outcome.result.delivered, c.delivered) << outcome.result.errorText.toStdString();
        if (c.delivered) {
            EXPECT_EQ(outcome.result.remoteSize, c.size);
            EXPECT_EQ(outcome.progressTexts.last(), QStringLiteral("100 %"));
            EXPECT_EQ(onServer(), QStringList{"job.zip"});
            EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"),
                      kestro::test::readFile(local));
        } else {
            expectNeverComplete(outcome);
            EXPECT_EQ(outcome.result.remoteSize, cutAfter);
            EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
        }
    }
}

TEST_F(FtpUploadTest, UploadThroughTheFtpProxyTunnelsBothConnections) {
    PeerProcess proxy;
    const QString proxyRoot = machine.path(QStringLiteral("proxy"));
    ASSERT_TRUE(
        proxy.startFixture(QStringLiteral("ftpserver.py"),
                           {QStringLiteral("--root"), proxyRoot, QStringLiteral("--proxy")}));
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 300000);
    FtpUploadRequest r = request(QStringLiteral("kunde"), local);
    r.proxy.enabled = true;
    r.proxy.host = QStringLiteral("127.0.0.1");
    r.proxy.port = QString::number(proxy.port());
    r.proxy.user = QStringLiteral("proxyuser");
    r.proxy.password = QStringLiteral("proxypass");
    const Outcome outcome = run(r);

    EXPECT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), kestro::test::readFile(local));
    const QList<QByteArray> tunnels =
        kestro::test::readFile(proxyRoot + "/proxy.log").trimmed().split('\n');
    ASSERT_EQ(tunnels.size(), 2); // control and data connection
    EXPECT_EQ(tunnels[0], "127.0.0.1:" + QByteArray::number(server.port()) +
                              " KestroFTP-Client proxyuser:proxypass");
    EXPECT_TRUE(tunnels[1].endsWith(" KestroFTP-Client proxyuser:proxypass"));
}

// Hostile servers: each case checks that what the shop's folder holds agrees with what the
// worker is told. A job reported as not delivered is sent again, so a complete archive left
// under a job's name then reaches the shop twice; a job reported as delivered must be there.

// The server renamed the part file to the job's name, then vanished before it said so.
// The archive stands complete under the job's name: reporting it as not delivered makes
// the worker send the job a second time, and the first copy is never recorded or mailed.
TEST_F(FtpUploadTest, RenameThatHappenedBeforeTheServerVanishedIsDelivered) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 300000);
    const Outcome outcome = run(request(QStringLiteral("rntoweg"), local));
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(onServer().join(' ').toStdString(), "job.zip");
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), kestro::test::readFile(local));
    EXPECT_TRUE(outcome.result.delivered) << "the shop holds the complete job, the worker is told: "
                                          << outcome.result.errorText.toStdString();
}

// No SIZE, and MLST says the file is there but not how large: the 226 of a server that
// kept only part of the file must not be trusted while a listing can still tell the size.
TEST_F(FtpUploadTest, MlstWithoutASizeFallsBackToTheListing) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 200000);
    const Outcome outcome = run(request(QStringLiteral("kurzmlstohnesize"), local));
    EXPECT_FALSE(outcome.result.delivered)
        << "a truncated archive of " << QFileInfo(serverRoot() + "/job.zip").size()
        << " bytes was reported as delivered";
    EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
}

// A long company name: the archive's own name fits the server's 255 bytes, so the job
// must go out; the name the file travels under must not be what makes it fail.
TEST_F(FtpUploadTest, ArchiveNameThatFitsTheServerIsDeliveredWhateverItsLength) {
    const QString name = QString(220, QLatin1Char('A')) + QStringLiteral("-071226-100503.zip");
    ASSERT_LE(name.toUtf8().size(), 255);
    const QString local = writeLocalFile(QStringLiteral("job.zip"), 1000);
    FtpUploadRequest r = request(QStringLiteral("kunde"), local);
    r.remoteName = name;
    const Outcome outcome = run(r);
    EXPECT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString() << " / "
                                          << outcome.result.serverLastReply.toStdString();
    EXPECT_EQ(onServer().join(' ').toStdString(), name.toStdString());
}

// Ten uploads of one archive name at once (ten sends of one company in one second): ten
// files, none replaced, each upload told the name its file stands under; also on a server
// that refuses renames, and on one that lets the account create no folders.
TEST_F(FtpUploadTest, TenUploadsOfOneNameAtOnceKeepTenFiles) {
    tenUploadsOfOneNameAtOnce({"kunde", "ohnerename"});
}

// The server takes the last byte and then drops both connections (a crash, or a router
// that forgot the idle control connection during a long upload): the next attempt finds
// the whole file in the part file, sends nothing more, and delivers it.
TEST_F(FtpUploadTest, ServerThatDropsBothConnectionsAtTheLastByteStillGetsTheFile) {
    const QString local = writeLocalFile(QStringLiteral("job.zip"), cutAfter);
    const Outcome outcome = run(request(QStringLiteral("absturz"), local));
    ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_EQ(onServer(), QStringList{"job.zip"});
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), kestro::test::readFile(local));
}

} // namespace

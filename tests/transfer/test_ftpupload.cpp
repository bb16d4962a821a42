// Uploads against a real pyftpdlib server on loopback: what lands on the server, what the
// user reads in the status box and the transfer log, and when the bar may say "100 %".
#include "authoritycert.h"
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
        r.retryPauses = kestro::test::kShortRetryPauses;
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
TEST_F(FtpUploadTest, DeliveredFileHasIdenticalBytesAndTheStatusTextsFollowTheConnection) {
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

    const QStringList expected{
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
    // Every status text is one line of the transfer log, in the same order.
    const QList<QByteArray> lines =
        kestro::test::readFile(transferLogPath(machine.clientDataFolder())).split('\n');
    ASSERT_EQ(lines.size(), expected.size() + 1); // the last line end leaves an empty tail
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(outcome.statuses[i].startsWith(expected[i]))
            << i << ": " << outcome.statuses[i].toStdString();
        EXPECT_TRUE(lines[i].endsWith('\r'));
        EXPECT_EQ(QString::fromUtf8(lines[i].mid(42).chopped(1)), outcome.statuses[i]);
    }
    EXPECT_EQ(outcome.infoPanel, QStringLiteral("FTP-Status: Connection closed"));
}

// Uploads that must not count as delivered: the bar never reads "100 %", the worker reads
// why, and the shop's folder keeps nothing the shop could take for a job. A damaged or
// unproven copy is removed, or the job (sent again) would reach the shop twice.
TEST_F(FtpUploadTest, UploadsThatFailAreNeverDeliveredAndLeaveNothingBehind) {
    const QString loginRefused =
        QStringLiteral("Request to connect and login to an FTP server could not be completed "
                       "because the supplied password is incorrect. ");
    const QString terminated = QStringLiteral("Connection with the server has been terminated.");
    QTcpServer closed; // nobody listens there any more
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString closedServer = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    QTcpServer silent; // accepts the connection but never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const struct Case {
        const char* name; // the server's account, or what the case is
        qint64 size = 1000;
        QString server;                 // empty: the fixture
        QString password = ::password;  //
        int connected = -1;             // -1: not checked
        int errorCode = 0;              // 0: not checked
        QString errorText;              // empty: not checked
        qint64 remoteSize = -1;         // -1: not checked
        QStringList shown;              // status lines the worker saw
        const char* notShown = nullptr; // and a text they never held
        bool partMayStay = false;       // only the job's own name is checked
    } cases[] = {
        {.name = "kunde",
         .password = QStringLiteral("falsch"),
         .connected = 0,
         .errorCode = 12014,
         .errorText = loginRefused,
         .notShown = "Versuch 2"},
        {.name = "gesperrt",
         .connected = 1,
         .errorCode = 12003,
         .errorText = QStringLiteral("550 Not enough privileges.")},
        // Drops at the same byte every time (far beyond the socket buffers, so the reset meets
        // data still to be sent): three further attempts, each continuing where the server's
        // copy ends, then no more; the partial file is gone after the last.
        {.name = "abbruch",
         .size = 8 * 1024 * 1024,
         .connected = 1,
         .errorCode = 12030,
         .errorText = terminated,
         .shown = {QStringLiteral("Verbindung unterbrochen – neuer Versuch 2 von 4 in 1 s …"),
                   QStringLiteral("Verbindung unterbrochen – neuer Versuch 3 von 4 in 1 s …"),
                   QStringLiteral("Verbindung unterbrochen – neuer Versuch 4 von 4 in 1 s …"),
                   QStringLiteral("Übertragung wird bei 64,0 KB fortgesetzt …")},
         .notShown = "Versuch 5"},
        // A crashing server takes the control connection along: the partial file is removed
        // over a new one.
        {.name = "absturz", .size = 8 * 1024 * 1024},
        // The login is refused on reconnecting: the send ends at once with the login error.
        {.name = "sperrtdanach",
         .size = 4 * cutAfter,
         .errorCode = 12014,
         .errorText = loginRefused,
         .notShown = "Versuch 3",
         .partMayStay = true},
        // 226, but the server kept only the first bytes.
        {.name = "kuerzer", .size = 1024 * 1024, .errorText = terminated, .remoteSize = cutAfter},
        // The bytes arrived, but the server names a different size: nothing proves delivery.
        {.name = "luegner", .size = 1024 * 1024, .remoteSize = 1024 * 1024 + 1},
        // No SIZE: MLST names the truncated size, or only a listing does.
        {.name = "kurzohnesize", .size = 200000, .remoteSize = cutAfter},
        {.name = "kurznurliste", .size = 200000, .remoteSize = cutAfter},
        // No SIZE, and MLST names no size: the listing still tells it.
        {.name = "kurzmlstohnesize", .size = 200000},
        {.name = "nobody listens",
         .server = closedServer,
         .connected = 0,
         .errorText = QStringLiteral("Attempt to connect to the server failed.")},
        {.name = "never greets",
         .server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()),
         .errorText = QStringLiteral("The request has timed out.")},
        {.name = "bad/host",
         .server = QStringLiteral("bad/host"),
         .errorText = QStringLiteral("URL is invalid.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString local = writeLocalFile(QStringLiteral("job.zip"), c.size);
        FtpUploadRequest r = request(
            c.server.isEmpty() ? QString::fromLatin1(c.name) : QStringLiteral("kunde"), local);
        r.password = c.password;
        if (!c.server.isEmpty()) {
            r.server = c.server;
            r.responseTimeoutSeconds = 1;
        }
        const Outcome outcome = run(r);
        const std::string statuses = outcome.statuses.join(QLatin1Char('|')).toStdString();
        expectNeverComplete(outcome);
        // A check left empty in the table is not part of the case.
        if (c.connected >= 0) {
            EXPECT_EQ(outcome.result.connected, bool(c.connected));
        }
        if (c.errorCode != 0) {
            EXPECT_EQ(outcome.result.errorCode, c.errorCode);
        }
        if (!c.errorText.isEmpty()) {
            EXPECT_EQ(outcome.result.errorText, c.errorText);
        }
        if (c.remoteSize >= 0) {
            EXPECT_EQ(outcome.result.remoteSize, c.remoteSize);
        }
        for (const QString& line : c.shown)
            EXPECT_TRUE(outcome.statuses.contains(line)) << line.toStdString() << "\n" << statuses;
        if (c.notShown) {
            EXPECT_FALSE(outcome.statuses.join('|').contains(QLatin1String(c.notShown)))
                << statuses;
        }
        if (c.partMayStay) {
            EXPECT_FALSE(onServer().contains(QStringLiteral("job.zip")));
        } else {
            EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
        }
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
    }
}

// Servers where the line drops or that answer oddly, but the archive can be proven whole:
// the shop gets it byte for byte, once, under its name, and the bar reaches "100 %".
TEST_F(FtpUploadTest, UploadsThatMeetDropsOrOddServersDeliverTheArchiveWhole) {
    const struct Case {
        const char* user;
        qint64 size = 4 * cutAfter + 1234;
        bool dropped = true; // "neuer Versuch 2 von 4" shown
        int resumed = -1;    // "fortgesetzt" lines (the part file continued); -1: not checked
    } cases[] = {
        // A line that drops mid-upload: the upload continues the server's part file where it
        // ends (or starts it anew on a server that cannot restart), and the bar goes on from
        // where it stood.
        {.user = "einmal", .resumed = 1},
        {.user = "ohnerest", .resumed = 0},
        {.user = "stueckweise", .resumed = 4},
        // the server closes with 421 (libcurl: a time-out): resumed as after a reset
        {.user = "dienstende", .resumed = 1},
        // a drop box that lets nobody read the part file back is taken at its size
        {.user = "einwurf", .resumed = 1},
        // After the drop the server names more bytes of the part file than this upload ever
        // sent, or takes REST and then writes from the start: sent anew, never with a gap or
        // a shift.
        {.user = "uebertreibt"},
        {.user = "restluege"},
        // The whole archive arrived; the line drops while the upload holds the name for the
        // rename: reconnecting and renaming delivers the job instead of sending all of it again.
        {.user = "mkdweg", .size = 4 * cutAfter},
        // The server takes the last byte and then drops both connections (a crash, or a
        // router that forgot the idle control connection): the next attempt finds the whole
        // file in the part file, sends nothing more, and delivers it.
        {.user = "absturz", .size = cutAfter},
        // The server renamed the part file to the job's name, then vanished before it said so:
        // reported as not delivered, the job would reach the shop a second time.
        {.user = "rntoweg", .size = 300000, .dropped = false},
        // No SIZE: MLST names the size, or only a listing does.
        {.user = "ohnesize", .size = 200000, .dropped = false},
        {.user = "kurznurliste", .size = 1000, .dropped = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        const QString local = writeLocalFile(QStringLiteral("job.zip"), c.size);
        qint64 lastDone = 0;
        bool wentBack = false;
        const Outcome outcome = run(request(QString::fromLatin1(c.user), local),
                                    [&](FtpUploader&, const TransferProgress& p) {
                                        wentBack = wentBack || p.done < lastDone;
                                        lastDone = p.done;
                                    });
        const std::string statuses = outcome.statuses.join(QLatin1Char('|')).toStdString();
        ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
        EXPECT_EQ(onServer(), QStringList{"job.zip"});
        EXPECT_EQ(kestro::test::readFile(serverRoot() + "/job.zip"), kestro::test::readFile(local));
        EXPECT_EQ(outcome.progressTexts.last(), QStringLiteral("100 %"));
        if (!c.dropped) {
            EXPECT_EQ(outcome.result.remoteSize, c.size);
        }
        EXPECT_EQ(outcome.statuses.contains(
                      QStringLiteral("Verbindung unterbrochen – neuer Versuch 2 von 4 in 1 s …")),
                  c.dropped)
            << statuses;
        if (c.resumed >= 0) {
            EXPECT_EQ(outcome.statuses.contains(
                          QStringLiteral("Übertragung wird bei 64,0 KB fortgesetzt …")),
                      c.resumed > 0)
                << statuses;
            EXPECT_EQ(outcome.statuses.filter(QStringLiteral("fortgesetzt")).size(), c.resumed);
            if (c.resumed > 0) {
                EXPECT_FALSE(wentBack);
            }
        }
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
    }
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
// that refuses renames.
TEST_F(FtpUploadTest, TenUploadsOfOneNameAtOnceKeepTenFiles) {
    for (const char* user : {"kunde", "ohnerename"}) {
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
            QObject::connect(u.get(), &FtpUploader::finished, &loop, [&](const FtpUploadResult& r) {
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

} // namespace

// Uploads against a real pyftpdlib server on loopback: what lands on the server, what the user
// reads in the status box and the transfer log, when the bar may say "100 %"; then the display.
#include "client/ftp/ftperrors.h"
#include "client/ftp/ftpreply.h"
#include "client/ftp/ftpstatus.h"
#include "client/ftp/ftpuploader.h"
#include "client/send/progressdisplay.h"
#include "common/transferlog.h"
#include "support/peerprocess.h"
#include "support/testenv.h"
#include "transfertest.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestro::transfer;
using kestro::test::PeerProcess;
using kestro::test::TestMachine;

namespace {

const QString password = u"geheim"_s;
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
        ASSERT_TRUE(
            server.startFixture(u"ftpserver.py"_s, {u"--root"_s, serverRoot(), u"--cut-after"_s,
                                                    QString::number(cutAfter)}))
            << server.output().toStdString();
    }

    QString serverRoot() const { return machine.path(u"ftproot"_s); }
    QString serverAddress() const { return u"127.0.0.1:%1"_s.arg(server.port()); }

    QString writeLocalFile(const QString& name, qint64 size) {
        return machine.writeFile(u"local/"_s + name, kestro::test::randomBytes(size, 42));
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

    // One upload as the window runs it; `onProgress` may act on the uploader mid-transfer.
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

    QStringList onServer() const { return QDir(serverRoot()).entryList(QDir::Files, QDir::Name); }

    void expectNeverComplete(const Outcome& outcome) {
        EXPECT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.result.delivered);
        EXPECT_FALSE(outcome.progressTexts.contains(u"100 %"_s))
            << outcome.progressTexts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(outcome.statuses.contains(outcome.result.errorText))
            << outcome.statuses.join(QLatin1Char('|')).toStdString();
    }

    TestMachine machine;
    PeerProcess server;
};
TEST_F(FtpUploadTest, DeliveredFileHasIdenticalBytesAndTheStatusTextsFollowTheConnection) {
    const QString local =
        writeLocalFile(u"Müller GmbH_Job-061226-140509.zip"_s, 3 * 1024 * 1024 + 17);
    const Outcome outcome = run(request(u"kunde"_s, local));

    ASSERT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
    EXPECT_TRUE(outcome.result.connected);
    EXPECT_EQ(outcome.result.errorCode, 0);
    EXPECT_EQ(outcome.result.remoteSize, 3 * 1024 * 1024 + 17);
    EXPECT_EQ(kestro::test::readFile(serverRoot() + "/Müller GmbH_Job-061226-140509.zip"),
              kestro::test::readFile(local));
    EXPECT_EQ(outcome.progressTexts.last(), u"100 %"_s);
    // The bar message shows underscores as blanks; the server got the real name.
    EXPECT_EQ(outcome.barMessage, u"Uploading Müller GmbH Job-061226-140509.zip"_s);

    // Control connection, the transfer's handle, data connection, each closed in turn.
    const QStringList expected{u"Looking up the IP address for 127.0.0.1"_s,
                               u"Name resolved 127.0.0.1"_s,
                               u"Connecting to server...127.0.0.1"_s,
                               u"Connected to 127.0.0.1"_s,
                               u"Handle created: "_s,
                               u"Connecting to server...127.0.0.1"_s,
                               u"Connected to 127.0.0.1"_s,
                               u"Closing connection"_s,
                               u"Connection closed"_s,
                               u"Closing connection"_s,
                               u"Connection closed"_s};
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
    EXPECT_EQ(outcome.infoPanel, u"FTP-Status: Connection closed"_s);
}

// Never delivered: no "100 %", the worker reads why, and no copy stays that the shop (after the
// job is sent again) would take twice.
TEST_F(FtpUploadTest, UploadsThatFailAreNeverDeliveredAndLeaveNothingBehind) {
    const QString loginRefused =
        QStringLiteral("Request to connect and login to an FTP server could not be completed "
                       "because the supplied password is incorrect. ");
    const QString terminated = u"Connection with the server has been terminated."_s;
    QTcpServer closed; // nobody listens there any more
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString closedServer = u"127.0.0.1:%1"_s.arg(closed.serverPort());
    closed.close();
    QTcpServer silent; // accepts the connection but never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const struct Case {
        const char* name; // the server's account, or what the case is
        qint64 size = 1000;
        QString server; // empty: the fixture
        QString password = ::password;
        int connected = -1;             // -1: not checked
        int errorCode = 0;              // 0: not checked
        QString errorText;              // empty: not checked
        qint64 remoteSize = -1;         // -1: not checked
        QStringList shown;              // status lines the worker saw
        const char* notShown = nullptr; // and a text they never held
        bool partMayStay = false;       // only the job's own name is checked
    } cases[] = {
        {.name = "kunde",
         .password = u"falsch"_s,
         .connected = 0,
         .errorCode = 12014,
         .errorText = loginRefused,
         .notShown = "Versuch 2"},
        {.name = "gesperrt",
         .connected = 1,
         .errorCode = 12003,
         .errorText = u"550 Not enough privileges."_s},
        // Drops at the same byte every time: three further attempts, then the part file goes.
        {.name = "abbruch",
         .size = 8 * 1024 * 1024,
         .connected = 1,
         .errorCode = 12030,
         .errorText = terminated,
         .shown = {u"Verbindung unterbrochen – neuer Versuch 2 von 4 in 1 s …"_s,
                   u"Verbindung unterbrochen – neuer Versuch 3 von 4 in 1 s …"_s,
                   u"Verbindung unterbrochen – neuer Versuch 4 von 4 in 1 s …"_s,
                   u"Übertragung wird bei 64,0 KB fortgesetzt …"_s},
         .notShown = "Versuch 5"},
        // A crashing server takes the control connection: the part file goes over a new one.
        {.name = "absturz", .size = 8 * 1024 * 1024},
        // The login is refused on reconnecting: the login error at once.
        {.name = "sperrtdanach",
         .size = 4 * cutAfter,
         .errorCode = 12014,
         .errorText = loginRefused,
         .notShown = "Versuch 3",
         .partMayStay = true},
        // 226, but the server kept only the first bytes.
        {.name = "kuerzer", .size = 1024 * 1024, .errorText = terminated, .remoteSize = cutAfter},
        // The same, and the DELE of the short part file goes unanswered: it goes over a new line.
        {.name = "kurzdeleweg",
         .size = 1024 * 1024,
         .errorText = terminated,
         .remoteSize = cutAfter},
        // The bytes arrived, the server names another size: nothing proves delivery.
        {.name = "luegner", .size = 1024 * 1024, .remoteSize = 1024 * 1024 + 1},
        // No SIZE: MLST names the truncated size, or only a listing does.
        {.name = "kurzohnesize", .size = 200000, .remoteSize = cutAfter},
        {.name = "kurznurliste", .size = 200000, .remoteSize = cutAfter},
        // No SIZE, and MLST names no size: the listing still tells it.
        {.name = "kurzmlstohnesize", .size = 200000},
        {.name = "nobody listens",
         .server = closedServer,
         .connected = 0,
         .errorText = u"Attempt to connect to the server failed."_s},
        {.name = "never greets",
         .server = u"127.0.0.1:%1"_s.arg(silent.serverPort()),
         .errorText = u"The request has timed out."_s},
        {.name = "bad/host", .server = u"bad/host"_s, .errorText = u"URL is invalid."_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString local = writeLocalFile(u"job.zip"_s, c.size);
        FtpUploadRequest r =
            request(c.server.isEmpty() ? QString::fromLatin1(c.name) : u"kunde"_s, local);
        r.password = c.password;
        if (!c.server.isEmpty()) {
            r.server = c.server;
            r.responseTimeoutSeconds = 1;
        }
        const Outcome outcome = run(r);
        const std::string statuses = outcome.statuses.join(QLatin1Char('|')).toStdString();
        expectNeverComplete(outcome);
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
            EXPECT_FALSE(onServer().contains(u"job.zip"_s));
        } else {
            EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
        }
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
    }
}

// Drops, odd servers, names already held: the shop gets the archive byte for byte, once, under
// the name the upload reports, beside the earlier jobs, and the bar reaches "100 %".
TEST_F(FtpUploadTest, UploadsThatMeetDropsOrOddServersDeliverTheArchiveWhole) {
    // Fits the server's 255 bytes: the name the file travels under must not make it fail.
    const QString longName = QString(220, u'A') + u"-071226-100503.zip"_s;
    ASSERT_LE(longName.toUtf8().size(), 255);
    const struct Case {
        const char* user;
        qint64 size = 4 * cutAfter + 1234;
        bool dropped = true; // "neuer Versuch 2 von 4" shown
        int resumed = -1;    // "fortgesetzt" lines (the part file continued); -1: not checked
        QStringList before;  // earlier jobs on the server; "…/": another upload's lock folder
        QString arrivesAs = u"job.zip"_s;
        bool proxy = false; // through the shop's FTP proxy, which tunnels both connections
    } cases[] = {
        // The line drops: the part file continues (anew where the server cannot restart).
        {.user = "einmal", .resumed = 1},
        {.user = "ohnerest", .resumed = 0},
        {.user = "stueckweise", .resumed = 4},
        // the server closes with 421 (libcurl: a time-out): resumed as after a reset
        {.user = "dienstende", .resumed = 1},
        // a drop box that lets nobody read the part file back is taken at its size
        {.user = "einwurf", .resumed = 1},
        // The server names more bytes than were sent, or ignores REST: sent anew, no gap or shift.
        {.user = "uebertreibt"},
        {.user = "restluege"},
        // All arrived; the line drops during the rename: reconnected and renamed, not sent again.
        {.user = "mkdweg", .size = 4 * cutAfter},
        // Both connections drop after the last byte: the next attempt finds it all and renames.
        {.user = "absturz", .size = cutAfter},
        // Renamed, then the server vanished before it said so: delivered, not sent twice.
        {.user = "rntoweg", .size = 300000, .dropped = false},
        // No SIZE: MLST names the size, or only a listing does.
        {.user = "ohnesize", .size = 200000, .dropped = false},
        {.user = "kurznurliste", .size = 1000, .dropped = false},
        // Earlier jobs or another upload's rename hold the name: the next free one.
        {.user = "kunde",
         .size = 4 << 20,
         .dropped = false,
         .before = {"job.zip", "job-2.zip"},
         .arrivesAs = "job-3.zip"},
        {.user = "kunde",
         .size = 4 << 20,
         .dropped = false,
         .before = {"job.zip", "job-2.zip", "job-3.zip", "job-4.zip.lock/"},
         .arrivesAs = "job-5.zip"},
        // A server that refuses renames: the final name, never over an earlier job.
        {.user = "ohnerename", .size = 300000, .dropped = false},
        {.user = "ohnerename",
         .size = 300000,
         .dropped = false,
         .before = {"job.zip"},
         .arrivesAs = "job-2.zip"},
        {.user = "kunde", .size = 1000, .dropped = false, .arrivesAs = longName},
        {.user = "kunde", .size = 300000, .dropped = false, .proxy = true},
    };
    PeerProcess proxy;
    const QString proxyLog = machine.path(u"proxy/proxy.log"_s);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user + (u" to "_s + c.arrivesAs).left(40).toStdString() +
                     (c.proxy ? " through the proxy" : ""));
        QStringList expected{c.arrivesAs}, lockFolders;
        for (const QString& name : c.before) {
            if (name.endsWith(u'/'))
                lockFolders << name.chopped(1);
            else
                expected
                    << QFileInfo(machine.writeFile(u"ftproot/"_s + name, name.toUtf8())).fileName();
        }
        for (const QString& folder : lockFolders)
            ASSERT_TRUE(QDir().mkpath(serverRoot() + u'/' + folder));
        expected.sort();
        const QString local = writeLocalFile(u"job.zip"_s, c.size);
        FtpUploadRequest r = request(QString::fromLatin1(c.user), local);
        if (c.arrivesAs == longName)
            r.remoteName = longName;
        if (c.proxy) {
            ASSERT_TRUE(proxy.startFixture(
                u"ftpserver.py"_s, {u"--root"_s, QFileInfo(proxyLog).path(), u"--proxy"_s}));
            r.proxy = {.enabled = true,
                       .host = u"127.0.0.1"_s,
                       .port = QString::number(proxy.port()),
                       .user = u"proxyuser"_s,
                       .password = u"proxypass"_s};
        }
        qint64 lastDone = 0;
        bool wentBack = false;
        const Outcome outcome = run(r, [&](FtpUploader&, const TransferProgress& p) {
            wentBack = wentBack || p.done < lastDone;
            lastDone = p.done;
        });
        const std::string statuses = outcome.statuses.join(QLatin1Char('|')).toStdString();
        ASSERT_TRUE(outcome.result.delivered) << outcome.result.errorText.toStdString();
        EXPECT_EQ(outcome.result.remoteName, c.arrivesAs);
        EXPECT_EQ(onServer(), expected);
        EXPECT_EQ(kestro::test::readFile(serverRoot() + u'/' + c.arrivesAs),
                  kestro::test::readFile(local));
        for (const QString& name : c.before) {
            if (!name.endsWith(u'/')) {
                EXPECT_EQ(kestro::test::readFile(serverRoot() + u'/' + name), name.toUtf8());
            }
        }
        EXPECT_EQ(QDir(serverRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), lockFolders);
        EXPECT_EQ(outcome.progressTexts.last(), u"100 %"_s);
        if (!c.dropped) {
            EXPECT_EQ(outcome.result.remoteSize, c.size);
        }
        if (c.proxy) { // control and data connection, each with the agent and the login
            const QStringList tunnels =
                QString::fromUtf8(kestro::test::readFile(proxyLog)).trimmed().split(u'\n');
            ASSERT_EQ(tunnels.size(), 2);
            EXPECT_EQ(tunnels[0], serverAddress() + u" KestroFTP-Client proxyuser:proxypass"_s);
            EXPECT_TRUE(tunnels[1].endsWith(u" KestroFTP-Client proxyuser:proxypass"_s))
                << tunnels[1].toStdString();
        }
        EXPECT_EQ(outcome.statuses.contains(
                      u"Verbindung unterbrochen – neuer Versuch 2 von 4 in 1 s …"_s),
                  c.dropped)
            << statuses;
        if (c.resumed >= 0) {
            EXPECT_EQ(outcome.statuses.contains(u"Übertragung wird bei 64,0 KB fortgesetzt …"_s),
                      c.resumed > 0)
                << statuses;
            EXPECT_EQ(outcome.statuses.filter(u"fortgesetzt"_s).size(), c.resumed);
            if (c.resumed > 0) {
                EXPECT_FALSE(wentBack);
            }
        }
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
    }
}

// An abort while the archive travels or during a 60 s retry pause ends the upload at once.
TEST_F(FtpUploadTest, AbortEndsTheUploadAtOnceAndLeavesNothing) {
    // Sparse: still on its way at the first progress, without writing it out.
    const QString big = machine.path(u"big.zip"_s);
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(1) << 30));
    }
    for (const bool inPause : {false, true}) {
        SCOPED_TRACE(inPause ? "in the retry pause" : "while the archive travels");
        FtpUploadRequest r = request(inPause ? u"abbruch"_s : u"kunde"_s, big);
        r.retryPauses = {std::chrono::seconds(60)};
        QStringList seenWhileTravelling;
        QObject context;
        bool hooked = false;
        const auto started = std::chrono::steady_clock::now();
        const Outcome outcome = run(r, [&](FtpUploader& uploader, const TransferProgress& p) {
            if (inPause && !hooked) {
                hooked = true; // before the drop's text is on its way
                QObject::connect(&uploader, &FtpUploader::statusText, &context,
                                 [&uploader](const QString& text) {
                                     if (text.startsWith(u"Verbindung unterbrochen"_s))
                                         uploader.abort();
                                 });
            }
            if (seenWhileTravelling.isEmpty() && p.done > 0) {
                seenWhileTravelling = onServer();
                if (!inPause)
                    uploader.abort();
            }
        });
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        if (!inPause) { // while it travels the file has a name the shop does not take for a job
            ASSERT_EQ(seenWhileTravelling.size(), 1);
            EXPECT_TRUE(seenWhileTravelling[0].startsWith(u"big.zip."_s));
            EXPECT_TRUE(seenWhileTravelling[0].endsWith(u".part"_s));
        }
        expectNeverComplete(outcome);
        EXPECT_TRUE(outcome.result.connected);
        EXPECT_EQ(outcome.result.errorCode, 12017);
        EXPECT_EQ(outcome.result.errorText, u"Übertragung durch Anwender abgebrochen. "_s);
        EXPECT_TRUE(onServer().isEmpty()) << onServer().join(' ').toStdString();
    }
}

// Ten sends of one company in one second: ten files, none replaced, each told its name.
TEST_F(FtpUploadTest, TenUploadsOfOneNameAtOnceKeepTenFiles) {
    for (const char* user : {"kunde", "ohnerename"}) {
        SCOPED_TRACE(user);
        QDir(serverRoot()).removeRecursively();
        QDir().mkpath(serverRoot());
        std::vector<std::unique_ptr<FtpUploader>> uploaders;
        QList<FtpUploadResult> results;
        QEventLoop loop;
        for (int i = 0; i < 10; ++i) {
            const QString local =
                machine.writeFile(u"l%1/job.zip"_s.arg(i), QByteArray(200000 + i, char('a' + i)));
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

const QDateTime afternoon(QDate(2026, 12, 6), QTime(14, 5, 9));

// A pasted line end cannot forge an entry; the error log's ends are appended, not written over.
TEST(TransferLog, OneLinePerEntryAndTheErrorLogAppended) {
    EXPECT_EQ(transferLogLine(afternoon, u"an a@b.example\r\nDate: 01.01.2026 ok"_s),
              u"Date: 06.12.2026    Time: 14:05:09        an a@b.example  Date: 01.01.2026 ok"_s);
    TestMachine machine;
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(appendFtpErrorLogEnd(machine.clientDataFolder()));
    EXPECT_EQ(kestro::test::readFile(ftpErrorLogPath(machine.clientDataFolder())),
              "errproxy:: \r\r\nEnd ErrLog: \r\r\nerrproxy:: \r\r\nEnd ErrLog: \r\r\n");
}

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&display, &TransferDisplay::statusLineAdded,
                         [this](const QString& line) { lines << line; });
    }
    TestMachine machine;
    TransferDisplay display{machine.clientDataFolder()};
    QStringList lines; // what the status box received
};

TEST_F(Display, StatusWithCrLfShowsOnceWithoutEmptyLine) {
    display.showFtpStatus(u"226 Transfer complete.\r\n"_s);
    EXPECT_EQ(lines, QStringList{u"226 Transfer complete."_s});
    EXPECT_EQ(display.infoPanel(), u"FTP-Status: 226 Transfer complete."_s);
    const QByteArray log = kestro::test::readFile(transferLogPath(machine.clientDataFolder()));
    EXPECT_TRUE(log.endsWith("        226 Transfer complete.\r\n")) << log.toStdString();
    EXPECT_EQ(log.count("\r\n"), 1);
}

TEST_F(Display, FloodFillShowsPercentageAfterTheMessage) {
    display.floodFillInit(200, u"Uploading Job 1.zip"_s);
    display.floodFillUpdate(50);
    EXPECT_EQ(display.infoPanel(), u"Uploading Job 1.zip 25 %"_s);
    // Halves go to the even neighbour: 0.5 % → 0, 1.5 % → 2, 2.5 % → 2.
    for (const auto& [done, text] :
         {std::pair{1, "0 %"}, {3, "2 %"}, {5, "2 %"}, {5000, "100 %"}}) {
        display.floodFillUpdate(done);
        EXPECT_EQ(display.progressText(), QString::fromUtf8(text)) << done;
    }
    EXPECT_EQ(display.barValue(), 200);
    // A status shown meanwhile does not replace the bar's message.
    display.floodFillInit(10, u"Uploading a.zip"_s);
    display.floodShowStatus(u"Connected to 127.0.0.1"_s);
    EXPECT_EQ(display.infoPanel(), u"FTP-Status: Connected to 127.0.0.1"_s);
    display.floodFillUpdate(5);
    EXPECT_EQ(display.infoPanel(), u"Uploading a.zip 50 %"_s);
}

TEST_F(Display, UnconfirmedProgressNeverReads100Percent) {
    for (const qint64 total : {1LL, 7LL, 199LL, 200LL, 1000LL, 123456789LL}) {
        display.floodFillInit(double(total), u"Uploading a.zip"_s);
        TransferProgress p;
        p.total = p.done = total;
        display.showTransferProgress(p);
        EXPECT_NE(display.progressText(), u"100 %"_s) << total;
        EXPECT_GE(barPercent(double(unconfirmedCeiling(total) + 1), double(total)), 100) << total;
        p.confirmed = true;
        display.showTransferProgress(p);
        EXPECT_EQ(display.progressText(), u"100 %"_s) << total;
    }
}

// Reads like FileZilla in German; the rate follows the last seconds and gives the time left.
TEST(ProgressDetail, RateAndTimeLeftOfTheLastSeconds) {
    TransferProgress p;
    p.done = 225443840;
    p.elapsedMs = 5400;
    p.bytesPerSecond = 45.2 * 1024 * 1024;
    p.secondsLeft = 3671;
    EXPECT_EQ(progressDetailText(p),
              u"00:00:05 vergangen, 01:01:11 verbleibend, 225.443.840 Bytes (45,2 MB/s)"_s);
    p.bytesPerSecond = 0;
    p.secondsLeft = -1;
    EXPECT_EQ(progressDetailText(p),
              u"00:00:05 vergangen, --:--:-- verbleibend, 225.443.840 Bytes"_s);
    EXPECT_EQ(rateText(812 * 1024), u"812,0 KB/s"_s);
    EXPECT_EQ(rateText(950), u"950 Byte/s"_s);

    RateMeter meter(std::chrono::seconds(3));
    const auto t0 = RateMeter::Clock::time_point{} + std::chrono::hours(1);
    meter.start(10'000'000, t0);
    // A slow start, then 1 MB per second for four seconds.
    meter.sample(100'000, t0 + std::chrono::seconds(2));
    for (int s = 1; s <= 4; ++s)
        p = meter.sample(100'000 + s * 1'000'000, t0 + std::chrono::seconds(2 + s));
    EXPECT_NEAR(p.bytesPerSecond, 1'000'000, 1);
    EXPECT_EQ(p.secondsLeft, 6); // 5.9 MB left at 1 MB/s, rounded up
    EXPECT_EQ(p.elapsedMs, 6000);
}

// The codes the uploads above do not meet; a multi-line reply is one text.
TEST(FtpTexts, CodesAndMultiLineReplies) {
    EXPECT_EQ(wininetCodeFor({CURLE_LOGIN_DENIED, false, "USER", 530}), 12013);
    EXPECT_EQ(wininetCodeFor({CURLE_COULDNT_RESOLVE_HOST, false, "", 0}), 12007);
    EXPECT_EQ(wininetCodeFor({CURLE_PARTIAL_FILE, false, "STOR", 426}), 12003);
    EXPECT_EQ(ftpStatusText(200, u"16"_s).value(), u"Disconnected by user request."_s);
    FtpReplyAssembler replies;
    for (const char* line :
         {"HTTP/1.1 200 Connection established", "530-Login incorrect.",
          " 530 is not the end without the code in front", "530-Ask your print shop."})
        EXPECT_FALSE(replies.feed(line).has_value()) << line;
    const auto reply = replies.feed("530 Bye.");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, 530);
    EXPECT_EQ(reply->text, u"530-Login incorrect.\r\n 530 is not the end without the code in "
                           u"front\r\n530-Ask your print shop.\r\n530 Bye."_s);
    EXPECT_EQ(replies.feed("226 Transfer complete.")->text, u"226 Transfer complete."_s);
}

} // namespace

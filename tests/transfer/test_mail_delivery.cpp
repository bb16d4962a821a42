// The notification mail against real servers on loopback: an aiosmtpd SMTP server and
// our POP3 fixture. What the shop's mail server receives, and what the user and the mail
// error log see when it goes wrong.
#include "authoritycert.h"
#include "client/mail/mailconnection.h"
#include "client/mail/mailnotification.h"
#include "client/mail/mailsender.h"
#include "support/peerprocess.h"
#include "support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::transfer;
using kestro::startup::MailAccountSettings;
using kestro::test::PeerProcess;
using kestro::test::TestMachine;

namespace {

// Everything a send reported, in order, as the main window would receive it.
struct SendRecord {
    QStringList statusLines;
    QStringList failures;
    int successes = 0;
    int lastProgress = -1;
};

SendRecord sendAndWait(MailSender& sender, const MailJob& job) {
    SendRecord record;
    QObject context;
    QObject::connect(&sender, &MailSender::status, &context,
                     [&](const QString& s) { record.statusLines << s; });
    QObject::connect(&sender, &MailSender::sendFailed, &context,
                     [&](const QString& s) { record.failures << s; });
    QObject::connect(&sender, &MailSender::sendSuccessful, &context, [&] { ++record.successes; });
    QObject::connect(&sender, &MailSender::progress, &context,
                     [&](int p) { record.lastProgress = p; });
    QEventLoop loop;
    QObject::connect(&sender, &MailSender::finished, &loop, &QEventLoop::quit);
    QTimer guard; // a hung send must fail the test, not the suite
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        ADD_FAILURE() << "mail send did not finish";
        loop.quit();
    });
    guard.start(90000);
    EXPECT_TRUE(sender.send(job));
    loop.exec();
    return record;
}

QJsonObject readJson(const QString& path) {
    return QJsonDocument::fromJson(test::readFile(path)).object();
}

// A loopback port where nothing listens.
int closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

class MailDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        spool = machine.path(QStringLiteral("spool"));
        QDir().mkpath(spool);
        eventLog = machine.path(QStringLiteral("events.log"));
        config.smtpServer = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    }

    // Starts the SMTP fixture (the fixture's own server unless another is given) and makes
    // it the own account's server.
    void startSmtp(const QStringList& extra = {}, PeerProcess* server = nullptr) {
        server = server ? server : &smtp;
        ASSERT_TRUE(server->startFixture(
            QStringLiteral("smtpserver.py"),
            QStringList{QStringLiteral("--spool"), spool, QStringLiteral("--log"), eventLog} +
                extra))
            << server->output().toStdString();
        smtpAddress = QStringLiteral("127.0.0.1:%1").arg(server->port());
    }

    // The user's own account on the fixture server, no logins.
    MailAccountSettings ownAccount() const {
        MailAccountSettings own;
        own.account = QStringLiteral("1");
        own.smtpServer = smtpAddress;
        own.from = QStringLiteral("buero@kunde.example");
        return own;
    }

    // The own account with an SMTP login the fixture server takes ("--auth 100001:abcd1").
    MailAccountSettings loginAccount() const {
        MailAccountSettings account = ownAccount();
        account.smtpLogin = true;
        account.username = QStringLiteral("100001");
        account.password = QStringLiteral("abcd1");
        return account;
    }

    // The POP3 server the own account logs in to before it sends, as user "kunde7".
    MailAccountSettings popAccount(PeerProcess& pop, const QString& password,
                                   const QStringList& extra = {}) {
        EXPECT_TRUE(pop.startFixture(QStringLiteral("pop3server.py"),
                                     QStringList{QStringLiteral("--user"), QStringLiteral("kunde7"),
                                                 QStringLiteral("--password"), password,
                                                 QStringLiteral("--log"), eventLog} +
                                         extra));
        MailAccountSettings account = ownAccount();
        account.popLogin = true;
        account.popServer = QStringLiteral("127.0.0.1:%1").arg(pop.port());
        account.username = QStringLiteral("kunde7");
        account.password = password;
        return account;
    }

    MailJob jobFor(const MailAccountSettings& account, const QString& archive) const {
        return notificationMailJob(account, config, QStringLiteral("eingang@druckerei.example"),
                                   archive, machine.clientDataFolder());
    }

    QString errorLog() const { return mailErrorLogPath(machine.clientDataFolder()); }

    TestMachine machine;
    DeployConfig config;
    PeerProcess smtp;
    QString spool;
    QString eventLog;
    QString smtpAddress;
    MailSender sender;
};

// A long archive name with umlauts stays whole in the subject, in lines of at most 78 bytes.
TEST_F(MailDelivery, TheShopReceivesTheNotificationAsAMailProgramShowsIt) {
    startSmtp();
    const QString archive = QStringLiteral("Müller & Söhne ") + QString(60, QChar(0x00C4)) +
                            QStringLiteral("-071226-101500.zip");
    const SendRecord record = sendAndWait(sender, jobFor(ownAccount(), archive));

    EXPECT_EQ(record.successes, 1);
    EXPECT_TRUE(record.failures.isEmpty()) << record.failures.join('|').toStdString();
    EXPECT_EQ(record.lastProgress, 100);
    ASSERT_FALSE(record.statusLines.isEmpty());
    EXPECT_EQ(record.statusLines.last(),
              QStringLiteral("Mail an eingang@druckerei.example gesendet."));

    const QJsonObject mail = readJson(spool + QStringLiteral("/1.json"));
    EXPECT_EQ(mail[QStringLiteral("from")].toString(),
              QStringLiteral("FTP - Eingangsbenachrichtigung <buero@kunde.example>"));
    EXPECT_EQ(mail[QStringLiteral("to")].toString(),
              QStringLiteral("FTP <eingang@druckerei.example>"));
    EXPECT_EQ(mail[QStringLiteral("subject")].toString(),
              QStringLiteral("KestroClient - File: ") + archive);
    EXPECT_EQ(mail[QStringLiteral("body")].toString().trimmed(),
              QStringLiteral("es wurde ein Auftrag via FTP empfangen"));
    EXPECT_FALSE(mail[QStringLiteral("date")].toString().isEmpty());
    EXPECT_TRUE(
        mail[QStringLiteral("message-id")].toString().endsWith(QStringLiteral("@kunde.example>")));
    EXPECT_EQ(mail[QStringLiteral("mime-version")].toString(), QStringLiteral("1.0"));
    EXPECT_TRUE(mail[QStringLiteral("defects")].toArray().isEmpty());

    // Only 7-bit bytes on the wire; the envelope names the two addresses.
    const QByteArray raw = test::readFile(spool + QStringLiteral("/1.eml"));
    for (const char c : raw)
        ASSERT_LT(uchar(c), 0x80);
    for (const QByteArray& line : raw.split('\n'))
        EXPECT_LE(line.size(), 78);
    EXPECT_EQ(test::readFile(spool + QStringLiteral("/1.envelope")),
              QByteArray("MAIL buero@kunde.example\nRCPT eingang@druckerei.example\n"));
    EXPECT_FALSE(QFile::exists(errorLog()));
}

TEST_F(MailDelivery, SmtpLoginIsTaken) {
    startSmtp({QStringLiteral("--auth"), QStringLiteral("100001:abcd1")});
    EXPECT_EQ(sendAndWait(sender, jobFor(loginAccount(), QStringLiteral("a.zip"))).successes, 1);
    EXPECT_EQ(test::readFile(eventLog),
              QByteArray("SMTP EHLO\nSMTP AUTH 100001 ok\nSMTP DATA tls=no\n"));
}

TEST_F(MailDelivery, PopLoginComesBeforeTheSmtpDialogue) {
    startSmtp();
    PeerProcess pop;
    const MailAccountSettings account = popAccount(pop, QStringLiteral("pop-geheim"));
    EXPECT_EQ(sendAndWait(sender, jobFor(account, QStringLiteral("a.zip"))).successes, 1);
    EXPECT_EQ(test::readFile(eventLog),
              QByteArray("POP3 LOGIN kunde7 ok\nSMTP EHLO\nSMTP DATA tls=no\n"));
}

TEST_F(MailDelivery, TheBuiltInAccountSendsUnlessAnOwnAccountIsChosenAndComplete) {
    startSmtp({QStringLiteral("--auth"), QStringLiteral("100001:abcd1")});
    config.smtpServer = smtpAddress; // the maker's server is the fixture here
    const QString ownServer = QStringLiteral("127.0.0.1:%1").arg(closedPort());

    MailAccountSettings chosenButEmpty; // "1" without an own SMTP server
    chosenButEmpty.account = QStringLiteral("1");
    chosenButEmpty.from = QStringLiteral("buero@kunde.example");
    MailAccountSettings completeButNotChosen = chosenButEmpty; // "0" with a full account
    completeButNotChosen.account = QStringLiteral("0");
    completeButNotChosen.smtpServer = ownServer;
    completeButNotChosen.smtpLogin = true;
    completeButNotChosen.username = QStringLiteral("eigen");
    completeButNotChosen.password = QStringLiteral("eigen");
    MailAccountSettings neverWritten = completeButNotChosen; // KontoEM missing
    neverWritten.account.clear();

    int number = 0;
    for (const MailAccountSettings& settings :
         {chosenButEmpty, completeButNotChosen, neverWritten}) {
        ++number;
        EXPECT_EQ(sendAndWait(sender, jobFor(settings, QStringLiteral("a.zip"))).successes, 1);
        EXPECT_EQ(readJson(spool + QStringLiteral("/%1.json").arg(number))[QStringLiteral("from")]
                      .toString(),
                  QStringLiteral("FTP - Eingangsbenachrichtigung <kestroclient@varnholt.example>"));
    }
    EXPECT_EQ(test::readFile(eventLog).count("SMTP AUTH 100001 ok"), 3);

    // An own account that is chosen and complete goes to its own server.
    MailAccountSettings own = completeButNotChosen;
    own.account = QStringLiteral("1");
    const SendRecord record = sendAndWait(sender, jobFor(own, QStringLiteral("b.zip")));
    ASSERT_EQ(record.failures.size(), 1);
    EXPECT_TRUE(record.failures[0].contains(ownServer));
}

// Every way a send fails is told in the status box and logged once in the mail error log
// ("Date: dd.MM.yyyy    Time: HH:mm:ss" in its print zone, then the status text), and never
// counts as success. Settings that would inject a header or name a server with a user or a
// path never reach any server; a refused POP3 login stops the send before any SMTP.
TEST_F(MailDelivery, FailuresAreLoggedAndShownButNeverCountAsSuccess) {
    PeerProcess pop;
    const auto wrongPassword = [](MailAccountSettings& a) {
        a.password = QStringLiteral("falsch");
    };
    const struct Case {
        const char* what;
        QStringList smtpArgs;
        std::function<void(MailAccountSettings&)> change; // to the own account
        QStringList reason;   // how the failure text begins, then parts it holds; "%server":
                              // the SMTP server's address
        const char* eventLog; // what the servers saw; nullptr: not checked
    } cases[] = {
        {"refused recipient",
         {QStringLiteral("--refuse-rcpt"), QStringLiteral("eingang@druckerei.example")},
         [](MailAccountSettings&) {},
         {QStringLiteral("SMTP-Server %server"), QStringLiteral("550")},
         nullptr},
        // The own account is not chosen: the built-in one's server does not listen.
        {"built-in account",
         {},
         [](MailAccountSettings& a) { a.account = QStringLiteral("0"); },
         {QStringLiteral("SMTP-Server ") + config.smtpServer},
         nullptr},
        {"server drops the connection",
         {QStringLiteral("--drop-after-mail")},
         [](MailAccountSettings&) {},
         {},
         nullptr},
        {"wrong SMTP password",
         {QStringLiteral("--auth"), QStringLiteral("100001:abcd1")},
         [&](MailAccountSettings& a) { wrongPassword(a = loginAccount()); },
         {QStringLiteral("SMTP-Server %server")},
         "SMTP EHLO\nSMTP AUTH 100001 denied\n"},
        {"refused POP3 login",
         {},
         [&](MailAccountSettings& a) { wrongPassword(a = popAccount(pop, QStringLiteral("p"))); },
         {QStringLiteral("POP3-Anmeldung bei ")},
         "POP3 LOGIN kunde7 denied\n"},
        {"sender address that adds a recipient",
         {},
         [](MailAccountSettings& a) {
             a.from = QStringLiteral("a@b.example>\r\nBcc: <opfer@x.example");
         },
         {},
         ""},
        {"server named with a user and a path",
         {},
         [](MailAccountSettings& a) {
             a.smtpServer = QStringLiteral("user@") + a.smtpServer + QStringLiteral("/x");
         },
         {},
         ""},
    };
    const QRegularExpression shape(QStringLiteral(
        R"(^Date: \d\d\.\d\d\.\d{4}    Time: \d\d:\d\d:\d\d {8}Mail nicht gesendet: )"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(eventLog);
        QFile::remove(errorLog());
        PeerProcess server;
        startSmtp(c.smtpArgs, &server);
        MailAccountSettings account = ownAccount();
        c.change(account);
        const SendRecord record = sendAndWait(sender, jobFor(account, QStringLiteral("a.zip")));
        EXPECT_EQ(record.successes, 0);
        ASSERT_EQ(record.failures.size(), 1);
        const QString failure = record.failures[0];
        EXPECT_EQ(record.statusLines.last(), MailSender::failureText(failure));
        for (qsizetype i = 0; i < c.reason.size(); ++i) {
            const QString part =
                QString(c.reason[i]).replace(QStringLiteral("%server"), smtpAddress);
            EXPECT_TRUE(i == 0 ? failure.startsWith(part) : failure.contains(part))
                << part.toStdString() << " in " << failure.toStdString();
        }
        const QString log = QString::fromUtf8(test::readFile(errorLog()));
        EXPECT_EQ(log.count(QStringLiteral("Mail nicht gesendet")), 1) << log.toStdString();
        EXPECT_TRUE(shape.match(log).hasMatch()) << log.toStdString();
        // One entry, one line, whatever line breaks the failure text carries.
        QString flat = failure;
        flat.replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
        EXPECT_TRUE(log.endsWith(flat + QStringLiteral("\r\n"))) << log.toStdString();
        EXPECT_EQ(log.count(QStringLiteral("\r\n")), 1) << log.toStdString();
        if (c.eventLog) {
            EXPECT_EQ(test::readFile(eventLog), QByteArray(c.eventLog));
        }
        EXPECT_EQ(QDir(spool).entryList({QStringLiteral("*.eml")}), QStringList());
    }
}

// A server that goes silent at one step of the dialogue holds the send no longer than the
// time-out (here 3 s; the guard of sendAndWait gives up after 90 s, libcurl's own wait for a
// reply is 120 s). Half the time-out more covers a slow machine; twice it is a second full
// wait the user sits through (with the real 60 s: two minutes with the send button greyed).
struct Stall {
    const char* step;
    bool pop3;      // the POP3 login before the mail is what stalls
    bool delivered; // the server accepted the message before it went silent
};

void PrintTo(const Stall& stall, std::ostream* os) {
    *os << stall.step;
}

class StalledMailServer : public MailDelivery, public ::testing::WithParamInterface<Stall> {};

TEST_P(StalledMailServer, EndsTheSendAtTheTimeOut) {
    constexpr long kTimeOutSeconds = 3;
    const Stall stall = GetParam();
    startSmtp(stall.pop3
                  ? QStringList()
                  : QStringList{QStringLiteral("--stall-at"), QString::fromLatin1(stall.step)});
    PeerProcess pop;
    MailJob job = jobFor(
        stall.pop3 ? popAccount(pop, QStringLiteral("geheim"), {QStringLiteral("--stall-at-stat")})
                   : ownAccount(),
        QStringLiteral("a.zip"));
    job.connection.lowSpeedSeconds = kTimeOutSeconds;
    QElapsedTimer held;
    held.start();
    const SendRecord record = sendAndWait(sender, job);
    EXPECT_LT(held.elapsed(), kTimeOutSeconds * 1500);
    EXPECT_TRUE(test::readFile(eventLog).contains(QByteArray(stall.pop3 ? "POP3" : "SMTP") +
                                                  " STALL " + stall.step));
    EXPECT_EQ(record.successes + record.failures.size(), 1);
    if (!stall.delivered) {
        EXPECT_EQ(record.failures.size(), 1);
        EXPECT_EQ(test::readFile(errorLog()).count("\r\n"), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(AtEachStep, StalledMailServer,
                         ::testing::Values(Stall{"greeting", false, false},
                                           Stall{"data", false, false}, Stall{"end", false, false},
                                           Stall{"quit", false, true}, Stall{"stat", true, false}),
                         [](const auto& info) { return std::string(info.param.step); });

class MailOverTls : public MailDelivery {
protected:
    void SetUp() override {
        MailDelivery::SetUp();
        const auto made = kestro::test::makeAuthoritySignedCertificate(
            machine.root(), QStringLiteral("IP:127.0.0.1,DNS:localhost"));
        ASSERT_FALSE(made.pem.isEmpty());
        authority = made.authority;
        cert = made.cert;
        key = made.key;
        startSmtp({QStringLiteral("--starttls"), cert, key, QStringLiteral("--auth"),
                   QStringLiteral("100001:abcd1")});
    }

    MailJob loginJob() const { return jobFor(loginAccount(), QStringLiteral("a.zip")); }

    QString authority; // the test authority that signed the server's certificate
    QString cert;
    QString key;
};

TEST_F(MailOverTls, StartTlsIsUsedWhenTheServerOffersIt) {
    MailJob job = loginJob();
    job.connection.caFile = authority;
    EXPECT_EQ(sendAndWait(sender, job).successes, 1);
    EXPECT_EQ(test::readFile(eventLog), QByteArray("SMTP EHLO\nSMTP EHLO\nSMTP AUTH 100001 ok\n"
                                                   "SMTP DATA tls=yes\n"));
}

// A mail server that speaks TLS from the first byte (smtps, port 465): written as
// "smtps://host:port", or on port 465, the message goes over TLS.
TEST_F(MailOverTls, TlsOnConnectIsUsedForSmtpsServers) {
    test::PeerProcess implicit;
    startSmtp({QStringLiteral("--tls-on-connect"), cert, key}, &implicit);
    MailJob job = loginJob();
    job.connection.caFile = authority;
    job.smtpServer = QStringLiteral("smtps://127.0.0.1:%1").arg(implicit.port());
    EXPECT_EQ(sendAndWait(sender, job).successes, 1);
    EXPECT_EQ(test::readFile(eventLog), QByteArray("SMTP EHLO\nSMTP DATA tls=yes\n"));
    // Ticked "SSL/TLS ab Verbindungsbeginn" on another port: TLS on connect there too.
    QFile::remove(eventLog);
    MailAccountSettings account = ownAccount();
    account.tlsOnConnect = true; // the server on its own port, not 465
    MailJob ticked = jobFor(account, QStringLiteral("b.zip"));
    ticked.connection.caFile = authority;
    EXPECT_EQ(sendAndWait(sender, ticked).successes, 1);
    EXPECT_EQ(test::readFile(eventLog), QByteArray("SMTP EHLO\nSMTP DATA tls=yes\n"));
    EXPECT_EQ(smtpServerUrl(QStringLiteral("mail.example:465"), false),
              std::optional<QByteArray>("smtp://mail.example:465"));
    EXPECT_EQ(smtpServerUrl(QStringLiteral(" mail.example:465")),
              std::optional<QByteArray>("smtps://mail.example:465"));
    EXPECT_EQ(smtpServerUrl(QStringLiteral("mail.example:587")),
              std::optional<QByteArray>("smtp://mail.example:587"));
    EXPECT_EQ(smtpServerUrl(QStringLiteral("smtps://user@mail.example")), std::nullopt);
}

TEST_F(MailOverTls, AnUntrustedCertificateStopsTheSendInsteadOfFallingBackToPlainText) {
    const SendRecord record = sendAndWait(sender, loginJob());
    EXPECT_EQ(record.successes, 0);
    EXPECT_EQ(record.failures.size(), 1);
    EXPECT_FALSE(test::readFile(eventLog).contains("AUTH"));
}

// A server reached over the network that offers no STARTTLS (or whose offer someone between
// removed): the password never crosses in clear; a mail without login still goes out.
// A relay on this machine itself may stay unencrypted (the other tests log in on loopback).
TEST_F(MailDelivery, APasswordIsNeverSentWithoutTlsToAServerOnTheNetwork) {
    QString address;
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            address = a.toString();
    if (address.isEmpty())
        GTEST_SKIP() << "this machine has no network address besides loopback";
    for (const bool login : {true, false}) {
        SCOPED_TRACE(login);
        QStringList args{QStringLiteral("--host"), address};
        if (login)
            args << QStringLiteral("--auth") << QStringLiteral("100001:abcd1");
        test::PeerProcess server;
        startSmtp(args, &server);
        smtpAddress = address + QStringLiteral(":%1").arg(server.port());
        MailAccountSettings account = loginAccount();
        account.smtpLogin = login;
        const SendRecord record = sendAndWait(sender, jobFor(account, QStringLiteral("a.zip")));
        EXPECT_EQ(record.successes, login ? 0 : 1);
        EXPECT_FALSE(test::readFile(eventLog).contains("AUTH"));
        if (login) {
            ASSERT_EQ(record.failures.size(), 1);
            EXPECT_TRUE(record.failures.first().contains(
                QStringLiteral("Der Server bietet keine verschlüsselte Verbindung (STARTTLS) an.")))
                << record.failures.first().toStdString();
            EXPECT_FALSE(QFile::exists(spool + QStringLiteral("/1.eml")));
        } else {
            EXPECT_TRUE(test::readFile(eventLog).contains("SMTP DATA tls=no"));
        }
    }
}

// Only an address of this machine is exempt: a host name that merely begins with "127."
// is looked up like any other and may lie anywhere on the network.
TEST(MailPasswordTls, HostNamesThatLookLikeLoopbackStillNeedTls) {
    EXPECT_TRUE(passwordNeedsTls("smtp://127.mail.example:587", true));
    EXPECT_TRUE(passwordNeedsTls("smtp://127.0.0.1.mail.example", true));
    EXPECT_FALSE(passwordNeedsTls("smtp://127.0.0.1:25", true));
}

TEST(MailSenderLifetime, DestroyingTheSenderDuringASendEndsTheThread) {
    // A listener that accepts but never greets: the send hangs in the SMTP dialogue.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    MailJob job;
    job.message = notificationMessage(QStringLiteral("a@b.example"), QStringLiteral("c@d.example"),
                                      QStringLiteral("x.zip"));
    job.smtpServer = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
    // Longer than the test's own time limit: only the abort can end this send in time.
    job.connection.lowSpeedSeconds = 3600;
    {
        MailSender sender;
        ASSERT_TRUE(sender.send(job));
        EXPECT_TRUE(sender.isBusy());
        EXPECT_FALSE(sender.send(job)); // one mail at a time
    }                                   // returns at once through the abort flag
}

} // namespace

// The notification mail against aiosmtpd and our POP3 fixture on loopback, and an independent
// reader: what the shop's server receives, and what the user and the error log see.
#include "client/mail/mailconnection.h"
#include "client/mail/mailmessage.h"
#include "client/mail/mailnotification.h"
#include "client/mail/mailsender.h"
#include "support/peerprocess.h"
#include "support/testenv.h"
#include "transfertest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QTcpServer>
#include <QTimeZone>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
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
        spool = machine.path(u"spool"_s);
        QDir().mkpath(spool);
        eventLog = machine.path(u"events.log"_s);
        config.smtpServer = u"127.0.0.1:%1"_s.arg(closedPort());
    }

    // Starts an SMTP fixture (`smtp` unless another is given) as the own account's server.
    void startSmtp(const QStringList& extra = {}, PeerProcess* server = nullptr) {
        server = server ? server : &smtp;
        ASSERT_TRUE(server->startFixture(
            u"smtpserver.py"_s, QStringList{u"--spool"_s, spool, u"--log"_s, eventLog} + extra))
            << server->output().toStdString();
        smtpAddress = u"127.0.0.1:%1"_s.arg(server->port());
    }

    // The user's own account on the fixture server, no logins.
    MailAccountSettings ownAccount() const {
        MailAccountSettings own;
        own.account = u"1"_s;
        own.smtpServer = smtpAddress;
        own.from = u"buero@kunde.example"_s;
        return own;
    }

    // The own account with an SMTP login the fixture server takes ("--auth 100001:abcd1").
    MailAccountSettings loginAccount() const {
        MailAccountSettings account = ownAccount();
        account.smtpLogin = true;
        account.username = u"100001"_s;
        account.password = u"abcd1"_s;
        return account;
    }

    // The POP3 server the own account logs in to before it sends, as user "kunde7".
    MailAccountSettings popAccount(PeerProcess& pop, const QString& password,
                                   const QStringList& extra = {}) {
        EXPECT_TRUE(pop.startFixture(
            u"pop3server.py"_s,
            QStringList{u"--user"_s, u"kunde7"_s, u"--password"_s, password, u"--log"_s, eventLog} +
                extra));
        MailAccountSettings account = ownAccount();
        account.popLogin = true;
        account.popServer = u"127.0.0.1:%1"_s.arg(pop.port());
        account.username = u"kunde7"_s;
        account.password = password;
        return account;
    }

    MailJob jobFor(const MailAccountSettings& account, const QString& archive) const {
        return notificationMailJob(account, config, u"eingang@druckerei.example"_s, archive,
                                   machine.clientDataFolder());
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

// The shop receives the notification as a mail program shows it (a long archive name with
// umlauts whole in the subject, 7-bit lines of at most 78 bytes), from the built-in account
// unless an own one is chosen and complete, logged in as that account asks.
TEST_F(MailDelivery, EachAccountSendsTheNotificationFromWhereItShould) {
    PeerProcess pop;
    MailAccountSettings chosenButEmpty; // "1" without an own SMTP server
    chosenButEmpty.account = u"1"_s;
    chosenButEmpty.from = u"buero@kunde.example"_s;
    MailAccountSettings completeButNotChosen = chosenButEmpty; // "0" with a full account
    completeButNotChosen.account = u"0"_s;
    completeButNotChosen.smtpServer = u"127.0.0.1:%1"_s.arg(closedPort());
    completeButNotChosen.smtpLogin = true;
    completeButNotChosen.username = completeButNotChosen.password = u"eigen"_s;
    MailAccountSettings neverWritten = completeButNotChosen; // KontoEM missing
    neverWritten.account.clear();
    const QByteArray smtpLogin = "SMTP EHLO\nSMTP AUTH 100001 ok\nSMTP DATA tls=no\n";
    const QString own = u"buero@kunde.example"_s, builtIn = u"kestroclient@varnholt.example"_s;
    const struct {
        const char* what;
        bool auth; // the server wants the login 100001:abcd1
        std::function<MailAccountSettings()> account;
        QByteArray events;
        QString from;
    } cases[] = {
        {"no login", false, [&] { return ownAccount(); }, "SMTP EHLO\nSMTP DATA tls=no\n", own},
        {"SMTP login", true, [&] { return loginAccount(); }, smtpLogin, own},
        {"POP3 login first", false, [&] { return popAccount(pop, u"pop-geheim"_s); },
         "POP3 LOGIN kunde7 ok\nSMTP EHLO\nSMTP DATA tls=no\n", own},
        {"own account without a server", true, [&] { return chosenButEmpty; }, smtpLogin, builtIn},
        {"full account not chosen", true, [&] { return completeButNotChosen; }, smtpLogin, builtIn},
        {"no account ever chosen", true, [&] { return neverWritten; }, smtpLogin, builtIn},
    };
    const QString archive =
        u"Müller & Söhne "_s + QString(60, QChar(0x00C4)) + u"-071226-101500.zip"_s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(eventLog);
        QDir(spool).removeRecursively();
        QDir().mkpath(spool);
        PeerProcess server;
        startSmtp(c.auth ? QStringList{u"--auth"_s, u"100001:abcd1"_s} : QStringList(), &server);
        config.smtpServer = smtpAddress;
        const SendRecord record = sendAndWait(sender, jobFor(c.account(), archive));
        EXPECT_EQ(record.successes, 1);
        EXPECT_TRUE(record.failures.isEmpty()) << record.failures.join('|').toStdString();
        EXPECT_EQ(record.lastProgress, 100);
        EXPECT_EQ(record.statusLines.value(record.statusLines.size() - 1),
                  u"Mail an eingang@druckerei.example gesendet."_s);
        EXPECT_EQ(test::readFile(eventLog), c.events);

        const QJsonObject mail = readJson(spool + u"/1.json"_s);
        EXPECT_EQ(mail[u"from"_s].toString(),
                  u"FTP - Eingangsbenachrichtigung <"_s + c.from + u'>');
        EXPECT_EQ(mail[u"to"_s].toString(), u"FTP <eingang@druckerei.example>"_s);
        EXPECT_EQ(mail[u"subject"_s].toString(), u"KestroClient - File: "_s + archive);
        EXPECT_EQ(mail[u"body"_s].toString().trimmed(),
                  u"es wurde ein Auftrag via FTP empfangen"_s);
        EXPECT_FALSE(mail[u"date"_s].toString().isEmpty());
        EXPECT_TRUE(mail[u"message-id"_s].toString().endsWith(c.from.section(u'@', 1) + u'>'));
        EXPECT_EQ(mail[u"mime-version"_s].toString(), u"1.0"_s);
        EXPECT_TRUE(mail[u"defects"_s].toArray().isEmpty());
        const QByteArray raw = test::readFile(spool + u"/1.eml"_s);
        for (const char ch : raw)
            ASSERT_LT(uchar(ch), 0x80);
        for (const QByteArray& line : raw.split('\n'))
            EXPECT_LE(line.size(), 78);
        EXPECT_EQ(test::readFile(spool + u"/1.envelope"_s),
                  "MAIL " + c.from.toUtf8() + "\nRCPT eingang@druckerei.example\n");
        EXPECT_FALSE(QFile::exists(errorLog()));
    }
}

// Every failure is shown and logged once, never a success; unsafe settings reach no server.
TEST_F(MailDelivery, FailuresAreLoggedAndShownButNeverCountAsSuccess) {
    PeerProcess pop;
    const auto wrongPassword = [](MailAccountSettings& a) { a.password = u"falsch"_s; };
    const struct Case {
        const char* what;
        QStringList smtpArgs;
        std::function<void(MailAccountSettings&)> change; // to the own account
        QStringList reason;   // how the failure text begins, then parts it holds; "%server":
                              // the SMTP server's address
        const char* eventLog; // what the servers saw; nullptr: not checked
    } cases[] = {
        {"refused recipient",
         {u"--refuse-rcpt"_s, u"eingang@druckerei.example"_s},
         [](MailAccountSettings&) {},
         {u"SMTP-Server %server"_s, u"550"_s},
         nullptr},
        // The own account is not chosen: the built-in one's server does not listen.
        {"built-in account",
         {},
         [](MailAccountSettings& a) { a.account = u"0"_s; },
         {u"SMTP-Server "_s + config.smtpServer},
         nullptr},
        {"server drops the connection",
         {u"--drop-after-mail"_s},
         [](MailAccountSettings&) {},
         {},
         nullptr},
        {"wrong SMTP password",
         {u"--auth"_s, u"100001:abcd1"_s},
         [&](MailAccountSettings& a) { wrongPassword(a = loginAccount()); },
         {u"SMTP-Server %server"_s},
         "SMTP EHLO\nSMTP AUTH 100001 denied\n"},
        {"refused POP3 login",
         {},
         [&](MailAccountSettings& a) { wrongPassword(a = popAccount(pop, u"p"_s)); },
         {u"POP3-Anmeldung bei "_s},
         "POP3 LOGIN kunde7 denied\n"},
        {"sender address that adds a recipient",
         {},
         [](MailAccountSettings& a) { a.from = u"a@b.example>\r\nBcc: <opfer@x.example"_s; },
         {},
         ""},
        {"server named with a user and a path",
         {},
         [](MailAccountSettings& a) { a.smtpServer = u"user@"_s + a.smtpServer + u"/x"_s; },
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
        const SendRecord record = sendAndWait(sender, jobFor(account, u"a.zip"_s));
        EXPECT_EQ(record.successes, 0);
        ASSERT_EQ(record.failures.size(), 1);
        const QString failure = record.failures[0];
        EXPECT_EQ(record.statusLines.last(), MailSender::failureText(failure));
        for (qsizetype i = 0; i < c.reason.size(); ++i) {
            const QString part = QString(c.reason[i]).replace(u"%server"_s, smtpAddress);
            EXPECT_TRUE(i == 0 ? failure.startsWith(part) : failure.contains(part))
                << part.toStdString() << " in " << failure.toStdString();
        }
        const QString log = QString::fromUtf8(test::readFile(errorLog()));
        EXPECT_EQ(log.count(u"Mail nicht gesendet"_s), 1) << log.toStdString();
        EXPECT_TRUE(shape.match(log).hasMatch()) << log.toStdString();
        // One entry, one line, whatever line breaks the failure text carries.
        QString flat = failure;
        flat.replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\n'), QLatin1Char(' '));
        EXPECT_TRUE(log.endsWith(flat + u"\r\n"_s)) << log.toStdString();
        EXPECT_EQ(log.count(u"\r\n"_s), 1) << log.toStdString();
        if (c.eventLog) {
            EXPECT_EQ(test::readFile(eventLog), QByteArray(c.eventLog));
        }
        EXPECT_EQ(QDir(spool).entryList({u"*.eml"_s}), QStringList());
    }
}

// A server silent at any step holds the send at most the time-out (3 s here; 1.5 x for a slow
// machine, while twice would be a second full wait with the send button greyed).
TEST_F(MailDelivery, AStalledServerEndsTheSendAtTheTimeOut) {
    constexpr long kTimeOutSeconds = 3;
    const struct {
        const char* step;
        bool pop3;      // the POP3 login before the mail is what stalls
        bool delivered; // the server accepted the message before it went silent
    } stalls[] = {{"greeting", false, false},
                  {"data", false, false},
                  {"end", false, false},
                  {"quit", false, true},
                  {"stat", true, false}};
    for (const auto& stall : stalls) {
        SCOPED_TRACE(stall.step);
        QFile::remove(errorLog());
        PeerProcess server, pop;
        startSmtp(stall.pop3 ? QStringList()
                             : QStringList{u"--stall-at"_s, QString::fromLatin1(stall.step)},
                  &server);
        MailJob job =
            jobFor(stall.pop3 ? popAccount(pop, u"geheim"_s, {u"--stall-at-stat"_s}) : ownAccount(),
                   u"a.zip"_s);
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
}

// STARTTLS, "smtps://" or ticked "SSL/TLS ab Verbindungsbeginn": the message goes over TLS; an
// unconfirmed certificate stops the send instead of falling back to plain text.
TEST_F(MailDelivery, TlsIsUsedWhereOfferedOrAskedForAndAnUntrustedServerGetsNothing) {
    const auto made = kestro::test::makeAuthoritySignedCertificate(machine.root(),
                                                                   u"IP:127.0.0.1,DNS:localhost"_s);
    ASSERT_FALSE(made.pem.isEmpty());
    PeerProcess implicit;
    startSmtp({u"--tls-on-connect"_s, made.cert, made.key}, &implicit);
    const QString implicitAddress = smtpAddress;
    startSmtp({u"--starttls"_s, made.cert, made.key, u"--auth"_s, u"100001:abcd1"_s});
    MailJob starttls = jobFor(loginAccount(), u"a.zip"_s);
    MailJob smtps = starttls;
    smtps.smtpServer = u"smtps://"_s + implicitAddress;
    MailAccountSettings account = ownAccount();
    account.smtpServer = implicitAddress;
    account.tlsOnConnect = true;
    const MailJob ticked = jobFor(account, u"b.zip"_s);
    const MailJob untrusted = starttls;
    const struct {
        const char* what;
        MailJob job;
        QByteArray events; // empty: the send fails
    } cases[] = {
        {"STARTTLS", starttls, "SMTP EHLO\nSMTP EHLO\nSMTP AUTH 100001 ok\nSMTP DATA tls=yes\n"},
        {"smtps://", smtps, "SMTP EHLO\nSMTP DATA tls=yes\n"},
        {"ticked", ticked, "SMTP EHLO\nSMTP DATA tls=yes\n"},
        {"untrusted", untrusted, {}},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(eventLog);
        if (!c.events.isEmpty())
            c.job.connection.caFile = made.authority;
        const SendRecord record = sendAndWait(sender, c.job);
        EXPECT_EQ(record.successes, c.events.isEmpty() ? 0 : 1);
        EXPECT_EQ(record.failures.size(), c.events.isEmpty() ? 1 : 0);
        if (c.events.isEmpty()) {
            EXPECT_FALSE(test::readFile(eventLog).contains("AUTH"));
        } else {
            EXPECT_EQ(test::readFile(eventLog), c.events);
        }
    }
    EXPECT_EQ(smtpServerUrl(u"mail.example:465"_s, false),
              std::optional<QByteArray>("smtp://mail.example:465"));
    EXPECT_EQ(smtpServerUrl(u" mail.example:465"_s),
              std::optional<QByteArray>("smtps://mail.example:465"));
    EXPECT_EQ(smtpServerUrl(u"mail.example:587"_s),
              std::optional<QByteArray>("smtp://mail.example:587"));
    EXPECT_EQ(smtpServerUrl(u"smtps://user@mail.example"_s), std::nullopt);
}

// No STARTTLS from a server on the network: the password never crosses in clear (loopback may).
TEST_F(MailDelivery, APasswordIsNeverSentWithoutTlsToAServerOnTheNetwork) {
    QString address;
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            address = a.toString();
    if (address.isEmpty())
        GTEST_SKIP() << "this machine has no network address besides loopback";
    for (const bool login : {true, false}) {
        SCOPED_TRACE(login);
        QStringList args{u"--host"_s, address};
        if (login)
            args << u"--auth"_s << u"100001:abcd1"_s;
        test::PeerProcess server;
        startSmtp(args, &server);
        smtpAddress = address + u":%1"_s.arg(server.port());
        MailAccountSettings account = loginAccount();
        account.smtpLogin = login;
        const SendRecord record = sendAndWait(sender, jobFor(account, u"a.zip"_s));
        EXPECT_EQ(record.successes, login ? 0 : 1);
        EXPECT_FALSE(test::readFile(eventLog).contains("AUTH"));
        if (login) {
            ASSERT_EQ(record.failures.size(), 1);
            EXPECT_TRUE(record.failures.first().contains(
                u"Der Server bietet keine verschlüsselte Verbindung (STARTTLS) an."_s))
                << record.failures.first().toStdString();
            EXPECT_FALSE(QFile::exists(spool + u"/1.eml"_s));
        } else {
            EXPECT_TRUE(test::readFile(eventLog).contains("SMTP DATA tls=no"));
        }
    }
}

// A host name that merely begins with "127." may lie anywhere on the network.
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
    job.message = notificationMessage(u"a@b.example"_s, u"c@d.example"_s, u"x.zip"_s);
    job.smtpServer = u"127.0.0.1:%1"_s.arg(silent.serverPort());
    // Longer than the test's own time limit: only the abort can end this send in time.
    job.connection.lowSpeedSeconds = 3600;
    {
        MailSender sender;
        ASSERT_TRUE(sender.send(job));
        EXPECT_TRUE(sender.isBusy());
        EXPECT_FALSE(sender.send(job)); // one mail at a time
    }                                   // returns at once through the abort flag
}

// Texts the notification never has (long, multi-line, non-ASCII, lines SMTP would mangle),
// read back by Python's email package.
const char* kReader = R"(
import email, email.policy, json, sys
msg = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.default)
json.dump({"subject": str(msg["Subject"]), "from": str(msg["From"]),
           "body": msg.get_content(), "date": str(msg["Date"].datetime.isoformat())},
          sys.stdout, ensure_ascii=False)
)";

QJsonObject readAsMailProgram(const QByteArray& raw) {
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromLatin1(kReader)});
    python.write(raw);
    python.closeWriteChannel();
    EXPECT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

TEST(MailMessage, BodyAndHeadersSurviveAnIndependentReader) {
    MailMessage message = notificationMessage(u"a@b.example"_s, u"c@d.example"_s, u"x.zip"_s);
    message.fromName = u"Müller, \"Druck\" GmbH"_s;
    message.subject = u"Grüße = "_s + QString(50, QChar(0x00DF));
    message.body = u".\nZeile mit Blank am Ende \n"_s + QString(200, QChar(0x00FC)) +
                   u"\n=3D ist kein Code\n.Punkt vorn"_s;
    const QDateTime when(QDate(2026, 12, 6), QTime(14, 5, 9), QTimeZone(3600));
    const std::optional<QByteArray> raw = renderMessage(message, when);
    ASSERT_TRUE(raw.has_value());
    for (const QByteArray& line : raw->split('\n')) {
        EXPECT_LE(line.size(), 78) << line.constData();
        EXPECT_NE(line, QByteArray(".\r")) << "a lone dot would end the SMTP data";
    }

    const QJsonObject read = readAsMailProgram(*raw);
    EXPECT_EQ(read[u"subject"_s].toString(), message.subject);
    EXPECT_EQ(read[u"from"_s].toString(), u"\"Müller, \\\"Druck\\\" GmbH\" <a@b.example>"_s);
    // The reader keeps the wire's CR LF line ends.
    EXPECT_EQ(read[u"body"_s].toString().replace(u"\r\n"_s, u"\n"_s), message.body + u"\n"_s);
    EXPECT_EQ(read[u"date"_s].toString(), u"2026-12-06T14:05:09+01:00"_s);
}

TEST(MailMessage, AddressesThatCouldAddHeadersOrRecipientsAreRefused) {
    EXPECT_TRUE(isUsableAddress(u"kestroclient@varnholt.example"_s));
    for (const QString& bad :
         {u""_s, u"a@b.example\r\nBcc: x@y.example"_s, u"a@b.example>, <x@y.example"_s,
          u"a b@c.example"_s, u"keinat.example"_s})
        EXPECT_FALSE(renderMessage(notificationMessage(bad, u"c@d.example"_s, u"x"_s),
                                   QDateTime::currentDateTime())
                         .has_value())
            << bad.toStdString();
}

} // namespace

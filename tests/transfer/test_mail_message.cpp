// The mail as bytes, read back by an independent reader (Python's email package), for
// the texts the notification itself never has: long, multi-line, non-ASCII bodies with
// lines that SMTP would otherwise mangle.
#include "client/mail/mailmessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace kestro::transfer;

namespace {

const char* kReader = R"(
import email, email.policy, json, sys
msg = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.default)
json.dump({"subject": str(msg["Subject"]), "from": str(msg["From"]),
           "body": msg.get_content(), "date": str(msg["Date"].datetime.isoformat())},
          sys.stdout, ensure_ascii=False)
)";

QJsonObject readAsMailProgram(const QByteArray& raw) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(kReader)});
    python.write(raw);
    python.closeWriteChannel();
    EXPECT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

TEST(MailMessage, BodyAndHeadersSurviveAnIndependentReader) {
    MailMessage message = notificationMessage(
        QStringLiteral("a@b.example"), QStringLiteral("c@d.example"), QStringLiteral("x.zip"));
    message.fromName = QStringLiteral("Müller, \"Druck\" GmbH");
    message.subject = QStringLiteral("Grüße = ") + QString(50, QChar(0x00DF));
    message.body = QStringLiteral(".\nZeile mit Blank am Ende \n") + QString(200, QChar(0x00FC)) +
                   QStringLiteral("\n=3D ist kein Code\n.Punkt vorn");
    const QDateTime when(QDate(2026, 12, 6), QTime(14, 5, 9), QTimeZone(3600));
    const std::optional<QByteArray> raw = renderMessage(message, when);
    ASSERT_TRUE(raw.has_value());
    for (const QByteArray& line : raw->split('\n')) {
        EXPECT_LE(line.size(), 78) << line.constData();
        EXPECT_NE(line, QByteArray(".\r")) << "a lone dot would end the SMTP data";
    }

    const QJsonObject read = readAsMailProgram(*raw);
    EXPECT_EQ(read[QStringLiteral("subject")].toString(), message.subject);
    EXPECT_EQ(read[QStringLiteral("from")].toString(),
              QStringLiteral("\"Müller, \\\"Druck\\\" GmbH\" <a@b.example>"));
    // The reader keeps the wire's CR LF line ends.
    EXPECT_EQ(read[QStringLiteral("body")].toString().replace(QStringLiteral("\r\n"),
                                                              QStringLiteral("\n")),
              message.body + QStringLiteral("\n"));
    EXPECT_EQ(read[QStringLiteral("date")].toString(), QStringLiteral("2026-12-06T14:05:09+01:00"));
}

TEST(MailMessage, AddressesThatCouldAddHeadersOrRecipientsAreRefused) {
    EXPECT_TRUE(isUsableAddress(QStringLiteral("kestroclient@varnholt.example")));
    for (const QString& bad :
         {QStringLiteral(""), QStringLiteral("a@b.example\r\nBcc: x@y.example"),
          QStringLiteral("a@b.example>, <x@y.example"), QStringLiteral("a b@c.example"),
          QStringLiteral("keinat.example")})
        EXPECT_FALSE(renderMessage(notificationMessage(bad, QStringLiteral("c@d.example"),
                                                       QStringLiteral("x")),
                                   QDateTime::currentDateTime())
                         .has_value())
            << bad.toStdString();
}

} // namespace

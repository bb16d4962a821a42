#include "client/mail/mailmessage.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUuid>

namespace kestro::transfer {

namespace {

// 40 base64 characters + "=?UTF-8?B??=" = 52, so even behind "Subject: " a line stays
// well under the 78 characters a header line should keep to.
constexpr int kMaxEncodedWordBytes = 30;

bool isPrintableAscii(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

// Cuts UTF-8 bytes into pieces of at most `limit` bytes without splitting a character.
QList<QByteArray> utf8Pieces(const QByteArray& utf8, int limit) {
    QList<QByteArray> pieces;
    int start = 0;
    while (start < utf8.size()) {
        int end = qMin<int>(start + limit, utf8.size());
        while (end < utf8.size() && end > start && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end; // do not begin the next piece with a continuation byte
        pieces << utf8.mid(start, end - start);
        start = end;
    }
    return pieces;
}

QByteArray domainOf(const QString& address) {
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    return at < 0 ? QByteArrayLiteral("localhost") : address.mid(at + 1).toLatin1();
}

} // namespace

MailMessage notificationMessage(const QString& sender, const QString& recipient,
                                const QString& archiveName) {
    return MailMessage{QStringLiteral("FTP - Eingangsbenachrichtigung"),
                       sender,
                       QStringLiteral("FTP"),
                       recipient,
                       QStringLiteral("KestroClient - File: ") + archiveName,
                       QStringLiteral("es wurde ein Auftrag via FTP empfangen")};
}

bool isUsableAddress(const QString& address) {
    static const QRegularExpression shape(
        QStringLiteral(R"(^[A-Za-z0-9.!#$%&'*+/=?^_`{|}~-]+@[A-Za-z0-9.-]+$)"));
    return address.size() <= 254 && shape.match(address).hasMatch();
}

QByteArray encodeHeaderText(const QString& text, bool phrase) {
    if (isPrintableAscii(text)) {
        static const QRegularExpression specials(QStringLiteral(R"([()<>\[\]:;@\\,."])"));
        if (!phrase || !text.contains(specials))
            return text.toLatin1();
        QString quoted = text;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        return '"' + quoted.toLatin1() + '"';
    }
    QByteArray out;
    for (const QByteArray& piece : utf8Pieces(text.toUtf8(), kMaxEncodedWordBytes)) {
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + piece.toBase64() + "?=";
    }
    return out;
}

QByteArray quotedPrintable(const QString& text) {
    QString normalized = text;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalized.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QByteArray out;
    const QList<QString> lines = normalized.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray bytes = lines[i].toUtf8();
        QByteArray line;
        for (qsizetype j = 0; j < bytes.size(); ++j) {
            const uchar c = uchar(bytes[j]);
            const bool lastOfLine = j == bytes.size() - 1;
            QByteArray token;
            // Blanks at a line end would be stripped in transit; "." alone could end DATA.
            if (c == '=' || c > 126 || (c < 32 && c != '\t') ||
                ((c == ' ' || c == '\t') && lastOfLine) || (c == '.' && line.isEmpty()))
                token = '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
            else
                token = QByteArray(1, char(c));
            if (line.size() + token.size() > 75) { // soft break: "=" makes it 76
                out += line + "=\r\n";
                line.clear();
            }
            line += token;
        }
        out += line;
        if (i + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}

QByteArray rfc5322Date(const QDateTime& when) {
    const QLocale c = QLocale::c();
    const int offset = when.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    const QString zone = QStringLiteral("%1%2%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return (c.toString(when, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")) + zone).toLatin1();
}

std::optional<QByteArray> renderMessage(const MailMessage& message, const QDateTime& when) {
    if (!isUsableAddress(message.fromAddress) || !isUsableAddress(message.toAddress))
        return std::nullopt;
    const QByteArray messageId =
        QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + '@' + domainOf(message.fromAddress);
    QByteArray out;
    out += "Date: " + rfc5322Date(when) + "\r\n";
    out += "From: " + encodeHeaderText(message.fromName, true) + " <" +
           message.fromAddress.toLatin1() + ">\r\n";
    out += "To: " + encodeHeaderText(message.toName, true) + " <" + message.toAddress.toLatin1() +
           ">\r\n";
    out += "Subject: " + encodeHeaderText(message.subject, false) + "\r\n";
    out += "Message-ID: <" + messageId + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: quoted-printable\r\n";
    out += "\r\n";
    out += quotedPrintable(message.body) + "\r\n";
    return out;
}

} // namespace kestro::transfer

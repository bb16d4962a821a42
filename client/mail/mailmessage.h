#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The notification mail as it goes on the wire: RFC 5322 headers, non-ASCII header text
// as RFC 2047 encoded words, a UTF-8 quoted-printable body, CR LF line ends.
namespace kestro::transfer {

struct MailMessage {
    QString fromName;
    QString fromAddress;
    QString toName;
    QString toAddress;
    QString subject;
    QString body;
};

// From "FTP - Eingangsbenachrichtigung" <sender>, To "FTP" <recipient>, subject
// "KestroClient - File: " + archive name, body "es wurde ein Auftrag via FTP empfangen".
MailMessage notificationMessage(const QString& sender, const QString& recipient,
                                const QString& archiveName);

// True for a plain ASCII address of the form local@domain that cannot break out of its
// header or SMTP command (no blanks, control characters, angle brackets or commas).
bool isUsableAddress(const QString& address);

// A header phrase or unstructured text: as it is when it is printable ASCII, otherwise as
// UTF-8 "B" encoded words of at most 75 characters, separated by CR LF + blank (folding).
// A phrase (display name) with characters special in addresses is quoted.
QByteArray encodeHeaderText(const QString& text, bool phrase);

// Quoted-printable (RFC 2045) of the UTF-8 bytes of `text`, lines of at most 76
// characters; line breaks in the text become CR LF.
QByteArray quotedPrintable(const QString& text);

// "Sun, 06 Dec 2026 14:05:09 +0100"
QByteArray rfc5322Date(const QDateTime& when);

// The whole message, headers and body. Nothing when an address is not usable.
std::optional<QByteArray> renderMessage(const MailMessage& message, const QDateTime& when);

} // namespace kestro::transfer

#pragma once

#include <QString>
#include <QStringList>

namespace kestro::startup {

// Whether uploads to the shop's FTP server are encrypted (explicit TLS, AUTH TLS, with
// the data connections protected as well).
enum class FtpEncryption {
    Plain,       // "nur unverschlüsselt"
    WhenOffered, // "wenn der Server es anbietet": TLS if the server offers it
    Required,    // "immer (TLS erforderlich)": no upload without TLS
};

// The registry value that holds the choice, beside the FTP proxy values.
inline const QString kFtpEncryptionSetting = QStringLiteral("FTPTLS");

// The choices as the FTP configuration window lists them, in the enum's order.
QStringList ftpEncryptionChoices();
// The stored value ("0", "1", "2").
QString ftpEncryptionText(FtpEncryption encryption);
// A stored value as the choice. A target saved before the choice existed has none and
// keeps sending as it always did (unencrypted); anything unreadable is taken the same way.
FtpEncryption ftpEncryptionFrom(const QString& text);
// What a target that was never configured starts with.
constexpr FtpEncryption kNewTargetEncryption = FtpEncryption::WhenOffered;

} // namespace kestro::startup

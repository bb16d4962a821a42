#include "client/startup/ftpencryption.h"

namespace kestro::startup {

QStringList ftpEncryptionChoices() {
    return {QStringLiteral("nur unverschlüsselt"), QStringLiteral("wenn der Server es anbietet"),
            QStringLiteral("immer (TLS erforderlich)")};
}

QString ftpEncryptionText(FtpEncryption encryption) {
    return QString::number(int(encryption));
}

FtpEncryption ftpEncryptionFrom(const QString& text) {
    const QString t = text.trimmed();
    if (t == QLatin1String("1"))
        return FtpEncryption::WhenOffered;
    if (t == QLatin1String("2"))
        return FtpEncryption::Required;
    return FtpEncryption::Plain;
}

} // namespace kestro::startup

#include "client/ftp/trustedcertificates.h"

#include "client/ftp/ftpcertificate.h"
#include "client/ftp/ftpsession.h"
#include "common/paths.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStringList>

namespace kestro::transfer {

namespace {

const QString kPrefix = QStringLiteral("SHA256:");

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcFtp) << "cannot read" << path << file.errorString();
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

QString trustKey(const QString& server) {
    QString key = server.trimmed().toLower();
    const bool bracketed = key.startsWith(QLatin1Char('['));
    const bool hasPort =
        bracketed ? key.contains(QStringLiteral("]:")) : key.count(QLatin1Char(':')) == 1;
    if (!hasPort)
        key += QStringLiteral(":21");
    return key;
}

TrustedCertificates::TrustedCertificates(QString clientDataFolder)
    : folder_(std::move(clientDataFolder)) {}

QString TrustedCertificates::filePath() const {
    return paths::join(folder_, QStringLiteral("trusted-certificates.txt"));
}

QString TrustedCertificates::fingerprintFor(const QString& server) const {
    const QString key = trustKey(server);
    for (const QString& line : readLines(filePath())) {
        const QStringList fields = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() == 2 && fields.at(0) == key)
            return normalizedFingerprint(fields.at(1));
    }
    return {};
}

bool TrustedCertificates::trust(const QString& server, const QString& fingerprint,
                                QString* error) const {
    const QString normalized = normalizedFingerprint(fingerprint);
    if (normalized.isEmpty()) {
        if (error)
            *error = QStringLiteral("„%1“ ist kein SHA-256-Fingerabdruck.").arg(fingerprint);
        return false;
    }
    const QString key = trustKey(server);
    QStringList lines;
    for (const QString& line : readLines(filePath()))
        if (line.trimmed().section(QLatin1Char(' '), 0, 0) != key)
            lines << line.trimmed();
    lines << key + QLatin1Char(' ') + kPrefix + normalized;
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 ||
        !file.commit()) {
        if (error)
            *error = QStringLiteral("Der Fingerabdruck konnte nicht in %1 gespeichert werden: %2")
                         .arg(filePath(), file.errorString());
        return false;
    }
    qCInfo(lcFtp).noquote() << "trusting" << normalized << "for" << key;
    return true;
}

} // namespace kestro::transfer

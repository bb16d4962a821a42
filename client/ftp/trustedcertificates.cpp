#include "client/ftp/trustedcertificates.h"

#include "client/ftp/ftpcertificate.h"
#include "client/ftp/ftpsession.h"
#include "common/paths.h"

#include <QFile>
#include <QLockFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

namespace kestro::transfer {

namespace {

const QString kPrefix = QStringLiteral("SHA256:");
// A trust is a few lines of text: a lock held longer belongs to a process that hangs.
constexpr int kLockWaitMs = 10000;

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

// The fields of one line: the key and the fingerprint, however the line was written by
// hand (tabs, several blanks, an editor's CR before the line end).
QStringList lineFields(const QString& line) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return line.split(blanks, Qt::SkipEmptyParts);
}

// The key of a line, as trustKey() writes it; empty for a line that holds none.
QString lineKey(const QString& line) {
    const QStringList fields = lineFields(line);
    return fields.isEmpty() ? QString() : trustKey(fields.first());
}

} // namespace

QString trustKey(const QString& server) {
    QString key = server.trimmed().toLower();
    const bool bracketed = key.startsWith(QLatin1Char('['));
    const bool hasPort =
        bracketed ? key.contains(QStringLiteral("]:")) : key.count(QLatin1Char(':')) == 1;
    QString port = QStringLiteral("21");
    if (hasPort) {
        const qsizetype colon = key.lastIndexOf(QLatin1Char(':'));
        port = key.mid(colon + 1);
        key.truncate(colon);
    }
    return (bracketed ? key : canonicalHost(key)) + QLatin1Char(':') + port;
}

TrustedCertificates::TrustedCertificates(QString clientDataFolder)
    : folder_(std::move(clientDataFolder)) {}

QString TrustedCertificates::filePath() const {
    return paths::join(folder_, QStringLiteral("trusted-certificates.txt"));
}

QString TrustedCertificates::fingerprintFor(const QString& server) const {
    const QString key = trustKey(server);
    for (const QString& line : readLines(filePath())) {
        const QStringList fields = lineFields(line);
        if (fields.size() == 2 && trustKey(fields.at(0)) == key)
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
    // Two sends that trust at once (two scripts, or a script and the window) must not
    // each write the file they read before the other wrote: one would lose its line.
    QLockFile lock(filePath() + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) {
        if (error)
            *error = QStringLiteral("Der Fingerabdruck konnte nicht gespeichert werden: %1 "
                                    "ist seit %2 s gesperrt (%3).")
                         .arg(filePath())
                         .arg(kLockWaitMs / 1000)
                         .arg(lock.fileName());
        qCWarning(lcFtp) << "cannot lock" << lock.fileName() << lock.error();
        return false;
    }
    QStringList lines;
    for (const QString& line : readLines(filePath()))
        if (!line.trimmed().isEmpty() && lineKey(line) != key)
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

#pragma once

// What the transfer tests share: certificates signed by a test authority, random bytes, short
// retry pauses.
#include "support/textprint.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <chrono>
#include <ostream>
#include <vector>

namespace kestro::test {

struct SignedCertificate {
    QString authority; // the authority's certificate, for SSL_CERT_FILE or a CA file
    QString cert;
    QString key;
    QString pem; // certificate and key in one file
};

// An authority and a certificate for `altNames` ("IP:127.0.0.1,DNS:localhost"; the first is
// the common name) in `folder`; empty paths when openssl failed.
inline SignedCertificate makeAuthoritySignedCertificate(const QString& folder,
                                                        const QString& altNames) {
    auto openssl = [&](const QString& line) {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.start(QStringLiteral("openssl"), line.split(QLatin1Char(' ')));
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    const QString key = QStringLiteral(" -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ");
    QFile san(folder + QStringLiteral("/san.cnf"));
    if (!san.open(QIODevice::WriteOnly) ||
        san.write("subjectAltName=" + altNames.toLatin1() + "\n") <= 0)
        return {};
    san.close();
    if (!openssl(QStringLiteral("req -x509") + key +
                 QStringLiteral("-keyout ca.key -out ca.crt -days 2 -subj /CN=Test-CA")) ||
        !openssl(QStringLiteral("req") + key + QStringLiteral("-keyout srv.key -out srv.csr ") +
                 QStringLiteral("-subj /CN=") +
                 altNames.section(QLatin1Char(','), 0, 0).section(QLatin1Char(':'), 1)) ||
        !openssl(QStringLiteral("x509 -req -in srv.csr -CA ca.crt -CAkey ca.key -CAcreateserial "
                                "-out srv.crt -days 2 -extfile san.cnf")))
        return {};
    const SignedCertificate made{
        folder + QStringLiteral("/ca.crt"), folder + QStringLiteral("/srv.crt"),
        folder + QStringLiteral("/srv.key"), folder + QStringLiteral("/srv.pem")};
    QFile pem(made.pem), cert(made.cert), keyFile(made.key);
    if (!pem.open(QIODevice::WriteOnly) || !cert.open(QIODevice::ReadOnly) ||
        !keyFile.open(QIODevice::ReadOnly) || pem.write(cert.readAll() + keyFile.readAll()) <= 0)
        return {};
    return made;
}

// Bytes that do not compress, the same for a seed.
inline QByteArray randomBytes(qsizetype size, quint32 seed = 7) {
    QByteArray bytes(size, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// Pauses between upload attempts that keep a test of a dropped line short.
inline const std::vector<std::chrono::milliseconds> kShortRetryPauses(3,
                                                                      std::chrono::milliseconds(1));

} // namespace kestro::test

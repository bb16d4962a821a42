#pragma once

#include <QFile>
#include <QProcess>
#include <cstdio>

namespace kestro::test {

// Writes a shop's self-signed certificate for "druckerei.test" and its key into one PEM; answers
// its SHA-256 fingerprint as openssl names it ("AB:CD:…"), empty (reason on stderr) on failure.
inline QString makeSelfSignedCertificate(const QString& pem) {
    const QString key = pem + QStringLiteral(".key"), cert = pem + QStringLiteral(".crt");
    auto openssl = [](const QString& args, const QStringList& more) -> QByteArray {
        QProcess p;
        p.start(QStringLiteral("openssl"), args.split(QLatin1Char(' ')) + more);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::fprintf(stderr, "openssl failed: %s\n", p.readAllStandardError().constData());
            return {};
        }
        return p.readAllStandardOutput();
    };
    openssl(QStringLiteral("req -utf8 -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                           "-nodes -days 2 -subj"),
            {QStringLiteral("/O=Druckerei Ärmel/CN=druckerei.test"), QStringLiteral("-keyout"), key,
             QStringLiteral("-out"), cert});
    QFile out(pem), certFile(cert), keyFile(key);
    if (!out.open(QIODevice::WriteOnly) || !certFile.open(QIODevice::ReadOnly) ||
        !keyFile.open(QIODevice::ReadOnly) ||
        out.write(certFile.readAll() + keyFile.readAll()) <= 0)
        return {};
    return QString::fromLatin1(
               openssl(QStringLiteral("x509 -noout -fingerprint -sha256 -in"), {cert}))
        .section(QLatin1Char('='), 1)
        .trimmed();
}

} // namespace kestro::test

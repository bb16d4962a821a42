#pragma once

// A shop's self-signed certificate, made with openssl, for the TLS tests and benchmarks.
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdio>

namespace kestro::test {

// Makes a self-signed certificate for "druckerei.test" with openssl and writes it with
// its key into one PEM at `pem`; returns the SHA-256 fingerprint openssl itself names for
// it ("AB:CD:…"), empty (with the reason on stderr) when that failed.
inline QString makeSelfSignedCertificate(const QString& pem) {
    const QString key = pem + QStringLiteral(".key");
    const QString cert = pem + QStringLiteral(".crt");
    auto openssl = [](const QStringList& args) -> QByteArray {
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::fprintf(stderr, "openssl failed: %s\n", p.readAllStandardError().constData());
            return {};
        }
        return p.readAllStandardOutput();
    };
    openssl({QStringLiteral("req"), QStringLiteral("-utf8"), QStringLiteral("-x509"),
             QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
             QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"),
             QStringLiteral("2"), QStringLiteral("-subj"),
             QStringLiteral("/O=Druckerei Ärmel/CN=druckerei.test")});
    QFile out(pem), certFile(cert), keyFile(key);
    if (!out.open(QIODevice::WriteOnly) || !certFile.open(QIODevice::ReadOnly) ||
        !keyFile.open(QIODevice::ReadOnly) ||
        out.write(certFile.readAll() + keyFile.readAll()) <= 0)
        return {};
    return QString::fromLatin1(openssl({QStringLiteral("x509"), QStringLiteral("-noout"),
                                        QStringLiteral("-fingerprint"), QStringLiteral("-sha256"),
                                        QStringLiteral("-in"), cert}))
        .section(QLatin1Char('='), 1)
        .trimmed();
}

} // namespace kestro::test

// Uploads over explicit TLS against pyftpdlib on loopback, with certificates openssl makes here.
#include "client/ftp/ftpsession.h"
#include "client/ftp/trustedcertificates.h"
#include "support/peerprocess.h"
#include "support/selfsigned.h"
#include "support/testenv.h"
#include "transfertest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;
using namespace kestro::transfer;
using kestro::startup::FtpEncryption;
using kestro::test::makeSelfSignedCertificate;
using kestro::test::PeerProcess;
using kestro::test::readFile;
using kestro::test::TestMachine;

namespace {

class Recorder : public FtpSessionObserver {
public:
    void onStatus(const QString& text) override { statuses << text; }
    void onTransferStarted(qint64, const QString&) override {}
    void onProgress(const TransferProgress&) override {}
    QStringList statuses;
};

enum class ServerTls { None, Offered, Required };

class FtpTlsTest : public ::testing::Test {
protected:
    void startServer(ServerTls tls, const QString& pem = QString(), const QStringList& extra = {}) {
        server = std::make_unique<PeerProcess>();
        QStringList args = QStringList{u"--root"_s, serverRoot()} + extra;
        if (tls != ServerTls::None)
            args << u"--tls"_s << pem << u"--tls-log"_s << tlsLog();
        if (tls == ServerTls::Required)
            args << u"--tls-required"_s;
        ASSERT_TRUE(server->startFixture(u"ftpserver.py"_s, args))
            << server->output().toStdString();
    }

    FtpUploadRequest request(FtpEncryption encryption, const QString& fingerprint = QString(),
                             const QString& host = u"127.0.0.1"_s) const {
        FtpUploadRequest r;
        r.server = u"%1:%2"_s.arg(host).arg(server->port());
        r.user = u"kunde"_s;
        r.password = u"geheim"_s;
        r.localPath = local;
        r.encryption = encryption;
        r.trustedFingerprint = fingerprint;
        r.connectTimeoutSeconds = 5;
        r.responseTimeoutSeconds = 10;
        return r;
    }
    FtpUploadResult send(FtpEncryption encryption, const QString& fingerprint, Recorder& recorder) {
        return FtpPutSession(request(encryption, fingerprint), recorder).uploadFile();
    }

    QString serverRoot() const { return machine.path(u"ftproot"_s); }
    QString tlsLog() const { return machine.path(u"tls.log"_s); }
    QString served() const { return serverRoot() + u"/Job [1] Größe?.zip"_s; }
    // How the server saw the last file arrive ("control=tls data=private").
    QString lastTlsLine() const {
        const QString line =
            QString::fromUtf8(readFile(tlsLog())).trimmed().section(QLatin1Char('\n'), -1);
        return line.mid(line.indexOf(u" control="_s) + 1);
    }
    // The warning a certificate other than the trusted one ends the send with.
    static void expectChangedWarning(const FtpUploadResult& result, const QString& shown,
                                     const Recorder& recorder) {
        EXPECT_FALSE(result.delivered);
        EXPECT_EQ(result.certificateRefusal, CertificateRefusal::Changed);
        EXPECT_EQ(result.certificate.fingerprint, shown);
        EXPECT_TRUE(result.errorText.startsWith(
            u"Achtung: Das Zertifikat des Servers 127.0.0.1 hat sich geändert!"_s))
            << result.errorText.toStdString();
        EXPECT_TRUE(recorder.statuses.contains(result.errorText));
    }

    void SetUp() override {
        QDir().mkpath(serverRoot());
        QByteArray bytes(700 * 1024 + 3, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919) >> 3);
        local = machine.writeFile(u"local/Job [1] Größe?.zip"_s, bytes);
    }

    TestMachine machine;
    std::unique_ptr<PeerProcess> server;
    QString local;
};

TEST_F(FtpTlsTest, EachChoiceAgainstServersWithAndWithoutTls) {
    const QString pem = machine.path(u"shop.pem"_s);
    const QString fingerprint = makeSelfSignedCertificate(pem);
    ASSERT_FALSE(fingerprint.isEmpty());
    struct Case {
        ServerTls server;
        FtpEncryption choice;
        bool delivered;
        const char* tlsLine; // what the server saw of the upload; empty: no TLS server
    };
    const Case cases[] = {
        {ServerTls::None, FtpEncryption::Plain, true, ""},
        // The server's certificate is trusted: no TLS offered now is a downgrade.
        {ServerTls::None, FtpEncryption::WhenOffered, false, ""},
        {ServerTls::None, FtpEncryption::Required, false, ""},
        {ServerTls::Offered, FtpEncryption::Plain, true, "control=clear data=clear"},
        {ServerTls::Offered, FtpEncryption::WhenOffered, true, "control=tls data=private"},
        {ServerTls::Offered, FtpEncryption::Required, true, "control=tls data=private"},
        {ServerTls::Required, FtpEncryption::Plain, false, ""},
        {ServerTls::Required, FtpEncryption::WhenOffered, true, "control=tls data=private"},
        {ServerTls::Required, FtpEncryption::Required, true, "control=tls data=private"},
    };
    std::optional<ServerTls> running;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "server " << int(c.server) << " choice " << int(c.choice));
        if (running != c.server) {
            startServer(c.server, pem);
            running = c.server;
        }
        QFile::remove(served());
        QFile::remove(tlsLog());
        Recorder recorder;
        const FtpUploadResult result = send(c.choice, fingerprint, recorder);
        EXPECT_EQ(result.delivered, c.delivered) << result.errorText.toStdString();
        EXPECT_EQ(QFile::exists(served()), c.delivered);
        if (c.delivered) {
            EXPECT_EQ(readFile(served()), readFile(local));
            EXPECT_EQ(lastTlsLine(), QString::fromLatin1(c.tlsLine));
        } else {
            EXPECT_TRUE(recorder.statuses.contains(result.errorText));
            EXPECT_EQ(QDir(serverRoot()).entryList(QDir::Files), QStringList());
        }
        if (c.server == ServerTls::None && c.choice != FtpEncryption::Plain) {
            EXPECT_TRUE(
                result.errorText.contains(u"bietet keine verschlüsselte Verbindung (TLS) an"_s))
                << result.errorText.toStdString();
        }
    }
}

// A self-made certificate is taken only by its fingerprint; another one is refused loudly, also
// on a reconnect to resume, where a broken data handshake is one more dropped line.
TEST_F(FtpTlsTest, SelfSignedCertificateIsTakenOnlyByItsTrustedFingerprint) {
    const QString firstPem = machine.path(u"first.pem"_s);
    const QString first = makeSelfSignedCertificate(firstPem);
    const QString secondPem = machine.path(u"second.pem"_s);
    const QString second = makeSelfSignedCertificate(secondPem);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    startServer(ServerTls::Offered, firstPem);

    // No authority confirms it: nothing goes out, and the worker can be shown what it is.
    Recorder unknown;
    FtpUploadResult result = send(FtpEncryption::WhenOffered, QString(), unknown);
    EXPECT_FALSE(result.delivered);
    EXPECT_EQ(result.certificateRefusal, CertificateRefusal::Untrusted);
    EXPECT_EQ(result.certificate.fingerprint, first);
    EXPECT_EQ(result.certificate.subject, u"CN=druckerei.test,O=Druckerei Ärmel"_s);
    EXPECT_EQ(result.certificate.issuer, result.certificate.subject);
    EXPECT_TRUE(result.certificate.validUntil.endsWith(u"UTC"_s));
    EXPECT_TRUE(unknown.statuses.contains(result.errorText));
    EXPECT_TRUE(result.errorText.contains(first)) << result.errorText.toStdString();
    EXPECT_FALSE(QFile::exists(served()));
    // Trusted in the form kestro-send takes it on its command line: delivered.
    Recorder trusted;
    result = send(FtpEncryption::Required, u"SHA256:"_s + first, trusted);
    EXPECT_TRUE(result.delivered) << result.errorText.toStdString();
    EXPECT_EQ(readFile(served()), readFile(local));
    QFile::remove(served());
    startServer(ServerTls::Offered, secondPem);
    Recorder changed;
    expectChangedWarning(send(FtpEncryption::WhenOffered, first, changed), second, changed);
    EXPECT_EQ(QDir(serverRoot()).entryList(QDir::Files), QStringList());

    for (const auto& [user, delivered] : {std::pair{"einmal", false}, {"tlsbruch", true}}) {
        SCOPED_TRACE(user);
        QStringList extra{u"--cut-after"_s, u"65536"_s};
        if (!delivered)
            extra << u"--tls-later"_s << secondPem;
        startServer(ServerTls::Offered, firstPem, extra);
        Recorder recorder;
        FtpUploadRequest r = request(FtpEncryption::Required, first);
        r.user = QString::fromLatin1(user);
        r.retryPauses = kestro::test::kShortRetryPauses;
        result = FtpPutSession(r, recorder).uploadFile();
        const QString log = recorder.statuses.join(QLatin1Char('|'));
        const qsizetype drops = recorder.statuses.filter(u"Verbindung unterbrochen"_s).size();
        EXPECT_EQ(result.delivered, delivered) << log.toStdString();
        EXPECT_EQ(QFile::exists(served()), delivered);
        EXPECT_TRUE(log.contains(u"neuer Versuch 2 von 4"_s)) << log.toStdString();
        if (delivered) {
            EXPECT_EQ(readFile(served()), readFile(local));
            // resumed once, or twice when libcurl meets the two breaks on two attempts
            EXPECT_GE(drops, 2) << log.toStdString();
        } else { // the warning, and no further attempt
            expectChangedWarning(result, second, recorder);
            EXPECT_EQ(drops, 1) << log.toStdString();
        }
    }
}

// An authority-signed certificate is taken for its name however written, not for the address.
TEST_F(FtpTlsTest, CertificateTheSystemsAuthoritiesConfirmIsTakenForItsNameOnly) {
    const auto certificate =
        kestro::test::makeAuthoritySignedCertificate(machine.root(), u"DNS:localhost"_s);
    ASSERT_FALSE(certificate.pem.isEmpty());
    startServer(ServerTls::Offered, certificate.pem);
    machine.env().set("SSL_CERT_FILE", certificate.authority);
    struct Case {
        const char* host;
        FtpEncryption choice;
        bool taken;
    };
    for (const Case& c : {Case{"localhost", FtpEncryption::WhenOffered, true},
                          Case{"LocalHost", FtpEncryption::Required, true},
                          Case{"localhost.", FtpEncryption::Required, true},
                          Case{"127.0.0.1", FtpEncryption::Required, false}}) {
        SCOPED_TRACE(c.host);
        QFile::remove(served());
        Recorder recorder;
        const FtpUploadResult result =
            FtpPutSession(request(c.choice, QString(), QString::fromLatin1(c.host)), recorder)
                .uploadFile();
        EXPECT_EQ(result.delivered, c.taken) << result.errorText.toStdString();
        EXPECT_EQ(result.certificateRefusal,
                  c.taken ? CertificateRefusal::None : CertificateRefusal::Untrusted);
        EXPECT_EQ(QFile::exists(served()), c.taken);
        if (c.taken) {
            EXPECT_EQ(readFile(served()), readFile(local));
            EXPECT_EQ(lastTlsLine(), u"control=tls data=private"_s);
        }
    }
}

// The forms tools print a fingerprint in are taken; what is not a SHA-256 one is not.
TEST(FtpFingerprint, TypedAndPrintedFormsAreNormalizedAndOthersRejected) {
    const QString canonical = QStringLiteral(
        "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:"
        "23:45:67:89");
    const std::pair<QString, QString> cases[] = {
        {u" sha256:"_s + canonical.toLower(), canonical},
        {QString(canonical).remove(QLatin1Char(':')), canonical},
        {u"sha256 Fingerprint="_s + canonical, canonical},
        {QString(canonical).replace(QLatin1Char(':'), QLatin1Char(' ')), canonical},
        {canonical.left(94), QString()},
        {u"SHA1:AB:CD"_s, QString()},
    };
    for (const auto& [typed, expected] : cases)
        EXPECT_EQ(normalizedFingerprint(typed), expected) << typed.toStdString();
}

// Two sends trusting at once, hosts written otherwise, lines written by hand.
TEST(TrustFile, ConcurrentTrustsHostsWrittenOtherwiseAndHandEditedLines) {
    TestMachine machine;
    const QString folder = machine.path(u"data"_s);
    QDir().mkpath(folder);
    const auto fingerprint = [](int n) {
        return normalizedFingerprint(u"%1"_s.arg(n, 64, 16, QLatin1Char('0')));
    };
    const TrustedCertificates trusted(folder);
    auto trustMany = [&](int first) {
        for (int n = first; n < first + 40; ++n)
            EXPECT_TRUE(trusted.trust(u"shop%1.example"_s.arg(n), fingerprint(n)));
    };
    std::thread one(trustMany, 0);
    std::thread two(trustMany, 100);
    one.join();
    two.join();
    int kept = 0;
    for (int n = 0; n < 140; ++n)
        kept += trusted.fingerprintFor(u"shop%1.example"_s.arg(n)).isEmpty() ? 0 : 1;
    EXPECT_EQ(kept, 80);

    ASSERT_TRUE(trusted.trust(u"shop.example"_s, fingerprint(1)));
    // A fully qualified name with its trailing dot is the same host.
    EXPECT_EQ(trusted.fingerprintFor(u"Shop.Example."_s), fingerprint(1));
    EXPECT_EQ(trusted.fingerprintFor(u"shop.example.:21"_s), fingerprint(1));
    // A line written with a tab, in an editor that saves CRLF; a host written in capitals.
    QFile file(trusted.filePath());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("other.example:990\tSHA256:" + fingerprint(2).toLatin1() + "\r\n");
    file.write("Third.Example:21 SHA256:" + fingerprint(3).toLatin1() + "\n");
    file.close();
    EXPECT_EQ(trusted.fingerprintFor(u"other.example:990"_s), fingerprint(2));
    EXPECT_EQ(trusted.fingerprintFor(u"third.example"_s), fingerprint(3));
}

} // namespace

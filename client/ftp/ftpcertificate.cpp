#include "client/ftp/ftpcertificate.h"

#include "client/ftp/ftpsession.h"

#include <QDateTime>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimeZone>
#include <memory>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace kestro::transfer {

namespace {

QString nameText(const X509_NAME* name) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QString::fromUtf8(data, qsizetype(size));
}

QString timeText(const ASN1_TIME* time) {
    tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    const QDateTime when(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                         QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), QTimeZone::utc());
    return when.toString(QStringLiteral("dd.MM.yyyy HH:mm 'UTC'"));
}

QString fingerprintOf(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex(':').toUpper());
}

PeerCertificate describe(X509* certificate) {
    PeerCertificate c;
    c.subject = nameText(X509_get_subject_name(certificate));
    c.issuer = nameText(X509_get_issuer_name(certificate));
    c.validFrom = timeText(X509_get0_notBefore(certificate));
    c.validUntil = timeText(X509_get0_notAfter(certificate));
    c.fingerprint = fingerprintOf(certificate);
    return c;
}

} // namespace

QString normalizedFingerprint(QString text) {
    // As people copy it: "SHA256:…", or openssl's "sha256 Fingerprint=…", bytes separated
    // by colons or blanks, in either case.
    static const QRegularExpression label(QStringLiteral("^SHA-?256(?::|\\s*Fingerprint\\s*=)"),
                                          QRegularExpression::CaseInsensitiveOption);
    text = text.trimmed();
    text.remove(label);
    static const QRegularExpression separators(QStringLiteral("[:\\s]"));
    text.remove(separators);
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (!hex.match(text).hasMatch())
        return {};
    return QString::fromLatin1(QByteArray::fromHex(text.toLatin1()).toHex(':').toUpper());
}

QString trustQuestion(const QString& host, const PeerCertificate& certificate) {
    return QStringLiteral("Der Server %1 weist sich mit einem Zertifikat aus, das keine bekannte "
                          "Zertifizierungsstelle bestätigt.\r\r"
                          "Ausgestellt für: %2\rAusgestellt von: %3\rGültig von %4 bis %5\r"
                          "SHA-256-Fingerabdruck:\r%6\r\r"
                          "Vertrauen Sie ihm nur, wenn Ihre Druckerei Ihnen diesen Fingerabdruck "
                          "bestätigt hat. Er wird dann für diesen Server gespeichert, und ein "
                          "anderes Zertifikat wird von da an abgelehnt.")
        .arg(host, certificate.subject, certificate.issuer, certificate.validFrom,
             certificate.validUntil, certificate.fingerprint);
}

QString canonicalHost(const QString& host) {
    QString canonical = host.trimmed().toLower();
    if (canonical.endsWith(QLatin1Char('.')))
        canonical.chop(1);
    return canonical;
}

CertificateCheck::CertificateCheck(const QString& host, const QString& trustedFingerprint)
    : host_(canonicalHost(host)), trusted_(normalizedFingerprint(trustedFingerprint)) {
    if (!trustedFingerprint.isEmpty() && trusted_.isEmpty())
        qCWarning(lcFtp) << "the trusted fingerprint for" << host_
                         << "is no SHA-256 fingerprint and is ignored";
}

bool CertificateCheck::applyTo(CURL* curl) {
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(curl, option, value) == CURLE_OK;
    };
    // This check decides alone: libcurl's own would refuse the self-signed certificate a
    // worker trusted, and its name check the shop's address the certificate does not name.
    set(CURLOPT_SSL_VERIFYPEER, 0L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
    set(CURLOPT_SSL_CTX_FUNCTION, &CertificateCheck::prepareContext);
    set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(this));
    return ok;
}

CURLcode CertificateCheck::prepareContext(CURL*, void* sslContext, void* self) {
    auto* context = static_cast<SSL_CTX*>(sslContext);
    // libcurl loaded the system's authorities into the context; the chain is checked
    // against them here, with the server's name, unless a fingerprint is trusted.
    auto* check = static_cast<CertificateCheck*>(self);
    if (check->trusted_.isEmpty() && SSL_CTX_set_default_verify_paths(context) != 1)
        qCWarning(lcFtp) << "cannot load the system's certificate authorities";
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, &CertificateCheck::verifyChain, self);
    return CURLE_OK;
}

int CertificateCheck::verifyChain(x509_store_ctx_st* store, void* self) {
    return static_cast<CertificateCheck*>(self)->verify(store);
}

int CertificateCheck::verify(x509_store_ctx_st* store) {
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (!leaf) {
        refusal_ = CertificateRefusal::Untrusted;
        return 0;
    }
    seen_ = describe(leaf);
    if (!trusted_.isEmpty()) {
        if (seen_.fingerprint == trusted_) {
            refusal_ = CertificateRefusal::None;
            return 1;
        }
        qCWarning(lcFtp).noquote() << "certificate of" << host_ << "changed: trusted" << trusted_
                                   << "got" << seen_.fingerprint;
        refusal_ = CertificateRefusal::Changed;
        X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
        return 0;
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(store);
    const QByteArray host = host_.toUtf8();
    if (QHostAddress(host_).isNull())
        X509_VERIFY_PARAM_set1_host(param, host.constData(), size_t(host.size()));
    else
        X509_VERIFY_PARAM_set1_ip_asc(param, host.constData());
    if (X509_verify_cert(store) == 1) {
        refusal_ = CertificateRefusal::None;
        return 1;
    }
    qCInfo(lcFtp).noquote() << "certificate of" << host_
                            << "not confirmed by the system's authorities:"
                            << X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    refusal_ = CertificateRefusal::Untrusted;
    return 0;
}

QString CertificateCheck::refusalText(const QString& host) const {
    switch (refusal_) {
    case CertificateRefusal::Untrusted:
        return QStringLiteral("Das Zertifikat des Servers %1 wird von keiner bekannten "
                              "Zertifizierungsstelle bestätigt (SHA-256-Fingerabdruck %2). "
                              "Die Übertragung wurde nicht begonnen.")
            .arg(host, seen_.fingerprint);
    case CertificateRefusal::Changed:
        return QStringLiteral("Achtung: Das Zertifikat des Servers %1 hat sich geändert! "
                              "Vertraut ist der Fingerabdruck %2, der Server zeigt jetzt %3. "
                              "Es kann sein, dass sich jemand als Ihre Druckerei ausgibt; die "
                              "Übertragung wurde abgebrochen. Bitte fragen Sie bei Ihrer "
                              "Druckerei nach, ob sie ein neues Zertifikat hat.")
            .arg(host, trusted_, seen_.fingerprint);
    case CertificateRefusal::None:
        break;
    }
    return {};
}

} // namespace kestro::transfer

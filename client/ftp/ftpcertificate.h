#pragma once

#include <QString>
#include <curl/curl.h>

struct x509_store_ctx_st; // OpenSSL's X509_STORE_CTX

namespace kestro::transfer {

// What the worker is shown of a server's certificate before trusting it.
struct PeerCertificate {
    QString subject;
    QString issuer;
    QString validFrom; // "2026-12-07 10:05:00 UTC"
    QString validUntil;
    QString fingerprint; // SHA-256 of the certificate, "AB:CD:..."

    bool known() const { return !fingerprint.isEmpty(); }
};

// A fingerprint as typed, stored or printed by tools ("SHA256:ab:cd…", "ABCD…",
// "sha256 Fingerprint=AB:CD…", "AB CD …") in the form PeerCertificate::fingerprint has;
// empty when it is no SHA-256 fingerprint.
QString normalizedFingerprint(QString text);

// A host name as certificates and the trust file compare it: lower case, without the
// trailing dot of a fully qualified name ("Shop.Example." is "shop.example").
QString canonicalHost(const QString& host);

// What the worker is asked before a certificate no authority confirms is trusted for
// `host`, and the two answers.
QString trustQuestion(const QString& host, const PeerCertificate& certificate);
inline const QString kTrustButton = QStringLiteral("Zertifikat vertrauen");
inline const QString kCancelButton = QStringLiteral("Abbrechen");

// Why a server's certificate was not taken.
enum class CertificateRefusal {
    None,
    Untrusted, // the system's authorities do not confirm it, and no fingerprint is trusted
    Changed,   // it is not the one whose fingerprint was trusted for this server
};

// Checks the certificate of every TLS connection of one libcurl handle. Without a trusted
// fingerprint the system's authorities decide, as libcurl does by itself; with one, exactly
// the certificate with that fingerprint is taken (a shop's self-signed certificate, which
// no authority confirms and whose name need not match), and any other is refused, whoever
// signed it. The certificate last seen is kept, so that the worker can be shown it.
class CertificateCheck {
public:
    // `host` is the server's name or address as the target names it (without a port);
    // `trustedFingerprint` in any form normalizedFingerprint() takes, empty for none.
    CertificateCheck(const QString& host, const QString& trustedFingerprint);

    // Sets the handle's options; false when libcurl refused one.
    bool applyTo(CURL* curl);

    const PeerCertificate& lastSeen() const { return seen_; }
    CertificateRefusal refusal() const { return refusal_; }
    // The German text for a refusal of `host`'s certificate; empty when none happened.
    QString refusalText(const QString& host) const;

private:
    static CURLcode prepareContext(CURL* curl, void* sslContext, void* self);
    static int verifyChain(x509_store_ctx_st* store, void* self);
    int verify(x509_store_ctx_st* store);

    QString host_;
    QString trusted_;
    PeerCertificate seen_;
    CertificateRefusal refusal_ = CertificateRefusal::None;
};

} // namespace kestro::transfer

#pragma once

#include <QString>

namespace kestro::transfer {

// The certificates the worker (or a script, by kestro-send --trust-fingerprint) chose to
// trust, one SHA-256 fingerprint per FTP server, in "trusted-certificates.txt" of the
// client data folder: one line "<host>:<port> SHA256:<fingerprint>" per server. It is the
// user's own file because the client cannot write the machine-wide registry store itself
// (only Vellmon can, and only the fixed value names), and trust in a shop's certificate
// is the decision of whoever sends to it.
class TrustedCertificates {
public:
    explicit TrustedCertificates(QString clientDataFolder);

    QString filePath() const;
    // The trusted fingerprint ("AB:CD:…") for a server ("host" or "host:port"); empty
    // when none is stored or the file cannot be read (logged).
    QString fingerprintFor(const QString& server) const;
    // Stores `fingerprint` for `server`, replacing an earlier one. False, with the reason
    // in `error`, when the fingerprint is no SHA-256 fingerprint or the file cannot be
    // written.
    bool trust(const QString& server, const QString& fingerprint, QString* error = nullptr) const;

private:
    QString folder_;
};

// A server as the file keys it: the host in lower case with its port, 21 when none.
QString trustKey(const QString& server);

} // namespace kestro::transfer

#pragma once

#include <QByteArray>
#include <QString>

namespace kestro::service {

// Checks the maker's Ed25519 signature of an installer. `publicKey` is base64, either of
// the 32 raw key bytes or of the key's DER form ("openssl pkey -pubout -outform DER");
// `signature` holds the 64 signature bytes, raw or as base64 text. False with the reason
// in `why` when the key is unusable or the signature does not match.
bool verifyInstallerSignature(const QByteArray& installer, const QByteArray& signature,
                              const QString& publicKey, QString* why);

} // namespace kestro::service

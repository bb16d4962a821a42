#include "service/installersignature.h"

#include <memory>
#include <openssl/evp.h>

namespace kestro::service {

namespace {

constexpr int kRawKeyBytes = 32;
constexpr int kSignatureBytes = 64;

} // namespace

bool verifyInstallerSignature(const QByteArray& installer, const QByteArray& signature,
                              const QString& publicKey, QString* why) {
    QByteArray key = QByteArray::fromBase64(publicKey.trimmed().toLatin1());
    // The DER form ends with the raw key after a fixed 12-byte header.
    if (key.size() == kRawKeyBytes + 12)
        key = key.right(kRawKeyBytes);
    if (key.size() != kRawKeyBytes) {
        *why = QStringLiteral("the public key is not an Ed25519 key");
        return false;
    }
    QByteArray sig = signature;
    if (sig.size() != kSignatureBytes)
        sig = QByteArray::fromBase64(signature.trimmed());
    if (sig.size() != kSignatureBytes) {
        *why = QStringLiteral("the signature file holds no Ed25519 signature");
        return false;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.constData()),
                                    size_t(key.size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !ctx ||
        EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        *why = QStringLiteral("the public key cannot be used");
        return false;
    }
    if (EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig.constData()),
                         size_t(sig.size()),
                         reinterpret_cast<const unsigned char*>(installer.constData()),
                         size_t(installer.size())) != 1) {
        *why = QStringLiteral("the signature does not match the installer");
        return false;
    }
    return true;
}

} // namespace kestro::service

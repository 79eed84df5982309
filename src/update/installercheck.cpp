#include "update/installercheck.h"

#include "updatekey.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtDebug>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace InstallerCheck {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

bool signatureValid(const uchar* data, qint64 size, const QByteArray& signature) {
    const QByteArray pem = publicKeyPem();
    const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    const std::unique_ptr<EVP_PKEY, KeyFree> key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr)
                                                     : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        qWarning("The compiled-in update key is not an Ed25519 public key");
        return false;
    }
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    // Ed25519 signs the message itself, in one pass, with no separate digest.
    return context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const uchar*>(signature.constData()),
                            size_t(signature.size()), data, size_t(size)) == 1;
}

} // namespace

QByteArray publicKeyPem() {
    return QByteArray(TavrolinUpdateKey::publicKeyPem);
}

Result verify(const QString& path, const QString& sha256Hex, const QString& signatureBase64) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return Result::Unreadable;
    if (sha256Hex.trimmed().toLower().toLatin1() != hash.result().toHex())
        return Result::HashMismatch;

    const auto signature =
        QByteArray::fromBase64Encoding(signatureBase64.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!signature || signature.decoded.size() != 64)
        return Result::BadSignature;
    // Mapped rather than read where it can be: Ed25519 needs the whole installer at once.
    const qint64 size = file.size();
    const uchar* data = size > 0 ? file.map(0, size) : reinterpret_cast<const uchar*>("");
    QByteArray whole;
    if (!data) {
        if (!file.seek(0) || (whole = file.readAll()).size() != size)
            return Result::Unreadable;
        data = reinterpret_cast<const uchar*>(whole.constData());
    }
    return signatureValid(data, size, signature.decoded) ? Result::Valid : Result::BadSignature;
}

} // namespace InstallerCheck

#include "installerproof.h"

#include <QCryptographicHash>

#include <openssl/evp.h>
#include <openssl/pem.h>

InstallerProof proveInstaller(const QByteArray& privateKeyPem, const QByteArray& installer) {
    BIO* bio = BIO_new_mem_buf(privateKeyPem.constData(), privateKeyPem.size());
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    QByteArray signature(64, 0);
    size_t length = size_t(signature.size());
    const bool ok =
        key && context && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) == 1 &&
        EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(installer.constData()), size_t(installer.size())) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    return {QString::fromLatin1(QCryptographicHash::hash(installer, QCryptographicHash::Sha256).toHex()),
            ok ? QString::fromLatin1(signature.left(int(length)).toBase64()) : QString()};
}

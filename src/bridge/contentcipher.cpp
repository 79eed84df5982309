#include "bridge/contentcipher.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QtDebug>

namespace {

constexpr int sha1Size = 20;
constexpr int checksumSize = 2;

quint16 checksum(const QByteArray& data) {
    return qChecksum(data.constData(), uint(data.size()), Qt::ChecksumIso3309);
}

QByteArray sha1(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1);
}

// Deflate never packs more than 1032:1, so a stream whose length prefix claims
// more than that is damaged. Checking first keeps a forged prefix from making
// qUncompress reserve up to 2 GiB.
bool plausibleCompressedSize(const QByteArray& packed) {
    if (packed.size() < 4)
        return false;
    const quint64 claimed = (quint64(quint8(packed[0])) << 24) | (quint64(quint8(packed[1])) << 16) |
                            (quint64(quint8(packed[2])) << 8) | quint64(quint8(packed[3]));
    return claimed <= quint64(packed.size() - 4) * 1032 + 64;
}

void seedRandom() {
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qsrand(uint(QDateTime::currentMSecsSinceEpoch() & 0xFFFF));
    QT_WARNING_POP
}

quint8 randomByte() {
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return quint8(qrand() & 0xFF);
    QT_WARNING_POP
}

} // namespace

ContentCipher::ContentCipher() {
    seedRandom();
}

ContentCipher::ContentCipher(quint64 key) : ContentCipher() {
    setKey(key);
}

void ContentCipher::setKey(quint64 newKey) {
    key = newKey;
    keyParts.resize(8);
    for (int i = 0; i < 8; ++i)
        keyParts[i] = quint8((key >> (8 * i)) & 0xFF);
}

QByteArray ContentCipher::encrypt(const QByteArray& plain) {
    return encrypt(plain, randomByte());
}

QByteArray ContentCipher::encrypt(const QByteArray& plain, quint8 random) {
    if (keyParts.isEmpty()) {
        qWarning("No key set.");
        lastErrorCode = ErrorNoKeySet;
        return QByteArray();
    }

    QByteArray payload = plain;
    quint8 flags = 0;
    if (compressionMode == CompressionAlways) {
        payload = qCompress(payload, 9);
        flags |= FlagCompressed;
    } else if (compressionMode == CompressionAuto) {
        QByteArray packed = qCompress(payload, 9);
        if (packed.size() < payload.size()) {
            payload = std::move(packed);
            flags |= FlagCompressed;
        }
    }

    QByteArray block;
    if (integrityMode == ProtectionChecksum) {
        flags |= FlagChecksum;
        const quint16 sum = checksum(payload);
        block.append(char(sum >> 8));
        block.append(char(sum & 0xFF));
    } else if (integrityMode == ProtectionHash) {
        flags |= FlagHash;
        block = sha1(payload);
    }

    QByteArray result;
    result.reserve(3 + block.size() + payload.size());
    result.append(char(version));
    result.append(char(flags));
    result.append(char(random));
    result.append(block);
    result.append(payload);

    // Chain each output byte into the next one, starting after the two header bytes.
    char* body = result.data() + 2;
    const int length = result.size() - 2;
    const quint8* parts = keyParts.constData();
    quint8 last = 0;
    for (int i = 0; i < length; ++i) {
        last = quint8(body[i]) ^ parts[i & 7] ^ last;
        body[i] = char(last);
    }

    lastErrorCode = ErrorNoError;
    return result;
}

QByteArray ContentCipher::decrypt(const QByteArray& cipher) {
    if (keyParts.isEmpty()) {
        qWarning("No key set.");
        lastErrorCode = ErrorNoKeySet;
        return QByteArray();
    }
    if (cipher.size() < 3)
        return QByteArray();
    if (quint8(cipher[0]) != version) {
        qWarning("Invalid version or not a cyphertext.");
        lastErrorCode = ErrorUnknownVersion;
        return QByteArray();
    }

    const quint8 flags = quint8(cipher[1]);
    QByteArray body = cipher.mid(2);
    char* data = body.data();
    const int length = body.size();
    const quint8* parts = keyParts.constData();
    quint8 last = 0;
    for (int i = 0; i < length; ++i) {
        const quint8 enc = quint8(data[i]);
        data[i] = char(enc ^ last ^ parts[i & 7]);
        last = enc;
    }
    body.remove(0, 1); // the random byte

    bool intact = true;
    if (flags & FlagChecksum) {
        if (body.size() < checksumSize) {
            lastErrorCode = ErrorIntegrityFailed;
            return QByteArray();
        }
        const quint16 stored = quint16((quint8(body[0]) << 8) | quint8(body[1]));
        body.remove(0, checksumSize);
        intact = stored == checksum(body);
    } else if (flags & FlagHash) {
        if (body.size() < sha1Size) {
            lastErrorCode = ErrorIntegrityFailed;
            return QByteArray();
        }
        const QByteArray stored = body.left(sha1Size);
        body.remove(0, sha1Size);
        intact = stored == sha1(body);
    }
    if (!intact) {
        lastErrorCode = ErrorIntegrityFailed;
        return QByteArray();
    }

    if (flags & FlagCompressed)
        body = plausibleCompressedSize(body) ? qUncompress(body) : QByteArray();

    lastErrorCode = ErrorNoError;
    return body;
}

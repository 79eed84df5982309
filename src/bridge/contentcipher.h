#pragma once

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// The small symmetric cipher of the stored sentence data: a 64-bit key, an XOR
// stream chained through the previous output byte, optional compression and an
// optional integrity check. Layout: version 0x03, flags, then the enciphered
// body (random byte, checksum or SHA-1 digest, payload).
class ContentCipher {
public:
    enum CompressionMode {
        CompressionAuto = 0,   // compress when that makes the data smaller
        CompressionAlways = 1, // always compress
        CompressionNever = 2,  // any other value never compresses
    };
    enum IntegrityMode {
        ProtectionNone = 0,
        ProtectionChecksum = 1, // CRC-16 (ISO 3309)
        ProtectionHash = 2,     // SHA-1
    };
    enum Error {
        ErrorNoError = 0,
        ErrorNoKeySet = 1,
        ErrorUnknownVersion = 2,
        ErrorIntegrityFailed = 3,
    };
    enum Flag : quint8 {
        FlagCompressed = 0x01,
        FlagChecksum = 0x02,
        FlagHash = 0x04,
    };
    static constexpr quint8 version = 0x03;

    ContentCipher();
    explicit ContentCipher(quint64 key);

    void setKey(quint64 key);
    void setCompressionMode(int mode) { compressionMode = mode; }
    void setIntegrityMode(int mode) { integrityMode = mode; }

    QByteArray encrypt(const QByteArray& plain);
    // The same with a given first byte instead of a random one, for output that
    // can be reproduced.
    QByteArray encrypt(const QByteArray& plain, quint8 randomByte);
    QByteArray decrypt(const QByteArray& cipher);

    int lastError() const { return lastErrorCode; }

private:
    quint64 key = 0;
    QVector<quint8> keyParts; // byte 0 is the least significant; empty until a key is set
    int compressionMode = CompressionAuto;
    int integrityMode = ProtectionChecksum;
    int lastErrorCode = ErrorNoError;
};

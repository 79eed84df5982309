#pragma once

#include <QByteArray>
#include <QString>

// Checks a downloaded installer against what the version answer promised: its
// SHA-256 and an Ed25519 signature over its bytes by the key compiled into the
// program (the CMake option TAVROLIN_UPDATE_PUBLIC_KEY).
namespace InstallerCheck {

enum class Result {
    Valid,
    Unreadable,   // the file cannot be read
    HashMismatch, // sha256 missing, malformed or not the file's
    BadSignature, // signature missing, malformed or not by our key
};

// sha256Hex: 64 hex digits; signatureBase64: the 64-byte signature in base64.
Result verify(const QString& path, const QString& sha256Hex, const QString& signatureBase64);

// The public key the signature must come from, as PEM.
QByteArray publicKeyPem();

} // namespace InstallerCheck

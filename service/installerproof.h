#pragma once

#include <QByteArray>
#include <QString>

// What a version answer says about an installer: its SHA-256 (hex) and its
// Ed25519 signature (base64) by the update key. The signature is empty when
// the PEM holds no usable private key.
struct InstallerProof {
    QString sha256;
    QString signature;
};
InstallerProof proveInstaller(const QByteArray& privateKeyPem, const QByteArray& installer);

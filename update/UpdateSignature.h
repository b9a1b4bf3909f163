#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Who sent an update: the server signs its version file (which carries the archives' SHA-256) with an Ed25519
// key, and publishes the signature beside it (update/ver.dat.sig, the signature in base64 on one line). The
// program trusts the public keys in its keys folder: /etc/krel/keys in the installed layout (root's to change),
// keys/ beside the program in the build layout. Each key is a PEM file named *.pub.
namespace UpdateSignature
{

// The trusted public keys (PEM), in name order; unreadable or non-Ed25519 files are left out with a log line.
QList<QByteArray> TrustedKeys();
QString TrustedKeysDir();

// Whether signature (the text of a .sig file) is a valid signature of message by one of keys.
bool Verify(const QByteArray& message, const QByteArray& signature, const QList<QByteArray>& keys);

// For whoever runs an update server: a new key pair as PEM, and a signature of message as .sig text.
bool MakeKeyPair(QByteArray* privatePem, QByteArray* publicPem);
QByteArray Sign(const QByteArray& message, const QByteArray& privatePem);

} // namespace UpdateSignature

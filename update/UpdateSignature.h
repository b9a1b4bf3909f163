#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// Who sent an update: the server signs its version file (which carries the archives' SHA-256) with an Ed25519
// key, and publishes the signature beside it (update/ver.dat.sig, the signature in base64 on one line). The
// program trusts the public keys in its keys folder: /etc/krel/keys in the installed layout (root's to change),
// keys/ beside the program in the build layout. Each key is a PEM file named *.pub.
namespace UpdateSignature
{

// The keys folder's public keys. Once it holds any key file, every update must be signed by a usable key: a folder
// whose every key is unusable (not Ed25519 PEM, unreadable, or changeable by another account) refuses every update,
// rather than falling back to what an installation without keys accepts.
struct TrustedKeySet {
    QList<QByteArray> keys; // the usable keys (PEM), in name order
    bool installed = false; // the folder holds a key file, usable or not (or cannot be listed)
};

// Reads the keys folder; each unusable key file is left out with a log line. A key file, and the folder, are
// trusted only when no other account can change them (root's, or this user's, and not writable by others).
TrustedKeySet TrustedKeys();
QString TrustedKeysDir();

// Whether signature (the text of a .sig file) is a valid signature of message by one of keys.
bool Verify(const QByteArray& message, const QByteArray& signature, const QList<QByteArray>& keys);

// For whoever runs an update server: the version file's text with the given keys of its [Main] section set (each
// replacing the key's old lines; added at the section's end, a [Main] section made when there is none), in the
// file's own line ends. Used before signing, for VALID_UNTIL and the archives' sizes and hashes.
QByteArray SetVersionKeys(const QByteArray& text, const QList<std::pair<QByteArray, QByteArray>>& keys);

// For whoever runs an update server: a new key pair as PEM, and a signature of message as .sig text.
bool MakeKeyPair(QByteArray* privatePem, QByteArray* publicPem);
QByteArray Sign(const QByteArray& message, const QByteArray& privatePem);

} // namespace UpdateSignature

#include "UpdateSignature.h"

#include <memory>

#include <QDir>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "common/Log.h"
#include "common/Paths.h"

namespace UpdateSignature
{
namespace
{

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr int kSignatureBytes = 64;

Key readKey(const QByteArray& pem, bool isPrivate)
{
    Bio bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())), &BIO_free);
    if (!bio)
        return { nullptr, &EVP_PKEY_free };
    Key key(isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                      : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr),
            &EVP_PKEY_free);
    if (key && EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        key.reset();
    return key;
}

QByteArray toPem(EVP_PKEY* key, bool isPrivate)
{
    Bio bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio)
        return {};
    const int ok = isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                             : PEM_write_bio_PUBKEY(bio.get(), key);
    if (!ok)
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(n));
}

} // namespace

QString TrustedKeysDir()
{
    return Paths::IsInstalled() ? Paths::MachineRoot() + QStringLiteral("/etc/krel/keys")
                                : Paths::AppFile(QStringLiteral("keys"));
}

QList<QByteArray> TrustedKeys()
{
    QList<QByteArray> keys;
    const QDir dir(TrustedKeysDir());
    for (const QString& name : dir.entryList({ QStringLiteral("*.pub") }, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        const QByteArray pem = file.open(QIODevice::ReadOnly) ? file.read(16384) : QByteArray();
        if (readKey(pem, false))
            keys << pem;
        else
            qCWarning(lcUpdate).noquote() << "trusted key" << file.fileName() << "is not an Ed25519 public key";
    }
    return keys;
}

bool Verify(const QByteArray& message, const QByteArray& signature, const QList<QByteArray>& keys)
{
    const QByteArray raw = QByteArray::fromBase64(signature.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (raw.size() != kSignatureBytes)
        return false;
    for (const QByteArray& pem : keys) {
        const Key key = readKey(pem, false);
        DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
            continue;
        if (EVP_DigestVerify(
                context.get(), reinterpret_cast<const unsigned char*>(raw.constData()), static_cast<size_t>(raw.size()),
                reinterpret_cast<const unsigned char*>(message.constData()), static_cast<size_t>(message.size()))
            == 1)
            return true;
    }
    return false;
}

bool MakeKeyPair(QByteArray* privatePem, QByteArray* publicPem)
{
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free);
    if (!key)
        return false;
    *privatePem = toPem(key.get(), true);
    *publicPem = toPem(key.get(), false);
    return !privatePem->isEmpty() && !publicPem->isEmpty();
}

QByteArray Sign(const QByteArray& message, const QByteArray& privatePem)
{
    const Key key = readKey(privatePem, true);
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return {};
    unsigned char raw[kSignatureBytes];
    size_t length = sizeof raw;
    if (EVP_DigestSign(context.get(), raw, &length, reinterpret_cast<const unsigned char*>(message.constData()),
                       static_cast<size_t>(message.size()))
        != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(raw), static_cast<qsizetype>(length)).toBase64() + '\n';
}

} // namespace UpdateSignature

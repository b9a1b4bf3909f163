#include "UpdateSignature.h"

#include <algorithm>
#include <memory>

#include <QDir>
#include <QFileInfo>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "common/Log.h"
#include "common/Paths.h"
#include "common/Settings.h"

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

TrustedKeySet TrustedKeys()
{
    TrustedKeySet set;
    const QString folder = TrustedKeysDir();
    const QFileInfo info(folder);
    if (!info.exists())
        return set;
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        // A folder that cannot be listed may hold keys: nothing is taken unsigned.
        set.installed = true;
        qCWarning(lcUpdate).noquote() << "the keys folder" << folder << "cannot be read";
        return set;
    }
    const QDir dir(folder);
    const bool folderSafe = OnlyOwnerCanChange(dir.absolutePath(), false);
    for (const QString& name : dir.entryList({ QStringLiteral("*.pub") }, QDir::Files | QDir::System, QDir::Name)) {
        set.installed = true;
        const QString path = dir.filePath(name);
        // A link is judged by the file it leads to, and by that file's folder too.
        const QString real = QFileInfo(path).canonicalFilePath();
        if (!folderSafe || real.isEmpty() || !OnlyOwnerCanChange(real, false)) {
            qCWarning(lcUpdate).noquote() << "trusted key" << path << "is not used: another account can change it";
            continue;
        }
        QFile file(real);
        const QByteArray pem = file.open(QIODevice::ReadOnly) ? file.read(16384) : QByteArray();
        if (readKey(pem, false))
            set.keys << pem;
        else
            qCWarning(lcUpdate).noquote() << "trusted key" << path << "is not a readable Ed25519 public key";
    }
    return set;
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

QByteArray SetVersionKeys(const QByteArray& text, const QList<std::pair<QByteArray, QByteArray>>& keys)
{
    const QByteArray eol = text.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    const auto sectionOf = [](const QByteArray& line) {
        const QByteArray t = line.trimmed();
        return t.startsWith('[') && t.endsWith(']') ? t.mid(1, t.size() - 2).trimmed().toLower() : QByteArray();
    };
    const auto keyOf = [](const QByteArray& line) {
        const qsizetype eq = line.indexOf('=');
        return eq > 0 ? line.left(eq).trimmed().toLower() : QByteArray();
    };
    QList<QByteArray> out;
    bool inMain = false, sawMain = false;
    qsizetype mainEnd = -1; // where the new lines go: after the last line of [Main]
    for (const QByteArray& line : lines) {
        const QByteArray section = sectionOf(line);
        if (!section.isEmpty() || line.trimmed().startsWith('[')) {
            inMain = section == "main";
            sawMain = sawMain || inMain;
        } else if (inMain) {
            const QByteArray key = keyOf(line);
            if (std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return k.first.toLower() == key; }))
                continue;
        }
        out << line;
        if (inMain && !line.trimmed().isEmpty())
            mainEnd = out.size();
    }
    if (!sawMain) {
        out.prepend(QByteArray("[Main]"));
        mainEnd = 1;
    }
    QList<QByteArray> added;
    for (const auto& [key, value] : keys)
        added << key + '=' + value;
    for (qsizetype i = 0; i < added.size(); ++i)
        out.insert(mainEnd + i, added[i]);
    return out.join(eol) + eol;
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

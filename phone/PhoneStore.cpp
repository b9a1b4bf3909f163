#include "PhoneStore.h"

#include <cerrno>
#include <cstring>

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include "common/ProfileFile.h"

Q_DECLARE_LOGGING_CATEGORY(lcPhone)

namespace
{
constexpr int kMaxPhones = 32;
constexpr int kSecretBytes = 32;
} // namespace

CPhoneStore::CPhoneStore(QString path)
    : m_path(std::move(path))
{
}

QString CPhoneStore::HashOf(const QString& secret)
{
    return QString::fromLatin1(QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex());
}

void CPhoneStore::Load()
{
    m_phones.clear();
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QJsonArray list = QJsonDocument::fromJson(f.read(1 << 20)).array();
    for (const QJsonValue& v : list) {
        const QJsonObject o = v.toObject();
        const QString hash = o.value(QLatin1String("hash")).toString();
        if (hash.size() != 64 || m_phones.size() >= kMaxPhones)
            continue;
        m_phones.push_back({ hash, o.value(QLatin1String("name")).toString().left(80),
                             QDateTime::fromString(o.value(QLatin1String("paired")).toString(), Qt::ISODate) });
    }
}

bool CPhoneStore::Save() const
{
    QJsonArray list;
    for (const Phone& p : m_phones)
        list.append(QJsonObject { { QStringLiteral("hash"), p.hash },
                                  { QStringLiteral("name"), p.name },
                                  { QStringLiteral("paired"), p.paired.toString(Qt::ISODate) } });
    if (ProfileFile::WriteFileAtomically(m_path, QJsonDocument(list).toJson()))
        return true;
    qCWarning(lcPhone, "cannot store the paired phones in %s: %s", qPrintable(m_path), std::strerror(errno));
    return false;
}

QString CPhoneStore::Add(const QString& name)
{
    QByteArray secret(kSecretBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(secret.data()), kSecretBytes / 4);
    const QString text
        = QString::fromLatin1(secret.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    // The oldest pairing makes room when the list is full; the list stays as it was when it cannot be stored.
    const std::vector<Phone> before = m_phones;
    if (m_phones.size() >= kMaxPhones)
        m_phones.erase(m_phones.begin());
    m_phones.push_back({ HashOf(text), name.left(80), QDateTime::currentDateTimeUtc() });
    if (!Save()) {
        m_phones = before;
        return QString();
    }
    return text;
}

bool CPhoneStore::Knows(const QString& secret) const
{
    if (secret.isEmpty())
        return false;
    const QString hash = HashOf(secret);
    for (const Phone& p : m_phones)
        if (p.hash == hash)
            return true;
    return false;
}

bool CPhoneStore::Remove(const QString& hash)
{
    for (auto it = m_phones.begin(); it != m_phones.end(); ++it) {
        if (it->hash == hash) {
            const Phone removed = *it;
            it = m_phones.erase(it);
            if (Save())
                return true;
            m_phones.insert(it, removed);
            return false;
        }
    }
    return false;
}

#include "WatchingList.h"

#include <algorithm>
#include <cmath>

#include <QFile>

#include "ResumePositions.h"
#include "common/Log.h"
#include "common/ProfileFile.h"

namespace
{

// A line is "E|F <tab> video <tab> address <tab> scroll <tab> seconds <tab> name <tab> key"; names and keys hold no
// tabs or line breaks.
constexpr qint64 kMaxFileBytes = 64 * 1024;
constexpr int kMaxFieldChars = 4096;

QString OneLine(QString text)
{
    return text.replace(QLatin1Char('\t'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '))
        .replace(QLatin1Char('\r'), QLatin1Char(' '))
        .left(kMaxFieldChars);
}

} // namespace

CWatchingList::CWatchingList(QString file)
    : m_strFile(std::move(file))
{
    Load();
}

void CWatchingList::Load()
{
    QFile f(m_strFile);
    if (!f.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : f.read(kMaxFileBytes).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 7 || (fields[0] != "E" && fields[0] != "F"))
            continue;
        Item item;
        item.film = fields[0] == "F";
        bool ok[4] = {};
        item.videoId = fields[1].toInt(&ok[0]);
        item.addressId = fields[2].toInt(&ok[1]);
        item.scroll = fields[3].toInt(&ok[2]);
        item.position = fields[4].toDouble(&ok[3]);
        item.name = QString::fromUtf8(fields[5]).left(kMaxFieldChars);
        item.key = QString::fromUtf8(fields[6]).left(kMaxFieldChars);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || !std::isfinite(item.position) || item.position < 0
            || item.position > CResumePositions::kMaxSeconds || item.key.isEmpty())
            continue;
        if (std::none_of(m_items.cbegin(), m_items.cend(), [&](const Item& i) { return i.key == item.key; }))
            m_items.append(item);
        if (m_items.size() == kMaxItems)
            break;
    }
}

void CWatchingList::Save() const
{
    QByteArray bytes;
    for (const Item& i : m_items)
        bytes += QByteArray(i.film ? "F" : "E") + '\t' + QByteArray::number(i.videoId) + '\t'
            + QByteArray::number(i.addressId) + '\t' + QByteArray::number(i.scroll) + '\t'
            + QByteArray::number(i.position, 'f', 1) + '\t' + OneLine(i.name).toUtf8() + '\t' + OneLine(i.key).toUtf8()
            + '\n';
    if (!ProfileFile::WriteFileAtomically(m_strFile, bytes)) {
        static bool told = false;
        if (!told)
            qCWarning(lcTv, "cannot keep what is being watched in %s", qPrintable(m_strFile));
        told = true;
    }
}

void CWatchingList::Played(Item item)
{
    if (item.key.isEmpty() || item.key.contains(QLatin1Char('\n')) || item.key.contains(QLatin1Char('\t')))
        return;
    for (qsizetype i = 0; i < m_items.size(); ++i)
        if (m_items[i].key == item.key) {
            item.position = m_items[i].position;
            m_items.removeAt(i);
            break;
        }
    m_items.prepend(item);
    while (m_items.size() > kMaxItems)
        m_items.removeLast();
    Save();
}

void CWatchingList::Finished(const QString& key)
{
    if (m_items.removeIf([&](const Item& i) { return i.key == key; }) > 0)
        Save();
}

void CWatchingList::Left(const QString& key, double position, double duration)
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].key != key)
            continue;
        if (CResumePositions::IsWatched(position, duration))
            m_items.removeAt(i);
        else if (std::isfinite(position) && position >= 0 && position <= CResumePositions::kMaxSeconds)
            m_items[i].position = position;
        Save();
        return;
    }
}

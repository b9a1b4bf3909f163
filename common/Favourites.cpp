#include "Favourites.h"

#include <algorithm>

#include <QFile>
#include <QRegularExpression>

#include "Log.h"
#include "Paths.h"
#include "ProfileFile.h"

namespace
{

// A line is "<name>\t<address>"; neither holds a tab or a line break.
constexpr qint64 kMaxFileBytes = 512 * 1024;

QString OneLine(const QString& text, int chars)
{
    QString line = text.simplified();
    line.remove(QLatin1Char('\t'));
    return line.left(chars);
}

} // namespace

CFavourites::CFavourites()
    : CFavourites(Paths::StateDir() + QStringLiteral("favourites.dat"))
{
}

CFavourites::CFavourites(QString file)
    : m_strFile(std::move(file))
{
    QFile f(m_strFile);
    if (!f.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : f.read(kMaxFileBytes).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 2)
            continue;
        const Item item { OneLine(QString::fromUtf8(fields[0]), kMaxNameChars),
                          QString::fromUtf8(fields[1]).trimmed() };
        if (item.address.isEmpty() || item.address.size() > kMaxAddressChars || item.address.contains(QLatin1Char(' ')))
            continue;
        if (std::none_of(m_items.cbegin(), m_items.cend(), [&](const Item& i) { return i.address == item.address; }))
            m_items.append(item);
        if (m_items.size() == kMaxItems)
            break;
    }
}

bool CFavourites::Add(const QString& name, const QString& address)
{
    const QString where = address.trimmed();
    if (where.isEmpty() || where.size() > kMaxAddressChars || where.contains(QRegularExpression(QStringLiteral("\\s"))))
        return false;
    QString shown = OneLine(name, kMaxNameChars);
    if (shown.isEmpty())
        shown = OneLine(where, kMaxNameChars);
    for (Item& i : m_items)
        if (i.address == where) {
            i.name = shown;
            return Save();
        }
    if (m_items.size() >= kMaxItems)
        return false;
    m_items.append({ shown, where });
    return Save();
}

bool CFavourites::Remove(const QString& address)
{
    if (m_items.removeIf([&](const Item& i) { return i.address == address; }) == 0)
        return false;
    return Save();
}

bool CFavourites::Save() const
{
    QByteArray bytes;
    for (const Item& i : m_items)
        bytes += i.name.toUtf8() + '\t' + i.address.toUtf8() + '\n';
    if (ProfileFile::WriteFileAtomically(m_strFile, bytes))
        return true;
    qCWarning(lcApp, "cannot keep the favourites in %s", qPrintable(m_strFile));
    return false;
}

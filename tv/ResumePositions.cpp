#include "ResumePositions.h"

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "common/Log.h"
#include "common/ProfileFile.h"

namespace
{

// A line is "<seconds>\t<key>"; keys hold no line breaks (paths and addresses with one are not kept).
constexpr qint64 kMaxFileBytes = 1 << 20;

} // namespace

CResumePositions::CResumePositions(QString file)
    : m_strFile(std::move(file))
{
    Load();
}

void CResumePositions::Load()
{
    QFile f(m_strFile);
    if (!f.open(QIODevice::ReadOnly))
        return;
    // A file torn or grown past any size this program writes is read as far as it makes sense.
    for (const QByteArray& line : f.read(kMaxFileBytes).split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        bool ok = false;
        const double at = line.left(tab).toDouble(&ok);
        const QString key = QString::fromUtf8(line.mid(tab + 1));
        if (tab <= 0 || !ok || !std::isfinite(at) || at <= 0 || at > kMaxSeconds || key.isEmpty())
            continue;
        Drop(key);
        m_entries.append({ key, at });
    }
    while (m_entries.size() > kMaxEntries)
        m_entries.removeFirst();
}

bool CResumePositions::Save() const
{
    // Written whole or not at all: a disk that fills up mid-write leaves the old file as it was (a short write
    // counts as a failure).
    QByteArray bytes;
    for (const auto& [key, at] : m_entries)
        bytes += QByteArray::number(at, 'f', 1) + '\t' + key.toUtf8() + '\n';
    if (ProfileFile::WriteFileAtomically(m_strFile, bytes))
        return true;
    static bool told = false;
    if (!told)
        qCWarning(lcTv, "cannot keep where films were left in %s: %s", qPrintable(m_strFile), std::strerror(errno));
    told = true;
    return false;
}

bool CResumePositions::IsWatched(double position, double duration)
{
    return duration > 0 && position >= duration - std::min(180.0, duration / 10);
}

double CResumePositions::StartFor(const QString& key) const
{
    for (const auto& [k, at] : m_entries)
        if (k == key)
            return std::max(0.0, at - kRewindSeconds);
    return 0;
}

void CResumePositions::Remember(const QString& key, double position, double duration)
{
    if (key.isEmpty() || key.contains(QLatin1Char('\n')) || key.contains(QLatin1Char('\r')))
        return;
    const bool keep = std::isfinite(position) && position >= kMinSeconds && !IsWatched(position, duration);
    if (!Drop(key) && !keep)
        return; // nothing kept, nothing changed
    if (keep) {
        m_entries.append({ key, position });
        while (m_entries.size() > kMaxEntries)
            m_entries.removeFirst();
    }
    Save();
}

void CResumePositions::Forget(const QString& key)
{
    if (Drop(key))
        Save();
}

bool CResumePositions::Drop(const QString& key)
{
    return m_entries.removeIf([&](const QPair<QString, double>& e) { return e.first == key; }) > 0;
}

QString CResumePositions::FormatTime(double seconds)
{
    const qint64 s = std::isfinite(seconds) ? std::llround(std::clamp(seconds, 0.0, kMaxSeconds)) : 0;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

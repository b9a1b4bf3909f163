#pragma once

#include <map>

#include <QDir>
#include <QFile>
#include <QStringList>

// Memory figures of a process tree from /proc: kB of one field of smaps_rollup ("Rss:", "Pss:") for each of a
// process's descendants, summed.
inline long RollupKb(qint64 pid, const char* field)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == field)
            return fields[1].toLong();
    }
    return 0;
}

// Every process's parent, from /proc.
inline std::map<qint64, qint64> ParentsOfAll()
{
    std::map<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool ok = false;
        const qint64 p = entry.toLongLong(&ok);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!ok || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: the name may hold blanks, so read after its closing parenthesis.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parentOf[p] = fields[1].toLongLong();
    }
    return parentOf;
}

// Whether p descends from ancestor.
inline bool DescendsFrom(const std::map<qint64, qint64>& parentOf, qint64 p, qint64 ancestor)
{
    for (auto it = parentOf.find(p); it != parentOf.end() && it->second > 1; it = parentOf.find(it->second))
        if (it->second == ancestor)
            return true;
    return false;
}

// Every process below pid, now.
inline QList<qint64> DescendantsOf(qint64 pid)
{
    const std::map<qint64, qint64> parentOf = ParentsOfAll();
    QList<qint64> below;
    for (const auto& entry : parentOf)
        if (DescendsFrom(parentOf, entry.first, pid))
            below << entry.first;
    return below;
}

inline long DescendantsKb(qint64 pid, const char* field)
{
    long total = 0;
    for (qint64 p : DescendantsOf(pid))
        total += RollupKb(p, field);
    return total;
}

// The same for the trees of pid's children whose name starts with one of names (a web engine's processes, without
// the test servers the program started), each child included.
inline long ChildTreesKb(qint64 pid, const QStringList& names, const char* field)
{
    const std::map<qint64, qint64> parentOf = ParentsOfAll();
    QList<qint64> roots;
    for (const auto& [p, parent] : parentOf) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(p));
        const QString name
            = parent == pid && comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
        for (const QString& n : names)
            if (!name.isEmpty() && name.startsWith(n))
                roots << p;
    }
    long total = 0;
    for (const auto& entry : parentOf)
        for (qint64 root : roots)
            if (entry.first == root || DescendsFrom(parentOf, entry.first, root))
                total += RollupKb(entry.first, field);
    return total;
}

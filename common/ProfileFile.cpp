#include "ProfileFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace ProfileFile
{
namespace
{

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

QStringView trimBlanks(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

// The section name of a header line "[name]", or a null view when the line is no header.
QStringView headerName(QStringView line)
{
    const QStringView t = trimBlanks(line);
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return {};
    return trimBlanks(t.mid(1, close - 1));
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Splits the file into lines; each keeps its own line end so that untouched lines are written back unchanged.
QList<QString> splitKeepingEnds(const QString& text)
{
    QList<QString> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype nl = text.indexOf(QLatin1Char('\n'), start);
        qsizetype end = nl < 0 ? text.size() : nl + 1;
        lines.append(text.mid(start, end - start));
        start = end;
    }
    return lines;
}

QStringView withoutEnd(const QString& line)
{
    QStringView v(line);
    while (!v.isEmpty() && (v.back() == QLatin1Char('\n') || v.back() == QLatin1Char('\r')))
        v.chop(1);
    return v;
}

QString lineEnd(const QString& line)
{
    return line.endsWith(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
}

bool readText(const QString& path, QString* text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *text = QString::fromUtf8(file.readAll());
    return true;
}

} // namespace

QString ReadString(const QString& path, const QString& section, const QString& key, int maxChars)
{
    QString text;
    if (!readText(path, &text))
        return {};
    bool inSection = false;
    bool sectionSeen = false;
    for (const QString& raw : splitKeepingEnds(text)) {
        const QStringView line = withoutEnd(raw);
        const QStringView header = headerName(line);
        if (!header.isNull()) {
            // Only the first section of that name is looked at.
            if (inSection)
                break;
            inSection = !sectionSeen && sameName(header, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || !sameName(trimBlanks(line.left(eq)), trimBlanks(QStringView(key))))
            continue;
        QString value = trimBlanks(line.mid(eq + 1)).toString();
        if (value.size() > maxChars) {
            value.truncate(maxChars);
            if (!value.isEmpty() && value.back().isHighSurrogate())
                value.chop(1);
        }
        return value;
    }
    return {};
}

bool WriteString(const QString& path, const QString& section, const QString& key, const QString& value)
{
    QString text;
    readText(path, &text);
    QList<QString> lines = splitKeepingEnds(text);
    // One line per key: a line break inside a value (a sound card description, say) would start a line of its own
    // and could create another key.
    QString flatKey = key.trimmed(), flatValue = value;
    for (QString* text : { &flatKey, &flatValue })
        for (QChar& c : *text)
            if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0x2028) || c == QChar(0x2029)
                || c == QChar(0x85) || c == QChar(0x0B) || c == QChar(0x0C))
                c = QLatin1Char(' ');
    const QString entry = flatKey + QLatin1Char('=') + flatValue;

    qsizetype sectionAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView header = headerName(withoutEnd(lines[i]));
        if (!header.isNull() && sameName(header, section)) {
            sectionAt = i;
            break;
        }
    }

    if (sectionAt < 0) {
        if (!lines.isEmpty() && !lines.back().endsWith(QLatin1Char('\n')))
            lines.back() += QLatin1Char('\n');
        lines.append(QLatin1Char('[') + section + QStringLiteral("]\n"));
        lines.append(entry + QLatin1Char('\n'));
    } else {
        qsizetype lastContent = sectionAt;
        qsizetype keyAt = -1;
        for (qsizetype i = sectionAt + 1; i < lines.size(); ++i) {
            const QStringView line = withoutEnd(lines[i]);
            if (!headerName(line).isNull())
                break;
            if (!trimBlanks(line).isEmpty())
                lastContent = i;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq >= 0 && sameName(trimBlanks(line.left(eq)), trimBlanks(QStringView(key)))) {
                keyAt = i;
                break;
            }
        }
        if (keyAt >= 0) {
            lines[keyAt] = entry + lineEnd(lines[keyAt]);
        } else {
            if (!lines[lastContent].endsWith(QLatin1Char('\n')))
                lines[lastContent] += QLatin1Char('\n');
            lines.insert(lastContent + 1, entry + lineEnd(lines[lastContent]));
        }
    }
    return WriteFileAtomically(path, lines.join(QString()).toUtf8());
}

namespace
{

// The process's file-creation mask, read without changing it (umask() would, for a moment, for every thread).
mode_t processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return static_cast<mode_t>(line.mid(6).trimmed().toUInt(nullptr, 8) & 0777);
    }
    return 022;
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;

    // Keep the permissions of the file being replaced; a new file is at most readable by everybody and writable by
    // its owner only (no other account may rewrite the settings, which name the update server), less what the
    // umask takes away.
    struct stat old {
    };
    const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : (0644 & ~processUmask());
    bool ok = ::fchmod(fd, mode) == 0;
    qsizetype done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += n;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        const int error = errno; // why it failed, for the caller's log line
        ::unlink(temp.constData());
        errno = error;
        return false;
    }
    // Make the rename itself durable.
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void RemoveTree(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        QFile::remove(path);
    else
        QDir(path).removeRecursively();
}

} // namespace ProfileFile

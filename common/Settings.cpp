#include "Settings.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "Paths.h"
#include "ProfileFile.h"
#include "TextNumber.h"

QString ReadSetting(const QString& key)
{
    const bool own = key.compare(QLatin1String(SettingKey::LocalMovieFolders), Qt::CaseInsensitive) == 0
        || key.compare(QLatin1String(SettingKey::UpdateServer), Qt::CaseInsensitive) == 0;
    return ProfileFile::ReadString(Paths::SettingsFile(), QString::fromLatin1(kSettingsSection), key,
                                   own ? kOwnSettingMaxChars : kSettingMaxChars);
}

int ReadSettingNumber(const QString& key)
{
    return ParseDecimal(ReadSetting(key));
}

bool WriteSetting(const QString& key, const QString& value)
{
    return ProfileFile::WriteString(Paths::SettingsFile(), QString::fromLatin1(kSettingsSection), key, value);
}

namespace
{

// Exec= arguments are quoted when they hold reserved characters; inside quotes ", `, $ and \ take a backslash.
// The whole value then goes through the string escaping of desktop files, which doubles every backslash, and
// a literal % is written %%.
QString quoteExecArgument(const QString& arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : arg)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString out;
    if (needsQuotes) {
        out += QLatin1Char('"');
        for (QChar c : arg) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            out += c;
        }
        out += QLatin1Char('"');
    } else {
        out = arg;
    }
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return out;
}

} // namespace

QString BootRunDesktopEntry(const QString& executablePath)
{
    const QString name = QFileInfo(executablePath).completeBaseName();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Comment=Starts the TV box at log-in\n"
                          "Exec=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(name, quoteExecArgument(executablePath));
}

bool SetBootRun(int flag)
{
    const QString exe = Paths::ExecutablePath();
    const QString dir = Paths::AutostartDir();
    // The folder plays the role of the machine-wide Run key: without the right to write it nothing changes.
    const QFileInfo dirInfo(dir);
    if (!dirInfo.isDir() || ::access(QFile::encodeName(dir).constData(), W_OK) != 0)
        return false;
    const QString entry = dir + QLatin1Char('/') + QFileInfo(exe).completeBaseName() + QStringLiteral(".desktop");
    if (flag == 1)
        return ProfileFile::WriteFileAtomically(entry, BootRunDesktopEntry(exe).toUtf8());
    QFile::remove(entry);
    return true;
}

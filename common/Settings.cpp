#include "Settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include <QFile>
#include <QFileInfo>

#include "Paths.h"
#include "ProfileFile.h"
#include "TextNumber.h"

QString ReadSetting(const QString& key)
{
    const bool own = key.compare(QLatin1String(SettingKey::LocalMovieFolders), Qt::CaseInsensitive) == 0
        || key.compare(QLatin1String(SettingKey::UpdateServer), Qt::CaseInsensitive) == 0
        || key.compare(QLatin1String(SettingKey::DisplayName), Qt::CaseInsensitive) == 0
        || key.compare(QLatin1String(SettingKey::InputDevices), Qt::CaseInsensitive) == 0;
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
                          "Exec=%2 --autostart\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(name, quoteExecArgument(executablePath));
}

namespace
{

QString bootRunEntryName()
{
    return QFileInfo(Paths::ProgramCommand()).completeBaseName() + QStringLiteral(".desktop");
}

bool writableFolder(const QString& dir)
{
    return QFileInfo(dir).isDir() && ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

} // namespace

bool OnlyOwnerCanChange(const QString& path, bool rootOnly)
{
    const auto safe = [rootOnly](const QString& p, bool folder) {
        struct stat st {
        };
        if (::stat(QFile::encodeName(p).constData(), &st) != 0)
            return false;
        if (st.st_uid != 0 && (rootOnly || st.st_uid != ::getuid()))
            return false;
        if (folder && (st.st_mode & S_ISVTX))
            return true;
        return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    };
    return safe(path, false) && safe(QFileInfo(path).absolutePath(), true);
}

bool SetBootRun(int flag)
{
    const QString exe = Paths::ProgramCommand();
    const QString machine = Paths::AutostartDir() + QLatin1Char('/') + bootRunEntryName();
    const QString user = Paths::UserAutostartDir() + QLatin1Char('/') + bootRunEntryName();
    if (flag == 1) {
        // The machine-wide folder plays the role of the machine-wide Run key; a normal user gets the entry of the
        // user's own session instead.
        if (writableFolder(Paths::AutostartDir()))
            return ProfileFile::WriteFileAtomically(machine, BootRunDesktopEntry(exe).toUtf8());
        if (!QDir().mkpath(Paths::UserAutostartDir()) || !writableFolder(Paths::UserAutostartDir()))
            return false;
        return ProfileFile::WriteFileAtomically(user, BootRunDesktopEntry(exe).toUtf8());
    }
    bool ok = true;
    for (const QString& entry : { machine, user })
        if (QFileInfo::exists(entry))
            ok = QFile::remove(entry) && ok;
    return ok;
}

bool SetMachineBootRun()
{
    QDir().mkpath(Paths::AutostartDir());
    return writableFolder(Paths::AutostartDir())
        && ProfileFile::WriteFileAtomically(Paths::AutostartDir() + QLatin1Char('/') + bootRunEntryName(),
                                            BootRunDesktopEntry(Paths::ProgramCommand()).toUtf8());
}

bool IsBootRunInEffect()
{
    return QFileInfo::exists(Paths::AutostartDir() + QLatin1Char('/') + bootRunEntryName())
        || QFileInfo::exists(Paths::UserAutostartDir() + QLatin1Char('/') + bootRunEntryName());
}

QString ReadUpdateServer()
{
    const QString key = QString::fromLatin1(SettingKey::UpdateServer);
    const QString machineConfig = Paths::MachineConfigFile();
    if (QFileInfo::exists(machineConfig) && OnlyOwnerCanChange(machineConfig, true)) {
        const QString server
            = ProfileFile::ReadString(machineConfig, QString::fromLatin1(kSettingsSection), key, kOwnSettingMaxChars)
                  .trimmed();
        if (!server.isEmpty())
            return server;
    }
    const QString server = ReadSetting(key).trimmed();
    if (server.isEmpty())
        return {};
    if (!OnlyOwnerCanChange(Paths::SettingsFile(), false)) {
        qWarning("krel: UpdateServer in %s is ignored: other accounts can change that file; name the server in %s",
                 qPrintable(Paths::SettingsFile()), qPrintable(machineConfig));
        return {};
    }
    return server;
}

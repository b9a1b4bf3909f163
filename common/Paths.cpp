#include "Paths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <QSettings>

#include "Globals.h"

namespace Paths
{

namespace
{

struct Layout {
    bool installed = false;
    QString share;
    QString command;
};

// An XDG base folder: the variable when it names an absolute path, else the default below the home folder (a
// relative value is invalid by the XDG rules and is ignored).
QString xdgHome(const char* variable, const char* fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback);
}

// Read once: the layout file is part of the installed program and does not change while it runs.
const Layout& layout()
{
    static const Layout value = [] {
        Layout l;
        const QString exeDir = QFileInfo(ExecutablePath()).absolutePath();
        const QString file = exeDir + QStringLiteral("/krel.layout");
        if (!QFileInfo(file).isFile())
            return l;
        l.installed = true;
        QSettings ini(file, QSettings::IniFormat);
        // Relative to the executable's folder, so that an installation in a staging root works as well.
        const QString share = ini.value(QStringLiteral("Layout/Share"), QStringLiteral("../../share/krel")).toString();
        l.share = QDir::cleanPath(QDir(exeDir).absoluteFilePath(share)) + QLatin1Char('/');
        const QString command
            = ini.value(QStringLiteral("Layout/Command"), QStringLiteral("../../bin/krel")).toString();
        l.command = QDir::cleanPath(QDir(exeDir).absoluteFilePath(command));
        return l;
    }();
    return value;
}

} // namespace

QString MachineRoot()
{
    QString root = qEnvironmentVariable("KREL_ROOT");
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString SettingsFile()
{
    if (IsInstalled())
        return xdgHome("XDG_CONFIG_HOME", ".config") + QStringLiteral("/krel/Krel.ini");
    return MachineRoot() + QStringLiteral("/var/lib/krel/Krel.ini");
}

QString AutostartDir()
{
    return MachineRoot() + QStringLiteral("/etc/xdg/autostart");
}

QString UserAutostartDir()
{
    return xdgHome("XDG_CONFIG_HOME", ".config") + QStringLiteral("/autostart");
}

QString MachineConfigFile()
{
    return MachineRoot() + QStringLiteral("/etc/krel/krel.conf");
}

QString UserRuntimeDir()
{
    // A folder only this user can use: owned by the user, not a link, mode 0700.
    const auto isPrivate = [](const QByteArray& path) {
        struct stat st {
        };
        return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
            && (st.st_mode & 077) == 0;
    };
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivate(runtime))
        return QFile::decodeName(runtime);
    const QByteArray folder = "/tmp/krel-" + QByteArray::number(::getuid());
    ::mkdir(folder.constData(), 0700);
    return isPrivate(folder) ? QFile::decodeName(folder) : QString();
}

QString InstanceLockFile()
{
    // One instance per user: another account can neither hold nor see this user's lock.
    const QString root = MachineRoot();
    if (!root.isEmpty())
        return root + QStringLiteral("/krel-Parlowen.lock");
    const QString folder = UserRuntimeDir();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/krel-Parlowen.lock");
}

QString ExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString ProgramCommand()
{
    if (IsInstalled())
        return layout().command;
    // A program file replaced while it runs reads as "<path> (deleted)"; its path is where the new one is.
    QString path = ExecutablePath();
    if (path.isEmpty())
        path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (path.endsWith(QLatin1String(" (deleted)")))
        path.chop(10);
    return path;
}

QString AppFile(const QString& relative)
{
    return g_strAppDir + relative;
}

bool IsInstalled()
{
    return layout().installed;
}

QString InstalledShareDir()
{
    return layout().share;
}

QString StateDir()
{
    if (IsInstalled())
        return xdgHome("XDG_DATA_HOME", ".local/share") + QStringLiteral("/krel/");
    return g_strAppDir;
}

QString StateFile(const QString& relative)
{
    // The update folder is named "update" in some places and "Update" in others; on a case-sensitive file
    // system both must name one folder, so it is always spelled "Update".
    QString name = relative;
    if (name.startsWith(QLatin1String("update/"), Qt::CaseInsensitive))
        name.replace(0, 6, QStringLiteral("Update"));
    return StateDir() + name;
}

} // namespace Paths

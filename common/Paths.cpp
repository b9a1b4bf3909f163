#include "Paths.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "Globals.h"

namespace Paths
{

namespace
{

struct Layout {
    bool installed = false;
    QString share;
};

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
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/krel/Krel.ini");
    return MachineRoot() + QStringLiteral("/var/lib/krel/Krel.ini");
}

QString AutostartDir()
{
    return MachineRoot() + QStringLiteral("/etc/xdg/autostart");
}

QString UserAutostartDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString MachineConfigFile()
{
    return MachineRoot() + QStringLiteral("/etc/krel/krel.conf");
}

QString InstanceLockFile()
{
    const QString root = MachineRoot();
    return (root.isEmpty() ? QStringLiteral("/tmp") : root) + QStringLiteral("/krel-Parlowen.lock");
}

QString ExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
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
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/krel/");
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

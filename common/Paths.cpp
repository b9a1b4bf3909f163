#include "Paths.h"

#include <QByteArray>
#include <QFileInfo>

#include "Globals.h"

namespace Paths
{

QString MachineRoot()
{
    QString root = qEnvironmentVariable("KREL_ROOT");
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString SettingsFile()
{
    return MachineRoot() + QStringLiteral("/var/lib/krel/Krel.ini");
}

QString AutostartDir()
{
    return MachineRoot() + QStringLiteral("/etc/xdg/autostart");
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
    // The update folder is named "update" in some places and "Update" in others; on a case-sensitive file
    // system both must name one folder, so it is always spelled "Update".
    QString name = relative;
    if (name.startsWith(QLatin1String("update/"), Qt::CaseInsensitive))
        name.replace(0, 6, QStringLiteral("Update"));
    return g_strAppDir + name;
}

} // namespace Paths

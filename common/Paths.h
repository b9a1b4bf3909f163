#pragma once

#include <QString>

// Per-machine locations. KREL_ROOT, when set, moves every one of them under that folder so that tests and
// demos never touch the real machine: the settings file becomes $KREL_ROOT/var/lib/krel/Krel.ini and the
// autostart folder $KREL_ROOT/etc/xdg/autostart.
namespace Paths
{

QString MachineRoot(); // "" or the KREL_ROOT folder, without a trailing "/"
QString SettingsFile(); // /var/lib/krel/Krel.ini
QString AutostartDir(); // /etc/xdg/autostart
QString InstanceLockFile(); // /tmp/krel-Parlowen.lock (per machine, like the named mutex)
QString ExecutablePath(); // the running executable's full, real path
QString AppFile(const QString& relative); // g_strAppDir + relative, with "update/" spelled "Update/"

} // namespace Paths

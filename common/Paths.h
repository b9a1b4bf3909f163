#pragma once

#include <QString>

// Where things live. Two layouts:
// - Self-contained (the build folder, build/demo): everything the program keeps is in the application folder
//   beside the executable, and the settings are per machine in /var/lib/krel/Krel.ini.
// - Installed (a file "krel.layout" beside the executable, as the package installs it): the program's files are
//   read-only; the settings are the user's, $XDG_CONFIG_HOME/krel/Krel.ini, and what the program writes or replaces
//   (Data/, ver.dat, temp/, Update/) is in the user's state folder $XDG_DATA_HOME/krel/, which starts as a copy of
//   the starter catalogue installed in <share>/krel.
// KREL_ROOT, when set, moves every per-machine path under that folder so that tests and demos never touch the
// real machine: the settings file becomes $KREL_ROOT/var/lib/krel/Krel.ini and the autostart folder
// $KREL_ROOT/etc/xdg/autostart.
namespace Paths
{

QString MachineRoot(); // "" or the KREL_ROOT folder, without a trailing "/"
QString SettingsFile(); // /var/lib/krel/Krel.ini, or the user's when installed
QString AutostartDir(); // machine-wide: /etc/xdg/autostart
QString UserAutostartDir(); // the user's: $XDG_CONFIG_HOME/autostart
QString MachineConfigFile(); // /etc/krel/krel.conf: settings only root can write (the update server)
QString UserRuntimeDir(); // $XDG_RUNTIME_DIR, else /tmp/krel-<uid>, when only this user can use it; else ""
QString InstanceLockFile(); // krel-Parlowen.lock in UserRuntimeDir(): one instance per user
QString ExecutablePath(); // the running executable's full, real path
QString ProgramCommand(); // the command that starts the program: /usr/bin/krel when installed, else the executable
QString AppFile(const QString& relative); // g_strAppDir + relative: the program's own files

// The installed layout: whether it is in effect, and the folder of the installed shared files (starter catalogue,
// pages), "" when not installed.
bool IsInstalled();
QString InstalledShareDir();
// The folder (with a trailing "/") of what the program writes or replaces; the application folder when
// self-contained.
QString StateDir();
// StateDir() + relative, with "update/" spelled "Update/".
QString StateFile(const QString& relative);

} // namespace Paths

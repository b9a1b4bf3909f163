#pragma once

#include <functional>

class QString;

// The program: single instance, application folder, hand-over to the updater, the control window, pointer
// confinement and the event loop. Returns the exit code, 0 on every path.
int RunApplication(int argc, char** argv);
// The part of it after the application object exists: the control window with the receiver, the software remote
// and the kernel's remotes, the pointer confined unless DisableMouseCtrl is 1, the event loop until "退出", and the
// pointer freed on the way out. Returns 0.
int RunControlWindow();
// HDMI-CEC for the control window: the TV's standby holds what plays; starting TV output wakes the TV and switches
// it to the PC unless CecWakeTv is 0; a shutdown the prompt asked for and the system accepted puts the TV to standby
// where CecStandbyOnShutdown is 1; TV output ended for want of an answer to "还在看吗" puts it to standby too.
class CTvCfgDlg;
class CCecDevices;
void ConnectCec(CTvCfgDlg& dialog, CCecDevices& cec);
// Where the remotes that give commands rather than key bytes (the TV's remote over HDMI-CEC, the software remote)
// hand them: to the router, as the receiver's keys go, so that they reach the same window.
class CRemoteKeyRouter;
std::function<void(int command)> CommandSink(CRemoteKeyRouter& router);

// Hands the start at log-in over to the systemd user unit (krel.service), which starts the program again when it
// dies: gives the user manager this session's display and login session, then starts the unit. False where no user
// manager runs, the unit is not installed or systemctl fails; the caller then runs the program itself. The
// two-argument form names systemctl and the unit file (tests).
bool StartThroughUserManager();
bool StartThroughUserManager(const QString& systemctl, const QString& unitFile);

// The updater to start for a pending update: "AutoUpdate" in the application folder, else on PATH; "" if none.
QString FindUpdater();

// Installed layout: on this user's first start, copies the starter catalogue (and its ver.dat) into the user's
// state folder. False when it could not.
bool PrepareStateFolder();

#pragma once

// The program: single instance, application folder, hand-over to the updater, the control window, pointer
// confinement and the event loop. Returns the exit code, 0 on every path.
int RunApplication(int argc, char** argv);
// The part of it after the application object exists: the control window with the receiver, the software remote
// and the kernel's remotes, the pointer confined unless DisableMouseCtrl is 1, the event loop until "退出", and the
// pointer freed on the way out. Returns 0.
int RunControlWindow();

// The updater to start for a pending update: "AutoUpdate" in the application folder, else on PATH; "" if none.
class QString;
QString FindUpdater();

// Installed layout: on this user's first start, copies the starter catalogue (and its ver.dat) into the user's
// state folder. False when it could not.
bool PrepareStateFolder();

#pragma once

// Whether the session's display server still takes connections: the Wayland compositor's socket (wayland), else the
// X server named by DISPLAY. Used when the process is being ended, to tell a display server that went away (the user
// logged out) from any other reason.
bool DisplayServerReachable(bool wayland);

// In a Wayland session that also offers X11 (Xwayland: DISPLAY is set and answers), the program's windows go through
// X11, where a window may be placed on a monitor, kept full screen there and host another program's window (the
// browser's): none of that is open to a Wayland client. Sets QT_QPA_PLATFORM to xcb then, before the application
// object is made, and says why; a platform the user chose (QT_QPA_PLATFORM already set) is kept, and so is native
// Wayland where no X11 is to be had. Returns the reason for the log, or nullptr when nothing was changed.
const char* PreferX11InWaylandSessions();

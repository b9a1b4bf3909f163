#pragma once

// Whether the session's display server still takes connections: the Wayland compositor's socket (wayland), else the
// X server named by DISPLAY. Used when the process is being ended, to tell a display server that went away (the user
// logged out) from any other reason.
bool DisplayServerReachable(bool wayland);

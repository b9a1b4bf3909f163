#pragma once

class QRect;
class QWindow;

// Under an X11 window manager (GNOME's mutter, KDE's kwin, Xfce's xfwm4, and mutter's Xwayland in GNOME's Wayland
// session) a full-screen window is put on the monitor the manager chooses: the one with the pointer, or where it
// placed the window as it appeared. This asks the manager to keep window full screen on the monitor whose rectangle
// is monitor (_NET_WM_FULLSCREEN_MONITORS with that monitor on all four sides, and _NET_WM_STATE_FULLSCREEN), as
// the window manager conventions provide. Call it once the window is mapped (the manager only hears of windows it
// manages). Does nothing without a window manager, on a display server that is no X server, or while no monitor has
// that rectangle yet; returns whether there is a window manager to ask (false: the window's own geometry places it).
bool KeepFullScreenOnMonitor(QWindow* window, const QRect& monitor);

#include "FullScreenX11.h"

#include <QGuiApplication>
#include <QRect>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace
{

// The window manager's index of the monitor at rect: the order of the X server's monitor list, which its Xinerama
// answers share; -1 when none is there.
int monitorIndex(Display* d, const QRect& rect)
{
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(d, DefaultRootWindow(d), True, &count);
    int found = -1;
    for (int i = 0; i < count && found < 0; ++i)
        if (QRect(monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height) == rect)
            found = i;
    if (monitors)
        XRRFreeMonitors(monitors);
    return found;
}

void sendToRoot(Display* d, Window window, Atom type, const long (&data)[5])
{
    XEvent e {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    for (int i = 0; i < 5; ++i)
        e.xclient.data.l[i] = data[i];
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

} // namespace

bool KeepFullScreenOnMonitor(QWindow* window, const QRect& monitor)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    // A connection of its own for the process (Qt's is xcb's, not Xlib's).
    static Display* d = XOpenDisplay(nullptr);
    if (!d)
        return false;
    // Without a window manager nobody would hear: the window's own geometry places it.
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    const bool managed = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type, &format,
                                            &count, &after, &data)
            == Success
        && data && count == 1;
    if (data)
        XFree(data);
    if (!managed)
        return false;
    // A monitor that has just been switched on may not be in the list yet: nothing to send now, ask again later.
    const int index = monitorIndex(d, monitor);
    if (index < 0)
        return true;
    const Window id = static_cast<Window>(window->winId());
    // The monitors first, then the state (a manager that is told full screen first may pick a monitor itself).
    sendToRoot(d, id, XInternAtom(d, "_NET_WM_FULLSCREEN_MONITORS", False), { index, index, index, index, 1 });
    sendToRoot(d, id, XInternAtom(d, "_NET_WM_STATE", False),
               { 1 /* add */, static_cast<long>(XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False)), 0, 1, 0 });
    XFlush(d);
    return true;
}

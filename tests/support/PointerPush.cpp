#include "PointerPush.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

QPoint pushPointer(Display* dpy, QPoint from, int dx, int dy)
{
    XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, from.x(), from.y());
    XSync(dpy, False);
    for (int i = 0; i < 10; ++i) {
        XTestFakeRelativeMotionEvent(dpy, dx / 10, dy / 10, CurrentTime);
        XSync(dpy, False);
    }
    Window r, c;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &r, &c, &x, &y, &wx, &wy, &mask);
    return { x, y };
}

PointerPusher::PointerPusher()
    : m_pDisplay(XOpenDisplay(nullptr))
{
}

PointerPusher::~PointerPusher()
{
    if (m_pDisplay)
        XCloseDisplay(m_pDisplay);
}

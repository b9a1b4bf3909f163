#pragma once

#include "QtWait.h"

// Last: Xlib defines names (None, Bool) that Qt uses.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

// The X server's screen saver as any client sees it (the test server of DISPLAY).
struct SaverState {
    bool on = false;
    unsigned long idleMs = 0;
};

inline SaverState QuerySaver()
{
    SaverState state;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return state;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (XScreenSaverQueryInfo(dpy, DefaultRootWindow(dpy), info))
        state = { info->state == ScreenSaverOn, info->idle };
    XFree(info);
    XCloseDisplay(dpy);
    return state;
}

// Nobody has touched the server for twice the 1 s timeout the tests set (xset s 1 0): a free screen saver would
// be on by now.
inline bool IdleBeyondTimeout()
{
    return WaitFor([] { return QuerySaver().idleMs > 2000; }, 20000);
}

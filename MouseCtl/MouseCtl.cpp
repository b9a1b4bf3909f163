#include "MouseCtl.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <QStringList>

#include "common/ScreenRect.h"
#include "common/Settings.h"

// Xlib's macros (None, Bool, Status ...) clash with Qt's headers, so it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

namespace
{

std::mutex g_lock;
// The barriers live as long as the connection that made them, so the connection is kept open while confined.
Display* g_display = nullptr;
std::vector<PointerBarrier> g_barriers;

bool runningOnWayland()
{
    const bool wayland = qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("wayland"))
        || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || (qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
    static bool told = false;
    if (wayland && !told) {
        told = true;
        // A Wayland client cannot hold the pointer to some outputs; the compositor decides where it goes.
        qInfo("krel: pointer confinement does nothing under Wayland");
    }
    return wayland;
}

void releaseLocked()
{
    if (!g_display)
        return;
    for (PointerBarrier barrier : g_barriers)
        XFixesDestroyPointerBarrier(g_display, barrier);
    g_barriers.clear();
    XSync(g_display, False);
    XCloseDisplay(g_display);
    g_display = nullptr;
}

void addBarrier(Window root, int x1, int y1, int x2, int y2, int allowed)
{
    g_barriers.push_back(XFixesCreatePointerBarrier(g_display, root, x1, y1, x2, y2, allowed, 0, nullptr));
}

// Puts barriers on every edge where a desktop monitor touches a TV monitor; the outer edges of the screen stop
// the pointer by themselves. Each barrier lets the pointer cross only towards the desktop.
void fenceOff(Window root, const ScreenRect& d, const ScreenRect& t)
{
    const int top = std::max(d.top, t.top), bottom = std::min(d.bottom, t.bottom);
    const int left = std::max(d.left, t.left), right = std::min(d.right, t.right);
    if (bottom > top && d.right == t.left)
        addBarrier(root, d.right, top, d.right, bottom, BarrierNegativeX);
    if (bottom > top && d.left == t.right)
        addBarrier(root, d.left, top, d.left, bottom, BarrierPositiveX);
    if (right > left && d.bottom == t.top)
        addBarrier(root, left, d.bottom, right, d.bottom, BarrierNegativeY);
    if (right > left && d.top == t.bottom)
        addBarrier(root, left, d.top, right, d.top, BarrierPositiveY);
}

} // namespace

namespace
{

// Fences the TV monitor off: the monitor named tvName when one has that name, else the one with the rectangle tv
// (in the server's pixels); every other monitor is desktop.
int confine(const char* tvName, const ScreenRect* tv)
{
    std::lock_guard guard(g_lock);
    releaseLocked();
    if (runningOnWayland() || qEnvironmentVariableIsEmpty("DISPLAY"))
        return 0;
    g_display = XOpenDisplay(nullptr);
    if (!g_display)
        return 0;

    int event = 0, error = 0, major = 0, minor = 0;
    if (!XFixesQueryExtension(g_display, &event, &error) || !XFixesQueryVersion(g_display, &major, &minor) || major < 5
        || !XRRQueryExtension(g_display, &event, &error)) {
        releaseLocked();
        return 0;
    }

    const Window root = DefaultRootWindow(g_display);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(g_display, root, True, &count);
    std::vector<bool> isTv(static_cast<std::size_t>(std::max(count, 0)), false);
    bool byName = false;
    for (int i = 0; i < count && tvName && *tvName; ++i) {
        char* name = XGetAtomName(g_display, monitors[i].name);
        if (name && std::strcmp(name, tvName) == 0)
            isTv[static_cast<std::size_t>(i)] = byName = true;
        if (name)
            XFree(name);
    }
    std::vector<ScreenRect> desktop, television;
    for (int i = 0; i < count; ++i) {
        const ScreenRect r { monitors[i].x, monitors[i].y, monitors[i].x + monitors[i].width,
                             monitors[i].y + monitors[i].height };
        const bool tvHere = byName ? isTv[static_cast<std::size_t>(i)] : (tv && r == *tv);
        (tvHere ? television : desktop).push_back(r);
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    if (desktop.empty() || television.empty()) {
        releaseLocked();
        return 0;
    }

    for (const ScreenRect& d : desktop)
        for (const ScreenRect& t : television)
            fenceOff(root, d, t);

    // A pointer already on the television is brought back to the desktop.
    Window r, c;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    if (XQueryPointer(g_display, root, &r, &c, &x, &y, &wx, &wy, &mask)) {
        bool onDesktop = false;
        for (const ScreenRect& d : desktop)
            onDesktop = onDesktop || (x >= d.left && x < d.right && y >= d.top && y < d.bottom);
        if (!onDesktop)
            XWarpPointer(g_display, None, root, 0, 0, 0, 0, (desktop[0].left + desktop[0].right) / 2,
                         (desktop[0].top + desktop[0].bottom) / 2);
    }
    XSync(g_display, False);
    if (g_barriers.empty()) {
        releaseLocked();
        return 0;
    }
    return 1;
}

} // namespace

extern "C" int MouseLimitEnable(void)
{
    ScreenRect tv;
    return ScreenRect::fromText(ReadSetting(QString::fromLatin1(SettingKey::DisplayCard)), &tv)
        ? confine(nullptr, &tv)
        : confine(nullptr, nullptr);
}

extern "C" int MouseLimitEnableTv(const char* monitorName, int left, int top, int right, int bottom)
{
    const ScreenRect tv { left, top, right, bottom };
    return confine(monitorName, &tv);
}

extern "C" void MouseLimitDisable(void)
{
    std::lock_guard guard(g_lock);
    releaseLocked();
}

#include "X11Embed.h"

#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shapeconst.h>

namespace X11Embed
{
namespace
{

// A connection of our own, so that nothing here depends on the toolkit's; kept for the process.
Display* display()
{
    static Display* d = QGuiApplication::platformName() == QLatin1String("xcb") ? XOpenDisplay(nullptr) : nullptr;
    return d;
}

long long pidOf(Display* d, Window w)
{
    static const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long long pid = -1;
    if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success
        && data && format == 32 && count == 1)
        pid = static_cast<long long>(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return pid;
}

} // namespace

unsigned long FindWindow(const QByteArray& wmClass, long long pid)
{
    Display* d = display();
    if (!d)
        return 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count))
        return 0;
    unsigned long found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XClassHint hint { nullptr, nullptr };
        if (!XGetClassHint(d, children[i], &hint))
            continue;
        const bool sameClass = hint.res_class && wmClass == hint.res_class;
        XFree(hint.res_name);
        XFree(hint.res_class);
        XWindowAttributes attributes;
        if (sameClass && pidOf(d, children[i]) == pid && XGetWindowAttributes(d, children[i], &attributes)
            && attributes.map_state == IsViewable)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

bool Embed(unsigned long window, unsigned long parent, const QSize& size)
{
    Display* d = display();
    if (!d || !window || !parent)
        return false;
    // Out of the window manager's hands: no frame, no task bar entry, no focus of its own to take.
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    XChangeWindowAttributes(d, window, CWOverrideRedirect, &attributes);
    XWMHints* hints = XAllocWMHints();
    if (hints) {
        hints->flags = InputHint;
        hints->input = False;
        XSetWMHints(d, window, hints);
        XFree(hints);
    }
    // An empty input region: the pointer's clicks and wheel fall through to our window, never to the page.
    int eventBase = 0, errorBase = 0;
    if (XFixesQueryExtension(d, &eventBase, &errorBase)) {
        const XserverRegion none = XFixesCreateRegion(d, nullptr, 0);
        XFixesSetWindowShapeRegion(d, window, ShapeInput, 0, 0, none);
        XFixesDestroyRegion(d, none);
    }
    XReparentWindow(d, window, parent, 0, 0);
    XMoveResizeWindow(d, window, 0, 0, static_cast<unsigned>(std::max(1, size.width())),
                      static_cast<unsigned>(std::max(1, size.height())));
    XMapWindow(d, window);
    XSync(d, False);
    return true;
}

void SetShown(unsigned long window, bool shown)
{
    Display* d = display();
    if (!d || !window)
        return;
    if (shown)
        XMapWindow(d, window);
    else
        XUnmapWindow(d, window);
    XFlush(d);
}

void Resize(unsigned long window, const QSize& size)
{
    Display* d = display();
    if (!d || !window)
        return;
    XMoveResizeWindow(d, window, 0, 0, static_cast<unsigned>(std::max(1, size.width())),
                      static_cast<unsigned>(std::max(1, size.height())));
    XFlush(d);
}

} // namespace X11Embed

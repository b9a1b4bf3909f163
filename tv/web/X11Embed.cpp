#include "X11Embed.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shapeconst.h>

Q_DECLARE_LOGGING_CATEGORY(lcDevTools)

namespace X11Embed
{
namespace
{

Display* g_display = nullptr;
XErrorHandler g_previousHandler = nullptr;

// The browser's window may go at any moment (the browser ends, or closes it): a request about a window that is gone
// fails with BadWindow, which Xlib's default handler answers by ending the process. On our connection an error
// means only that the window is gone; other connections keep whatever handler they had.
int onXError(Display* d, XErrorEvent* e)
{
    if (d == g_display || !g_previousHandler)
        return 0;
    return g_previousHandler(d, e);
}

// A connection of our own, so that nothing here depends on the toolkit's; kept for the process.
Display* display()
{
    static Display* d = [] {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return static_cast<Display*>(nullptr);
        g_display = XOpenDisplay(nullptr);
        if (g_display)
            g_previousHandler = XSetErrorHandler(onXError);
        return g_display;
    }();
    return d;
}

// The first 32-bit item of a window's property of that type, or fallback when it has none.
long long firstItem(Display* d, Window w, Atom property, Atom type, long long fallback)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long long value = fallback;
    if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actualType, &format, &count, &after, &data) == Success
        && data && format == 32 && count >= 1)
        value = static_cast<long long>(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return value;
}

long long pidOf(Display* d, Window w)
{
    static const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    return firstItem(d, w, pidAtom, XA_CARDINAL, -1);
}

// The window's parent (0 when the window is gone).
Window parentOf(Display* d, Window w)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count))
        return 0;
    if (children)
        XFree(children);
    return parent;
}

// The WM_STATE a window manager gives the windows it manages: 1 normal, 3 iconic; 0 withdrawn or none.
long wmState(Display* d, Window w)
{
    static const Atom stateAtom = XInternAtom(d, "WM_STATE", False);
    return static_cast<long>(firstItem(d, w, stateAtom, stateAtom, 0));
}

bool hasClassAndPid(Display* d, Window w, const QByteArray& wmClass, long long pid)
{
    XClassHint hint { nullptr, nullptr };
    if (!XGetClassHint(d, w, &hint))
        return false;
    const bool sameClass = hint.res_class && wmClass == hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return sameClass && pidOf(d, w) == pid;
}

// Mapped (shown, or inside a window that is hidden now).
bool matches(Display* d, Window w, const QByteArray& wmClass, long long pid)
{
    XWindowAttributes attributes;
    return hasClassAndPid(d, w, wmClass, pid) && XGetWindowAttributes(d, w, &attributes)
        && attributes.map_state != IsUnmapped;
}

// Out of every window manager's hands from now on: no frame, no task bar entry, no focus of its own to take, and
// no pointer input (an empty input region: clicks and the wheel fall through to our window, never to the page).
void makeGuest(Display* d, Window window)
{
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
    int eventBase = 0, errorBase = 0;
    if (XFixesQueryExtension(d, &eventBase, &errorBase)) {
        const XserverRegion none = XFixesCreateRegion(d, nullptr, 0);
        XFixesSetWindowShapeRegion(d, window, ShapeInput, 0, 0, none);
        XFixesDestroyRegion(d, none);
    }
}

// The window being waited for as the browser makes it (see AdoptWhenMade).
struct Adoption {
    Window focusBefore = 0; // the window manager's active window as the browser started
    bool withdrawn = false; // the browser's window was taken from a window manager
    QByteArray wmClass;
    long long pid = 0;
    Window parent = 0;
    Window adopted = 0; // the window taken in
    std::vector<Window> candidates; // the program's top-levels of a browser window's size, their names not yet set
    QSocketNotifier* notifier = nullptr;
};
Adoption g_adoption;

// Puts w inside parent at (0, 0); false when the server refused (a parent it does not know, or no longer knows).
bool reparent(Display* d, Window w, Window parent)
{
    XReparentWindow(d, w, parent, 0, 0);
    XSync(d, False);
    if (parentOf(d, w) == parent)
        return true;
    qCWarning(lcDevTools, "the browser's window 0x%lx could not be put inside 0x%lx", w, parent);
    return false;
}

void tryAdopt(Display* d, Window w)
{
    Adoption& a = g_adoption;
    if (!a.parent || std::find(a.candidates.begin(), a.candidates.end(), w) == a.candidates.end())
        return;
    XWindowAttributes attributes;
    if (!hasClassAndPid(d, w, a.wmClass, a.pid) || !XGetWindowAttributes(d, w, &attributes)
        || attributes.map_state != IsUnmapped || parentOf(d, w) != DefaultRootWindow(d))
        return;
    // Not yet shown: put inside ours before the program maps it, so that no window manager ever sees it.
    makeGuest(d, w);
    if (!reparent(d, w, a.parent))
        return; // left to Embed once it is shown
    a.adopted = w;
    a.parent = 0;
    a.candidates.clear();
}

Window activeWindow(Display* d)
{
    static const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    return static_cast<Window>(firstItem(d, DefaultRootWindow(d), active, XA_WINDOW, 0));
}

// A window manager that managed the browser's window gave it the keyboard focus, and took it to nothing when the
// window was withdrawn: the window that had it gets it back (asked as a pager asks, which managers honour).
void giveFocusBack(Display* d)
{
    const Window before = std::exchange(g_adoption.focusBefore, 0);
    if (!std::exchange(g_adoption.withdrawn, false) || !before || activeWindow(d) == before)
        return;
    XEvent e {};
    e.xclient.type = ClientMessage;
    e.xclient.window = before;
    e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2; // from a pager: the user's own wish
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XFlush(d);
}

void drainEvents(Display* d)
{
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == CreateNotify && !e.xcreatewindow.override_redirect && g_adoption.parent
            && e.xcreatewindow.parent == DefaultRootWindow(d) && e.xcreatewindow.width >= 100
            && e.xcreatewindow.height >= 100) {
            // Its class and process are set a moment later: watched until then.
            g_adoption.candidates.push_back(e.xcreatewindow.window);
            XSelectInput(d, e.xcreatewindow.window, PropertyChangeMask);
            tryAdopt(d, e.xcreatewindow.window);
        } else if (e.type == PropertyNotify) {
            tryAdopt(d, e.xproperty.window);
        }
    }
}

// Depth first below w, to the depth of a window manager's frames (a frame, a decoration, the client).
Window findBelow(Display* d, Window w, const QByteArray& wmClass, long long pid, int depth)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        if (matches(d, children[i], wmClass, pid))
            found = children[i];
    for (unsigned int i = 0; i < count && !found && depth > 1; ++i)
        found = findBelow(d, children[i], wmClass, pid, depth - 1);
    if (children)
        XFree(children);
    return found;
}

// Every window of process pid below w, to the given depth, one line each.
void describeBelow(Display* d, Window w, long long pid, int depth, QString& out)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count))
        return;
    for (unsigned int i = 0; i < count; ++i) {
        const Window c = children[i];
        if (pidOf(d, c) == pid) {
            XClassHint hint { nullptr, nullptr };
            XWindowAttributes attributes {};
            XGetClassHint(d, c, &hint);
            XGetWindowAttributes(d, c, &attributes);
            out += QStringLiteral("0x%1 class %2 in 0x%3, %4x%5, %6%7; ")
                       .arg(c, 0, 16)
                       .arg(QString::fromLocal8Bit(hint.res_class ? hint.res_class : "(none)"))
                       .arg(w, 0, 16)
                       .arg(attributes.width)
                       .arg(attributes.height)
                       .arg(attributes.map_state == IsUnmapped ? QStringLiteral("unmapped") : QStringLiteral("mapped"))
                       .arg(attributes.override_redirect ? QStringLiteral(", override-redirect") : QString());
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        if (depth > 1)
            describeBelow(d, c, pid, depth - 1, out);
    }
    if (children)
        XFree(children);
}

} // namespace

unsigned long AdoptedButNeverShown(const QByteArray& wmClass, long long pid)
{
    Display* d = display();
    const Window w = g_adoption.adopted;
    XWindowAttributes attributes;
    if (!d || !w || !hasClassAndPid(d, w, wmClass, pid) || !XGetWindowAttributes(d, w, &attributes)
        || attributes.map_state != IsUnmapped)
        return 0;
    // The program asked to show it while it was still a top-level: that request went to the window manager, which
    // dropped it once the window was ours. Shown now, as the program meant.
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

QString DescribeWindows(long long pid)
{
    Display* d = display();
    if (!d)
        return {};
    QString out;
    describeBelow(d, DefaultRootWindow(d), pid, 5, out);
    return out.isEmpty() ? QStringLiteral("none") : out;
}

unsigned long FindWindow(const QByteArray& wmClass, long long pid)
{
    Display* d = display();
    if (!d)
        return 0;
    drainEvents(d);
    return findBelow(d, DefaultRootWindow(d), wmClass, pid, 5);
}

void AdoptWhenMade(const QByteArray& wmClass, long long pid, unsigned long parent)
{
    Display* d = display();
    if (!d)
        return;
    g_adoption.focusBefore = activeWindow(d);
    g_adoption.withdrawn = false;
    g_adoption.wmClass = wmClass;
    g_adoption.pid = pid;
    g_adoption.parent = parent;
    g_adoption.candidates.clear();
    g_adoption.adopted = 0;
    if (!g_adoption.notifier) {
        // The root's children as they are made (a window manager's own selection of the root is not touched).
        XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
        g_adoption.notifier = new QSocketNotifier(ConnectionNumber(d), QSocketNotifier::Read, qApp);
        QObject::connect(g_adoption.notifier, &QSocketNotifier::activated, qApp, [d] { drainEvents(d); });
    }
    XFlush(d);
}

Embedding Embed(unsigned long window, unsigned long parent, const QSize& size)
{
    Display* d = display();
    if (!d || !window || !parent)
        return Embedding::NoX11;
    const Window root = DefaultRootWindow(d);
    const Window holder = parentOf(d, window);
    // In a window manager's frame, or managed without a frame of its own (a manager that does not reparent).
    // Withdrawn once (unmapped), the manager drops it (out of its frame, back to the root); until then there is
    // nothing to do but wait.
    if ((holder != root && holder != parent) || (holder == root && wmState(d, window) != 0)) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(d, window, &attributes) && attributes.map_state != IsUnmapped)
            XWithdrawWindow(d, window, DefaultScreen(d));
        XSync(d, False);
        g_adoption.withdrawn = true;
        return Embedding::Waiting;
    }
    makeGuest(d, window);
    if (holder != parent && !reparent(d, window, parent)) {
        // Moved and shown where it is, it would cover the PC monitor's corner: hidden until the next try.
        XUnmapWindow(d, window);
        XSync(d, False);
        return Embedding::Waiting;
    }
    XMoveResizeWindow(d, window, 0, 0, static_cast<unsigned>(std::max(1, size.width())),
                      static_cast<unsigned>(std::max(1, size.height())));
    XMapWindow(d, window);
    XSync(d, False);
    giveFocusBack(d);
    return Embedding::Done;
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

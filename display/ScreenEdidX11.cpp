#include "ScreenEdid.h"

#include <QGuiApplication>

// Xlib's macros (None, Bool, Status ...) clash with Qt's headers, so it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace
{

constexpr long kMaxEdidLongs = 1024 / 4; // a base block with up to seven extensions

QByteArray outputEdid(Display* display, RROutput output)
{
    const Atom edidAtom = XInternAtom(display, "EDID", True);
    if (edidAtom == 0)
        return {};
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    QByteArray edid;
    if (XRRGetOutputProperty(display, output, edidAtom, 0, kMaxEdidLongs, False, False, AnyPropertyType, &type, &format,
                             &items, &after, &data)
            == Success
        && type == XA_INTEGER && format == 8 && data)
        edid = QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(items));
    if (data)
        XFree(data);
    return edid;
}

RROutput findOutput(Display* display, Window root, const QByteArray& name)
{
    RROutput found = 0;
    int count = 0;
    if (XRRMonitorInfo* monitors = XRRGetMonitors(display, root, False, &count)) {
        for (int i = 0; i < count && !found; ++i) {
            char* monitorName = XGetAtomName(display, monitors[i].name);
            if (monitorName && name == monitorName && monitors[i].noutput > 0)
                found = monitors[i].outputs[0];
            if (monitorName)
                XFree(monitorName);
        }
        XRRFreeMonitors(monitors);
    }
    if (found)
        return found;
    if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root)) {
        for (int i = 0; i < resources->noutput && !found; ++i) {
            if (XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i])) {
                if (name == QByteArray(info->name, info->nameLen))
                    found = resources->outputs[i];
                XRRFreeOutputInfo(info);
            }
        }
        XRRFreeScreenResources(resources);
    }
    return found;
}

} // namespace

QByteArray ReadScreenEdid(const QString& screenName)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return {};
    QByteArray edid;
    int event = 0, error = 0, major = 0, minor = 0;
    if (XRRQueryExtension(display, &event, &error) && XRRQueryVersion(display, &major, &minor)
        && (major > 1 || minor >= 5)) {
        if (RROutput output = findOutput(display, DefaultRootWindow(display), screenName.toUtf8()))
            edid = outputEdid(display, output);
    }
    XCloseDisplay(display);
    return edid;
}

#include "DisplayServer.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <X11/Xlib.h>

namespace
{

bool WaylandReachable(const char* name)
{
    // WAYLAND_DISPLAY is a socket name in the runtime folder, or an absolute path.
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime)
            return false;
        path = std::string(runtime) + '/' + path;
    }
    sockaddr_un address {};
    if (path.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool DisplayServerReachable(bool wayland)
{
    if (wayland) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        return WaylandReachable(name && *name ? name : "wayland-0");
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

const char* PreferX11InWaylandSessions()
{
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    if ((chosen && *chosen) || !wayland || !*wayland || !x11 || !*x11)
        return nullptr;
    if (!DisplayServerReachable(false))
        return nullptr;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return "a Wayland session with Xwayland: the windows go through X11, where the TV window stays on the TV and "
           "hosts the browser";
}

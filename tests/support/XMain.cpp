// main() for test programs that need a real X server with two monitors ("PC" primary on the left, "TV" on the
// right) and a web engine: the server starts before the application object so that Qt sees both screens.
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "TestEnv.h"

XvfbServer* g_pXServer = nullptr;

int main(int argc, char** argv)
{
    XvfbServer x;
    g_pXServer = &x;
    // A cache folder of this program's own: the browser's profile lives there, and two browsers on one profile (two
    // test programs side by side) would have the second one end at once.
    QTemporaryDir cache;
    if (qEnvironmentVariableIsEmpty("XDG_CACHE_HOME"))
        qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // No session bus runs here. Without an address libdbus would start one for the tray icon, forking the test (and
    // the programs it starts) while other threads run; under AddressSanitizer such a child can spin forever on a
    // lock another thread held at the fork. An address that leads nowhere makes the tray use the X11 tray instead.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/krel-tests-have-no-session-bus");
    // The web engine runs as root here, without a GPU.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            "--disable-gpu --no-sandbox --disable-background-networking "
            "--disable-component-update");
    // Debian's Chromium, when it is the engine: no GPU, no background services, and as root no sandbox (with its
    // warning bar hidden).
    if (qEnvironmentVariableIsEmpty("KREL_CHROMIUM_FLAGS"))
        qputenv("KREL_CHROMIUM_FLAGS",
                QByteArray("--disable-gpu --disable-background-networking --disable-component-update")
                    + (::geteuid() == 0 ? " --no-sandbox --test-type" : ""));
    // No AA_ShareOpenGLContexts: as in the program, the web view's OpenGL share context is made when it is loaded.
    ::testing::InitGoogleTest(&argc, argv);
    if (!x.isRunning()) {
        // No X server: run nothing, but say so.
        std::fprintf(stderr, "Xvfb with RandR monitors could not be started\n");
        return 1;
    }
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

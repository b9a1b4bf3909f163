// The TV window's web view on Debian's Chromium, under the two-monitor test X server.
#include <csignal>
#include <unistd.h>

#include <QGuiApplication>
#include <QFileInfo>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QImage>
#include <QLabel>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "support/WebPage.h"
#include "tv/AudioRouter.h"
#include "tv/web/ChromiumPage.h"
#include "tv/web/ChromiumVideoView.h"
#include "tv/web/X11Embed.h"
#include "tv/MainFrame.h"
#include "tv/MediaPlugins.h"

// Last: Xlib defines names (None, Bool) that Qt uses.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

extern XvfbServer* g_pXServer;

// The TV window's web view on Chromium, for a page sent as an episode is chosen: video.js made late in a transformed
// container, stretched over the whole TV and on the TV alone, its sound on the TV's card alone; a click on the TV
// never reaches the page; the TV switched off holds the video and switched on goes on; a browser killed under the
// video takes the TV back to its list, and the next video plays in a new browser.
TEST(ChromiumView, PlaysAPageOnTheTvAndSurvivesItsBrowser)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
    TempMachine machine;
    qputenv("KREL_WEB_ENGINE", "chromium"); // whatever engine the run's other web tests use
    ASSERT_EQ(ChosenWebEngine(), WebEngineKind::Chromium);

    PulseServer pulse;
    ASSERT_TRUE(pulse.Start());
    CAudioRouter audio;
    ASSERT_TRUE(WaitFor([&] { return audio.SoundCards().size() == 2; }));
    audio.SetSoundCard(1); // HDMI-TV
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    ASSERT_TRUE(http.IsRunning());
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    g_nScrollY = 0;
    const auto tvRed = [] { return RedShare(CaptureTvScreen(*g_pXServer)); };
    {
        CMainFrame frame;
        frame.show();
        ASSERT_NE(frame.EnsureView(), nullptr);
        auto* view = static_cast<CChromiumVideoView*>(frame.View());
        QSignalSpy enlarged(view, SIGNAL(playersEnlarged(QStringList)));
        frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
        double share = 0;
        EXPECT_TRUE(WaitFor([&] { return (share = tvRed()) >= 0.9; }, 40000)) << "red share " << share;
        EXPECT_TRUE(WaitFor([&] { return pulse.SoundOnlyOn(QStringLiteral("tv")); }, 20000))
            << "no sound on the TV sink alone";
        EXPECT_TRUE(WaitFor([&] {
            return !enlarged.isEmpty()
                && enlarged.last().at(0).toStringList().value(0).endsWith(QLatin1String("/clip.webm"));
        }));
        EXPECT_LT(RedShare(CaptureScreen(*g_pXServer, QRect(0, 0, 1920, 1080))), 0.01);

        // The pointer on the TV is in our window, never in the browser's (whose input region is empty).
        Display* dpy = XOpenDisplay(nullptr);
        ASSERT_NE(dpy, nullptr);
        XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, 2500, 500);
        Window under = DefaultRootWindow(dpy), root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        while (XQueryPointer(dpy, under, &root, &child, &rx, &ry, &wx, &wy, &mask) && child != None)
            under = child;
        XCloseDisplay(dpy);
        EXPECT_EQ(under, view->winId());

        // The TV switched off: the view leaves the TV, and the page, hidden to itself, holds its video; back on, it
        // goes on.
        const WebProbe web(view);
        const auto position
            = [&] { return web.Js(QStringLiteral("document.querySelector('video').currentTime"), true).toDouble(); };
        frame.SetTvScreen(nullptr);
        EXPECT_TRUE(WaitFor([&] { return tvRed() < 0.01; }, 10000));
        double held = -1;
        EXPECT_TRUE(WaitFor(
            [&] {
                const double before = position();
                WaitFor([] { return false; }, 600);
                return (held = position()) == before && held > 0;
            },
            20000))
            << "the page still plays while hidden";
        frame.SetTvScreen(QGuiApplication::screens().value(1));
        EXPECT_TRUE(WaitFor([&] { return tvRed() >= 0.9; }, 20000));
        EXPECT_TRUE(WaitFor([&] { return position() > held + 0.5; }, 20000));

        // The browser killed: the list again, and the next video in a new browser.
        ASSERT_TRUE(frame.Menu().ListSet().IsPlaying());
        ::kill(static_cast<pid_t>(view->BrowserPid()), SIGKILL);
        EXPECT_TRUE(WaitFor([&] { return !view->isVisible() && !frame.Menu().ListSet().IsPlaying(); }, 10000));
        EXPECT_TRUE(WaitFor([&] { return tvRed() < 0.01; }));
        frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
        EXPECT_TRUE(WaitFor([&] { return tvRed() >= 0.9; }, 40000));
    }
    g_rcTvScreen = {};
}

// A hostile page gets nothing of what it asks: the pop-up a click opens is closed at once, its download is refused,
// the camera is refused without a prompt, and its top frame stays on its own address instead of a local file. A page
// that takes its top frame where the browser lets it (a blob: page of its own) is left for an empty page.
TEST(ChromiumView, HostilePageGetsNothing)
{
    TempMachine machine;
    qputenv("KREL_WEB_ENGINE", "chromium"); // whatever engine the run's other web tests use
    ASSERT_EQ(ChosenWebEngine(), WebEngineKind::Chromium);
    HttpServer http { QStringLiteral(KREL_TEST_PAGES) };
    // A camera for the page to ask for (else it is refused for want of a device, not of permission).
    const QByteArray flags = qgetenv("KREL_CHROMIUM_FLAGS");
    qputenv("KREL_CHROMIUM_FLAGS", flags + " --use-fake-device-for-media-stream");
    const auto restore = qScopeGuard([flags] { qputenv("KREL_CHROMIUM_FLAGS", flags); });
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.EnsureView(), nullptr);
    const WebProbe web(frame.View());
    const QString download = QStringLiteral("krel-test-%1.bin").arg(QCoreApplication::applicationPid());
    frame.PlaySentPage(http.Url(QStringLiteral("hostile.html?name=") + download));
    const auto report = [&] { return web.Js(QStringLiteral("window.report")).toMap(); };
    ASSERT_TRUE(WaitFor(
        [&] {
            const QVariantMap r = report();
            return r.contains(QStringLiteral("camera"))
                && r.value(QStringLiteral("camera")) != QLatin1String("pending");
        },
        30000));
    EXPECT_EQ(report().value(QStringLiteral("camera")).toString(), QStringLiteral("refused NotAllowedError"));
    web.Click(QPoint(300, 300));
    ASSERT_TRUE(WaitFor([&] { return report().value(QStringLiteral("popup")) != QLatin1String("none"); }));
    EXPECT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("!window.popup || window.popup.closed")).toBool(); }));
    EXPECT_EQ(web.Url(), http.Url(QStringLiteral("hostile.html?name=") + download));
    for (const QString& dir : { QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                QStandardPaths::writableLocation(QStandardPaths::HomeLocation) })
        EXPECT_FALSE(QFile::exists(dir + QLatin1Char('/') + download)) << dir.toStdString();

    frame.PlaySentPage(http.Url(QStringLiteral("away.html")));
    QString url;
    EXPECT_TRUE(WaitFor([&] { return (url = web.Url()) == QLatin1String("about:blank"); }, 20000)) << url.toStdString();
    g_rcTvScreen = {};
}

// A browser that stops answering, one whose window never appears (another class than the one looked for), and one
// that cannot start: each time the TV goes back to its list with the line and the program goes on, nothing of the
// ended browser is used afterwards (its page's timer runs on for a while after a load), and the next video plays in
// a new browser.
TEST(ChromiumView, ABrowserThatHangsOrHidesItsWindowGivesTheListBack)
{
    TempMachine machine;
    qputenv("KREL_WEB_ENGINE", "chromium");
    ASSERT_EQ(ChosenWebEngine(), WebEngineKind::Chromium);
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    const auto tvRed = [] { return RedShare(CaptureTvScreen(*g_pXServer)); };
    const QByteArray flags = qgetenv("KREL_CHROMIUM_FLAGS");
    const auto restore = qScopeGuard([flags] {
        qputenv("KREL_CHROMIUM_FLAGS", flags);
        g_rcTvScreen = {};
    });
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.EnsureView(), nullptr);
    auto* view = static_cast<CChromiumVideoView*>(frame.View());
    const auto listWithTheLine = [&] {
        const QLabel* notice = frame.findChild<QLabel*>();
        return !frame.Menu().ListSet().IsPlaying() && notice && notice->isVisible()
            && notice->text() == QStringLiteral("浏览器意外退出，请重新选择视频");
    };

    // A browser that ends as it starts (before its page is ready) is started once more by krel, and the video
    // plays; when that one too ends as it starts, the list comes back with the line.
    // (Killed the moment it is there: its page cannot be ready before the event loop has read its pipe.)
    const auto killAsItStarts = [&](qint64 other) {
        qint64 pid = 0;
        return WaitFor([&] {
            pid = view->BrowserPid();
            if (pid == 0 || pid == other)
                return false;
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            return true;
        })
            ? pid
            : 0;
    };
    frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
    const qint64 first = killAsItStarts(0);
    ASSERT_NE(first, 0);
    EXPECT_TRUE(WaitFor([&] { return tvRed() >= 0.9; }, 40000)) << "the browser was not started once more";
    EXPECT_NE(view->BrowserPid(), first);
    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, RC_LeaveVideo, 0));
    ASSERT_TRUE(WaitFor([&] { return !frame.Menu().ListSet().IsPlaying(); }));
    ::kill(static_cast<pid_t>(view->BrowserPid()), SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return view->BrowserPid() == 0; }));
    frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
    const qint64 second = killAsItStarts(0);
    ASSERT_NE(second, 0);
    ASSERT_NE(killAsItStarts(second), 0);
    EXPECT_TRUE(WaitFor(listWithTheLine, 30000)) << "a browser that never starts kept the TV";

    frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
    ASSERT_TRUE(WaitFor([&] { return tvRed() >= 0.9; }, 40000));
    const qint64 hung = view->BrowserPid();
    ::kill(static_cast<pid_t>(hung), SIGSTOP);
    // The pause key asks the page; no answer comes.
    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, RC_PlayPause, 0));
    EXPECT_TRUE(WaitFor(listWithTheLine, 30000)) << "a hung browser kept the TV";
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(hung)));

    qputenv("KREL_CHROMIUM_FLAGS", flags + " --class=elsewhere");
    frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
    ASSERT_TRUE(WaitFor([&] { return view->BrowserPid() != 0 && view->BrowserPid() != hung; }, 10000));
    EXPECT_TRUE(WaitFor([&] { return view->BrowserPid() == 0 && listWithTheLine(); }, 40000))
        << "a browser whose window never came kept the TV";

    // A browser that cannot start (its profile cannot be written).
    qputenv("KREL_CHROMIUM_FLAGS", flags);
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", "/dev/null/cache");
    frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
    EXPECT_TRUE(WaitFor(listWithTheLine, 10000)) << "a browser that never started kept the TV";
    qputenv("XDG_CACHE_HOME", cache);

    frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
    EXPECT_TRUE(WaitFor([&] { return tvRed() >= 0.9; }, 40000)) << "the next video did not play";
}

namespace
{

// The mapped top-level windows of process pid: windows a window manager would show on some monitor.
int TopLevelWindowsOf(qint64 pid)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return -1;
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    int found = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            XWindowAttributes attributes {};
            if (XGetWindowProperty(d, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after,
                                   &data)
                    == Success
                && data && items == 1 && *reinterpret_cast<unsigned long*>(data) == static_cast<unsigned long>(pid)
                && XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable)
                ++found;
            if (data)
                XFree(data);
        }
        XFree(children);
    }
    XCloseDisplay(d);
    return found;
}

// A stand-in for the desktop portal (which opens addresses of other schemes with the user's programs) on a session
// bus of the test's own: it records every call made to it but krel's own screen saver requests.
class PortalStandIn : public QDBusVirtualObject
{
public:
    QStringList calls;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.portal.Inhibit"))
            calls << message.interface() + QLatin1Char('.') + message.member();
        return false;
    }
};

} // namespace

// Nothing a page does reaches past the TV, and all in one browser (the dialogs, on either engine, are
// test_tvwindow's): its question on leaving is answered at once and never shown; addresses of other schemes (from a
// script, a clicked link, a meta refresh) start no program, not even the opener programs first on the PATH, nor reach
// the desktop portal on the session bus krel has; a file input clicked opens no chooser; Picture-in-Picture is not
// there to ask for; and sound the page plays in no element of its document ends as the video is left.
TEST(ChromiumView, NothingAPageDoesReachesPastTheTv)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
    TempMachine machine;
    qputenv("KREL_WEB_ENGINE", "chromium");
    ASSERT_EQ(ChosenWebEngine(), WebEngineKind::Chromium);
    // Opener programs of the test's own, first on the PATH: each leaves a mark if it is ever started.
    QTemporaryDir openers;
    for (const char* name : { "xdg-open", "xdg-email", "gio" }) {
        QFile stub(openers.filePath(QLatin1String(name)));
        ASSERT_TRUE(stub.open(QIODevice::WriteOnly));
        stub.write("#!/bin/sh\ntouch \"$0.started\"\n");
        stub.close();
        stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", openers.path().toLocal8Bit() + ':' + path);
    PrivateSessionBus bus;
    QDBusConnection portalBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("portal"));
    PortalStandIn portal;
    ASSERT_TRUE(portalBus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                                QDBusConnection::SubPath));
    ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    PulseServer pulse;
    ASSERT_TRUE(pulse.Start());
    CAudioRouter audio;
    ASSERT_TRUE(WaitFor([&] { return audio.SoundCards().size() == 2; }));
    HttpServer http { QStringLiteral(KREL_TEST_PAGES) };
    HttpServer clips { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    const auto restore = qScopeGuard([path] {
        g_rcTvScreen = {};
        qputenv("PATH", path);
    });
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.EnsureView(), nullptr);
    auto* view = static_cast<CChromiumVideoView*>(frame.View());
    const WebProbe web(view);
    const auto report = [&] { return web.Js(QStringLiteral("window.report")).toMap(); };

    // The page that reaches; left for an empty page in spite of its wish to stay.
    const QString reach = http.Url(QStringLiteral("reach.html?audio=") + clips.Url(QStringLiteral("clip.webm")));
    frame.PlaySentPage(reach);
    ASSERT_TRUE(WaitFor(
        [&] {
            const QVariantMap r = report();
            return r.value(QStringLiteral("step")) == QLatin1String("asked") && r.contains(QStringLiteral("audio"))
                && r.contains(QStringLiteral("small"));
        },
        30000));
    const qint64 browser = view->BrowserPid();
    EXPECT_EQ(report().value(QStringLiteral("audio")).toString(), QStringLiteral("playing"));
    QSignalSpy refused(view->Page(), &CChromiumPage::fileChooserRefused);
    web.Click(QPoint(480, 540));
    EXPECT_TRUE(WaitFor([&] { return refused.size() == 1; }, 10000)) << "the click opened no file chooser we took";
    EXPECT_EQ(report().value(QStringLiteral("clicks")).toInt(), 1);
    web.Click(QPoint(1440, 540));
    ASSERT_TRUE(WaitFor([&] { return report().contains(QStringLiteral("pip")); }));
    EXPECT_EQ(report().value(QStringLiteral("pip")).toString(), QStringLiteral("NotSupportedError"));
    EXPECT_NE(report().value(QStringLiteral("documentPip")).toString(), QStringLiteral("opened"));
    EXPECT_EQ(TopLevelWindowsOf(browser), 0) << "a window of the browser outside the TV window";
    EXPECT_TRUE(WaitFor([&] { return !pulse.SinkInputs().empty(); }, 20000)) << "the page's sound never played";
    EXPECT_EQ(web.Url(), reach) << "the page went to another scheme's address";

    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, RC_LeaveVideo, 0));
    EXPECT_TRUE(WaitFor([&] { return web.Url() == QLatin1String("about:blank"); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return pulse.SinkInputs().empty(); }, 10000)) << "the page's sound outlived it";
    EXPECT_EQ(view->BrowserPid(), browser);

    // The next page plays in the same browser; no opener program was ever started.
    frame.PlaySentPage(http.Url(QStringLiteral("players.html")));
    EXPECT_TRUE(WaitFor([&] { return web.Url() == http.Url(QStringLiteral("players.html")); }, 20000));
    EXPECT_EQ(view->BrowserPid(), browser);
    for (const char* name : { "xdg-open", "xdg-email", "gio" })
        EXPECT_FALSE(QFile::exists(openers.filePath(QLatin1String(name) + QStringLiteral(".started")))) << name;
    EXPECT_TRUE(portal.calls.isEmpty()) << portal.calls.join(QLatin1String("; ")).toStdString();
    portalBus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
    QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
}

// A player that comes late is stretched all the same: one that an in-page navigation (history.pushState) brings after
// the page stopped being watched (the watch is shortened to a second for the test), and one that comes after an ad
// frame was taken.
TEST(ChromiumView, APlayerComingLateIsStretched)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
    TempMachine machine;
    qputenv("KREL_WEB_ENGINE", "chromium");
    qputenv("KREL_PAGE_WATCH_MS", "1000");
    HttpServer http { QStringLiteral(KREL_TEST_PAGES) };
    HttpServer clips { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    const auto restore = qScopeGuard([] {
        g_rcTvScreen = {};
        qunsetenv("KREL_PAGE_WATCH_MS");
    });
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.EnsureView(), nullptr);
    auto* view = static_cast<CChromiumVideoView*>(frame.View());
    QSignalSpy enlarged(view, SIGNAL(playersEnlarged(QStringList)));
    frame.PlaySentPage(http.Url(QStringLiteral("late.html?push&after=4000&clip="))
                       + clips.Url(QStringLiteral("clip.webm")));
    EXPECT_TRUE(WaitFor(
        [&] {
            return !enlarged.isEmpty()
                && enlarged.last().at(0).toStringList().value(0).endsWith(QLatin1String("/clip.webm"));
        },
        30000))
        << "the player that came with pushState was never stretched";
    EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) >= 0.9; }, 20000));

    // A video that comes after an ad frame was taken (the frame is taken once no video came for a moment) wins.
    qputenv("KREL_PAGE_WATCH_MS", "30000");
    enlarged.clear();
    frame.PlaySentPage(http.Url(QStringLiteral("late.html?ad&after=6000&clip="))
                       + clips.Url(QStringLiteral("clip.webm")));
    EXPECT_TRUE(WaitFor(
        [&] {
            return !enlarged.isEmpty()
                && enlarged.first().at(0).toStringList().value(0).endsWith(QLatin1String("frame.html"));
        },
        30000))
        << "the ad frame was never taken";
    EXPECT_TRUE(WaitFor(
        [&] { return enlarged.last().at(0).toStringList().value(0).endsWith(QLatin1String("/clip.webm")); }, 30000))
        << "the late video lost to the ad frame";
    EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) >= 0.9; }, 20000));
}

// A browser's window that cannot go inside the TV's (the server does not know the parent yet, or any more) is never
// moved to the root's corner and shown there, over the PC monitor: it waits hidden, and goes in once it can.
TEST(ChromiumView, AWindowThatCannotGoInsideIsNotShownOnThePc)
{
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    const auto guard = qScopeGuard([d] { XCloseDisplay(d); });
    const Window root = DefaultRootWindow(d);
    const Window browser = XCreateSimpleWindow(d, root, 1920, 0, 640, 360, 0, 0, 0);
    const Window tv = XCreateSimpleWindow(d, root, 1920, 0, 1920, 1080, 0, 0, 0);
    XMapWindow(d, tv);
    const Window unknown = tv + 1000; // no window of the server
    XSync(d, False);
    const auto where = [&] {
        Window r = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        XQueryTree(d, browser, &r, &parent, &children, &count);
        if (children)
            XFree(children);
        XWindowAttributes a {};
        XGetWindowAttributes(d, browser, &a);
        return std::make_pair(parent, a.map_state);
    };

    EXPECT_EQ(X11Embed::Embed(browser, unknown, QSize(1920, 1080)), X11Embed::Embedding::Waiting);
    EXPECT_EQ(where(), std::make_pair(root, IsUnmapped));
    EXPECT_EQ(X11Embed::Embed(browser, tv, QSize(1920, 1080)), X11Embed::Embedding::Done);
    EXPECT_EQ(where(), std::make_pair(tv, IsViewable));
}

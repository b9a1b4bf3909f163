// Debian's Chromium on the TV monitor of the test X server: its window inside one of ours (found by its class and
// process, reparented, on the TV and nowhere else), and the TV window's web view on it playing a web player's page.
#include <csignal>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/Settings.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/ChromiumProcess.h"
#include "tv/DevToolsPipe.h"
#include "tv/AudioRouter.h"
#include "tv/ChromiumPage.h"
#include "tv/ChromiumVideoView.h"
#include "tv/MainFrame.h"
#include "tv/MediaPlugins.h"
#include "tv/WebVideoView.h"
#include "tv/X11Embed.h"

// Last: Xlib defines names (None, Bool) that Qt uses.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

extern XvfbServer* g_pXServer;

namespace
{

class PressCounter : public QObject
{
public:
    PressCounter(int* presses, QObject* parent)
        : QObject(parent)
        , m_pPresses(presses)
    {
    }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::MouseButtonPress)
            ++*m_pPresses;
        return false;
    }

private:
    int* m_pPresses;
};

// The browser's flags here: no GPU, no background services, and as root no sandbox (with its warning bar hidden).
QStringList testFlags()
{
    QStringList flags { QStringLiteral("--disable-gpu"), QStringLiteral("--disable-background-networking"),
                        QStringLiteral("--disable-component-update") };
    if (::geteuid() == 0)
        flags << QStringLiteral("--no-sandbox") << QStringLiteral("--test-type");
    return flags;
}

} // namespace

TEST(ChromiumEmbed, ItsWindowShowsInsideOursOnTheTv)
{
    ASSERT_TRUE(CChromiumProcess::IsInstalled()) << "chromium is a dependency of the program";
    QWidget host;
    host.setAttribute(Qt::WA_NativeWindow);
    host.setStyleSheet(QStringLiteral("background: black;"));
    host.setGeometry(1920, 0, 1920, 1080);
    host.setWindowFlags(Qt::FramelessWindowHint);
    host.show();
    ASSERT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) < 0.01 && host.isVisible(); }));

    QTemporaryDir profile;
    CChromiumProcess::Options options;
    options.profileDir = profile.path();
    options.firstPage = QStringLiteral("data:text/html,<body style='margin:0;background:%23ff0000'></body>");
    options.extraArguments = { QStringLiteral("--disable-gpu"), QStringLiteral("--disable-background-networking"),
                               QStringLiteral("--window-position=100,100"), QStringLiteral("--window-size=640,480") };
    if (::geteuid() == 0)
        options.extraArguments << QStringLiteral("--no-sandbox") << QStringLiteral("--test-type");
    CChromiumProcess browser;
    ASSERT_TRUE(browser.Start(options));
    unsigned long window = 0;
    ASSERT_TRUE(WaitFor([&] { return (window = X11Embed::FindWindow("krel-tv", browser.Pid())) != 0; }, 30000));
    ASSERT_TRUE(X11Embed::Embed(window, host.winId(), host.size()));

    // The page fills the TV, and the PC monitor shows none of it.
    EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) > 0.95; }, 30000))
        << RedShare(CaptureTvScreen(*g_pXServer));
    EXPECT_LT(RedShare(CaptureScreen(*g_pXServer, QRect(0, 0, 1920, 1080))), 0.01);
    // A click on the TV reaches our window, never the page.
    int presses = 0;
    host.installEventFilter(new PressCounter(&presses, &host));
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, 2500, 500);
    XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
    XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    EXPECT_TRUE(WaitFor([&] { return presses == 1; }));
    // Hidden with our window, it leaves the TV.
    host.hide();
    EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) < 0.01; }, 10000));
    browser.Stop();
}

// The TV window's web view on Chromium: video.js made late in a transformed container, stretched over the whole TV,
// its sound on the TV's sound card alone.
TEST(ChromiumView, PlaysAWebPlayerOverTheWholeTv)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
    TempMachine machine;
    WriteSetting(QString::fromLatin1(SettingKey::WebEngine), QStringLiteral("chromium"));
    qputenv("KREL_CHROMIUM_FLAGS", testFlags().join(QLatin1Char(' ')).toUtf8());
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
    {
        CMainFrame frame;
        frame.show();
        ASSERT_NE(frame.EnsureView(), nullptr);
        QSignalSpy enlarged(frame.View()->Widget(), SIGNAL(playersEnlarged(QStringList)));
        QCoreApplication::postEvent(&frame, new CPlayUrlEvent(http.Url(QStringLiteral("videojs.html"))));
        double share = 0;
        EXPECT_TRUE(WaitFor([&] { return (share = RedShare(CaptureTvScreen(*g_pXServer))) >= 0.9; }, 40000))
            << "red share " << share;
        EXPECT_TRUE(WaitFor([&] { return pulse.SoundOnlyOn(QStringLiteral("tv")); }, 20000))
            << "no sound on the TV sink alone";
        EXPECT_TRUE(WaitFor([&] {
            return !enlarged.isEmpty()
                && enlarged.last().at(0).toStringList().value(0).endsWith(QLatin1String("/clip.webm"));
        }));
        EXPECT_LT(RedShare(CaptureScreen(*g_pXServer, QRect(0, 0, 1920, 1080))), 0.01);

        // The TV switched off: the view is hidden, and the page, hidden to itself, holds its video; back on, it
        // goes on.
        auto* view = static_cast<CChromiumVideoView*>(frame.View());
        const auto position = [&] {
            double at = -1;
            bool answered = false;
            view->Page()->Evaluate(QStringLiteral("document.querySelector('video').currentTime"),
                                   [&](const QJsonValue& v) {
                                       at = v.toDouble(-1);
                                       answered = true;
                                   });
            WaitFor([&] { return answered; });
            return at;
        };
        frame.SetTvScreen(nullptr);
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
        EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) >= 0.9; }, 20000));
        EXPECT_TRUE(WaitFor([&] { return position() > held + 0.5; }, 20000));
    }
}

// The browser killed under a chosen episode: krel stays, the TV shows the address list again, and the next choice
// plays in a new browser.
TEST(ChromiumView, ABrowserThatDiesLeavesTheAddressListAndComesBackForTheNextVideo)
{
    TempMachine machine;
    WriteSetting(QString::fromLatin1(SettingKey::WebEngine), QStringLiteral("chromium"));
    qputenv("KREL_CHROMIUM_FLAGS", testFlags().join(QLatin1Char(' ')).toUtf8());
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    {
        CMainFrame frame;
        frame.show();
        // An episode chosen as the remote chooses it: the menu is in its playing state.
        frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
        ASSERT_TRUE(WaitFor([&] { return frame.View() && frame.View()->Widget()->isVisible(); }, 10000));
        auto* view = static_cast<CChromiumVideoView*>(frame.View());
        ASSERT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) >= 0.9; }, 40000));
        ASSERT_TRUE(frame.Menu().ListSet().IsPlaying());
        ::kill(static_cast<pid_t>(view->BrowserPid()), SIGKILL);
        EXPECT_TRUE(WaitFor([&] { return !view->isVisible() && !frame.Menu().ListSet().IsPlaying(); }, 10000));
        EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) < 0.01; }));

        frame.PlaySentPage(http.Url(QStringLiteral("videojs.html")));
        EXPECT_TRUE(WaitFor([&] { return RedShare(CaptureTvScreen(*g_pXServer)) >= 0.9; }, 40000));
    }
    g_rcTvScreen = {};
    qunsetenv("KREL_CHROMIUM_FLAGS");
    g_rcTvScreen = {};
    qunsetenv("KREL_CHROMIUM_FLAGS");
}

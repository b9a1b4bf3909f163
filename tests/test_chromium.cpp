// Debian's Chromium on the TV monitor of the test X server: its window inside one of ours (found by its class and
// process, reparented, on the TV and nowhere else), and the TV window's web view on it playing a web player's page.
#include <unistd.h>

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
#include "tv/MainFrame.h"
#include "tv/MediaPlugins.h"
#include "tv/WebVideoView.h"
#include "tv/X11Embed.h"

extern XvfbServer* g_pXServer;

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
    QStringList flags { QStringLiteral("--disable-gpu"), QStringLiteral("--disable-background-networking"),
                        QStringLiteral("--disable-component-update") };
    if (::geteuid() == 0)
        flags << QStringLiteral("--no-sandbox") << QStringLiteral("--test-type");
    qputenv("KREL_CHROMIUM_FLAGS", flags.join(QLatin1Char(' ')).toUtf8());
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
    }
    g_rcTvScreen = {};
    qunsetenv("KREL_CHROMIUM_FLAGS");
}

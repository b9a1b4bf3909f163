// Debian's Chromium inside a window of ours on the TV monitor of the test X server: its window is found by its
// class and process, reparented into ours, and what it shows is on the TV and nowhere else.
#include <unistd.h>

#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/ChromiumProcess.h"
#include "tv/DevToolsPipe.h"
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

#include <gtest/gtest.h>

#include "MouseCtl/MouseCtl.h"
#include "common/Settings.h"
#include "support/PointerPush.h"
#include "support/TestEnv.h"

#include <X11/Xlib.h>

TEST(MouseCtl, KeepsPointerOffTheTelevision)
{
    TempMachine machine;
    XvfbServer x;
    if (!x.isRunning())
        GTEST_SKIP() << "Xvfb with RandR monitors is not available";
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);

    // Nothing confined: the pointer crosses onto the TV monitor.
    MouseLimitDisable();
    EXPECT_GE(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);

    // TV chosen: the pointer stops at the edge, and a pointer on the TV is brought back.
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("1920 0 3840 1080"));
    XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, 2500, 500);
    XSync(dpy, False);
    EXPECT_EQ(MouseLimitEnable(), 1);
    EXPECT_LT(pushPointer(dpy, { 1000, 500 }, 0, 0).x(), 1920);
    EXPECT_LT(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);
    EXPECT_LT(pushPointer(dpy, { 1910, 100 }, 200, 300).x(), 1920);

    // Lifted again: crossing works.
    MouseLimitDisable();
    EXPECT_GE(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);

    // PC chosen as TV: the barrier sits on the other side.
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("0 0 1920 1080"));
    XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, 2500, 500);
    XSync(dpy, False);
    EXPECT_EQ(MouseLimitEnable(), 1);
    EXPECT_GE(pushPointer(dpy, { 1930, 500 }, -100, 0).x(), 1920);
    MouseLimitDisable();

    // The TV given by its monitor's name: its rectangle may be in another scale (a scaled desktop); the name wins.
    // A name no monitor has falls back to the rectangle.
    EXPECT_EQ(MouseLimitEnableTv("TV", 960, 0, 1920, 540), 1);
    EXPECT_LT(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);
    EXPECT_EQ(MouseLimitEnableTv("HDMI-9", 1920, 0, 3840, 1080), 1);
    EXPECT_LT(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);
    EXPECT_EQ(MouseLimitEnableTv("HDMI-9", 960, 0, 1920, 540), 0);
    EXPECT_GE(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);
    MouseLimitDisable();

    // No TV stored: every monitor is desktop and nothing needs confining.
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QString());
    EXPECT_EQ(MouseLimitEnable(), 0);
    EXPECT_GE(pushPointer(dpy, { 1900, 500 }, 100, 0).x(), 1920);
    MouseLimitDisable();
    XCloseDisplay(dpy);
}

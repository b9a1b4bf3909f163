#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWindow>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>
#include <linux/input.h>
#include <unistd.h>

#include "bench/ProcessMemory.h"
#include "catalogue/ItemBase.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "remote/InputDevices.h"
#include "remote/KeyRouter.h"
#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "support/WebPage.h"
#include "tv/MainFrame.h"
#include "tv/web/OnlineVideoView.h"

extern XvfbServer* g_pXServer;

namespace
{

// Where the X server has the window: absolute position and size from xwininfo.
QRect xGeometry(const QWidget& w)
{
    QByteArray out;
    g_pXServer->run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), QString::number(w.winId()) }, &out);
    auto field = [&](const char* name) {
        const QRegularExpression re(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)"));
        return re.match(QString::fromLatin1(out)).captured(1).toInt();
    };
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
}

QScreen* screenNamed(const QString& name)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

void post(QObject* target, int command)
{
    QCoreApplication::postEvent(target, new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(command), 0));
}

} // namespace

TEST(TvWindow, CoversTheChosenScreenOrThePrimary)
{
    TempMachine machine;
    ASSERT_NE(screenNamed(QStringLiteral("TV")), nullptr) << "the test X server has no TV monitor";
    g_rcTvScreen = ScreenRect::fromQRect(screenNamed(QStringLiteral("TV"))->geometry());
    {
        CMainFrame frame;
        frame.show();
        ASSERT_TRUE(WaitFor([&] { return xGeometry(frame) == QRect(1920, 0, 1920, 1080); })) << xGeometry(frame).x();
        // The native window belongs to the TV's screen, not only to its rectangle.
        EXPECT_EQ(frame.windowHandle()->screen()->name(), QStringLiteral("TV"));
        EXPECT_EQ(frame.windowTitle(), QStringLiteral("MIRA"));
        EXPECT_TRUE(frame.windowFlags() & Qt::FramelessWindowHint);
        // The menu alone makes no web view (and so starts no web engine).
        EXPECT_EQ(frame.View(), nullptr);
        ASSERT_NE(frame.EnsureView(), nullptr);
        EXPECT_EQ(frame.View()->Widget()->geometry(), QRect(0, 0, 1920, 1080));
        EXPECT_FALSE(frame.View()->Widget()->isVisible());

        // Close requests and keys change nothing.
        QCloseEvent close;
        QCoreApplication::sendEvent(&frame, &close);
        QCoreApplication::processEvents();
        EXPECT_TRUE(frame.isVisible());
        EXPECT_FALSE(frame.close());
        const int state = frame.Menu().ListSet().State();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
        QCoreApplication::sendEvent(&frame, &key);
        QKeyEvent altF4(QEvent::KeyPress, Qt::Key_F4, Qt::AltModifier);
        QCoreApplication::sendEvent(&frame, &altF4);
        QCoreApplication::processEvents();
        EXPECT_TRUE(frame.isVisible());
        EXPECT_EQ(frame.Menu().ListSet().State(), state);
    }

    g_rcTvScreen = {};
    CMainFrame primary;
    primary.show();
    EXPECT_EQ(g_rcTvScreen, (ScreenRect { 0, 0, 1920, 1080 }));
    EXPECT_TRUE(WaitFor([&] { return xGeometry(primary) == QRect(0, 0, 1920, 1080); }));
    EXPECT_EQ(primary.windowHandle()->screen()->name(), QStringLiteral("PC"));
    g_rcTvScreen = {};
}

TEST(TvWindow, RegistersWithTheRouterAndTakesCommands)
{
    TempMachine machine;
    CRemoteKeyRouter router;
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    auto frame = std::make_unique<CMainFrame>(&router);
    EXPECT_EQ(router.TvWindow(), frame.get());
    // Keys through the router reach this window: Back leads from the types to the home screen.
    router.PostKey(RC_Back, 0);
    ASSERT_TRUE(WaitFor([&] { return frame->Menu().ListSet().State() == CItemListSet::Home; }));
    // A volume key without an audio router must not crash the window; the next key still walks the menu.
    post(frame.get(), RC_VolumeUp);
    router.PostKey(RC_Digit3, 0);
    EXPECT_TRUE(WaitFor([&] { return frame->Menu().ListSet().State() == CItemListSet::LocalMovies; }));
    frame.reset();
    EXPECT_EQ(router.TvWindow(), nullptr);
    g_rcTvScreen = {};
}

// The web view: of the qualifying players the largest is stretched over the TV, the page is scrolled, frames and
// address-less players are left alone, stop returns to the menu, and addresses of other schemes are refused.
TEST(TvWindow, WebViewStretchesTheLargestQualifyingPlayer)
{
    TempMachine machine;
    HttpServer http(QStringLiteral(KREL_TEST_PAGES));
    ASSERT_TRUE(http.IsRunning());
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    g_nScrollY = 700;
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.EnsureView(), nullptr);
    const WebProbe web(frame.View());
    QWidget* view = web.Widget();
    QSignalSpy enlarged(view, SIGNAL(playersEnlarged(QStringList)));

    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(http.Url(QStringLiteral("players.html"))));
    ASSERT_TRUE(WaitFor([&] { return enlarged.count() == 1; }, 60000));
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(enlarged.at(0).at(0).toStringList(), QStringList { http.Url(QStringLiteral("clip.webm")) });

    // The extent rules (HIMETRIC) and the movie address, as the page script applies them.
    EXPECT_EQ(web.Js(QStringLiteral("Array.from(document.querySelectorAll('.p')).map(function (e) {"
                                    " return e.id + '=' + __krelQualifies(e); }).join(' ')"),
                     true)
                  .toString(),
              QStringLiteral("e400x300=true o300x400=false e1000x300=false o600x200=true e100x100=false v=true f=true "
                             "noaddr=false"));

    const QVariantList boxes
        = web.Js(QStringLiteral("Array.from(document.querySelectorAll('.p')).map(function (e) {"
                                " var r = e.getBoundingClientRect();"
                                " return [e.id, Math.round(r.left), Math.round(r.top), Math.round(r.width),"
                                " Math.round(r.height)]; })"))
              .toList();
    ASSERT_EQ(boxes.size(), 8);
    for (const QVariant& b : boxes) {
        const QVariantList box = b.toList();
        const QString id = box[0].toString();
        const QRect r(box[1].toInt(), box[2].toInt(), box[3].toInt(), box[4].toInt());
        if (id == QLatin1String("v"))
            EXPECT_EQ(r, QRect(0, 0, 1920, 1080));
        else
            EXPECT_LE(r.width(), 800) << id.toStdString();
    }
    EXPECT_EQ(web.Js(QStringLiteral("window.scrollY")).toInt(), 700);

    // The frame navigating again changes nothing: when the page script has looked at the page after the frame's new
    // document loaded, the video is still the one stretched.
    web.Js(QStringLiteral("var f = document.getElementById('f'); f.onload = function () { window.frameLoaded = true; };"
                          " f.src = 'frame.html?again'; 1"));
    ASSERT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("window.frameLoaded === true")).toBool(); }));
    const auto poll = [&] { return web.Js(QStringLiteral("__krelState()"), true).toMap(); };
    const int looks = poll().value(QStringLiteral("looks")).toInt();
    QVariantMap state;
    ASSERT_TRUE(WaitFor([&] { return (state = poll()).value(QStringLiteral("looks")).toInt() > looks; }));
    EXPECT_EQ(state.value(QStringLiteral("serial")).toInt(), 1);
    EXPECT_EQ(state.value(QStringLiteral("address")).toString(), http.Url(QStringLiteral("clip.webm")));
    EXPECT_EQ(enlarged.count(), 1);

    // Wheel and keys never reach the page; a click after them does (so they were handled before it). (On Chromium
    // the browser's window takes no input at all: its own test asks the X server where the pointer's events go.)
    if (!web.IsChromium()) {
        web.Js(QStringLiteral("window.input = { key: 0, wheel: 0, click: 0 };"
                              " addEventListener('keydown', function () { ++input.key; }, true);"
                              " addEventListener('wheel', function () { ++input.wheel; }, true);"
                              " addEventListener('mousedown', function () { ++input.click; }, true); 1"));
        QWidget* surface = view->focusProxy() ? view->focusProxy() : view;
        QTest::keyClick(surface, Qt::Key_Down);
        QWheelEvent wheel(QPointF(50, 50), surface->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(surface, &wheel);
        web.Click(QPoint(5, 5));
        ASSERT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("input.click")).toInt() > 0; }));
        EXPECT_EQ(web.Js(QStringLiteral("input.key + input.wheel")).toInt(), 0);
    }

    // The next page's first stretch is reported too (each page counts its stretches from 0).
    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(http.Url(QStringLiteral("players.html?again"))));
    EXPECT_TRUE(WaitFor([&] { return enlarged.count() == 2; }, 60000));

    // A stop command: the view goes blank and hidden, the menu takes the command.
    post(&frame, RC_LeaveVideo);
    ASSERT_TRUE(WaitFor([&] { return !view->isVisible(); }));
    EXPECT_TRUE(WaitFor([&] { return web.Url() == QLatin1String("about:blank"); }));

    // The catalogue is outside input: an address of another scheme is not opened and the menu stays.
    // Files only inside the installed pages, as real paths.
    const QString pages = machine.root() + QStringLiteral("/pages");
    WriteFile(pages + QStringLiteral("/a.html"), "a");
    WriteFile(machine.root() + QStringLiteral("/secret.html"), "s");
    WriteFile(machine.root() + QStringLiteral("/pagesx/a.html"), "x");
    QFile::link(machine.root() + QStringLiteral("/secret.html"), pages + QStringLiteral("/link.html"));
    const QString inside = QUrl::fromLocalFile(pages + QStringLiteral("/a.html")).toString();
    for (const QString& address : { QStringLiteral("file:///etc/passwd"), QStringLiteral("javascript:alert(1)"),
                                    QStringLiteral("data:text/html,x"), QStringLiteral("ftp://h/x"), QString(),
                                    QUrl::fromLocalFile(pages + QStringLiteral("/../secret.html")).toString(),
                                    QUrl::fromLocalFile(pages + QStringLiteral("/link.html")).toString(),
                                    QUrl::fromLocalFile(pages + QStringLiteral("x/a.html")).toString() })
        EXPECT_FALSE(IsAllowedWebAddress(QUrl(address), pages)) << address.toStdString();
    EXPECT_FALSE(IsAllowedWebAddress(QUrl(inside), QString()));
    for (const QString& address :
         { QStringLiteral("http://h/x"), QStringLiteral("HTTPS://h/x"), QStringLiteral("about:blank"), inside })
        EXPECT_TRUE(IsAllowedWebAddress(QUrl(address), pages)) << address.toStdString();
    // The refused address is handled before the Back posted after it has taken the menu home.
    ASSERT_NE(frame.Menu().ListSet().State(), CItemListSet::Home);
    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(QStringLiteral("file:///etc/passwd")));
    post(&frame, RC_Back);
    ASSERT_TRUE(WaitFor([&] { return frame.Menu().ListSet().State() == CItemListSet::Home; }));
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(web.Url(), QLatin1String("about:blank"));

    // The page's renderer killed (a crash, the kernel's out-of-memory killer): the page is opened again; killed
    // again, the TV goes back to the address list with a line.
    const auto killRenderers = [] {
        int killed = 0;
        for (qint64 pid : DescendantsOf(::getpid())) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("--type=renderer"))
                killed += ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
        }
        return killed;
    };
    frame.PlaySentPage(http.Url(QStringLiteral("players.html?crash")));
    ASSERT_TRUE(WaitFor([&] { return enlarged.count() == 3; }, 60000));
    ASSERT_GT(killRenderers(), 0);
    EXPECT_TRUE(WaitFor([&] { return enlarged.count() == 4; }, 60000)) << "the page was not opened again";
    EXPECT_TRUE(view->isVisible());
    ASSERT_TRUE(frame.Menu().ListSet().IsPlaying());
    ASSERT_GT(killRenderers(), 0);
    EXPECT_TRUE(WaitFor([&] { return !view->isVisible() && !frame.Menu().ListSet().IsPlaying(); }, 20000));
    const auto labels = frame.findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_EQ(labels.first()->text(), QStringLiteral("网页意外退出，请重新选择视频"));
    g_rcTvScreen = {};
    g_nScrollY = 0;
}

// What a page gets, on either engine. Dialogs (alert, confirm, prompt) are answered at once, and a page that asks to
// be kept when it is left (after a click gave it a user's gesture) is left all the same. The one click a page is
// ever given is for a chosen video that did not play, at its centre, once per page: a plug-in player gets none, a
// second video that does not play gets none, and a covered one none (the only clicks the pages count besides that
// one are the test's own).
TEST(TvWindow, APageGetsNoAnswerThatKeepsItAndOneClickAtMost)
{
    TempMachine machine;
    HttpServer http(QStringLiteral(KREL_TEST_PAGES));
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    CMainFrame frame;
    frame.show();
    ASSERT_NE(frame.EnsureView(), nullptr);
    const WebProbe web(frame.View());
    const auto report = [&] { return web.Js(QStringLiteral("window.report")).toMap(); };
    frame.PlaySentPage(http.Url(QStringLiteral("dialogs.html")));
    ASSERT_TRUE(WaitFor([&] { return report().value(QStringLiteral("step")) == QLatin1String("done"); }, 30000))
        << report().value(QStringLiteral("step")).toString().toStdString();
    EXPECT_EQ(report().value(QStringLiteral("confirmed")), QVariant(false));
    EXPECT_TRUE(report().value(QStringLiteral("prompted")).isNull());
    web.Click(QPoint(5, 5));
    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, RC_LeaveVideo, 0));
    EXPECT_TRUE(WaitFor([&] { return web.Url() == QLatin1String("about:blank"); }, 10000)) << web.Url().toStdString();

    const auto state
        = [&] { return web.Js(QStringLiteral("window.__krelState ? __krelState() : null"), true).toMap(); };
    // Waits until the page script has considered a click for the n-th video that did not play, and krel has taken
    // (or dropped) it.
    const auto considered = [&](int refusals) -> testing::AssertionResult {
        QVariantMap s;
        if (WaitFor(
                [&] {
                    s = state();
                    return s.value(QStringLiteral("refusals")).toInt() == refusals
                        && !s.value(QStringLiteral("clickPending")).toBool();
                },
                20000))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << QJsonDocument(QJsonObject::fromVariantMap(s)).toJson().toStdString();
    };

    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(http.Url(QStringLiteral("covered.html"))));
    ASSERT_TRUE(considered(1));
    web.Click(QPoint(5, 5));
    ASSERT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("coverClicks")).toInt() > 0; }));
    EXPECT_EQ(web.Js(QStringLiteral("coverClicks")).toInt(), 1);

    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(http.Url(QStringLiteral("clicks.html"))));
    ASSERT_TRUE(WaitFor(
        [&] {
            const QVariantMap s = state();
            return s.value(QStringLiteral("address")).toString().endsWith(QLatin1String("movie.swf"))
                && s.value(QStringLiteral("starts")).toInt() == 1;
        },
        20000))
        << "the plug-in player was never chosen";
    web.Js(QStringLiteral("swap(1)"));
    ASSERT_TRUE(considered(1));
    ASSERT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("clicks")).toInt() == 1; }))
        << "the video that did not play was not clicked";
    web.Js(QStringLiteral("swap(2)"));
    ASSERT_TRUE(considered(2));
    web.Click(QPoint(5, 5));
    ASSERT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("clicks")).toInt() > 1; }));
    EXPECT_EQ(web.Js(QStringLiteral("clicks")).toInt(), 2);
    g_rcTvScreen = {};
}

// Run as root with the web engine's sandbox on, the engine would end the program: a video is refused with a line on
// the TV, no web view is made, and the menu goes on.
TEST(TvWindow, RootWithTheSandboxOnRefusesWebVideo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    TempMachine machine;
    const QByteArray disable = qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                     chromiumFlags = qgetenv("KREL_CHROMIUM_FLAGS");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    qunsetenv("KREL_CHROMIUM_FLAGS");
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    CMainFrame frame;
    frame.show();
    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(QStringLiteral("http://127.0.0.1:9/video.html")));
    EXPECT_TRUE(WaitFor([&] {
        const auto labels = frame.findChildren<QLabel*>();
        return !labels.isEmpty() && labels.first()->isVisible()
            && labels.first()->text() == QStringLiteral("以 root 身份运行时不能播放网络视频");
    }));
    EXPECT_EQ(frame.View(), nullptr);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", disable);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    qputenv("KREL_CHROMIUM_FLAGS", chromiumFlags);
    g_rcTvScreen = {};
}

// A remote the kernel drives (a pipe stands in for its device node): its keys walk the TV menu as the receiver's do.
TEST(TvWindow, InputDeviceKeysWalkTheMenu)
{
    TempMachine machine;
    CRemoteKeyRouter router;
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    CMainFrame frame(&router);
    frame.show();
    CInputDeviceSource source(&router);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    source.AddDevice(pipeFds[0], { QStringLiteral("media remote"), { KEY_NUMERIC_3, KEY_BACK } },
                     QStringLiteral("pipe"));
    auto press = [&](int code, int state) {
        input_event ev[2] {};
        ev[0].type = EV_KEY;
        ev[0].code = static_cast<__u16>(code);
        ev[0].value = 1;
        ev[1] = ev[0];
        ev[1].value = 0;
        EXPECT_EQ(::write(pipeFds[1], ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
        return WaitFor([&] { return frame.Menu().ListSet().State() == state; });
    };
    EXPECT_EQ(frame.Menu().ListSet().State(), CItemListSet::VideoTypes);
    EXPECT_TRUE(press(KEY_BACK, CItemListSet::Home));
    EXPECT_TRUE(press(KEY_NUMERIC_3, CItemListSet::LocalMovies));
    EXPECT_TRUE(press(KEY_ESC, CItemListSet::VideoTypes));
    ::close(pipeFds[1]);
    g_rcTvScreen = {};
}

// Fault: the TV monitor disappears while TV output runs, and comes back.
TEST(TvWindow, MonitorRemovedAndReadded)
{
    TempMachine machine;
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    auto frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(WaitFor([&] { return xGeometry(*frame) == QRect(1920, 0, 1920, 1080); }));
    ASSERT_EQ(g_pXServer->run(QStringLiteral("xrandr"), { QStringLiteral("--delmonitor"), QStringLiteral("TV") }), 0);
    ASSERT_TRUE(WaitFor([&] { return QGuiApplication::screens().size() == 1; }));
    // Without its monitor the window lives on, takes commands and still draws the menu.
    post(frame.get(), RC_Back);
    EXPECT_TRUE(WaitFor([&] { return frame->Menu().ListSet().State() == CItemListSet::Home; }));
    EXPECT_TRUE(frame->isVisible());
    const QImage drawn = frame->grab().toImage();
    ASSERT_FALSE(drawn.isNull());
    EXPECT_EQ(drawn.pixel(drawn.width() - 10, drawn.height() - 10), qRgb(127, 127, 127));
    frame.reset();

    ASSERT_EQ(g_pXServer->run(QStringLiteral("xrandr"),
                              { QStringLiteral("--setmonitor"), QStringLiteral("TV"),
                                QStringLiteral("1920/508x1080/286+1920+0"), QStringLiteral("none") }),
              0);
    ASSERT_TRUE(WaitFor([&] { return QGuiApplication::screens().size() == 2; }));
    CMainFrame again;
    again.show();
    EXPECT_TRUE(WaitFor([&] { return xGeometry(again) == QRect(1920, 0, 1920, 1080); }));
    EXPECT_EQ(again.screen()->name(), QStringLiteral("TV"));
    g_rcTvScreen = {};
}

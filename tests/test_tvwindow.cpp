#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QWebEnginePage>

#include <gtest/gtest.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "remote/KeyRouter.h"
#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/MainFrame.h"
#include "tv/OnlineVideoView.h"

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

QVariant runJs(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    WaitFor([&] { return done; }, 10000);
    return result;
}

} // namespace

TEST(TvWindow, TwoScreensAreSeen)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    EXPECT_EQ(QGuiApplication::primaryScreen()->name(), QStringLiteral("PC"));
    ASSERT_NE(screenNamed(QStringLiteral("TV")), nullptr);
    EXPECT_EQ(screenNamed(QStringLiteral("TV"))->geometry(), QRect(1920, 0, 1920, 1080));
}

TEST(TvWindow, CoversTheChosenScreenOrThePrimary)
{
    TempMachine machine;
    g_rcTvScreen = ScreenRect::fromQRect(screenNamed(QStringLiteral("TV"))->geometry());
    {
        CMainFrame frame;
        frame.show();
        ASSERT_TRUE(WaitFor([&] { return xGeometry(frame) == QRect(1920, 0, 1920, 1080); })) << xGeometry(frame).x();
        EXPECT_EQ(frame.windowTitle(), QStringLiteral("MIRA"));
        EXPECT_TRUE(frame.windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(frame.View()->geometry(), QRect(0, 0, 1920, 1080));
        EXPECT_FALSE(frame.View()->isVisible());

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
    g_rcTvScreen = {};
}

TEST(TvWindow, RegistersWithTheRouterAndTakesCommands)
{
    TempMachine machine;
    CRemoteKeyRouter router;
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    auto frame = std::make_unique<CMainFrame>(&router);
    EXPECT_EQ(router.TvWindow(), frame.get());
    post(frame.get(), RC_Back); // types -> home
    post(frame.get(), 30);
    post(frame.get(), RC_VolumeUp); // no audio router: nothing, no crash
    WaitFor([&] { return frame->Menu().ListSet().State() == 1; });
    EXPECT_EQ(frame->Menu().ListSet().State(), 1);
    frame.reset();
    EXPECT_EQ(router.TvWindow(), nullptr);
    g_rcTvScreen = {};
}

// The web view: players enlarged over the TV, page scrolled, frames ignored, stop returns to the menu.
TEST(TvWindow, WebViewEnlargesQualifyingPlayers)
{
    TempMachine machine;
    HttpServer http(QStringLiteral(KREL_TEST_PAGES));
    ASSERT_TRUE(http.IsRunning());
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    g_nScrollY = 700;
    CMainFrame frame;
    frame.show();
    COnlineVideoView* view = frame.View();
    QSignalSpy enlarged(view, &COnlineVideoView::playersEnlarged);

    QCoreApplication::postEvent(&frame, new CPlayUrlEvent(http.Url(QStringLiteral("players.html"))));
    ASSERT_TRUE(WaitFor([&] { return enlarged.count() == 1; }, 60000));
    EXPECT_TRUE(view->isVisible());
    const QStringList addresses = enlarged.at(0).at(0).toStringList();
    EXPECT_EQ(addresses,
              (QStringList { QStringLiteral("movie-400x300.swf"), QStringLiteral("movie-600x200.swf"),
                             QStringLiteral("clip.webm"), QStringLiteral("frame.html") }));

    const QVariantList boxes
        = runJs(view->page(),
                QStringLiteral("Array.from(document.querySelectorAll('.p')).map(function (e) {"
                               " var r = e.getBoundingClientRect();"
                               " return [e.id, Math.round(r.left), Math.round(r.top), Math.round(r.width),"
                               " Math.round(r.height)]; })"))
              .toList();
    ASSERT_EQ(boxes.size(), 7);
    for (const QVariant& b : boxes) {
        const QVariantList box = b.toList();
        const QString id = box[0].toString();
        const bool qualifies = id == QLatin1String("e400x300") || id == QLatin1String("o600x200")
            || id == QLatin1String("v") || id == QLatin1String("f");
        const QRect r(box[1].toInt(), box[2].toInt(), box[3].toInt(), box[4].toInt());
        if (qualifies)
            EXPECT_EQ(r, QRect(0, 0, 1920, 1080)) << id.toStdString();
        else
            EXPECT_LT(r.width(), 40) << id.toStdString();
    }
    EXPECT_EQ(runJs(view->page(), QStringLiteral("window.scrollY")).toInt(), 700);

    // The frame navigating again completes a frame's load, not the page's: nothing more is enlarged.
    runJs(view->page(), QStringLiteral("document.getElementById('f').src = 'frame.html?again'; 1"));
    WaitFor([] { return false; }, 1500);
    EXPECT_EQ(enlarged.count(), 1);

    // A stop command: the view goes blank and hidden, the menu takes the command.
    post(&frame, RC_LeaveVideo);
    ASSERT_TRUE(WaitFor([&] { return !view->isVisible(); }));
    EXPECT_TRUE(WaitFor([&] { return view->url() == QUrl(QStringLiteral("about:blank")); }));
    g_rcTvScreen = {};
    g_nScrollY = 0;
}

TEST(TvWindow, PlayerExtentRules)
{
    EXPECT_TRUE(COnlineVideoView::IsPlayerExtent(400, 300));
    EXPECT_FALSE(COnlineVideoView::IsPlayerExtent(300, 400));
    EXPECT_FALSE(COnlineVideoView::IsPlayerExtent(1000, 300));
    EXPECT_TRUE(COnlineVideoView::IsPlayerExtent(600, 200));
    EXPECT_FALSE(COnlineVideoView::IsPlayerExtent(100, 100));
    EXPECT_FALSE(COnlineVideoView::IsPlayerExtent(101, 100)); // 1 mm high is not more than 1 mm
    EXPECT_TRUE(COnlineVideoView::IsPlayerExtent(101, 101));
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
    post(frame.get(), RC_NextPage);
    frame->repaint();
    WaitFor([] { return false; }, 300);
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

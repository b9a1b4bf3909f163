// The desktop's services on a session bus of the test's own, as the TV window uses them: its media controls, seen
// and driven by playerctl (a real MPRIS client), and the desktop's screen saver service (a stand-in that records
// what it is asked).
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "support/WebPage.h"
#include "tv/AudioRouter.h"
#include "tv/film/LocalPlayer.h"
#include "tv/MainFrame.h"

extern XvfbServer* g_pXServer;

namespace
{

// A program's answer (its output without the line end), run without blocking: it talks to this process's bus
// objects, which answer from this thread's event loop.
QString Answer(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!WaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000))
        p.kill();
    p.waitForFinished(2000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed()
        + QString::fromUtf8(p.readAllStandardError()).trimmed();
}

// playerctl's answer (a real MPRIS client).
QString Playerctl(const char* args)
{
    return Answer(QStringLiteral("playerctl"),
                  QStringList { QStringLiteral("--player=krel") } + QString::fromLatin1(args).split(QLatin1Char(' ')));
}

// A stand-in for the desktop's org.freedesktop.ScreenSaver service on a connection of its own: it records each call.
class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList calls;

public slots:
    uint Inhibit(const QString& application, const QString& reason)
    {
        calls << QStringLiteral("Inhibit %1 (%2) -> %3").arg(application, reason).arg(++m_nCookie);
        return m_nCookie;
    }
    void UnInhibit(uint cookie) { calls << QStringLiteral("UnInhibit %1").arg(cookie); }
    void SimulateUserActivity() { calls << QStringLiteral("SimulateUserActivity"); }

private:
    uint m_nCookie = 40;
};

// A stand-in for the desktop portal's Inhibit: each inhibition is a request object, closed to let go. It records
// "Inhibit" and "Close" calls.
class FakePortal : public QDBusVirtualObject
{
public:
    QStringList calls;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("Inhibit")) {
            calls << QStringLiteral("Inhibit");
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(
                QStringLiteral("/org/freedesktop/portal/desktop/request/1/krel%1").arg(calls.size())))));
            return true;
        }
        if (message.member() == QLatin1String("Close")) {
            calls << QStringLiteral("Close ") + message.path().section(QLatin1Char('/'), -1);
            connection.send(message.createReply());
            return true;
        }
        return false;
    }
};

// The session bus of the whole program (a process connects to its session bus once): one that starts no service,
// where a desktop portal installed on the machine would send an Inhibit of its own.
class DesktopServices : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { daemon = new PrivateSessionBus; }
    static void TearDownTestSuite()
    {
        delete daemon;
        daemon = nullptr;
    }
    static inline PrivateSessionBus* daemon = nullptr;
};

} // namespace

// playerctl sees a film's and a web page's status, title and length and drives their play, pause, seek, volume and
// stop. The screen saver service is asked to hold off once while something plays, told when it is paused or ends with
// the cookie it gave, and hears of remote keys; when it dies mid-film nothing breaks, and a service that comes back
// is asked again.
TEST_F(DesktopServices, MediaControlsAndTheScreenSaverService)
{
    // Chromium, a process of its own: Qt WebEngine's code in this process would abort when the test's bus goes.
    qputenv("KREL_WEB_ENGINE", "chromium");
    ASSERT_TRUE(daemon->isRunning());
    const QString address = daemon->address();
    const auto connectService = [&](const QString& name, FakeScreenSaver& fake) {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        return bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &fake,
                                  QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    };
    const auto restore = qScopeGuard([&] {
        for (const char* name : { "service1", "service2" })
            QDBusConnection::disconnectFromBus(QLatin1String(name));
    });
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    FakeScreenSaver first, second;
    ASSERT_TRUE(connectService(QStringLiteral("service1"), first));

    TempMachine machine;
    PulseServer pulse;
    ASSERT_TRUE(pulse.Start());
    CAudioRouter audio;
    ASSERT_TRUE(WaitFor([&] { return audio.SoundCards().size() == 2; }));
    audio.SetSoundCard(1);
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    CMainFrame frame;
    frame.show();
    EXPECT_EQ(Playerctl("status"), QStringLiteral("Stopped"));

    const QString film = machine.root() + QStringLiteral("/一部电影.webm");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), film));
    QCoreApplication::postEvent(&frame, new CPlayFileEvent(film));
    ASSERT_TRUE(WaitFor([&] { return frame.Player() && frame.Player()->Position() > 0.5; }, 20000));
    ILocalPlayer* player = frame.Player();
    const QString inhibited = QStringLiteral("Inhibit krel (playing on the TV) -> 41");
    EXPECT_TRUE(WaitFor([&] { return first.calls == QStringList { inhibited }; }))
        << first.calls.join(QLatin1String("; ")).toStdString();
    QCoreApplication::postEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, RC_VolumeUp, 0));
    EXPECT_TRUE(WaitFor([&] { return first.calls.value(1) == QLatin1String("SimulateUserActivity"); }));
    EXPECT_EQ(Playerctl("status"), QStringLiteral("Playing"));
    EXPECT_EQ(Playerctl("metadata xesam:title"), QStringLiteral("一部电影"));
    EXPECT_NEAR(Playerctl("metadata mpris:length").toLongLong(), 60000000, 100000);
    Playerctl("play-pause");
    EXPECT_TRUE(player->IsPaused());
    EXPECT_EQ(Playerctl("status"), QStringLiteral("Paused"));
    Playerctl("play");
    EXPECT_FALSE(player->IsPaused());
    EXPECT_TRUE(WaitFor([&] {
        return first.calls.mid(2)
            == QStringList { QStringLiteral("UnInhibit 41"), QStringLiteral("Inhibit krel (playing on the TV) -> 42") };
    })) << first.calls.join(QLatin1String("; ")).toStdString();
    Playerctl("position 30");
    EXPECT_TRUE(WaitFor([&] { return player->Position() >= 29 && player->Position() < 40; }, 10000))
        << player->Position();
    // The controls' Position is the film's, in microseconds (playerctl prints it in seconds).
    EXPECT_NEAR(Playerctl("position").toDouble(), player->Position(), 1.0);
    Playerctl("position 10-");
    EXPECT_TRUE(WaitFor([&] { return player->Position() >= 19 && player->Position() < 29; }, 10000))
        << player->Position();
    // The longest step back a client can ask for goes to the beginning (no overflow on the way).
    Answer(QStringLiteral("dbus-send"),
           { QStringLiteral("--session"), QStringLiteral("--print-reply"),
             QStringLiteral("--dest=org.mpris.MediaPlayer2.krel"), QStringLiteral("/org/mpris/MediaPlayer2"),
             QStringLiteral("org.mpris.MediaPlayer2.Player.Seek"), QStringLiteral("int64:-9223372036854775808") });
    EXPECT_TRUE(WaitFor([&] { return player->Position() < 5; }, 10000)) << player->Position();
    // The volume is the TV stream's.
    Playerctl("volume 0.5");
    EXPECT_TRUE(WaitFor([&] {
        const auto streams = pulse.SinkInputs();
        return !streams.empty() && std::abs(streams.back().volumeLeft - 32768) < 400;
    }));
    EXPECT_EQ(Playerctl("volume").left(3), QStringLiteral("0.5"));
    // The service dies mid-film (its connection closes): letting go fails quietly.
    QDBusConnection::disconnectFromBus(QStringLiteral("service1"));
    Playerctl("stop");
    EXPECT_TRUE(WaitFor([&] { return !player->IsPlaying(); }));
    EXPECT_EQ(Playerctl("status"), QStringLiteral("Stopped"));

    // A web page: its address as the title (a sent page has no episode name), pause and seek through the page.
    ASSERT_NE(frame.EnsureView(), nullptr);
    const WebProbe web(frame.View());
    frame.PlaySentPage(http.Url(QStringLiteral("plain.html")));
    const QString time = QStringLiteral("document.querySelector('video').currentTime");
    ASSERT_TRUE(WaitFor([&] { return web.Js(time).toDouble() > 0.5; }, 40000));
    // A service that comes back while something plays is asked at once.
    ASSERT_TRUE(connectService(QStringLiteral("service2"), second));
    EXPECT_TRUE(WaitFor([&] { return second.calls == QStringList { inhibited }; }))
        << second.calls.join(QLatin1String("; ")).toStdString();
    EXPECT_EQ(Playerctl("status"), QStringLiteral("Playing"));
    EXPECT_EQ(Playerctl("metadata xesam:title"), http.Url(QStringLiteral("plain.html")));
    Playerctl("play-pause");
    EXPECT_TRUE(WaitFor([&] { return web.Js(QStringLiteral("document.querySelector('video').paused")).toBool(); }));
    EXPECT_EQ(Playerctl("status"), QStringLiteral("Paused"));
    Playerctl("position 20+");
    EXPECT_TRUE(WaitFor([&] { return web.Js(time).toDouble() >= 20; })) << web.Js(time).toDouble();
    Playerctl("stop");
    EXPECT_TRUE(WaitFor([&] { return !frame.View()->Widget()->isVisible(); }));
    EXPECT_TRUE(WaitFor([&] { return second.calls.value(1) == QLatin1String("UnInhibit 41"); }));
    g_rcTvScreen = {};
}

// The screen may blank again once nothing plays on the TV: when the TV leaves during a web video and when TV output
// closes while one plays, on each of the session's three ways of holding it (the X server's screen saver, the
// desktop's screen saver service, the desktop portal).
TEST_F(DesktopServices, TheScreenIsLetGoWhenTheTvLeavesOrTvOutputCloses)
{
    qputenv("KREL_WEB_ENGINE", "chromium");
    ASSERT_TRUE(daemon->isRunning());
    QDBusConnection services = QDBusConnection::connectToBus(daemon->address(), QStringLiteral("services"));
    FakeScreenSaver saver;
    FakePortal portal;
    ASSERT_TRUE(services.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                        QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(services.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    ASSERT_TRUE(services.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                               QDBusConnection::SubPath));
    ASSERT_TRUE(services.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    ASSERT_EQ(
        g_pXServer->run(QStringLiteral("xset"), { QStringLiteral("s"), QStringLiteral("1"), QStringLiteral("0") }), 0);
    const auto restore = qScopeGuard([] {
        g_pXServer->run(QStringLiteral("xset"), { QStringLiteral("s"), QStringLiteral("default") });
        QDBusConnection::disconnectFromBus(QStringLiteral("services"));
        g_rcTvScreen = {};
    });
    TempMachine machine;
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    g_rcTvScreen = { 1920, 0, 3840, 1080 };
    const auto inhibitions = [&] { return saver.calls.filter(QRegularExpression(QStringLiteral("^(Un)?Inhibit"))); };
    // Idle for twice the X server's 1 s timeout: a screen saver that is not held is on by then.
    const auto x11Held = [] { return WaitFor([] { return QuerySaver().idleMs > 2000; }, 20000) && !QuerySaver().on; };

    auto frame = std::make_unique<CMainFrame>();
    frame->show();
    frame->PlaySentPage(http.Url(QStringLiteral("plain.html")));
    const QString inhibited = QStringLiteral("Inhibit krel (playing on the TV) -> %1");
    ASSERT_TRUE(WaitFor([&] { return inhibitions() == QStringList { inhibited.arg(41) }; }, 40000))
        << saver.calls.join(QLatin1String("; ")).toStdString();
    EXPECT_TRUE(WaitFor([&] { return portal.calls == QStringList { QStringLiteral("Inhibit") }; }));
    EXPECT_TRUE(x11Held()) << "the X server's screen saver came on during the video";

    // The TV leaves: nothing plays on it.
    frame->SetTvScreen(nullptr);
    EXPECT_TRUE(WaitFor([&] { return inhibitions().value(1) == QLatin1String("UnInhibit 41"); }));
    EXPECT_TRUE(WaitFor([&] { return portal.calls.value(1) == QLatin1String("Close krel1"); }));
    EXPECT_TRUE(WaitFor([] { return QuerySaver().on; }, 60000)) << "the X server's screen saver is still held";

    // Back, the video goes on and the screen is held again; then TV output closes under it.
    frame->SetTvScreen(QGuiApplication::screens().value(1));
    EXPECT_TRUE(WaitFor([&] { return inhibitions().value(2) == inhibited.arg(42); }));
    EXPECT_TRUE(WaitFor([&] { return portal.calls.value(2) == QLatin1String("Inhibit"); }));
    EXPECT_TRUE(x11Held()) << "the X server's screen saver is not held again";
    frame.reset();
    EXPECT_TRUE(WaitFor([&] { return inhibitions().value(3) == QLatin1String("UnInhibit 42"); }));
    EXPECT_TRUE(WaitFor([&] { return portal.calls.value(3) == QLatin1String("Close krel3"); }));
    EXPECT_TRUE(WaitFor([] { return QuerySaver().on; }, 60000)) << "the X server's screen saver is still held";
    EXPECT_EQ(inhibitions().size(), 4);
    EXPECT_EQ(portal.calls.size(), 4);
}

#include "test_desktop.moc"

// Keeping the screen on while something plays, on the session bus: a screen saver service of the test's own on a
// private bus. (The X server's own screen saver is tested through the TV window, with the players.)
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>

#include <gtest/gtest.h>

#include "display/ScreenSaver.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"

namespace
{

// A stand-in for the desktop's org.freedesktop.ScreenSaver service on its own connection: it records each call.
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

} // namespace

// The session's service is asked once per hold and told when it ends, with the cookie it gave; a key is user
// activity; the service dying while held breaks nothing, and a service that comes back is asked again.
TEST(ScreenSaver, SessionServiceAskedToldAndAskedAgainAfterARestart)
{
    QProcess daemon;
    DiesWithTheTest(daemon);
    daemon.start(QStringLiteral("dbus-daemon"),
                 { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address") });
    ASSERT_TRUE(daemon.waitForStarted(5000) && daemon.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(daemon.readLine().trimmed());
    const auto connectService = [&](const QString& name, FakeScreenSaver& fake) {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        return bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &fake,
                                  QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
    };
    FakeScreenSaver first;
    ASSERT_TRUE(connectService(QStringLiteral("service1"), first));
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("krel"));
    std::vector<std::unique_ptr<IScreenSaverBackend>> backends;
    backends.push_back(MakeFreedesktopScreenSaver(client));
    ASSERT_NE(backends.back(), nullptr);
    CScreenSaverKeeper keeper(std::move(backends));

    keeper.SetPlaying(true);
    keeper.SetPlaying(true);
    keeper.UserActivity();
    keeper.SetPlaying(false);
    const QStringList expected { QStringLiteral("Inhibit krel (playing on the TV) -> 41"),
                                 QStringLiteral("SimulateUserActivity"), QStringLiteral("UnInhibit 41") };
    EXPECT_TRUE(WaitFor([&] { return first.calls == expected; }))
        << first.calls.join(QLatin1String("; ")).toStdString();

    // Held when the service goes (its connection closes, as when it is killed): letting go and holding again fail
    // quietly, and a new service is asked as soon as it is there.
    keeper.SetPlaying(true);
    ASSERT_TRUE(WaitFor([&] { return first.calls.size() == 4; }));
    QDBusConnection::disconnectFromBus(QStringLiteral("service1"));
    keeper.SetPlaying(false);
    keeper.SetPlaying(true);
    FakeScreenSaver second;
    ASSERT_TRUE(connectService(QStringLiteral("service2"), second));
    EXPECT_TRUE(WaitFor([&] { return !second.calls.isEmpty(); }));
    EXPECT_TRUE(second.calls.value(0).startsWith(QLatin1String("Inhibit krel"))) << second.calls.value(0).toStdString();
    EXPECT_EQ(second.calls.size(), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("service2"));
    QDBusConnection::disconnectFromBus(QStringLiteral("krel"));
    daemon.kill();
    daemon.waitForFinished(3000);
}

#include "test_screensaver.moc"

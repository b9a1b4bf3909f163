// A stand-in for systemd-logind on a private system bus: answers CanPowerOff with the first argument and records
// every PowerOff call as a line "PowerOff <interactive>" in the file named by the second argument (refusing one that
// is not interactive when the answer is "challenge"). Every process is
// in session "c1", whose Active property the tests switch with its SetActiveForTest method. Inhibit hands out the
// write end of a pipe as the lock; PrepareForSleepForTest sends PrepareForSleep, and HeldLocksForTest counts the locks
// whose holder has not closed them.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <poll.h>
#include <unistd.h>
#include <vector>

const char kSessionPath[] = "/org/freedesktop/login1/session/c1";

class Session : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool Active READ Active)
public:
    bool Active() const { return m_active; }

public slots:
    void SetActiveForTest(bool active)
    {
        m_active = active;
        QDBusMessage changed
            = QDBusMessage::createSignal(QLatin1String(kSessionPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                         QStringLiteral("PropertiesChanged"));
        changed << QStringLiteral("org.freedesktop.login1.Session")
                << QVariantMap { { QStringLiteral("Active"), active } } << QStringList();
        QDBusConnection::systemBus().send(changed);
    }

private:
    bool m_active = true;
};

class Manager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    Manager(QString answer, QString log)
        : m_answer(std::move(answer))
        , m_log(std::move(log))
    {
    }

public slots:
    QString CanPowerOff() { return m_answer; }
    QDBusUnixFileDescriptor Inhibit(const QString&, const QString&, const QString&, const QString&)
    {
        int ends[2];
        if (::pipe(ends) != 0)
            return {};
        m_locks.push_back(ends[0]);
        QDBusUnixFileDescriptor lock(ends[1]); // a copy of it
        ::close(ends[1]);
        return lock;
    }
    int HeldLocksForTest()
    {
        int held = 0;
        for (int fd : m_locks) {
            pollfd p { fd, POLLIN, 0 };
            held += ::poll(&p, 1, 0) == 0; // no hang-up yet: a write end is still open
        }
        return held;
    }
    void PrepareForSleepForTest(bool start)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << start;
        QDBusConnection::systemBus().send(signal);
    }
    QDBusObjectPath GetSessionByPID(uint) { return QDBusObjectPath(QLatin1String(kSessionPath)); }
    void PowerOff(bool interactive)
    {
        QFile f(m_log);
        if (f.open(QIODevice::Append))
            f.write(QByteArray("PowerOff ") + (interactive ? "true" : "false") + "\n");
        // As logind for a user who would have to authenticate first.
        if (m_answer == QLatin1String("challenge") && !interactive)
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"),
                           QStringLiteral("Interactive authentication required."));
    }

private:
    QString m_answer;
    QString m_log;
    std::vector<int> m_locks; // read ends of the lock pipes
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Manager manager(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    Session session;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerObject(QLatin1String(kSessionPath), &session,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)
        || !bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_logind.moc"

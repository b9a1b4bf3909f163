// A stand-in for systemd-logind on a private system bus: answers CanPowerOff with the first argument and records
// every PowerOff call as a line "PowerOff <interactive>" in the file named by the second argument.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QObject>

class Manager : public QObject
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
    void PowerOff(bool interactive)
    {
        QFile f(m_log);
        if (f.open(QIODevice::Append))
            f.write(QByteArray("PowerOff ") + (interactive ? "true" : "false") + "\n");
    }

private:
    QString m_answer;
    QString m_log;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Manager manager(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_logind.moc"

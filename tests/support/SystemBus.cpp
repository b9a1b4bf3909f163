#include "SystemBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>

#include "TestEnv.h"

SystemBus::SystemBus(const QString& canPowerOff)
    : m_oldAddress(qgetenv("DBUS_SYSTEM_BUS_ADDRESS"))
{
    const QString config = m_dir.path() + QStringLiteral("/bus.conf");
    WriteFile(config,
              QStringLiteral(
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                  "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>system</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                  "<allow receive_sender=\"*\"/></policy></busconfig>\n")
                  .arg(m_dir.path())
                  .toUtf8());
    DiesWithTheTest(m_daemon);
    DiesWithTheTest(m_logind);
    m_daemon.start(
        QStringLiteral("dbus-daemon"),
        { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address") });
    if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
        return;
    m_strAddress = QString::fromUtf8(m_daemon.readLine().trimmed());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_strAddress.toUtf8());
    m_logind.start(QStringLiteral(KREL_FAKE_LOGIND), { canPowerOff, m_dir.path() + QStringLiteral("/poweroff.log") });
    m_bRunning
        = m_logind.waitForStarted(5000) && m_logind.waitForReadyRead(10000) && m_logind.readLine().trimmed() == "ready";
}

SystemBus::~SystemBus()
{
    for (QProcess* p : { &m_logind, &m_daemon }) {
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(3000);
    }
    if (m_oldAddress.isEmpty())
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    else
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_oldAddress);
}

QByteArray SystemBus::PowerOffCalls() const
{
    return ReadFile(m_dir.path() + QStringLiteral("/poweroff.log"));
}

namespace
{
QDBusMessage CallFakeManager(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"), method);
    call.setArguments(arguments);
    return QDBusConnection::systemBus().call(call);
}
} // namespace

void SystemBus::PrepareForSleep(bool start)
{
    CallFakeManager(QStringLiteral("PrepareForSleepForTest"), { start });
}

int SystemBus::HeldLocks()
{
    const QDBusReply<int> held = CallFakeManager(QStringLiteral("HeldLocksForTest"));
    return held.isValid() ? held.value() : -1;
}

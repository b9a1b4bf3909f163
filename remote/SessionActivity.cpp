#include "SessionActivity.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include "common/Log.h"

namespace
{
const char kService[] = "org.freedesktop.login1";
const char kSessionInterface[] = "org.freedesktop.login1.Session";
constexpr int kCallTimeoutMs = 2000;
} // namespace

CSessionActivity::CSessionActivity(QObject* parent)
    : QObject(parent)
{
}

void CSessionActivity::Start()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    bus.connect(QLatin1String(kService), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                SLOT(OnPrepareForSleep(bool)));
    TakeSleepDelay();
    QDBusInterface manager(QLatin1String(kService), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    manager.setTimeout(kCallTimeoutMs);
    QDBusReply<QDBusObjectPath> session
        = manager.call(QStringLiteral("GetSessionByPID"), static_cast<uint>(::getpid()));
    // Run by the user manager (the unit that restarts us), the process belongs to no session: the session it was
    // started for is the one the manager was given at log-in.
    if (!session.isValid() && qEnvironmentVariableIsSet("XDG_SESSION_ID"))
        session = manager.call(QStringLiteral("GetSession"), qEnvironmentVariable("XDG_SESSION_ID"));
    if (!session.isValid()) {
        qCInfo(lcRemote).noquote() << "no login session found (" << session.error().message()
                                   << "); remote keys are taken whichever session is active";
        return;
    }
    m_strPath = session.value().path();
    bus.connect(QLatin1String(kService), m_strPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this,
                SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
    Refresh();
}

void CSessionActivity::TakeSleepDelay()
{
    QDBusInterface manager(QLatin1String(kService), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), QDBusConnection::systemBus());
    manager.setTimeout(kCallTimeoutMs);
    const QDBusReply<QDBusUnixFileDescriptor> lock
        = manager.call(QStringLiteral("Inhibit"), QStringLiteral("sleep"), QStringLiteral("krel"),
                       QStringLiteral("Holds what plays on the TV"), QStringLiteral("delay"));
    m_sleepDelay = lock.isValid() ? lock.value() : QDBusUnixFileDescriptor();
}

void CSessionActivity::OnPrepareForSleep(bool start)
{
    qCInfo(lcRemote) << (start ? "the PC is going to sleep" : "the PC woke");
    emit sleepChanged(start);
    if (start)
        m_sleepDelay = QDBusUnixFileDescriptor(); // done: the PC may sleep now
    else if (!m_sleepDelay.isValid())
        TakeSleepDelay(); // for the next time
}

void CSessionActivity::Refresh()
{
    QDBusInterface properties(QLatin1String(kService), m_strPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                              QDBusConnection::systemBus());
    properties.setTimeout(kCallTimeoutMs);
    const QDBusReply<QDBusVariant> active
        = properties.call(QStringLiteral("Get"), QLatin1String(kSessionInterface), QStringLiteral("Active"));
    if (active.isValid())
        m_bActive = active.value().variant().toBool();
}

void CSessionActivity::OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                           const QStringList& invalidated)
{
    if (interface != QLatin1String(kSessionInterface))
        return;
    if (changed.contains(QStringLiteral("Active")))
        m_bActive = changed.value(QStringLiteral("Active")).toBool();
    else if (invalidated.contains(QStringLiteral("Active")))
        Refresh();
    else
        return;
    qCInfo(lcRemote) << "login session" << (m_bActive ? "active: remote keys taken" : "inactive: remote keys ignored");
}

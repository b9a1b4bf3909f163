#include "PowerControl.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <QDBusError>

#include "common/Log.h"

namespace
{
const char kService[] = "org.freedesktop.login1";
const char kPath[] = "/org/freedesktop/login1";
const char kManager[] = "org.freedesktop.login1.Manager";
} // namespace

void ShutdownPC(std::function<void()> accepted)
{
    // A fresh connection each time: a system bus that was missing at some earlier moment is not held against us.
    const QString name = QStringLiteral("krel-shutdown");
    QDBusConnection::disconnectFromBus(name);
    // The address is read here rather than left to libdbus, which fixes every bus address at its first use.
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    QDBusConnection bus = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name)
                                            : QDBusConnection::connectToBus(address, name);
    if (!bus.isConnected()) {
        qCDebug(lcApp) << "no system bus:" << bus.lastError().message();
        return;
    }
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("CanPowerOff"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, 5000));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished,
        [bus, accepted = std::move(accepted)](QDBusPendingCallWatcher* w) mutable {
            const QDBusPendingReply<QString> reply = *w;
            w->deleteLater();
            if (reply.isError()) {
                qCDebug(lcApp) << "CanPowerOff:" << reply.error().message();
                return;
            }
            const QString answer = reply.value();
            if (answer != QLatin1String("yes") && answer != QLatin1String("challenge"))
                return;
            QDBusMessage off = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("PowerOff"));
            off << false; // not interactive: nobody can answer a password prompt on the TV
            auto* done = new QDBusPendingCallWatcher(bus.asyncCall(off, 5000));
            QObject::connect(done, &QDBusPendingCallWatcher::finished, [accepted](QDBusPendingCallWatcher* d) {
                d->deleteLater();
                if (d->isError()) {
                    qCInfo(lcApp).noquote() << "the shutdown was refused:" << d->error().message();
                    return;
                }
                qCInfo(lcApp) << "shutting down";
                if (accepted)
                    accepted();
            });
        });
}

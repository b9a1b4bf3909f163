#include "PowerControl.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "common/Log.h"

namespace {
const char kService[] = "org.freedesktop.login1";
const char kPath[] = "/org/freedesktop/login1";
const char kManager[] = "org.freedesktop.login1.Manager";
} // namespace

void ShutdownPC()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("CanPowerOff"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [bus](QDBusPendingCallWatcher* w) mutable {
        const QDBusPendingReply<QString> reply = *w;
        w->deleteLater();
        if (reply.isError())
            return;
        const QString answer = reply.value();
        if (answer != QLatin1String("yes") && answer != QLatin1String("challenge"))
            return;
        QDBusMessage off = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("PowerOff"));
        off << false; // not interactive: nobody can answer a password prompt on the TV
        bus.asyncCall(off, 5000);
        qCInfo(lcApp) << "shutting down";
    });
}

// The desktop's screen saver on the session bus: the org.freedesktop.ScreenSaver service (KDE, Xfce, LXQt, ...)
// and the desktop portal's Inhibit (GNOME, sandboxes). Every call is asynchronous, so that a slow or missing
// service never holds up the TV window; the bus drops an inhibition of a client that goes.
#include "ScreenSaver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include "common/Log.h"

namespace
{

// What both services share: an inhibition asked for and answered later, released as soon as it is known when it
// was let go meanwhile, and asked for again when the service (re)appears on the bus while it is wanted.
class CDBusInhibition : public QObject, public IScreenSaverBackend
{
public:
    CDBusInhibition(QString service, const QDBusConnection& bus)
        : m_strService(std::move(service))
        , m_bus(bus)
        , m_watcher(m_strService, m_bus, QDBusServiceWatcher::WatchForRegistration)
    {
        connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
            if (m_bWanted && !m_bAsked) {
                m_bHeld = false;
                Ask();
            }
        });
    }

    void Hold(bool hold) override
    {
        m_bWanted = hold;
        if (hold && !m_bAsked && !m_bHeld)
            Ask();
        else if (!hold && m_bHeld)
            ReleaseNow();
    }

protected:
    virtual QDBusMessage InhibitCall() const = 0;
    // Keeps what the answer names (a cookie, a request's path); false when it names nothing.
    virtual bool Take(const QDBusMessage& reply) = 0;
    virtual void Release() = 0;

    QString m_strService;
    QDBusConnection m_bus;

private:
    void Ask()
    {
        m_bAsked = true;
        auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(InhibitCall()), this);
        connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            m_bAsked = false;
            if (w->isError() || !Take(w->reply())) {
                if (!m_bTold)
                    qCInfo(lcTv).noquote()
                        << m_strService << "does not inhibit the screen saver:" << w->error().message();
                m_bTold = true;
                return;
            }
            m_bHeld = true;
            if (!m_bWanted)
                ReleaseNow(); // let go while the answer was on its way
        });
    }
    void ReleaseNow()
    {
        m_bHeld = false;
        Release();
    }

    QDBusServiceWatcher m_watcher;
    bool m_bWanted = false;
    bool m_bAsked = false; // an Inhibit call waits for its answer
    bool m_bHeld = false; // the service holds our inhibition
    bool m_bTold = false;
};

constexpr char kFreedesktopService[] = "org.freedesktop.ScreenSaver";
constexpr char kFreedesktopPath[] = "/org/freedesktop/ScreenSaver";

class CFreedesktopScreenSaver : public CDBusInhibition
{
public:
    explicit CFreedesktopScreenSaver(const QDBusConnection& bus)
        : CDBusInhibition(QString::fromLatin1(kFreedesktopService), bus)
    {
    }
    QString Name() const override { return m_strService; }
    void Poke() override { m_bus.asyncCall(Call(QStringLiteral("SimulateUserActivity"))); }

protected:
    QDBusMessage InhibitCall() const override
    {
        return Call(QStringLiteral("Inhibit")) << QStringLiteral("krel") << QStringLiteral("playing on the TV");
    }
    bool Take(const QDBusMessage& reply) override
    {
        m_nCookie = reply.arguments().value(0).toUInt();
        return reply.arguments().size() == 1;
    }
    void Release() override { m_bus.asyncCall(Call(QStringLiteral("UnInhibit")) << m_nCookie); }

private:
    static QDBusMessage Call(const QString& method)
    {
        return QDBusMessage::createMethodCall(QString::fromLatin1(kFreedesktopService),
                                              QString::fromLatin1(kFreedesktopPath),
                                              QString::fromLatin1(kFreedesktopService), method);
    }
    uint m_nCookie = 0;
};

class CPortalScreenSaver : public CDBusInhibition
{
public:
    explicit CPortalScreenSaver(const QDBusConnection& bus)
        : CDBusInhibition(QStringLiteral("org.freedesktop.portal.Desktop"), bus)
    {
    }
    QString Name() const override { return QStringLiteral("desktop portal"); }
    void Poke() override { }

protected:
    QDBusMessage InhibitCall() const override
    {
        constexpr uint kIdle = 8; // the portal's flag for "the session is idle"
        return QDBusMessage::createMethodCall(m_strService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                              QStringLiteral("org.freedesktop.portal.Inhibit"),
                                              QStringLiteral("Inhibit"))
            << QString() << kIdle << QVariantMap { { QStringLiteral("reason"), QStringLiteral("playing on the TV") } };
    }
    bool Take(const QDBusMessage& reply) override
    {
        m_strRequest = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
        return !m_strRequest.isEmpty();
    }
    void Release() override
    {
        // The inhibition lasts as long as its request object.
        m_bus.asyncCall(QDBusMessage::createMethodCall(
            m_strService, m_strRequest, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
    }

private:
    QString m_strRequest;
};

} // namespace

std::unique_ptr<IScreenSaverBackend> MakeFreedesktopScreenSaver(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return nullptr;
    return std::make_unique<CFreedesktopScreenSaver>(bus);
}

std::unique_ptr<IScreenSaverBackend> MakeFreedesktopScreenSaver()
{
    return MakeFreedesktopScreenSaver(QDBusConnection::sessionBus());
}

std::unique_ptr<IScreenSaverBackend> MakePortalScreenSaver()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return nullptr;
    return std::make_unique<CPortalScreenSaver>(bus);
}

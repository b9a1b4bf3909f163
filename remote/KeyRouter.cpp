#include "KeyRouter.h"

#include <chrono>
#include <future>
#include <memory>

#include <QCoreApplication>
#include <QThread>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"

namespace
{
// The router's own carrier event; it is turned into the window's message on the GUI thread.
const QEvent::Type kRouteEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class RouteEvent : public QEvent
{
public:
    RouteEvent(int command, std::uint8_t keyByte)
        : QEvent(kRouteEvent)
        , command(command)
        , keyByte(keyByte)
    {
    }
    int command;
    std::uint8_t keyByte;
};
} // namespace

CRemoteKeyRouter::CRemoteKeyRouter(QObject* parent)
    : QObject(parent)
{
}

void CRemoteKeyRouter::PostKey(int command, std::uint8_t keyByte)
{
    QCoreApplication::postEvent(this, new RouteEvent(command, keyByte));
}

bool CRemoteKeyRouter::event(QEvent* e)
{
    if (e->type() != kRouteEvent)
        return QObject::event(e);
    const auto* route = static_cast<RouteEvent*>(e);
    // While the remote-setup dialog learns a code, no key of any source is routed (the receiver's codes go to the
    // dialog instead); nor while another login session is the active one on the seat.
    if (g_bIRLearning || (m_pSession && !m_pSession->IsActive()))
        return true;
    if (route->command == RC_Power) {
        if (m_pControl)
            QCoreApplication::postEvent(m_pControl, new CAppEvent(WM_REMOTE_POWER, 1, route->keyByte));
        return true;
    }
    QObject* target = m_pTv ? m_pTv.data() : m_pControl.data();
    if (target)
        QCoreApplication::postEvent(
            target, new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(route->command), route->keyByte));
    return true;
}

void CRemoteKeyRouter::SendLearnCode(std::uint16_t customCode, std::uint8_t keyByte,
                                     const std::function<bool()>& abandon)
{
    if (QThread::currentThread() == thread()) {
        DeliverLearnCode(customCode, keyByte);
        return;
    }
    // A queued call with a promise rather than a blocking call: if the router is destroyed before the call runs,
    // the promise is destroyed with it and the wait ends; the caller can also give up (when it is being stopped),
    // so the GUI thread can never deadlock with a reader waiting here.
    auto handled = std::make_shared<std::promise<void>>();
    std::future<void> done = handled->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, customCode, keyByte, handled] {
            DeliverLearnCode(customCode, keyByte);
            handled->set_value();
        },
        Qt::QueuedConnection);
    while (done.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout) {
        if (abandon())
            return;
    }
}

void CRemoteKeyRouter::DeliverLearnCode(std::uint16_t customCode, std::uint8_t keyByte)
{
    if (!m_pLearn)
        return;
    CAppEvent e(WM_REMOTE_COMMAND, customCode, keyByte);
    QCoreApplication::sendEvent(m_pLearn, &e);
}

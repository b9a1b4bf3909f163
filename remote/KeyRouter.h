#pragma once

#include <cstdint>
#include <functional>

#include <QObject>
#include <QPointer>

#include "SessionActivity.h"

// Hands remote keys from the reader thread to the windows of the GUI thread. The router lives on the GUI thread;
// the reader only posts to it, and the router decides there, where windows are created and destroyed, which
// window is alive to take the key.
class CRemoteKeyRouter : public QObject
{
    Q_OBJECT
public:
    explicit CRemoteKeyRouter(QObject* parent = nullptr);

    // GUI thread only.
    void SetControlWindow(QObject* window) { m_pControl = window; }
    void SetTvWindow(QObject* window) { m_pTv = window; }
    void SetLearnWindow(QObject* window) { m_pLearn = window; }
    // While the session is not the active one on its seat, no key is routed.
    void SetSession(const CSessionActivity* session) { m_pSession = session; }
    QObject* TvWindow() const { return m_pTv; }

    // Any thread. Power goes to the control window as WM_REMOTE_POWER; any other command as WM_REMOTE_COMMAND
    // to the TV window while it exists, else to the control window.
    void PostKey(int command, std::uint8_t keyByte);
    // Any thread: hands a raw code to the learning window and returns once it has been handled, at once when
    // there is no learning window, when the router goes away, or as soon as abandon() turns true.
    void SendLearnCode(
        std::uint16_t customCode, std::uint8_t keyByte, const std::function<bool()>& abandon = [] { return false; });

    // Any thread: tells the control window why the receiver is dead (it is there but cannot be opened).
    void ReportReceiverProblem(const QString& text) { emit receiverProblem(text); }

signals:
    void receiverProblem(const QString& text);

protected:
    bool event(QEvent* e) override;

private:
    void DeliverLearnCode(std::uint16_t customCode, std::uint8_t keyByte);

    QPointer<QObject> m_pControl;
    QPointer<QObject> m_pTv;
    QPointer<QObject> m_pLearn;
    const CSessionActivity* m_pSession = nullptr;
};

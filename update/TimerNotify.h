#pragma once

#include <QTimer>

// A timer that calls back into the object that owns it, on the thread that runs the event loop (the GUI thread).
class FCTimerNotify
{
public:
    FCTimerNotify();
    virtual ~FCTimerNotify();
    FCTimerNotify(const FCTimerNotify&) = delete;
    FCTimerNotify& operator=(const FCTimerNotify&) = delete;

    // Stops a running timer first, then fires OnTimer every periodMs.
    void StartTimer(int periodMs);
    void StopTimer();
    bool IsTimerRunning() const { return m_timer.isActive(); }

    virtual void OnTimer() = 0;

private:
    QTimer m_timer;
};

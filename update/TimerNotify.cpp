#include "TimerNotify.h"

FCTimerNotify::FCTimerNotify()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] { OnTimer(); });
}

FCTimerNotify::~FCTimerNotify()
{
    m_timer.stop();
}

void FCTimerNotify::StartTimer(int periodMs)
{
    m_timer.stop();
    m_timer.start(periodMs);
}

void FCTimerNotify::StopTimer()
{
    m_timer.stop();
}

#include "DownloadMessageQueue.h"

FIDownloadMessageQueue::FIDownloadMessageQueue()
    : m_pollTimer(this)
{
}

void FIDownloadMessageQueue::PostDownloadMessage(int type, int taskId)
{
    m_messages.emplace_back(type, taskId);
    if (!m_pollTimer.IsTimerRunning())
        m_pollTimer.StartTimer(kPollMs);
}

void FIDownloadMessageQueue::DispatchDownloadMessages()
{
    if (m_bBusy)
        return;
    m_bBusy = 1;
    while (!m_messages.empty()) {
        const auto [type, taskId] = m_messages.front();
        m_messages.pop_front();
        OnDownloadMessage(type, taskId);
    }
    m_bBusy = 0;
}

#pragma once

#include <deque>
#include <utility>

#include "TimerNotify.h"

enum DownloadMessage : int {
    DOWNLOAD_MSG_CONNECTED = 0, // a task's response headers are in
    DOWNLOAD_MSG_FINISHED = 1, // a task's body has ended
};

// Turns task events into ordered callbacks on the GUI thread: messages are queued and delivered together by a
// one-shot 50 ms poll timer. A callback that runs a nested event loop (a message box) cannot re-enter the
// delivery; the outer delivery picks up whatever was posted meanwhile, in order.
class FIDownloadMessageQueue
{
public:
    FIDownloadMessageQueue();
    virtual ~FIDownloadMessageQueue() = default;

    virtual void OnDownloadMessage(int type, int taskId) = 0;

    void PostDownloadMessage(int type, int taskId);
    void DispatchDownloadMessages();

    static constexpr int kPollMs = 50;

private:
    class CTimerGetMessage : public FCTimerNotify
    {
    public:
        explicit CTimerGetMessage(FIDownloadMessageQueue* queue)
            : m_pQueue(queue)
        {
        }
        void OnTimer() override
        {
            StopTimer();
            m_pQueue->DispatchDownloadMessages();
        }

    private:
        FIDownloadMessageQueue* m_pQueue;
    };

    CTimerGetMessage m_pollTimer;
    int m_bBusy = 0;
    std::deque<std::pair<int, int>> m_messages;
};

// An owning list of objects in insertion order, without duplicates; deletes what it still holds.
template <typename T> class PCL_Interface_Composite
{
public:
    PCL_Interface_Composite() = default;
    PCL_Interface_Composite(const PCL_Interface_Composite&) = delete;
    PCL_Interface_Composite& operator=(const PCL_Interface_Composite&) = delete;
    virtual ~PCL_Interface_Composite()
    {
        for (T* item : m_items)
            delete item;
        m_items.clear();
    }

    // Index -1 appends; 0..count inserts before that position; any other index, or an item already held, does
    // nothing. Returns whether the item was taken.
    bool AddObject(T* item, int index = -1)
    {
        if (!item || FindObject(item) >= 0)
            return false;
        if (index == -1 || index == GetObjectCount()) {
            m_items.push_back(item);
            return true;
        }
        if (index < 0 || index > GetObjectCount())
            return false;
        m_items.insert(m_items.begin() + index, item);
        return true;
    }
    void RemoveObject(int index)
    {
        if (index < 0 || index >= GetObjectCount())
            return;
        T* item = m_items[static_cast<std::size_t>(index)];
        m_items.erase(m_items.begin() + index);
        delete item;
    }
    T* GetObject(int index) const
    {
        return (index < 0 || index >= GetObjectCount()) ? nullptr : m_items[static_cast<std::size_t>(index)];
    }
    int GetObjectCount() const { return static_cast<int>(m_items.size()); }
    int FindObject(const T* item) const
    {
        for (std::size_t i = 0; i < m_items.size(); ++i)
            if (m_items[i] == item)
                return static_cast<int>(i);
        return -1;
    }

private:
    std::deque<T*> m_items;
};

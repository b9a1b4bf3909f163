#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <QString>

struct curl_sockaddr;

#include "TimerNotify.h"

class FIDownloadMessageQueue;

// The settings of one request.
struct CRequestInfo {
    QString strUrl;
    int nResumeOffset = 0; // > 0: ask for the bytes from this offset on ("Range: bytes=%d-")
    QString strUserAgent;
    QString strHeaders; // extra request headers, each ending with CR LF
    std::uint32_t dwFlags = 0x84000000; // reload (always from the server) and no cache write
    QString strProxyHost; // empty: the system's proxy settings (http_proxy, https_proxy, no_proxy)
    int nProxyPort = 80;
    QString strProxyUser;
    QString strProxyPassword;
    bool bHttpsRedirectsOnly = false; // redirects may lead to https addresses only
    std::int64_t nMaxBytes = 0; // > 0: a longer body fails the transfer as soon as it is seen, unread
    int nStallSeconds = 60; // a transfer that receives nothing for this long fails
    int nDeadlineSeconds = 0; // > 0: a transfer still running after this long in all fails
    // Not empty: the body is written to this file as it arrives (created or emptied, mode 0600) instead of being
    // kept in memory; TakeReceivedData then gives nothing. A failed write fails the transfer.
    QString strSaveFile;

    static constexpr std::uint32_t kFlagReload = 0x80000000;
    static constexpr std::uint32_t kFlagNoCacheWrite = 0x04000000;

    // The header lines sent: the Range line first, then the extra headers, then the no-cache pair.
    QStringList HeaderLines() const;
    // "host:port" when an explicit proxy is set, else "".
    QString ProxyText() const;
};

// What the server answered; complete once the connected message has been posted.
struct CResponseInfo {
    int nStatusCode = 0;
    int nContentLength = 0;
    bool bHasContentLength = false;
    QString strLastModified;
    QString strServer;
    int nReadResult = 0; // 1: the body ended at the end of the data; 0: a read failed (or no response)
    std::int64_t nBytesReceived = 0;
    std::int64_t nTransferMs = 0; // from the start of the request to the end of the body
};

// Bytes handed out by TakeReceivedData: the received bytes followed by two zero bytes. Owns the block.
class CReceivedData
{
public:
    CReceivedData() = default;
    CReceivedData(char* data, int count)
        : m_pData(data, &std::free)
        , m_nCount(count)
    {
    }
    const char* data() const { return m_pData.get(); }
    int count() const { return m_nCount; }

private:
    std::unique_ptr<char, decltype(&std::free)> m_pData { nullptr, &std::free };
    int m_nCount = 0;
};

// One HTTP download into memory, started by the constructor on a worker thread. The GUI thread notices the end
// of each step by polling every 200 ms and posts DOWNLOAD_MSG_CONNECTED, then DOWNLOAD_MSG_FINISHED to the owner,
// each exactly once and in that order, whatever happens to the transfer. Destroying the task aborts the worker
// within about a second, even when the server stalls, and waits for it.
class FCHttpDownload
{
public:
    FCHttpDownload(const CRequestInfo& request, int taskId, FIDownloadMessageQueue* owner);
    virtual ~FCHttpDownload();
    FCHttpDownload(const FCHttpDownload&) = delete;
    FCHttpDownload& operator=(const FCHttpDownload&) = delete;

    int GetTaskID() const { return m_nTaskId; }
    const CRequestInfo& Request() const { return m_request; }
    // Readable once the connected message has arrived; its read result, byte count and time once the finished
    // message has.
    const CResponseInfo& Response() const { return m_response; }
    // The bytes received since the last call (none: a null block and 0); empties the buffer, which keeps its
    // capacity for what follows.
    CReceivedData TakeReceivedData();
    // Capacity of the receive buffer (for tests).
    int ReceiveCapacity() const;

    static constexpr int kPollMs = 200;
    static constexpr int kBufferStep = 131072;
    // The most room a Content-Length reserves ahead; a longer body grows from there.
    static constexpr std::size_t kMaxReserve = std::size_t(1) << 30;
    // libcurl's receive buffer: large chunks keep a fast local transfer from being bound by per-chunk work.
    static constexpr int kChunkBytes = 256 * 1024;

    // Bytes per second over a span of 32-bit millisecond ticks (a wrapped counter handled; 0 ms counts as 100).
    static int Rate(std::int64_t bytes, std::uint32_t from, std::uint32_t to);

    class CReceiveBuffer
    {
    public:
        CReceiveBuffer();
        ~CReceiveBuffer();
        bool Append(const char* data, std::size_t n);
        // Makes room for a body of the given size at once (in whole steps), so that a body of known length is
        // received without moving it as it grows. Only address space is taken until bytes arrive.
        void Reserve(std::size_t bytes);
        CReceivedData Take();
        int Capacity() const;

    private:
        mutable std::mutex m_lock;
        char* m_pData = nullptr;
        std::size_t m_nCapacity = 0;
        std::size_t m_nLength = 0;
    };

    class CCalculateSpeed : public FCTimerNotify
    {
    public:
        CCalculateSpeed();
        void AddBytes(std::int64_t n);
        void End();
        void OnTimer() override;
        int CurrentSpeed() const;

    private:
        static std::uint32_t Now();
        mutable std::mutex m_lock;
        int m_nSpeed = 0;
        std::int64_t m_nSinceTick = 0;
        std::int64_t m_nTotal = 0;
        std::uint32_t m_nStart = 0;
        std::uint32_t m_nLastTick = 0;
        bool m_bEnded = false;
    };

private:
    // A poll timer that runs one of the task's checks.
    class CTaskTimer : public FCTimerNotify
    {
    public:
        CTaskTimer(FCHttpDownload* task, void (FCHttpDownload::*check)())
            : m_pTask(task)
            , m_check(check)
        {
        }
        void OnTimer() override { (m_pTask->*m_check)(); }

    private:
        FCHttpDownload* m_pTask;
        void (FCHttpDownload::*m_check)();
    };

    void Work();
    void CheckConnected();
    void CheckFinished();
    void MarkConnected();
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static int OnProgress(void* self, std::int64_t, std::int64_t, std::int64_t, std::int64_t);
    static int OnOpenSocket(void* self, int purpose, struct curl_sockaddr* address);
    static int OnCloseSocket(void* self, int socket);

    int m_nTaskId;
    CRequestInfo m_request;
    CResponseInfo m_response; // written by the worker before m_bConnected / m_bFinished are set
    CResponseInfo m_pending; // the worker's copy while headers arrive
    std::int64_t m_nBodyBytes = 0; // the worker's count of the current response's body
    int m_nEndReadResult = 0; // written by the worker before m_bFinished is set, read after
    std::int64_t m_nEndBytes = 0;
    std::int64_t m_nEndMs = 0;
    CCalculateSpeed m_speed;
    CReceiveBuffer m_buffer;
    FIDownloadMessageQueue* m_pOwner;
    CTaskTimer m_connectTimer;
    CTaskTimer m_finishTimer;
    std::thread m_worker;
    std::atomic<bool> m_bAbort { false };
    std::atomic<bool> m_bConnected { false };
    std::atomic<bool> m_bFinished { false };
    bool m_bLocationSeen = false;
    int m_nFile = -1; // the worker's file for strSaveFile
    // The worker's connection, so that an abort can shut it down and wake a blocked read at once.
    std::mutex m_socketLock;
    int m_nSocket = -1;
};

#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "HidDevice.h"

class CRemoteKeyRouter;

struct RemotePressCode {
    std::uint16_t customCode = 0;
    std::uint8_t keyByte = 0;
};

// The custom code and key byte of a valid answer report; nothing when the report fails its checks (echo 0x82 at
// byte 1, 1 at byte 12, key byte + check byte = 0xFC).
std::optional<RemotePressCode> DecodeAnswerReport(const HidReport& answer);

// Polls the IR receiver on a thread of its own, checks each answer and routes its key.
class CIRReceiverThread
{
public:
    // Pauses of the loop: no receiver found, a failed exchange, and after every exchange (about three keys a second).
    static constexpr int kSearchPauseMs = 1000;
    static constexpr int kFailurePauseMs = 200;
    static constexpr int kKeyPauseMs = 300;

    // sleep(ms) pauses the reader; the default waits on the clock and wakes early when the reader stops.
    using SleepFunction = std::function<void(int ms)>;

    CIRReceiverThread(CRemoteKeyRouter* router, std::unique_ptr<IHidIRDevice> device, SleepFunction sleep = {});
    ~CIRReceiverThread();

    // Starts the reader thread; it runs until the object is destroyed (at process end).
    bool Start();
    // One turn of the loop: search, exchange, handle, pause.
    void RunOnce();

    // Checks one answer report and routes its key; also the entry of the software remote.
    void HandleReport(const HidReport& answer);
    void PostRemoteKey(int command, std::uint8_t keyByte);

    // A valid answer report for a code and key, as the receiver would send it.
    static HidReport MakeAnswerReport(std::uint16_t customCode, std::uint8_t keyByte);

private:
    void Sleep(int ms);

    CRemoteKeyRouter* m_pRouter;
    std::unique_ptr<IHidIRDevice> m_pDevice;
    SleepFunction m_sleep;
    std::thread m_thread;
    std::atomic<bool> m_bStop { false };
    bool m_bToldOpenFailure = false; // the reader thread's own
    std::mutex m_lock;
    std::condition_variable m_wake;
};

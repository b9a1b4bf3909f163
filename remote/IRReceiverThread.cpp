#include "IRReceiverThread.h"

#include <chrono>

#include "KeyRouter.h"
#include "RemoteCodes.h"
#include "common/Globals.h"
#include "common/Log.h"

namespace
{
// Positions of the answer report's fields.
constexpr int kEchoByte = 1; // 0x82, the request code echoed
constexpr int kValidByte = 12; // 1 when a key was received
constexpr int kCodeHighByte = 36; // custom code, high byte
constexpr int kKeyByte = 43;
constexpr int kCodeLowByte = 52;
constexpr int kCheckByte = 60; // the complement of the key byte minus 3: key + check = 0xFC (mod 256)
} // namespace

CIRReceiverThread::CIRReceiverThread(CRemoteKeyRouter* router, std::unique_ptr<IHidIRDevice> device,
                                     SleepFunction sleep)
    : m_pRouter(router)
    , m_pDevice(std::move(device))
    , m_sleep(std::move(sleep))
{
}

CIRReceiverThread::~CIRReceiverThread()
{
    m_bStop = true;
    m_wake.notify_all();
    if (m_pDevice)
        m_pDevice->Interrupt();
    if (m_thread.joinable())
        m_thread.join();
}

bool CIRReceiverThread::Start()
{
    if (m_thread.joinable())
        return true;
    m_thread = std::thread([this] {
        while (!m_bStop)
            RunOnce();
    });
    return true;
}

void CIRReceiverThread::Sleep(int ms)
{
    if (m_sleep) {
        m_sleep(ms);
        return;
    }
    std::unique_lock lock(m_lock);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bStop.load(); });
}

void CIRReceiverThread::RunOnce()
{
    if (!m_pDevice->IsOpen() && !m_pDevice->FindAndOpen()) {
        // A receiver that is there but may not be opened is a dead remote the user cannot explain: said once.
        const QString failure = m_pDevice->OpenFailure();
        if (!failure.isEmpty() && !m_bToldOpenFailure) {
            m_bToldOpenFailure = true;
            qCWarning(lcRemote).noquote() << failure;
            m_pRouter->ReportReceiverProblem(failure);
        }
        Sleep(kSearchPauseMs);
        return;
    }
    HidReport answer {};
    if (!m_pDevice->Exchange(answer)) {
        Sleep(kFailurePauseMs);
        return;
    }
    HandleReport(answer);
    Sleep(kKeyPauseMs);
}

std::optional<RemotePressCode> DecodeAnswerReport(const HidReport& answer)
{
    if (answer[kEchoByte] != 0x82 || answer[kValidByte] != 1
        || static_cast<std::uint8_t>(answer[kKeyByte] + answer[kCheckByte]) != 0xFC)
        return std::nullopt;
    return RemotePressCode { static_cast<std::uint16_t>(answer[kCodeHighByte] * 256 + answer[kCodeLowByte]),
                             answer[kKeyByte] };
}

void CIRReceiverThread::HandleReport(const HidReport& answer)
{
    const std::optional<RemotePressCode> press = DecodeAnswerReport(answer);
    if (!press)
        return;
    const std::uint16_t customCode = press->customCode;
    const std::uint8_t keyByte = press->keyByte;
    g_wCompanyID = customCode;
    if (g_bIRLearning) {
        m_pRouter->SendLearnCode(customCode, keyByte, [this] { return m_bStop.load(); });
        return;
    }
    PostRemoteKey(LookupCommand(customCode, keyByte), keyByte);
}

void CIRReceiverThread::PostRemoteKey(int command, std::uint8_t keyByte)
{
    m_pRouter->PostKey(command, keyByte);
}

HidReport CIRReceiverThread::MakeAnswerReport(std::uint16_t customCode, std::uint8_t keyByte)
{
    HidReport answer {};
    answer[kEchoByte] = 0x82;
    answer[kValidByte] = 1;
    answer[kCodeHighByte] = static_cast<std::uint8_t>(customCode >> 8);
    answer[kCodeLowByte] = static_cast<std::uint8_t>(customCode & 0xFF);
    answer[kKeyByte] = keyByte;
    answer[kCheckByte] = static_cast<std::uint8_t>(0xFC - keyByte);
    return answer;
}

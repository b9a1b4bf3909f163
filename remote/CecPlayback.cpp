#include "CecPlayback.h"

#include <algorithm>

#include <linux/cec.h>

#include <QStringList>

#include "common/Log.h"
#include "common/RemoteCommand.h"

namespace
{

constexpr int kTv = 0;
constexpr int kAudioSystem = 5;

struct CecKeyCommand {
    int uiCode;
    int command;
};

// HDMI-CEC user control codes (the key codes a TV sends in <User Control Pressed>), by the remote command they give.
constexpr CecKeyCommand kCecKeys[] = {
    { 0x00, RC_Ok }, // Select
    { 0x01, RC_Up },
    { 0x02, RC_Down },
    { 0x03, RC_Left },
    { 0x04, RC_Right },
    { 0x0d, RC_Back }, // Exit (Back on newer remotes)
    { 0x20, RC_Digit0 },
    { 0x21, RC_Digit1 },
    { 0x22, RC_Digit2 },
    { 0x23, RC_Digit3 },
    { 0x24, RC_Digit4 },
    { 0x25, RC_Digit5 },
    { 0x26, RC_Digit6 },
    { 0x27, RC_Digit7 },
    { 0x28, RC_Digit8 },
    { 0x29, RC_Digit9 },
    { 0x2b, RC_Ok }, // Enter
    { 0x30, RC_NextPage }, // Channel Up
    { 0x31, RC_PreviousPage }, // Channel Down
    { 0x33, RC_AudioTrack }, // Sound Select
    { 0x37, RC_NextPage }, // Page Up
    { 0x38, RC_PreviousPage }, // Page Down
    { 0x41, RC_VolumeUp },
    { 0x42, RC_VolumeDown },
    { 0x44, RC_PlayPause }, // Play
    { 0x45, RC_LeaveVideo }, // Stop
    { 0x46, RC_PlayPause }, // Pause
    // The wind and skip keys seek in a video, as Left and Right do (and page in the menu as they do).
    { 0x48, RC_Left }, // Rewind
    { 0x49, RC_Right }, // Fast forward
    { 0x4b, RC_Right }, // Forward
    { 0x4c, RC_Left }, // Backward
    { 0x51, RC_Subtitle }, // Sub picture
    { 0x60, RC_PlayPause }, // Play Function
    { 0x61, RC_PlayPause }, // Pause-Play Function
    { 0x64, RC_LeaveVideo }, // Stop Function
};

} // namespace

int RemoteCommandForCecKey(int uiCode)
{
    for (const CecKeyCommand& k : kCecKeys)
        if (k.uiCode == uiCode)
            return k.command;
    return 0;
}

CecFrame CecFrameFromText(const QString& text)
{
    CecFrame frame;
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > CecFrame::kMaxBytes)
        return {};
    for (const QString& part : parts) {
        bool ok = false;
        const uint value = part.trimmed().toUInt(&ok, 16);
        if (!ok || value > 0xff || part.trimmed().size() > 2)
            return {};
        frame.bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return frame;
}

QString CecFrameText(const CecFrame& frame)
{
    QStringList parts;
    for (std::uint8_t b : frame.bytes)
        parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(':'));
}

CCecPlayback::CCecPlayback(std::unique_ptr<ICecAdapter> adapter, std::function<void(int)> keySink, QObject* parent)
    : QObject(parent)
    , m_pAdapter(std::move(adapter))
    , m_keySink(std::move(keySink))
{
    m_pAdapter->onFrame = [this](const CecFrame& frame) { OnFrame(frame); };
    m_pAdapter->onAddresses = [this](std::uint16_t physical, int logical) { OnAddresses(physical, logical); };
}

CCecPlayback::~CCecPlayback()
{
    // The adapter may outlive nothing of ours, but its callbacks must not reach a half-destroyed object.
    m_pAdapter->onFrame = nullptr;
    m_pAdapter->onAddresses = nullptr;
}

bool CCecPlayback::Start()
{
    return m_pAdapter->Claim(QString::fromLatin1(kOsdName));
}

void CCecPlayback::WakeTv()
{
    m_bWakePending = true;
    m_wakeAsked.start();
    if (m_logical >= 0)
        SendWake();
}

void CCecPlayback::SendWake()
{
    m_bWakePending = false;
    Send(kTv, { CEC_MSG_IMAGE_VIEW_ON });
    if (m_physical != CEC_PHYS_ADDR_INVALID)
        SendActiveSource();
    SetTvOn(true);
}

void CCecPlayback::StandbyTv()
{
    if (m_logical >= 0)
        Send(kTv, { CEC_MSG_STANDBY });
}

void CCecPlayback::OnAddresses(std::uint16_t physical, int logical)
{
    m_physical = physical;
    m_logical = logical >= 0 && logical < CecFrame::kBroadcast ? logical : -1;
    if (m_logical < 0)
        m_bActive = false;
    qCInfo(lcRemote, "CEC: physical address %x.%x.%x.%x, logical address %d", physical >> 12, (physical >> 8) & 0xf,
           (physical >> 4) & 0xf, physical & 0xf, m_logical);
    if (m_bWakePending && m_logical >= 0) {
        if (m_wakeAsked.elapsed() <= kWakePendingMs)
            SendWake();
        else
            m_bWakePending = false; // asked too long ago: the TV came on by itself, and stays on what it shows
    }
}

void CCecPlayback::Send(int destination, const std::vector<std::uint8_t>& opcodeAndOperands)
{
    CecFrame frame;
    frame.bytes.resize(opcodeAndOperands.size() + 1);
    frame.bytes[0] = static_cast<std::uint8_t>(m_logical << 4 | destination);
    std::copy(opcodeAndOperands.begin(), opcodeAndOperands.end(), frame.bytes.begin() + 1);
    if (!m_pAdapter->Transmit(frame))
        qCInfo(lcRemote, "CEC: could not send %s", qPrintable(CecFrameText(frame)));
}

void CCecPlayback::SendActiveSource()
{
    m_bActive = true;
    Send(CecFrame::kBroadcast,
         { CEC_MSG_ACTIVE_SOURCE, static_cast<std::uint8_t>(m_physical >> 8), static_cast<std::uint8_t>(m_physical) });
}

void CCecPlayback::FeatureAbort(const CecFrame& in, std::uint8_t reason)
{
    Send(in.Initiator(), { CEC_MSG_FEATURE_ABORT, static_cast<std::uint8_t>(in.Opcode()), reason });
}

void CCecPlayback::SetTvOn(bool on)
{
    if (on == m_bTvOn)
        return;
    m_bTvOn = on;
    if (!m_powerLogMinute.isValid() || m_powerLogMinute.elapsed() >= 60000) {
        m_powerLogMinute.start();
        m_nPowerLines = 0;
    }
    if (++m_nPowerLines <= kPowerLinesPerMinute)
        qCInfo(lcRemote, "CEC: the TV is %s", on ? "on" : "in standby");
    emit tvPowerChanged(on);
}

void CCecPlayback::OnFrame(const CecFrame& in)
{
    // Polls, frames to other devices, our own frames and anything before we have an address are not ours to
    // answer.
    if (m_logical < 0 || in.bytes.size() < 2 || in.bytes.size() > CecFrame::kMaxBytes)
        return;
    const int from = in.Initiator();
    const bool broadcast = in.Destination() == CecFrame::kBroadcast;
    if ((!broadcast && in.Destination() != m_logical) || from == m_logical)
        return;
    const int opcode = in.Opcode();
    // A frame too short for its opcode is malformed: answered when directed to us, with <Feature Abort> "invalid
    // operand" (so that the TV does not wait for an answer); a broadcast is never answered.
    const auto needs = [&](std::size_t operands) {
        if (in.OperandCount() >= operands)
            return true;
        if (!broadcast)
            FeatureAbort(in, CEC_OP_ABORT_INVALID_OP);
        return false;
    };
    const auto addressOperand = [&] { return static_cast<std::uint16_t>(in.Operand(0) << 8 | in.Operand(1)); };

    switch (opcode) {
    case CEC_MSG_GIVE_PHYSICAL_ADDR:
        if (!broadcast)
            Send(CecFrame::kBroadcast,
                 { CEC_MSG_REPORT_PHYSICAL_ADDR, static_cast<std::uint8_t>(m_physical >> 8),
                   static_cast<std::uint8_t>(m_physical), CEC_OP_PRIM_DEVTYPE_PLAYBACK });
        return;
    case CEC_MSG_GIVE_OSD_NAME:
        if (!broadcast) {
            std::vector<std::uint8_t> answer { CEC_MSG_SET_OSD_NAME };
            for (const char* c = kOsdName; *c; ++c)
                answer.push_back(static_cast<std::uint8_t>(*c));
            Send(from, answer);
        }
        return;
    case CEC_MSG_GIVE_DEVICE_POWER_STATUS:
        if (!broadcast)
            Send(from, { CEC_MSG_REPORT_POWER_STATUS, CEC_OP_POWER_STATUS_ON });
        return;
    case CEC_MSG_GET_CEC_VERSION:
        if (!broadcast)
            Send(from, { CEC_MSG_CEC_VERSION, CEC_OP_CEC_VERSION_1_4 });
        return;
    case CEC_MSG_GIVE_DEVICE_VENDOR_ID:
        // We hold no IEEE company id to report; the kernel answers the same way for such a device.
        if (!broadcast)
            FeatureAbort(in, CEC_OP_ABORT_UNRECOGNIZED_OP);
        return;
    case CEC_MSG_MENU_REQUEST:
        if (broadcast || !needs(1))
            return;
        if (in.Operand(0) == CEC_OP_MENU_REQUEST_ACTIVATE)
            m_bMenuActive = true;
        else if (in.Operand(0) == CEC_OP_MENU_REQUEST_DEACTIVATE)
            m_bMenuActive = false;
        Send(
            from,
            { CEC_MSG_MENU_STATUS,
              static_cast<std::uint8_t>(m_bMenuActive ? CEC_OP_MENU_STATE_ACTIVATED : CEC_OP_MENU_STATE_DEACTIVATED) });
        return;
    case CEC_MSG_USER_CONTROL_PRESSED:
        // Keys of the TV's remote, as the TV passes them on, or of the sound system's: any other device on the
        // bus (a console, a streaming stick) is no remote of ours.
        if (broadcast || (from != kTv && from != kAudioSystem) || !needs(1))
            return;
        if (from == kTv)
            SetTvOn(true);
        if (const int command = RemoteCommandForCecKey(in.Operand(0)))
            m_keySink(command);
        return;
    case CEC_MSG_USER_CONTROL_RELEASED:
        return; // a held key arrives as repeated presses
    case CEC_MSG_STANDBY:
        // The TV went to standby and tells its devices to follow. The PC stays up; what plays is held.
        if (from == kTv)
            SetTvOn(false);
        return;
    case CEC_MSG_REPORT_POWER_STATUS:
        if (from == kTv && in.OperandCount() >= 1)
            SetTvOn(in.Operand(0) == CEC_OP_POWER_STATUS_ON || in.Operand(0) == CEC_OP_POWER_STATUS_TO_ON);
        return;
    case CEC_MSG_REQUEST_ACTIVE_SOURCE:
        if (from == kTv)
            SetTvOn(true);
        if (broadcast && m_bActive && m_physical != CEC_PHYS_ADDR_INVALID)
            SendActiveSource();
        return;
    case CEC_MSG_SET_STREAM_PATH:
        // The TV asks the device at this address to show itself: the user chose us on the TV.
        if (!broadcast || in.OperandCount() < 2)
            return;
        if (from == kTv)
            SetTvOn(true);
        if (addressOperand() == m_physical && m_physical != CEC_PHYS_ADDR_INVALID)
            SendActiveSource();
        else
            m_bActive = false;
        return;
    case CEC_MSG_ROUTING_CHANGE:
        if (broadcast && in.OperandCount() >= 4
            && static_cast<std::uint16_t>(in.Operand(2) << 8 | in.Operand(3)) != m_physical)
            m_bActive = false;
        return;
    case CEC_MSG_ACTIVE_SOURCE:
        // Another source took the TV (or the TV its own tuner).
        if (broadcast && in.OperandCount() >= 2 && addressOperand() != m_physical)
            m_bActive = false;
        return;
    case CEC_MSG_FEATURE_ABORT:
        return; // never answered, or two devices could abort each other forever
    case CEC_MSG_ABORT:
        if (!broadcast)
            FeatureAbort(in, CEC_OP_ABORT_REFUSED);
        return;
    default:
        // A directed message we do not support gets <Feature Abort>; a broadcast one is ignored.
        if (!broadcast)
            FeatureAbort(in, CEC_OP_ABORT_UNRECOGNIZED_OP);
        return;
    }
}

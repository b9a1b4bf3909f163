#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QObject>

#include "CecAdapter.h"

// The remote command of a CEC user control code (the TV remote's key in <User Control Pressed>): digits, arrows,
// select and enter, back/exit, channel and page up/down, volume, play/pause/stop, subtitles and sound select. 0 for
// any other key (the TV's power key among them: the TV handles that one itself).
int RemoteCommandForCecKey(int uiCode);

// Frames written as cec-ctl writes them: hex bytes separated by ':' ("40:04"); an empty
// frame for text that is not such a list.
CecFrame CecFrameFromText(const QString& text);
QString CecFrameText(const CecFrame& frame);

// This program as an HDMI-CEC playback device: it answers what a TV asks of one (physical address, OSD name, power
// status, CEC version, vendor id, menu status, active source), takes the TV remote's keys as remote commands, wakes
// the TV and makes it show the PC when asked, and says when the TV goes to standby and comes back. It never switches
// the TV's input by itself: only WakeTv does, and the TV's own request for us (<Set Stream Path> to our address).
class CCecPlayback : public QObject
{
    Q_OBJECT
public:
    // keySink takes each remote command of the TV remote.
    CCecPlayback(std::unique_ptr<ICecAdapter> adapter, std::function<void(int command)> keySink,
                 QObject* parent = nullptr);
    ~CCecPlayback() override;

    static constexpr char kOsdName[] = "krel";
    // How long a wake asked for before we have an address (the TV's HDMI link down) is kept.
    static constexpr int kWakePendingMs = 60000;
    static constexpr int kPowerLinesPerMinute = 6;

    // Claims the address.
    bool Start();
    // <Image View On> to the TV and <Active Source> to all; sent as soon as we have an address when we have none yet.
    void WakeTv();
    // <Standby> to the TV.
    void StandbyTv();

    int LogicalAddress() const { return m_logical; }
    std::uint16_t PhysicalAddress() const { return m_physical; }
    bool IsActiveSource() const { return m_bActive; }
    // Whether the TV is on as far as its frames tell (on until it says otherwise).
    bool TvOn() const { return m_bTvOn; }

signals:
    // The TV went to standby (false) or showed it is on again (true).
    void tvPowerChanged(bool on);

private:
    void OnFrame(const CecFrame& in);
    void OnAddresses(std::uint16_t physical, int logical);
    void Send(int destination, const std::vector<std::uint8_t>& opcodeAndOperands);
    void SendActiveSource();
    void SendWake();
    void FeatureAbort(const CecFrame& in, std::uint8_t reason);
    void SetTvOn(bool on);

    std::unique_ptr<ICecAdapter> m_pAdapter;
    std::function<void(int)> m_keySink;
    std::uint16_t m_physical = 0xffff;
    int m_logical = -1;
    bool m_bActive = false;
    bool m_bMenuActive = true;
    bool m_bTvOn = true;
    bool m_bWakePending = false;
    QElapsedTimer m_wakeAsked;
    // The TV's power lines of the last minute: a device on the bus that flips it on and off writes a few at most.
    QElapsedTimer m_powerLogMinute;
    int m_nPowerLines = 0;
};

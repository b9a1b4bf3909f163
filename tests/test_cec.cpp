#include <map>

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include "common/RemoteCommand.h"
#include "remote/CecPlayback.h"

namespace
{

// Plays the TV's side of the bus: what it sends reaches the playback device as the kernel would pass it, and what
// the device sends is kept, written as cec-ctl writes frames.
class StandInTv : public ICecAdapter
{
public:
    QStringList sent;
    QString claimedName;

    bool Claim(const QString& osdName) override
    {
        claimedName = osdName;
        return true;
    }
    bool Transmit(const CecFrame& frame) override
    {
        sent << CecFrameText(frame);
        return true;
    }
    void Send(const char* frame) { onFrame(CecFrameFromText(QString::fromLatin1(frame))); }
    // Playback device 1 (logical address 4) on the TV's first HDMI input (1.0.0.0).
    void AssignAddress(std::uint16_t physical = 0x1000, int logical = 4) { onAddresses(physical, logical); }
    // What was sent since the last call, frames separated by spaces.
    std::string Take() { return std::exchange(sent, {}).join(QLatin1Char(' ')).toStdString(); }
};

struct Device {
    StandInTv* tv;
    std::vector<int> keys;
    std::unique_ptr<CCecPlayback> playback;
};

Device MakeDevice()
{
    Device d;
    auto tv = std::make_unique<StandInTv>();
    d.tv = tv.get();
    d.playback = std::make_unique<CCecPlayback>(std::move(tv), [keys = &d.keys](int c) { keys->push_back(c); });
    return d;
}

} // namespace

// One TV's session with us, frame by frame, in cec-ctl's notation (header: initiator and destination;
// 4 is our playback address, 0 the TV, f everyone). State carries from row to row.
TEST(Cec, AnswersWhatTheTvAsks)
{
    Device d = MakeDevice();
    ASSERT_TRUE(d.playback->Start());
    EXPECT_EQ(d.tv->claimedName, QStringLiteral("krel"));
    d.tv->Send("04:46");
    EXPECT_EQ(d.tv->Take(), "") << "answered before an address was claimed";
    d.tv->AssignAddress();

    struct Row {
        const char* tv;
        const char* answers;
        int command;
        bool tvOn;
    };
    const Row rows[] = {
        { "04", "", 0, true }, // a poll: the bus acknowledges it, nobody answers
        { "04:46", "40:47:6b:72:65:6c", 0, true }, // <Give OSD Name>: "krel"
        { "04:83", "4f:84:10:00:04", 0, true }, // <Give Physical Address>: to all, as a playback device
        { "04:8f", "40:90:00", 0, true }, // <Give Device Power Status>: on
        { "04:9f", "40:9e:05", 0, true }, // <Get CEC Version>: 1.4
        { "04:8c", "40:00:8c:00", 0, true }, // <Give Device Vendor ID>: no company id to give
        { "04:8d:02", "40:8e:00", 0, true }, // <Menu Request> query: activated
        { "04:8d:01", "40:8e:01", 0, true }, // deactivate
        { "04:8d:00", "40:8e:00", 0, true }, // activate
        { "04:8d", "40:00:8d:03", 0, true }, // without its operand: invalid operand
        { "0f:85", "", 0, true }, // <Request Active Source>: not ours while we are not the source
        { "0f:86:20:00", "", 0, true }, // <Set Stream Path> to another input
        { "0f:86:10:00", "4f:82:10:00", 0, true }, // ... to ours: we show ourselves
        { "0f:85", "4f:82:10:00", 0, true }, // and say so when asked
        { "0f:82:00:00", "", 0, true }, // the TV took its own tuner
        { "0f:85", "", 0, true },
        { "0f:86:10", "", 0, true }, // a torn broadcast is ignored
        { "04:36", "", 0, false }, // <Standby>: the TV goes off
        { "04:90:00", "", 0, true }, // <Report Power Status> on
        { "04:90:01", "", 0, false }, // standby
        { "04:90:02", "", 0, true }, // going from standby to on
        { "04:90:03", "", 0, false }, // going from on to standby
        { "04:90:00", "", 0, true },
        { "0f:36", "", 0, false }, // <Standby> to all
        { "5f:36", "", 0, false }, // a sound system's standby says nothing of the TV
        { "04:44:01", "", RC_Up, true }, // <User Control Pressed> Up: the TV is on again
        { "04:45", "", 0, true }, // <User Control Released>
        { "04:44:40", "", 0, true }, // the TV's power key is the TV's own
        { "04:44", "40:00:44:03", 0, true },
        { "54:44:20", "", RC_Digit0, true }, // the sound system's keys are keys too
        { "34:44:20", "", 0, true }, // a tuner's are not
        { "84:44:20", "", 0, true }, // nor another playback device's
        { "e4:44:20", "", 0, true }, // nor those of a device of specific use
        { "04:ff", "40:00:ff:04", 0, true }, // <Abort>: always answered with a refusal
        { "04:1a:01", "40:00:1a:00", 0, true }, // unsupported directed: <Feature Abort>
        { "04:00:8c:00", "", 0, true }, // a <Feature Abort> is never answered
        { "0f:a6:06:02:00:00", "", 0, true }, // unsupported broadcast: ignored
        // Requests that only a message directed to us may ask, broadcast: nobody answers them.
        { "0f:83", "", 0, true },
        { "0f:46", "", 0, true },
        { "0f:8f", "", 0, true },
        { "0f:9f", "", 0, true },
        { "0f:8c", "", 0, true },
        { "0f:8d:02", "", 0, true },
        { "0f:44:01", "", 0, true }, // nor is a key pressed for everyone ours
        { "08:46", "", 0, true }, // for another device
        { "44:46", "", 0, true }, // our own frame
    };
    for (const Row& row : rows) {
        d.keys.clear();
        d.tv->Send(row.tv);
        EXPECT_EQ(d.tv->Take(), row.answers) << row.tv;
        EXPECT_EQ(d.keys, row.command ? std::vector<int> { row.command } : std::vector<int> {}) << row.tv;
        EXPECT_EQ(d.playback->TvOn(), row.tvOn) << row.tv;
    }
}

// Waking: <Image View On> to the TV and <Active Source> to all, once an address is there; standby on request.
TEST(Cec, WakesTheTvOnlyWhenAsked)
{
    Device d = MakeDevice();
    d.playback->Start();
    QSignalSpy power(d.playback.get(), &CCecPlayback::tvPowerChanged);
    d.playback->WakeTv(); // the TV's link is down: nothing can be sent yet
    EXPECT_EQ(d.tv->Take(), "");
    d.tv->AssignAddress();
    EXPECT_EQ(d.tv->Take(), "40:04 4f:82:10:00");
    EXPECT_TRUE(d.playback->IsActiveSource());
    d.tv->AssignAddress(0xffff, -1); // link down again, then back: no second wake
    d.tv->AssignAddress();
    EXPECT_EQ(d.tv->Take(), "");

    d.tv->Send("0f:36");
    ASSERT_EQ(power.size(), 1);
    EXPECT_EQ(power.takeFirst().at(0).toBool(), false);
    d.playback->WakeTv();
    EXPECT_EQ(d.tv->Take(), "40:04 4f:82:10:00");
    ASSERT_EQ(power.size(), 1);
    EXPECT_EQ(power.takeFirst().at(0).toBool(), true);
    d.playback->StandbyTv();
    EXPECT_EQ(d.tv->Take(), "40:36");

    // A TV (or a device posing as one) flipping on and off: every flip is heard, a few are logged.
    static int s_lines = 0;
    s_lines = 0;
    const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        s_lines += m.contains(QLatin1String("CEC: the TV is"));
    });
    power.clear();
    for (int i = 0; i < 50; ++i)
        d.tv->Send(i % 2 ? "04:90:00" : "04:36");
    qInstallMessageHandler(before);
    EXPECT_EQ(power.size(), 50);
    EXPECT_GE(s_lines, 1);
    EXPECT_LE(s_lines, CCecPlayback::kPowerLinesPerMinute);
}

// The TV remote's keys as they come over the bus, <User Control Pressed> with every user control code there is:
// the keys krel takes give their commands in the order pressed, every other code none.
TEST(Cec, TvRemoteKeys)
{
    // By the names HDMI-CEC gives the keys.
    const std::map<int, int> taken = {
        { 0x00, RC_Ok }, // Select
        { 0x01, RC_Up },           { 0x02, RC_Down },       { 0x03, RC_Left },      { 0x04, RC_Right },
        { 0x0d, RC_Back }, // Exit
        { 0x20, RC_Digit0 },       { 0x21, RC_Digit1 },     { 0x22, RC_Digit2 },    { 0x23, RC_Digit3 },
        { 0x24, RC_Digit4 },       { 0x25, RC_Digit5 },     { 0x26, RC_Digit6 },    { 0x27, RC_Digit7 },
        { 0x28, RC_Digit8 },       { 0x29, RC_Digit9 },     { 0x2b, RC_Ok }, // Enter
        { 0x30, RC_NextPage }, // Channel Up
        { 0x31, RC_PreviousPage }, // Channel Down
        { 0x33, RC_AudioTrack }, // Sound Select
        { 0x37, RC_NextPage }, // Page Up
        { 0x38, RC_PreviousPage }, // Page Down
        { 0x41, RC_VolumeUp },     { 0x42, RC_VolumeDown }, { 0x44, RC_PlayPause }, // Play
        { 0x45, RC_LeaveVideo }, // Stop
        { 0x46, RC_PlayPause }, // Pause
        { 0x48, RC_Left }, // Rewind
        { 0x49, RC_Right }, // Fast forward
        { 0x4b, RC_Right }, // Forward
        { 0x4c, RC_Left }, // Backward
        { 0x51, RC_Subtitle }, // Sub picture
        { 0x60, RC_PlayPause }, // Play Function
        { 0x61, RC_PlayPause }, // Pause-Play Function
        { 0x64, RC_LeaveVideo }, // Stop Function
    };
    Device d = MakeDevice();
    ASSERT_TRUE(d.playback->Start());
    d.tv->AssignAddress();
    std::vector<int> expected;
    for (int code = 0; code <= 0xff; ++code) {
        d.tv->Send(QStringLiteral("04:44:%1").arg(code, 2, 16, QLatin1Char('0')).toLatin1().constData());
        d.tv->Send("04:45");
        if (const auto it = taken.find(code); it != taken.end())
            expected.push_back(it->second);
    }
    EXPECT_EQ(d.keys, expected);

    // Frames as text: what cannot be a frame is none.
    for (const char* bad : { "", "40:", "40:046", "zz", "40:04:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00" })
        EXPECT_TRUE(CecFrameFromText(QString::fromLatin1(bad)).bytes.empty()) << bad;
    EXPECT_EQ(CecFrameText(CecFrameFromText(QStringLiteral("4f:82:10:00"))), QStringLiteral("4f:82:10:00"));
}

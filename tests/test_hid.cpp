// The real HID adapter (hidapi) and the real reader thread against a stand-in for the hidapi library that
// emulates the receiver: where the report bytes land, the report-id byte, the 64/65-byte handling, and reopening
// after an unplug.
#include <QThread>

#include <gtest/gtest.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "remote/HidIRDevice.h"
#include "remote/IRReceiverThread.h"
#include "remote/KeyRouter.h"
#include "support/QtWait.h"

extern "C" {
void standin_set_present(int present);
void standin_set_openable(int openable);
void standin_queue_answer(const unsigned char* report65);
int standin_write_count();
int standin_write(int index, unsigned char* out, int capacity);
}

namespace
{

class Recorder : public QObject
{
public:
    std::vector<std::pair<int, quint32>> commands;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == eventType(WM_REMOTE_COMMAND)) {
            commands.emplace_back(static_cast<int>(static_cast<CAppEvent*>(e)->wParam()),
                                  static_cast<CAppEvent*>(e)->lParam());
            return true;
        }
        return QObject::event(e);
    }
};

HidReport lastWrite()
{
    HidReport bytes {};
    const int n = standin_write(standin_write_count() - 1, bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(n, 65) << "the request report is 65 bytes with its report id";
    return bytes;
}

} // namespace

TEST(HidAdapter, ReportsLandWhereTheDecoderReadsThem)
{
    standin_set_present(0);
    CHidIRDevice device;
    EXPECT_FALSE(device.FindAndOpen()); // no receiver
    standin_set_present(1);
    ASSERT_TRUE(device.FindAndOpen());

    // An answer with bytes that differ everywhere: each must arrive at its own index, byte 0 the report id 0.
    HidReport sent = CIRReceiverThread::MakeAnswerReport(0x04FB, 0x10);
    for (std::size_t i = 2; i < sent.size(); ++i)
        if (i != 12 && i != 36 && i != 43 && i != 52 && i != 60)
            sent[i] = static_cast<std::uint8_t>(i * 7);
    sent[0] = 0x5A; // hidraw drops the report id: whatever it was, the adapter puts 0 there
    standin_queue_answer(sent.data());
    HidReport answer {};
    ASSERT_TRUE(device.Exchange(answer));
    EXPECT_EQ(answer[0], 0);
    for (std::size_t i = 1; i < answer.size(); ++i)
        EXPECT_EQ(answer[i], sent[i]) << i;
    const auto press = DecodeAnswerReport(answer);
    ASSERT_TRUE(press.has_value());
    EXPECT_EQ(press->customCode, 0x04FB);
    EXPECT_EQ(press->keyByte, 0x10);
    // The request went out as 65 bytes: report id 0, then 0x82.
    const HidReport request = lastWrite();
    EXPECT_EQ(request[0], 0);
    EXPECT_EQ(request[1], 0x82);

    // Unplugged: the exchange fails and the device is closed; plugged in again it opens anew.
    standin_set_present(0);
    EXPECT_FALSE(device.Exchange(answer));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.FindAndOpen());
    standin_set_present(1);
    EXPECT_TRUE(device.FindAndOpen());
}

// The reader thread on the real adapter: keys arrive in order, also across an unplug and replug.
TEST(HidAdapter, ReaderThreadAcrossAnUnplug)
{
    standin_set_present(1);
    CRemoteKeyRouter router;
    Recorder control;
    router.SetControlWindow(&control);
    g_bIRLearning = false;
    CIRReceiverThread reader(&router, std::make_unique<CHidIRDevice>(), [](int) { QThread::usleep(500); });
    reader.Start();
    auto key = [](std::uint8_t byte) {
        const HidReport report = CIRReceiverThread::MakeAnswerReport(0x04FB, byte);
        standin_queue_answer(report.data());
    };
    key(0x11);
    key(0x12);
    ASSERT_TRUE(WaitFor([&] { return control.commands.size() == 2; }));
    standin_set_present(0);
    WaitFor([] { return false; }, 300);
    standin_set_present(1);
    key(0x13);
    ASSERT_TRUE(WaitFor([&] { return control.commands.size() == 3; }));
    EXPECT_EQ(control.commands,
              (std::vector<std::pair<int, quint32>> { { RC_Digit1, 0x11 }, { RC_Digit2, 0x12 }, { RC_Digit3, 0x13 } }));
}

// A receiver that is there but may not be opened: said once, naming the udev rule; once it can be opened its keys
// arrive, and nothing more is said.
TEST(HidAdapter, ReceiverThatCannotBeOpenedIsSaidOnce)
{
    standin_set_present(1);
    standin_set_openable(0);
    CRemoteKeyRouter router;
    Recorder control;
    router.SetControlWindow(&control);
    int problems = 0;
    QString said;
    QObject::connect(&router, &CRemoteKeyRouter::receiverProblem, &control, [&](const QString& text) {
        ++problems;
        said = text;
    });
    CIRReceiverThread reader(&router, std::make_unique<CHidIRDevice>(), [](int) { QThread::usleep(500); });
    reader.Start();
    ASSERT_TRUE(WaitFor([&] { return problems == 1; }));
    EXPECT_TRUE(said.contains(QLatin1String("70-krel-receiver.rules"))) << said.toStdString();
    standin_set_openable(1);
    standin_queue_answer(CIRReceiverThread::MakeAnswerReport(0x04FB, 0x11).data());
    ASSERT_TRUE(WaitFor([&] { return control.commands.size() == 1; }));
    EXPECT_EQ(problems, 1);
}

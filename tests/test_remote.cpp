#include <cmath>
#include <deque>
#include <map>
#include <set>
#include <mutex>
#include <linux/input.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <libevdev/libevdev.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "remote/IRReceiverThread.h"
#include "remote/InputDevices.h"
#include "remote/KeyRouter.h"
#include "remote/SessionActivity.h"
#include "remote/RemoteCodes.h"
#include "remote/RemoteLearning.h"
#include "remote/RemoteSocket.h"
#include "support/QtWait.h"
#include "support/SystemBus.h"
#include "support/TestEnv.h"

namespace
{

// A window stand-in that records the application messages it receives.
class Recorder : public QObject
{
public:
    struct Message {
        int type;
        quint32 wParam;
        quint32 lParam;
        bool operator==(const Message&) const = default;
    };
    std::vector<Message> messages;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() >= 1275 && e->type() <= 1279) {
            const auto* m = static_cast<CAppEvent*>(e);
            messages.push_back({ e->type(), m->wParam(), m->lParam() });
            return true;
        }
        return QObject::event(e);
    }
};

using Msg = Recorder::Message;

// A receiver that plays a script: each call to FindAndOpen or Exchange takes the next step.
class FakeDevice : public IHidIRDevice
{
public:
    enum Step { NotFound, Found, WriteFails, ReadFails, Answer };
    struct Entry {
        Step step;
        HidReport answer {};
    };
    std::deque<Entry> script;
    std::vector<std::string> calls;

    bool IsOpen() const override { return m_open; }
    bool FindAndOpen() override
    {
        calls.push_back("find");
        m_open = next().step == Found;
        return m_open;
    }
    bool Exchange(HidReport& answer) override
    {
        calls.push_back("exchange");
        const Entry e = next();
        if (e.step != Answer) {
            m_open = false;
            return false;
        }
        answer = e.answer;
        return true;
    }

private:
    Entry next()
    {
        if (script.empty())
            return { NotFound };
        Entry e = script.front();
        script.pop_front();
        return e;
    }
    bool m_open = false;
};

struct Rig {
    Rig()
    {
        auto d = std::make_unique<FakeDevice>();
        device = d.get();
        reader = std::make_unique<CIRReceiverThread>(&router, std::move(d), [this](int ms) { sleeps.push_back(ms); });
        router.SetControlWindow(&control);
        g_bIRLearning = false;
        g_wCompanyID = 0;
    }
    void drain()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    CRemoteKeyRouter router;
    Recorder control;
    FakeDevice* device;
    std::vector<int> sleeps;
    std::unique_ptr<CIRReceiverThread> reader;
};

HidReport answer(std::uint16_t code, std::uint8_t key)
{
    return CIRReceiverThread::MakeAnswerReport(code, key);
}

} // namespace

// The decoding tables of both families, every cell, typed from the remote-code tables (-1: no key of that family).
TEST(RemoteCodes, LookupBothFamilies)
{
    struct Row {
        int command;
        int lg; // key byte, custom code 0x04FB
        int sony; // key byte, custom code 0x53AC
    };
    const Row table[] = {
        { 1, 0x08, 0x17 },  { 2, 0x09, 0x1B },  { 3, 0x60, 0x5E },  { 4, 0x0B, 0x09 },  { 5, 0x0E, -1 },
        { 6, 0x39, 0x5F },  { 8, 0x4D, -1 },    { 9, 0x47, -1 },    { 10, 0x10, 0x06 }, { 11, 0x11, 0x0D },
        { 12, 0x12, 0x0E }, { 13, 0x13, 0x0F }, { 14, 0x14, 0x1C }, { 15, 0x15, 0x1D }, { 16, 0x16, 0x1E },
        { 17, 0x17, 0x1F }, { 18, 0x18, 0x04 }, { 19, 0x19, 0x05 }, { 20, 0x1C, 0x1A }, { 21, 0x1A, 0x07 },
        { 22, 0x02, 0x12 }, { 23, 0x03, 0x15 }, { 24, 0x01, 0x18 }, { 25, 0x00, 0x19 }, { 26, 0x0C, -1 },
        { 27, 0x1B, 0x11 }, { 28, 0x43, 0x53 }, { 29, 0x44, 0x33 }, { 30, 0x4F, 0x08 }, { 31, 0x63, -1 },
        { 32, 0x54, -1 },
    };
    // Every key byte of each family: the command of its row, or 0 for a byte no row names.
    for (const auto& [family, column] : { std::pair { 0x04FB, &Row::lg }, std::pair { 0x53AC, &Row::sony } }) {
        int cells = 0;
        for (int key = 0; key < 256; ++key) {
            int expected = 0;
            for (const Row& row : table)
                if (row.*column == key)
                    expected = row.command;
            cells += expected != 0;
            EXPECT_EQ(LookupCommand(static_cast<std::uint16_t>(family), static_cast<std::uint8_t>(key)), expected)
                << std::hex << family << " " << key;
        }
        EXPECT_EQ(cells, family == 0x04FB ? 31 : 25);
    }
    for (int key = 0; key < 256; ++key)
        EXPECT_EQ(LookupCommand(0x0707, static_cast<std::uint8_t>(key)), 0);
    auto keyOf = [](std::uint16_t family, int command) {
        const auto key = KeyByteFor(family, command);
        return key ? int(*key) : -1;
    };
    for (const Row& row : table) {
        EXPECT_EQ(keyOf(0x04FB, row.command), row.lg) << row.command;
        EXPECT_EQ(keyOf(0x53AC, row.command), row.sony) << row.command;
    }
    EXPECT_FALSE(KeyByteFor(0x53AC, 5).has_value());
    EXPECT_EQ(CommandByName(QStringLiteral("VolumeDown")), RC_VolumeDown);
    EXPECT_EQ(CommandByName(QStringLiteral("volumedown")), 0);
}

// Report checks: the echo, the valid flag and the check byte.
TEST(RemoteReports, ChecksAndDecoding)
{
    Rig rig;
    Recorder tv;
    rig.router.SetTvWindow(&tv);
    HidReport r {};
    r[1] = 0x82;
    r[12] = 1;
    r[36] = 0x04;
    r[52] = 0xFB;
    r[43] = 0x10;
    r[60] = 0xEC;
    rig.reader->HandleReport(r);
    rig.drain();
    EXPECT_EQ(g_wCompanyID.load(), 0x04FB);
    EXPECT_EQ(tv.messages, (std::vector<Msg> { { WM_REMOTE_COMMAND, RC_Digit0, 0x10 } }));

    g_wCompanyID = 0;
    HidReport complement = r;
    complement[60] = 0xEF; // the plain complement is not the check byte
    rig.reader->HandleReport(complement);
    HidReport notValid = r;
    notValid[12] = 0;
    rig.reader->HandleReport(notValid);
    HidReport noEcho = r;
    noEcho[1] = 0x81;
    rig.reader->HandleReport(noEcho);
    rig.drain();
    EXPECT_EQ(tv.messages.size(), 1u);
    EXPECT_EQ(g_wCompanyID.load(), 0);
}

// The loop's pacing against a scripted receiver; no real time passes.
TEST(RemoteReader, SearchExchangeAndPauses)
{
    Rig rig;
    using F = FakeDevice;
    rig.device->script = { { F::NotFound },
                           { F::Found },
                           { F::WriteFails },
                           { F::Found },
                           { F::Answer, answer(0x04FB, 0x13) },
                           { F::Answer, HidReport {} },
                           { F::ReadFails },
                           { F::NotFound },
                           { F::Found },
                           { F::Answer, answer(0x53AC, 0x0F) } };
    for (int i = 0; i < 8; ++i)
        rig.reader->RunOnce();
    rig.drain();
    // The last turn finds the receiver still open and its exchange fails (end of the script): 200.
    EXPECT_EQ(rig.sleeps, (std::vector<int> { 1000, 200, 300, 300, 200, 1000, 300, 200 }));
    EXPECT_EQ(rig.device->calls,
              (std::vector<std::string> { "find", "find", "exchange", "find", "exchange", "exchange", "exchange",
                                          "find", "find", "exchange", "exchange" }));
    // Keys before and after the replug both arrive, in order.
    EXPECT_EQ(rig.control.messages,
              (std::vector<Msg> { { WM_REMOTE_COMMAND, RC_Digit3, 0x13 }, { WM_REMOTE_COMMAND, RC_Digit3, 0x0F } }));
}

// Routing: Power to the control window; other keys to the TV window while it lives.
TEST(RemoteRouting, PowerTvAndControl)
{
    Rig rig;
    auto tv = std::make_unique<Recorder>();
    rig.router.SetTvWindow(tv.get());
    rig.reader->HandleReport(answer(0x04FB, 0x08)); // Power
    rig.reader->HandleReport(answer(0x04FB, 0x11)); // Digit1
    rig.reader->HandleReport(answer(0x1234, 0x11)); // a remote without a table: command 0
    rig.drain();
    EXPECT_EQ(rig.control.messages, (std::vector<Msg> { { WM_REMOTE_POWER, 1, 0x08 } }));
    EXPECT_EQ(tv->messages,
              (std::vector<Msg> { { WM_REMOTE_COMMAND, RC_Digit1, 0x11 }, { WM_REMOTE_COMMAND, 0, 0x11 } }));
    EXPECT_EQ(g_wCompanyID.load(), 0x1234);

    // A key already on its way when the TV window goes reaches the control window.
    rig.reader->HandleReport(answer(0x53AC, 0x06));
    tv.reset();
    rig.drain();
    EXPECT_EQ(rig.control.messages.back(), (Msg { WM_REMOTE_COMMAND, RC_Digit0, 0x06 }));

    // While a code is learned no source drives anything: keys posted by other sources (input devices) are dropped.
    const std::size_t before = rig.control.messages.size();
    g_bIRLearning = true;
    rig.router.PostKey(RC_Power, 0);
    rig.router.PostKey(RC_Digit1, 0);
    rig.drain();
    g_bIRLearning = false;
    EXPECT_EQ(rig.control.messages.size(), before);
}

// Another login session active on the seat: no key is routed until this one is active again.
TEST(RemoteRouting, OnlyWhileTheSessionIsActiveAndAwake)
{
    SystemBus bus;
    ASSERT_TRUE(bus.IsRunning());
    Rig rig;
    CSessionActivity session;
    session.Start();
    rig.router.SetSession(&session);
    const auto setActive = [&](bool active) {
        QDBusInterface(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1/session/c1"),
                       QStringLiteral("org.freedesktop.login1.Session"), QDBusConnection::systemBus())
            .call(QStringLiteral("SetActiveForTest"), active);
        ASSERT_TRUE(WaitFor([&] { return session.IsActive() == active; }));
    };
    setActive(false);
    rig.router.PostKey(RC_Power, 0);
    rig.router.PostKey(RC_Digit1, 0);
    setActive(true);
    rig.router.PostKey(RC_Digit2, 0);
    ASSERT_TRUE(WaitFor([&] { return !rig.control.messages.empty(); }));
    EXPECT_EQ(rig.control.messages, (std::vector<Msg> { { WM_REMOTE_COMMAND, RC_Digit2, 0 } }));

    // Sleep: logind waits for our delay lock while we hold what plays; we take it again after waking.
    std::vector<bool> sleeps;
    QObject::connect(&session, &CSessionActivity::sleepChanged, [&](bool sleeping) {
        sleeps.push_back(sleeping);
        EXPECT_EQ(bus.HeldLocks(), sleeping ? 1 : 0) << "the PC was let sleep before the program was ready";
    });
    EXPECT_EQ(bus.HeldLocks(), 1);
    bus.PrepareForSleep(true);
    ASSERT_TRUE(WaitFor([&] { return sleeps.size() == 1; }));
    EXPECT_TRUE(WaitFor([&] { return bus.HeldLocks() == 0; }));
    bus.PrepareForSleep(false);
    ASSERT_TRUE(WaitFor([&] { return sleeps.size() == 2; }));
    EXPECT_EQ(sleeps, (std::vector<bool> { true, false }));
    EXPECT_EQ(bus.HeldLocks(), 1);
}

// Learning: raw codes, synchronously, from the reader thread; nothing posted; no deadlock when the window goes.
TEST(RemoteLearningTest, RawCodesWhileLearning)
{
    TempMachine machine;
    Rig rig;
    Recorder tv;
    rig.router.SetTvWindow(&tv);
    g_wCompanyID = 0x53AC;
    auto learning = std::make_unique<CRemoteLearning>(&rig.router);
    learning->Begin();
    EXPECT_EQ(learning->Text(), QStringLiteral("索尼/东芝"));

    std::atomic<int> done { 0 };
    std::thread reader([&] {
        rig.reader->HandleReport(answer(0x1234, 0x0A));
        done = 1;
        rig.reader->HandleReport(answer(0x04FB, 0x08));
        done = 2;
    });
    ASSERT_TRUE(WaitFor([&] { return done == 2; }));
    reader.join();
    EXPECT_EQ(learning->Text(), QStringLiteral("LG/三星"));
    EXPECT_EQ(g_wCompanyID.load(), 0x04FB);
    rig.drain();
    EXPECT_TRUE(tv.messages.empty());
    EXPECT_TRUE(rig.control.messages.empty());

    std::uint16_t kept = 1;
    EXPECT_EQ(CRemoteLearning::TextForCode(0x1234, 0x0A, &kept), QStringLiteral("搜索中: 1234 0A"));
    EXPECT_EQ(kept, 0);

    // An unknown remote, then the dialog ends: CompanyID is stored as 0.
    rig.reader->HandleReport(answer(0x0707, 0x01));
    EXPECT_EQ(g_wCompanyID.load(), 0);
    learning->End();
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::CompanyID)), QStringLiteral("0"));
    EXPECT_FALSE(g_bIRLearning.load());

    // The learning window destroyed while the flag is still set: the reader does not wait for it.
    g_bIRLearning = true;
    learning.reset();
    g_bIRLearning = true;
    std::thread late([&] {
        rig.reader->HandleReport(answer(0x04FB, 0x11));
        done = 3;
    });
    ASSERT_TRUE(WaitFor([&] { return done == 3; }));
    late.join();
    g_bIRLearning = false;
}

// The reader thread stops promptly even while it waits for a learning window that never answers.
TEST(RemoteLearningTest, StoppingReaderNeverDeadlocks)
{
    CRemoteKeyRouter router;
    Recorder learn;
    router.SetLearnWindow(&learn);
    g_bIRLearning = true;
    auto device = std::make_unique<FakeDevice>();
    for (int i = 0; i < 1000; ++i) {
        device->script.push_back({ FakeDevice::Found });
        device->script.push_back({ FakeDevice::Answer, answer(0x04FB, 0x10) });
    }
    auto reader = std::make_unique<CIRReceiverThread>(&router, std::move(device), [](int) {});
    reader->Start();
    QThread::msleep(100); // the reader now waits for the GUI thread, which is not running its loop
    QElapsedTimer stopping;
    stopping.start();
    reader.reset();
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_TRUE(learn.messages.empty()); // nothing was delivered behind the waiting reader's back
    g_bIRLearning = false;
}

// The software remote: the real socket, the real client program.
TEST(SoftwareRemote, PressesArriveAndBadInputIsRejected)
{
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    Rig rig;
    Recorder tv;
    rig.router.SetTvWindow(&tv);
    auto server = std::make_unique<CRemoteSocketServer>(rig.reader.get());
    ASSERT_TRUE(server->Listen());
    struct stat st {
    };
    ASSERT_EQ(::stat(QFile::encodeName(server->Path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    auto run = [](const QStringList& args, QByteArray* err) {
        QProcess p;
        p.start(QStringLiteral(KREL_REMOTE_TOOL), args);
        WaitFor([&] { return p.state() == QProcess::NotRunning; }, 10000);
        *err = p.readAllStandardError();
        return p.exitCode();
    };
    QByteArray err;
    EXPECT_EQ(run({ QStringLiteral("Digit3") }, &err), 0) << err.toStdString();
    EXPECT_EQ(run({ QStringLiteral("--family"), QStringLiteral("53AC"), QStringLiteral("VolumeUp") }, &err), 0);
    EXPECT_EQ(run({ QStringLiteral("raw"), QStringLiteral("04fb"), QStringLiteral("08") }, &err), 0);
    rig.drain();
    EXPECT_EQ(tv.messages,
              (std::vector<Msg> { { WM_REMOTE_COMMAND, RC_Digit3, 0x13 }, { WM_REMOTE_COMMAND, RC_VolumeUp, 0x12 } }));
    EXPECT_EQ(rig.control.messages, (std::vector<Msg> { { WM_REMOTE_POWER, 1, 0x08 } }));

    EXPECT_NE(run({ QStringLiteral("Digit10") }, &err), 0);
    EXPECT_TRUE(err.contains("unknown key")) << err.toStdString();
    EXPECT_NE(run({ QStringLiteral("raw"), QStringLiteral("04FG"), QStringLiteral("08") }, &err), 0);
    EXPECT_TRUE(err.contains("hex")) << err.toStdString();
    EXPECT_NE(run({ QStringLiteral("--family"), QStringLiteral("1234"), QStringLiteral("Power") }, &err), 0);

    // Commands of our own go by name, and only to the handler; a receiver's command by that route is refused.
    std::vector<int> own;
    EXPECT_NE(run({ QStringLiteral("PlayPause") }, &err), 0) << "no handler: refused";
    server->SetCommandHandler([&](int command) { own.push_back(command); });
    for (const char* name : { "PlayPause", "Subtitle", "AudioTrack" })
        EXPECT_EQ(run({ QString::fromLatin1(name) }, &err), 0) << name << " " << err.toStdString();
    EXPECT_EQ(own, (std::vector<int> { RC_PlayPause, RC_Subtitle, RC_AudioTrack }));

    // Malformed, binary and over-long lines are answered or dropped; the server keeps serving.
    QLocalSocket raw;
    raw.connectToServer(server->Path());
    ASSERT_TRUE(raw.waitForConnected(2000));
    raw.write("key Digit3\n04FB\n\x01\x02\xff 10\n" + QByteArray(200, 'A') + "\n");
    ASSERT_TRUE(WaitFor([&] { return raw.state() != QLocalSocket::ConnectedState; }));
    EXPECT_EQ(raw.readAll(),
              QByteArray("error: no such key of our own\n"
                         "error: expected \"CCCC KK\" in hexadecimal\n"
                         "error: expected \"CCCC KK\" in hexadecimal\n"
                         "error: line too long\n"));
    EXPECT_EQ(run({ QStringLiteral("Back") }, &err), 0);

    // Many idle connections and a client that never reads its replies: the server stays up and answers the next
    // client, with at most its cap of connections open.
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 3 * CRemoteSocketServer::kMaxConnections; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(server->Path());
        ASSERT_TRUE(idle.back()->waitForConnected(2000));
    }
    const QByteArray flood = QByteArray(kShowWindowLine).repeated(200000);
    const int deaf = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(server->Path()).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(deaf, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::fcntl(deaf, F_SETFL, O_NONBLOCK);
    qsizetype sent = 0;
    bool dropped = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            const ssize_t n
                = ::send(deaf, flood.constData() + sent, static_cast<size_t>(flood.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            dropped = n < 0 && errno == EPIPE;
            return dropped || sent == flood.size();
        },
        20000));
    ::close(deaf);
    EXPECT_TRUE(dropped) << "the server kept reading from a client that reads no replies";
    EXPECT_EQ(run({ QStringLiteral("Back") }, &err), 0) << err.toStdString();
    EXPECT_TRUE(QFile::exists(server->Path()));

    server.reset();
    EXPECT_NE(run({ QStringLiteral("Back") }, &err), 0);
    EXPECT_TRUE(err.contains("not running")) << err.toStdString();
    qunsetenv("XDG_RUNTIME_DIR");
}

TEST(SoftwareRemote, LineParser)
{
    EXPECT_TRUE(ParseRemoteLine("04FB 10\n"));
    EXPECT_EQ(ParseRemoteLine("53ac 0f\r\n")->customCode, 0x53AC);
    EXPECT_FALSE(ParseRemoteLine("04FB 10 \n"));
    EXPECT_FALSE(ParseRemoteLine("4FB 10\n"));
    EXPECT_FALSE(ParseRemoteLine("04FB  10\n"));
    EXPECT_FALSE(ParseRemoteLine(QByteArray("04FB\0 10\n", 9)));
    EXPECT_FALSE(ParseRemoteLine(""));
    EXPECT_EQ(FormatRemoteLine({ 0x00AB, 0x0C }), QByteArray("00AB 0C\n"));
}

// Fault: the receiver fails and comes back while keys are pressed, on the real reader thread. Every key delivered
// after the receiver has returned reaches the window, in order.
namespace
{

class FlakyDevice : public IHidIRDevice
{
public:
    std::mutex lock;
    std::deque<HidReport> keys; // pending presses
    std::atomic<int> failuresLeft { 0 };
    std::atomic<bool> open { false };

    bool IsOpen() const override { return open; }
    bool FindAndOpen() override
    {
        open = failuresLeft.load() == 0;
        if (!open)
            --failuresLeft;
        return open;
    }
    bool Exchange(HidReport& answer) override
    {
        std::lock_guard guard(lock);
        if (keys.empty()) {
            answer = HidReport {}; // no key: an answer that fails the checks
            return true;
        }
        answer = keys.front();
        keys.pop_front();
        return true;
    }
    void unplug(int searches)
    {
        failuresLeft = searches;
        open = false;
    }
};

} // namespace

TEST(RemoteReader, ReceiverComesBackAndNoKeyIsLost)
{
    CRemoteKeyRouter router;
    Recorder control;
    router.SetControlWindow(&control);
    g_bIRLearning = false;
    auto device = std::make_unique<FlakyDevice>();
    FlakyDevice* d = device.get();
    CIRReceiverThread reader(&router, std::move(device), [](int) { QThread::usleep(200); });
    reader.Start();

    d->unplug(50);
    ASSERT_TRUE(WaitFor([&] { return d->open.load(); }));
    const std::uint8_t digits[] = { 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19 };
    {
        std::lock_guard guard(d->lock);
        for (std::uint8_t key : digits)
            d->keys.push_back(CIRReceiverThread::MakeAnswerReport(0x04FB, key));
    }
    ASSERT_TRUE(WaitFor([&] { return control.messages.size() == 10; }));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(control.messages[static_cast<std::size_t>(i)],
                  (Msg { WM_REMOTE_COMMAND, static_cast<quint32>(RC_Digit0 + i), digits[i] }));
}

// Remotes the kernel drives: which devices are taken, and which may send the power key, decided on what each
// device reports to libevdev, as the probe of a /dev/input node sees it.
TEST(InputDevices, DeviceChoice)
{
    // taken: by default, with "all", and with the setting naming "Sofa Keyboard".
    struct Device {
        const char* name;
        std::set<int> keys;
        bool taken, takenWithAll, takenByName;
        bool power;
    };
    for (const Device& d :
         { Device { "Power Button", { KEY_POWER }, false, false, false, false },
           Device { "Sleep Button", { KEY_SLEEP }, false, false, false, false },
           Device { "USB Optical Mouse", { BTN_LEFT, BTN_RIGHT }, false, false, false, false },
           Device { "gpio_ir_recv", { KEY_1, KEY_CHANNELUP, KEY_POWER }, true, true, true, true },
           Device { "Consumer Control", { KEY_VOLUMEUP, KEY_VOLUMEDOWN }, true, true, true, true },
           Device { "AT Translated Set 2 keyboard", { KEY_A, KEY_Z, KEY_1, KEY_ESC }, false, true, false, true },
           Device { "Sofa Keyboard", { KEY_Q, KEY_1, KEY_POWER }, false, true, true, true },
           Device { "ACPI Power Button", { KEY_POWER, KEY_1 }, true, true, true, false } }) {
        const std::unique_ptr<libevdev, decltype(&libevdev_free)> dev(libevdev_new(), &libevdev_free);
        libevdev_set_name(dev.get(), d.name);
        libevdev_enable_event_type(dev.get(), EV_KEY);
        for (int code : d.keys)
            libevdev_enable_event_code(dev.get(), EV_KEY, static_cast<unsigned>(code), nullptr);
        const InputDeviceInfo info = DescribeInputDevice(dev.get());
        EXPECT_EQ(info.name, QString::fromLatin1(d.name));
        EXPECT_EQ(TakesInputDevice(info, QString()), d.taken) << d.name;
        EXPECT_EQ(TakesInputDevice(info, QStringLiteral(" ALL ")), d.takenWithAll) << d.name;
        EXPECT_EQ(TakesInputDevice(info, QStringLiteral("Living Room Remote; sofa keyboard")), d.takenByName) << d.name;
        EXPECT_EQ(PowerAllowedFrom(info), d.power) << d.name;
    }
}

namespace
{

QByteArray keyEvent(int code, int value, double seconds, int type = EV_KEY)
{
    input_event ev {};
    ev.input_event_sec = static_cast<decltype(ev.input_event_sec)>(seconds);
    ev.input_event_usec = static_cast<decltype(ev.input_event_usec)>((seconds - std::floor(seconds)) * 1e6 + 0.5);
    ev.type = static_cast<__u16>(type);
    ev.code = static_cast<__u16>(code);
    ev.value = value;
    return QByteArray(reinterpret_cast<const char*>(&ev), sizeof ev);
}

} // namespace

// Every key code the kernel has, pressed and released on a remote as the device sends it: the keys krel takes give
// their commands in the order pressed and every other key none; Power only from a device allowed to power the box.
TEST(InputDevices, EveryKeyAsTheDeviceSendsIt)
{
    std::map<int, int> taken = {
        { KEY_CHANNELUP, RC_NextPage },
        { KEY_PAGEUP, RC_NextPage },
        { KEY_CHANNELDOWN, RC_PreviousPage },
        { KEY_PAGEDOWN, RC_PreviousPage },
        { KEY_VOLUMEUP, RC_VolumeUp },
        { KEY_VOLUMEDOWN, RC_VolumeDown },
        { KEY_BACK, RC_Back },
        { KEY_ESC, RC_Back },
        { KEY_BACKSPACE, RC_Back },
        { KEY_STOP, RC_LeaveVideo },
        { KEY_EXIT, RC_LeaveVideo },
        { KEY_STOPCD, RC_LeaveVideo },
        { KEY_POWER, RC_Power },
        { KEY_UP, RC_Up },
        { KEY_DOWN, RC_Down },
        { KEY_LEFT, RC_Left },
        { KEY_RIGHT, RC_Right },
        { KEY_OK, RC_Ok },
        { KEY_ENTER, RC_Ok },
        { KEY_KPENTER, RC_Ok },
        { KEY_SELECT, RC_Ok },
        { KEY_PLAYPAUSE, RC_PlayPause },
        { KEY_PLAY, RC_PlayPause },
        { KEY_PAUSE, RC_PlayPause },
        { KEY_PLAYCD, RC_PlayPause },
        { KEY_PAUSECD, RC_PlayPause },
        { KEY_SUBTITLE, RC_Subtitle },
        { KEY_AUDIO, RC_AudioTrack },
        { KEY_LANGUAGE, RC_AudioTrack },
    };
    // The digits of the main keys, of a remote's numeric pad and of a keyboard's keypad.
    const int digits[][10] = {
        { KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9 },
        { KEY_NUMERIC_0, KEY_NUMERIC_1, KEY_NUMERIC_2, KEY_NUMERIC_3, KEY_NUMERIC_4, KEY_NUMERIC_5, KEY_NUMERIC_6,
          KEY_NUMERIC_7, KEY_NUMERIC_8, KEY_NUMERIC_9 },
        { KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4, KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9 },
    };
    for (const auto& row : digits)
        for (int d = 0; d < 10; ++d)
            taken[row[d]] = RC_Digit0 + d;
    for (bool power : { false, true }) {
        CInputEventDecoder decoder(power);
        QByteArray events;
        std::vector<int> expected;
        for (int code = 1; code < KEY_MAX; ++code) {
            events += keyEvent(code, 1, code) + keyEvent(0, 0, code, EV_SYN) + keyEvent(code, 0, code + 0.1);
            if (const auto it = taken.find(code); it != taken.end() && (it->second != RC_Power || power))
                expected.push_back(it->second);
        }
        EXPECT_EQ(decoder.Feed(events.constData(), static_cast<std::size_t>(events.size())), expected)
            << (power ? "a device that may power the box" : "a device that may not");
    }
}

// The reader against a pipe standing in for a device node: presses, the repeat pace of a held key, records cut
// across writes, garbage, and the device vanishing mid-read.
TEST(InputDevices, ReaderTurnsEventsIntoCommands)
{
    CRemoteKeyRouter router;
    Recorder window;
    router.SetControlWindow(&window);
    CInputDeviceSource source(&router);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    source.AddDevice(pipeFds[0], { QStringLiteral("remote"), { KEY_1, KEY_POWER } }, QStringLiteral("pipe"));
    auto send = [&](const QByteArray& bytes) {
        ASSERT_EQ(::write(pipeFds[1], bytes.constData(), bytes.size()), bytes.size());
    };

    QByteArray burst = keyEvent(KEY_2, 1, 10.0) + keyEvent(0, 0, 10.0, EV_SYN) + keyEvent(KEY_2, 0, 10.1);
    // KEY_5 held: pressed at 11.0, repeats every 100 ms; one command per 300 ms.
    burst += keyEvent(KEY_5, 1, 11.0);
    for (int i = 1; i <= 7; ++i)
        burst += keyEvent(KEY_5, 2, 11.0 + 0.1 * i);
    burst += keyEvent(KEY_5, 0, 11.75) + keyEvent(REL_X, 5, 11.8, EV_REL) + keyEvent(KEY_A, 1, 11.9);
    send(burst);
    // A record cut across two writes, then the power key.
    const QByteArray power = keyEvent(KEY_POWER, 1, 12.0);
    send(power.left(7));
    WaitFor([] { return false; }, 100);
    send(power.mid(7));
    const int d2 = RC_Digit2, d5 = RC_Digit5;
    const std::vector<Msg> expected { { WM_REMOTE_COMMAND, quint32(d2), 0 },
                                      { WM_REMOTE_COMMAND, quint32(d5), 0 },
                                      { WM_REMOTE_COMMAND, quint32(d5), 0 },
                                      { WM_REMOTE_COMMAND, quint32(d5), 0 },
                                      { WM_REMOTE_POWER, 1, 0 } };
    ASSERT_TRUE(WaitFor([&] { return window.messages.size() >= expected.size(); }));
    EXPECT_EQ(window.messages, expected);

    // Garbage: records of nonsense types and values and a torn tail; then the device goes mid-record.
    QByteArray garbage(sizeof(input_event) * 3, '\xff');
    send(garbage + keyEvent(KEY_3, 1, 13.0).left(5));
    ::close(pipeFds[1]);
    ASSERT_TRUE(WaitFor([&] { return source.DeviceCount() == 0; }));
    EXPECT_EQ(window.messages.size(), expected.size());
}

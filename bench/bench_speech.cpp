// Spoken menus: from a remote key to the first sample of its speech on the TV's sink, with the real TV window, the
// real speech engine and a real sound server (two null sinks, the TV's recorded through its monitor). Also what the
// key costs the GUI thread with speech off and on, and the memory the engine takes once turned on.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <pulse/error.h>
#include <pulse/simple.h>

#include "Goals.h"
#include "catalogue/DataFiles.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "tests/support/PulseServer.h"
#include "tests/support/QtWait.h"
#include "tests/support/TestEnv.h"
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"
#include "tv/MenuSpeech.h"
#include "tv/speech/Speaker.h"

namespace
{

using Clock = std::chrono::steady_clock;

// Reads the TV sink's monitor in 5 ms pieces and notes when a piece first holds sound after Arm().
class FirstSample
{
public:
    bool Start()
    {
        const pa_sample_spec spec { PA_SAMPLE_S16LE, 22050, 1 };
        pa_buffer_attr attr {};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = 2 * 110;
        int error = 0;
        m_pa = pa_simple_new(nullptr, "bench_speech", PA_STREAM_RECORD, "tv.monitor", "monitor", &spec, nullptr, &attr,
                             &error);
        if (!m_pa)
            return false;
        m_thread = std::thread([this] {
            qint16 piece[110];
            while (!m_stop) {
                if (pa_simple_read(m_pa, piece, sizeof piece, nullptr) < 0)
                    return;
                const bool sound
                    = std::any_of(std::begin(piece), std::end(piece), [](qint16 s) { return std::abs(s) > 300; });
                m_lastSound = sound ? Clock::now().time_since_epoch().count() : m_lastSound.load();
                if (sound && m_armed.exchange(false))
                    m_heard = Clock::now().time_since_epoch().count();
            }
        });
        return true;
    }
    ~FirstSample()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_pa)
            pa_simple_free(m_pa);
    }
    void Arm()
    {
        m_heard = 0;
        m_armed = true;
    }
    // When the first sound after Arm was read (0 while none).
    Clock::rep Heard() const { return m_heard; }
    // Nothing heard for the last 300 ms.
    bool Quiet() const
    {
        return Clock::now().time_since_epoch().count() - m_lastSound
            > std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(300)).count();
    }

private:
    pa_simple* m_pa = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop { false }, m_armed { false };
    std::atomic<Clock::rep> m_heard { 0 }, m_lastSound { 0 };
};

double residentMb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(1).toDouble() * 4096 / (1024.0 * 1024.0);
}

// Milliseconds the GUI thread spends on a key (the menu's move and what is handed to the speaker).
double keyMs(CMainFrame& frame, int command)
{
    QElapsedTimer t;
    t.start();
    CAppEvent key(WM_REMOTE_COMMAND, command, 0);
    QCoreApplication::sendEvent(&frame, &key);
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TempMachine machine;
    PulseServer server;
    if (!server.Start()) {
        std::printf("bench_speech: pulseaudio cannot run here\n");
        return 1;
    }
    std::vector<TypeRecord> types;
    for (int i = 0; i < 30; ++i)
        types.push_back({ i, QStringLiteral("在线视频类型 %1").arg(i) });
    machine.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile(types));
    CAudioRouter router;
    WaitFor([&] { return router.SoundCards().size() == 2; });
    router.SetSoundCardName(QStringLiteral("HDMI-TV"));

    CMainFrame frame;
    // Speech off: the key alone, Down and Up in turn (a warm-up first).
    std::vector<double> off, on, latency;
    for (int i = 0; i < 200; ++i)
        off.push_back(keyMs(frame, i % 2 ? RC_Up : RC_Down));
    off.erase(off.begin(), off.begin() + 20);
    const double before = residentMb();

    WriteSetting(QString::fromLatin1(SettingKey::SpeakMenus), QStringLiteral("1"));
    ApplySpeakMenus();
    FirstSample tv;
    if (!CSpeaker::Instance() || !tv.Start()) {
        std::printf("bench_speech: no speaker or no recording\n");
        return 1;
    }
    // The first key loads the engine; it is not timed.
    keyMs(frame, RC_Down);
    WaitFor([&] { return !CSpeaker::Instance()->IsSpeaking(); }, 10000);
    const double after = residentMb();
    for (int i = 0; i < 40; ++i) {
        WaitFor([&] { return !CSpeaker::Instance()->IsSpeaking() && tv.Quiet(); }, 10000);
        tv.Arm();
        const Clock::rep pressed = Clock::now().time_since_epoch().count();
        on.push_back(keyMs(frame, i % 2 ? RC_Up : RC_Down));
        if (!WaitFor([&] { return tv.Heard() != 0; }, 5000)) {
            std::printf("bench_speech: key %d was not heard on the TV\n", i);
            return 1;
        }
        latency.push_back(std::chrono::duration<double, std::milli>(Clock::duration(tv.Heard() - pressed)).count());
    }
    std::sort(latency.begin(), latency.end());
    std::printf("key to the first sample on the TV sink: median %.1f ms, 90th percentile %.1f ms, longest %.1f ms "
                "(%zu keys)\n",
                Median(latency), latency[latency.size() * 9 / 10], latency.back(), latency.size());
    std::printf("the key on the GUI thread: speech off %.3f ms, on %.3f ms (medians)\n", Median(off), Median(on));
    std::printf("resident memory: %.1f MB with speech off, %.1f MB once it has spoken (+%.1f MB)\n", before, after,
                after - before);
    CheckGoal("key to first speech sample, 90th percentile", latency[latency.size() * 9 / 10], "ms", 150, true,
              Noise(latency));
    return GoalMissed() ? 1 : 0;
}

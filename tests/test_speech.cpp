// Spoken menus: what the TV says for each key (at the point where the text goes to the synthesizer), where the
// speech plays, the video's sound lowered meanwhile, a key cutting it off, and nothing at all while it is off.
#include <QFile>
#include <QGuiApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <mutex>

#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "support/CatalogueFixture.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "app/ShutdownDlg.h"
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"
#include "tv/MenuSpeech.h"
#include "tv/speech/Speaker.h"

#include <pulse/volume.h>

QT_BEGIN_NAMESPACE
// Texts as they read, in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace
{

// Records a sink's monitor (mono, 16 bits, 22050 Hz) with parec, and says where sound was heard.
class MonitorRecorder
{
public:
    explicit MonitorRecorder(const QString& sink)
    {
        m_parec.start(QStringLiteral("parec"),
                      { QStringLiteral("--device=") + sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
                        QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                        QStringLiteral("--rate=22050"), QStringLiteral("--latency-msec=20") });
        m_parec.waitForStarted(5000);
    }
    ~MonitorRecorder()
    {
        m_parec.kill();
        m_parec.waitForFinished(3000);
    }
    // Seconds from the first to the last sample above a whisper; -1 while nothing was heard.
    double HeardSpan()
    {
        m_samples += m_parec.readAllStandardOutput();
        const auto* s = reinterpret_cast<const qint16*>(m_samples.constData());
        const qsizetype n = m_samples.size() / 2;
        qsizetype first = -1, last = -1;
        for (qsizetype i = 0; i < n; ++i)
            if (std::abs(s[i]) > 300) {
                if (first < 0)
                    first = i;
                last = i;
            }
        return first < 0 ? -1 : (last - first) / 22050.0;
    }

private:
    QProcess m_parec;
    QByteArray m_samples;
};

class SpokenMenus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteNumberedTypesAndVideos(machine.appDir()));
        ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QString::fromLatin1(kCataloguePassword), SampleCatalogueSql()));
        ASSERT_TRUE(OpenCatalogue());
        WriteFile(machine.root() + QStringLiteral("/movies/长城.mkv"), "x");
        WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders), machine.root() + QStringLiteral("/movies"));
        if (!server.Start())
            GTEST_SKIP() << "pulseaudio cannot run here";
        router = std::make_unique<CAudioRouter>();
        router->SetSoundCardName(QStringLiteral("HDMI-TV"));
        ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 2; }));
        router->SetSoundCardName(QStringLiteral("HDMI-TV"));
    }
    void TearDown() override
    {
        WriteSetting(QString::fromLatin1(SettingKey::SpeakMenus), QStringLiteral("0"));
        ApplySpeakMenus();
        router.reset();
        g_dbCatalogue.Close();
    }

    // Spoken menus on, with every text handed to the synthesizer kept.
    CSpeaker* turnOn()
    {
        WriteSetting(QString::fromLatin1(SettingKey::SpeakMenus), QStringLiteral("1"));
        ApplySpeakMenus();
        CSpeaker* speaker = CSpeaker::Instance();
        if (speaker)
            speaker->SetHandOverObserver([this](const QString& text) {
                std::lock_guard guard(lock);
                handed << text;
            });
        return speaker;
    }
    QStringList taken()
    {
        std::lock_guard guard(lock);
        return std::exchange(handed, {});
    }
    static void press(CMainFrame& frame, int command)
    {
        CAppEvent key(WM_REMOTE_COMMAND, command, 0);
        QCoreApplication::sendEvent(&frame, &key);
    }

    TempMachine machine;
    PulseServer server;
    std::unique_ptr<CAudioRouter> router;
    std::mutex lock;
    QStringList handed;
};

} // namespace

TEST_F(SpokenMenus, AWalkSaysWhatEachKeyChangedInOrder)
{
    ASSERT_NE(turnOn(), nullptr);
    CMainFrame frame;
    const QString movies = machine.root() + QStringLiteral("/movies");
    struct Step {
        int key;
        QStringList said;
    };
    const Step walk[] = {
        { RC_Down, { "0, 类型1" } }, // the first arrow shows the highlight where it is
        { RC_Down, { "1, 类型2" } },
        { RC_NextPage, { "第 2 页 共 2 页" } },
        { RC_NextPage, { "第 2 页 共 2 页" } }, // the last page stays, and says so
        { RC_PreviousPage, { "第 1 页 共 2 页" } },
        { RC_Digit2, { "2, 类型3", "类型3, 共 25 项, 第 1 页 共 3 页", "0, 视频0" } },
        { RC_Right, { "第 2 页 共 3 页" } },
        { RC_Down, { "0, 视频10" } },
        { RC_Up, { "第 1 页 共 3 页", "9, 视频9" } }, // over the page's top: the page, then the row
        { RC_Ok, { "9, 视频9", "视频9, 共 0 项" } }, // (no addresses in this catalogue)
        { RC_Back, { "类型3, 共 25 项, 第 1 页 共 3 页", "0, 视频0" } },
        { RC_Back, { "在线视频, 共 12 项, 第 1 页 共 2 页", "0, 类型1" } },
        { RC_Back, { "0 在线视频, 1 电影明星, 3 本地电影" } },
        { RC_Digit9, {} }, // no such row: nothing
        { RC_Digit3, { "3, 本地电影", "本地电影, 共 1 项", "0, " + movies } },
        { RC_Digit0, { "0, " + movies, movies + ", 共 1 项", "0, 长城" } }, // a film's name without its extension
        { RC_Back, { "在线视频, 共 12 项, 第 1 页 共 2 页", "0, 类型1" } },
        { RC_Back, { "0 在线视频, 1 电影明星, 3 本地电影" } },
        { RC_Digit1, { "1, 电影明星", "电影明星, 共 4 项", "0, 乙" } },
    };
    int n = 0;
    for (const Step& step : walk) {
        ++n;
        press(frame, step.key);
        // Each key's texts, all of them and in order, before the next key (which would cut them off).
        QStringList got;
        EXPECT_TRUE(WaitFor(
                        [&] {
                            got += taken();
                            return got.size() >= step.said.size();
                        },
                        5000)
                    || step.said.isEmpty());
        got += taken();
        EXPECT_EQ(got, step.said) << "step " << n;
    }
    // The TV gone, and back.
    for (QScreen* screen : { static_cast<QScreen*>(nullptr), QGuiApplication::primaryScreen() }) {
        frame.SetTvScreen(screen);
        QStringList got;
        EXPECT_TRUE(WaitFor([&] { return !(got += taken()).isEmpty(); }));
        EXPECT_EQ(got, QStringList(screen ? QStringLiteral("电视已连接") : QStringLiteral("电视已断开")));
    }
}

TEST_F(SpokenMenus, TheShutdownPromptWholeThenItsSecondsEveryFive)
{
    ASSERT_NE(turnOn(), nullptr);
    CShutdownPCDlg prompt;
    prompt.show();
    QStringList got;
    // (Real seconds: the prompt's own timer.)
    EXPECT_TRUE(WaitFor(
        [&] {
            got += taken();
            return got.size() >= 3;
        },
        15000));
    EXPECT_EQ(got,
              QStringList({ QStringLiteral("关机提示, 30秒. 关闭电脑,请按1. 不关电脑,请按0"), QStringLiteral("25秒"),
                            QStringLiteral("20秒") }));
}

TEST_F(SpokenMenus, SpeechPlaysOnTheTvAloneLowersTheVideoAndAKeyCutsItOff)
{
    CSpeaker* speaker = turnOn();
    ASSERT_NE(speaker, nullptr);
    bool finished = false;
    QObject::connect(speaker, &CSpeaker::finished, [&] { finished = true; });
    // The video: a stream of ours (a child's, as the web engine's are), asked for on the PC and routed to the TV.
    const int tv = server.SinkIndex(QStringLiteral("tv"));
    QProcess video;
    video.start(QStringLiteral("paplay"), { QStringLiteral("--device=pc"), server.WavFile(60) });
    ASSERT_TRUE(video.waitForStarted(5000));
    const auto videoInput = [&] {
        for (const auto& input : server.SinkInputs())
            if (input.pid == video.processId())
                return input;
        return PulseServer::SinkInput();
    };
    const auto speechInputs = [&] {
        std::vector<PulseServer::SinkInput> inputs;
        for (const auto& input : server.SinkInputs())
            if (input.role == QLatin1String(CAudioRouter::kSpeechRole))
                inputs.push_back(input);
        return inputs;
    };
    ASSERT_TRUE(WaitFor([&] { return videoInput().sink == tv; }, 10000));
    const int fullVolume = videoInput().volumeLeft;

    MonitorRecorder onTv(QStringLiteral("tv")), onPc(QStringLiteral("pc"));
    // Something long (more than ten seconds), cut off by a key as soon as it is heard.
    const QString longText = QStringLiteral("0 在线视频, 1 电影明星, 2 继续观看, 3 本地电影, 4 收藏, 5 电视剧, 6 电影, "
                                            "7 综艺, 8 动漫, 9 纪录片");
    speaker->Say(longText);
    ASSERT_TRUE(WaitFor([&] { return onTv.HeardSpan() >= 0; }, 10000)) << "no speech on the TV";
    // The video's sound is lowered while the speech plays, and the speech plays on the TV's sink.
    const int lowered = static_cast<int>(pa_sw_volume_multiply(static_cast<pa_volume_t>(fullVolume),
                                                               pa_sw_volume_from_linear(CAudioRouter::kDuckedVolume)));
    EXPECT_TRUE(WaitFor([&] { return std::abs(videoInput().volumeLeft - lowered) <= 1; })) << videoInput().volumeLeft;
    const auto speech = speechInputs();
    ASSERT_EQ(speech.size(), 1u);
    EXPECT_EQ(speech[0].sink, tv);
    EXPECT_EQ(speech[0].pid, QCoreApplication::applicationPid());
    // The volume keys still step the video: the newest stream of ours but the speech (and but the speech engine's
    // short-lived probe of the sound server).
    EXPECT_TRUE(WaitFor([&] { return g_hWaveOut == static_cast<std::uint32_t>(videoInput().index); })) << g_hWaveOut;

    speaker->Interrupt();
    speaker->Say(QStringLiteral("第 2 页 共 3 页"));
    ASSERT_TRUE(WaitFor([&] { return finished; }, 15000));
    // Once everything said has played the video's sound is back as it was.
    EXPECT_TRUE(WaitFor([&] { return videoInput().volumeLeft == fullVolume; }));
    // The long text was cut off: what was heard (its start, then the page) is far shorter than it alone.
    const double span = onTv.HeardSpan();
    EXPECT_GT(span, 0.5);
    EXPECT_LT(span, 6.0);
    EXPECT_LT(onPc.HeardSpan(), 0) << "speech on the PC's speakers";

    // With the TV's card gone, nothing is said anywhere (the PC's speakers included), and the video stays as it is.
    ASSERT_TRUE(server.RemoveSink(QStringLiteral("tv")));
    ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 1; }));
    finished = false;
    speaker->Say(QStringLiteral("电视已断开"));
    ASSERT_TRUE(WaitFor([&] { return finished; }, 15000));
    EXPECT_LT(onPc.HeardSpan(), 0) << "speech on the PC's speakers";
    video.kill();
    video.waitForFinished(3000);
}

TEST_F(SpokenMenus, OffNothingIsSynthesizedAndNoEngineIsLoaded)
{
    const auto engineLoaded = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("espeak");
    };
    // (Each test runs in a process of its own; run together with the others, the engine is loaded already.)
    const bool loadedBefore = engineLoaded();
    WriteSetting(QString::fromLatin1(SettingKey::SpeakMenus), QStringLiteral("0"));
    ApplySpeakMenus();
    CMainFrame frame;
    for (int key : { RC_Down, RC_Digit2, RC_NextPage, RC_Back, RC_Back })
        press(frame, key);
    QCoreApplication::processEvents();
    EXPECT_EQ(CSpeaker::Instance(), nullptr);
    if (!loadedBefore)
        EXPECT_FALSE(engineLoaded());
    const auto inputs = server.SinkInputs();
    EXPECT_TRUE(std::none_of(inputs.begin(), inputs.end(), [](const auto& s) { return !s.role.isEmpty(); }));

    // Turned on, the engine is there at the first key; turned off again, the speaker goes.
    ASSERT_NE(turnOn(), nullptr);
    press(frame, RC_Down);
    EXPECT_TRUE(WaitFor([&] { return !taken().isEmpty(); }));
    EXPECT_TRUE(WaitFor(engineLoaded)); // (loaded on the speaker's thread, once the text is handed to it)
    WriteSetting(QString::fromLatin1(SettingKey::SpeakMenus), QStringLiteral("0"));
    ApplySpeakMenus();
    EXPECT_EQ(CSpeaker::Instance(), nullptr);
    press(frame, RC_Down);
    QCoreApplication::processEvents();
    EXPECT_TRUE(taken().isEmpty());
}

TEST_F(SpokenMenus, NoVoiceIsOneLogLineAndNothingElse)
{
    static int noVoiceLines = 0;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
              noVoiceLines += m.contains(QLatin1String("spoken menus: no voice: no data here"));
          });
    std::vector<bool> ducks;
    CSpeaker speaker(
        [](QString* why) {
            *why = QStringLiteral("no data here");
            return std::unique_ptr<ISpeechSynthesizer>();
        },
        [](QString*) { return true; }, [&](bool ducked) { ducks.push_back(ducked); });
    bool finished = false;
    QObject::connect(&speaker, &CSpeaker::finished, [&] { finished = true; });
    speaker.Say(QStringLiteral("第 1 页 共 3 页"));
    EXPECT_TRUE(WaitFor([&] { return finished; }));
    const std::size_t afterFirst = ducks.size();
    for (int i = 0; i < 3; ++i) {
        speaker.Interrupt();
        speaker.Say(QStringLiteral("0, 长城"));
    }
    QCoreApplication::processEvents();
    qInstallMessageHandler(previous);
    EXPECT_EQ(noVoiceLines, 1);
    EXPECT_EQ(ducks.size(), afterFirst) << "the video's sound was lowered for speech that cannot be";
    EXPECT_FALSE(speaker.IsSpeaking());
}

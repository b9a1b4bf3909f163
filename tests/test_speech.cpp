// Spoken menus: what the TV says for each key (at the point where the text goes to the synthesizer), where the
// speech plays, the video's sound lowered meanwhile, a key cutting it off, and nothing at all while it is off.
#include <QFile>
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
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"
#include "tv/MenuSpeech.h"
#include "tv/speech/Speaker.h"

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
        std::vector<TypeRecord> types;
        for (int i = 0; i < 12; ++i)
            types.push_back({ i + 1, QStringLiteral("类型%1").arg(i + 1) });
        machine.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile(types));
        std::vector<VideoRecord> videos;
        for (int i = 0; i < 25; ++i)
            videos.push_back({ 500 + i, QStringLiteral("视频%1").arg(i), 0, 0 });
        machine.writeAppFile(QStringLiteral("Data/Data3.dat"), EncodeVideoFile(videos));
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
        QCoreApplication::sendEvent(&frame, new CAppEvent(WM_REMOTE_COMMAND, command, 0));
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
}

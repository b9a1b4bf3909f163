// Video pages built on real web player libraries (video.js, Plyr, from the npm registry) playing a red clip with a
// tone, in the real TV window under a two-monitor X server with a real PulseAudio server: whatever the page does,
// the clip covers the TV and its sound plays on the TV's sound card.
#include <QImage>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "common/AppMessages.h"
#include "common/Globals.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"
#include "tv/OnlineVideoView.h"

extern XvfbServer* g_pXServer;

namespace
{

class WebPlayers : public ::testing::Test
{
protected:
    // One sound server for the whole program, as on a desktop: the web engine keeps its connection to it.
    static void SetUpTestSuite()
    {
        pulse = new PulseServer;
        pulse->Start();
        audio = new CAudioRouter;
    }
    static void TearDownTestSuite()
    {
        delete audio;
        delete pulse;
    }
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
        ASSERT_TRUE(http.IsRunning());
        ASSERT_TRUE(pulse->IsRunning());
        ASSERT_TRUE(WaitFor([&] { return audio->SoundCards().size() == 2; }));
        audio->SetSoundCard(1); // HDMI-TV
        g_rcTvScreen = { 1920, 0, 3840, 1080 };
        g_nScrollY = 0;
    }
    void TearDown() override
    {
        frame.reset();
        // The page's streams end with it before the next test looks for its own.
        WaitFor([&] { return pulse->SinkInputs().empty(); }, 5000);
        g_rcTvScreen = {};
    }

    // Opens the address in a new TV window, as choosing an episode does.
    void play(const QString& url)
    {
        frame = std::make_unique<CMainFrame>();
        frame->show();
        enlarged = std::make_unique<QSignalSpy>(frame->View(), &COnlineVideoView::playersEnlarged);
        QCoreApplication::postEvent(frame.get(), new CPlayUrlEvent(url));
    }
    // The share of the TV monitor's pixels that are the clip's red.
    double redShare()
    {
        const QString file = machine.root() + QStringLiteral("/tv.png");
        g_pXServer->run(QStringLiteral("import"),
                        { QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                          QStringLiteral("1920x1080+1920+0"), file });
        const QImage tv(file);
        if (tv.isNull())
            return 0;
        int red = 0, all = 0;
        for (int y = 0; y < tv.height(); y += 6)
            for (int x = 0; x < tv.width(); x += 6, ++all) {
                const QRgb p = tv.pixel(x, y);
                red += qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80;
            }
        return all ? double(red) / all : 0;
    }
    // Some sound plays, and all of it on the TV's sink (a paused player opens no stream).
    bool soundOnTvOnly()
    {
        const int tv = pulse->SinkIndex(QStringLiteral("tv"));
        const auto inputs = pulse->SinkInputs();
        if (inputs.empty())
            return false;
        for (const auto& s : inputs)
            if (s.sink != tv)
                return false;
        return true;
    }
    void expectClipOnTheWholeTv()
    {
        double share = 0;
        EXPECT_TRUE(WaitFor([&] { return (share = redShare()) >= 0.9; }, 40000)) << "red share " << share;
        EXPECT_TRUE(WaitFor([&] { return soundOnTvOnly(); }, 20000)) << "no sound on the TV sink alone";
    }

    static inline PulseServer* pulse = nullptr;
    static inline CAudioRouter* audio = nullptr;
    TempMachine machine;
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<QSignalSpy> enlarged;
};

} // namespace

// video.js: made two seconds after the load, in a transformed and clipped container under a fixed header, a muted
// preview clip before it and an ad frame after it; it does not start by itself.
TEST_F(WebPlayers, VideoJsMadeLateInATransformedContainer)
{
    play(http.Url(QStringLiteral("videojs.html")));
    expectClipOnTheWholeTv();
    ASSERT_GE(enlarged->count(), 1);
    EXPECT_TRUE(enlarged->last().at(0).toStringList().value(0).endsWith(QLatin1String("/clip.webm")));
}

// Plyr in a frame of another origin: the page stretches the frame, the frame stretches its video and starts it.
TEST_F(WebPlayers, PlyrInAFrameOfAnotherOrigin)
{
    const QString inner = QStringLiteral("http://localhost:%1/plyr.html").arg(http.Port());
    play(http.Url(QStringLiteral("framed.html?src=")) + inner);
    expectClipOnTheWholeTv();
    ASSERT_GE(enlarged->count(), 1);
    EXPECT_EQ(enlarged->last().at(0).toStringList(), QStringList { inner });
}

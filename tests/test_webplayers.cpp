// Video pages built on real web player libraries (video.js, Plyr, from the npm registry) and local films (libmpv)
// playing a red clip with a tone, in the real TV window under a two-monitor X server with a real PulseAudio server:
// whatever the page or the file, the clip covers the TV and its sound plays on the TV's sound card.
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "catalogue/ItemBase.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "support/CatalogueFixture.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"
#include "tv/MediaPlugins.h"
#include "tv/film/LocalPlayer.h"
#include "tv/film/MpvPlayer.h"
#include "tv/web/OnlineVideoView.h"
#include "tv/ResumePositions.h"
#include "support/WebPage.h"

// Last: Xlib defines names (None, Bool) that Qt uses.
#include <X11/Xlib.h>

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
        ASSERT_NE(frame->EnsureView(), nullptr);
        enlarged = std::make_unique<QSignalSpy>(frame->View()->Widget(), SIGNAL(playersEnlarged(QStringList)));
        QCoreApplication::postEvent(frame.get(), new CPlayUrlEvent(url));
    }
    // The addresses of the player the view reported stretched last (the view polls the page twice a second).
    QStringList lastEnlarged() const
    {
        return enlarged->isEmpty() ? QStringList() : enlarged->last().at(0).toStringList();
    }
    // The line the TV window shows over the bottom of the TV that starts with start ("" when none shows).
    QString lineOnTheTv(const QString& start) const
    {
        for (const QLabel* label : frame->findChildren<QLabel*>())
            if (label->isVisible() && label->text().startsWith(start))
                return label->text();
        return QString();
    }
    // The share of the TV monitor's pixels that are the clip's red.
    double redShare() { return RedShare(CaptureTvScreen(*g_pXServer)); }
    bool soundOnTvOnly() { return pulse->SoundOnlyOn(QStringLiteral("tv")); }
    void expectClipOnTheWholeTv()
    {
        double share = 0;
        // (The first video of the process starts the engine: slow under the sanitizers.)
        EXPECT_TRUE(WaitFor([&] { return (share = redShare()) >= 0.9; }, 90000)) << "red share " << share;
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
    // (The page's report may come well after the picture on a slow machine: under the sanitizers it once came just
    // after five seconds.)
    EXPECT_TRUE(WaitFor([&] { return lastEnlarged().value(0).endsWith(QLatin1String("/clip.webm")); }, 30000))
        << lastEnlarged().value(0).toStdString();
    // The ad frame never covered the TV while the player was being made.
    for (const QList<QVariant>& stretch : *enlarged)
        EXPECT_FALSE(stretch.at(0).toStringList().value(0).endsWith(QLatin1String("ad.html")));
}

// The next episode by itself: an episode whose video plays to its end is followed, after the countdown, by the next
// row of its address list; Back during the countdown calls it off; the last episode ends as before. A film that ends
// is followed by the next film of its folder.
TEST_F(WebPlayers, TheNextEpisodeFollows)
{
    qputenv("KREL_NEXT_COUNTDOWN_S", "2");
    const auto restore = qScopeGuard([] {
        qunsetenv("KREL_NEXT_COUNTDOWN_S");
        g_dbCatalogue.Close();
    });
    HttpServer pages { QStringLiteral(KREL_TEST_PAGES) };
    const QString ending = pages.Url(QStringLiteral("ending.html?clip=")) + http.Url(QStringLiteral("short.webm"));
    machine.writeAppFile(QStringLiteral("Data/date.dat"), EncodeTypeFile({ { 1, QStringLiteral("类型") } }));
    machine.writeAppFile(QStringLiteral("Data/Data1.dat"), EncodeVideoFile({ { 500, QStringLiteral("剧"), 0, 0 } }));
    ASSERT_TRUE(MakeKeyedDatabase(
        machine.appDir(), QString::fromLatin1(kCataloguePassword),
        QStringLiteral(
            "CREATE TABLE tb_videogroup_list (id INTEGER, videoname TEXT);"
            "CREATE TABLE tb_video_addr_list (id INTEGER, videoid INTEGER, name TEXT, url TEXT);"
            "INSERT INTO tb_video_addr_list VALUES (10, 500, '第1集', '%1&e=1'), (20, 500, '第2集', '%1&e=2'),"
            " (30, 500, '第3集', '%1&e=3');"
            "CREATE TABLE tb_star_list (starid INTEGER, starname TEXT, pos INTEGER);"
            "CREATE TABLE tb_star_video_list (starid INTEGER, videoid INTEGER);")
            .arg(ending)));
    ASSERT_TRUE(OpenCatalogue());
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_NE(frame->EnsureView(), nullptr);
    const WebProbe web(frame->View());
    const auto command = [&](int c) {
        QCoreApplication::postEvent(frame.get(), new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(c), 0));
    };
    const auto countdown = [&] { return lineOnTheTv(QStringLiteral("下一集：")); };
    const CItemListSet& menu = frame->Menu().ListSet();

    for (int key : { RC_Digit0, RC_Digit0, RC_Digit0 })
        command(key);
    ASSERT_TRUE(WaitFor([&] { return web.Url().endsWith(QLatin1String("e=1")); }, 40000));
    EXPECT_TRUE(WaitFor([&] { return countdown() == QStringLiteral("下一集：第2集  2"); }, 20000))
        << countdown().toStdString();
    EXPECT_TRUE(WaitFor([&] { return countdown() == QStringLiteral("下一集：第2集  1"); }));
    EXPECT_TRUE(WaitFor([&] { return web.Url().endsWith(QLatin1String("e=2")); }, 20000));
    EXPECT_EQ(menu.PlayingName(), QStringLiteral("第2集"));
    // LeaveVideo during the next countdown: no third episode, the address list.
    ASSERT_TRUE(WaitFor([&] { return countdown().startsWith(QStringLiteral("下一集：第3集")); }, 20000));
    command(RC_LeaveVideo);
    ASSERT_TRUE(WaitFor([&] { return countdown().isEmpty(); }, 10000));
    EXPECT_EQ(menu.State(), CItemListSet::AddressList);
    // The last episode, chosen: it ends (and leaves "继续观看") with no countdown.
    command(RC_Digit2);
    ASSERT_TRUE(WaitFor([&] { return web.Url().endsWith(QLatin1String("e=3")); }, 20000));
    ASSERT_TRUE(WaitFor(
        [&] { return menu.IsPlaying() && const_cast<CItemListSet&>(menu).WatchingList().Items().isEmpty(); }, 20000));
    EXPECT_EQ(countdown(), QString());
    command(RC_LeaveVideo);

    // Two films in a folder: the first that ends is followed by the second.
    const QString folder = machine.root() + QStringLiteral("/films");
    QDir().mkpath(folder);
    for (const char* name : { "a.webm", "b.webm" })
        ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/short.webm"), folder + QLatin1Char('/') + name));
    // (In the folder's own order, the file system's.)
    QStringList films;
    for (QDirIterator it(folder, QDir::Files); it.hasNext();)
        films << it.next();
    ASSERT_EQ(films.size(), 2);
    EXPECT_EQ(NextPlayableFile(films[0]), films[1]);
    EXPECT_EQ(NextPlayableFile(films[1]), QString());
    QCoreApplication::postEvent(frame.get(), new CPlayFileEvent(films[0]));
    const QString next = QStringLiteral("下一集：") + QFileInfo(films[1]).fileName();
    EXPECT_TRUE(WaitFor([&] { return countdown() == next + QStringLiteral("  2"); }, 20000))
        << countdown().toStdString();
    EXPECT_TRUE(WaitFor(
        [&] {
            return frame->Player()->IsPlaying()
                && const_cast<CItemListSet&>(menu).WatchingList().Items().value(0).key == films[1];
        },
        20000));
}

// "还在看吗" (with its hours shortened to seconds): a film that plays with no key pauses under the question; a key
// only answers it and the film goes on; asked again and not answered, TV output is to end.
TEST_F(WebPlayers, StillWatchingAsksAnEmptyRoom)
{
    qputenv("KREL_STILL_WATCHING_MS", "3000,3000");
    const auto restore = qScopeGuard([] { qunsetenv("KREL_STILL_WATCHING_MS"); });
    const QString film = machine.root() + QStringLiteral("/film.webm");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), film));
    frame = std::make_unique<CMainFrame>();
    frame->show();
    QSignalSpy ended(frame.get(), &CMainFrame::nobodyWatching);
    const auto asked = [&] { return lineOnTheTv(QStringLiteral("还在看吗？按任意键继续播放")) != QString(); };
    QCoreApplication::postEvent(frame.get(), new CPlayFileEvent(film));
    ASSERT_TRUE(WaitFor([&] { return frame->Player() && frame->Player()->Position() > 0.5; }, 20000));
    ILocalPlayer* player = frame->Player();
    ASSERT_TRUE(WaitFor(asked, 20000));
    EXPECT_TRUE(player->IsPaused());
    const double at = player->Position();
    // Any key: the question goes and the film goes on where it was (the key does nothing else: Right would seek).
    QCoreApplication::postEvent(frame.get(), new CAppEvent(WM_REMOTE_COMMAND, RC_Right, 0));
    EXPECT_TRUE(WaitFor([&] { return !asked() && !player->IsPaused(); }));
    EXPECT_LT(player->Position(), at + 5);
    EXPECT_EQ(ended.size(), 0);
    // No key this time.
    ASSERT_TRUE(WaitFor(asked, 20000));
    EXPECT_TRUE(player->IsPaused());
    EXPECT_TRUE(WaitFor([&] { return ended.size() == 1; }, 20000));
}

// Plyr in a frame of another origin: the page stretches the frame, the frame stretches its video and starts it. The
// play/pause key: what krel says (to the screen saver, to the desktop's media controls) is what the framed player
// answered; on Qt WebEngine the key reaches the top frame only, nothing pauses, and the video plays on as krel says.
TEST_F(WebPlayers, PlyrInAFrameOfAnotherOrigin)
{
    const QString inner = QStringLiteral("http://localhost:%1/plyr.html").arg(http.Port());
    play(http.Url(QStringLiteral("framed.html?src=")) + inner);
    expectClipOnTheWholeTv();
    EXPECT_TRUE(WaitFor([&] { return lastEnlarged() == QStringList { inner }; }))
        << lastEnlarged().value(0).toStdString();
    const bool reached = ChosenWebEngine() == WebEngineKind::Chromium;
    QSignalSpy answered(frame.get(), &CMainFrame::pauseAnswered);
    for (int press = 1; press <= 2; ++press) {
        QCoreApplication::postEvent(frame.get(), new CAppEvent(WM_REMOTE_COMMAND, RC_PlayPause, 0));
        ASSERT_TRUE(WaitFor([&] { return answered.size() == press; })) << "press " << press;
        EXPECT_EQ(frame->View()->IsPaused(), reached && press == 1) << "press " << press;
    }
}

// Streams as sites serve them, H.264/AAC: hls.js with MPEG-TS and with fMP4 segments, dash.js and Shaka Player on
// DASH, a progressive file, and an HLS playlist the browser plays itself; each over the whole TV with its sound on
// the TV's card. (Qt WebEngine plays no HLS of its own, so these run on Chromium.)
TEST_F(WebPlayers, StreamingPlayersFillTheTv)
{
    if (ChosenWebEngine() != WebEngineKind::Chromium)
        GTEST_SKIP() << "the streaming pages are played on Chromium";
    const struct {
        const char* player;
        const char* stream;
    } pages[] = { { "hlsjs", "streams/ts/index.m3u8" },   { "hlsjs", "streams/fmp4/index.m3u8" },
                  { "dashjs", "streams/dash/index.mpd" }, { "shaka", "streams/dash/index.mpd" },
                  { "progressive", "streams/clip.mp4" },  { "native", "streams/ts/index.m3u8" } };
    for (const auto& page : pages) {
        SCOPED_TRACE(std::string(page.player) + " " + page.stream);
        play(http.Url(QStringLiteral("stream.html?player=%1&src=%2")
                          .arg(QLatin1String(page.player), QLatin1String(page.stream))));
        expectClipOnTheWholeTv();
        EXPECT_TRUE(WaitFor([&] { return !lastEnlarged().value(0).isEmpty(); }));
        frame.reset();
        ASSERT_TRUE(WaitFor([&] { return pulse->SinkInputs().empty(); }, 10000));
    }
}

// Playback as a household meets it. The screen: blank with the menu idle, woken by a key and by playback, kept on
// however long nobody touches the PC while a film or a web video plays, free again when it is paused or ends and when
// TV output goes. A film: its subtitle file shown, the subtitle key steps to none; play/pause and OK hold it and let
// it go on, Left/Right seek; left halfway it starts again a few seconds before where it was, saying so, and 0 takes
// it to its beginning. A web page's player: paused and going on, and resumed the same way.
TEST_F(WebPlayers, PlaybackKeepsTheScreenOnPausesAndResumes)
{
    ASSERT_EQ(
        g_pXServer->run(QStringLiteral("xset"), { QStringLiteral("s"), QStringLiteral("1"), QStringLiteral("0") }), 0);
    const auto restore = qScopeGuard([] {
        g_pXServer->run(QStringLiteral("xset"), { QStringLiteral("s"), QStringLiteral("default") });
    });
    const auto saverOn = [] { return QuerySaver().on; };
    // Nobody has touched the server for twice the 1 s timeout: a free screen saver would be on by now.
    const auto idleBeyondTimeout = [] { return WaitFor([] { return QuerySaver().idleMs > 2000; }, 20000); };
    frame = std::make_unique<CMainFrame>();
    frame->show();
    auto command = [&](int c) {
        QCoreApplication::postEvent(frame.get(), new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(c), 0));
    };
    ASSERT_TRUE(WaitFor(saverOn, 20000)) << "the menu idle keeps the screen on";
    command(RC_Back);
    EXPECT_TRUE(WaitFor([] { return !QuerySaver().on; })) << "a remote key does not wake the screen";
    ASSERT_TRUE(WaitFor(saverOn, 20000));

    const QString film = machine.root() + QStringLiteral("/film.webm");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), film));
    WriteFile(machine.root() + QStringLiteral("/film.srt"), "1\n00:00:00,000 --> 00:01:00,000\nWWWWWWWWWWWW\n");
    // The share of white in the TV's lower third, where subtitles go.
    const auto subtitleShare = [] {
        const QImage lower = CaptureScreen(*g_pXServer, QRect(1920, 720, 1920, 360));
        int white = 0;
        for (int y = 0; y < lower.height(); y += 4)
            for (int x = 0; x < lower.width(); x += 4) {
                const QRgb p = lower.pixel(x, y);
                white += qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
            }
        return white * 16.0 / (lower.width() * lower.height());
    };
    QCoreApplication::postEvent(frame.get(), new CPlayFileEvent(film));
    ASSERT_TRUE(WaitFor([&] { return redShare() >= 0.9 && frame->Player()->Position() > 0.5; }, 20000));
    EXPECT_FALSE(QuerySaver().on) << "a film starting does not wake the screen";
    EXPECT_TRUE(WaitFor([&] { return subtitleShare() > 0.005; }, 10000)) << "no subtitle on the TV";
    command(RC_Subtitle);
    EXPECT_TRUE(WaitFor([&] { return subtitleShare() < 0.001; }, 10000)) << "the subtitle stays";
    ASSERT_TRUE(idleBeyondTimeout());
    EXPECT_FALSE(QuerySaver().on) << "dark during a film";

    ILocalPlayer* player = frame->Player();
    command(RC_PlayPause);
    ASSERT_TRUE(WaitFor([&] { return player->IsPaused(); }));
    EXPECT_TRUE(WaitFor(saverOn, 20000)) << "held while the film is paused";
    double held = -1;
    EXPECT_TRUE(WaitFor(
        [&] {
            const double before = player->Position();
            WaitFor([] { return false; }, 600);
            return (held = player->Position()) == before;
        },
        10000))
        << "the film goes on while paused";
    command(RC_Ok); // an arrow-and-OK remote's OK does the same
    EXPECT_TRUE(WaitFor([&] { return player->Position() > held + 0.5; }, 10000));
    const double beforeRight = player->Position();
    command(RC_Right); // 10 s on
    EXPECT_TRUE(WaitFor([&] { return player->Position() >= beforeRight + 9; }, 10000));
    command(RC_Left); // and back
    EXPECT_TRUE(WaitFor([&] { return player->Position() < beforeRight + 5; }, 10000));
    frame->SetHeld(CMainFrame::TvStandby, true); // the TV went to standby and said so over HDMI-CEC
    EXPECT_TRUE(WaitFor([&] { return player->IsPaused(); }));
    frame->SetHeld(CMainFrame::TvStandby, false);
    EXPECT_TRUE(WaitFor([&] { return !player->IsPaused(); }));

    command(RC_NextPage); // 30 s on
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 25; }, 10000));
    const double left = player->Position();
    command(RC_Back);
    ASSERT_TRUE(WaitFor([&] { return !player->IsPlaying(); }));
    EXPECT_TRUE(WaitFor(saverOn, 20000)) << "held after the film";
    QCoreApplication::postEvent(frame.get(), new CPlayFileEvent(film));
    EXPECT_TRUE(WaitFor(
        [&] { return player->Position() >= left - CResumePositions::kRewindSeconds - 1 && player->Position() < left; },
        10000))
        << player->Position() << " after leaving at " << left;
    const auto labels = frame->findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_TRUE(labels.first()->text().startsWith(QStringLiteral("从 00:"))) << labels.first()->text().toStdString();
    EXPECT_TRUE(labels.first()->text().endsWith(QStringLiteral(" 继续播放")));
    command(RC_Digit0);
    EXPECT_TRUE(WaitFor([&] { return player->Position() < 10; }, 10000));
    command(RC_Back);
    ASSERT_TRUE(WaitFor([&] { return !player->IsPlaying(); }));

    // A web page's player.
    ASSERT_NE(frame->EnsureView(), nullptr);
    const WebProbe web(frame->View());
    QCoreApplication::postEvent(frame.get(), new CPlayUrlEvent(http.Url(QStringLiteral("plain.html"))));
    ASSERT_TRUE(WaitFor([&] { return redShare() >= 0.9; }, 40000));
    const QString paused = QStringLiteral("document.querySelector('video').paused");
    ASSERT_TRUE(WaitFor([&] { return web.Js(paused) == QVariant(false); }));
    ASSERT_TRUE(idleBeyondTimeout());
    EXPECT_FALSE(QuerySaver().on) << "dark during a web video";
    command(RC_PlayPause);
    EXPECT_TRUE(WaitFor([&] { return web.Js(paused) == QVariant(true); }));
    EXPECT_TRUE(WaitFor([&] { return frame->View()->IsPaused(); }));
    command(RC_PlayPause);
    EXPECT_TRUE(WaitFor([&] { return web.Js(paused) == QVariant(false); }));
    frame->SetHeld(CMainFrame::TvStandby, true);
    EXPECT_TRUE(WaitFor([&] { return web.Js(paused) == QVariant(true); }));
    frame->SetHeld(CMainFrame::TvStandby, false);
    EXPECT_TRUE(WaitFor([&] { return web.Js(paused) == QVariant(false); }));

    // An episode left halfway starts again where it was, the same way.
    const QString time = QStringLiteral("document.querySelector('video').currentTime");
    frame->View()->Seek(30, false);
    ASSERT_TRUE(WaitFor([&] { return web.Js(time).toDouble() >= 30; }, 10000));
    command(RC_LeaveVideo);
    ASSERT_TRUE(WaitFor([&] { return web.Url() == QLatin1String("about:blank"); }));
    EXPECT_TRUE(WaitFor(saverOn, 20000)) << "held after the web video";
    QCoreApplication::postEvent(frame.get(), new CPlayUrlEvent(http.Url(QStringLiteral("plain.html"))));
    EXPECT_TRUE(WaitFor(
        [&] {
            const double at = web.Js(time).toDouble();
            return at >= 30 - CResumePositions::kRewindSeconds - 1 && at < 30;
        },
        40000))
        << web.Js(time).toDouble();
    EXPECT_TRUE(labels.first()->text().startsWith(QStringLiteral("从 00:2"))) << labels.first()->text().toStdString();
    EXPECT_FALSE(QuerySaver().on);

    // TV output ending while the video plays lets the screen go.
    frame.reset();
    EXPECT_TRUE(WaitFor(saverOn, 20000)) << "held after TV output ended";
}

// Local films: chosen in the local movie list they play over the whole TV on the TV's sound card, the volume keys
// step their sound, Back and the film's end return to the listing; a file that cannot be played leaves the listing
// and the program as they were.
TEST_F(WebPlayers, LocalFilmsPlayOnTheTv)
{
    const QString films = machine.root() + QStringLiteral("/films");
    QDir().mkpath(films);
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), films + QStringLiteral("/a-long.webm")));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/short.webm"), films + QStringLiteral("/b-short.webm")));
    WriteFile(films + QStringLiteral("/c-broken.mkv"), QByteArray(4096, '\x5a'));
    WriteFile(films + QStringLiteral("/d-folder/e.webm"), "x");
    WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders), films);
    frame = std::make_unique<CMainFrame>();
    frame->show();
    auto command = [&](int c) {
        QCoreApplication::postEvent(frame.get(), new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(c), 0));
        QCoreApplication::processEvents();
    };
    command(RC_Back); // the home screen
    command(RC_Digit3); // local movies: the folder
    command(RC_Digit0); // its files
    ASSERT_TRUE(WaitFor([&] { return frame->Menu().ListSet().State() == CItemListSet::LocalMovies; }));
    const CItemBase* listing = frame->Menu().CurrentList();
    ASSERT_EQ(listing->RowCount(), 4);
    auto digitOf = [&](const char* name) -> int {
        for (int i = 0; i < 4; ++i)
            if (listing->RowAt(i).name == QLatin1String(name))
                return RC_Digit0 + i;
        return RC_Digit9;
    };
    auto playerShown = [&] { return frame->Player() && frame->Player()->Widget()->isVisible(); };

    command(digitOf("a-long.webm"));
    expectClipOnTheWholeTv();
    ASSERT_TRUE(playerShown());
    // Opaque as drawn into a window with an alpha channel (a Wayland compositor blends by it): the film's pixels
    // keep no undefined alpha.
    QImage drawn(frame->size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    frame->Player()->Widget()->render(&drawn);
    for (const QPoint p : { QPoint(10, 10), QPoint(drawn.width() / 2, drawn.height() / 2) })
        EXPECT_EQ(qAlpha(drawn.pixel(p)), 255) << p.x() << "," << p.y();
    const auto before = pulse->SinkInputs();
    ASSERT_FALSE(before.empty());
    command(RC_VolumeDown);
    EXPECT_TRUE(WaitFor([&] {
        const auto now = pulse->SinkInputs();
        return !now.empty() && now.back().volumeLeft < before.back().volumeLeft;
    }));
    // A digit while the film plays never acts on the hidden listing beneath it (here: opening a folder).
    ASSERT_NE(digitOf("d-folder"), RC_Digit9);
    const QString firstRow = listing->RowAt(0).name;
    command(digitOf("d-folder"));
    EXPECT_EQ(listing->RowCount(), 4);
    EXPECT_EQ(listing->RowAt(0).name, firstRow);
    EXPECT_TRUE(playerShown());
    command(RC_Back);
    EXPECT_TRUE(WaitFor([&] { return !playerShown(); }));
    EXPECT_EQ(frame->Menu().CurrentList(), listing);
    EXPECT_EQ(frame->Menu().ListSet().State(), CItemListSet::LocalMovies);
    EXPECT_TRUE(WaitFor([&] { return redShare() < 0.1; })); // the menu is drawn again

    // The end of a film brings the listing back (with the countdown to the next film of the folder, which the next
    // choice calls off).
    command(digitOf("b-short.webm"));
    ASSERT_TRUE(WaitFor([&] { return playerShown(); }));
    EXPECT_TRUE(WaitFor([&] { return !playerShown(); }, 20000));
    EXPECT_EQ(frame->Menu().CurrentList(), listing);

    // A broken file: tried once more, then the listing with a line; the program lives, and a good film plays
    // afterwards.
    QSignalSpy ended(static_cast<CMpvPlayer*>(frame->Player()), &CMpvPlayer::finished);
    command(digitOf("c-broken.mkv"));
    ASSERT_TRUE(WaitFor([&] { return ended.count() == 2; }, 20000));
    EXPECT_EQ(ended.at(0).first().toBool(), false);
    EXPECT_EQ(ended.at(1).first().toBool(), false);
    EXPECT_FALSE(playerShown());
    EXPECT_EQ(frame->Menu().CurrentList(), listing);
    EXPECT_EQ(lineOnTheTv(QStringLiteral("影片")), QStringLiteral("影片无法播放，请重新选择"));
    command(digitOf("a-long.webm"));
    EXPECT_TRUE(WaitFor([&] { return redShare() >= 0.9; }, 20000));
    command(RC_LeaveVideo);
    EXPECT_TRUE(WaitFor([&] { return !playerShown(); }));

    // A good film chosen right after a broken one: the broken one's failure, when libmpv reports it only after the
    // good one was asked for, must not end the good one.
    ILocalPlayer* player = frame->Player();
    ASSERT_TRUE(player->Play(films + QStringLiteral("/c-broken.mkv")));
    QThread::msleep(1500);
    ASSERT_TRUE(player->Play(films + QStringLiteral("/a-long.webm")));
    EXPECT_TRUE(WaitFor([&] { return redShare() >= 0.9; }, 20000));
    EXPECT_TRUE(player->IsPlaying());
    EXPECT_TRUE(playerShown());
    command(RC_LeaveVideo);
    EXPECT_TRUE(WaitFor([&] { return !playerShown(); }));
}

// The TV switched off and on, as HDMI hot-plug shows it: its monitor leaves the X server and comes back, and its
// sound card goes and comes with it. The real control window and TV window, the real players, a real sound server.
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include "app/TvCfgDlg.h"
#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "remote/KeyRouter.h"
#include "support/CatalogueFixture.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "support/WebPage.h"
#include "tv/AudioRouter.h"
#include "tv/film/LocalPlayer.h"
#include "tv/MainFrame.h"
#include "tv/web/OnlineVideoView.h"

extern XvfbServer* g_pXServer;

namespace
{

const QRect kPc(0, 0, 1920, 1080);

class HotPlug : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
        ASSERT_TRUE(pulse.Start());
        ASSERT_TRUE(http.IsRunning());
        audio = std::make_unique<CAudioRouter>();
        ASSERT_TRUE(WaitFor([&] { return audio->SoundCards().size() == 2; }));
        ASSERT_TRUE(MakeEmptyCatalogue(machine.appDir()));
        const QString films = machine.root() + QStringLiteral("/films");
        QDir().mkpath(films);
        ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), films + QStringLiteral("/a.webm")));
        WriteSetting(QString::fromLatin1(SettingKey::LocalMovieFolders), films);
        // The TV as a user saved it: the monitor on connector "TV", and its sound card.
        WriteSetting(QString::fromLatin1(SettingKey::DisplayName), QStringLiteral("TV|||"));
        WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("1920 0 3840 1080"));
        WriteSetting(QString::fromLatin1(SettingKey::SoundCard), QStringLiteral("HDMI-TV"));
        g_rcTvScreen = {};
    }
    void TearDown() override
    {
        dialog.reset();
        audio.reset();
        g_dbCatalogue.Close();
        if (QGuiApplication::screens().size() < 2)
            switchOn(QStringLiteral("1920/508x1080/286"));
    }

    // The TV's monitor and its HDMI sink leave, or come back (at the given size), as when it is switched.
    void switchOff()
    {
        ASSERT_EQ(g_pXServer->run(QStringLiteral("xrandr"), { QStringLiteral("--delmonitor"), QStringLiteral("TV") }),
                  0);
        ASSERT_TRUE(WaitFor([] { return QGuiApplication::screens().size() == 1; }));
        ASSERT_TRUE(pulse.RemoveSink(QStringLiteral("tv")));
    }
    void switchOn(const QString& size)
    {
        ASSERT_EQ(g_pXServer->run(QStringLiteral("xrandr"),
                                  { QStringLiteral("--setmonitor"), QStringLiteral("TV"),
                                    size + QStringLiteral("+1920+0"), QStringLiteral("none") }),
                  0);
        ASSERT_TRUE(WaitFor([] { return QGuiApplication::screens().size() == 2; }));
        if (pulse.SinkIndex(QStringLiteral("tv")) < 0) {
            ASSERT_TRUE(pulse.AddSink(QStringLiteral("tv"), QStringLiteral("HDMI-TV")));
        }
    }

    CMainFrame* frame() const { return dialog->MainFrame(); }
    void command(int c)
    {
        QCoreApplication::postEvent(frame(), new CAppEvent(WM_REMOTE_COMMAND, static_cast<quint32>(c), 0));
    }
    bool clipOnTv() { return RedShare(CaptureTvScreen(*g_pXServer)) >= 0.9; }
    // Nothing of ours on the PC monitor: neither the menu nor a clip.
    bool pcMonitorClear()
    {
        const QImage pc = CaptureScreen(*g_pXServer, kPc);
        return RedShare(pc) < 0.01 && MenuGreyShare(pc) < 0.01;
    }
    bool soundOnTvOnly() { return pulse.SoundOnlyOn(QStringLiteral("tv")); }
    bool frameOnTv(const QRect& tv) const
    {
        return frame() && frame()->isVisible() && frame()->geometry() == tv && !frame()->IsTvAway();
    }

    TempMachine machine;
    PulseServer pulse;
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    std::unique_ptr<CAudioRouter> audio;
    CRemoteKeyRouter router;
    std::unique_ptr<CTvCfgDlg> dialog;
};

} // namespace

TEST_F(HotPlug, TheTvSwitchedOffAndOn)
{
    const QRect tv(1920, 0, 1920, 1080);
    // Started with the TV off: Power starts TV output, which waits, on no monitor, and says so.
    switchOff();
    dialog = std::make_unique<CTvCfgDlg>(&router, audio.get());
    dialog->SetMessageBox([](QWidget*, const QString& text, const QString&) { ADD_FAILURE() << text.toStdString(); });
    dialog->OnInitDialog();
    router.PostKey(RC_Power, 0x08);
    ASSERT_TRUE(WaitFor([&] { return frame() != nullptr; }));
    EXPECT_FALSE(frame()->isVisible());
    EXPECT_EQ(dialog->TrayIcon()->toolTip(), QStringLiteral("电视未连接"));
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("tvNote"))->text().startsWith(QStringLiteral("电视未连接")));
    EXPECT_TRUE(pcMonitorClear());

    // Switched on: the menu full screen on the TV, the grid where it belongs.
    switchOn(QStringLiteral("1920/508x1080/286"));
    ASSERT_TRUE(WaitFor([&] { return frameOnTv(tv); }));
    EXPECT_TRUE(WaitFor([&] { return ShowsMenu(CaptureTvScreen(*g_pXServer)); }));
    EXPECT_EQ(dialog->TrayIcon()->toolTip(), QStringLiteral("电视"));
    EXPECT_TRUE(pcMonitorClear());

    // A film: off and on again. It is held while the TV is away, nothing shows or sounds elsewhere, and it goes on.
    command(RC_Back);
    command(RC_Digit3);
    command(RC_Digit0);
    command(RC_Digit0);
    ASSERT_TRUE(WaitFor([&] { return clipOnTv(); }, 20000));
    ASSERT_TRUE(WaitFor([&] { return soundOnTvOnly(); }, 20000));
    switchOff();
    EXPECT_TRUE(WaitFor([&] { return !frame()->isVisible() && pulse.Silent(); }, 10000));
    EXPECT_TRUE(pcMonitorClear());
    switchOn(QStringLiteral("1920/508x1080/286"));
    EXPECT_TRUE(WaitFor([&] { return frameOnTv(tv) && clipOnTv(); }, 20000));
    EXPECT_TRUE(WaitFor([&] { return soundOnTvOnly(); }, 20000));
    EXPECT_TRUE(frame()->Player()->IsPlaying());
    command(RC_LeaveVideo);
    ASSERT_TRUE(WaitFor([&] { return !frame()->Player()->Widget()->isVisible(); }));

    // A web page: the same, and its video goes on from where it was held.
    QCoreApplication::postEvent(frame(), new CPlayUrlEvent(http.Url(QStringLiteral("videojs.html"))));
    ASSERT_TRUE(WaitFor([&] { return clipOnTv(); }, 40000));
    ASSERT_TRUE(WaitFor([&] { return soundOnTvOnly(); }, 20000));
    const WebProbe web(frame()->View());
    const QString position = QStringLiteral("document.querySelector('video').currentTime");
    switchOff();
    EXPECT_TRUE(WaitFor([&] { return !frame()->isVisible() && pulse.Silent(); }, 10000));
    EXPECT_TRUE(pcMonitorClear());
    const double held = web.Js(position).toDouble();
    switchOn(QStringLiteral("1920/508x1080/286"));
    EXPECT_TRUE(WaitFor([&] { return frameOnTv(tv) && clipOnTv(); }, 20000));
    EXPECT_TRUE(WaitFor([&] { return soundOnTvOnly(); }, 20000));
    EXPECT_TRUE(WaitFor([&] { return web.Js(position).toDouble() > held + 0.5; }, 20000));
    EXPECT_LT(held, web.Js(position).toDouble());

    // Another resolution: TV output follows it and the menu is drawn for it.
    command(RC_LeaveVideo);
    // (Xvfb changes a monitor by taking it away and adding it again; the TV window is meanwhile away.)
    const QRect small(1920, 0, 1280, 720);
    ASSERT_EQ(g_pXServer->run(QStringLiteral("xrandr"), { QStringLiteral("--delmonitor"), QStringLiteral("TV") }), 0);
    ASSERT_TRUE(WaitFor([] { return QGuiApplication::screens().size() == 1; }));
    ASSERT_EQ(g_pXServer->run(QStringLiteral("xrandr"),
                              { QStringLiteral("--setmonitor"), QStringLiteral("TV"),
                                QStringLiteral("1280/338x720/190+1920+0"), QStringLiteral("none") }),
              0);
    EXPECT_TRUE(WaitFor([&] { return frameOnTv(small); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return ShowsMenu(CaptureTvScreen(*g_pXServer), small.size()); }, 10000));
    EXPECT_TRUE(pcMonitorClear());
    switchOff();
    switchOn(QStringLiteral("1920/508x1080/286"));
    EXPECT_TRUE(WaitFor([&] { return frameOnTv(tv) && ShowsMenu(CaptureTvScreen(*g_pXServer)); }, 10000));
}

// Nothing stored: the monitor whose EDID is a TV's is the TV, paired with the only HDMI sound card, used at once,
// shown chosen with a note, and stored by "保存".
TEST_F(HotPlug, RecognisesTheTvByItsEdid)
{
    QFile lg(QStringLiteral(KREL_EDID_DIR "/lg-tv.hex"));
    ASSERT_TRUE(lg.open(QIODevice::ReadOnly));
    // The TV's monitor shows the server's one output, "screen", which gets the TV's EDID.
    auto xrandr = [](const QStringList& args) { return g_pXServer->run(QStringLiteral("xrandr"), args); };
    ASSERT_EQ(xrandr({ QStringLiteral("--delmonitor"), QStringLiteral("TV") }), 0);
    ASSERT_EQ(xrandr({ QStringLiteral("--delmonitor"), QStringLiteral("PC") }), 0);
    ASSERT_EQ(xrandr({ QStringLiteral("--setmonitor"), QStringLiteral("*PC"), QStringLiteral("1920/508x1080/286+0+0"),
                       QStringLiteral("none") }),
              0);
    ASSERT_EQ(xrandr({ QStringLiteral("--setmonitor"), QStringLiteral("TV"), QStringLiteral("1920/508x1080/286+1920+0"),
                       QStringLiteral("screen") }),
              0);
    ASSERT_TRUE(SetOutputEdid(*g_pXServer, "screen", QByteArray::fromHex(lg.readAll().simplified().replace(' ', ""))));
    ASSERT_TRUE(WaitFor([] { return QGuiApplication::screens().size() == 2; }));
    for (const char* key : { SettingKey::DisplayName, SettingKey::DisplayCard, SettingKey::SoundCard })
        WriteSetting(QString::fromLatin1(key), QString());

    dialog = std::make_unique<CTvCfgDlg>(&router, audio.get());
    dialog->OnInitDialog();
    auto* displays = dialog->findChild<QComboBox*>(QStringLiteral("1000"));
    auto* cards = dialog->findChild<QComboBox*>(QStringLiteral("1002"));
    EXPECT_EQ(displays->currentText(), QStringLiteral("第 1 副显示器 (LG TV)"));
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("tvNote"))->text(), QStringLiteral("已自动识别电视: LG TV"));
    EXPECT_EQ(cards->currentText(), QStringLiteral("HDMI-TV (LG TV)"));
    EXPECT_EQ(g_nSoundCard.load(), 1);
    router.PostKey(RC_Power, 0x08);
    EXPECT_TRUE(WaitFor([&] { return frameOnTv(QRect(1920, 0, 1920, 1080)); }));
    dialog->Save();
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::DisplayName)), QStringLiteral("TV|GSM|LG TV|"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::SoundCard)), QStringLiteral("HDMI-TV"));

    dialog.reset();
    SetOutputEdid(*g_pXServer, "screen", QByteArray());
    xrandr({ QStringLiteral("--delmonitor"), QStringLiteral("TV") });
    xrandr({ QStringLiteral("--delmonitor"), QStringLiteral("PC") });
    xrandr({ QStringLiteral("--setmonitor"), QStringLiteral("PC"), QStringLiteral("1920/508x1080/286+0+0"),
             QStringLiteral("screen") });
    xrandr({ QStringLiteral("--setmonitor"), QStringLiteral("TV"), QStringLiteral("1920/508x1080/286+1920+0"),
             QStringLiteral("none") });
}

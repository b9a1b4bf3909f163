#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/Application.h"
#include "app/IRCompanySelDlg.h"
#include "app/ShutdownDlg.h"
#include "MouseCtl/MouseCtl.h"
#include "app/TvCfgDlg.h"
#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/Paths.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "remote/CecLinux.h"
#include "remote/CecPlayback.h"
#include "remote/KeyRouter.h"
#include "support/CatalogueFixture.h"
#include "support/PointerPush.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/SystemBus.h"
#include "support/TestEnv.h"
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"

namespace
{

struct Message {
    QString text;
    QString caption;
};

// The control window with real screens (two monitors), a real audio server, a private system bus with a fake
// logind, and message boxes recorded instead of shown.
class ControlWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pulse.Start());
        audio = std::make_unique<CAudioRouter>();
        ASSERT_TRUE(WaitFor([&] { return audio->SoundCards(0).size() == 2; }));
        g_rcTvScreen = {};
        g_nSoundCard = 0;
        g_wCompanyID = 0;
    }
    void TearDown() override
    {
        dialog.reset();
        audio.reset();
        g_dbCatalogue.Close();
        g_rcTvScreen = {};
    }
    CTvCfgDlg& open()
    {
        dialog = std::make_unique<CTvCfgDlg>(&router, audio.get());
        dialog->SetMessageBox([this](QWidget*, const QString& text, const QString& caption) {
            messages.push_back({ text, caption });
        });
        dialog->OnInitDialog();
        return *dialog;
    }
    // Power twice: TV output starts, then ends with the shutdown prompt.
    void powerToPrompt()
    {
        router.PostKey(RC_Power, 0x08);
        ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame() != nullptr; }));
        router.PostKey(RC_Power, 0x08);
        ASSERT_TRUE(WaitFor([&] { return dialog->ShutdownDialog() && dialog->ShutdownDialog()->isVisible(); }));
    }
    template <typename T> T* child(const char* id) { return dialog->findChild<T*>(QString::fromLatin1(id)); }
    void makeCatalogue() { ASSERT_TRUE(MakeEmptyCatalogue(machine.appDir())); }

    TempMachine machine;
    PulseServer pulse;
    std::unique_ptr<CAudioRouter> audio;
    CRemoteKeyRouter router;
    std::unique_ptr<CTvCfgDlg> dialog;
    std::vector<Message> messages;
};

// The TV's side of an HDMI-CEC bus: what it sends reaches the program's playback device, and what the device sends
// is kept, written as cec-ctl writes frames.
class StandInTv : public ICecAdapter
{
public:
    QStringList sent;
    bool Claim(const QString&) override
    {
        onAddresses(0x1000, 4); // playback device 1 on the TV's first input
        return true;
    }
    bool Transmit(const CecFrame& frame) override
    {
        sent << CecFrameText(frame);
        return true;
    }
    void Send(const char* frame) { onFrame(CecFrameFromText(QString::fromLatin1(frame))); }
};

} // namespace

TEST_F(ControlWindow, ListsScreensAndSoundCardsAndPreselectsTheStoredOnes)
{
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("1920 0 3840 1080"));
    WriteSetting(QString::fromLatin1(SettingKey::SoundCard), QStringLiteral("HDMI-TV"));
    WriteSetting(QString::fromLatin1(SettingKey::CompanyID), QStringLiteral("70011"));
    open();
    EXPECT_EQ(g_wCompanyID.load(), 0x117B); // 70011 = 0x1117B, kept to 16 bits
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("系统配置"));
    // Centred on the primary screen at the size its layout gives it.
    EXPECT_EQ(dialog->size(), dialog->sizeHint());
    EXPECT_LE((dialog->geometry().center() - QGuiApplication::primaryScreen()->geometry().center()).manhattanLength(),
              2);
    auto* displays = child<QComboBox>("1000");
    auto* cards = child<QComboBox>("1002");
    ASSERT_EQ(displays->count(), 2);
    EXPECT_EQ(displays->itemText(0), QStringLiteral("主显示器"));
    EXPECT_EQ(displays->itemText(1), QStringLiteral("第 1 副显示器"));
    EXPECT_EQ(displays->currentIndex(), 1);
    EXPECT_EQ(g_rcTvScreen, (ScreenRect { 1920, 0, 3840, 1080 }));
    EXPECT_EQ(child<QLabel>("1001")->text(), QStringLiteral("1920 * 1080"));
    ASSERT_EQ(cards->count(), 2);
    EXPECT_EQ(cards->itemText(0), QStringLiteral("PC-Speakers"));
    EXPECT_EQ(cards->itemText(1), QStringLiteral("HDMI-TV"));
    EXPECT_EQ(cards->currentIndex(), 1);
    EXPECT_EQ(g_nSoundCard.load(), 1);
    EXPECT_EQ(qgetenv("PULSE_SINK"), QByteArray("tv"));

    // Every text fits inside its control, and every control inside the window, at this desktop's font.
    dialog->show();
    ASSERT_TRUE(WaitFor([&] { return dialog->isVisible(); }));
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) && !qobject_cast<QGroupBox*>(w))
            continue;
        const QString name
            = w->objectName() + QLatin1Char(' ') + w->property("text").toString() + w->property("title").toString();
        EXPECT_TRUE(dialog->rect().contains(QRect(w->mapTo(dialog.get(), QPoint(0, 0)), w->size())))
            << name.toStdString();
    }
    dialog->hide();

    // Choosing takes effect without saving.
    displays->setCurrentIndex(0);
    EXPECT_EQ(g_rcTvScreen, (ScreenRect { 0, 0, 1920, 1080 }));
    cards->setCurrentIndex(0);
    EXPECT_EQ(g_nSoundCard.load(), 0);

    // Reading the hardware again keeps both choices, not saved yet, whatever is stored.
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("1920 0  3840 1080"));
    WriteSetting(QString::fromLatin1(SettingKey::SoundCard), QStringLiteral("gone"));
    child<QPushButton>("1010")->click();
    EXPECT_EQ(displays->currentIndex(), 0);
    EXPECT_EQ(cards->currentIndex(), 0);
    EXPECT_EQ(g_rcTvScreen, (ScreenRect { 0, 0, 1920, 1080 }));
}

// With the fence turned off in the settings, a pointer resting on the TV stays there while the window starts.
TEST_F(ControlWindow, DisabledFenceLeavesThePointerOnTheTvAtStart)
{
    WriteSetting(QString::fromLatin1(SettingKey::DisplayName), QStringLiteral("TV|||"));
    WriteSetting(QString::fromLatin1(SettingKey::DisableMouseCtrl), QStringLiteral("1"));
    g_bMouseCtrlDisabled = 0; // as at every start, before the settings are read
    PointerPusher pointer;
    ASSERT_TRUE(pointer.isOpen());
    ASSERT_GE(pointer.push({ 2500, 500 }, 0, 0).x(), 1920);
    open();
    EXPECT_EQ(g_bMouseCtrlDisabled, 1);
    EXPECT_GE(QCursor::pos().x(), 1920);
    MouseLimitDisable();
}

TEST_F(ControlWindow, SaveNamesWhatIsMissing)
{
    open();
    child<QPushButton>("1003")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("请选择用于输入的显示器"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::BootRun)), QStringLiteral("0"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::DisplayCard)), QString());

    child<QComboBox>("1000")->setCurrentIndex(1);
    child<QPushButton>("1003")->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, QStringLiteral("请选择用于输出的声卡"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::DisplayCard)), QString());

    child<QComboBox>("1002")->setCurrentIndex(1);
    child<QPushButton>("1003")->click();
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::DisplayCard)), QStringLiteral("1920 0 3840 1080"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::SoundCard)), QStringLiteral("HDMI-TV"));
}

TEST_F(ControlWindow, StartAtBootCheckBox)
{
    QDir().mkpath(Paths::AutostartDir());
    open();
    auto* box = child<QCheckBox>("1009");
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::BootRun)), QStringLiteral("1"));
    EXPECT_EQ(QDir(Paths::AutostartDir()).entryList(QDir::Files).size(), 1);
    box->click();
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::BootRun)), QStringLiteral("0"));
    EXPECT_TRUE(QDir(Paths::AutostartDir()).entryList(QDir::Files).isEmpty());

    // No autostart folder can be written: the user is told, and neither the box nor the settings claim it.
    QDir(Paths::AutostartDir()).removeRecursively();
    WriteFile(Paths::AutostartDir(), "not a folder");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (machine.root() + QStringLiteral("/not-a-folder")).toUtf8());
    WriteFile(machine.root() + QStringLiteral("/not-a-folder"), "x");
    box->click();
    qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::BootRun)), QStringLiteral("0"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("无法设置开机自动运行!"));
}

TEST_F(ControlWindow, TrayMenuEntriesAndHiding)
{
    open();
    QStringList entries;
    for (QAction* a : dialog->TrayMenu()->actions())
        entries << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + QLatin1Char(' ') + a->text());
    EXPECT_EQ(entries,
              (QStringList { QStringLiteral("32785 主程序"), QStringLiteral("-"), QStringLiteral("32777 启动电视输出"),
                             QStringLiteral("32782 关闭电视输出"), QStringLiteral("-"),
                             QStringLiteral("32787 限制鼠标在桌面"), QStringLiteral("32788 取消鼠标限制"),
                             QStringLiteral("-"), QStringLiteral("32790 遥控器设置"), QStringLiteral("-"),
                             QStringLiteral("32776 关于"), QStringLiteral("32781 退出") }));
    EXPECT_EQ(dialog->TrayIcon()->toolTip(), QStringLiteral("电视"));
    // The icon is an SVG: without the SVG image plugin the tray would show nothing.
    EXPECT_FALSE(dialog->TrayIcon()->icon().pixmap(32, 32).isNull());
    auto showMain = [&] {
        for (QAction* a : dialog->TrayMenu()->actions())
            if (a->objectName() == QLatin1String("32785"))
                a->trigger();
    };
    auto pressEnter = [&] {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.get(), &enter);
    };

    // No tray host: the close box and Enter only minimise, so the window stays within reach.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    dialog->show();
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isMinimized());
    showMain();
    pressEnter();
    EXPECT_TRUE(dialog->isVisible() && dialog->isMinimized());

    // With a tray host they hide it; the tray's "主程序" brings it back.
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"), { QStringLiteral("--edge"), QStringLiteral("top") });
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    showMain();
    EXPECT_TRUE(dialog->isVisible() && !dialog->isMinimized());
    EXPECT_FALSE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    showMain();
    EXPECT_TRUE(dialog->isVisible());
    pressEnter();
    EXPECT_FALSE(dialog->isVisible());
    trayer.kill();
    trayer.waitForFinished(3000);
    ASSERT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
}

// Settings of before the TV's identity was stored, written on another layout: TV output shows on the primary
// screen, not nowhere.
TEST_F(ControlWindow, AStoredRectangleOfAnotherLayoutShowsTvOutputOnThePrimary)
{
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("0 0 1280 720"));
    makeCatalogue();
    open();
    router.PostKey(RC_Power, 0x08);
    ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame() && dialog->MainFrame()->isVisible(); }));
    EXPECT_EQ(dialog->MainFrame()->geometry(), QGuiApplication::primaryScreen()->geometry());
}

TEST_F(ControlWindow, TvOutputNeedsTheCatalogue)
{
    open();
    dialog->show();
    dialog->ShowOrStartTvOutput();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("打开数据文件失败!"));
    EXPECT_EQ(dialog->MainFrame(), nullptr);
    EXPECT_TRUE(dialog->isMinimized()); // put away all the same (minimised: no tray host here)

    makeCatalogue();
    child<QComboBox>("1000")->setCurrentIndex(1);
    dialog->ShowOrStartTvOutput();
    ASSERT_NE(dialog->MainFrame(), nullptr);
    EXPECT_EQ(dialog->MainFrame()->geometry(), QRect(1920, 0, 1920, 1080));
    EXPECT_EQ(router.TvWindow(), dialog->MainFrame());
    EXPECT_EQ(g_clrBackground, QColor(127, 127, 127));
    CMainFrame* first = dialog->MainFrame();
    // Already running: the same window comes to the front and takes the focus from the window over it.
    QWidget cover;
    cover.setGeometry(2000, 100, 400, 300);
    cover.show();
    cover.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == &cover; }));
    dialog->ShowOrStartTvOutput();
    EXPECT_EQ(dialog->MainFrame(), first);
    EXPECT_TRUE(WaitFor([&] { return QApplication::activeWindow() == first; }));
    dialog->StopTvOutput();
    EXPECT_EQ(dialog->MainFrame(), nullptr);
    EXPECT_EQ(router.TvWindow(), nullptr);
}

TEST_F(ControlWindow, PowerKeyAndTheShutdownPrompt)
{
    SystemBus bus;
    ASSERT_TRUE(bus.IsRunning());
    makeCatalogue();
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("1920 0 3840 1080"));
    WriteSetting(QString::fromLatin1(SettingKey::CecStandbyOnShutdown), QStringLiteral("1"));
    open();
    // HDMI-CEC wired as the program wires it: the TV is woken as TV output starts, its standby holds what plays,
    // its remote's keys reach the TV window, and an accepted shutdown puts it to standby.
    CCecDevices cec(CommandSink(router));
    ConnectCec(*dialog, cec);
    auto standIn = std::make_unique<StandInTv>();
    StandInTv* tv = standIn.get();
    cec.UseAdapter(std::move(standIn));
    QSignalSpy accepted(dialog.get(), &CTvCfgDlg::shutdownAccepted);
    router.PostKey(RC_Power, 0x08); // TV output off: starts it
    ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame() != nullptr; }));
    EXPECT_EQ(tv->sent, QStringList({ QStringLiteral("40:04"), QStringLiteral("4f:82:10:00") })); // woken, ours
    tv->Send("0f:36"); // the TV went to standby
    EXPECT_TRUE(dialog->MainFrame()->IsHeld());
    dialog->OnPcSleep(true); // and the PC went to sleep, and woke: the TV still sleeps
    dialog->OnPcSleep(false);
    EXPECT_TRUE(dialog->MainFrame()->IsHeld());
    // A key of the TV's remote: the TV is on, and the key moves the TV window's menu (Exit: up to Home).
    const int before = dialog->MainFrame()->Menu().ListSet().State();
    tv->Send("04:44:0d");
    EXPECT_FALSE(dialog->MainFrame()->IsHeld());
    EXPECT_TRUE(WaitFor([&] { return dialog->MainFrame()->Menu().ListSet().State() == CItemListSet::Home; }))
        << "from state " << before;
    // Nobody answered "还在看吗": TV output ends without the shutdown prompt, and the TV goes to standby.
    tv->sent.clear();
    emit dialog->MainFrame()->nobodyWatching();
    EXPECT_TRUE(WaitFor([&] { return dialog->MainFrame() == nullptr; }));
    EXPECT_EQ(dialog->ShutdownDialog(), nullptr);
    EXPECT_EQ(tv->sent, QStringList { QStringLiteral("40:36") });
    tv->sent.clear();
    router.PostKey(RC_Power, 0x08); // TV output again
    ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame() != nullptr; }));

    // Power with TV output on: the TV window goes and the prompt comes up on the TV; Digit1 shuts down.
    router.PostKey(RC_Power, 0x08);
    ASSERT_TRUE(WaitFor([&] { return dialog->ShutdownDialog() != nullptr && dialog->ShutdownDialog()->isVisible(); }));
    EXPECT_EQ(dialog->MainFrame(), nullptr);
    QPointer<CShutdownPCDlg> prompt = dialog->ShutdownDialog();
    EXPECT_EQ(prompt->font().pointSize(), 72);
    EXPECT_EQ(prompt->geometry().topLeft(), QPoint(2020, 100));
    EXPECT_EQ(prompt->size(), QSize(700, 300));
    // Esc and the close box do nothing; the title counts down.
    EXPECT_FALSE(prompt->close());

    ASSERT_TRUE(WaitFor([&] { return prompt->windowTitle() == QStringLiteral("关机提示?[30]"); }, 3000));
    EXPECT_TRUE(prompt->isVisible());
    // The countdown is in the box too, where a viewer of the TV reads it (no title bar shows there).
    const auto labels = prompt->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](const QLabel* l) {
        return l->isVisible() && l->text() == prompt->windowTitle() && prompt->rect().contains(l->geometry());
    }));
    tv->sent.clear();
    router.PostKey(RC_Digit1, 0x11);
    ASSERT_TRUE(WaitFor([&] { return bus.PowerOffCalls() == "PowerOff false\n"; }));
    EXPECT_TRUE(WaitFor([&] { return accepted.size() == 1; }));
    EXPECT_EQ(tv->sent, QStringList { QStringLiteral("40:36") }); // the TV to standby
    EXPECT_FALSE(dialog->ShutdownPromptArmed());
    EXPECT_TRUE(prompt->isVisible()); // it stays while the system goes down
    router.PostKey(RC_Digit1, 0x11); // not armed any more: nothing
    // Digit0: the prompt leaves the screen at once and the object goes a second later, while the event loop runs.
    router.PostKey(RC_Digit0, 0x10);
    ASSERT_TRUE(WaitFor([&] { return !prompt->isVisible(); }, 500));
    QElapsedTimer gone;
    gone.start();
    bool ticked = false;
    QTimer::singleShot(100, [&] { ticked = true; });
    ASSERT_TRUE(WaitFor([&] { return prompt.isNull(); }, 3000));
    EXPECT_TRUE(ticked);
    EXPECT_GE(gone.elapsed(), 700);
    EXPECT_EQ(dialog->ShutdownDialog(), nullptr);
    EXPECT_EQ(bus.PowerOffCalls(), QByteArray("PowerOff false\n"));
    EXPECT_EQ(accepted.size(), 1);
}

// A shutdown the system refuses (the user would have to authenticate, which nobody can on the TV) is not taken for
// one: the TV is not put to standby.
TEST_F(ControlWindow, ARefusedShutdownIsNoShutdown)
{
    SystemBus bus(QStringLiteral("challenge"));
    ASSERT_TRUE(bus.IsRunning());
    makeCatalogue();
    open();
    QSignalSpy accepted(dialog.get(), &CTvCfgDlg::shutdownAccepted);
    static bool s_refused = false;
    s_refused = false;
    const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        s_refused = s_refused || m.startsWith(QLatin1String("the shutdown was refused"));
    });
    const auto restore = qScopeGuard([before] { qInstallMessageHandler(before); });
    powerToPrompt();
    router.PostKey(RC_Digit1, 0x11);
    ASSERT_TRUE(WaitFor([&] { return s_refused; }));
    EXPECT_EQ(bus.PowerOffCalls(), QByteArray("PowerOff false\n"));
    EXPECT_EQ(accepted.size(), 0);
}

// The prompt's later life: Esc does nothing, Power while it shows starts TV output again, and once the countdown
// has closed it Digit1 shuts nothing down.
TEST_F(ControlWindow, ShutdownPromptAfterItsTime)
{
    SystemBus bus;
    ASSERT_TRUE(bus.IsRunning());
    makeCatalogue();
    open();
    powerToPrompt();
    QPointer<CShutdownPCDlg> prompt = dialog->ShutdownDialog();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(prompt, &esc);
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompt->isVisible());

    router.PostKey(RC_Power, 0x08);
    ASSERT_TRUE(WaitFor([&] { return dialog->MainFrame() != nullptr; }));

    router.PostKey(RC_Power, 0x08); // TV output off again, a new prompt
    ASSERT_TRUE(WaitFor([&] { return dialog->ShutdownDialog() && dialog->ShutdownDialog() != prompt; }));
    dialog->ShutdownDialog()->SetTickInterval(5);
    ASSERT_TRUE(WaitFor([&] { return dialog->ShutdownDialog() == nullptr; }));
    EXPECT_FALSE(dialog->ShutdownPromptArmed());
    router.PostKey(RC_Digit1, 0x11);
    WaitFor([] { return false; }, 500);
    EXPECT_TRUE(bus.PowerOffCalls().isEmpty());
}

TEST_F(ControlWindow, ShutdownWithoutTheRightDoesNothing)
{
    SystemBus bus(QStringLiteral("no"));
    ASSERT_TRUE(bus.IsRunning());
    makeCatalogue();
    open();
    powerToPrompt();
    router.PostKey(RC_Digit1, 0x11);
    WaitFor([] { return false; }, 500);
    EXPECT_TRUE(bus.PowerOffCalls().isEmpty());
    router.PostKey(RC_Digit0, 0x10);
    ASSERT_TRUE(WaitFor([&] { return dialog->ShutdownDialog() == nullptr; }));
}

TEST_F(ControlWindow, RemoteCodeDialogLearns)
{
    WriteSetting(QString::fromLatin1(SettingKey::CompanyID), QString::number(0x53AC));
    open();
    EXPECT_EQ(g_wCompanyID.load(), 0x53AC);
    CIRCompanySelDlg learn(&router);
    learn.show();
    EXPECT_EQ(learn.windowTitle(), QStringLiteral("遥控器设置"));
    EXPECT_EQ(learn.CodeText(), QStringLiteral("索尼/东芝"));
    EXPECT_TRUE(g_bIRLearning.load());
    g_wCompanyID = 0x1234; // as the reader stores it before handing the code over
    router.SendLearnCode(0x1234, 0x0A);
    EXPECT_EQ(learn.CodeText(), QStringLiteral("搜索中: 1234 0A"));
    learn.accept();
    EXPECT_FALSE(g_bIRLearning.load());
    EXPECT_EQ(ReadSetting(QString::fromLatin1(SettingKey::CompanyID)), QStringLiteral("0"));
}

// Fault: the catalogue replaced by garbage, or by a file with another key, between two starts of TV output.
TEST_F(ControlWindow, BrokenCatalogueBetweenTwoStarts)
{
    makeCatalogue();
    open();
    dialog->ShowOrStartTvOutput();
    ASSERT_NE(dialog->MainFrame(), nullptr);
    dialog->StopTvOutput();

    machine.writeAppFile(QStringLiteral("Data/data.mdb"), QByteArray(8192, '\x5a'));
    dialog->ShowOrStartTvOutput();
    EXPECT_EQ(dialog->MainFrame(), nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("打开数据文件失败!"));

    ASSERT_TRUE(MakeKeyedDatabase(machine.appDir(), QStringLiteral("another key"),
                                  QStringLiteral("CREATE TABLE tb_star_list (starid INTEGER);")));
    dialog->ShowOrStartTvOutput();
    EXPECT_EQ(dialog->MainFrame(), nullptr);
    EXPECT_EQ(messages.size(), 2u);

    makeCatalogue(); // mended: the next start works again
    dialog->ShowOrStartTvOutput();
    EXPECT_NE(dialog->MainFrame(), nullptr);
}

// The process's own loop: the pointer is kept off the TV from the start and is free again once "退出" has ended the
// loop, while this process (and so its X connection, which would otherwise free the barriers) lives on.
TEST(ProcessLoop, ConfinesThePointerAndExitFreesIt)
{
    TempMachine machine;
    QTemporaryDir runtime; // the software remote's socket, apart from any other test's
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), QStringLiteral("1920 0 3840 1080"));
    WriteSetting(QString::fromLatin1(SettingKey::InputDevices), QStringLiteral("0"));
    PointerPusher pointer;
    ASSERT_TRUE(pointer.isOpen());
    int during = -1;
    QTimer::singleShot(500, [&] {
        during = pointer.push({ 1900, 500 }, 100, 0).x();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<CTvCfgDlg*>(w))
                for (QAction* a : dialog->TrayMenu()->actions())
                    if (a->objectName() == QLatin1String("32781"))
                        a->trigger();
    });
    EXPECT_EQ(RunControlWindow(), 0);
    EXPECT_LT(during, 1920);
    EXPECT_GE(pointer.push({ 1900, 500 }, 100, 0).x(), 1920);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

// The start at log-in hands over to the user unit where systemctl can start it, with this session's display; where
// it cannot (no unit, no user manager), the program runs by itself.
TEST(StartAtLogIn, HandsOverToTheUserUnit)
{
    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/calls");
    const QString unit = dir.path() + QStringLiteral("/krel.service");
    WriteFile(unit, "[Service]\nExecStart=/usr/bin/krel\n");
    const auto systemctl = [&](const char* failingVerb) {
        const QString path = dir.path() + QStringLiteral("/systemctl");
        WriteFile(path,
                  QByteArray("#!/bin/sh\necho \"$*\" >>'") + QFile::encodeName(log) + "'\n[ \"$2\" != " + failingVerb
                      + " ]\n");
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
        QFile::remove(log);
        return path;
    };
    // The session's variables, as a log-in gives them (the test's own run has others too).
    std::vector<std::pair<const char*, QByteArray>> saved;
    for (const char* name :
         { "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "DBUS_SESSION_BUS_ADDRESS" }) {
        if (qEnvironmentVariableIsSet(name))
            saved.emplace_back(name, qgetenv(name));
        qunsetenv(name);
    }
    const auto restore = qScopeGuard([&] {
        for (const auto& [name, value] : saved)
            qputenv(name, value);
        qunsetenv("XDG_SESSION_ID");
    });
    qputenv("XDG_SESSION_ID", "c7");
    EXPECT_TRUE(StartThroughUserManager(systemctl("none"), unit));
    EXPECT_EQ(ReadFile(log).toStdString(),
              "--user import-environment DISPLAY XDG_SESSION_ID\n--user start krel.service\n");
    EXPECT_FALSE(StartThroughUserManager(systemctl("start"), unit));
    EXPECT_FALSE(StartThroughUserManager(systemctl("import-environment"), unit));
    EXPECT_EQ(ReadFile(log).toStdString(), "--user import-environment DISPLAY XDG_SESSION_ID\n")
        << "started without the display";
    EXPECT_FALSE(StartThroughUserManager(systemctl("none"), dir.path() + QStringLiteral("/none.service")));
    EXPECT_FALSE(QFile::exists(log)) << "systemctl run without the unit installed";
    EXPECT_FALSE(StartThroughUserManager(QString(), unit));
}

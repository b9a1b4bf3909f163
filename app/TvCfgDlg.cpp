#include "TvCfgDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QTimer>

#include "AppIcon.h"
#include "AboutDlg.h"
#include "IRCompanySelDlg.h"
#include "MouseCtl/MouseCtl.h"
#include "PhonePanel.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/Memory.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "tv/MenuSpeech.h"
#include "display/TvIdentity.h"
#include "remote/KeyRouter.h"
#include "tv/AudioRouter.h"
#include "tv/MainFrame.h"
#include "update/UpdateCheck.h"

namespace
{

// The screen a line of the display list names (by the screen's name it keeps), or null when it has gone.
QScreen* screenOfItem(const QComboBox* list, int index)
{
    const QString name = list->itemData(index, Qt::UserRole + 1).toString();
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}

} // namespace

CTvCfgDlg::CTvCfgDlg(CRemoteKeyRouter* router, CAudioRouter* audio, QWidget* parent)
    : QDialog(parent)
    , m_pRouter(router)
    , m_pAudio(audio)
    , m_pairing(m_tv)
    , m_messageBox([](QWidget* owner, const QString& text, const QString& caption) {
        QMessageBox::information(owner, caption, text, QMessageBox::Ok);
    })
{
    setWindowTitle(QStringLiteral("系统配置"));
    setWindowIcon(AppIcon());
    BuildControls();
    BuildTray();
    m_updateManager.SetNotifier([this](const QString& text) { m_messageBox(nullptr, text, QStringLiteral("提示")); });
    // The card list follows the sound server: it fills when a server appears, empties when it goes, and changes
    // when a card is plugged in or out. The handler runs on the audio thread and only posts.
    if (m_pAudio)
        m_pAudio->SetCardsChangedHandler(
            [this] { QMetaObject::invokeMethod(this, &CTvCfgDlg::OnSoundCardsChanged, Qt::QueuedConnection); });
    // The TV follows its monitor as it is switched off and on; the display list follows the screens.
    connect(&m_tv, &CTvScreen::changed, this, &CTvCfgDlg::OnTvScreenChanged);
    connect(&m_tv, &CTvScreen::screensChanged, this, &CTvCfgDlg::FillDisplayList);
}

CTvCfgDlg::~CTvCfgDlg()
{
    if (m_pAudio)
        m_pAudio->SetCardsChangedHandler(nullptr);
    delete m_pMainFrame;
    m_pMainFrame = nullptr;
    delete m_pShutdownDlg;
}

void CTvCfgDlg::BuildControls()
{
    // Laid out from the font's metrics, so that every text fits at the desktop's font and scale. The controls keep
    // their ids (object names), texts and order.
    auto* group = new QGroupBox(QStringLiteral("硬件"), this);
    auto* displayLabel = new QLabel(QStringLiteral("选择输出显示器:"), group);
    m_cbDisplay = new QComboBox(group);
    m_cbDisplay->setObjectName(QStringLiteral("1000"));
    m_pDisplaySize = new QLabel(group);
    m_pDisplaySize->setObjectName(QStringLiteral("1001"));
    // Wide enough for any screen size, so the window does not change its width with the choice.
    m_pDisplaySize->setMinimumWidth(m_pDisplaySize->fontMetrics().horizontalAdvance(QStringLiteral("00000 * 00000")));
    auto* soundLabel = new QLabel(QStringLiteral("选择输出声卡:"), group);
    m_cbSoundCard = new QComboBox(group);
    m_cbSoundCard->setObjectName(QStringLiteral("1002"));
    for (QComboBox* list : { m_cbDisplay, m_cbSoundCard }) {
        // A sound card's name is at most 31 characters.
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(20);
    }
    auto* refresh = new QPushButton(QStringLiteral("刷新硬件列表"), group);
    refresh->setObjectName(QStringLiteral("1010"));
    m_pBootRun = new QCheckBox(QStringLiteral("开机自动运行"), this);
    m_pBootRun->setObjectName(QStringLiteral("1009"));
    m_pSpeakMenus = new QCheckBox(QStringLiteral("朗读菜单"), this);
    m_pSpeakMenus->setObjectName(QStringLiteral("speakMenus"));
    auto* save = new QPushButton(QStringLiteral("保存"), this);
    save->setObjectName(QStringLiteral("1003"));
    auto* start = new QPushButton(QStringLiteral("启动电视输出"), this);
    start->setObjectName(QStringLiteral("1004"));

    auto* grid = new QGridLayout(group);
    grid->addWidget(displayLabel, 0, 0);
    grid->addWidget(m_cbDisplay, 0, 1);
    grid->addWidget(m_pDisplaySize, 0, 2);
    grid->addWidget(soundLabel, 1, 0);
    grid->addWidget(m_cbSoundCard, 1, 1);
    grid->addWidget(refresh, 2, 1, Qt::AlignLeft);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addSpacing(fontMetrics().averageCharWidth() * 4);
    buttons->addWidget(start);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(m_pBootRun);
    layout->addWidget(m_pSpeakMenus);
    // The phone remote, switched on and off, paired and unpaired in a group of its own.
    m_pPhonePanel
        = new CPhonePanel(m_pRouter,
                          { [this] { return m_pMainFrame ? m_pMainFrame->MenuSnapshot() : TvMenuSnapshot(); },
                            [this] { return m_tv.Screen(); },
                            [this](const QString& text) { m_messageBox(this, text, QStringLiteral("提示")); } },
                          this);
    connect(m_pPhonePanel, &CPhonePanel::sendToTv, this, &CTvCfgDlg::SendToTv);
    connect(m_pPhonePanel, &CPhonePanel::resumeWatched, this, &CTvCfgDlg::ResumeWatched);
    connect(m_pPhonePanel, &CPhonePanel::speakMenus, this, &CTvCfgDlg::SetSpeakMenus);
    layout->addWidget(m_pPhonePanel);
    // Why the receiver is dead when it is there but cannot be opened; hidden otherwise.
    m_pReceiverNote = new QLabel(this);
    m_pReceiverNote->setWordWrap(true);
    m_pReceiverNote->hide();
    layout->addWidget(m_pReceiverNote);
    // Whether the TV is away, or was recognised by itself; hidden otherwise.
    m_pTvNote = new QLabel(this);
    m_pTvNote->setObjectName(QStringLiteral("tvNote"));
    m_pTvNote->setWordWrap(true);
    m_pTvNote->hide();
    layout->addWidget(m_pTvNote);
    layout->addSpacing(fontMetrics().height());
    layout->addLayout(buttons);
    // The window takes the size its contents need and cannot be resized, like the fixed dialog it replaces.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (QPushButton* b : { refresh, save, start })
        b->setAutoDefault(false);

    connect(m_cbDisplay, &QComboBox::currentIndexChanged, this, &CTvCfgDlg::OnDisplayChanged);
    connect(m_cbSoundCard, &QComboBox::currentIndexChanged, this, &CTvCfgDlg::OnSoundCardChanged);
    connect(refresh, &QPushButton::clicked, this, &CTvCfgDlg::RefreshHardware);
    connect(m_pBootRun, &QCheckBox::clicked, this, &CTvCfgDlg::OnBootRunClicked);
    connect(m_pSpeakMenus, &QCheckBox::clicked, this, &CTvCfgDlg::SetSpeakMenus);
    connect(save, &QPushButton::clicked, this, &CTvCfgDlg::Save);
    connect(start, &QPushButton::clicked, this, &CTvCfgDlg::ShowOrStartTvOutput);
}

void CTvCfgDlg::BuildTray()
{
    m_pTrayMenu = new QMenu(this);
    auto add = [this](MenuId id, const char* text, void (CTvCfgDlg::*slot)()) {
        QAction* action = m_pTrayMenu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, slot);
    };
    add(ID_SHOW_MAIN, "主程序", &CTvCfgDlg::ShowRestored);
    m_pTrayMenu->addSeparator();
    add(ID_START_TV, "启动电视输出", &CTvCfgDlg::ShowOrStartTvOutput);
    add(ID_STOP_TV, "关闭电视输出", &CTvCfgDlg::StopTvOutput);
    m_pTrayMenu->addSeparator();
    QAction* limit = m_pTrayMenu->addAction(QStringLiteral("限制鼠标在桌面"));
    limit->setObjectName(QString::number(ID_MOUSE_LIMIT));
    connect(limit, &QAction::triggered, this, [this] {
        g_bMouseCtrlDisabled = 0;
        ApplyPointerFence();
    });
    QAction* free = m_pTrayMenu->addAction(QStringLiteral("取消鼠标限制"));
    free->setObjectName(QString::number(ID_MOUSE_FREE));
    connect(free, &QAction::triggered, this, [] {
        g_bMouseCtrlDisabled = 1;
        MouseLimitDisable();
    });
    m_pTrayMenu->addSeparator();
    add(ID_REMOTE_CODE, "遥控器设置", &CTvCfgDlg::OpenRemoteCodeDialog);
    m_pTrayMenu->addSeparator();
    add(ID_ABOUT, "关于", &CTvCfgDlg::OpenAboutDialog);
    add(ID_EXIT, "退出", &CTvCfgDlg::Exit);

    m_pTray = new QSystemTrayIcon(AppIcon(), this);
    m_pTray->setToolTip(QStringLiteral("电视"));
    m_pTray->setContextMenu(m_pTrayMenu);
    connect(m_pTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            ShowRestored();
    });
}

void CTvCfgDlg::OnInitDialog()
{
    // Read before anything places the pointer fence: with the fence turned off, a pointer resting on the TV stays.
    g_bMouseCtrlDisabled = ReadSettingNumber(QString::fromLatin1(SettingKey::DisableMouseCtrl));
    m_tv.LoadStored();
    // Fills both lists and places what depends on the TV.
    OnTvScreenChanged(m_tv.Screen());
    m_pShutdownDlg = nullptr;
    m_pTray->show();
    // The box shows what is in effect: whether an autostart entry exists, whatever the settings say.
    m_bBootRun = IsBootRunInEffect() ? 1 : 0;
    m_pBootRun->setChecked(m_bBootRun != 0);
    g_wCompanyID = static_cast<std::uint16_t>(ReadSettingNumber(QString::fromLatin1(SettingKey::CompanyID)));
    if (m_pRouter) {
        m_pRouter->SetControlWindow(this);
        connect(m_pRouter, &CRemoteKeyRouter::receiverProblem, this, [this](const QString& why) {
            m_pReceiverNote->setText(QStringLiteral("遥控接收器已插入，但无法打开：") + why);
            m_pReceiverNote->show();
            adjustSize();
        });
    }
    if (IsUpdateDay())
        m_updateManager.StartUpdate();
    EnablePhoneRemote(ReadSetting(QString::fromLatin1(SettingKey::PhoneRemote)).trimmed() == QLatin1String("1"));
    m_pSpeakMenus->setChecked(ReadSettingNumber(QString::fromLatin1(SettingKey::SpeakMenus)) != 0);
    ApplySpeakMenus();
    // Once the window is up, the TV menu's font is made ready, so that the first Power is as quick as later ones.
    QTimer::singleShot(0, this, [this] {
        CMainFrame::Prewarm();
        m_bTvWarm = true;
        ReturnFreeMemorySoon(); // what starting up needed only once
    });
    // Centred on the primary screen, at the size the layout gives the window (not yet applied before it is shown).
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void CTvCfgDlg::FillDisplayList()
{
    // The TV is the one shown chosen, and stays chosen while screens come and go.
    const QSignalBlocker blocker(m_cbDisplay);
    m_cbDisplay->clear();
    int selected = -1;
    for (const CTvPairing::Monitor& monitor : m_pairing.Monitors(&selected)) {
        const int n = m_cbDisplay->count();
        m_cbDisplay->insertItem(n, monitor.text, monitor.geometry);
        m_cbDisplay->setItemData(n, monitor.name, Qt::UserRole + 1);
    }
    m_cbDisplay->setCurrentIndex(selected);
    if (selected >= 0) {
        const QRect r = m_cbDisplay->itemData(selected).toRect();
        m_pDisplaySize->setText(QString::asprintf("%d * %d", r.width(), r.height()));
    }
}

void CTvCfgDlg::OnSoundCardsChanged()
{
    // Keeps the card chosen (not saved yet), or the stored one, or pairs the recognised TV's card.
    const std::vector<SoundCard> cards = m_pAudio ? m_pAudio->SoundCards() : std::vector<SoundCard>();
    const QString wanted = m_pairing.WantedSoundCard(cards, m_strCardChoice);
    const int selected = wanted.isEmpty() ? -1 : CAudioRouter::MatchSoundCard(cards, wanted);
    {
        const QSignalBlocker blocker(m_cbSoundCard);
        m_cbSoundCard->clear();
        const QStringList texts = m_pairing.SoundCardTexts(cards);
        for (int i = 0; i < static_cast<int>(cards.size()); ++i)
            m_cbSoundCard->addItem(texts[i], cards[static_cast<std::size_t>(i)].productName);
        m_cbSoundCard->setCurrentIndex(selected);
    }
    if (selected >= 0) {
        g_nSoundCard = selected;
        m_pAudio->SetSoundCard(selected);
    } else if (m_pAudio && !wanted.isEmpty()) {
        // The card is not there now (no server yet, or the TV is off): it is routed to once it appears.
        m_pAudio->SetSoundCardName(wanted);
    }
    ShowTvNote();
}

void CTvCfgDlg::RefreshHardware()
{
    // Both lists are read again; what is chosen stays chosen.
    FillDisplayList();
    OnSoundCardsChanged();
}

void CTvCfgDlg::OnTvScreenChanged(QScreen* tv)
{
    if (tv)
        g_rcTvScreen = ScreenRect::fromQRect(tv->geometry());
    if (m_pMainFrame)
        m_pMainFrame->SetTvScreen(tv);
    ApplyPointerFence();
    // The TV's name goes on its card once the TV is known.
    FillDisplayList();
    OnSoundCardsChanged();
}

void CTvCfgDlg::ShowTvNote()
{
    const QString note = m_pairing.Note(m_pMainFrame != nullptr);
    m_pTray->setToolTip(m_tv.Screen() ? QStringLiteral("电视") : QStringLiteral("电视未连接"));
    if (note == m_pTvNote->text() && m_pTvNote->isVisible() == !note.isEmpty())
        return;
    m_pTvNote->setText(note);
    m_pTvNote->setVisible(!note.isEmpty());
    adjustSize();
}

void CTvCfgDlg::ApplyPointerFence()
{
    QScreen* tv = m_tv.Screen();
    if (g_bMouseCtrlDisabled != 0 || !tv || !m_tv.IsKnown()) {
        MouseLimitDisable();
        return;
    }
    // The X server's pixels: a scaled desktop keeps a screen's corner and divides its size.
    const QRect g = tv->geometry();
    const QSize size = (QSizeF(g.size()) * tv->devicePixelRatio()).toSize();
    MouseLimitEnableTv(tv->name().toUtf8().constData(), g.x(), g.y(), g.x() + size.width(), g.y() + size.height());
}

void CTvCfgDlg::OnDisplayChanged(int index)
{
    if (index < 0)
        return;
    const QRect r = m_cbDisplay->itemData(index).toRect();
    m_pDisplaySize->setText(QString::asprintf("%d * %d", r.width(), r.height()));
    g_rcTvScreen = ScreenRect::fromQRect(r);
    // Takes effect at once, without saving: the TV is that monitor from now on, wherever it goes.
    if (QScreen* screen = screenOfItem(m_cbDisplay, index))
        m_tv.SetWanted(m_tv.Identity(screen), r);
}

void CTvCfgDlg::OnSoundCardChanged(int index)
{
    if (index < 0)
        return;
    // Takes effect for the next stream, without saving.
    m_strCardChoice = m_cbSoundCard->itemData(index).toString();
    g_nSoundCard = index;
    if (m_pAudio)
        m_pAudio->SetSoundCard(index);
}

void CTvCfgDlg::Save()
{
    WriteSetting(QString::fromLatin1(SettingKey::BootRun), QString::number(m_bBootRun));
    const int display = m_cbDisplay->currentIndex();
    if (display < 0) {
        m_messageBox(this, QStringLiteral("请选择用于输入的显示器"), QString());
        return;
    }
    const QRect r = m_cbDisplay->itemData(display).toRect();
    g_rcTvScreen = ScreenRect::fromQRect(r);
    const int card = m_cbSoundCard->currentIndex();
    if (card < 0) {
        m_messageBox(this, QStringLiteral("请选择用于输出的声卡"), QString());
        return;
    }
    g_nSoundCard = card;
    WriteSetting(QString::fromLatin1(SettingKey::DisplayCard), ScreenRect::fromQRect(r).toText());
    if (QScreen* screen = screenOfItem(m_cbDisplay, display))
        WriteSetting(QString::fromLatin1(SettingKey::DisplayName), m_tv.Identity(screen).ToText());
    // The name is asked from the audio system again, by index.
    const QStringList names = m_pAudio ? m_pAudio->ProductNames(0) : QStringList();
    const QString name = card < names.size() ? names[card] : m_cbSoundCard->itemData(card).toString();
    WriteSetting(QString::fromLatin1(SettingKey::SoundCard), name.trimmed());
    m_strCardChoice.clear();
    ShowTvNote();
}

void CTvCfgDlg::OnBootRunClicked(bool checked)
{
    const bool ok = SetBootRun(checked ? 1 : 0);
    // Only what took effect is shown and stored; a failure is told rather than stored as success.
    m_bBootRun = IsBootRunInEffect() ? 1 : 0;
    {
        const QSignalBlocker blocker(m_pBootRun);
        m_pBootRun->setChecked(m_bBootRun != 0);
    }
    WriteSetting(QString::fromLatin1(SettingKey::BootRun), QString::number(m_bBootRun));
    if (!ok)
        m_messageBox(this, checked ? QStringLiteral("无法设置开机自动运行!") : QStringLiteral("无法取消开机自动运行!"),
                     QStringLiteral("提示"));
}

void CTvCfgDlg::SetSpeakMenus(bool on)
{
    WriteSetting(QString::fromLatin1(SettingKey::SpeakMenus), on ? QStringLiteral("1") : QStringLiteral("0"));
    {
        const QSignalBlocker blocker(m_pSpeakMenus);
        m_pSpeakMenus->setChecked(on);
    }
    ApplySpeakMenus();
    Speak(on ? QStringLiteral("朗读菜单已开启") : QString(), true);
    m_pPhonePanel->MenuChanged(); // the phones' switch follows
}

bool CTvCfgDlg::HasTray()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CTvCfgDlg::HideWindow()
{
    // Without a tray host the tray icon cannot bring a hidden window back (nor offer "退出"): the window is only
    // minimised then, so it stays on the task bar.
    if (HasTray())
        hide();
    else
        showMinimized();
}

void CTvCfgDlg::keyPressEvent(QKeyEvent* e)
{
    // Enter, like Esc and the close box, puts the window away; no button is the default.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        HideWindow();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CTvCfgDlg::EnablePhoneRemote(bool on)
{
    m_pPhonePanel->Enable(on);
}

void CTvCfgDlg::PairPhone()
{
    m_pPhonePanel->Pair();
}

void CTvCfgDlg::ResumeWatched(int row)
{
    if (!m_pMainFrame)
        m_pMainFrame = StartTvOutput();
    if (m_pMainFrame)
        m_pMainFrame->ResumeWatched(row);
}

void CTvCfgDlg::SendToTv(const QUrl& address)
{
    // As choosing an episode does, TV output first when it is not running.
    if (!m_pMainFrame)
        m_pMainFrame = StartTvOutput();
    if (m_pMainFrame)
        m_pMainFrame->PlaySentPage(address.toString(QUrl::FullyEncoded));
}

void CTvCfgDlg::OpenRemoteCodeDialog()
{
    CIRCompanySelDlg dialog(m_pRouter, QApplication::activeWindow());
    dialog.exec();
}

void CTvCfgDlg::OpenAboutDialog()
{
    CAboutDlg dialog(QApplication::activeWindow());
    dialog.exec();
}

void CTvCfgDlg::ShowRestored()
{
    showNormal();
    raise();
    activateWindow();
}

void CTvCfgDlg::Exit()
{
    StopTvOutput();
    m_pTray->hide();
    hide();
    QCoreApplication::exit(0);
}

bool CTvCfgDlg::event(QEvent* e)
{
    switch (static_cast<int>(e->type())) {
    case WM_REMOTE_POWER:
        OnRemotePower();
        return true;
    case WM_REMOTE_COMMAND:
        OnRemoteCommand(static_cast<int>(static_cast<CAppEvent*>(e)->wParam()));
        return true;
    default:
        return QDialog::event(e);
    }
}

void CTvCfgDlg::closeEvent(QCloseEvent* e)
{
    // The close box hides the dialog; the program lives on in the tray.
    e->ignore();
    HideWindow();
}

CPhoneRemote* CTvCfgDlg::PhoneRemote() const
{
    return m_pPhonePanel->PhoneRemote();
}

#include "MainFrame.h"

#include <algorithm>
#include <utility>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "AudioRouter.h"
#include "tv/film/LocalPlayer.h"
#include "MediaPlugins.h"
#include "ResumePositions.h"
#include "tv/web/WebVideoView.h"
#include "common/Log.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/Memory.h"
#include "common/RemoteCommand.h"
#include "display/FullScreenX11.h"
#include "display/ScreenSaver.h"
#include "remote/KeyRouter.h"

#include <unistd.h>

CMainFrame::CMainFrame(CRemoteKeyRouter* router)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    , m_font(CScreenMenu::MenuFont())
{
    setWindowTitle(QString::fromLatin1(kTitle));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The remotes drive it, never the keyboard: opening, it takes no keyboard focus from the person at the PC (under
    // a window manager, its user time of 0 says so). "启动电视输出" pressed again still brings it to the front.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    if (router)
        router->SetTvWindow(this);
    m_menu.SetTitle(QStringLiteral("用遥控器数字键0-9进行选择:"));
    m_menu.SetWindow(this);
    ArmStillWatching();

    if (g_rcTvScreen.isEmpty()) {
        const QScreen* primary = QGuiApplication::primaryScreen();
        if (primary)
            g_rcTvScreen = ScreenRect::fromQRect(primary->geometry());
    }
    const QRect rect = g_rcTvScreen.toQRect();
    m_rcTv = rect;
    // Put the native window on the screen that holds the rectangle before it is shown, so that it opens there.
    create();
    // While the TV is away nothing may show the window, however it is asked to (Qt moving the windows of a removed
    // screen to the primary one): it would land on the PC monitor.
    connect(windowHandle(), &QWindow::visibleChanged, this, [this](bool visible) {
        if (visible && m_bAway)
            QTimer::singleShot(0, this, [this] {
                if (m_bAway)
                    QWidget::setVisible(false);
            });
    });
    if (QScreen* screen = QGuiApplication::screenAt(rect.center()))
        windowHandle()->setScreen(screen);
    setGeometry(rect);

    // The web view (and with it the web engine and its processes) is made when the first video is chosen: the
    // menu alone needs none of it.

    // The screen stays on while something plays, and only then; everything that may start or end playback says
    // so with menuChanged.
    m_pScreenKeeper = new CScreenSaverKeeper(this);
    connect(this, &CMainFrame::menuChanged, this, &CMainFrame::UpdateScreenHold);
    // And the desktop's media controls see it.
    m_pMediaControls = new CMediaControls(this, this);
    connect(this, &CMainFrame::menuChanged, m_pMediaControls, &CMediaControls::Changed);

    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && m_pView)
            QCoreApplication::postEvent(this, new CAppEvent(WM_SHOW_VIDEO, 0, 0));
    });
}

void CMainFrame::Prewarm()
{
    QImage scratch(64, 64, QImage::Format_RGB32);
    QPainter painter(&scratch);
    painter.setFont(CScreenMenu::MenuFont());
    painter.drawText(0, 60, QStringLiteral("用遥控器数字键0-9进行选择:0123456789第页共<用CH键前后翻页>"));
}

void CMainFrame::LeaveBrokenVideo(const QString& line)
{
    UpdateScreenHold();
    if (!m_menu.ListSet().IsPlaying())
        return;
    m_menu.OnCommand(RC_LeaveVideo);
    RepaintAfterTheView();
    ShowNotice(line);
    emit menuChanged();
}

IWebVideoView* CMainFrame::EnsureView()
{
    if (!m_pView) {
        m_pView = CreateWebVideoView(this);
        if (!m_pView)
            return nullptr;
        m_pView->Widget()->setGeometry(rect());
        m_pView->Widget()->hide();
        // The engine went away under a video (a crashed or hung browser), or the page's renderer died twice under
        // it: back to the address list, with a line on the TV; the next choice starts them again.
        m_pView->SetGoneHandler([this] { LeaveBrokenVideo(QStringLiteral("浏览器意外退出，请重新选择视频")); });
        m_pView->SetCrashHandler([this] { LeaveBrokenVideo(QStringLiteral("网页意外退出，请重新选择视频")); });
        m_pView->SetEndedHandler([this] { OnVideoEnded(); });
    }
    return m_pView;
}

void CMainFrame::SetTvScreen(QScreen* screen)
{
    if (!screen) {
        if (!m_bAway)
            Speak(QStringLiteral("电视已断开"), true);
        if (!m_bAway && FilmPlays() && !m_pPlayer->IsPaused()) {
            m_pPlayer->SetPaused(true);
            m_bFilmHeld = true;
        }
        m_bAway = true;
        QWidget::setVisible(false);
        UpdateScreenHold();
        return;
    }
    const QRect rect = screen->geometry();
    m_rcTv = rect;
    if (m_bAway)
        Speak(QStringLiteral("电视已连接"), true);
    // Out of the full-screen state while the window moves, so that the new place and size are taken.
    if (windowState() & Qt::WindowFullScreen)
        setWindowState(windowState() & ~Qt::WindowFullScreen);
    windowHandle()->setScreen(screen);
    setGeometry(rect);
    m_bAway = false;
    show();
    if (m_bFilmHeld && m_pPlayer)
        m_pPlayer->SetPaused(false);
    m_bFilmHeld = false;
    update();
    UpdateScreenHold();
}

void CMainFrame::SetHeld(HoldReason reason, bool held)
{
    const int before = m_nHolds;
    m_nHolds = held ? m_nHolds | reason : m_nHolds & ~reason;
    if ((before != 0) == (m_nHolds != 0))
        return;
    if (m_nHolds) {
        m_bPausedByHold = PlaybackStatus() == Status::Playing;
        if (m_bPausedByHold)
            SetPaused(true);
    } else {
        if (m_bPausedByHold && PlaybackStatus() == Status::Paused)
            SetPaused(false);
        m_bPausedByHold = false;
    }
    UpdateScreenHold();
}

bool CMainFrame::FilmPlays() const
{
    return m_pPlayer && m_pPlayer->IsPlaying();
}

bool CMainFrame::VideoShown() const
{
    return m_pView && !m_pView->Widget()->isHidden();
}

void CMainFrame::UpdateScreenHold()
{
    const bool film = FilmPlays() && !m_pPlayer->IsPaused();
    const bool video = VideoShown() && !m_pView->IsPaused();
    const bool playing = !m_bAway && (film || video);
    m_pScreenKeeper->SetPlaying(playing);
    if (std::exchange(m_bPlayed, playing) && !playing)
        RepaintAfterTheView();
}

void CMainFrame::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    // The players cover the window whatever its size; the notice keeps to its bottom.
    if (m_pView)
        m_pView->Widget()->setGeometry(rect());
    if (m_pPlayer)
        m_pPlayer->Widget()->setGeometry(rect());
    for (QLabel* band : { m_pNotice, m_pCountdown, m_pQuestion })
        if (band)
            band->setGeometry(0, height() - height() / 8, width(), height() / 8);
}

void CMainFrame::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    // A window manager placed the window on a monitor of its choice (the pointer's, or before it had heard of it).
    KeepOnTheTv();
}

void CMainFrame::KeepOnTheTv()
{
    // A few times per showing at most: a manager that does not do it is not asked for ever.
    if (m_nPlacingAsks <= 0 || !isVisible() || m_bAway || m_rcTv.isEmpty())
        return;
    if (geometry() == m_rcTv && m_nPlacingAsks < kPlacingAsks)
        return; // on the TV after an ask
    if (!KeepFullScreenOnMonitor(windowHandle(), m_rcTv)) {
        m_nPlacingAsks = 0; // no window manager to ask: the window's own geometry holds
        return;
    }
    --m_nPlacingAsks;
    // A manager that has not yet heard of a TV just switched on leaves the window where it put it, and may not move
    // it again: look once more, later each time (0.25 s, 0.5 s ... then every 4 s), while asks are left. A busy
    // manager may take long to hear of the TV: kwin, with a web video starting beside it, was seen to hear of it only
    // after five asks over eight seconds had run out, and kept the video on the PC monitor.
    const int asked = kPlacingAsks - m_nPlacingAsks;
    QTimer::singleShot(250 << std::min(asked - 1, 4), this, [this] {
        if (geometry() != m_rcTv)
            KeepOnTheTv();
    });
}

void CMainFrame::setVisible(bool visible)
{
    // While the TV is away nothing shows the window: it would land on another monitor.
    if (visible && m_bAway)
        return;
    if (visible) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
        if (!isVisible())
            m_nPlacingAsks = kPlacingAsks;
    }
    QWidget::setVisible(visible);
}

CMainFrame::~CMainFrame()
{
    m_bClosing = true;
    RememberFilmPosition();
    delete m_pPlayer;
    m_pPlayer = nullptr;
    delete m_pView;
    m_pView = nullptr;
}

bool CMainFrame::event(QEvent* e)
{
    switch (static_cast<int>(e->type())) {
    case WM_REMOTE_COMMAND: {
        // A key from any remote means someone is at the box.
        m_pScreenKeeper->UserActivity();
        const int command = static_cast<int>(static_cast<CAppEvent*>(e)->wParam());
        SpeakBefore(command);
        OnRemoteCommand(command);
        SpeakAfter(command);
        // An address list is one key before a video: the web engine starts now, while the list is read, rather than
        // after the choice. (The other menus stay without it.)
        if (m_menu.ListSet().State() == CItemListSet::AddressList && !m_pView && !WebEngineRefusesToRun()
            && EnsureView())
            m_pView->Prepare();
        break;
    }
    case WM_PLAY_URL:
        OnPlayUrl(static_cast<CPlayUrlEvent*>(e)->url());
        break;
    case WM_SHOW_VIDEO:
        OnShowVideo();
        break;
    case WM_PLAY_FILE:
        OnPlayFile(static_cast<CPlayFileEvent*>(e)->path());
        break;
    default:
        return QWidget::event(e);
    }
    emit menuChanged();
    return true;
}

TvMenuSnapshot CMainFrame::MenuSnapshot() const
{
    TvMenuSnapshot snapshot = m_menu.Snapshot();
    if (FilmPlays())
        snapshot.mode = TvMenuSnapshot::Film;
    else if (m_pView && m_pView->Widget()->isVisible())
        snapshot.mode = TvMenuSnapshot::Video;
    return snapshot;
}

void CMainFrame::OnRemoteCommand(int command)
{
    if (AnswerStillWatching())
        return; // the key said someone is there, and that is all it says
    if (command == RC_Back || command == RC_LeaveVideo || command == RC_LeaveVideo2)
        CancelCountdown(); // the next episode is not wanted
    if (FilmPlays() && OnFilmCommand(command))
        return;
    switch (command) {
    case RC_LeaveVideo:
    case RC_Back:
    case RC_LeaveVideo2:
        StopVideo();
        m_menu.OnCommand(command);
        update();
        break;
    case RC_NextPage:
    case RC_PreviousPage:
        m_menu.OnCommand(command);
        update();
        break;
    case RC_VolumeUp:
        StepVolume(true);
        break;
    case RC_VolumeDown:
        StepVolume(false);
        break;
    case RC_PlayPause:
        if (VideoShown()) {
            m_bSayPause = true; // once the page's player answered
            TogglePause();
        }
        break;
    case RC_Ok:
    case RC_Left:
    case RC_Right:
        // Over a web video: OK pauses and goes on, Left and Right seek 10 s. Else the menu's.
        if (VideoShown()) {
            if (command == RC_Ok) {
                m_bSayPause = true;
                TogglePause();
            } else {
                m_pView->Seek(command == RC_Left ? -10 : 10, true);
                // (By its step: a page does not report where its player is.)
                Speak(command == RC_Left ? QStringLiteral("后退 10 秒") : QStringLiteral("前进 10 秒"));
            }
            break;
        }
        m_menu.OnCommand(command);
        update();
        break;
    case RC_Up:
    case RC_Down:
        m_menu.OnCommand(command);
        update();
        break;
    default:
        if (IsDigitCommand(command)) {
            m_menu.OnCommand(command);
            update();
        }
        break;
    }
}

void CMainFrame::ShowBand(QLabel*& band, const QString& text)
{
    if (!band)
        band = MakeBand();
    band->setText(text);
    band->setGeometry(0, height() - height() / 8, width(), height() / 8);
    band->show();
    band->raise();
}

QLabel* CMainFrame::MakeBand()
{
    auto* band = new QLabel(this);
    // A window of its own, so that it stacks above the web view's (another program's window under Chromium).
    band->setAttribute(Qt::WA_NativeWindow);
    band->setAlignment(Qt::AlignCenter);
    band->setStyleSheet(QStringLiteral("background: black; color: white;"));
    QFont font = m_font;
    font.setPixelSize(std::max(24, height() / 20));
    band->setFont(font);
    band->hide();
    return band;
}

void CMainFrame::ShowNotice(const QString& text)
{
    Speak(text);
    ShowBand(m_pNotice, text);
    QTimer::singleShot(5000, m_pNotice, &QWidget::hide);
}

void CMainFrame::StopVideo()
{
    CancelCountdown();
    if (!m_pView)
        return;
    const bool shown = !m_pView->Widget()->isHidden();
    // (Navigate shows the view: it is hidden again.)
    const auto blank = [this] {
        m_pView->Navigate(QStringLiteral("about:blank"), 0, 0);
        m_pView->Widget()->hide();
        RepaintAfterTheView();
        ReturnFreeMemorySoon();
    };
    if (!shown || m_strAddress.isEmpty()) {
        blank();
        return;
    }
    // Where the episode was left is kept before its page goes (unless another video was chosen meanwhile).
    const int navigation = m_nNavigations;
    m_pView->Leave([this, navigation, blank, address = m_strAddress](double position, double duration) {
        // (An engine that goes with the window may answer from its destructor: nothing is done then.)
        if (m_bClosing)
            return;
        if (position > 0) {
            LeftAt(address, position, duration);
            update();
        }
        if (navigation == m_nNavigations)
            blank();
    });
    // Hidden after the player was paused, so that being shown for the empty page starts nothing again.
    m_pView->Widget()->hide();
    RepaintAfterTheView();
}

void CMainFrame::RepaintAfterTheView()
{
    // The whole menu again, now and twice more soon after the view's window went: a compositing window manager lets
    // a full-screen window that plays video draw to the screen directly (mutter does), and as it takes the window
    // back into its own picture it may keep the video's last frame until the window draws once more.
    for (int ms : { 0, 300, 1000 })
        QTimer::singleShot(ms, this, [this] {
            if (!VideoShown())
                repaint();
        });
}

bool WebEngineRefusesToRun()
{
    // Run as root, the web engine ends the whole process (and Chromium refuses to start) unless its sandbox was
    // switched off on purpose.
    const bool sandboxOff = ChosenWebEngine() == WebEngineKind::Chromium
        ? qEnvironmentVariable("KREL_CHROMIUM_FLAGS").contains(QLatin1String("--no-sandbox"))
        : qEnvironmentVariable("QTWEBENGINE_DISABLE_SANDBOX") == QLatin1String("1")
            || qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(QLatin1String("--no-sandbox"));
    return ::geteuid() == 0 && !sandboxOff;
}

void CMainFrame::OnPlayUrl(const QString& url)
{
    CancelCountdown();
    if (MayOpenWebAddress(url) && WebEngineRefusesToRun()) {
        static bool told = false;
        if (!told)
            qCWarning(lcTv, "web video is not played while krel runs as root (the web engine refuses to)");
        told = true;
        ShowNotice(QStringLiteral("以 root 身份运行时不能播放网络视频"));
        m_menu.OnCommand(RC_LeaveVideo);
        update();
        return;
    }
    if (!MayOpenWebAddress(url) || !EnsureView()) {
        // An address the view does not open (or no view): the address list stays on the screen.
        m_menu.OnCommand(RC_LeaveVideo);
        update();
        return;
    }
    m_strAddress = url;
    ++m_nNavigations;
    const double start = Resume().StartFor(url);
    m_pView->Navigate(url, g_nScrollY, start);
    m_pView->Widget()->show();
    const QString name = m_menu.ListSet().PlayingName();
    Speak(QStringLiteral("播放 ") + (name.isEmpty() ? QStringLiteral("网页") : Spoken::Name(name)));
    if (start > 0)
        ShowNotice(QStringLiteral("从 %1 继续播放").arg(CResumePositions::FormatTime(start)));
    m_pView->Widget()->update();
}

void CMainFrame::ResumeWatched(int row)
{
    if (FilmPlays()) {
        RememberFilmPosition();
        m_pPlayer->Stop();
    }
    StopVideo();
    m_menu.ResumeWatched(row);
    update();
    emit menuChanged();
}

void CMainFrame::PlaySentPage(const QString& url)
{
    if (FilmPlays())
        m_pPlayer->Stop();
    m_menu.PlaySent();
    update();
    QCoreApplication::postEvent(this, new CPlayUrlEvent(url));
    emit menuChanged();
}

void CMainFrame::OnShowVideo()
{
    if (!m_pView || !m_menu.ListSet().IsPlaying())
        return;
    m_pView->Widget()->raise();
    m_pView->Widget()->show();
    m_pView->Widget()->update();
}

void CMainFrame::paintEvent(QPaintEvent*)
{
    // Painted, the window is mapped: a window manager manages it and can be asked to keep it on the TV.
    KeepOnTheTv();
    QPainter painter(this);
    painter.fillRect(rect(), g_clrBackground.isValid() ? g_clrBackground : QColor(127, 127, 127));
    painter.setFont(m_font);
    m_menu.Draw(painter, rect());
}

void CMainFrame::closeEvent(QCloseEvent* e)
{
    // Neither the window manager's close nor Alt+F4 ends TV output; the control window does.
    e->ignore();
}

void CMainFrame::keyPressEvent(QKeyEvent* e)
{
    e->accept();
}

void CMainFrame::keyReleaseEvent(QKeyEvent* e)
{
    e->accept();
}

void CMainFrame::wheelEvent(QWheelEvent* e)
{
    e->accept();
}

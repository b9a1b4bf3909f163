#pragma once

#include <memory>

#include <QWidget>

class QLabel;
class QScreen;

#include "MediaControls.h"
#include "MenuSpeech.h"
#include "ScreenMenu.h"

class CResumePositions;
class CScreenSaverKeeper;
class ILocalPlayer;
class IWebVideoView;
class CRemoteKeyRouter;

// The borderless full-screen window on the television: draws the menu, takes remote commands, and hosts the web
// view that covers it while a video plays. Keyboard, mouse wheel and close requests do nothing: only the remote
// drives it, and only the control window closes it.
class CMainFrame : public QWidget, public IMediaSession
{
    Q_OBJECT
public:
    // Created on g_rcTvScreen (the primary screen when that is empty); registers itself with the router.
    explicit CMainFrame(CRemoteKeyRouter* router = nullptr);
    ~CMainFrame() override;

    CScreenMenu& Menu() { return m_menu; }
    // The web view: null until the first video (EnsureView loads and makes it), then kept for the next ones; null
    // also when its library cannot be loaded.
    IWebVideoView* View() const { return m_pView; }
    IWebVideoView* EnsureView();
    // The local film player, loaded and made when the first film is chosen (null before).
    ILocalPlayer* Player() const { return m_pPlayer; }

    static constexpr char kTitle[] = "MIRA";

    // Loads the menu's font and draws the menu's own texts once off screen, so that the first TV window of the
    // process does not wait for the font files and glyphs (they stay cached); costs well under a megabyte.
    static void Prewarm();

    // Puts the window full screen on the TV's screen, following a new geometry; null: the TV is away, and the
    // window leaves the screens (it never lands on another monitor) with what plays held until the TV is back.
    // The web page's media pause by themselves while the window is hidden.
    void SetTvScreen(QScreen* screen);
    // Plays a page sent from elsewhere (a phone) exactly as a chosen episode: the menu is in its playing state, so
    // Back, LeaveVideo and the window's activation treat it as they treat an episode. A film that plays stops.
    void PlaySentPage(const QString& url);
    // Row of "继续观看" chosen from elsewhere (a phone): what plays stops, and the row plays as its digit there would.
    void ResumeWatched(int row);
    // What the TV shows now (for a phone remote); menuChanged says when it may have changed.
    TvMenuSnapshot MenuSnapshot() const;
    bool IsTvAway() const { return m_bAway; }
    // Why what plays is held with the window still on the TV: the TV in standby (its screen still connected), the
    // PC about to sleep. What plays pauses while any reason holds and goes on when none is left, unless the remote
    // paused it meanwhile.
    enum HoldReason { TvStandby = 1, PcSleep = 2 };
    void SetHeld(HoldReason reason, bool held);
    bool IsHeld() const { return m_nHolds != 0; }

    // Shown full screen on the TV's screen (the X11 full-screen state, xdg_toplevel.set_fullscreen on that output
    // under Wayland): a window manager's panel never covers it, and under Wayland, where a window cannot place
    // itself, it still lands on the TV.
    void setVisible(bool visible) override;

    // What plays, for the desktop's media controls.
    Status PlaybackStatus() const override;
    QString Title() const override;
    qint64 LengthUs() const override;
    qint64 PositionUs() const override;
    bool CanSeek() const override { return PlaybackStatus() != Status::Stopped; }
    void SetPaused(bool paused) override;
    void StopPlayback() override;
    void SeekByUs(qint64 offset) override;
    void SeekToUs(qint64 position) override;
    double Volume() const override;
    void SetVolume(double volume) override;

signals:
    void menuChanged();
    // A web page answered the play/pause key: the paused state is what its player reported.
    void pauseAnswered();
    // Nobody answered "还在看吗": TV output is to end.
    void nobodyWatching();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

private:
    void OnRemoteCommand(int command);
    void OnPlayUrl(const QString& url);
    void OnShowVideo();
    void OnPlayFile(const QString& path);
    // Remote keys while a local film plays; false when the key is not the film's.
    bool OnFilmCommand(int command);
    // Seeks the film by seconds and says where it lands.
    void SeekFilm(int seconds);
    void StopVideo();
    void TogglePause();
    void RepaintAfterTheView();
    // A film plays (or is paused); the web view shows a page (or would, were the TV there).
    bool FilmPlays() const;
    bool VideoShown() const;
    // Holds the screen saver off while a film or a web video plays on the TV.
    void UpdateScreenHold();
    // Keeps where the film that plays now is, for the next time it is chosen.
    void RememberFilmPosition();
    // A film or an episode left at position of duration: where to start it again, and "继续观看"; or seen to its end.
    void LeftAt(const QString& key, double position, double duration);
    void Finished(const QString& key);
    CResumePositions& Resume();
    // The web view gave up on the video that plays: back to the address list with the line.
    void LeaveBrokenVideo(const QString& line);
    // Under a window manager: asks it to keep the window full screen on the TV while it is elsewhere.
    void KeepOnTheTv();
    // A line of text over the bottom of the TV for a few seconds.
    void ShowNotice(const QString& text);
    // A band over the bottom of the TV for a line of text (a window of its own, above the web view's), made when
    // first shown.
    void ShowBand(QLabel*& band, const QString& text);
    QLabel* MakeBand();
    // The next episode (MainFrameNext.cpp): an episode's player or a film played to its end; the countdown to the
    // next one, which Back and LeaveVideo call off.
    void OnVideoEnded();
    void OnFilmEnded();
    void StartCountdown(const QString& name, std::function<void()> then);
    void OnCountdownTick();
    void CancelCountdown();
    // "还在看吗" (MainFrameIdle.cpp): the wait for a key starts again; the wait ended; a key came, which only
    // answers the question when it is asked (true then).
    void ArmStillWatching();
    void OnStillWatchingTimeout();
    bool AnswerStillWatching();
    // Spoken menus (MainFrameSpeech.cpp): a key cuts off what is said and is looked at before and after it acts.
    void SpeakBefore(int command);
    void SpeakAfter(int command);

    QFont m_font;
    IWebVideoView* m_pView = nullptr;
    ILocalPlayer* m_pPlayer = nullptr;
    CScreenMenu m_menu;
    QLabel* m_pNotice = nullptr;
    QLabel* m_pCountdown = nullptr;
    QLabel* m_pQuestion = nullptr; // "还在看吗"
    QTimer* m_pStillWatching = nullptr;
    bool m_bAskedStillWatching = false;
    QTimer* m_pCountdownTimer = nullptr;
    int m_nCountdown = 0; // seconds left before the next episode or film
    QString m_strNext; // its name
    std::function<void()> m_next; // and what plays it
    CScreenSaverKeeper* m_pScreenKeeper = nullptr;
    std::unique_ptr<CResumePositions> m_pResume;
    QString m_strFilm; // the film chosen last
    bool m_bFilmRetried = false; // the film chosen last failed once and was started again where it was
    QString m_strAddress; // the web page opened last
    int m_nNavigations = 0; // counts the pages opened
    bool m_bClosing = false;
    CMediaControls* m_pMediaControls = nullptr;
    bool m_bAway = false; // the TV is away: hidden, film held
    QRect m_rcTv; // the TV's monitor, where the window belongs
    int m_nPlacingAsks = 0; // how often the window manager may still be asked to put the window back on the TV
    static constexpr int kPlacingAsks = 12; // per showing: over about 35 s
    bool m_bFilmHeld = false; // the film was held because the TV went away
    int m_nHolds = 0; // HoldReason bits
    bool m_bPausedByHold = false; // what played was paused by a hold
    bool m_bPlayed = false; // something played on the TV when last looked
    CMenuNarrator m_narrator;
    bool m_bKeyOverPlayback = false; // the key being spoken for came while a film or a web video was shown
    bool m_bKeyAnswered = false; // it only answered "还在看吗"
    bool m_bSayPause = false; // the page's answer to the play/pause key is to be said
};

// Whether the web engine would end the process if it started now (root, with its sandbox on).
bool WebEngineRefusesToRun();

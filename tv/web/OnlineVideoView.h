#pragma once

#include <QTimer>
#include <QWebEngineView>

#include "WebVideoView.h"

// The web view of the TV window: opens an online video page without any dialog, finds the page's video player
// whenever it appears (a script in every frame watches the page for a while after each load) and stretches the
// largest one over the whole television, scrolls the page to the video's offset, and starts the player when it
// stays paused. It lives in its own library (libkrel_web.so), which depends on Qt alone: the program loads it when
// the first video is chosen.
class COnlineVideoView : public QWebEngineView, public IWebVideoView
{
    Q_OBJECT
public:
    explicit COnlineVideoView(QWidget* parent);

    QWidget* Widget() override { return this; }
    void Navigate(const QString& address, int scrollY, double startAt) override;
    void Leave(std::function<void(double position, double duration)> done) override;
    void Prepare() override;
    // (The top frame's player: Qt WebEngine runs the view's scripts in the top frame only.)
    void TogglePause(std::function<void()> answered) override;
    bool IsPaused() const override { return m_bPaused; }
    void Seek(double seconds, bool relative) override;
    void SetCrashHandler(std::function<void()> handler) override { m_crashed = std::move(handler); }
    void SetEndedHandler(std::function<void()> handler) override { m_ended = std::move(handler); }

    // The script world of the page script (the page's own scripts cannot reach it); tests query the script there.
    static constexpr quint32 kScriptWorld = 1;

signals:
    // Each time a player has been stretched over the television: its movie address.
    void playersEnlarged(const QStringList& addresses);

protected:
    void contextMenuEvent(QContextMenuEvent*) override { }
    // Wheel and key input never reaches the page: nobody at the TV scrolls or types, and a key meant for the
    // menu must not drive the page's player.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void InstallPageScript(int scrollY, double startAt);
    void StartWatching();
    void Poll();
    void ClickAt(const QPoint& point);

    QTimer m_poll; // asks the page script for news while the page is watched
    int m_nPolls = 0;
    int m_nSerial = 0; // the page script's stretch count last seen
    bool m_bPaused = false;
    int m_nPages = 0; // pages opened: an answer about an earlier one is not this one's
    // The page opened last, and how often its renderer died since.
    QString m_strAddress;
    int m_nScrollY = 0;
    double m_dStartAt = 0;
    int m_nCrashes = 0;
    std::function<void()> m_crashed;
    std::function<void()> m_ended;
    QTimer m_endWatch; // asks the shown page whether its player ended, until it has
};

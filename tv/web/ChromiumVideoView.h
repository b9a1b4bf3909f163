#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "WebVideoView.h"

class CChromiumPage;
class CChromiumProcess;

// The web view of the TV window on Debian's Chromium, a child process of ours driven over its DevTools pipe: the
// browser starts with the first video (or when an address list is shown), its X11 window is embedded in this
// widget, and the page script finds and stretches the page's player as in the Qt WebEngine view. It lives in its
// own library (libkrel_chromium.so), loaded as the web view when the Chromium engine is chosen.
class CChromiumVideoView : public QWidget, public IWebVideoView
{
    Q_OBJECT
public:
    explicit CChromiumVideoView(QWidget* parent);
    ~CChromiumVideoView() override;

    QWidget* Widget() override { return this; }
    void Navigate(const QString& address, int scrollY, double startAt) override;
    void Leave(std::function<void(double position, double duration)> done) override;
    void Prepare() override;
    void SetGoneHandler(std::function<void()> handler) override { m_gone = std::move(handler); }
    void SetCrashHandler(std::function<void()> handler) override { m_crashed = std::move(handler); }
    void SetEndedHandler(std::function<void()> handler) override { m_ended = std::move(handler); }
    void TogglePause(std::function<void()> answered) override;
    bool IsPaused() const override { return m_bPaused; }
    void Seek(double seconds, bool relative) override;

    // The browser's page (null before the first video); tests ask it about the page.
    CChromiumPage* Page() const;
    // The browser's process id (0 when none runs).
    qint64 BrowserPid() const;

    // Extra command-line flags for the browser, from KREL_CHROMIUM_FLAGS (tests: --no-sandbox as root, no GPU).
    static QStringList ExtraFlags();

signals:
    // Each time a player has been stretched over the television: its movie address.
    void playersEnlarged(const QStringList& addresses);

protected:
    void resizeEvent(QResizeEvent* e) override;
    // Hidden (the TV away, the video left), the browser's window is unmapped too, and the page script in every
    // frame holds the page's media until the view is shown again.
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    bool EnsureBrowser();
    void Open(const QString& address, int scrollY, double startAt);
    void FindWindow();
    void OnBrowserGone();
    void WatchForTheEnd();
    void OnPageCrashed();

    CChromiumProcess* m_pBrowser = nullptr;
    QPointer<CChromiumPage> m_pPage; // belongs to the browser's pipe, and goes with it
    unsigned long m_nWindow = 0; // the browser's X window, once embedded
    unsigned long m_nFound = 0; // the browser's X window, once found
    QTimer m_find; // looks for the browser's window until it is there
    int m_nFindTries = 0;
    std::function<void()> m_gone;
    std::function<void()> m_crashed;
    std::function<void()> m_ended;
    QTimer m_endWatch; // asks the shown page whether its player ended, until it has
    // The page opened last (where it scrolls to, where its player starts), and how often its renderer died since.
    QString m_strAddress;
    int m_nScrollY = 0;
    double m_dStartAt = 0;
    int m_nCrashes = 0;
    bool m_bStartedAgain = false; // a browser that ended as it started was started once more for this page
    bool m_bPaused = false;
    int m_nPages = 0; // pages opened: an answer about an earlier one is not this one's
};

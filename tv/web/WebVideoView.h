#pragma once

#include <functional>

#include <QString>

class QUrl;

// The page script with the page's scroll offset and the chosen player's start (seconds) put in.
// How long the script watches a page after a load or an in-page navigation: 30 s, or KREL_PAGE_WATCH_MS (tests).
inline QString PageScriptSource(QString script, int scrollY, double startAt)
{
    bool set = false;
    const int watchMs = qEnvironmentVariableIntValue("KREL_PAGE_WATCH_MS", &set);
    return script.replace(QLatin1String("__KREL_SCROLL_Y__"), QString::number(scrollY))
        .replace(QLatin1String("__KREL_START_AT__"), QString::number(startAt > 0 ? startAt : 0.0, 'f', 1))
        .replace(QLatin1String("__KREL_WATCH_MS__"), QString::number(set && watchMs > 0 ? watchMs : 30000));
}
class QWidget;

// The web view of the TV window, as the window drives it: the view (with the web engine) lives in a library the
// program loads when the first video is chosen, so that the tray program and the TV menu run without it.
class IWebVideoView
{
public:
    virtual ~IWebVideoView() = default;
    // The view's widget: a child of the TV window, deleted with it.
    virtual QWidget* Widget() = 0;
    // Shows the view and opens the address (one that MayOpenWebAddress allows); scrollY is the page's scroll offset
    // once the player is stretched, startAt where its chosen media player starts (seconds; 0: its beginning).
    virtual void Navigate(const QString& address, int scrollY, double startAt) = 0;
    // Starts the engine's page processes on an empty page while the view stays hidden, so that a video chosen next
    // does not wait for them.
    virtual void Prepare() = 0;
    // Called when the engine went away under a page (its browser process crashed, was killed or hung): the view
    // has hidden itself, and the next Navigate starts the engine again. Engines that cannot go away never call it.
    virtual void SetGoneHandler(std::function<void()> handler) { (void)handler; }
    // The page's renderer died (a crash, the kernel's out-of-memory killer): the view opens the page again once, as
    // it was opened; when it dies again the view hides itself and calls this.
    virtual void SetCrashHandler(std::function<void()> handler) { (void)handler; }
    // The page's chosen player played to its end (the view looks about once a second while it is shown): called
    // once per page opened.
    virtual void SetEndedHandler(std::function<void()> handler) = 0;
    // The remote's play/pause key: the page's chosen player pauses or goes on, in whichever frame it is. answered is
    // called once the page's answer came (IsPaused() then says what the player reported), never when it cannot come
    // (the page or the engine went first).
    virtual void TogglePause(std::function<void()> answered) = 0;
    // The video is left: its chosen player pauses, and done hears where it was (seconds) and its length (0 when
    // not known), both 0 when the page has no such player; once, soon (also when the engine does not answer).
    virtual void Leave(std::function<void(double position, double duration)> done) = 0;
    // Paused, as the page's player said when it last answered the play/pause key (a page that no player of ours
    // answers for, a plug-in's or one in a frame the engine does not reach, plays on as far as krel knows).
    virtual bool IsPaused() const = 0;
    // The chosen player seeks by seconds (relative) or to seconds from its start.
    virtual void Seek(double seconds, bool relative) = 0;
    // How often a shown page is asked whether its player ended, and what it is asked.
    static constexpr int kEndWatchMs = 1000;
    static QString EndedScript() { return QStringLiteral("window.__krelEnded ? window.__krelEnded() : false"); }
    // The script that does that, for the views.
    static QString SeekScript(double seconds, bool relative)
    {
        return QStringLiteral("window.__krelSeek && window.__krelSeek(%1, %2)")
            .arg(seconds)
            .arg(relative ? QLatin1String("true") : QLatin1String("false"));
    }
};

// http, https, about:blank, and files inside pagesDir (the installed pages, "" for none): the catalogue that names
// the addresses is outside input.
bool IsAllowedWebAddress(const QUrl& url, const QString& pagesDir);
// The same for this program's installed pages, saying in the log why an address is refused.
bool MayOpenWebAddress(const QString& address);

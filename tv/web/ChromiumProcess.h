#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

class CDevToolsPipe;

// Debian's Chromium as a child of krel, driven over its DevTools pipe: its own profile (cookies and site settings
// kept across runs, nothing shared with the user's own Chromium), no port, none of a desktop browser's prompts,
// autoplay allowed, its sandbox on. Ending it waits for it, because a second browser on the same profile while
// the first lives aborts at once.
class CChromiumProcess : public QObject
{
    Q_OBJECT
public:
    static constexpr char kProgram[] = "/usr/bin/chromium"; // Debian's package
    struct Options {
        QString program = QString::fromLatin1(kProgram);
        QString profileDir; // "" for DefaultProfileDir()
        QStringList extraArguments; // tests: --headless, and --no-sandbox as root
        // The page its window opens with; an app window (no tabs, no address bar) needs a real address, so it is a
        // black page.
        QString firstPage = QStringLiteral("data:text/html,<html style='background:black'></html>");
    };

    explicit CChromiumProcess(QObject* parent = nullptr);
    ~CChromiumProcess() override;

    // $XDG_CACHE_HOME/krel/chromium: what a site remembers (consent, login) lives there, and nothing else uses it.
    static QString DefaultProfileDir();
    static QStringList Arguments(const Options& options);
    // The refusing stand-ins for the desktop's opener programs, written into the profile; their folder, "" when it
    // cannot be written.
    static QString WriteHandlerStubs(const QString& profile);
    // The browser's environment: the stand-ins first on its PATH, and no session bus.
    static QProcessEnvironment Environment(const QString& handlerStubs);
    // Whether the program is there to be started.
    static bool IsInstalled(const QString& program = QString::fromLatin1(kProgram));

    // Starts the browser; false (with a log line) when it cannot be started.
    bool Start(const Options& options);
    bool IsRunning() const;
    qint64 Pid() const;
    // The browser's DevTools pipe while it runs, else null. The pipe (and every page on it) belongs to this object
    // and goes soon after the browser ended: keep a QPointer to it, never a plain pointer.
    CDevToolsPipe* Pipe() const { return m_pPipe; }
    // Asks the browser to close, ends it if it does not within graceMs, and waits until it is gone.
    void Stop(int graceMs = 3000);

signals:
    // The browser ended (a crash, a kill, or Stop); the pipe is closed.
    void exited();

private:
    // Closes the pipe and lets it go once the event that ended it is handled.
    void DropPipe(const QString& why);

    QProcess m_process;
    CDevToolsPipe* m_pPipe = nullptr; // a child of this object
};

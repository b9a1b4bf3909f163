#include "ChromiumProcess.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include "DevToolsPipe.h"

Q_DECLARE_LOGGING_CATEGORY(lcDevTools)

CChromiumProcess::CChromiumProcess(QObject* parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    connect(&m_process, &QProcess::finished, this, [this] {
        DropPipe(QStringLiteral("the browser ended"));
        emit exited();
    });
}

void CChromiumProcess::DropPipe(const QString& why)
{
    if (!m_pPipe)
        return;
    // Waiting commands hear of it now; the object itself (with its pages) goes once the caller's work is done, as
    // the caller may be one of its callbacks.
    m_pPipe->Close(why);
    m_pPipe->deleteLater();
    m_pPipe = nullptr;
}

CChromiumProcess::~CChromiumProcess()
{
    Stop(1000);
}

QString CChromiumProcess::DefaultProfileDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/krel/chromium");
}

bool CChromiumProcess::IsInstalled(const QString& program)
{
    return QFileInfo(program).isExecutable();
}

QStringList CChromiumProcess::Arguments(const Options& options)
{
    const QString profile = options.profileDir.isEmpty() ? DefaultProfileDir() : options.profileDir;
    QStringList args {
        // Commands on fd 3, answers on fd 4: no port that another program could reach.
        QStringLiteral("--remote-debugging-pipe"),
        QStringLiteral("--user-data-dir=") + profile,
        // None of a desktop browser's questions, bubbles and background services on the TV.
        QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--disable-extensions"),
        QStringLiteral("--disable-default-apps"),
        // (Nor pages kept alive for going back: nobody goes back, and each would hold its memory.)
        QStringLiteral("--disable-features=Translate,MediaRouter,GlobalMediaControls,BackForwardCache"),
        // No Picture-in-Picture window: it would float over whatever monitor, outside the TV view (a page that
        // asks is refused as where the system has none).
        QStringLiteral("--blink-settings=pictureInPictureEnabled=false"),
        QStringLiteral("--disable-blink-features=DocumentPictureInPictureAPI"),
        QStringLiteral("--disable-session-crashed-bubble"),
        QStringLiteral("--hide-crash-restore-bubble"),
        QStringLiteral("--noerrdialogs"),
        // No keyring prompt for the profile's secrets.
        QStringLiteral("--password-store=basic"),
        // A video starts without a click on the page; every permission is refused without asking.
        QStringLiteral("--autoplay-policy=no-user-gesture-required"),
        QStringLiteral("--deny-permission-prompts"),
        // Nobody scrolls at the TV; the stretched player is the whole view.
        QStringLiteral("--hide-scrollbars"),
        // Under X11 its window is ours to find (by this class) and to embed.
        QStringLiteral("--ozone-platform=x11"),
        QStringLiteral("--class=krel-tv"),
    };
    args << options.extraArguments;
    // A window of its own without tabs, address bar or menus.
    args << QStringLiteral("--app=") + options.firstPage;
    return args;
}

QString CChromiumProcess::WriteHandlerStubs(const QString& profile)
{
    // The browser hands an address of another scheme (mailto:, tel:, any registered handler) to the desktop's
    // opener programs, found on its PATH, and those start mail programs, dialers, "Open With" windows: outside
    // the sandbox, on the PC monitor, outliving krel. Ahead of them on the browser's PATH stand programs of ours
    // by the same names that refuse, with a line on krel's error output.
    const QString dir = profile + QStringLiteral("/krel-handlers");
    if (!QDir().mkpath(dir))
        return {};
    const QByteArray stub = QByteArrayLiteral("#!/bin/sh\n"
                                              "echo \"krel.chromium: a page asked to start ${0##*/}: refused\" >&2\n"
                                              "exit 1\n");
    for (const char* name : { "xdg-open", "xdg-email", "gio", "gvfs-open", "gnome-open", "kde-open", "kde-open5",
                              "kfmclient", "exo-open" }) {
        QFile file(dir + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(stub) != stub.size())
            return {};
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    return dir;
}

QProcessEnvironment CChromiumProcess::Environment(const QString& handlerStubs)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), handlerStubs + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    // Nor through the session bus: the desktop portal's OpenURI would open the same programs, or ask on the PC
    // monitor which one. The browser needs no bus (the screen saver and the media controls are krel's own); an
    // address that cannot be reached keeps it from starting a bus of its own.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/krel-no-bus"));
    return env;
}

bool CChromiumProcess::Start(const Options& options)
{
    if (IsRunning())
        return true;
    if (!IsInstalled(options.program)) {
        qCWarning(lcDevTools).noquote() << options.program << "is not installed";
        return false;
    }
    const QString profile = options.profileDir.isEmpty() ? DefaultProfileDir() : options.profileDir;
    QDir().mkpath(profile);
    QFile::setPermissions(profile, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString stubs = WriteHandlerStubs(profile);
    if (stubs.isEmpty()) {
        qCWarning(lcDevTools).noquote() << "cannot write" << profile << "(the browser is not started)";
        return false;
    }
    m_process.setProcessEnvironment(Environment(stubs));
    int commands[2], answers[2];
    if (::pipe2(commands, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(answers, O_CLOEXEC) != 0) {
        ::close(commands[0]);
        ::close(commands[1]);
        return false;
    }
    const int childRead = commands[0], childWrite = answers[1];
    // In the child, before exec: the browser's ends become fds 3 and 4. Each is first copied above 10 (so that
    // neither is already 3 or 4, where dup2 would keep its close-on-exec flag), then put in place.
    m_process.setChildProcessModifier([childRead, childWrite] {
        // The browser ends with us, however we end: a browser left behind would hold the profile, and the next
        // start of the program would find its own browser refusing to start.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int r = ::fcntl(childRead, F_DUPFD, 10);
        const int w = ::fcntl(childWrite, F_DUPFD, 10);
        if (r < 0 || w < 0 || ::dup2(r, 3) < 0 || ::dup2(w, 4) < 0)
            ::_exit(127);
        ::close(r);
        ::close(w);
    });
    m_process.start(options.program, Arguments(options));
    ::close(childRead);
    ::close(childWrite);
    if (!m_process.waitForStarted(10000)) {
        qCWarning(lcDevTools).noquote() << "cannot start" << options.program << ":" << m_process.errorString();
        ::close(commands[1]);
        ::close(answers[0]);
        return false;
    }
    m_pPipe = new CDevToolsPipe(commands[1], answers[0], this);
    return true;
}

bool CChromiumProcess::IsRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

qint64 CChromiumProcess::Pid() const
{
    return m_process.processId();
}

void CChromiumProcess::Stop(int graceMs)
{
    if (!IsRunning()) {
        DropPipe(QStringLiteral("the browser ended"));
        return;
    }
    if (m_pPipe && m_pPipe->IsOpen())
        m_pPipe->Send(QStringLiteral("Browser.close"));
    if (!m_process.waitForFinished(graceMs)) {
        m_process.terminate();
        if (!m_process.waitForFinished(graceMs)) {
            m_process.kill();
            m_process.waitForFinished(graceMs);
        }
    }
    DropPipe(QStringLiteral("the browser was ended"));
}

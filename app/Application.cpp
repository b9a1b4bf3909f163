#include "Application.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "common/InstanceLock.h"
#include "common/ProfileFile.h"
#include "MouseCtl/MouseCtl.h"
#include "TvCfgDlg.h"
#include "common/Globals.h"
#include "common/Log.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "display/DisplayServer.h"
#include "remote/CecLinux.h"
#include "remote/HidIRDevice.h"
#include "remote/IRReceiverThread.h"
#include "remote/InputDevices.h"
#include "remote/KeyRouter.h"
#include "remote/RemoteSocket.h"
#include "tv/AudioRouter.h"
#include "update/UpdateCheck.h"

namespace
{
const char kUpdaterName[] = "AutoUpdate";

// What the end of the process needs to know while the event loop runs.
struct LoopState {
    bool running = false;
    bool wayland = false;
    QByteArray socketPath;
};
LoopState g_loop;

// Qt's platform plugins end the process with exit(1) when the display server goes away (the user logged out): no
// crash, so nothing should start the program again. At exit while the loop runs and the display server is gone, the
// program's own traces go (its software-remote socket; the browser it started ends with it, the instance lock with
// the process) and it ends with 0.
void EndWithTheDisplayServer()
{
    if (!g_loop.running || DisplayServerReachable(g_loop.wayland))
        return;
    std::fputs("krel: the display server went away; ending\n", stderr);
    ::unlink(g_loop.socketPath.constData());
    ::_exit(0);
}
} // namespace

bool PrepareStateFolder()
{
    const QString state = Paths::StateDir();
    if (QFileInfo::exists(state + QStringLiteral("Data/data.mdb")))
        return true;
    // The first start of this user: the starter catalogue installed with the program becomes the user's catalogue,
    // which updates may then replace. Copied into a staging folder and renamed, so a cut copy never counts.
    const QString share = Paths::InstalledShareDir();
    const QString staging = state + QStringLiteral(".Data-new");
    ProfileFile::RemoveTree(staging);
    if (!QDir().mkpath(staging))
        return false;
    const QDir source(share + QStringLiteral("Data"));
    for (const QString& name : source.entryList(QDir::Files)) {
        if (!QFile::copy(source.filePath(name), staging + QLatin1Char('/') + name)) {
            qCWarning(lcApp, "cannot copy the starter catalogue into %s", qPrintable(state));
            ProfileFile::RemoveTree(staging);
            return false;
        }
    }
    ProfileFile::RemoveTree(state + QStringLiteral("Data"));
    if (!QDir().rename(staging, state + QStringLiteral("Data")))
        return false;
    if (!QFileInfo::exists(state + QStringLiteral("ver.dat")))
        QFile::copy(share + QStringLiteral("ver.dat"), state + QStringLiteral("ver.dat"));
    return true;
}

bool StartThroughUserManager(const QString& systemctl, const QString& unitFile)
{
    if (systemctl.isEmpty() || !QFileInfo::exists(unitFile))
        return false;
    const auto run = [&](const QStringList& arguments) {
        QProcess process;
        process.start(systemctl, arguments);
        return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    };
    // The user manager outlives the sessions and has neither a display nor a login session of its own.
    QStringList variables;
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_SESSION_ID", "XDG_SESSION_TYPE",
                              "XDG_CURRENT_DESKTOP", "DBUS_SESSION_BUS_ADDRESS" })
        if (qEnvironmentVariableIsSet(name))
            variables << QString::fromLatin1(name);
    if (!run(QStringList { QStringLiteral("--user"), QStringLiteral("import-environment") } + variables))
        return false;
    if (run({ QStringLiteral("--user"), QStringLiteral("start"), QFileInfo(unitFile).fileName() }))
        return true;
    qCWarning(lcApp, "the user unit %s could not be started; running without it", qPrintable(unitFile));
    return false;
}

bool StartThroughUserManager()
{
    // Installed beside the program: /usr/lib/krel/krel and /usr/lib/systemd/user/krel.service.
    const QString unit
        = QFileInfo(Paths::ExecutablePath()).absolutePath() + QStringLiteral("/../systemd/user/krel.service");
    return Paths::IsInstalled()
        && StartThroughUserManager(QStandardPaths::findExecutable(QStringLiteral("systemctl")), unit);
}

QString FindUpdater()
{
    const QString beside = g_strAppDir + QLatin1String(kUpdaterName);
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QLatin1String(kUpdaterName));
}

std::function<void(int command)> CommandSink(CRemoteKeyRouter& router)
{
    return [&router](int command) { router.PostKey(command, 0); };
}

void ConnectCec(CTvCfgDlg& dialog, CCecDevices& cec)
{
    QObject::connect(&cec, &CCecDevices::tvPowerChanged, &dialog, &CTvCfgDlg::OnTvPower);
    QObject::connect(&dialog, &CTvCfgDlg::tvOutputStarted, &cec, [&cec] {
        if (ReadSetting(QString::fromLatin1(SettingKey::CecWakeTv)).trimmed() != QLatin1String("0"))
            cec.WakeTv();
    });
    // Nobody watches: the TV sleeps too.
    QObject::connect(&dialog, &CTvCfgDlg::nobodyWatching, &cec, &CCecDevices::StandbyTv);
    // Only once the PC is really going down: a refused shutdown leaves the TV as it is.
    QObject::connect(&dialog, &CTvCfgDlg::shutdownAccepted, &cec, [&cec] {
        if (ReadSettingNumber(QString::fromLatin1(SettingKey::CecStandbyOnShutdown)) == 1)
            cec.StandbyTv();
    });
}

int RunControlWindow()
{
    // Audio routing works from the start, before anything can play.
    CAudioRouter audio;
    CRemoteKeyRouter router;
    CSessionActivity session;
    session.Start();
    router.SetSession(&session);
    CTvCfgDlg dialog(&router, &audio);
    dialog.OnInitDialog();
    // The reader and the software remote start with the control window registered.
    CIRReceiverThread reader(&router, std::make_unique<CHidIRDevice>());
    reader.Start();
    // Remotes the kernel drives (input devices), unless the settings turn them off.
    CInputDeviceSource inputDevices(&router);
    const QString inputChoice = ReadSetting(QString::fromLatin1(SettingKey::InputDevices));
    if (inputChoice.trimmed() != QLatin1String("0"))
        inputDevices.Start(inputChoice);
    // The TV's own remote and power over HDMI-CEC, where an adapter is there.
    CCecDevices cec(CommandSink(router));
    if (ReadSetting(QString::fromLatin1(SettingKey::Cec)).trimmed() != QLatin1String("0")) {
        ConnectCec(dialog, cec);
        cec.Start();
    }
    // Sleep and wake: what plays is held before the PC sleeps; after it woke, the screens, sound cards and the
    // kernel's remotes are looked at again (the receiver's reader finds its device again by itself, under whatever
    // handle it comes back).
    QObject::connect(&session, &CSessionActivity::sleepChanged, &dialog, &CTvCfgDlg::OnPcSleep);
    QObject::connect(&dialog, &CTvCfgDlg::woke, &inputDevices, &CInputDeviceSource::Rescan);
    CRemoteSocketServer softwareRemote(&reader);
    softwareRemote.SetCommandHandler(CommandSink(router));
    QObject::connect(&softwareRemote, &CRemoteSocketServer::ShowRequested, &dialog, &CTvCfgDlg::ShowRestored);
    softwareRemote.Listen();

    dialog.show();
    dialog.ApplyPointerFence(); // DisableMouseCtrl was read as the window started

    g_loop.wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    g_loop.socketPath = QFile::encodeName(RemoteSocketPath());
    static const bool registered = std::atexit(EndWithTheDisplayServer) == 0;
    Q_UNUSED(registered);
    g_loop.running = true;
    QApplication::exec();
    g_loop.running = false;

    MouseLimitDisable();
    return 0;
}

int RunApplication(int argc, char** argv)
{
    CInstanceLock lock(Paths::InstanceLockFile());
    if (!lock.Acquire()) {
        // Another instance runs: ask it to show its control window (the only way back to it where no tray host
        // shows its icon), then leave. When no instance answers, the lock is held by one that is just ending (the
        // one that handed over to the updater) or by the updater, which starts the program again when it is done:
        // wait for the holder a while, and leave the start to the updater when it is still busy.
        if (!SendRemoteLine(RemoteSocketPath(), kShowWindowLine, 2000).isEmpty() || !lock.AcquireWithin(10000))
            return 0;
    }

    // The application folder: the executable's directory, with a trailing separator.
    g_strAppDir = QFileInfo(Paths::ExecutablePath()).absolutePath() + QLatin1Char('/');
    if (Paths::IsInstalled())
        PrepareStateFolder();

    // Started by the updater: an update still parked now is one the updater could neither apply nor remove (a
    // program folder that is not writable, say). It is abandoned for this run rather than handed over again.
    const bool afterUpdater = qEnvironmentVariableIsSet(kAfterUpdaterVariable);
    qunsetenv(kAfterUpdaterVariable);
    const bool pending = CheckPendingUpdate() == 1;
    if (pending && afterUpdater) {
        qCWarning(lcApp, "the update parked in Update/ could not be applied or removed; starting without it");
    } else if (pending) {
        // Started detached, by name, never through a shell. Where no updater can be found or started, the parked
        // update cannot be applied: the program starts normally rather than end silently at every start. The
        // updater waits for this process to end (it takes the same lock).
        const QString updater = FindUpdater();
        if (!updater.isEmpty() && QProcess::startDetached(updater, {}, QString()))
            return 0;
        qCWarning(lcApp, "an update waits in Update/, but no updater \"%s\" could be started; starting normally",
                  kUpdaterName);
    }

    const char* platformWhy = PreferX11InWaylandSessions();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("krel"));
    if (platformWhy)
        qCInfo(lcApp, "windows: X11 (%s)", platformWhy);
    app.setQuitOnLastWindowClosed(false);

    return RunControlWindow();
}

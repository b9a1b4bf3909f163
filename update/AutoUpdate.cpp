// AutoUpdate: the updater the program starts, by this bare name and without arguments, when an update is parked
// in Update/. It waits for the program's lock, applies what it may, records the versions, empties Update/, starts
// the program again (detached, without a shell) and ends: 0 when it applied or rightly refused, 1 on a failure of
// its own.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "Updater.h"
#include "common/Globals.h"
#include "common/InstanceLock.h"
#include "common/Paths.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_strAppDir = QFileInfo(Paths::ExecutablePath()).absolutePath() + QLatin1Char('/');
    // One updater at a time, and never beside the program: the program's own lock, held for the whole run. The
    // program that started this one is ending; another updater or program may hold the lock for a while.
    CInstanceLock lock(Paths::InstanceLockFile());
    if (!lock.AcquireWithin(60000)) {
        std::fprintf(stderr, "AutoUpdate: the program or another updater still runs; leaving the update to it\n");
        return 0;
    }
    CUpdater updater(g_strAppDir, Paths::StateDir(), Paths::IsInstalled());
    const CUpdater::Outcome outcome = updater.Run();
    std::fprintf(stderr, "AutoUpdate: %s\n", qPrintable(outcome.notes.join(QStringLiteral("; "))));

    // The program is started once the lock is free for it, and told that the updater ran (so an update that could
    // be neither applied nor removed does not hand over again).
    lock.Release();
    const QString program = g_strAppDir + QStringLiteral("krel");
    qputenv(kAfterUpdaterVariable, "1");
    if (!QProcess::startDetached(program, {}, QString()))
        std::fprintf(stderr, "AutoUpdate: cannot start %s\n", qPrintable(program));
    return outcome.internalFailure ? 1 : 0;
}

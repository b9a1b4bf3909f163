// AutoUpdate: the updater the program starts, by this bare name and without arguments, when an update is parked
// in Update/. It applies what it may, records the versions, empties Update/, starts the program again (detached,
// without a shell) and ends: 0 when it applied or rightly refused, 1 on a failure of its own.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "Updater.h"
#include "common/Globals.h"
#include "common/Paths.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_strAppDir = QFileInfo(Paths::ExecutablePath()).absolutePath() + QLatin1Char('/');
    CUpdater updater(g_strAppDir, Paths::StateDir(), Paths::IsInstalled());
    const CUpdater::Outcome outcome = updater.Run();
    std::fprintf(stderr, "AutoUpdate: %s\n", qPrintable(outcome.notes.join(QStringLiteral("; "))));

    const QString program = g_strAppDir + QStringLiteral("krel");
    if (!QProcess::startDetached(program, {}, QString()))
        std::fprintf(stderr, "AutoUpdate: cannot start %s\n", qPrintable(program));
    return outcome.internalFailure ? 1 : 0;
}

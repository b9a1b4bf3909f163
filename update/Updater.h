#pragma once

#include <QString>
#include <QStringList>

#include "ZipArchive.h"

// The updater's work (the program AutoUpdate, which the program starts when an update is parked in Update/):
// applies the parked data archive and, where the program's files are its own to replace, the application archive;
// records the applied versions in ver.dat; empties Update/.
//
// Safe at every instant: the new catalogue is unpacked and checked beside Data/ and swapped in with one exchange of
// names, so Data/ is always the whole old or the whole new catalogue (the old one stays as Data.old for one
// rollback); ver.dat is replaced atomically. A refused or failed update still empties Update/, so the next start is
// a normal one.
class CUpdater
{
public:
    struct Outcome {
        bool dataApplied = false;
        bool appApplied = false;
        bool internalFailure = false; // something of ours failed (not a refused archive)
        QStringList notes; // what was done or refused, for the log line
    };

    // appDir: the program's folder; stateDir: where Data/, ver.dat and Update/ are (both with a trailing "/").
    // packaged: the program's files belong to the package manager, so app.zip is never applied.
    CUpdater(QString appDir, QString stateDir, bool packaged, ArchiveLimits limits = {});

    Outcome Run();

    // Names app.zip may not carry: the files and folders of the state, never program files.
    static bool IsReservedAppFile(const QString& name);

private:
    void FinishCutRun(Outcome& outcome);
    bool MoveAppFilesIn(const QStringList& files);
    bool HashAllows(const QString& archive, const QString& hashKey, QString* why) const;
    void ApplyData(int version, Outcome& outcome);
    void ApplyApp(int version, Outcome& outcome);
    bool RecordVersion(const wchar_t* key, int version);
    void ClearParked();

    QString m_strAppDir;
    QString m_strStateDir;
    bool m_bPackaged;
    ArchiveLimits m_limits;
    bool m_bRequireHash = false;
};

// A fault point for the tests: when KREL_UPDATER_FAULT names this step, the process ends here at once, as a power
// cut would end it.
void UpdaterFaultPoint(const char* step);

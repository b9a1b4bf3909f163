#include "Updater.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "UpdateCheck.h"
#include "UpdateSignature.h"
#include "catalogue/CatalogueCheck.h"
#include "common/ProfileFile.h"
#include "common/TextNumber.h"

namespace
{

void syncFolder(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

// Marks a catalogue staged for the exchange of names; its text is the data version. Found in Data/, it says the
// exchange happened and its bookkeeping may not have.
const char kStagedMark[] = ".krel-staged";
// Lists the program files of an application archive that is being switched in; its first line is the version.
const char kAppJournal[] = ".app-journal";

} // namespace

void UpdaterFaultPoint(const char* step)
{
    if (qEnvironmentVariable("KREL_UPDATER_FAULT") == QLatin1String(step))
        ::_exit(99);
}

CUpdater::CUpdater(QString appDir, QString stateDir, bool packaged, ArchiveLimits limits)
    : m_strAppDir(std::move(appDir))
    , m_strStateDir(std::move(stateDir))
    , m_bPackaged(packaged)
    , m_limits(limits)
{
}

bool CUpdater::IsReservedAppFile(const QString& name)
{
    for (const char* reserved : { "ver.dat", "Data", "Data.old", "Data.new", "Update", "update", "temp", "Krel.ini",
                                  "krel.layout", ".app-new", ".app-journal" })
        if (name.compare(QLatin1String(reserved), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void CUpdater::FinishCutRun(Outcome& outcome)
{
    // The catalogue: Data/ carries the staging mark, so the exchange happened; Data.new without the mark is the
    // previous catalogue, which becomes the rollback copy. The version is recorded, so the archive is not applied a
    // second time (which would make the rollback copy the new catalogue).
    const QString mark = m_strStateDir + QStringLiteral("Data/") + QLatin1String(kStagedMark);
    const QString staging = m_strStateDir + QStringLiteral("Data.new");
    if (QFileInfo::exists(mark)) {
        const QFileInfo previous(staging);
        if (previous.isDir() && !previous.isSymLink()
            && !QFileInfo::exists(staging + QLatin1Char('/') + QLatin1String(kStagedMark))) {
            ProfileFile::RemoveTree(m_strStateDir + QStringLiteral("Data.old"));
            QDir().rename(staging, m_strStateDir + QStringLiteral("Data.old"));
        }
        QFile file(mark);
        const int version = file.open(QIODevice::ReadOnly) ? ParseDecimal(QString::fromLatin1(file.read(32))) : 0;
        if (version > 0 && RecordVersion(L"DATA_VER", version)) {
            QFile::remove(mark);
            outcome.notes << QStringLiteral("data %1 finished").arg(version);
        }
    }
    // The program: a journal means the archive was committed; the files not yet moved in are moved now.
    QFile journal(m_strAppDir + QLatin1String(kAppJournal));
    if (journal.open(QIODevice::ReadOnly)) {
        const QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        journal.close();
        const int version = lines.isEmpty() ? 0 : ParseDecimal(lines.first());
        if (version > 0 && MoveAppFilesIn(lines.mid(1)) && RecordVersion(L"APP_VER", version)) {
            QFile::remove(journal.fileName());
            outcome.notes << QStringLiteral("application %1 finished").arg(version);
        }
    }
}

bool CUpdater::MoveAppFilesIn(const QStringList& files)
{
    const QString staging = m_strAppDir + QStringLiteral(".app-new/");
    for (const QString& name : files) {
        if (!QFileInfo::exists(staging + name))
            continue; // moved in before the cut
        if (::rename(QFile::encodeName(staging + name).constData(), QFile::encodeName(m_strAppDir + name).constData())
            != 0)
            return false;
        UpdaterFaultPoint("app-file-moved");
    }
    syncFolder(m_strAppDir);
    return true;
}

CUpdater::Outcome CUpdater::Run()
{
    Outcome outcome;
    FinishCutRun(outcome);
    // Staging left by a run that was cut off before it was committed is never half applied: it goes, as do the
    // temporary files of a cut atomic write of ver.dat.
    ProfileFile::RemoveTree(m_strStateDir + QStringLiteral("Data.new"));
    ProfileFile::RemoveTree(m_strAppDir + QStringLiteral(".app-new"));
    for (const QString& stray : QDir(m_strStateDir).entryList({ QStringLiteral("ver.dat.??????") }, QDir::Files))
        QFile::remove(m_strStateDir + stray);

    const QString parkedVersion = m_strStateDir + QStringLiteral("Update/ver.dat");
    const VersionPair installed = ReadVersionFile(m_strStateDir + QStringLiteral("ver.dat"));
    const VersionPair offered = ReadVersionFile(parkedVersion);
    m_bRequireHash = ParseDecimal(ReadVersionText(m_strStateDir + QStringLiteral("ver.dat"), L"REQUIRE_SHA256")) == 1;

    // With trusted keys, nothing is applied unless the parked version file is signed by one of them now: the parked
    // files may have been changed since they were checked. Its archives' hashes are then required too. A keys folder
    // whose every key is unusable proves nothing, so it refuses everything.
    const UpdateSignature::TrustedKeySet keys = UpdateSignature::TrustedKeys();
    if (keys.installed && (offered.hasApp || offered.hasData)) {
        QFile version(parkedVersion), signature(parkedVersion + QStringLiteral(".sig"));
        // The whole file is what was signed; one larger than a version file ever is is not read.
        if (!version.open(QIODevice::ReadOnly) || version.size() > 64 * 1024 || !signature.open(QIODevice::ReadOnly)
            || !UpdateSignature::Verify(version.readAll(), signature.read(4096), keys.keys)) {
            outcome.notes << QStringLiteral("update refused: Update/ver.dat is not signed by a trusted key");
            ClearParked();
            return outcome;
        }
        m_bRequireHash = true;
    }

    if (offered.hasData && offered.data > (installed.hasData ? installed.data : 0))
        ApplyData(offered.data, outcome);
    if (offered.hasApp && offered.app > (installed.hasApp ? installed.app : 0))
        ApplyApp(offered.app, outcome);
    if (!offered.hasApp && !offered.hasData)
        outcome.notes << QStringLiteral("no update is parked");
    UpdaterFaultPoint("recorded");
    ClearParked();
    return outcome;
}

bool CUpdater::HashAllows(const QString& archive, const QString& hashKey, QString* why) const
{
    const QString wanted
        = ReadVersionText(m_strStateDir + QStringLiteral("Update/ver.dat"), hashKey.toStdWString().c_str()).trimmed();
    if (wanted.isEmpty()) {
        if (m_bRequireHash) {
            *why = QStringLiteral("has no %1, which this installation requires").arg(hashKey);
            return false;
        }
        return true;
    }
    const QString actual = sha256Of(archive);
    if (actual.compare(wanted, Qt::CaseInsensitive) != 0) {
        *why = QStringLiteral("does not match its %1").arg(hashKey);
        return false;
    }
    return true;
}

void CUpdater::ApplyData(int version, Outcome& outcome)
{
    const QString archive = m_strStateDir + QStringLiteral("Update/data.zip");
    if (!QFileInfo::exists(archive)) {
        outcome.notes << QStringLiteral("data %1 offered without its archive").arg(version);
        return;
    }
    QString why;
    if (!HashAllows(archive, QStringLiteral("DATA_SHA256"), &why)) {
        outcome.notes << QStringLiteral("data.zip refused: it ") + why;
        return;
    }
    const QString staging = m_strStateDir + QStringLiteral("Data.new");
    const QString data = m_strStateDir + QStringLiteral("Data");
    if (!QDir().mkpath(staging)) {
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("cannot make %1").arg(staging);
        return;
    }
    if (!ExtractArchive(archive, staging, m_limits, &why)) {
        ProfileFile::RemoveTree(staging);
        outcome.notes << QStringLiteral("data.zip refused: ") + why;
        return;
    }
    UpdaterFaultPoint("extracted");
    if (!CheckCatalogueFolder(staging, &why)) {
        ProfileFile::RemoveTree(staging);
        outcome.notes << QStringLiteral("data.zip refused: not a catalogue the program can open (%1)").arg(why);
        return;
    }
    // The mark travels into Data/ with the exchange, naming the version for a run that is cut off after it.
    if (!ProfileFile::WriteFileAtomically(staging + QLatin1Char('/') + QLatin1String(kStagedMark),
                                          QByteArray::number(version))) {
        ProfileFile::RemoveTree(staging);
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("cannot write in %1").arg(staging);
        return;
    }
    syncFolder(staging);

    // One exchange of names: Data/ is the old catalogue before it and the new one after it, never anything else.
    const QByteArray from = QFile::encodeName(staging), to = QFile::encodeName(data);
    bool swapped = false;
    if (QFileInfo::exists(data))
        swapped = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0;
    else
        swapped = ::rename(from.constData(), to.constData()) == 0;
    if (!swapped) {
        ProfileFile::RemoveTree(staging);
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("cannot swap in the new catalogue");
        return;
    }
    syncFolder(m_strStateDir);
    UpdaterFaultPoint("swapped");
    // The old catalogue stays for one rollback.
    const QString old = m_strStateDir + QStringLiteral("Data.old");
    ProfileFile::RemoveTree(old);
    if (QFileInfo::exists(staging))
        QDir().rename(staging, old);
    syncFolder(m_strStateDir);
    outcome.dataApplied = true;
    if (!RecordVersion(L"DATA_VER", version)) {
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("data %1 applied, but ver.dat cannot be written").arg(version);
        return;
    }
    QFile::remove(data + QLatin1Char('/') + QLatin1String(kStagedMark));
    outcome.notes << QStringLiteral("data %1 applied").arg(version);
}

void CUpdater::ApplyApp(int version, Outcome& outcome)
{
    const QString archive = m_strStateDir + QStringLiteral("Update/app.zip");
    if (!QFileInfo::exists(archive)) {
        outcome.notes << QStringLiteral("application %1 offered without its archive").arg(version);
        return;
    }
    if (m_bPackaged) {
        outcome.notes << QStringLiteral("application %1 left to the package manager").arg(version);
        return;
    }
    if (::access(QFile::encodeName(m_strAppDir).constData(), W_OK) != 0) {
        outcome.notes << QStringLiteral("application %1 not applied: the program folder is not writable").arg(version);
        return;
    }
    QString why;
    if (!HashAllows(archive, QStringLiteral("APP_SHA256"), &why)) {
        outcome.notes << QStringLiteral("app.zip refused: it ") + why;
        return;
    }
    const QString staging = m_strAppDir + QStringLiteral(".app-new");
    QDir().mkpath(staging);
    if (!ExtractArchive(archive, staging, m_limits, &why)) {
        ProfileFile::RemoveTree(staging);
        outcome.notes << QStringLiteral("app.zip refused: ") + why;
        return;
    }
    const QStringList files = QDir(staging).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : files) {
        if (IsReservedAppFile(name)) {
            ProfileFile::RemoveTree(staging);
            outcome.notes << QStringLiteral("app.zip refused: it would replace %1").arg(name);
            return;
        }
    }
    UpdaterFaultPoint("app-extracted");
    // The journal commits the switch: from here on a cut run is finished by the next one, which moves in the files
    // still staged, so the program is the whole old one before the journal and the whole new one once a run has
    // passed it. The updater and the program go last, so that a cut leaves them able to hand over and finish.
    QStringList order = files;
    std::stable_partition(order.begin(), order.end(), [](const QString& name) {
        return name != QLatin1String("AutoUpdate") && name != QLatin1String("krel");
    });
    const QByteArray journal = (QStringList { QString::number(version) } + order).join(QLatin1Char('\n')).toUtf8();
    if (!ProfileFile::WriteFileAtomically(m_strAppDir + QLatin1String(kAppJournal), journal)) {
        ProfileFile::RemoveTree(staging);
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("cannot write the journal in %1").arg(m_strAppDir);
        return;
    }
    UpdaterFaultPoint("app-journaled");
    if (!MoveAppFilesIn(order)) {
        // Left committed: the next run moves in the rest.
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("cannot move the new program files in; the next run finishes it");
        return;
    }
    outcome.appApplied = true;
    if (!RecordVersion(L"APP_VER", version)) {
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("application %1 applied, but ver.dat cannot be written").arg(version);
        return;
    }
    QFile::remove(m_strAppDir + QLatin1String(kAppJournal));
    ProfileFile::RemoveTree(staging);
    outcome.notes << QStringLiteral("application %1 applied").arg(version);
}

bool CUpdater::RecordVersion(const wchar_t* key, int version)
{
    return ProfileFile::WriteString(m_strStateDir + QStringLiteral("ver.dat"), QStringLiteral("Main"),
                                    QString::fromWCharArray(key), QString::number(version));
}

void CUpdater::ClearParked()
{
    // The archives first and the version file last: a cut here leaves at most a version file that is no longer
    // newer than ver.dat, which is no pending update.
    for (const char* name : { "app.zip", "data.zip", "ver.dat.sig", "ver.dat" })
        QFile::remove(m_strStateDir + QStringLiteral("Update/") + QLatin1String(name));
    syncFolder(m_strStateDir + QStringLiteral("Update"));
}

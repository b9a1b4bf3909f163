#include "Updater.h"

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
                                  "krel.layout", ".app-new" })
        if (name.compare(QLatin1String(reserved), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

CUpdater::Outcome CUpdater::Run()
{
    Outcome outcome;
    // Staging left by a run that was cut off is never half applied: it goes, as do the temporary files of a cut
    // atomic write of ver.dat.
    ProfileFile::RemoveTree(m_strStateDir + QStringLiteral("Data.new"));
    ProfileFile::RemoveTree(m_strAppDir + QStringLiteral(".app-new"));
    for (const QString& stray : QDir(m_strStateDir).entryList({ QStringLiteral("ver.dat.??????") }, QDir::Files))
        QFile::remove(m_strStateDir + stray);

    const QString parkedVersion = m_strStateDir + QStringLiteral("Update/ver.dat");
    const VersionPair installed = ReadVersionFile(m_strStateDir + QStringLiteral("ver.dat"));
    const VersionPair offered = ReadVersionFile(parkedVersion);
    m_bRequireHash = ParseDecimal(ReadVersionText(m_strStateDir + QStringLiteral("ver.dat"), L"REQUIRE_SHA256")) == 1;

    // With trusted keys, nothing is applied unless the parked version file is signed by one of them now: the parked
    // files may have been changed since they were checked. Its archives' hashes are then required too.
    const QList<QByteArray> keys = UpdateSignature::TrustedKeys();
    if (!keys.isEmpty() && (offered.hasApp || offered.hasData)) {
        QFile version(parkedVersion), signature(parkedVersion + QStringLiteral(".sig"));
        // The whole file is what was signed; one larger than a version file ever is is not read.
        if (!version.open(QIODevice::ReadOnly) || version.size() > 64 * 1024 || !signature.open(QIODevice::ReadOnly)
            || !UpdateSignature::Verify(version.readAll(), signature.read(4096), keys)) {
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
    // Each program file is replaced with one rename: it is the old file or the new one, never a part.
    for (const QString& name : files) {
        if (::rename(QFile::encodeName(staging + QLatin1Char('/') + name).constData(),
                     QFile::encodeName(m_strAppDir + name).constData())
            != 0) {
            outcome.internalFailure = true;
            outcome.notes << QStringLiteral("cannot replace %1").arg(name);
            ProfileFile::RemoveTree(staging);
            return;
        }
    }
    syncFolder(m_strAppDir);
    ProfileFile::RemoveTree(staging);
    outcome.appApplied = true;
    if (!RecordVersion(L"APP_VER", version)) {
        outcome.internalFailure = true;
        outcome.notes << QStringLiteral("application %1 applied, but ver.dat cannot be written").arg(version);
        return;
    }
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

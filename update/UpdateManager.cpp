#include "UpdateManager.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "UpdateCheck.h"
#include "common/Globals.h"
#include "common/Log.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/Settings.h"

bool MoveNoReplace(const QString& from, const QString& to)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without no-replace renames: a hard link fails when the target exists, which is the same test.
    if (::link(src.constData(), dst.constData()) != 0)
        return false;
    ::unlink(src.constData());
    return true;
}

CUpdateManager::CUpdateManager()
    : m_notify([](const QString& text) { qCWarning(lcUpdate).noquote() << text; })
{
}

QString CUpdateManager::ServerUrl(const char* path) const
{
    QString base = m_strServer;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1String(path);
}

void CUpdateManager::StartUpdate()
{
    if (m_nState != 0)
        return;
    m_strServer = ReadUpdateServer();
    // Without a configured server the program never contacts the network.
    if (m_strServer.isEmpty())
        return;
    m_nState = 1;
    AddDownload(ServerUrl("/update/ver.dat"));
}

void CUpdateManager::OnConnected(FCHttpDownload*) { }

bool CUpdateManager::IsCompleteResponse(const CResponseInfo& response, int bytes)
{
    if (response.nStatusCode < 200 || response.nStatusCode > 299 || response.nReadResult != 1)
        return false;
    return !response.bHasContentLength || response.nContentLength == bytes;
}

bool CUpdateManager::Stage(FCHttpDownload* task, const QString& stagingName, QString* stagingPath)
{
    const CReceivedData data = task->TakeReceivedData();
    if (data.count() == 0)
        return false;
    if (!IsCompleteResponse(task->Response(), data.count())) {
        qCDebug(lcUpdate) << "dropped" << task->Request().strUrl << "status" << task->Response().nStatusCode
                          << "read result" << task->Response().nReadResult << "bytes" << data.count();
        return false;
    }
    QDir().mkpath(Paths::StateFile(QStringLiteral("temp")));
    QDir().mkpath(Paths::StateFile(QStringLiteral("Update")));
    *stagingPath = Paths::StateFile(QStringLiteral("temp/") + stagingName);
    return ProfileFile::WriteFileAtomically(*stagingPath, QByteArray::fromRawData(data.data(), data.count()));
}

bool CUpdateManager::Park(const QString& stagingPath, const QString& parkedName, const char* failureText)
{
    if (MoveNoReplace(stagingPath, Paths::StateFile(QStringLiteral("Update/") + parkedName)))
        return true;
    m_notify(QString::fromUtf8(failureText));
    return false;
}

void CUpdateManager::CompareVersions(const QString& versionFile)
{
    const VersionPair offered = ReadVersionFile(versionFile);
    if (offered.hasApp && offered.app > InstalledAppVersion)
        m_bAppNewer = 1;
    if (offered.hasData && offered.data > InstalledDataVersion)
        m_bDataNewer = 1;
}

void CUpdateManager::OnFinished(FCHttpDownload* task)
{
    QString staged;
    switch (m_nState) {
    case 1:
        if (!Stage(task, QStringLiteral("ver.dat"), &staged))
            return;
        CompareVersions(staged);
        if (m_bAppNewer) {
            m_nState = 2;
            AddDownload(ServerUrl("/update/app.zip"));
        } else if (m_bDataNewer) {
            m_nState = 3;
            AddDownload(ServerUrl("/update/data.zip"));
        } else {
            m_nState = 4;
        }
        // The version file is parked only after the archive it calls for: a parked version file is what makes the
        // next start hand over to the updater, which must then find something to install.
        if (m_bAppNewer || m_bDataNewer)
            m_strStagedVersion = staged;
        break;
    case 2:
        if (Stage(task, QStringLiteral("app.zip"), &staged) && Park(staged, QStringLiteral("app.zip"), "app升级失败!"))
            ParkVersionFile();
        break;
    case 3:
        if (Stage(task, QStringLiteral("data.zip"), &staged)
            && Park(staged, QStringLiteral("data.zip"), "data升级失败!"))
            ParkVersionFile();
        break;
    default:
        break;
    }
}

void CUpdateManager::ParkVersionFile()
{
    if (m_strStagedVersion.isEmpty())
        return;
    Park(m_strStagedVersion, QStringLiteral("ver.dat"), "ver.dat升级失败!");
    m_strStagedVersion.clear();
}

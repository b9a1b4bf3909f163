#include "UpdateManager.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include "UpdateCheck.h"
#include "UpdateSignature.h"
#include "common/Globals.h"
#include "common/Log.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/Settings.h"

namespace
{

// The archive's size the version file names (APP_SIZE or DATA_SIZE); 0 when it names none.
std::int64_t ArchiveSize(const QString& versionFile, bool app)
{
    bool ok = false;
    const qlonglong size = ReadVersionText(versionFile, app ? L"APP_SIZE" : L"DATA_SIZE").trimmed().toLongLong(&ok);
    return ok && size > 0 ? size : 0;
}

} // namespace

bool IsSecureUpdateServer(const QString& address)
{
    const QUrl url(address);
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    // localhost (which libcurl resolves to this machine itself), 127.0.0.0/8 and ::1.
    static const QRegularExpression loopback4(QStringLiteral("^127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    const QString host = url.host();
    return host == QLatin1String("localhost") || host == QLatin1String("::1") || loopback4.match(host).hasMatch();
}

CUpdateManager::CUpdateManager()
    : m_notify([](const QString& text) { qCWarning(lcUpdate).noquote() << text; })
{
}

CUpdateManager::~CUpdateManager()
{
    // The workers end first, so that none writes to the staging file after it is removed.
    while (Tasks().GetObjectCount() > 0)
        Tasks().RemoveObject(0);
    if (m_nState == 2 || m_nState == 3)
        QFile::remove(Paths::StateFile(m_nState == 2 ? QStringLiteral("temp/app.zip.part")
                                                     : QStringLiteral("temp/data.zip.part")));
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
    m_keys = UpdateSignature::TrustedKeys();
    if (m_keys.installed && m_keys.keys.isEmpty()) {
        m_nState = 4;
        Refuse(QStringLiteral("the keys folder %1 holds no usable key, so nothing can prove an update")
                   .arg(UpdateSignature::TrustedKeysDir()));
        return;
    }
    if (!m_keys.installed && !IsSecureUpdateServer(m_strServer)) {
        m_nState = 4;
        Refuse(QStringLiteral("%1 is neither https nor this machine, and no trusted key is installed to prove what "
                              "it sends")
                   .arg(m_strServer));
        return;
    }
    m_nState = 1;
    Fetch("/update/ver.dat", kVersionFileCap, kVersionFileSeconds);
}

void CUpdateManager::Fetch(const char* path, std::int64_t maxBytes, int deadlineSeconds, const QString& saveFile)
{
    CRequestInfo request;
    request.strUrl = ServerUrl(path);
    request.strUserAgent = DefaultUserAgent();
    // Without a key only the channel proves the sender, so it never leaves https.
    request.bHttpsRedirectsOnly = !m_keys.installed;
    request.nMaxBytes = maxBytes;
    request.nDeadlineSeconds = deadlineSeconds;
    request.strSaveFile = saveFile;
    AddDownloadTask(request);
}

void CUpdateManager::Refuse(const QString& why)
{
    qCWarning(lcUpdate).noquote() << "update refused:" << why;
    DropStaged();
}

void CUpdateManager::DropStaged()
{
    for (const QString& staged : { m_strStagedVersion, m_strStagedSignature })
        if (!staged.isEmpty())
            QFile::remove(staged);
    m_strStagedVersion.clear();
    m_strStagedSignature.clear();
}

void CUpdateManager::OnConnected(FCHttpDownload*) { }

bool CUpdateManager::IsCompleteResponse(const CResponseInfo& response, std::int64_t bytes)
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
    // Whatever an interrupted earlier run left in Update/ is replaced; the version file, which makes the next start
    // hand over, is parked last.
    const QByteArray from = QFile::encodeName(stagingPath);
    const QByteArray to = QFile::encodeName(Paths::StateFile(QStringLiteral("Update/") + parkedName));
    if (::rename(from.constData(), to.constData()) == 0)
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
            return Refuse(QStringLiteral("no complete version file of at most %1 bytes from %2")
                              .arg(kVersionFileCap)
                              .arg(task->Request().strUrl));
        m_strStagedVersion = staged;
        if (!m_keys.installed)
            return UseVersionFile();
        m_nState = 5;
        Fetch("/update/ver.dat.sig", 4096, kVersionFileSeconds);
        break;
    case 5: {
        if (!Stage(task, QStringLiteral("ver.dat.sig"), &staged))
            return Refuse(QStringLiteral("no signature of the version file from %1").arg(task->Request().strUrl));
        m_strStagedSignature = staged;
        QFile version(m_strStagedVersion), signature(staged);
        if (!version.open(QIODevice::ReadOnly) || !signature.open(QIODevice::ReadOnly)
            || !UpdateSignature::Verify(version.readAll(), signature.readAll(), m_keys.keys))
            return Refuse(QStringLiteral("the version file is not signed by a trusted key (%1)")
                              .arg(UpdateSignature::TrustedKeysDir()));
        // A signature never expires by itself: the signed date does, as apt's Valid-Until.
        const QString validText = ReadVersionText(m_strStagedVersion, L"VALID_UNTIL").trimmed();
        const QDateTime validUntil = QDateTime::fromString(validText, Qt::ISODate);
        if (!validUntil.isValid())
            return Refuse(
                QStringLiteral("the signed version file has no valid VALID_UNTIL (\"%1\")").arg(validText.left(40)));
        if (QDateTime::currentDateTimeUtc() > validUntil)
            return Refuse(QStringLiteral("the signed version file expired at %1: an old file replayed, or a server "
                                         "that was not signed again")
                              .arg(validUntil.toUTC().toString(Qt::ISODate)));
        UseVersionFile();
        break;
    }
    case 2:
    case 3: {
        const bool app = m_nState == 2;
        const QString name = app ? QStringLiteral("app.zip") : QStringLiteral("data.zip");
        // The archive was written to its staging file as it arrived.
        staged = Paths::StateFile(QStringLiteral("temp/") + name + QStringLiteral(".part"));
        const std::int64_t bytes = task->Response().nBytesReceived;
        const std::int64_t size = ArchiveSize(m_strStagedVersion, app);
        if (!IsCompleteResponse(task->Response(), bytes) || bytes == 0 || (size > 0 && bytes != size)) {
            QFile::remove(staged);
            return Refuse(QStringLiteral("no complete %1 of the size its version file names from %2")
                              .arg(name, task->Request().strUrl));
        }
        const QString wanted
            = ReadVersionText(m_strStagedVersion, app ? L"APP_SHA256" : L"DATA_SHA256").trimmed().toLower();
        QFile archive(staged);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!archive.open(QIODevice::ReadOnly) || !hash.addData(&archive)
            || QString::fromLatin1(hash.result().toHex()) != wanted) {
            QFile::remove(staged);
            return Refuse(QStringLiteral("%1 does not match the SHA-256 its version file names").arg(name));
        }
        if (Park(staged, name, app ? "app升级失败!" : "data升级失败!"))
            ParkVersionFile();
        break;
    }
    default:
        break;
    }
}

void CUpdateManager::UseVersionFile()
{
    NoteOfferedVersions(m_strStagedVersion);
    CompareVersions(m_strStagedVersion);
    const bool app = m_bAppNewer != 0;
    const char* hashKey = app ? "APP_SHA256" : "DATA_SHA256";
    if ((m_bAppNewer || m_bDataNewer)
        && ReadVersionText(m_strStagedVersion, QString::fromLatin1(hashKey).toStdWString().c_str()).trimmed().isEmpty())
        return Refuse(QStringLiteral("the version file offers an archive without its %1").arg(QLatin1String(hashKey)));
    if (!m_bAppNewer && !m_bDataNewer) {
        m_nState = 4; // the staged version file stays in temp/ until the next update overwrites it
        m_strStagedVersion.clear();
        m_strStagedSignature.clear();
        return;
    }
    // A signed version file names its archive's size, which caps the download; an unsigned one may not.
    std::int64_t size = ArchiveSize(m_strStagedVersion, app);
    if (size <= 0 && m_keys.installed)
        return Refuse(QStringLiteral("the signed version file offers an archive without its %1")
                          .arg(QLatin1String(app ? "APP_SIZE" : "DATA_SIZE")));
    if (size <= 0)
        size = kArchiveCapWithoutSize;
    const int seconds
        = static_cast<int>(std::min<std::int64_t>(kArchiveBaseSeconds + size / kSlowestBytesPerSecond, INT32_MAX));
    m_nState = app ? 2 : 3;
    const QString part
        = Paths::StateFile(QStringLiteral("temp/") + (app ? QStringLiteral("app.zip") : QStringLiteral("data.zip"))
                           + QStringLiteral(".part"));
    QDir().mkpath(Paths::StateFile(QStringLiteral("temp")));
    Fetch(app ? "/update/app.zip" : "/update/data.zip", size, seconds, part);
}

void CUpdateManager::NoteOfferedVersions(const QString& versionFile)
{
    const QString seenFile = Paths::StateFile(QStringLiteral("temp/seen-versions.dat"));
    const VersionPair seen = ReadVersionFile(seenFile);
    const VersionPair offered = ReadVersionFile(versionFile);
    VersionPair newest = seen;
    const auto check = [&](const char* what, bool has, int version, bool hadSeen, int seenVersion) {
        if (has && hadSeen && version < seenVersion)
            qCWarning(lcUpdate).noquote() << QStringLiteral("the update server offers %1 version %2, older than "
                                                            "version %3 it offered before: an old version file "
                                                            "replayed, or a release withdrawn")
                                                 .arg(QLatin1String(what))
                                                 .arg(version)
                                                 .arg(seenVersion);
    };
    check("application", offered.hasApp, offered.app, seen.hasApp, seen.app);
    check("data", offered.hasData, offered.data, seen.hasData, seen.data);
    if (offered.hasApp && (!seen.hasApp || offered.app > seen.app))
        newest.hasApp = true, newest.app = offered.app;
    if (offered.hasData && (!seen.hasData || offered.data > seen.data))
        newest.hasData = true, newest.data = offered.data;
    if (newest.app == seen.app && newest.data == seen.data && newest.hasApp == seen.hasApp
        && newest.hasData == seen.hasData)
        return;
    QByteArray text = "[Main]\n";
    if (newest.hasApp)
        text += "APP_VER=" + QByteArray::number(newest.app) + '\n';
    if (newest.hasData)
        text += "DATA_VER=" + QByteArray::number(newest.data) + '\n';
    if (!ProfileFile::WriteFileAtomically(seenFile, text))
        qCWarning(lcUpdate).noquote() << "cannot record the offered versions in" << seenFile;
}

void CUpdateManager::ParkVersionFile()
{
    // The version file is parked only after the archive it calls for (a parked version file is what makes the next
    // start hand over to the updater, which must then find something to install), and after its signature.
    if (m_strStagedVersion.isEmpty())
        return;
    if (!m_strStagedSignature.isEmpty())
        Park(m_strStagedSignature, QStringLiteral("ver.dat.sig"), "ver.dat升级失败!");
    else
        QFile::remove(Paths::StateFile(QStringLiteral("Update/ver.dat.sig")));
    Park(m_strStagedVersion, QStringLiteral("ver.dat"), "ver.dat升级失败!");
    m_strStagedVersion.clear();
    m_strStagedSignature.clear();
}

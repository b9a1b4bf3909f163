#include "UpdateCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "IniDocument.h"
#include "common/Globals.h"
#include "common/Paths.h"
#include "common/TextNumber.h"

VersionPair ReadVersionFile(const QString& path)
{
    VersionPair versions;
    CIniDocument document;
    document.LoadFile(QFile::encodeName(path).toStdString());
    if (const CIniSection* main = document.GetSection(L"Main")) {
        if (const CIniKey* key = main->GetKey(L"APP_VER")) {
            versions.hasApp = true;
            versions.app = ParseDecimal(key->GetValue());
        }
        if (const CIniKey* key = main->GetKey(L"DATA_VER")) {
            versions.hasData = true;
            versions.data = ParseDecimal(key->GetValue());
        }
    }
    return versions;
}

QString ReadVersionText(const QString& path, const wchar_t* key)
{
    CIniDocument document;
    document.LoadFile(QFile::encodeName(path).toStdString());
    if (const CIniSection* main = document.GetSection(L"Main"))
        if (const CIniKey* k = main->GetKey(key))
            return QString::fromStdWString(k->GetValue());
    return {};
}

int CheckPendingUpdate()
{
    const VersionPair installed = ReadVersionFile(Paths::StateFile(QStringLiteral("ver.dat")));
    if (installed.hasApp)
        InstalledAppVersion = installed.app;
    if (installed.hasData)
        InstalledDataVersion = installed.data;

    const VersionPair pending = ReadVersionFile(Paths::StateFile(QStringLiteral("update/ver.dat")));
    int result = 0;
    if (pending.hasApp && pending.app > InstalledAppVersion)
        result = 1;
    if (pending.hasData && pending.data > InstalledDataVersion)
        result = 1;
    return result;
}

namespace
{

// The creation time of the file in seconds since the epoch, or its modification time when the file system keeps
// no birth time. False when the file cannot be opened.
bool fileCreationTime(const QString& path, qint64* seconds)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct statx sx {
    };
    bool ok = false;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME, &sx) == 0) {
        if (sx.stx_mask & STATX_BTIME) {
            *seconds = sx.stx_btime.tv_sec;
            ok = true;
        } else if (sx.stx_mask & STATX_MTIME) {
            *seconds = sx.stx_mtime.tv_sec;
            ok = true;
        }
    }
    if (!ok) {
        struct stat st {
        };
        if (::fstat(fd, &st) == 0) {
            *seconds = st.st_mtime;
            ok = true;
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

bool IsUpdateDayAt(const QDateTime& now)
{
    qint64 created = 0;
    if (!fileCreationTime(Paths::AppFile(QStringLiteral("krel")), &created))
        return false;
    // Qt numbers the days Monday = 1 .. Sunday = 7; only equality matters.
    const int createdDay = QDateTime::fromSecsSinceEpoch(created, Qt::UTC).date().dayOfWeek();
    const int today = now.toLocalTime().date().dayOfWeek();
    return createdDay == today;
}

bool IsUpdateDay()
{
    return IsUpdateDayAt(QDateTime::currentDateTime());
}

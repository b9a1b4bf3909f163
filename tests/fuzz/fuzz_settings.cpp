// The settings file as found on disk: read every key, write one, and read it back.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <QFile>
#include <QString>

#include "common/ProfileFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static char file[64];
    static const QString path = [] {
        std::snprintf(file, sizeof file, "/tmp/krel-fuzz-settings-%d.ini", static_cast<int>(::getpid()));
        // Removed as the run ends (libFuzzer ends it with exit).
        std::atexit([] { std::remove(file); });
        return QString::fromLatin1(file);
    }();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const QString section = QStringLiteral("Config");
    for (const char* key : { "DisplayCard", "SoundCard", "BootRun", "CompanyID", "DisableMouseCtrl" })
        if (ProfileFile::ReadString(path, section, QString::fromLatin1(key), 63).size() > 63)
            __builtin_trap();
    if (!ProfileFile::WriteString(path, section, QStringLiteral("CompanyID"), QStringLiteral("1275")))
        return 0;
    if (ProfileFile::ReadString(path, section, QStringLiteral("companyid"), 63) != QStringLiteral("1275"))
        __builtin_trap(); // a written key must read back, whatever else the file holds
    return 0;
}

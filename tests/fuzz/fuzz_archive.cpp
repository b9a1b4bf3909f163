// Update archives: the entry checks against an independent reading of the name, and the whole reader on the input
// taken as a zip file. Whatever the input, nothing but plain files with safe names appears in the target folder.
#include <cstdlib>
#include <cstring>
#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "update/ZipArchive.h"

namespace
{

// Valid UTF-8 without overlong forms or surrogates, read by hand.
bool validUtf8(const unsigned char* s, std::size_t n)
{
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n)
            return false;
        unsigned cp = len == 1 ? c : c & (0xFF >> (len + 1));
        for (std::size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        const unsigned minimum[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool safeByHand(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    return validUtf8(reinterpret_cast<const unsigned char*>(name.data()), name.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 300));
    if (IsSafeEntryName(QByteArray::fromStdString(name)) != safeByHand(name))
        __builtin_trap();

    static QTemporaryDir work;
    const QString zip = work.path() + QStringLiteral("/in.zip");
    const QString dest = work.path() + QStringLiteral("/out");
    QDir(dest).removeRecursively();
    QDir().mkpath(dest);
    QFile file(zip);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    ArchiveLimits limits;
    limits.maxEntries = 64;
    limits.maxEntryBytes = 1 << 20;
    limits.maxTotalBytes = 1 << 20;
    QString why;
    ExtractArchive(zip, dest, limits, &why);
    qint64 total = 0;
    for (const QFileInfo& f :
         QDir(dest).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (!f.isFile() || f.isSymLink() || !safeByHand(f.fileName().toStdString()))
            __builtin_trap();
        total += f.size();
    }
    if (total > limits.maxTotalBytes)
        __builtin_trap();
    return 0;
}

#include "ZipArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStringDecoder>

#include <zip.h>

namespace
{

constexpr int kUnixOpsys = 3; // ZIP_OPSYS_UNIX

struct ZipCloser {
    zip_t* archive;
    ~ZipCloser()
    {
        if (archive)
            zip_discard(archive);
    }
};

struct EntryFile {
    zip_file_t* file;
    ~EntryFile()
    {
        if (file)
            zip_fclose(file);
    }
};

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

bool IsSafeEntryName(const QByteArray& name)
{
    if (name.isEmpty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    // Valid UTF-8 only: the name becomes a file name of ours.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(name);
    return !utf8.hasError() && decoded.toUtf8() == name;
}

bool IsPlainFileEntry(const QByteArray& name, int opsys, quint32 externalAttributes)
{
    if (name.endsWith('/'))
        return false;
    if (opsys == kUnixOpsys) {
        const quint32 mode = externalAttributes >> 16;
        // No type bits at all is how some tools write a plain file.
        const quint32 type = mode & S_IFMT;
        return type == 0 || type == S_IFREG;
    }
    // MS-DOS attributes: bit 4 is a folder.
    return (externalAttributes & 0x10) == 0;
}

bool ExtractArchive(const QString& zipPath, const QString& dest, const ArchiveLimits& limits, QString* why)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ZipCloser closer { archive };
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        *why = QStringLiteral("cannot open the archive: ") + QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        return false;
    }
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0 || count > limits.maxEntries) {
        *why = QStringLiteral("%1 entries (at most %2)").arg(count).arg(limits.maxEntries);
        return false;
    }

    // The whole table first: nothing is written from an archive that holds one bad entry.
    qint64 stated = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0 || !st.name) {
            *why = QStringLiteral("entry %1 cannot be read").arg(i);
            return false;
        }
        const QByteArray name(st.name);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(archive, static_cast<zip_uint64_t>(i), 0, &opsys, &attributes);
        if (!IsSafeEntryName(name)) {
            *why = QStringLiteral("entry \"%1\" is not a plain file name").arg(QString::fromUtf8(name.left(100)));
            return false;
        }
        if (!IsPlainFileEntry(name, opsys, attributes)) {
            *why = QStringLiteral("entry \"%1\" is a link or a folder").arg(QString::fromUtf8(name));
            return false;
        }
        const qint64 size = (st.valid & ZIP_STAT_SIZE) ? static_cast<qint64>(st.size) : limits.maxEntryBytes + 1;
        stated += size;
        if (size > limits.maxEntryBytes || stated > limits.maxTotalBytes) {
            *why = QStringLiteral("entry \"%1\" unpacks beyond the size limit").arg(QString::fromUtf8(name));
            return false;
        }
    }

    qint64 total = 0;
    std::vector<char> buffer(256 * 1024);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st);
        const QByteArray name(st.name);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(archive, static_cast<zip_uint64_t>(i), 0, &opsys, &attributes);
        const mode_t mode
            = opsys == kUnixOpsys && ((attributes >> 16) & 0777) ? ((attributes >> 16) & 0755) | 0600 : 0644;

        EntryFile entry { zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0) };
        if (!entry.file) {
            *why = QStringLiteral("entry \"%1\": %2")
                       .arg(QString::fromUtf8(name), QString::fromUtf8(zip_strerror(archive)));
            return false;
        }
        const QByteArray target = QFile::encodeName(dest) + '/' + name;
        const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            *why = QStringLiteral("cannot write %1").arg(QFile::decodeName(target));
            return false;
        }
        qint64 written = 0;
        bool ok = true;
        for (;;) {
            const zip_int64_t n = zip_fread(entry.file, buffer.data(), buffer.size());
            if (n < 0) {
                *why = QStringLiteral("entry \"%1\" is damaged: %2")
                           .arg(QString::fromUtf8(name), QString::fromUtf8(zip_file_strerror(entry.file)));
                ok = false;
                break;
            }
            if (n == 0)
                break;
            written += n;
            total += n;
            // The stated sizes may lie: the bytes really unpacked count.
            if (written > limits.maxEntryBytes || total > limits.maxTotalBytes) {
                *why = QStringLiteral("entry \"%1\" unpacks beyond the size limit").arg(QString::fromUtf8(name));
                ok = false;
                break;
            }
            if (!writeAll(fd, buffer.data(), n)) {
                *why = QStringLiteral("cannot write %1").arg(QFile::decodeName(target));
                ok = false;
                break;
            }
        }
        ::fchmod(fd, mode);
        ok = ok && ::fsync(fd) == 0;
        ::close(fd);
        if (!ok) {
            if (why->isEmpty())
                *why = QStringLiteral("cannot write %1").arg(QFile::decodeName(target));
            return false;
        }
    }
    return true;
}

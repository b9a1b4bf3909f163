#pragma once

#include <QByteArray>
#include <QString>

// Reading the update archives (libzip). An archive holds plain files at its top level; anything else refuses the
// whole archive before a single byte is written.
struct ArchiveLimits {
    int maxEntries = 10000;
    qint64 maxEntryBytes = qint64(1) << 30; // 1 GiB unpacked per file
    qint64 maxTotalBytes = qint64(2) << 30; // 2 GiB unpacked in all
};

// A name an archive entry may have: one plain file name (no folder part, not "." or "..", no "/" or "\",
// no control characters), at most 255 bytes of valid UTF-8.
bool IsSafeEntryName(const QByteArray& name);

// What an entry is, from its external attributes: unix_mode is the Unix mode when the archive was made on Unix
// (opsys 3), else 0. A link or a folder is refused.
bool IsPlainFileEntry(const QByteArray& name, int opsys, quint32 externalAttributes);

// Unpacks every file of the archive into dest (an existing, empty folder). Checks the whole table of entries
// first (names, kinds, counts, the sizes the archive states), then counts the bytes really unpacked against the
// same limits and checks each entry's CRC. False with the reason on any fault; what was written is then the
// caller's to remove. Each unpacked file keeps the Unix permission bits (rwx only) the archive gives, or 0644.
bool ExtractArchive(const QString& zip, const QString& dest, const ArchiveLimits& limits, QString* why);

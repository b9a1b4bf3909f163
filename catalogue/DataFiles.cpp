#include "DataFiles.h"

#include <QFile>
#include <QtEndian>

#include "common/Globals.h"

namespace {

std::int32_t readInt(const char* p)
{
    return qFromLittleEndian<qint32>(p);
}

QString readName(const char* p)
{
    char16_t units[kNameFieldBytes / 2];
    int n = 0;
    for (; n < kNameFieldBytes / 2; ++n) {
        units[n] = qFromLittleEndian<quint16>(p + 2 * n);
        if (units[n] == 0)
            break;
    }
    return QString::fromUtf16(units, n);
}

// How many whole records of recordBytes the file holds, bounded by the count it claims.
std::size_t recordsHeld(const QByteArray& bytes, int recordBytes)
{
    if (bytes.size() < 4)
        return 0;
    const std::int32_t count = readInt(bytes.constData());
    if (count <= 0)
        return 0;
    const auto whole = static_cast<std::size_t>((bytes.size() - 4) / recordBytes);
    return std::min(static_cast<std::size_t>(count), whole);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void appendInt(QByteArray& out, std::int32_t v)
{
    char b[4];
    qToLittleEndian<qint32>(v, b);
    out.append(b, 4);
}

void appendName(QByteArray& out, const QString& name)
{
    char field[kNameFieldBytes] = {};
    const int n = std::min<int>(static_cast<int>(name.size()), kNameFieldBytes / 2 - 1);
    for (int i = 0; i < n; ++i)
        qToLittleEndian<quint16>(name[i].unicode(), field + 2 * i);
    out.append(field, kNameFieldBytes);
}

} // namespace

std::vector<TypeRecord> ParseTypeFile(const QByteArray& bytes)
{
    const std::size_t n = recordsHeld(bytes, kTypeRecordBytes);
    std::vector<TypeRecord> records;
    records.reserve(n);
    const char* p = bytes.constData() + 4;
    for (std::size_t i = 0; i < n; ++i, p += kTypeRecordBytes)
        records.push_back({readInt(p), readName(p + 4)});
    return records;
}

std::vector<VideoRecord> ParseVideoFile(const QByteArray& bytes)
{
    const std::size_t n = recordsHeld(bytes, kVideoRecordBytes);
    std::vector<VideoRecord> records;
    records.reserve(n);
    const char* p = bytes.constData() + 4;
    for (std::size_t i = 0; i < n; ++i, p += kVideoRecordBytes)
        records.push_back({readInt(p), readName(p + 4), readInt(p + 4 + kNameFieldBytes),
                           readInt(p + 8 + kNameFieldBytes)});
    return records;
}

std::vector<TypeRecord> ReadTypeFile(const QString& path)
{
    return ParseTypeFile(readAll(path));
}

std::vector<VideoRecord> ReadVideoFile(const QString& path)
{
    return ParseVideoFile(readAll(path));
}

QByteArray EncodeTypeFile(const std::vector<TypeRecord>& records)
{
    QByteArray out;
    out.reserve(4 + kTypeRecordBytes * static_cast<qsizetype>(records.size()));
    appendInt(out, static_cast<std::int32_t>(records.size()));
    for (const TypeRecord& r : records) {
        appendInt(out, r.id);
        appendName(out, r.name);
    }
    return out;
}

QByteArray EncodeVideoFile(const std::vector<VideoRecord>& records)
{
    QByteArray out;
    out.reserve(4 + kVideoRecordBytes * static_cast<qsizetype>(records.size()));
    appendInt(out, static_cast<std::int32_t>(records.size()));
    for (const VideoRecord& r : records) {
        appendInt(out, r.id);
        appendName(out, r.name);
        appendInt(out, r.value2);
        appendInt(out, r.value3);
    }
    return out;
}

QString TypeFilePath()
{
    return g_strAppDir + QStringLiteral("Data/date.dat");
}

QString VideoFilePath(int typeId)
{
    return g_strAppDir + QStringLiteral("Data/Data%1.dat").arg(typeId);
}

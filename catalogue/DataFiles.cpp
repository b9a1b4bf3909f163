#include "DataFiles.h"

#include <QFile>
#include <QtEndian>

#include "common/Globals.h"
#include "common/Paths.h"

namespace
{

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
    // Taken as they are: fromUtf16 would read a first U+FEFF or U+FFFE as a byte-order mark and drop or swap it.
    return QString(reinterpret_cast<const QChar*>(units), n);
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

CDataFileView::CDataFileView(QByteArray bytes, int recordBytes)
    : m_bytes(std::move(bytes))
    , m_nRecordBytes(recordBytes)
{
    if (m_bytes.size() < 4)
        return;
    const std::int32_t count = readInt(m_bytes.constData());
    if (count <= 0)
        return;
    const qsizetype whole = (m_bytes.size() - 4) / recordBytes;
    m_nCount = static_cast<int>(std::min<qsizetype>(count, whole));
}

std::int32_t CDataFileView::id(int index) const
{
    return readInt(record(index));
}

QString CDataFileView::name(int index) const
{
    return readName(record(index) + 4);
}

std::int32_t CDataFileView::value2(int index) const
{
    return m_nRecordBytes == kVideoRecordBytes ? readInt(record(index) + 4 + kNameFieldBytes) : 0;
}

std::int32_t CDataFileView::value3(int index) const
{
    return m_nRecordBytes == kVideoRecordBytes ? readInt(record(index) + 8 + kNameFieldBytes) : 0;
}

std::vector<TypeRecord> ParseTypeFile(const QByteArray& bytes)
{
    const CDataFileView view(bytes, kTypeRecordBytes);
    std::vector<TypeRecord> records;
    records.reserve(static_cast<std::size_t>(view.size()));
    for (int i = 0; i < view.size(); ++i)
        records.push_back({ view.id(i), view.name(i) });
    return records;
}

std::vector<VideoRecord> ParseVideoFile(const QByteArray& bytes)
{
    const CDataFileView view(bytes, kVideoRecordBytes);
    std::vector<VideoRecord> records;
    records.reserve(static_cast<std::size_t>(view.size()));
    for (int i = 0; i < view.size(); ++i)
        records.push_back({ view.id(i), view.name(i), view.value2(i), view.value3(i) });
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

CDataFileView OpenTypeFile(const QString& path)
{
    return CDataFileView(readAll(path), kTypeRecordBytes);
}

CDataFileView OpenVideoFile(const QString& path)
{
    return CDataFileView(readAll(path), kVideoRecordBytes);
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
    return Paths::StateFile(QStringLiteral("Data/date.dat"));
}

QString VideoFilePath(int typeId)
{
    return Paths::StateFile(QStringLiteral("Data/Data%1.dat").arg(typeId));
}

#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

// The two binary data files of the catalogue. All integers are signed 32-bit little-endian; a name is a field
// of 20 UTF-16LE code units ending at its first zero unit.
//   date.dat:    count, then per type  (id, name[40 bytes])                    = 44 bytes a record
//   Data<n>.dat: count, then per video (id, name[40 bytes], value2, value3)   = 52 bytes a record

struct TypeRecord {
    std::int32_t id = 0;
    QString name;
};

struct VideoRecord {
    std::int32_t id = 0;
    QString name;
    std::int32_t value2 = 0;
    std::int32_t value3 = 0; // page scroll offset of the video page
};

inline constexpr int kNameFieldBytes = 40;
inline constexpr int kTypeRecordBytes = 4 + kNameFieldBytes;
inline constexpr int kVideoRecordBytes = 4 + kNameFieldBytes + 8;

// The records of one data file, decoded on demand from the file's bytes: loading a list costs no more than
// reading its file, and only the rows on the screen are ever decoded. Holds only the records that are whole in
// the bytes, never more than the count the file claims, and none for a negative count.
class CDataFileView
{
public:
    CDataFileView() = default;
    CDataFileView(QByteArray bytes, int recordBytes);

    int size() const { return m_nCount; }
    std::int32_t id(int index) const;
    QString name(int index) const;
    // value2 and value3 exist in video files only; 0 for type files.
    std::int32_t value2(int index) const;
    std::int32_t value3(int index) const;

private:
    const char* record(int index) const { return m_bytes.constData() + 4 + std::size_t(index) * m_nRecordBytes; }

    QByteArray m_bytes;
    int m_nRecordBytes = 0;
    int m_nCount = 0;
};

// Decoders of a whole file's bytes. A file shorter than its count says yields only the records that are whole in
// it; a negative count yields none. Nothing is read outside the bytes given.
std::vector<TypeRecord> ParseTypeFile(const QByteArray& bytes);
std::vector<VideoRecord> ParseVideoFile(const QByteArray& bytes);

// Readers of the files; a file that cannot be opened yields no record.
std::vector<TypeRecord> ReadTypeFile(const QString& path);
std::vector<VideoRecord> ReadVideoFile(const QString& path);
CDataFileView OpenTypeFile(const QString& path);
CDataFileView OpenVideoFile(const QString& path);

// Encoders used by the catalogue builder; names longer than 19 code units are the caller's error.
QByteArray EncodeTypeFile(const std::vector<TypeRecord>& records);
QByteArray EncodeVideoFile(const std::vector<VideoRecord>& records);

QString TypeFilePath(); // <application folder>/Data/date.dat
QString VideoFilePath(int typeId); // <application folder>/Data/Data<n>.dat

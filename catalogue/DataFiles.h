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

// Decoders of a whole file's bytes. A file shorter than its count says yields only the records that are whole in
// it; a negative count yields none. Nothing is read outside the bytes given.
std::vector<TypeRecord> ParseTypeFile(const QByteArray& bytes);
std::vector<VideoRecord> ParseVideoFile(const QByteArray& bytes);

// Readers of the files; a file that cannot be opened yields no record.
std::vector<TypeRecord> ReadTypeFile(const QString& path);
std::vector<VideoRecord> ReadVideoFile(const QString& path);

// Encoders used by the catalogue builder; names longer than 19 code units are the caller's error.
QByteArray EncodeTypeFile(const std::vector<TypeRecord>& records);
QByteArray EncodeVideoFile(const std::vector<VideoRecord>& records);

QString TypeFilePath();            // <application folder>/Data/date.dat
QString VideoFilePath(int typeId); // <application folder>/Data/Data<n>.dat

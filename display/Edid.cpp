#include "Edid.h"

#include <cmath>

namespace
{

constexpr int kBlock = 128;

bool checksumOk(const unsigned char* block)
{
    unsigned sum = 0;
    for (int i = 0; i < kBlock; ++i)
        sum += block[i];
    return (sum & 0xFF) == 0;
}

// Text of an 18-byte display descriptor: up to 13 characters ended by a line feed, padded with spaces. Only
// printable ASCII is kept, so a hostile block cannot put control characters into the settings or the dialog.
QString descriptorText(const unsigned char* d)
{
    QString text;
    for (int i = 5; i < 18 && d[i] != '\n'; ++i)
        if (d[i] >= 0x20 && d[i] < 0x7F)
            text += QLatin1Char(static_cast<char>(d[i]));
    return text.trimmed();
}

void readCta(const unsigned char* e, EdidInfo* info)
{
    info->hasCta = true;
    // Data blocks run from byte 4 to the offset of the detailed timings (byte 2); 0 means none, and no offset may
    // point past the block's checksum.
    const int end = e[2];
    if (e[1] < 3 || end < 4 || end > kBlock - 1)
        return;
    for (int at = 4; at < end;) {
        const int tag = e[at] >> 5;
        const int length = e[at] & 0x1F;
        if (at + 1 + length > end)
            break;
        const unsigned char* p = e + at + 1;
        if (tag == 3 && length >= 3) {
            const unsigned oui = p[0] | (p[1] << 8) | (p[2] << 16);
            if (oui == 0x000C03 || oui == 0xC45DD8)
                info->hasHdmi = true;
        }
        at += 1 + length;
    }
}

} // namespace

QString EdidInfo::Model() const
{
    if (!name.isEmpty())
        return name;
    return make.isEmpty() ? QString() : QStringLiteral("%1 0x%2").arg(make).arg(productCode, 4, 16, QLatin1Char('0'));
}

int EdidInfo::DiagonalCm() const
{
    return static_cast<int>(std::lround(std::hypot(widthCm, heightCm)));
}

EdidInfo ParseEdid(const QByteArray& bytes)
{
    EdidInfo info;
    static const unsigned char header[8] = { 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00 };
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (bytes.size() < kBlock || !std::equal(header, header + 8, b) || !checksumOk(b))
        return info;
    info.valid = true;

    const unsigned id = (b[8] << 8) | b[9];
    for (int shift : { 10, 5, 0 }) {
        const unsigned letter = (id >> shift) & 0x1F;
        info.make += (letter >= 1 && letter <= 26) ? QLatin1Char(static_cast<char>('A' + letter - 1)) : QLatin1Char('?');
    }
    info.productCode = b[10] | (b[11] << 8);
    const quint32 number = b[12] | (b[13] << 8) | (b[14] << 16) | (static_cast<quint32>(b[15]) << 24);
    // Both sizes 0: undefined; one of them 0: the other byte is an aspect ratio (EDID 1.4), not a size.
    if (b[21] && b[22]) {
        info.widthCm = b[21];
        info.heightCm = b[22];
    }
    for (int d = 54; d < 126; d += 18) {
        const unsigned char* desc = b + d;
        if (desc[0] || desc[1] || desc[2])
            continue; // a detailed timing
        if (desc[3] == 0xFC)
            info.name = descriptorText(desc);
        else if (desc[3] == 0xFF)
            info.serial = descriptorText(desc);
    }
    // Panels without a serial leave the number 0 or fill it with 0x01010101.
    if (info.serial.isEmpty() && number != 0 && number != 0x01010101u)
        info.serial = QString::number(number);

    const int extensions = b[126];
    for (int n = 1; n <= extensions && (n + 1) * kBlock <= bytes.size(); ++n) {
        const unsigned char* e = b + n * kBlock;
        if (e[0] == 0x02 && checksumOk(e))
            readCta(e, &info);
    }
    return info;
}

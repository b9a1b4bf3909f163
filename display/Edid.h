#pragma once

#include <QByteArray>
#include <QString>

// The few fields of a monitor's EDID that tell which monitor it is and whether it is a television, read by the
// VESA E-EDID 1.3/1.4 base block and the CTA-861 extension. Anything malformed (short, a wrong header or checksum)
// gives an invalid result; a broken extension is skipped and the base block's fields are kept.
struct EdidInfo {
    bool valid = false;
    QString make; // the three-letter PNP manufacturer id, "GSM"
    int productCode = 0;
    QString name; // the display product name descriptor, "LG TV"; empty when there is none
    QString serial; // the serial number descriptor, else the base block's number in decimal; empty when neither
    int widthCm = 0; // the image size, 0 when undefined (projectors) or given only as an aspect ratio
    int heightCm = 0;
    bool hasCta = false; // a CTA-861 extension block is there
    bool hasHdmi = false; // it holds an HDMI (1.x or Forum) vendor-specific block

    // The model as a person reads it: the product name, else "MAKE 0x1234".
    QString Model() const;
    // The diagonal in centimetres, 0 when the size is undefined.
    int DiagonalCm() const;
};

EdidInfo ParseEdid(const QByteArray& bytes);

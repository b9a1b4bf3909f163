#pragma once

#include <QImage>
#include <QString>

// The text as a QR code (error correction M), black modules on white with the standard four-module quiet zone,
// each module scale pixels wide; a null image when the text does not fit a QR code.
QImage QrCodeImage(const QString& text, int scale);

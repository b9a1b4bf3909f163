#include "QrCode.h"

#include <QPainter>

#include <qrencode.h>

QImage QrCodeImage(const QString& text, int scale)
{
    const QByteArray bytes = text.toUtf8();
    QRcode* code = QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M);
    if (!code)
        return {};
    constexpr int quiet = 4;
    const int side = (code->width + 2 * quiet) * scale;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + quiet) * scale, (y + quiet) * scale, scale, scale, Qt::black);
    painter.end();
    QRcode_free(code);
    return image;
}

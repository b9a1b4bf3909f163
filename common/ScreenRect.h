#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

// A monitor rectangle as left, top, right, bottom (right and bottom exclusive) in virtual-desktop coordinates.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool isEmpty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    QRect toQRect() const { return QRect(left, top, width(), height()); }
    static ScreenRect fromQRect(const QRect& r) { return { r.x(), r.y(), r.x() + r.width(), r.y() + r.height() }; }
    bool operator==(const ScreenRect&) const = default;

    // The settings' form, "left top right bottom".
    QString toText() const { return QString::asprintf("%d %d %d %d", left, top, right, bottom); }
    // Reads that form; false (and *out untouched) when it is not four numbers separated by single spaces.
    static bool fromText(const QString& text, ScreenRect* out)
    {
        const QStringList parts = text.split(QLatin1Char(' '));
        if (parts.size() != 4)
            return false;
        bool ok[4] = {};
        const ScreenRect r { parts[0].toInt(&ok[0]), parts[1].toInt(&ok[1]), parts[2].toInt(&ok[2]),
                             parts[3].toInt(&ok[3]) };
        if (!(ok[0] && ok[1] && ok[2] && ok[3]))
            return false;
        *out = r;
        return true;
    }
};

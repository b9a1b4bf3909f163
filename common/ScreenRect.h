#pragma once

#include <QRect>

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
};

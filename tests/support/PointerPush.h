#pragma once

#include <QPoint>

typedef struct _XDisplay Display;

// Moves the pointer by the device from a start point (so pointer barriers apply) and returns where it ended.
QPoint pushPointer(Display* dpy, QPoint from, int dx, int dy);

// A connection of its own to the X server of DISPLAY, for pushing the pointer.
class PointerPusher
{
public:
    PointerPusher();
    ~PointerPusher();
    PointerPusher(const PointerPusher&) = delete;
    PointerPusher& operator=(const PointerPusher&) = delete;
    bool isOpen() const { return m_pDisplay != nullptr; }
    QPoint push(QPoint from, int dx, int dy) { return pushPointer(m_pDisplay, from, dx, dy); }

private:
    Display* m_pDisplay;
};

#pragma once

#include <QByteArray>
#include <QString>

// The raw EDID of the monitor that a screen (QScreen::name()) shows, as the display server has it: under X11 the
// EDID property of the RandR output behind the monitor of that name (or of the output of that name, where the
// server has no monitors). Empty where there is none: a virtual monitor, a Wayland session (whose outputs give
// make and model only), no display.
QByteArray ReadScreenEdid(const QString& screenName);

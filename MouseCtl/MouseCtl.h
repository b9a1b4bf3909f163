#pragma once

// Keeps the mouse pointer on the desktop monitors, off the television.
#define MOUSECTL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Confines the pointer to the monitors other than the TV monitor (the one stored as DisplayCard in the settings;
// every monitor counts as desktop when none is stored). Returns 1 when a confinement is in place, else 0.
// Under Wayland or without an X display it does nothing and returns 0.
MOUSECTL_API int MouseLimitEnable(void);

// The same for a TV monitor given by its name (the RandR monitor's, which is QScreen::name() under X11), or, where
// no monitor has that name, by its rectangle in the X server's pixels (right and bottom exclusive). Replaces any
// confinement in place.
MOUSECTL_API int MouseLimitEnableTv(const char* monitorName, int left, int top, int right, int bottom);

// Lifts the confinement. Harmless when nothing is confined.
MOUSECTL_API void MouseLimitDisable(void);

#ifdef __cplusplus
}
#endif

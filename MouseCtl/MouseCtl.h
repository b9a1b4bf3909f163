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

// Lifts the confinement. Harmless when nothing is confined.
MOUSECTL_API void MouseLimitDisable(void);

#ifdef __cplusplus
}
#endif

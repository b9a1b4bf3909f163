#pragma once

// Keeps the mouse pointer on the desktop monitors, off the television.
#ifdef __cplusplus
extern "C" {
#endif

// Confines the pointer to the monitors other than the TV monitor (the one stored as DisplayCard in the settings;
// every monitor counts as desktop when none is stored). Returns 1 when a confinement is in place, else 0.
// Under Wayland or without an X display it does nothing and returns 0.
int MouseLimitEnable(void);

// Lifts the confinement. Harmless when nothing is confined.
void MouseLimitDisable(void);

#ifdef __cplusplus
}
#endif

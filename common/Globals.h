#pragma once

#include <atomic>
#include <cstdint>

#include <QColor>
#include <QString>

#include "ScreenRect.h"

// Process-wide values. Those read or written by more than one thread are atomic.

// The executable's directory with a trailing "/"; set once by the entry (tests point it at a temp folder).
extern QString g_strAppDir;
// The monitor chosen for the television; empty means the primary screen.
extern ScreenRect g_rcTvScreen;
// Index of the sound card (audio sink, in the server's order) chosen for the television.
extern std::atomic<int> g_nSoundCard;
// Background of the TV window; grey once TV output starts.
extern QColor g_clrBackground;
extern int g_bMouseCtrlDisabled;
// The custom code of the remote last seen or learned.
extern std::atomic<std::uint16_t> g_wCompanyID;
// Set while the remote-code dialog learns a code; the reader then hands raw codes to that dialog only.
extern std::atomic<bool> g_bIRLearning;
// Page scroll offset of the video being played.
extern int g_nScrollY;
// The audio server's index of the newest playback stream of this process tree (the stream the volume keys step);
// kNoStream before the first one.
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFFu;
extern std::atomic<std::uint32_t> g_hWaveOut;
// Versions of the installed application and data, read by the start-up update check.
extern int InstalledAppVersion;
extern int InstalledDataVersion;

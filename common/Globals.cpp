#include "Globals.h"

QString g_strAppDir;
ScreenRect g_rcTvScreen;
std::atomic<int> g_nSoundCard { 0 };
QColor g_clrBackground;
int g_bMouseCtrlDisabled = 0;
std::atomic<std::uint16_t> g_wCompanyID { 0 };
std::atomic<bool> g_bIRLearning { false };
int g_nScrollY = 0;
std::atomic<std::uint32_t> g_hWaveOut { kNoStream };
int InstalledAppVersion = 0;
int InstalledDataVersion = 0;

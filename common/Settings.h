#pragma once

#include <QString>

// Every key of Krel.ini, section Config, in one place. Each reads as "" (numbers as 0) when absent.
namespace SettingKey
{
inline constexpr char DisplayCard[] = "DisplayCard"; // "%d %d %d %d": the TV monitor's rectangle
inline constexpr char SoundCard[] = "SoundCard"; // description of the TV's sound card, trimmed
inline constexpr char BootRun[] = "BootRun"; // 0 or 1: start at boot check box
inline constexpr char CompanyID[] = "CompanyID"; // learned remote custom code, 0..65535
inline constexpr char DisableMouseCtrl[] = "DisableMouseCtrl"; // non-zero: do not confine the pointer at start
inline constexpr char LocalMovieFolders[] = "LocalMovieFolders"; // ";"-separated folders replacing the roots
inline constexpr char UpdateServer[] = "UpdateServer"; // base address of the update server; absent: none
inline constexpr char InputDevices[] = "InputDevices"; // 0: the kernel's input devices give no remote keys
inline constexpr char PhoneRemote[] = "PhoneRemote"; // 1: the phone remote listens on the home network
inline constexpr char PhoneRemotePort[] = "PhoneRemotePort"; // its TCP port; absent: 48080
inline constexpr char DisplayName[] = "DisplayName"; // the TV monitor's identity: "connector|make|model|serial"
inline constexpr char Cec[] = "Cec"; // 0: no HDMI-CEC at all; else a CEC adapter, where there is one, is used
inline constexpr char CecWakeTv[] = "CecWakeTv"; // 0: starting TV output neither wakes the TV nor switches its input
inline constexpr char CecStandbyOnShutdown[] = "CecStandbyOnShutdown"; // 1: shutting down puts the TV to standby
inline constexpr char AutoNextEpisode[] = "AutoNextEpisode"; // 0: an ended episode or film is not followed by the next
inline constexpr char StillWatchingHours[]
    = "StillWatchingHours"; // hours of playback without a key before "还在看吗" (3; 0: never)
inline constexpr char SpeakMenus[] = "SpeakMenus"; // 1: the TV speaks its menus, prompts and playback (朗读菜单)
inline constexpr char SpeechRate[] = "SpeechRate"; // spoken menus' speed in words a minute (80..450; absent: 200)
inline constexpr char SpeechPitch[] = "SpeechPitch"; // and their pitch (0..100; absent: 50)
inline constexpr char WebEngine[]
    = "WebEngine"; // "qtwebengine" keeps the web view on Qt WebEngine; else Chromium where it fits
} // namespace SettingKey

inline constexpr char kSettingsSection[] = "Config";
// Values are read into 64-character buffers, so at most 63 characters come back. The program's own keys
// (LocalMovieFolders, UpdateServer, DisplayName) hold lists and addresses longer than that and are read whole, up to
// the profile functions' own limit.
inline constexpr int kSettingMaxChars = 63;
inline constexpr int kOwnSettingMaxChars = 32767;

QString ReadSetting(const QString& key);
// The value read with the forgiving decimal conversion (0 when absent or not a number).
int ReadSettingNumber(const QString& key);
bool WriteSetting(const QString& key, const QString& value);

// Adds (flag 1) or removes (any other flag) the autostart entry for this executable: machine-wide where that folder
// can be written (root), otherwise in the user's autostart folder. Removing takes away whichever exists. Returns
// false when no entry could be written, or an entry could not be removed.
bool SetBootRun(int flag);
// Writes the machine-wide autostart entry, for an administrator (krel --autostart=system); false when that folder
// cannot be written.
bool SetMachineBootRun();
// Whether an autostart entry for this executable exists (machine-wide or the user's): what is in effect.
bool IsBootRunInEffect();
// The update server's base address. It decides what code is fetched, so it is taken from the machine
// configuration (/etc/krel/krel.conf, section Config) when that file names one and only root can write it, and
// from the settings file only when no other account can rewrite that file. "" means none.
QString ReadUpdateServer();
// Whether only root (rootOnly) or root and this user can change the file: it belongs to one of them and neither it
// nor its folder is writable by others (a folder shared with the sticky bit, like /tmp, protects each owner's
// files). What decides which code is installed is trusted only so.
bool OnlyOwnerCanChange(const QString& path, bool rootOnly);
// The autostart entry's text for an executable path (exposed for tests): it starts "PATH --autostart".
QString BootRunDesktopEntry(const QString& executablePath);

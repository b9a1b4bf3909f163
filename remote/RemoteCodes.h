#pragma once

#include <cstdint>
#include <optional>

#include <QString>

// The two remote families the program understands, by custom code.
inline constexpr std::uint16_t kFamilyLgSamsung = 0x04FB;
inline constexpr std::uint16_t kFamilySonyToshiba = 0x53AC;

// The command of a key of a remote, 0 when the family or the key has none.
int LookupCommand(std::uint16_t customCode, std::uint8_t keyByte);

// The key byte that gives command on a remote of that family, if any (used by the software remote).
std::optional<std::uint8_t> KeyByteFor(std::uint16_t customCode, int command);

// The command with that name ("Digit3", "VolumeUp", ...), or 0.
int CommandByName(const QString& name);

// The label of a remote family as the remote-code dialog shows it: "索尼/东芝", "LG/三星" or "未知".
QString CompanyLabel(std::uint16_t customCode);

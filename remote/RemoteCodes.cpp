#include "RemoteCodes.h"

#include <array>

#include "common/RemoteCommand.h"

namespace
{

// Per command 1..32, the key byte of each family; -1 where the family has no key for it.
struct Row {
    int command;
    int lgSamsung;
    int sonyToshiba;
};

constexpr std::array<Row, 31> kTable { {
    { 1, 0x08, 0x17 },  { 2, 0x09, 0x1B },  { 3, 0x60, 0x5E },  { 4, 0x0B, 0x09 },  { 5, 0x0E, -1 },
    { 6, 0x39, 0x5F },  { 8, 0x4D, -1 },    { 9, 0x47, -1 },    { 10, 0x10, 0x06 }, { 11, 0x11, 0x0D },
    { 12, 0x12, 0x0E }, { 13, 0x13, 0x0F }, { 14, 0x14, 0x1C }, { 15, 0x15, 0x1D }, { 16, 0x16, 0x1E },
    { 17, 0x17, 0x1F }, { 18, 0x18, 0x04 }, { 19, 0x19, 0x05 }, { 20, 0x1C, 0x1A }, { 21, 0x1A, 0x07 },
    { 22, 0x02, 0x12 }, { 23, 0x03, 0x15 }, { 24, 0x01, 0x18 }, { 25, 0x00, 0x19 }, { 26, 0x0C, -1 },
    { 27, 0x1B, 0x11 }, { 28, 0x43, 0x53 }, { 29, 0x44, 0x33 }, { 30, 0x4F, 0x08 }, { 31, 0x63, -1 },
    { 32, 0x54, -1 },
} };

int keyOf(const Row& row, std::uint16_t customCode)
{
    if (customCode == kFamilyLgSamsung)
        return row.lgSamsung;
    if (customCode == kFamilySonyToshiba)
        return row.sonyToshiba;
    return -1;
}

struct Name {
    const char* name;
    int command;
};

constexpr std::array<Name, 27> kNames { {
    { "Power", RC_Power },       { "LeaveVideo", RC_LeaveVideo },
    { "Digit0", RC_Digit0 },     { "Digit1", RC_Digit1 },
    { "Digit2", RC_Digit2 },     { "Digit3", RC_Digit3 },
    { "Digit4", RC_Digit4 },     { "Digit5", RC_Digit5 },
    { "Digit6", RC_Digit6 },     { "Digit7", RC_Digit7 },
    { "Digit8", RC_Digit8 },     { "Digit9", RC_Digit9 },
    { "Back", RC_Back },         { "LeaveVideo2", RC_LeaveVideo2 },
    { "VolumeUp", RC_VolumeUp }, { "VolumeDown", RC_VolumeDown },
    { "NextPage", RC_NextPage }, { "PreviousPage", RC_PreviousPage },
    { "PlayPause", RC_PlayPause }, { "Subtitle", RC_Subtitle },
    { "AudioTrack", RC_AudioTrack }, { "Up", RC_Up },
    { "Down", RC_Down },         { "Left", RC_Left },
    { "Right", RC_Right },       { "Ok", RC_Ok },
    { "None", RC_None },
} };

} // namespace

int LookupCommand(std::uint16_t customCode, std::uint8_t keyByte)
{
    for (const Row& row : kTable)
        if (keyOf(row, customCode) == keyByte)
            return row.command;
    return 0;
}

std::optional<std::uint8_t> KeyByteFor(std::uint16_t customCode, int command)
{
    for (const Row& row : kTable)
        if (row.command == command && keyOf(row, customCode) >= 0)
            return static_cast<std::uint8_t>(keyOf(row, customCode));
    return std::nullopt;
}

int CommandByName(const QString& name)
{
    for (const Name& n : kNames)
        if (name == QLatin1String(n.name))
            return n.command;
    return 0;
}

QString CompanyLabel(std::uint16_t customCode)
{
    if (customCode == kFamilySonyToshiba)
        return QStringLiteral("索尼/东芝");
    if (customCode == kFamilyLgSamsung)
        return QStringLiteral("LG/三星");
    return QStringLiteral("未知");
}

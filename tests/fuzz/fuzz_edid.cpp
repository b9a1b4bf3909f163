// A monitor's EDID as the display server hands it over: any bytes a monitor (or an HDMI device posing as one) sends.
// The blocks' checksums are made right first, so that the fuzzer reaches the fields behind them.
#include <cstdint>

#include <QByteArray>

#include "display/Edid.h"
#include "display/TvIdentity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    if (size % 2 == 0) {
        for (int block = 0; (block + 1) * 128 <= bytes.size(); ++block) {
            unsigned sum = 0;
            for (int i = block * 128; i < block * 128 + 127; ++i)
                sum += static_cast<unsigned char>(bytes[i]);
            bytes[block * 128 + 127] = static_cast<char>((256 - sum % 256) % 256);
        }
    }
    const EdidInfo info = ParseEdid(bytes);
    const ScreenIdentity id = IdentityOf(QStringLiteral("HDMI-1"), info);
    if (ScreenIdentity::FromText(id.ToText()).ToText() != id.ToText())
        __builtin_trap(); // what is stored must read back the same
    LooksLikeTelevision(id.connector, info);
    return 0;
}

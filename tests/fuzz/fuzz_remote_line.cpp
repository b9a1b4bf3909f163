// The software remote's line protocol: parse, and a parsed press formats back to the same press.
#include <QByteArray>

#include "remote/RemoteSocket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto press = ParseRemoteLine(line)) {
        const auto again = ParseRemoteLine(FormatRemoteLine(*press));
        if (!again || again->customCode != press->customCode || again->keyByte != press->keyByte)
            __builtin_trap();
    }
    return 0;
}

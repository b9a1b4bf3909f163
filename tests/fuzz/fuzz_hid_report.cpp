// The receiver's answer report: any 0..65 bytes (the rest zero, as the reader clears its buffer). The decoder must
// agree with a reading of the bytes written here from the report's layout: byte 1 = 0x82, byte 12 = 1 and
// byte 43 + byte 60 = 0xFC (mod 256) make a press whose code is byte 36 x 256 + byte 52 and whose key is byte 43.
#include <cstring>

#include "remote/IRReceiverThread.h"
#include "remote/RemoteCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HidReport answer {};
    std::memcpy(answer.data(), data, std::min(size, answer.size()));
    auto byte = [&](std::size_t i) -> unsigned { return i < size ? data[i] : 0u; };
    const bool valid = byte(1) == 0x82 && byte(12) == 1 && ((byte(43) + byte(60)) & 0xFF) == 0xFC;

    const auto press = DecodeAnswerReport(answer);
    if (press.has_value() != valid)
        __builtin_trap();
    if (!press)
        return 0;
    if (press->customCode != byte(36) * 256 + byte(52) || press->keyByte != byte(43))
        __builtin_trap();
    const int command = LookupCommand(press->customCode, press->keyByte);
    if (command < 0 || command > 32)
        __builtin_trap();
    // A key that has a command is found again from the command (the tables are one-to-one per family).
    if (command != 0) {
        const auto key = KeyByteFor(press->customCode, command);
        if (!key || LookupCommand(press->customCode, *key) != command)
            __builtin_trap();
    }
    return 0;
}

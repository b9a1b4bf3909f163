// The receiver's answer report: any 0..65 bytes (the rest zero, as the reader clears its buffer).
#include <cstring>

#include "remote/IRReceiverThread.h"
#include "remote/RemoteCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HidReport answer {};
    std::memcpy(answer.data(), data, std::min(size, answer.size()));
    if (const auto press = DecodeAnswerReport(answer)) {
        const int command = LookupCommand(press->customCode, press->keyByte);
        if (command < 0 || command > 32)
            __builtin_trap();
        if (const auto key = KeyByteFor(press->customCode, command); command != 0 && !key)
            __builtin_trap();
    }
    return 0;
}

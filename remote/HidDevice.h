#pragma once

#include <QString>

#include <array>
#include <cstdint>

// The answer and request reports of the receiver: 65 bytes, byte 0 the report id.
inline constexpr int kReportBytes = 65;
using HidReport = std::array<std::uint8_t, kReportBytes>;

// The IR receiver as the reader thread sees it.
class IHidIRDevice
{
public:
    virtual ~IHidIRDevice() = default;
    virtual bool IsOpen() const = 0;
    // Finds the receiver (vendor 0x04D8, product 0x173F) and opens it.
    virtual bool FindAndOpen() = 0;
    // Writes the request report and reads one answer into answer. Any failure closes the device.
    virtual bool Exchange(HidReport& answer) = 0;
    // Makes a blocked Exchange return soon (false) so that the reader can stop.
    virtual void Interrupt() { }
    // Why the receiver, though present, could not be opened by the last FindAndOpen ("" when it was not there).
    virtual QString OpenFailure() const { return {}; }
};

// The request: report id 0, request code 0x82, zeros.
HidReport MakeRequestReport();

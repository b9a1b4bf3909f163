#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QString>

// One HDMI-CEC message as it travels on the bus: the header byte (initiator << 4 | destination), then the opcode
// and its operands. A header alone is a poll. At most 16 bytes.
struct CecFrame {
    std::vector<std::uint8_t> bytes;

    static constexpr int kMaxBytes = 16;
    static constexpr int kBroadcast = 0xf;

    int Initiator() const { return bytes.empty() ? -1 : bytes[0] >> 4; }
    int Destination() const { return bytes.empty() ? -1 : bytes[0] & 0xf; }
    bool IsPoll() const { return bytes.size() == 1; }
    int Opcode() const { return bytes.size() < 2 ? -1 : bytes[1]; }
    // Operand i (0 is the byte after the opcode); -1 when the frame is shorter.
    int Operand(std::size_t i) const { return bytes.size() > i + 2 ? bytes[i + 2] : -1; }
    std::size_t OperandCount() const { return bytes.size() < 2 ? 0 : bytes.size() - 2; }

    bool operator==(const CecFrame&) const = default;
};

// What the CEC logic needs of an adapter: claim a playback device's logical address, send frames, and hear the
// frames addressed to it (or broadcast) and its addresses as they change. The kernel's CEC framework is the real
// one; tests put a stand-in that plays the TV's side behind the same interface.
class ICecAdapter
{
public:
    virtual ~ICecAdapter() = default;

    // Asks for a logical address of a playback device named osdName (at most 14 characters). The outcome arrives
    // through onAddresses, now or later (the claim polls the bus).
    virtual bool Claim(const QString& osdName) = 0;
    // Queues a frame whose initiator is our logical address; false when the adapter refused it.
    virtual bool Transmit(const CecFrame& frame) = 0;

    // Set by the owner before Claim.
    std::function<void(const CecFrame&)> onFrame;
    // The physical address (0xffff while the TV's HDMI link is down) and our logical address (-1 while none is
    // claimed).
    std::function<void(std::uint16_t physical, int logical)> onAddresses;
};

#pragma once

#include <cstdint>

#include <QString>

// One sound card: an audio sink of the sound server.
struct SoundCard {
    std::uint32_t index = 0; // the server's sink index
    QString name; // the sink's name, for PULSE_SINK
    QString productName; // its description, whole
    QString portName; // its active port ("hdmi-output-0"), empty when it has none
    QString portDescription; // that port's description; names the monitor on some HDMI outputs
};

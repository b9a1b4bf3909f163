#pragma once

#include <functional>

// Shuts the machine down through systemd-logind on the system bus: asks CanPowerOff, and on "yes" or "challenge"
// calls PowerOff(false). Without the right, or without logind, nothing happens and nothing is said. Returns at
// once; the calls complete on the event loop, and accepted is called once logind has taken the request (the
// machine is going down).
void ShutdownPC(std::function<void()> accepted = {});

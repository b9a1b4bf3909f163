#pragma once

#include <vector>

#include <QString>

#include "Edid.h"
#include "common/SoundCard.h"

// What identifies a monitor whatever its place on the desktop: the connector it hangs on and what its EDID says.
struct ScreenIdentity {
    QString connector; // QScreen::name(): "HDMI-1" (X11), "HDMI-A-1" (Wayland)
    QString make; // "GSM"
    QString model; // "LG TV"
    QString serial; // may be empty: many TVs have none

    bool IsEmpty() const { return connector.isEmpty() && make.isEmpty() && model.isEmpty() && serial.isEmpty(); }
    bool HasEdid() const { return !make.isEmpty() || !model.isEmpty(); }
    // "connector|make|model|serial", the settings' form; a '|' inside a field becomes '/'.
    QString ToText() const;
    static ScreenIdentity FromText(const QString& text);
    bool operator==(const ScreenIdentity& o) const = default;
};

// The identity of a monitor on a connector, from its EDID when there is one, else from what the display server
// says of it (make, model, serial: the Wayland output's fields).
ScreenIdentity IdentityOf(const QString& connector, const EdidInfo& edid, const QString& make = QString(),
                          const QString& model = QString(), const QString& serial = QString());

// The screen that is the wanted monitor, or -1. With EDID fields stored, only a monitor with the same make, model
// and serial counts (a serial missing on one side does not tell them apart), the one on the stored connector first;
// a monitor that only took over the TV's connector is not the TV. With only a connector stored, the screen of
// that name.
int FindScreen(const std::vector<ScreenIdentity>& screens, const ScreenIdentity& wanted);

// A laptop's built-in panel: eDP, LVDS or DSI connectors.
bool IsBuiltInConnector(const QString& connector);
// Whether a monitor's EDID describes a television: never a built-in panel; an HDMI vendor block in a CTA-861
// extension, and a large screen (32 inches and more) or a model name that says TV.
bool LooksLikeTelevision(const QString& connector, const EdidInfo& edid);

// The sound card that carries the monitor's sound: an HDMI/DisplayPort output whose description or active port
// names the monitor, else the only HDMI/DisplayPort output; -1 when neither is there.
int PairSoundCard(const std::vector<SoundCard>& cards, const QString& monitorName);
// Whether a sink is an HDMI or DisplayPort output, by its port, name or description.
bool IsDigitalVideoOutput(const SoundCard& card);

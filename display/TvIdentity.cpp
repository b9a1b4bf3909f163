#include "TvIdentity.h"

#include <QRegularExpression>
#include <QStringList>

QString ScreenIdentity::ToText() const
{
    QStringList fields;
    for (const QString* f : { &connector, &make, &model, &serial })
        fields << QString(*f).replace(QLatin1Char('|'), QLatin1Char('/'));
    return fields.join(QLatin1Char('|'));
}

ScreenIdentity ScreenIdentity::FromText(const QString& text)
{
    const QStringList f = text.split(QLatin1Char('|'));
    ScreenIdentity id;
    if (f.size() != 4)
        return id; // a torn or foreign value identifies nothing
    id.connector = f[0].trimmed();
    id.make = f[1].trimmed();
    id.model = f[2].trimmed();
    id.serial = f[3].trimmed();
    return id;
}

ScreenIdentity IdentityOf(const QString& connector, const EdidInfo& edid, const QString& make, const QString& model,
                          const QString& serial)
{
    ScreenIdentity id;
    id.connector = connector;
    if (edid.valid) {
        id.make = edid.make;
        id.model = edid.Model();
        id.serial = edid.serial;
    } else {
        id.make = make.trimmed();
        id.model = model.trimmed();
        id.serial = serial.trimmed();
    }
    return id;
}

int FindScreen(const std::vector<ScreenIdentity>& liveScreens, const ScreenIdentity& liveWanted)
{
    // Both sides compared in the stored form (a '|' in a name is stored as '/', blanks at the ends dropped), so
    // that a TV whose name holds a '|' is found again after it was saved.
    const auto stored = [](const ScreenIdentity& id) { return ScreenIdentity::FromText(id.ToText()); };
    std::vector<ScreenIdentity> screens;
    for (const ScreenIdentity& s : liveScreens)
        screens.push_back(stored(s));
    const ScreenIdentity wanted = stored(liveWanted);
    const int count = static_cast<int>(screens.size());
    if (wanted.HasEdid()) {
        int found = -1;
        for (int i = 0; i < count; ++i) {
            const ScreenIdentity& s = screens[static_cast<std::size_t>(i)];
            const bool same = s.make == wanted.make && s.model == wanted.model
                && (s.serial.isEmpty() || wanted.serial.isEmpty() || s.serial == wanted.serial);
            if (same && (found < 0 || s.connector == wanted.connector))
                found = i;
        }
        return found;
    }
    if (wanted.connector.isEmpty())
        return -1;
    for (int i = 0; i < count; ++i)
        if (screens[static_cast<std::size_t>(i)].connector == wanted.connector)
            return i;
    return -1;
}

bool IsBuiltInConnector(const QString& connector)
{
    static const QRegularExpression builtIn(QStringLiteral("^(eDP|LVDS|DSI)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return builtIn.match(connector).hasMatch();
}

bool LooksLikeTelevision(const QString& connector, const EdidInfo& edid)
{
    if (!edid.valid || IsBuiltInConnector(connector) || !edid.hasHdmi)
        return false;
    static const QRegularExpression tvName(QStringLiteral("\\bTV\\b"), QRegularExpression::CaseInsensitiveOption);
    constexpr int kLargeCm = 81; // 32 inches
    return edid.DiagonalCm() >= kLargeCm || tvName.match(edid.name).hasMatch();
}

bool IsDigitalVideoOutput(const SoundCard& card)
{
    for (const QString* text : { &card.portName, &card.name, &card.productName, &card.portDescription })
        if (text->contains(QLatin1String("hdmi"), Qt::CaseInsensitive)
            || text->contains(QLatin1String("displayport"), Qt::CaseInsensitive))
            return true;
    return false;
}

int PairSoundCard(const std::vector<SoundCard>& cards, const QString& monitorName)
{
    int only = -1, digital = 0;
    const QString name = monitorName.trimmed();
    for (int i = 0; i < static_cast<int>(cards.size()); ++i) {
        const SoundCard& card = cards[static_cast<std::size_t>(i)];
        if (!IsDigitalVideoOutput(card))
            continue;
        // The sound servers name an HDMI port after the monitor when the driver reads its ELD.
        if (!name.isEmpty()
            && (card.productName.contains(name, Qt::CaseInsensitive)
                || card.portDescription.contains(name, Qt::CaseInsensitive)))
            return i;
        only = i;
        ++digital;
    }
    return digital == 1 ? only : -1;
}

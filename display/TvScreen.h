#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QScreen>

#include "Edid.h"
#include "TvIdentity.h"


// Knows which screen is the television, whatever its place and size, and says when it comes, goes or changes.
//
// The TV is the screen with the wanted identity (stored, or chosen in the dialog and not saved yet); a stored
// rectangle stands in for settings that have no identity yet. With neither, a single monitor whose EDID
// describes a television is recognised as the TV; failing that, the primary screen shows TV output, as before
// any choice was made.
class CTvScreen : public QObject
{
    Q_OBJECT
public:
    explicit CTvScreen(QObject* parent = nullptr);

    // Reads DisplayName and DisplayCard from the settings.
    void LoadStored();
    // The TV by identity, with a rectangle for an identity that is empty; both empty: recognised or primary.
    void SetWanted(const ScreenIdentity& identity, const QRect& rect);

    // The TV's screen now; null while it is away (switched off, unplugged).
    QScreen* Screen() const { return m_pScreen; }
    // Whether the TV is one that was asked for or recognised (not the primary screen standing in for it).
    bool IsKnown() const { return m_bKnown; }
    // Whether the TV was recognised by its EDID, nothing being stored or chosen.
    bool IsRecognised() const { return m_bRecognised; }

    // What identifies a screen, and its EDID (read once per screen and kept while the screen lives).
    ScreenIdentity Identity(QScreen* screen) const;
    EdidInfo Edid(QScreen* screen) const;

signals:
    // The TV's screen came, went (null) or changed its geometry.
    void changed(QScreen* tv);
    // A screen was added or removed.
    void screensChanged();

private:
    void Update();
    void Watch(QScreen* screen);

    ScreenIdentity m_wanted;
    QRect m_wantedRect;
    QPointer<QScreen> m_pScreen;
    QRect m_geometry;
    bool m_bKnown = false;
    bool m_bRecognised = false;
    mutable QHash<QScreen*, EdidInfo> m_edid;
};

#include "TvScreen.h"

#include <QGuiApplication>
#include <QScreen>

#include "ScreenEdid.h"
#include "common/ScreenRect.h"
#include "common/Settings.h"

CTvScreen::CTvScreen(QObject* parent)
    : QObject(parent)
{
    // Screen changes reach this object while the removed screen still exists and before Qt moves the windows on it
    // to the primary screen: the TV window can leave the screen before it would show anywhere else.
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        Watch(screen);
        Update();
        emit screensChanged();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this](QScreen* screen) {
        m_edid.remove(screen);
        Update();
        emit screensChanged();
    });
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, &CTvScreen::Update);
    for (QScreen* screen : QGuiApplication::screens())
        Watch(screen);
}

void CTvScreen::Watch(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, &CTvScreen::Update, Qt::UniqueConnection);
}

void CTvScreen::LoadStored()
{
    const ScreenIdentity identity = ScreenIdentity::FromText(ReadSetting(QString::fromLatin1(SettingKey::DisplayName)));
    ScreenRect stored;
    const bool haveRect = ScreenRect::fromText(ReadSetting(QString::fromLatin1(SettingKey::DisplayCard)), &stored);
    SetWanted(identity, haveRect && !stored.isEmpty() ? stored.toQRect() : QRect());
}

void CTvScreen::SetWanted(const ScreenIdentity& identity, const QRect& rect)
{
    m_wanted = identity;
    m_wantedRect = rect;
    Update();
}

EdidInfo CTvScreen::Edid(QScreen* screen) const
{
    if (!screen)
        return {};
    auto it = m_edid.find(screen);
    if (it == m_edid.end())
        it = m_edid.insert(screen, ParseEdid(ReadScreenEdid(screen->name())));
    return *it;
}

ScreenIdentity CTvScreen::Identity(QScreen* screen) const
{
    if (!screen)
        return {};
    return IdentityOf(screen->name(), Edid(screen), screen->manufacturer(), screen->model(), screen->serialNumber());
}

void CTvScreen::Update()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* found = nullptr;
    bool known = true, recognised = false;
    if (!m_wanted.IsEmpty()) {
        std::vector<ScreenIdentity> ids;
        for (QScreen* s : screens)
            ids.push_back(Identity(s));
        const int i = FindScreen(ids, m_wanted);
        found = i >= 0 ? screens[i] : nullptr;
    } else if (!m_wantedRect.isEmpty()) {
        // Settings of before the identity was stored: the screen at the stored rectangle, else (another layout) the
        // primary screen, where TV output then shows rather than nowhere.
        for (QScreen* s : screens)
            if (s->geometry() == m_wantedRect)
                found = s;
        known = found != nullptr;
        if (!found)
            found = QGuiApplication::primaryScreen();
    } else {
        QScreen* tv = nullptr;
        int televisions = 0;
        for (QScreen* s : screens) {
            if (LooksLikeTelevision(s->name(), Edid(s))) {
                tv = s;
                ++televisions;
            }
        }
        recognised = televisions == 1;
        found = recognised ? tv : QGuiApplication::primaryScreen();
        known = recognised;
    }
    m_bKnown = known;
    m_bRecognised = recognised;
    const QRect geometry = found ? found->geometry() : QRect();
    if (found == m_pScreen && geometry == m_geometry)
        return;
    m_pScreen = found;
    m_geometry = geometry;
    emit changed(found);
}

#include "ScreenSaver.h"

#include <QGuiApplication>

#include "common/Log.h"

CScreenSaverKeeper::CScreenSaverKeeper(QObject* parent)
    : QObject(parent)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        if (auto x11 = MakeX11ScreenSaver())
            m_backends.push_back(std::move(x11));
    for (auto make : { MakeFreedesktopScreenSaver, MakePortalScreenSaver })
        if (auto backend = make())
            m_backends.push_back(std::move(backend));
}

CScreenSaverKeeper::CScreenSaverKeeper(std::vector<std::unique_ptr<IScreenSaverBackend>> backends, QObject* parent)
    : QObject(parent)
    , m_backends(std::move(backends))
{
}

CScreenSaverKeeper::~CScreenSaverKeeper()
{
    SetPlaying(false);
}

void CScreenSaverKeeper::SetPlaying(bool playing)
{
    if (playing == m_bHolding)
        return;
    m_bHolding = playing;
    QStringList names;
    for (const auto& backend : m_backends) {
        backend->Hold(playing);
        names << backend->Name();
    }
    qCInfo(lcTv).noquote() << (playing ? "the screen is kept on while this plays:" : "the screen may blank again:")
                           << (names.isEmpty() ? QStringLiteral("(no screen saver found)")
                                               : names.join(QLatin1String(", ")));
}

void CScreenSaverKeeper::UserActivity()
{
    for (const auto& backend : m_backends)
        backend->Poke();
}

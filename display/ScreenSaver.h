#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QString>

class QDBusConnection;

// One way a session blanks its screen when nobody is at it: the X server's own screen saver and power saving, the
// desktop's screen saver service on the session bus, the desktop portal.
class IScreenSaverBackend
{
public:
    virtual ~IScreenSaverBackend() = default;
    virtual QString Name() const = 0;
    // Holds the screen on (true) or lets it blank again when idle (false); called only on a change.
    virtual void Hold(bool hold) = 0;
    // Someone is at the box: the idle time starts again, and a screen that went dark comes back.
    virtual void Poke() = 0;
};

// Keeps the TV's screen on while something plays there, and only then: a remote's keys are no input the session
// sees, so without this the screen saver would start in the middle of every film. Every backend the session offers
// is used; each lets go when the keeper does and when the program ends (the X server and the bus drop what a
// client held when it goes).
class CScreenSaverKeeper : public QObject
{
    Q_OBJECT
public:
    // The session's backends: the X server's screen saver under X11, the org.freedesktop.ScreenSaver service and
    // the desktop portal on the session bus.
    explicit CScreenSaverKeeper(QObject* parent = nullptr);
    // The given backends only (tests).
    CScreenSaverKeeper(std::vector<std::unique_ptr<IScreenSaverBackend>> backends, QObject* parent = nullptr);
    ~CScreenSaverKeeper() override;

    // Something plays on the TV (true) or nothing does (false).
    void SetPlaying(bool playing);
    bool IsHolding() const { return m_bHolding; }
    // A remote key was pressed (any source).
    void UserActivity();

private:
    std::vector<std::unique_ptr<IScreenSaverBackend>> m_backends;
    bool m_bHolding = false;
};

// The backends (ScreenSaverX11.cpp, ScreenSaverDBus.cpp), on the session's X server and session bus or on the
// given bus; null where the session lacks the mechanism.
std::unique_ptr<IScreenSaverBackend> MakeX11ScreenSaver();
std::unique_ptr<IScreenSaverBackend> MakeFreedesktopScreenSaver();
std::unique_ptr<IScreenSaverBackend> MakeFreedesktopScreenSaver(const QDBusConnection& bus);
std::unique_ptr<IScreenSaverBackend> MakePortalScreenSaver();

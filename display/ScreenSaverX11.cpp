// The X server's own screen saver and display power saving, through the MIT-SCREEN-SAVER extension: suspended
// while something plays (the server also holds its power-saving timers then), reset by a remote key. The
// suspension belongs to this connection, so the server ends it when the program goes, however it goes.
#include "ScreenSaver.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace
{

class CX11ScreenSaver : public IScreenSaverBackend
{
public:
    explicit CX11ScreenSaver(Display* display)
        : m_pDisplay(display)
    {
    }
    ~CX11ScreenSaver() override { XCloseDisplay(m_pDisplay); }

    QString Name() const override { return QStringLiteral("X11 screen saver"); }
    void Hold(bool hold) override
    {
        XScreenSaverSuspend(m_pDisplay, hold ? True : False);
        if (hold)
            XResetScreenSaver(m_pDisplay); // a screen already dark comes back with the picture
        XFlush(m_pDisplay);
    }
    void Poke() override
    {
        XResetScreenSaver(m_pDisplay);
        XFlush(m_pDisplay);
    }

private:
    Display* m_pDisplay;
};

} // namespace

std::unique_ptr<IScreenSaverBackend> MakeX11ScreenSaver()
{
    // A connection of its own: the suspension lives exactly as long as this backend.
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    // XScreenSaverSuspend came with version 1.1 of the extension.
    if (!XScreenSaverQueryExtension(display, &event, &error) || !XScreenSaverQueryVersion(display, &major, &minor)
        || (major < 1 || (major == 1 && minor < 1))) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<CX11ScreenSaver>(display);
}

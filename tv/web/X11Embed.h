#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

// Putting another program's X11 window inside one of ours (the browser's window inside the TV window): it then
// moves, hides and stacks with ours, never shows on another monitor, and is no top-level a window switcher or a
// task bar lists. X11 only; under another display server each call does nothing and says so by its result.
namespace X11Embed
{

// The top-level window of process pid whose WM_CLASS class is wmClass and that is mapped, wherever it is in the
// window tree (a window manager puts it in a frame of its own); 0 while there is none.
unsigned long FindWindow(const QByteArray& wmClass, long long pid);

// The window AdoptWhenMade took in for process pid when it is still not shown, shown now; 0 for none. The program
// may have asked to show it just as it was taken in, a request a window manager then dropped: call it once the
// window has had time to be shown.
unsigned long AdoptedButNeverShown(const QByteArray& wmClass, long long pid);

// The windows of process pid, where they are and whether they are mapped (for a log line when one is missing).
QString DescribeWindows(long long pid);

// Arms a watch for the next top-level window that process pid makes with class wmClass: as soon as it is made and
// named, and before the program shows it, it becomes a window of parent (override-redirect, as Embed makes it), so
// that no window manager ever takes it, frames it or gives it the focus. The watch ends with the one window; a
// window that is shown before the watch sees it is left to Embed.
void AdoptWhenMade(const QByteArray& wmClass, long long pid, unsigned long parent);

enum class Embedding {
    Done, // the window is inside parent
    Waiting, // a window manager still holds it, or parent is not there (yet): hidden; ask again a little later
    NoX11, // the display server is no X server
};
// Reparents window into parent at (0, 0) and gives it size. The window takes no pointer input (its input region is
// empty: clicks and the wheel go to the parent) and no keyboard focus; the program drives it by other means.
// A window that a window manager has taken (framed, maximised, with a task bar entry) is first withdrawn as the X11
// conventions describe (unmapped, and a synthetic UnmapNotify sent to the root): the manager then gives it back,
// and a later call embeds it. Made override-redirect, the window is never managed again, wherever it is mapped.
Embedding Embed(unsigned long window, unsigned long parent, const QSize& size);
// Maps or unmaps an embedded window: unmapped, the program in it sees itself hidden (a browser then pauses the
// page's media, as for a hidden tab).
void SetShown(unsigned long window, bool shown);
// Gives an embedded window a new size.
void Resize(unsigned long window, const QSize& size);

} // namespace X11Embed

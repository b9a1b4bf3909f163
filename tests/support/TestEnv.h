#pragma once

#include <QProcess>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

// A private machine root (KREL_ROOT) and application folder (g_strAppDir) for one test, removed afterwards.
class TempMachine
{
public:
    TempMachine();
    ~TempMachine();

    QString root() const { return m_dir.path(); }
    QString appDir() const { return m_dir.path() + QStringLiteral("/app/"); }
    QString settingsFile() const;
    // Writes a file under the application folder, creating folders on the way.
    void writeAppFile(const QString& relative, const QByteArray& bytes) const;
    // The program (the executable named by program) with the player libraries it loads from beside itself, copied
    // into the application folder; false when a file is missing.
    bool installProgram(const QString& program) const;
    // The catalogue of one type, one video and one address for each episode name (all at address), built by the
    // catalogue tool into the application folder; false when the tool failed.
    bool buildCatalogue(const QString& tool, const QString& address, const QStringList& episodes) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldRoot;
};

// A real X server (Xvfb) of 3840x1080 with two RandR monitors: "PC" (primary, left) and "TV" (right).
// DISPLAY points at it while the object lives.
class XvfbServer
{
public:
    XvfbServer();
    ~XvfbServer();

    bool isRunning() const { return m_running; }
    QString display() const { return m_display; }
    // Runs an X client program (xrandr, xdotool, import) against this server; returns its exit code.
    int run(const QString& program, const QStringList& args, QByteArray* output = nullptr) const;

private:
    QProcess m_server;
    QString m_display;
    QByteArray m_oldDisplay;
    bool m_running = false;
};

// A session bus of the test's own (dbus-daemon), which starts no service by itself: whatever services the machine
// has installed (a desktop portal, a notification daemon) stay out of the test. DBUS_SESSION_BUS_ADDRESS points at
// it while the object lives.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QByteArray m_oldAddress;
};

// The TV monitor (the right half of the test X server) as it shows now; a null image when it cannot be read.
class QImage;
class QRect;
QImage CaptureTvScreen(const XvfbServer& server);
// Any part of the test X server's screen as it shows now.
QImage CaptureScreen(const XvfbServer& server, const QRect& area);

// The X server's screen saver (on DISPLAY) as any client sees it.
struct SaverState {
    bool on = false;
    unsigned long idleMs = 0;
};
SaverState QuerySaver();
// Any part of the screen of the X server at display name (":N"), with the X authority of the environment.
QImage CaptureDisplay(const QString& name, const QRect& area);
// The share of a capture's pixels (every sixth both ways) that are the test clips' red, or the menu's grey.
double RedShare(const QImage& image);
double MenuGreyShare(const QImage& image);
// Whether a capture shows, in its top left corner, the grey menu drawn for a TV of the given size, with the line
// under its title (at 92 for 1080 lines).
bool ShowsMenu(const QImage& tv, QSize size = QSize(1920, 1080));

// Gives a RandR output of the test X server an EDID, as a monitor's driver does; an empty one takes it away.
bool SetOutputEdid(const XvfbServer& server, const QByteArray& output, const QByteArray& edid);

// Writes a small file, creating its folder.
void WriteFile(const QString& path, const QByteArray& bytes);
// A server the test starts dies with the test, however the test ends: one that outlived a crashed test would keep
// the runner waiting on the output they shared.
void DiesWithTheTest(QProcess& process);
QByteArray ReadFile(const QString& path);

// While it lives, no file of this process grows beyond a few bytes (as on a full disk: a write fails, EFBIG), for
// root too, whom a read-only folder would not stop.
class FullDisk
{
public:
    FullDisk();
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    unsigned long long m_oldLimit;
    void (*m_oldHandler)(int);
};

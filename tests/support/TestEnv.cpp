#include "TestEnv.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include "common/Globals.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DiesWithTheTest(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

PrivateSessionBus::PrivateSessionBus()
    : m_oldAddress(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
{
    // The session bus of dbus-daemon's own configuration, less its service folders: nothing is activated.
    const QString config = m_dir.path() + QStringLiteral("/session.conf");
    WriteFile(config,
              QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                             "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                  .arg(m_dir.path())
                  .toUtf8());
    DiesWithTheTest(m_daemon);
    m_daemon.start(
        QStringLiteral("dbus-daemon"),
        { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address") });
    if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
        return;
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

PrivateSessionBus::~PrivateSessionBus()
{
    m_daemon.kill();
    m_daemon.waitForFinished(3000);
    if (m_oldAddress.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress);
}

TempMachine::TempMachine()
    : m_oldRoot(qgetenv("KREL_ROOT"))
{
    qputenv("KREL_ROOT", m_dir.path().toUtf8());
    QDir().mkpath(appDir());
    QDir().mkpath(m_dir.path() + QStringLiteral("/var/lib/krel"));
    g_strAppDir = appDir();
}

TempMachine::~TempMachine()
{
    if (m_oldRoot.isEmpty())
        qunsetenv("KREL_ROOT");
    else
        qputenv("KREL_ROOT", m_oldRoot);
    g_strAppDir.clear();
}

QString TempMachine::settingsFile() const
{
    return m_dir.path() + QStringLiteral("/var/lib/krel/Krel.ini");
}

void TempMachine::writeAppFile(const QString& relative, const QByteArray& bytes) const
{
    WriteFile(appDir() + relative, bytes);
}

bool TempMachine::installProgram(const QString& program) const
{
    for (const char* file : { "krel", "libkrel_web.so", "libkrel_chromium.so", "libkrel_film.so", "libkrel_speech.so" })
        if (!QFile::copy(QFileInfo(program).absolutePath() + QLatin1Char('/') + QLatin1String(file),
                         appDir() + QLatin1String(file)))
            return false;
    return true;
}

bool TempMachine::buildCatalogue(const QString& tool, const QString& address, const QStringList& episodes) const
{
    QStringList rows;
    for (int i = 0; i < episodes.size(); ++i)
        rows << QStringLiteral(R"({"id": %1, "video": 10, "name": "%2", "url": "%3"})")
                    .arg(100 + i)
                    .arg(episodes[i], address);
    const QString source = root() + QStringLiteral("/catalogue.json");
    WriteFile(source,
              QStringLiteral(R"({"types": [{"id": 1, "name": "测试类型"}],
                  "videos": [{"id": 10, "name": "测试视频", "type": 1, "value2": 0, "scroll": 0}],
                  "addresses": [%1]})")
                  .arg(rows.join(QStringLiteral(", ")))
                  .toUtf8());
    return QProcess::execute(tool, { QStringLiteral("build"), source, appDir() }) == 0;
}

XvfbServer::XvfbServer()
    : m_oldDisplay(qgetenv("DISPLAY"))
{
    // -displayfd lets the server pick a free display number and tell it on the pipe once it accepts clients.
    m_server.setProgram(QStringLiteral("Xvfb"));
    m_server.setArguments({ QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                            QStringLiteral("0"), QStringLiteral("3840x1080x24"), QStringLiteral("+extension"),
                            QStringLiteral("RANDR"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                            // Without -noreset the server resets, forgetting the monitors, whenever its last
                            // client leaves.
                            QStringLiteral("-noreset") });
    DiesWithTheTest(m_server);
    m_server.start();
    if (!m_server.waitForStarted(5000))
        return;
    QByteArray number;
    while (!number.contains('\n') && m_server.waitForReadyRead(10000))
        number += m_server.readAllStandardOutput();
    if (!number.contains('\n'))
        return;
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    qputenv("DISPLAY", m_display.toLatin1());
    m_running = run(QStringLiteral("xrandr"),
                    { QStringLiteral("--setmonitor"), QStringLiteral("PC"), QStringLiteral("1920/508x1080/286+0+0"),
                      QStringLiteral("screen") })
            == 0
        && run(QStringLiteral("xrandr"),
               { QStringLiteral("--setmonitor"), QStringLiteral("TV"), QStringLiteral("1920/508x1080/286+1920+0"),
                 QStringLiteral("none") })
            == 0;
}

XvfbServer::~XvfbServer()
{
    m_server.terminate();
    if (!m_server.waitForFinished(3000))
        m_server.kill();
    m_server.waitForFinished(3000);
    if (m_oldDisplay.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", m_oldDisplay);
}

int XvfbServer::run(const QString& program, const QStringList& args, QByteArray* output) const
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000))
        return -1;
    if (output)
        *output = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QImage CaptureTvScreen(const XvfbServer& server)
{
    return CaptureScreen(server, QRect(1920, 0, 1920, 1080));
}

QImage CaptureScreen(const XvfbServer& server, const QRect& area)
{
    return CaptureDisplay(server.display(), area);
}

QImage CaptureDisplay(const QString& name, const QRect& area)
{
    // Read from the X server on a connection of our own rather than through a helper program: the caller's thread,
    // which may host the web engine's browser thread, is held only for the read itself.
    Display* display = XOpenDisplay(name.toLatin1().constData());
    if (!display)
        return {};
    // Only what the screen has (a monitor switched off may have shrunk it): the rest stays black, as nothing shows
    // there (a read outside the screen would be an X error, which ends the process).
    const QRect inside = area.intersected(
        QRect(0, 0, DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))));
    QImage tv;
    if (inside.isEmpty()) {
        tv = QImage(area.size(), QImage::Format_RGB32);
        tv.fill(Qt::black);
    } else if (XImage* image = XGetImage(display, DefaultRootWindow(display), inside.x(), inside.y(),
                                         static_cast<unsigned>(inside.width()), static_cast<unsigned>(inside.height()),
                                         AllPlanes, ZPixmap)) {
        if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst) {
            const QImage part(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                              image->bytes_per_line, QImage::Format_RGB32);
            if (inside == area) {
                tv = part.copy();
            } else {
                tv = QImage(area.size(), QImage::Format_RGB32);
                tv.fill(Qt::black);
                QPainter(&tv).drawImage(inside.topLeft() - area.topLeft(), part);
            }
        }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return tv;
}

namespace
{

template <typename Test> double shareOf(const QImage& image, Test test)
{
    int hits = 0, all = 0;
    for (int y = 0; y < image.height(); y += 6)
        for (int x = 0; x < image.width(); x += 6, ++all)
            hits += test(image.pixel(x, y));
    return all ? double(hits) / all : 0;
}

} // namespace

double RedShare(const QImage& image)
{
    return shareOf(image, [](QRgb p) { return qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80; });
}

double MenuGreyShare(const QImage& image)
{
    return shareOf(image, [](QRgb p) { return p == qRgb(127, 127, 127); });
}

bool ShowsMenu(const QImage& tv, QSize size)
{
    // The line under the title lies at a twelfth of the height plus the pen; the bottom right corner is grey.
    const int line = size.height() / 12 + 2;
    const int x = size.width() / 2;
    return !tv.isNull() && tv.width() >= size.width() && tv.height() >= size.height()
        && tv.pixel(size.width() - 60, size.height() - 20) == qRgb(127, 127, 127)
        && (tv.pixel(x, line) == qRgb(255, 255, 255) || tv.pixel(x, line - 1) == qRgb(255, 255, 255));
}

bool SetOutputEdid(const XvfbServer& server, const QByteArray& output, const QByteArray& edid)
{
    Display* display = XOpenDisplay(server.display().toLatin1().constData());
    if (!display)
        return false;
    bool done = false;
    if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))) {
        for (int i = 0; i < resources->noutput; ++i) {
            XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i]);
            if (info && output == QByteArray(info->name, info->nameLen)) {
                const Atom atom = XInternAtom(display, "EDID", False);
                if (edid.isEmpty())
                    XRRDeleteOutputProperty(display, resources->outputs[i], atom);
                else
                    XRRChangeOutputProperty(display, resources->outputs[i], atom, XA_INTEGER, 8, PropModeReplace,
                                            reinterpret_cast<const unsigned char*>(edid.constData()),
                                            static_cast<int>(edid.size()));
                done = true;
            }
            if (info)
                XRRFreeOutputInfo(info);
        }
        XRRFreeScreenResources(resources);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return done;
}

FullDisk::FullDisk()
{
    // Past the limit the kernel also sends SIGXFSZ, which would end the process.
    m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_oldLimit = limit.rlim_cur;
    limit.rlim_cur = 8;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FullDisk::~FullDisk()
{
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = m_oldLimit;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, m_oldHandler);
}

SaverState QuerySaver()
{
    SaverState state;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return state;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (XScreenSaverQueryInfo(dpy, DefaultRootWindow(dpy), info))
        state = { info->state == ScreenSaverOn, info->idle };
    XFree(info);
    XCloseDisplay(dpy);
    return state;
}

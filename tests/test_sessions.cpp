// The real krel on the desktops people run, each started here from Debian's own packages: GNOME on Wayland (mutter
// drawing two monitors into an X server, with its Xwayland), GNOME on Xorg (mutter), KDE Plasma (kwin_x11) and Xfce
// (xfwm4), the X11 ones on an Xorg with two outputs, PC left and TV right. The same walk runs in each and is judged
// by what each monitor shows: the menu, a web video and a film over the whole TV and nothing on the PC monitor, the
// browser never a window of the desktop, the PC user's keyboard focus where it was, the prompt on the TV.
#include <algorithm>
#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"

namespace
{

const QRect kPc(0, 0, 1920, 1080);
const QRect kTv(1920, 0, 1920, 1080);
// Where the pointer rests all along (nobody moves it): a compositor draws it into the picture when it likes.
const QRect kPointer(0, 0, 64, 64);

// An X server that names its own free display on its standard output (-displayfd 1); ":N", or "" when it did not
// start.
QString StartXServer(QProcess& server, const QString& program, const QStringList& args)
{
    DiesWithTheTest(server);
    server.start(program, QStringList { QStringLiteral("-displayfd"), QStringLiteral("1") } + args);
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(20000))
        number += server.readAllStandardOutput();
    return number.contains('\n') ? QLatin1Char(':') + QString::fromLatin1(number.trimmed()) : QString();
}

class Desktops : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"))) << "run web_players.sh first";
        ASSERT_TRUE(pulse.Start()); // its runtime folder is the session's, as on a desktop
        ASSERT_TRUE(bus.isRunning());
        ASSERT_TRUE(http.IsRunning());
        ASSERT_TRUE(machine.installProgram(QStringLiteral(KREL_BINARY)));
        ASSERT_TRUE(machine.buildCatalogue(QStringLiteral(KREL_CATALOGUE_TOOL), http.Url(QStringLiteral("videojs.html")),
                                           { QStringLiteral("第1集"), QStringLiteral("第2集") }));
        const QString films = machine.root() + QStringLiteral("/films");
        QDir().mkpath(films);
        ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), films + QStringLiteral("/红色.webm")));
        WriteFile(machine.settingsFile(),
                  "[Config]\nDisplayCard=1920 0 3840 1080\nSoundCard=HDMI-TV\nDisableMouseCtrl=1\nLocalMovieFolders="
                      + films.toUtf8() + "\n");
    }
    void TearDown() override
    {
        if (HasFailure()) {
            // What the monitors showed and what each program said, for whoever reads the failure.
            keepScreen("end");
            for (const auto& p : programs) {
                // (Without the browser's complaints about the session bus it is denied: they would fill the tail.)
                QByteArray said;
                for (const QByteArray& line : p->readAll().split('\n'))
                    if (!line.contains("ERROR:dbus/"))
                        said += line + '\n';
                std::fprintf(stderr, "--- %s:\n%s\n", qPrintable(p->program()), said.right(6000).constData());
            }
        }
        // Programs first, then the display servers they use.
        for (auto it = programs.rbegin(); it != programs.rend(); ++it) {
            (*it)->kill();
            (*it)->waitForFinished(5000);
        }
        xserver.kill();
        xserver.waitForFinished(5000);
    }

    // A program of the desktop running until the test ends, with the session's environment plus extra entries.
    QProcess* launch(const QString& program, const QStringList& args, const QStringList& extra = {})
    {
        programs.push_back(std::make_unique<QProcess>());
        QProcess* p = programs.back().get();
        DiesWithTheTest(*p);
        p->setProcessEnvironment(environment(extra));
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(program, args);
        p->waitForStarted(10000);
        return p;
    }
    QProcessEnvironment environment(const QStringList& extra = {}) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Nothing of the test's own display: the session says what programs get.
        for (const char* name : { "QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY" })
            env.remove(QLatin1String(name));
        for (const QString& entry : session + extra)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        return env;
    }
    // Runs an X client against the session's display to its end; its output, or "" when it failed.
    QByteArray x(const QString& program, const QStringList& args, const QString& display = QString()) const
    {
        QProcess p;
        p.setProcessEnvironment(environment(display.isEmpty() ? QStringList()
                                                               : QStringList { QStringLiteral("DISPLAY=") + display }));
        p.start(program, args);
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return {};
        const QByteArray out = p.readAllStandardOutput();
        return out.isEmpty() ? QByteArray("\n") : out;
    }

    // An Xorg with the dummy driver and two outputs side by side, as a PC with its monitor and a TV has.
    bool startTwoOutputXorg()
    {
        const QString config = runtime.path() + QStringLiteral("/xorg.conf");
        WriteFile(config, R"(Section "Device"
    Identifier "card"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "1920x1080" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "card"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 3840 1080
        Modes "1920x1080"
    EndSubSection
EndSection
)");
        screenDisplay = StartXServer(xserver, QStringLiteral("Xorg"),
                                     { QStringLiteral("-config"), config, QStringLiteral("-noreset"),
                                       QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-logfile"),
                                       runtime.path() + QStringLiteral("/xorg.log") });
        if (screenDisplay.isEmpty())
            return false;
        session = { QStringLiteral("DISPLAY=") + screenDisplay, QStringLiteral("XDG_SESSION_TYPE=x11") };
        // The TV as "保存" stores it: by its monitor (here without an EDID, by its connector's monitor), so that it is
        // known to be away when it is switched off.
        WriteFile(machine.settingsFile(), ReadFile(machine.settingsFile()) + "DisplayName=TV|||\n");
        return !x(QStringLiteral("xrandr"), { QStringLiteral("--output"), QStringLiteral("DUMMY0"),
                                              QStringLiteral("--primary") })
                    .isEmpty()
            && !x(QStringLiteral("xrandr"), { QStringLiteral("--setmonitor"), QStringLiteral("PC"),
                                              QStringLiteral("1920/508x1080/286+0+0"), QStringLiteral("DUMMY0") })
                    .isEmpty()
            && !x(QStringLiteral("xrandr"), { QStringLiteral("--addmode"), QStringLiteral("DUMMY1"),
                                              QStringLiteral("1920x1080") })
                    .isEmpty()
            && plugTv(true);
    }
    // The TV switched on (its output on, right of the PC's) or off. Each output's monitor is given the size in
    // millimetres that a real monitor's EDID gives (the dummy driver's outputs have none, and GTK's window managers
    // leave monitors without a size out of the desktop).
    bool plugTv(bool on)
    {
        if (!on)
            return !x(QStringLiteral("xrandr"), { QStringLiteral("--output"), QStringLiteral("DUMMY1"),
                                                  QStringLiteral("--off") })
                        .isEmpty()
                && !x(QStringLiteral("xrandr"), { QStringLiteral("--delmonitor"), QStringLiteral("TV") }).isEmpty();
        return !x(QStringLiteral("xrandr"),
                  { QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--mode"),
                    QStringLiteral("1920x1080"), QStringLiteral("--right-of"), QStringLiteral("DUMMY0") })
                    .isEmpty()
            && !x(QStringLiteral("xrandr"), { QStringLiteral("--setmonitor"), QStringLiteral("TV"),
                                              QStringLiteral("1920/508x1080/286+1920+0"), QStringLiteral("DUMMY1") })
                    .isEmpty()
            // A full query makes the server ask the driver again: only then does the output's "connected" reach
            // the programs that read the server's current state (the dummy driver tells nobody by itself).
            && !x(QStringLiteral("xrandr"), { QStringLiteral("--query") }).isEmpty();
    }
    // An X11 window manager (and compositor) of a desktop, replacing none; true once it manages the screen.
    bool startWindowManager(const QString& program, const QStringList& args, const QString& desktop)
    {
        session << QStringLiteral("XDG_CURRENT_DESKTOP=") + desktop;
        wm = launch(program, args);
        return WaitFor([&] { return !x(QStringLiteral("xprop"), { QStringLiteral("-root"),
                                                                   QStringLiteral("_NET_SUPPORTING_WM_CHECK") })
                                         .contains("window id"); },
                       30000);
    }
    // GNOME on Wayland: mutter with two monitors drawn side by side into an X server of 3840 x 1080, and its Xwayland.
    bool startGnomeOnWayland()
    {
        screenDisplay = StartXServer(xserver, QStringLiteral("Xvfb"),
                                     { QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("3840x1080x24"),
                                       QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        if (screenDisplay.isEmpty())
            return false;
        const QString socket = QStringLiteral("krel-wayland-%1").arg(QCoreApplication::applicationPid());
        session = { QStringLiteral("DISPLAY=") + screenDisplay };
        wm = launch(QStringLiteral("mutter"),
                    { QStringLiteral("--nested"), QStringLiteral("--wayland"),
                      QStringLiteral("--wayland-display=") + socket },
                    { QStringLiteral("MUTTER_DEBUG_NUM_DUMMY_MONITORS=2"),
                      QStringLiteral("MUTTER_DEBUG_DUMMY_MODE_SPECS=1920x1080") });
        QByteArray log;
        QString xwayland;
        WaitFor(
            [&] {
                log += wm->readAll();
                xwayland = QRegularExpression(QStringLiteral("Using public X11 display (:\\d+)"))
                               .match(QString::fromUtf8(log))
                               .captured(1);
                return !xwayland.isEmpty();
            },
            30000);
        const QStringList cookies = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                                        .entryList({ QStringLiteral(".mutter-Xwaylandauth.*") },
                                                   QDir::Files | QDir::Hidden);
        if (xwayland.isEmpty() || cookies.isEmpty()) {
            ADD_FAILURE() << "mutter did not start with Xwayland:\n" << log.toStdString();
            return false;
        }
        session = { QStringLiteral("WAYLAND_DISPLAY=") + socket, QStringLiteral("DISPLAY=") + xwayland,
                    QStringLiteral("XAUTHORITY=") + qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/')
                        + cookies.first(),
                    QStringLiteral("XDG_SESSION_TYPE=wayland"), QStringLiteral("XDG_CURRENT_DESKTOP=GNOME") };
        return true;
    }

    // What the monitors show (the X server into which mutter draws both, or the Xorg).
    QImage screen(const QRect& area) const { return CaptureDisplay(screenDisplay, area); }
    bool press(const QString& key)
    {
        QProcess remote;
        remote.setProcessEnvironment(environment());
        remote.start(QStringLiteral(KREL_REMOTE_TOOL), key.split(QLatin1Char(' ')));
        return remote.waitForFinished(10000) && remote.exitCode() == 0;
    }
    bool pressAll(std::initializer_list<const char*> keys)
    {
        for (const char* key : keys)
            if (!press(QString::fromLatin1(key)))
                return false;
        return true;
    }
    // The X window that has the keyboard focus, as the window manager says.
    QString activeWindow() const
    {
        return QRegularExpression(QStringLiteral("window id # (0x[0-9a-f]+)"))
            .match(QString::fromLatin1(x(QStringLiteral("xprop"), { QStringLiteral("-root"),
                                                                   QStringLiteral("_NET_ACTIVE_WINDOW") })))
            .captured(1);
    }
    // The keyboard focus is with the PC user's window; else the message names the window that has it.
    void expectFocusWith(const QString& pcUser, const char* step) const
    {
        const QString active = activeWindow();
        EXPECT_EQ(active, pcUser) << step << ": the focus is with "
                                  << x(QStringLiteral("xprop"), { QStringLiteral("-id"), active,
                                                                  QStringLiteral("WM_CLASS"), QStringLiteral("WM_NAME") })
                                         .toStdString();
    }
    // The classes of every window the window manager lists (task bars and window switchers show these).
    QString managedClasses() const
    {
        QString classes;
        const QString list = QString::fromLatin1(
            x(QStringLiteral("xprop"), { QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST") }));
        for (const auto& m : QRegularExpression(QStringLiteral("0x[0-9a-f]+")).globalMatch(list))
            classes += QString::fromLatin1(
                x(QStringLiteral("xprop"), { QStringLiteral("-id"), m.captured(0), QStringLiteral("WM_CLASS") }));
        return classes;
    }
    // Where krel's control window "系统配置" is, with its frame: the one window of krel the PC monitor may show (there
    // is no tray host to hide it in), whose lines follow the TV.
    QRect controlWindow() const
    {
        const QString id = QString::fromLatin1(x(QStringLiteral("xdotool"), { QStringLiteral("search"),
                                                                              QStringLiteral("--name"),
                                                                              QStringLiteral("^系统配置$") }))
                               .trimmed()
                               .section(QLatin1Char('\n'), -1);
        if (id.isEmpty())
            return {};
        const QString info = QString::fromLatin1(x(QStringLiteral("xwininfo"), { QStringLiteral("-id"), id }));
        const auto field = [&](const char* name) {
            return QRegularExpression(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)"))
                .match(info)
                .captured(1)
                .toInt();
        };
        return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"))
            .adjusted(-20, -60, 20, 20);
    }
    // The PC monitor shows what it showed before, but for the control window: krel put nothing there.
    void expectPcAsBefore(const char* step)
    {
        const QImage now = screen(kPc);
        const QRect control = controlWindow().united(controlBefore);
        const auto near = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) <= 12 && std::abs(qGreen(a) - qGreen(b)) <= 12
                && std::abs(qBlue(a) - qBlue(b)) <= 12;
        };
        int differ = 0;
        for (int y = 0; y < now.height(); y += 4)
            for (int x = 0; x < now.width(); x += 4)
                differ += !control.contains(x, y) && !kPointer.contains(x, y)
                    && !near(now.pixel(x, y), pcBefore.pixel(x, y));
        EXPECT_LT(differ, 100) << step << ": the PC monitor changed";
        if (differ >= 100) {
            now.save(QDir::tempPath() + QStringLiteral("/krel-pc-%1.png").arg(QString::fromLatin1(step)));
            pcBefore.save(QDir::tempPath() + QStringLiteral("/krel-pc-before.png"));
        }
    }
    // What both monitors show, kept for whoever reads a failure.
    void keepScreen(const char* step) const
    {
        screen(QRect(0, 0, 3840, 1080))
            .save(QDir::tempPath() + QStringLiteral("/krel-%1-%2.png")
                                         .arg(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()),
                                              QString::fromLatin1(step).replace(QLatin1Char(' '), QLatin1Char('-'))));
    }
    void expectMenu(const char* step)
    {
        const bool shown = WaitFor([&] { return ShowsMenu(screen(kTv)); }, 15000);
        EXPECT_TRUE(shown) << step << ": no menu on the TV";
        if (!shown)
            keepScreen(step);
    }
    void expectClipOnTheWholeTv(const char* step)
    {
        // Corner to corner: no title bar, no frame, no panel.
        const QList<QPoint> corners { QPoint(3, 3), QPoint(1916, 3), QPoint(3, 1076), QPoint(1916, 1076) };
        QImage tv;
        const bool whole = WaitFor(
            [&] {
                tv = screen(kTv);
                return RedShare(tv) >= 0.97
                    && std::all_of(corners.begin(), corners.end(), [&](QPoint p) { return qRed(tv.pixel(p)) > 180; });
            },
            60000);
        EXPECT_TRUE(whole) << step << ": red share on the TV " << RedShare(tv);
        if (!whole) {
            for (const QPoint p : corners)
                ADD_FAILURE() << step << ": corner " << p.x() << "," << p.y() << " red " << qRed(tv.pixel(p));
            keepScreen(step);
            // Where the window manager has the TV window, what it made of it, and the monitors it knows of.
            const QString id = QString::fromLatin1(x(QStringLiteral("xdotool"), { QStringLiteral("search"),
                                                                                  QStringLiteral("--name"),
                                                                                  QStringLiteral("^MIRA$") }))
                                   .trimmed()
                                   .section(QLatin1Char('\n'), -1);
            ADD_FAILURE() << step << ": TV window " << id.toStdString() << "\n"
                          << x(QStringLiteral("xwininfo"), { QStringLiteral("-id"), id }).toStdString()
                          << x(QStringLiteral("xprop"), { QStringLiteral("-id"), id, QStringLiteral("_NET_WM_STATE"),
                                                          QStringLiteral("_NET_FRAME_EXTENTS"),
                                                          QStringLiteral("WM_STATE") })
                                 .toStdString()
                          << x(QStringLiteral("xrandr"), { QStringLiteral("--listmonitors") }).toStdString();
        }
    }

    // Power, an address list, a web video and a second one, a film, the prompt: the walk of every session.
    void walk(bool tvCanBeUnplugged)
    {
        QProcess* krel = launch(machine.appDir() + QStringLiteral("krel"), {},
                                { QStringLiteral("KREL_CHROMIUM_FLAGS=--disable-gpu --no-sandbox --test-type "
                                                 "--disable-background-networking --disable-component-update") });
        ASSERT_TRUE(WaitFor([&] { return press(QStringLiteral("raw 0707 01")); }, 30000)) << "krel did not start";
        // Its control window opens as it starts (there is no tray host), and a window manager gives a new window the
        // focus: the PC user starts working once it is there.
        ASSERT_TRUE(WaitFor(
            [&] {
                return !x(QStringLiteral("xdotool"), { QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                       QStringLiteral("--name"), QStringLiteral("^系统配置$") })
                            .trimmed()
                            .isEmpty();
            },
            30000))
            << "krel's control window did not open";
        // The person at the PC works in a window of their own, which keeps the keyboard throughout.
        launch(QStringLiteral("xmessage"), { QStringLiteral("-geometry"), QStringLiteral("+300+300"),
                                             QStringLiteral("-name"), QStringLiteral("pc-user"),
                                             QStringLiteral("the PC user's window") });
        QString pcUser;
        ASSERT_TRUE(WaitFor(
            [&] {
                const QString window = QString::fromLatin1(
                    x(QStringLiteral("xdotool"),
                      { QStringLiteral("search"), QStringLiteral("--classname"), QStringLiteral("pc-user") }))
                                           .trimmed()
                                           .section(QLatin1Char('\n'), -1);
                if (!window.isEmpty())
                    x(QStringLiteral("xdotool"), { QStringLiteral("windowactivate"), window });
                pcUser = activeWindow();
                return !pcUser.isEmpty()
                    && x(QStringLiteral("xprop"), { QStringLiteral("-id"), pcUser, QStringLiteral("WM_CLASS") })
                           .contains("pc-user");
            },
            20000))
            << "the PC user's window has no focus";

        ASSERT_TRUE(press(QStringLiteral("Power")));
        ASSERT_TRUE(WaitFor([&] { return ShowsMenu(screen(kTv)); }, 30000)) << "no menu on the TV";
        // The PC monitor once it is still (the control window may hide as TV output starts).
        ASSERT_TRUE(WaitFor(
            [&] {
                const QImage a = screen(kPc);
                WaitFor([] { return false; }, 300);
                pcBefore = screen(kPc);
                return a == pcBefore;
            },
            20000));
        controlBefore = controlWindow();
        EXPECT_LT(MenuGreyShare(pcBefore), 0.05) << "the menu on the PC monitor";

        // An address list, and a video from it over the whole TV.
        ASSERT_TRUE(pressAll({ "Digit0", "Digit0" }));
        expectMenu("address list");
        ASSERT_TRUE(press(QStringLiteral("Digit0")));
        expectClipOnTheWholeTv("first video");
        expectPcAsBefore("first video");
        EXPECT_FALSE(managedClasses().contains(QLatin1String("krel-tv"))) << managedClasses().toStdString();
        expectFocusWith(pcUser, "first video");
        EXPECT_TRUE(WaitFor([&] { return pulse.SoundOnlyOn(QStringLiteral("tv")); }, 20000));

        // Back: the videos' list on the TV; the second episode in the same browser, its volume stepped.
        ASSERT_TRUE(press(QStringLiteral("Back")));
        expectMenu("back");
        expectPcAsBefore("back");
        ASSERT_TRUE(pressAll({ "Digit0", "Digit1" }));
        expectClipOnTheWholeTv("second video");
        PulseServer::SinkInput stream;
        ASSERT_TRUE(WaitFor([&] {
            const auto inputs = pulse.SinkInputs();
            return !inputs.empty() && (stream = inputs.back()).sink == pulse.SinkIndex(QStringLiteral("tv"));
        }));
        ASSERT_TRUE(press(QStringLiteral("VolumeDown")));
        EXPECT_TRUE(WaitFor([&] {
            for (const auto& s : pulse.SinkInputs())
                if (s.index == stream.index)
                    return s.volumeLeft < stream.volumeLeft;
            return false;
        }));
        ASSERT_TRUE(press(QStringLiteral("LeaveVideo")));
        expectMenu("leave video");

        // A film from the local folders: opaque over the whole TV.
        ASSERT_TRUE(pressAll({ "Back", "Back", "Back", "Digit3", "Digit0", "Digit0" }));
        expectClipOnTheWholeTv("film");
        expectPcAsBefore("film");
        ASSERT_TRUE(press(QStringLiteral("Back")));
        expectMenu("after the film");
        expectFocusWith(pcUser, "after the film");

        // Power: the prompt's box on the TV; 0 closes it.
        ASSERT_TRUE(press(QStringLiteral("Power")));
        const QRgb inside = qRgb(239, 239, 239);
        QImage tv;
        EXPECT_TRUE(WaitFor(
            [&] {
                tv = screen(kTv);
                return tv.pixel(300, 250) == inside && tv.pixel(700, 350) == inside;
            },
            15000))
            << "no prompt on the TV";
        expectFocusWith(pcUser, "prompt shown");
        ASSERT_TRUE(press(QStringLiteral("Digit0")));
        EXPECT_TRUE(WaitFor([&] { return screen(kTv).pixel(300, 250) != inside; }, 10000)) << "the prompt stays";
        expectPcAsBefore("prompt");
        expectFocusWith(pcUser, "after the prompt");

        if (tvCanBeUnplugged) {
            // TV output again, a video, and the TV switched off and on under it: nothing of krel comes to the PC
            // monitor (once the window manager has drawn it anew for the smaller screen), and the video comes back
            // on the TV.
            ASSERT_TRUE(pressAll({ "Power", "Digit0", "Digit0", "Digit0" }));
            expectClipOnTheWholeTv("video before the TV goes");
            ASSERT_TRUE(plugTv(false));
            EXPECT_TRUE(WaitFor(
                [&] {
                    return x(QStringLiteral("xdotool"), { QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                          QStringLiteral("--name"), QStringLiteral("^MIRA$") })
                        .isEmpty();
                },
                10000))
                << "the TV window stays with the TV gone";
            QImage pc;
            const bool clean = WaitFor(
                [&] {
                    pc = screen(kPc);
                    return RedShare(pc) < 0.001 && MenuGreyShare(pc) < 0.01;
                },
                10000);
            EXPECT_TRUE(clean) << "with the TV gone, red " << RedShare(pc) << " menu " << MenuGreyShare(pc)
                               << " on the PC monitor";
            if (!clean)
                keepScreen("TV gone");
            ASSERT_TRUE(plugTv(true));
            expectClipOnTheWholeTv("TV on again");
        }
        EXPECT_EQ(krel->state(), QProcess::Running);
    }

    QTemporaryDir runtime;
    TempMachine machine;
    PulseServer pulse;
    PrivateSessionBus bus;
    HttpServer http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    QProcess xserver;
    QString screenDisplay;
    QStringList session; // what the desktop gives the programs it starts
    QProcess* wm = nullptr;
    QImage pcBefore;
    QRect controlBefore;
    std::vector<std::unique_ptr<QProcess>> programs;
};

} // namespace

TEST_F(Desktops, GnomeOnWayland)
{
    ASSERT_TRUE(startGnomeOnWayland());
    // mutter's dummy monitors cannot be unplugged.
    walk(false);
}

TEST_F(Desktops, GnomeOnXorg)
{
    ASSERT_TRUE(startTwoOutputXorg());
    ASSERT_TRUE(startWindowManager(QStringLiteral("mutter"), { QStringLiteral("--x11"), QStringLiteral("--replace") },
                                   QStringLiteral("GNOME")));
    walk(true);
}

TEST_F(Desktops, KdePlasma)
{
    ASSERT_TRUE(startTwoOutputXorg());
    // kwin_x11 carries file capabilities, which a container refuses to execute: a copy of it runs.
    const QString kwin = runtime.path() + QStringLiteral("/kwin_x11");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/usr/bin/kwin_x11"), kwin));
    QFile::setPermissions(kwin, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(startWindowManager(kwin, { QStringLiteral("--replace") }, QStringLiteral("KDE")));
    walk(true);
}

TEST_F(Desktops, Xfce)
{
    ASSERT_TRUE(startTwoOutputXorg());
    ASSERT_TRUE(startWindowManager(QStringLiteral("xfwm4"), { QStringLiteral("--replace") }, QStringLiteral("XFCE")));
    walk(true);
}

// The real krel program under a real X server with monitors "PC" and "TV", a real PulseAudio server with two
// sinks, a private system bus with a fake logind, a local HTTP server and a test catalogue; keys are pressed with
// the real krel-remote.
#include <memory>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "bench/ProcessMemory.h"
#include "remote/RemoteSocket.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/SystemBus.h"
#include "support/TestEnv.h"
#include "tv/AudioRouter.h"

extern XvfbServer* g_pXServer;

namespace
{

class Program : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pulse.Start());
        ASSERT_TRUE(bus.IsRunning());
        ASSERT_TRUE(http.IsRunning());
        // The program with the player libraries it loads from beside itself.
        // The program with the player libraries it loads from beside itself.
        ASSERT_TRUE(machine.installProgram(QStringLiteral(KREL_BINARY)));
        ASSERT_TRUE(machine.buildCatalogue(QStringLiteral(KREL_CATALOGUE_TOOL), http.Url(QStringLiteral("audio.html")),
                                           { QStringLiteral("第1集") }));
        WriteFile(machine.settingsFile(),
                  "[Config]\nDisplayCard=1920 0 3840 1080\nSoundCard=HDMI-TV\n"
                  "DisableMouseCtrl=1\n");
        tone();
    }
    void TearDown() override
    {
        for (auto& p : programs) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        // Programs of this machine that are no child of the test (started by an updater or by a program that handed
        // over), updaters first: nothing of the test outlives it.
        for (const char* name : { "AutoUpdate", "krel" })
            QProcess::execute(QStringLiteral("pkill"),
                              { QStringLiteral("-KILL"), QStringLiteral("-f"),
                                QStringLiteral("^") + machine.appDir() + QLatin1String(name) });
    }

    // A one-minute WAV tone beside the test pages' copy served over HTTP.
    void tone()
    {
        const QString wav = pulse.WavFile(60);
        QFile::remove(pagesCopy + QStringLiteral("/tone.wav"));
        QFile::copy(wav, pagesCopy + QStringLiteral("/tone.wav"));
    }

    // A program that runs until the test ends, with extra environment entries ("NAME=value"); a quiet one's output
    // is dropped, the others' errors are shown.
    QProcess* launch(const QString& program, const QStringList& args, const QStringList& environment, bool quiet)
    {
        programs.push_back(std::make_unique<QProcess>());
        QProcess* p = programs.back().get();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& entry : environment)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        p->setProcessEnvironment(env);
        if (quiet) {
            p->setStandardOutputFile(QProcess::nullDevice());
            p->setStandardErrorFile(QProcess::nullDevice());
        } else {
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        p->start(program, args);
        p->waitForStarted(10000);
        return p;
    }
    QProcess* start(const QStringList& environment = {})
    {
        return launch(machine.appDir() + QStringLiteral("krel"), {}, environment, false);
    }
    // Presses a key with the software remote; true when the program took it.
    bool press(const QString& key)
    {
        QProcess remote;
        remote.start(QStringLiteral(KREL_REMOTE_TOOL), key.split(QLatin1Char(' ')));
        return remote.waitForFinished(10000) && remote.exitCode() == 0;
    }
    bool waitReady()
    {
        return WaitFor([&] { return press(QStringLiteral("raw 0707 01")); }, 30000);
    }
    // The TV monitor as the X server shows it.
    QImage tvScreen() { return CaptureTvScreen(*g_pXServer); }
    bool showsMenu() { return ShowsMenu(tvScreen()); }
    QString visibleWindowNamed(const QString& name)
    {
        QByteArray out;
        g_pXServer->run(QStringLiteral("xdotool"),
                        { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), name },
                        &out);
        return QString::fromLatin1(out).trimmed().section(QLatin1Char('\n'), 0, 0);
    }
    // A system tray host in the top left corner of the PC monitor, running until the test ends.
    QProcess* startTrayer()
    {
        QProcess* trayer = helper(QStringLiteral("trayer"),
                                  { QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                    QStringLiteral("left"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                    QStringLiteral("--width"), QStringLiteral("64"), QStringLiteral("--heighttype"),
                                    QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("32") });
        WaitFor([] { return false; }, 1000);
        return trayer;
    }
    // Where the pointer ends when pushed 100 pixels right from the PC monitor's right edge (relative motion, which
    // pointer barriers stop; a warp would jump them).
    int pointerXAfterPush()
    {
        g_pXServer->run(QStringLiteral("xdotool"),
                        { QStringLiteral("mousemove"), QStringLiteral("1900"), QStringLiteral("500") });
        for (int i = 0; i < 10; ++i)
            g_pXServer->run(QStringLiteral("xdotool"),
                            { QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("10"),
                              QStringLiteral("0") });
        QByteArray out;
        g_pXServer->run(QStringLiteral("xdotool"), { QStringLiteral("getmouselocation"), QStringLiteral("--shell") },
                        &out);
        return QRegularExpression(QStringLiteral("X=(\\d+)")).match(QString::fromLatin1(out)).captured(1).toInt();
    }
    // Starts a helper program (a compositor, a window manager) that runs until the test ends.
    QProcess* helper(const QString& program, const QStringList& args, const QStringList& environment = {})
    {
        return launch(program, args, environment, true);
    }
    // The X window id of a top-level window whose name contains text ("" when none), from the window tree.
    QString windowIdContaining(const QString& text)
    {
        QByteArray out;
        g_pXServer->run(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") }, &out);
        for (const QString& line : QString::fromUtf8(out).split(QLatin1Char('\n')))
            if (line.contains(text))
                return line.trimmed().section(QLatin1Char(' '), 0, 0);
        return {};
    }
    // The TV after Power, as a real full-screen window there shows it: grey at all four corners and the first grid
    // line exactly at y = 92 (TV height 1080), not moved by a panel or a compositor.
    void expectMenuExactlyOnTheTv()
    {
        QImage tv;
        ASSERT_TRUE(WaitFor([&] { return ShowsMenu(tv = tvScreen()); }, 20000)) << "no menu on the TV";
        for (const QPoint p : { QPoint(2, 2), QPoint(1917, 2), QPoint(2, 1077), QPoint(1917, 1077) })
            EXPECT_EQ(tv.pixel(p), qRgb(127, 127, 127)) << p.x() << "," << p.y();
        EXPECT_EQ(tv.pixel(960, 92), qRgb(255, 255, 255));
        EXPECT_EQ(tv.pixel(960, 89), qRgb(127, 127, 127));
        EXPECT_EQ(tv.pixel(960, 95), qRgb(127, 127, 127));
    }
    // The shutdown prompt's box at (100, 100) 700 x 300 on the TV: its inside is the dialog's colour, its
    // outside is not.
    void expectPromptBoxAtItsPlace()
    {
        QImage tv;
        const QRgb inside = qRgb(239, 239, 239);
        EXPECT_TRUE(WaitFor(
            [&] {
                tv = tvScreen();
                return !tv.isNull() && tv.pixel(105, 105) == inside && tv.pixel(795, 395) == inside;
            },
            10000));
        EXPECT_NE(tv.pixel(95, 95), inside);
        EXPECT_NE(tv.pixel(805, 405), inside);
    }
    QString windowNamed(const QString& name)
    {
        QByteArray out;
        g_pXServer->run(QStringLiteral("xdotool"), { QStringLiteral("search"), QStringLiteral("--name"), name }, &out);
        return QString::fromLatin1(out).trimmed().section(QLatin1Char('\n'), 0, 0);
    }
    // Qt may make more than one X window of a name (a group leader beside the real one): all of their geometries.
    QList<QRect> geometriesOf(const QString& name)
    {
        QByteArray out;
        g_pXServer->run(QStringLiteral("xdotool"), { QStringLiteral("search"), QStringLiteral("--name"), name }, &out);
        QList<QRect> rects;
        for (const QString& id : QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            rects << geometryOf(id.trimmed());
        return rects;
    }
    QRect geometryOf(const QString& window)
    {
        QByteArray out;
        g_pXServer->run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), window }, &out);
        auto field = [&](const char* n) {
            return QRegularExpression(QString::fromLatin1(n) + QStringLiteral(":\\s+(-?\\d+)"))
                .match(QString::fromLatin1(out))
                .captured(1)
                .toInt();
        };
        return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
    }

    TempMachine machine;
    PulseServer pulse;
    SystemBus bus;
    QString pagesCopy
        = (QDir().mkpath(machine.root() + QStringLiteral("/pages")), machine.root() + QStringLiteral("/pages"));
    HttpServer http { (
        QFile::copy(QStringLiteral(KREL_TEST_PAGES "/audio.html"), pagesCopy + QStringLiteral("/audio.html")),
        pagesCopy) };
    std::vector<std::unique_ptr<QProcess>> programs;
};

} // namespace

// A second start leaves at once and brings the running program's control window back: with a tray host the
// window was hidden when TV output started.
TEST_F(Program, SecondStartLeavesAtOnceAndShowsTheWindow)
{
    startTrayer();
    QProcess* first = start();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(press(QStringLiteral("Power")));
    ASSERT_TRUE(WaitFor([&] { return showsMenu(); }, 15000));
    ASSERT_TRUE(WaitFor([&] { return visibleWindowNamed(QStringLiteral("系统配置")).isEmpty(); }));
    QProcess* second = start();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_TRUE(WaitFor([&] { return !visibleWindowNamed(QStringLiteral("系统配置")).isEmpty(); }));
}

// A pending update hands over to the updater and ends without a window, from an application folder whose path
// holds quotes, blanks, $() and ";" (no shell may ever see it). Without a display: a program that tried to open a
// window would fail to start rather than end with 0.
TEST_F(Program, PendingUpdateStartsTheUpdaterAndNoWindow)
{
    const QString odd = machine.root() + QStringLiteral("/tv box;touch pwned$(touch pwned2)'q\"/");
    ASSERT_TRUE(QDir().mkpath(odd + QStringLiteral("Update")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_BINARY), odd + QStringLiteral("krel")));
    WriteFile(odd + QStringLiteral("ver.dat"), "[Main]\nAPP_VER=1\nDATA_VER=1\n");
    WriteFile(odd + QStringLiteral("Update/ver.dat"), "[Main]\nAPP_VER=2\nDATA_VER=1\n");
    const QString marker = machine.root() + QStringLiteral("/updater-ran");
    WriteFile(odd + QStringLiteral("AutoUpdate"),
              QStringLiteral("#!/bin/sh\necho \"$#\" > '%1'\n").arg(marker).toUtf8());
    QFile::setPermissions(odd + QStringLiteral("AutoUpdate"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(machine.root());
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(odd + QStringLiteral("krel"), {});
    ASSERT_TRUE(p.waitForFinished(15000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(marker); }));
    EXPECT_EQ(ReadFile(marker), QByteArray("0\n")); // started without arguments
    for (const QString& dir : { machine.root(), odd, QDir::currentPath() })
        for (const char* name : { "/pwned", "/pwned2" })
            EXPECT_FALSE(QFile::exists(dir + QLatin1String(name))) << dir.toStdString() << name;

    // The update is still parked but no updater can be found: the program starts as usual instead of ending.
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=1\nDATA_VER=1\n");
    machine.writeAppFile(QStringLiteral("Update/ver.dat"), "[Main]\nAPP_VER=2\nDATA_VER=1\n");
    QProcess* again = start();
    EXPECT_TRUE(waitReady());
    EXPECT_EQ(again->state(), QProcess::Running);
    again->terminate();
    ASSERT_TRUE(again->waitForFinished(10000));

    // An updater that can neither apply nor remove the update starts the program again: that program abandons the
    // update for its run instead of handing over once more, so the two never hand over to each other in a loop.
    const std::shared_ptr<void> endRelaunched(nullptr, [this](void*) {
        QProcess::execute(QStringLiteral("pkill"), { QStringLiteral("-f"), machine.appDir() + QStringLiteral("krel") });
    });
    machine.writeAppFile(QStringLiteral("AutoUpdate"),
                         QStringLiteral("#!/bin/sh\necho run >> '%1'\nKREL_AFTER_UPDATER=1 exec '%2krel'\n")
                             .arg(marker, machine.appDir())
                             .toUtf8());
    QFile::setPermissions(machine.appDir() + QStringLiteral("AutoUpdate"),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile::remove(marker);
    start();
    EXPECT_TRUE(waitReady());
    EXPECT_EQ(ReadFile(marker), QByteArray("run\n"));
}

TEST_F(Program, RemoteWalksTheCatalogueAndPlaysOnTheTv)
{
    QProcess* p = start();
    ASSERT_TRUE(waitReady());
    EXPECT_FALSE(windowNamed(QStringLiteral("系统配置")).isEmpty());
    EXPECT_GE(pointerXAfterPush(), 1920); // DisableMouseCtrl=1: the pointer is free

    // Power starts TV output on the TV monitor.
    ASSERT_TRUE(press(QStringLiteral("Power")));
    ASSERT_TRUE(WaitFor([&] { return !windowNamed(QStringLiteral("^MIRA$")).isEmpty(); }, 15000));
    EXPECT_TRUE(WaitFor([&] { return geometriesOf(QStringLiteral("^MIRA$")).contains(QRect(1920, 0, 1920, 1080)); }));
    ASSERT_TRUE(WaitFor([&] { return showsMenu(); }, 10000));
    // The menu alone starts no web engine process; the first video does.
    auto webEngineProcesses = [&] {
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"),
                    { QStringLiteral("-P"), QString::number(p->processId()), QStringLiteral("QtWebEngine|chromium") });
        pgrep.waitForFinished(5000);
        return pgrep.readAllStandardOutput().trimmed();
    };
    EXPECT_TRUE(webEngineProcesses().isEmpty());

    // Types -> videos -> addresses -> play: the page's audio plays on the TV's sound card.
    ASSERT_TRUE(press(QStringLiteral("Digit0")));
    ASSERT_TRUE(press(QStringLiteral("Digit0")));
    ASSERT_TRUE(press(QStringLiteral("Digit0")));
    const int tvSink = pulse.SinkIndex(QStringLiteral("tv"));
    PulseServer::SinkInput stream;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const auto& s : pulse.SinkInputs())
                stream = s;
            return stream.index >= 0 && stream.sink == tvSink;
        },
        30000))
        << "no stream on the TV sink";
    EXPECT_FALSE(webEngineProcesses().isEmpty());
    EXPECT_FALSE(showsMenu()); // the page covers the menu

    // The volume keys step the page's stream.
    const int before = stream.volumeLeft;
    ASSERT_TRUE(press(QStringLiteral("VolumeDown")));
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& s : pulse.SinkInputs())
            if (s.index == stream.index)
                return s.volumeLeft < before;
        return false;
    }));

    // LeaveVideo returns to the address list.
    ASSERT_TRUE(press(QStringLiteral("LeaveVideo")));
    ASSERT_TRUE(WaitFor([&] { return showsMenu(); }, 10000));

    // Power closes the TV window and puts the prompt on the TV; 1 shuts down through logind; 0 closes the prompt.
    ASSERT_TRUE(press(QStringLiteral("Power")));
    ASSERT_TRUE(WaitFor([&] { return !windowNamed(QStringLiteral("关机提示")).isEmpty(); }, 10000));
    EXPECT_TRUE(windowNamed(QStringLiteral("^MIRA$")).isEmpty());
    EXPECT_TRUE(WaitFor([&] { return geometriesOf(QStringLiteral("关机提示")).contains(QRect(2020, 100, 700, 300)); }));
    ASSERT_TRUE(press(QStringLiteral("Digit1")));
    ASSERT_TRUE(WaitFor([&] { return bus.PowerOffCalls() == "PowerOff false\n"; }));
    ASSERT_TRUE(press(QStringLiteral("Digit0")));
    ASSERT_TRUE(WaitFor([&] { return windowNamed(QStringLiteral("关机提示")).isEmpty(); }, 5000));
    EXPECT_EQ(p->state(), QProcess::Running);
}

TEST_F(Program, TrayMenuExitEndsWithCodeZero)
{
    // Without DisableMouseCtrl the pointer is kept off the TV from the start.
    WriteFile(machine.settingsFile(), "[Config]\nDisplayCard=1920 0 3840 1080\nSoundCard=HDMI-TV\n");
    startTrayer();
    QProcess* p = start();
    ASSERT_TRUE(waitReady());
    EXPECT_LT(pointerXAfterPush(), 1920);
    WaitFor([] { return false; }, 1000);
    // Right click on the first icon of the tray opens the menu; its last entry is "退出".
    g_pXServer->run(QStringLiteral("xdotool"),
                    { QStringLiteral("mousemove"), QStringLiteral("16"), QStringLiteral("16"), QStringLiteral("click"),
                      QStringLiteral("3") });
    WaitFor([] { return false; }, 1000);
    g_pXServer->run(QStringLiteral("xdotool"),
                    { QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return") });
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_GE(pointerXAfterPush(), 1920);
}

// Faults of the audio server: none at start (the first seconds after login), then one that appears while the TV
// menu shows; later it restarts. Each time the next video's sound is routed to the TV.
TEST_F(Program, AudioServerLateAndRestartingRoutesTheNextVideo)
{
    pulse.Stop();
    QProcess* p = start();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(press(QStringLiteral("Power")));
    ASSERT_TRUE(WaitFor([&] { return showsMenu(); }, 15000));
    ASSERT_TRUE(pulse.Start());
    auto onTv = [&] {
        const int tvSink = pulse.SinkIndex(QStringLiteral("tv"));
        for (const auto& s : pulse.SinkInputs())
            if (s.sink == tvSink)
                return true;
        return false;
    };
    for (const char* key : { "Digit0", "Digit0", "Digit0" })
        ASSERT_TRUE(press(QString::fromLatin1(key)));
    EXPECT_TRUE(WaitFor(onTv, 40000));
    // Back to the types; the server restarts; the next video plays on the TV again.
    for (const char* key : { "LeaveVideo", "Back", "Back" })
        ASSERT_TRUE(press(QString::fromLatin1(key)));
    pulse.Stop();
    ASSERT_TRUE(pulse.Start());
    for (const char* key : { "Digit0", "Digit0", "Digit0" })
        ASSERT_TRUE(press(QString::fromLatin1(key)));
    EXPECT_TRUE(WaitFor(onTv, 40000));
    EXPECT_EQ(p->state(), QProcess::Running);
}

// The weekly update end to end: on its update day the program fetches the version file and the data archive and
// parks them; the next start hands over to the real updater, which applies the catalogue and starts the program
// again, whose TV menu then lists the new catalogue's types.
TEST_F(Program, WeeklyDataUpdateReachesTheTv)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(KREL_AUTOUPDATE), machine.appDir() + QStringLiteral("AutoUpdate")));
    // The program the updater starts again is not a child of the test: it is ended by its path, however the test
    // ends.
    const std::shared_ptr<void> endRelaunched(nullptr, [this](void*) {
        QProcess::execute(QStringLiteral("pkill"), { QStringLiteral("-f"), machine.appDir() + QStringLiteral("krel") });
    });
    machine.writeAppFile(QStringLiteral("ver.dat"), "[Main]\nAPP_VER=1\nDATA_VER=1\n");
    // The new catalogue: five types (the test catalogue has one).
    const QString next = machine.root() + QStringLiteral("/next");
    WriteFile(next + QStringLiteral(".json"),
              R"({"types": [{"id": 1, "name": "甲"}, {"id": 2, "name": "乙"}, {"id": 3, "name": "丙"},
                            {"id": 4, "name": "丁"}, {"id": 5, "name": "戊"}]})");
    ASSERT_EQ(QProcess::execute(QStringLiteral(KREL_CATALOGUE_TOOL),
                                { QStringLiteral("build"), next + QStringLiteral(".json"), next }),
              0);
    QDir().mkpath(pagesCopy + QStringLiteral("/update"));
    QProcess zip;
    zip.setWorkingDirectory(next + QStringLiteral("/Data"));
    zip.start(QStringLiteral("sh"),
              { QStringLiteral("-c"),
                QStringLiteral("zip -q -X '%1' *").arg(pagesCopy + QStringLiteral("/update/data.zip")) });
    ASSERT_TRUE(zip.waitForFinished(30000));
    ASSERT_EQ(zip.exitCode(), 0);
    WriteFile(pagesCopy + QStringLiteral("/update/ver.dat"),
              "[Main]\nAPP_VER=1\nDATA_VER=2\nDATA_SHA256="
                  + QCryptographicHash::hash(ReadFile(pagesCopy + QStringLiteral("/update/data.zip")),
                                             QCryptographicHash::Sha256)
                        .toHex()
                  + "\n");
    WriteFile(machine.settingsFile(),
              ReadFile(machine.settingsFile()) + "UpdateServer=" + http.Url(QString()).toUtf8() + "\n");

    // The program file was made today: today is its update day.
    QProcess* first = start();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(machine.appDir() + QStringLiteral("Update/ver.dat")); }, 20000));
    ASSERT_TRUE(QFile::exists(machine.appDir() + QStringLiteral("Update/data.zip")));
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(10000));

    // The next start hands over and ends; another start right after it, while the updater works, neither runs beside
    // the updater nor starts a second one on the same files. The update is applied once, and one program runs.
    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitCode(), 0);
    start();
    ASSERT_TRUE(waitReady());
    const auto running = [&](const QString& name) {
        QByteArray out;
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"), { QStringLiteral("-f"), QStringLiteral("^") + machine.appDir() + name });
        pgrep.waitForFinished(5000);
        return pgrep.readAllStandardOutput().count('\n');
    };
    ASSERT_TRUE(WaitFor([&] { return running(QStringLiteral("AutoUpdate")) == 0; }, 30000));
    EXPECT_TRUE(WaitFor([&] { return running(QStringLiteral("krel$")) == 1; }, 15000));
    EXPECT_FALSE(QFile::exists(machine.appDir() + QStringLiteral("Update/ver.dat")));
    ASSERT_TRUE(press(QStringLiteral("Power")));
    // Five rows: six lines under the title, the last at 92 + 5 x 90.
    EXPECT_TRUE(WaitFor(
        [&] {
            const QImage tv = tvScreen();
            return !tv.isNull() && showsMenu() && tv.pixel(960, 92 + 5 * 90) == qRgb(255, 255, 255);
        },
        15000));
}

// Under a Wayland compositor with two outputs (weston on the test X server, one X window an output): the TV menu is
// a real full-screen surface on the TV's output, and the prompt's box sits at its place there.
TEST_F(Program, TvOutputUnderAWaylandCompositor)
{
    const QString socket = QStringLiteral("krel-test-%1").arg(QCoreApplication::applicationPid());
    helper(QStringLiteral("weston"),
           { QStringLiteral("--backend=x11-backend.so"), QStringLiteral("--output-count=2"),
             QStringLiteral("--width=1920"), QStringLiteral("--height=1080"), QStringLiteral("--socket=") + socket,
             QStringLiteral("--idle-time=0") });
    const QString output = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + socket;
    ASSERT_TRUE(WaitFor(
        [&] { return QFile::exists(output) && !windowIdContaining(QStringLiteral("screen1")).isEmpty(); }, 20000))
        << "weston did not start";
    // The second output's window goes where the TV monitor is, so that the TV capture shows that output.
    g_pXServer->run(QStringLiteral("xdotool"),
                    { QStringLiteral("windowmove"), windowIdContaining(QStringLiteral("screen1")),
                      QStringLiteral("1920"), QStringLiteral("0") });
    start({ QStringLiteral("QT_QPA_PLATFORM=wayland"), QStringLiteral("WAYLAND_DISPLAY=") + socket });
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(press(QStringLiteral("Power")));
    expectMenuExactlyOnTheTv();
    ASSERT_TRUE(press(QStringLiteral("Power")));
    expectPromptBoxAtItsPlace();
}

// Under X11 with a window manager whose panel is on the TV monitor: the full-screen TV window covers the panel, and
// the prompt lies at its place.
TEST_F(Program, TvOutputUnderAWindowManagerWithAPanelOnTheTv)
{
    const QString config = machine.root() + QStringLiteral("/icewm");
    // The panel on the second monitor (the TV), at its top.
    WriteFile(config + QStringLiteral("/preferences"), "XineramaPrimaryScreen=1\nShowTaskBar=1\nTaskBarAtTop=1\n");
    helper(QStringLiteral("icewm"), {}, { QStringLiteral("ICEWM_PRIVCFG=") + config });
    ASSERT_TRUE(WaitFor([&] { return !windowIdContaining(QStringLiteral("TaskBarFrame")).isEmpty(); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return tvScreen().pixel(960, 10) != tvScreen().pixel(960, 500); }, 5000))
        << "no panel on the TV";
    start();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(press(QStringLiteral("Power")));
    expectMenuExactlyOnTheTv();
    ASSERT_TRUE(press(QStringLiteral("Power")));
    EXPECT_TRUE(WaitFor([&] { return geometriesOf(QStringLiteral("关机提示")).contains(QRect(2020, 100, 700, 300)); }));
    expectPromptBoxAtItsPlace();
}

// The display server going away (the user logging out) while a web video plays: the program ends with 0 (nothing is
// to start it again), leaving no process of its own and no socket behind.
TEST_F(Program, EndsCleanlyWhenTheDisplayServerGoes)
{
    auto display = std::make_unique<XvfbServer>(); // a server of its own, which the test may end
    ASSERT_TRUE(display->isRunning());
    QProcess* p = start();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(press(QStringLiteral("Power")));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(press(QStringLiteral("Digit0")));
    ASSERT_TRUE(WaitFor([&] { return !pulse.SinkInputs().empty(); }, 30000)) << "the episode does not play";
    const QList<qint64> descendants = DescendantsOf(p->processId());
    ASSERT_FALSE(descendants.isEmpty()) << "no web engine process";
    ASSERT_TRUE(QFile::exists(RemoteSocketPath()));

    display.reset();
    ASSERT_TRUE(p->waitForFinished(20000));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_FALSE(QFile::exists(RemoteSocketPath()));
    EXPECT_TRUE(WaitFor([&] {
        for (qint64 pid : descendants)
            if (QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
                return false;
        return true;
    }));
}

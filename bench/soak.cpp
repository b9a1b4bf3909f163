// The long run: the real krel on a two-monitor X server with its own sound server and web pages, driven for a given
// number of minutes as a household would (web videos on the streaming pages opened and left, films played and
// stopped, TV output started and ended, the TV switched off and on, the sound server restarted, the phone remote
// and the software remote used), while krel's whole process tree is measured. Fails when, after the first minutes,
// the tree's PSS grew by more than 10 %, or krel's open files or threads grew at all.
//
//   krel_soak MINUTES
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>

#include "ProcessMemory.h"
#include "common/Globals.h"
#include "common/Paths.h"
#include "support/HttpServer.h"
#include "support/PulseServer.h"
#include "support/TestEnv.h"

namespace
{

// The streaming pages of the web player tests, one address each.
const char* const kPages[] = {
    "stream.html?player=hlsjs&src=streams/ts/index.m3u8",
    "stream.html?player=dashjs&src=streams/dash/index.mpd",
    "stream.html?player=shaka&src=streams/dash/index.mpd",
    "stream.html?player=progressive&src=streams/clip.mp4",
    "stream.html?player=hlsjs&src=streams/fmp4/index.m3u8",
    "videojs.html",
    "plain.html",
};
constexpr int kPageCount = static_cast<int>(sizeof(kPages) / sizeof(kPages[0]));
const char kPhoneSecret[] = "soak-phone-secret-0123456789abcdef";

struct Sample {
    double minute;
    long pssKb;
    long anonKb; // of it: the tree's own memory, not shared with programs outside it
    long fileKb; // the libraries' and fonts' pages, whose share moves with who else maps them
    int files;
    int threads;
};

void Pause(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

int Count(const QString& dir)
{
    return static_cast<int>(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

class Soak
{
public:
    explicit Soak(int minutes)
        : m_nMinutes(minutes)
    {
    }
    int Run();

private:
    bool Setup();
    bool Key(const QString& key);
    bool PhoneKey(const QString& key);
    bool WaitForSound(int ms);
    void WebVideo();
    void Film();
    void TvOffAndOn();
    void RestartSoundServer();
    Sample Measure(double minute) const;

    int m_nMinutes;
    TempMachine m_machine;
    XvfbServer m_x;
    PulseServer m_pulse;
    HttpServer m_http { QStringLiteral(KREL_WEB_PLAYERS "/site") };
    QProcess m_krel;
    int m_nPhonePort = 0;
    int m_nRound = 0;
    // What was done.
    int m_nVideos = 0, m_nFilms = 0, m_nTvSwitches = 0, m_nSoundRestarts = 0, m_nPhoneKeys = 0, m_nRemoteKeys = 0,
        m_nTvOutputs = 0;
};

bool Soak::Setup()
{
    if (!m_x.isRunning() || !m_pulse.Start() || !m_http.IsRunning()) {
        std::fprintf(stderr, "soak: the X server, sound server or web server did not start\n");
        return false;
    }
    const QString app = m_machine.appDir();
    for (const char* file : { "krel", "libkrel_web.so", "libkrel_chromium.so", "libkrel_film.so" })
        if (!QFile::copy(QStringLiteral(KREL_BINARY_DIR "/") + QLatin1String(file), app + QLatin1String(file)))
            return false;
    QString addresses;
    for (int i = 0; i < kPageCount; ++i)
        addresses += QStringLiteral(R"(%1{"id": %2, "video": 10, "name": "第%3集", "url": "%4"})")
                         .arg(i ? QStringLiteral(",") : QString())
                         .arg(100 + i)
                         .arg(i + 1)
                         .arg(m_http.Url(QLatin1String(kPages[i])));
    const QString source = m_machine.root() + QStringLiteral("/catalogue.json");
    WriteFile(source,
              QStringLiteral(R"({"types": [{"id": 1, "name": "流媒体"}],
        "videos": [{"id": 10, "name": "测试视频", "type": 1, "value2": 0, "scroll": 0}], "addresses": [%1]})")
                  .arg(addresses)
                  .toUtf8());
    if (QProcess::execute(QStringLiteral(KREL_CATALOGUE_TOOL), { QStringLiteral("build"), source, app }) != 0)
        return false;
    const QString films = m_machine.root() + QStringLiteral("/films");
    QDir().mkpath(films);
    QFile::copy(QStringLiteral(KREL_WEB_PLAYERS "/site/clip.webm"), films + QStringLiteral("/film.webm"));

    QTcpServer probe; // a free port for the phone remote
    probe.listen(QHostAddress::LocalHost);
    m_nPhonePort = probe.serverPort();
    probe.close();
    WriteFile(m_machine.settingsFile(),
              QStringLiteral("[Config]\nDisplayCard=1920 0 3840 1080\nSoundCard=HDMI-TV\nDisableMouseCtrl=1\n"
                             "PhoneRemote=1\nPhoneRemotePort=%1\nLocalMovieFolders=%2\n")
                  .arg(m_nPhonePort)
                  .arg(films)
                  .toUtf8());
    // A phone paired before the run.
    const QByteArray hash = QCryptographicHash::hash(kPhoneSecret, QCryptographicHash::Sha256).toHex();
    WriteFile(Paths::StateFile(QStringLiteral("phones.json")),
              "[{\"hash\": \"" + hash + "\", \"name\": \"soak phone\", \"paired\": \"2026-01-01T00:00:00Z\"}]");

    // Its log, and the browser's, kept beside the run.
    m_krel.setProcessChannelMode(QProcess::MergedChannels);
    m_krel.setStandardOutputFile(QStringLiteral(KREL_SOAK_LOG));
    DiesWithTheTest(m_krel);
    // KREL_SOAK_WRAPPER runs it under a tool ("heaptrack -o FILE", "valgrind ..."), to find what grows.
    QStringList command
        = QString::fromLocal8Bit(qgetenv("KREL_SOAK_WRAPPER")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    command << app + QStringLiteral("krel");
    m_krel.start(command.takeFirst(), command);
    if (!m_krel.waitForStarted(10000))
        return false;
    QElapsedTimer ready;
    ready.start();
    while (!Key(QStringLiteral("raw 0707 01")))
        if (ready.elapsed() > 30000)
            return false;
    return true;
}

bool Soak::Key(const QString& key)
{
    QProcess remote;
    remote.start(QStringLiteral(KREL_REMOTE_TOOL), key.split(QLatin1Char(' ')));
    const bool ok = remote.waitForFinished(10000) && remote.exitCode() == 0;
    m_nRemoteKeys += ok;
    Pause(300);
    return ok;
}

bool Soak::PhoneKey(const QString& key)
{
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_nPhonePort);
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               { QStringLiteral("-sf"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-H"),
                 QStringLiteral("Origin: ") + base, QStringLiteral("-H"),
                 QStringLiteral("Cookie: krel_phone=") + QLatin1String(kPhoneSecret), QStringLiteral("-d"),
                 QStringLiteral("key=") + key, base + QStringLiteral("/key") });
    const bool ok = curl.waitForFinished(10000) && curl.exitCode() == 0;
    m_nPhoneKeys += ok;
    Pause(300);
    return ok;
}

bool Soak::WaitForSound(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        for (const auto& s : m_pulse.SinkInputs())
            if (s.sink == m_pulse.SinkIndex(QStringLiteral("tv")))
                return true;
        Pause(250);
    }
    return false;
}

// TV output on, an episode of the streaming pages opened and watched a while, left, TV output off (the shutdown
// prompt, answered with 0).
void Soak::WebVideo()
{
    Key(QStringLiteral("Power"));
    ++m_nTvOutputs;
    Pause(1000);
    const int page = m_nRound % kPageCount;
    // Types and videos by digits or by arrows and OK, from the software remote or the phone.
    if (m_nRound % 2) {
        Key(QStringLiteral("Digit0"));
        PhoneKey(QStringLiteral("Digit0"));
    } else {
        Key(QStringLiteral("Down")); // the highlight on the first row
        Key(QStringLiteral("Ok"));
        PhoneKey(QStringLiteral("Down"));
        PhoneKey(QStringLiteral("Ok"));
    }
    PhoneKey(QStringLiteral("Digit%1").arg(page));
    m_nVideos += WaitForSound(30000);
    Pause(5000);
    PhoneKey(QStringLiteral("PlayPause"));
    PhoneKey(QStringLiteral("PlayPause"));
    Key(QStringLiteral("VolumeDown"));
    Key(QStringLiteral("LeaveVideo"));
    Pause(1000);
    Key(QStringLiteral("Power"));
    Pause(1000);
    Key(QStringLiteral("Digit0"));
}

// A local film: TV output on, home, local movies, the film for a while with a seek, back, TV output off.
void Soak::Film()
{
    Key(QStringLiteral("Power"));
    ++m_nTvOutputs;
    Pause(1000);
    Key(QStringLiteral("Back")); // home
    Key(QStringLiteral("Digit3")); // local movies: the folder
    Key(QStringLiteral("Digit0")); // its files
    Key(QStringLiteral("Digit0"));
    m_nFilms += WaitForSound(20000);
    Pause(3000);
    Key(QStringLiteral("Right"));
    Pause(2000);
    Key(QStringLiteral("Back"));
    Pause(1000);
    Key(QStringLiteral("Power"));
    Pause(1000);
    Key(QStringLiteral("Digit0"));
}

// The TV switched off and on again while its menu shows.
void Soak::TvOffAndOn()
{
    Key(QStringLiteral("Power"));
    ++m_nTvOutputs;
    Pause(1000);
    m_x.run(QStringLiteral("xrandr"), { QStringLiteral("--delmonitor"), QStringLiteral("TV") });
    m_pulse.RemoveSink(QStringLiteral("tv"));
    Pause(2000);
    m_x.run(QStringLiteral("xrandr"),
            { QStringLiteral("--setmonitor"), QStringLiteral("TV"), QStringLiteral("1920/508x1080/286+1920+0"),
              QStringLiteral("none") });
    m_pulse.AddSink(QStringLiteral("tv"), QStringLiteral("HDMI-TV"));
    ++m_nTvSwitches;
    Pause(2000);
    Key(QStringLiteral("Power"));
    Pause(1000);
    Key(QStringLiteral("Digit0"));
}

void Soak::RestartSoundServer()
{
    m_pulse.Stop();
    Pause(1000);
    if (m_pulse.Start())
        ++m_nSoundRestarts;
    Pause(3000);
}

Sample Soak::Measure(double minute) const
{
    const qint64 pid = m_krel.processId();
    int threads = 0;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Threads:"))
                threads = line.mid(8).trimmed().toInt();
    const auto tree = [&](const char* field) { return RollupKb(pid, field) + DescendantsKb(pid, field); };
    return { minute, tree("Pss:"), tree("Pss_Anon:"), tree("Pss_File:"), Count(QStringLiteral("/proc/%1/fd").arg(pid)),
             threads };
}

int Soak::Run()
{
    if (!Setup()) {
        std::fprintf(stderr, "soak: krel did not start\n");
        return 1;
    }
    // The first minutes warm up (fonts, the browser's caches, the sound server's first streams): the figures after
    // them are the measure.
    const double warmUp = std::min(5.0, m_nMinutes / 3.0);
    std::vector<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    double nextReport = 0;
    const auto minutes = [&] { return clock.elapsed() / 60000.0; };
    const auto report = [&](const Sample& s) {
        std::printf("soak %5.1f min: PSS %6.1f MB (anonymous %.1f, files %.1f), %d open files, %d threads; %d videos, "
                    "%d films, %d TV outputs, %d TV switches, %d sound restarts, %d phone keys, %d remote keys\n",
                    s.minute, s.pssKb / 1024.0, s.anonKb / 1024.0, s.fileKb / 1024.0, s.files, s.threads, m_nVideos,
                    m_nFilms, m_nTvOutputs, m_nTvSwitches, m_nSoundRestarts, m_nPhoneKeys, m_nRemoteKeys);
        std::fflush(stdout);
    };
    while (minutes() < m_nMinutes) {
        switch (m_nRound % 6) {
        case 2:
            Film();
            break;
        case 4:
            TvOffAndOn();
            break;
        case 5:
            if (m_nRound % 12 == 11)
                RestartSoundServer();
            WebVideo();
            break;
        default:
            WebVideo();
        }
        ++m_nRound;
        if (m_krel.state() != QProcess::Running) {
            std::fprintf(stderr, "soak: krel ended after %.1f minutes\n", minutes());
            return 1;
        }
        // Measured in the same state each time: the tray, TV output off, the browser kept.
        Pause(2000);
        samples.push_back(Measure(minutes()));
        if (samples.back().minute >= nextReport || qEnvironmentVariableIsSet("KREL_SOAK_EVERY_ROUND")) {
            report(samples.back());
            nextReport = samples.back().minute + std::max(1.0, m_nMinutes / 10.0);
        }
    }
    report(samples.back());

    // After the warm-up: the tree's PSS may vary with what the browser keeps (its shared file pages come and go by
    // several megabytes from one sample to the next), within 10 %; krel's files and threads come back to the same
    // counts. Each end is the lowest of three samples, so that a passing swing at either end tells nothing.
    std::vector<Sample> after;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(after),
                 [&](const Sample& s) { return s.minute >= warmUp; });
    if (after.size() < 6) {
        std::fprintf(stderr, "soak: too few rounds after the warm-up to tell\n");
        return 1;
    }
    const auto lowest = [](std::vector<Sample>::const_iterator from, auto field) {
        const auto to = from + 3;
        return (*std::min_element(from, to, [&](const Sample& a, const Sample& b) { return a.*field < b.*field; }))
            .*field;
    };
    const Sample first { 0, lowest(after.cbegin(), &Sample::pssKb), 0,
                         0, lowest(after.cbegin(), &Sample::files), lowest(after.cbegin(), &Sample::threads) };
    const long lastPss = lowest(after.cend() - 3, &Sample::pssKb);
    const int lastFiles = lowest(after.cend() - 3, &Sample::files);
    const int lastThreads = lowest(after.cend() - 3, &Sample::threads);
    int failed = 0;
    if (lastPss > first.pssKb * 1.10) {
        std::printf("soak FAILED: PSS grew from %.1f MB to %.1f MB\n", first.pssKb / 1024.0, lastPss / 1024.0);
        ++failed;
    }
    if (lastFiles > first.files) {
        std::printf("soak FAILED: open files grew from %d to %d\n", first.files, lastFiles);
        ++failed;
    }
    if (lastThreads > first.threads) {
        std::printf("soak FAILED: threads grew from %d to %d\n", first.threads, lastThreads);
        ++failed;
    }
    if (m_nVideos == 0 || m_nFilms == 0) {
        std::printf("soak FAILED: %d videos and %d films played\n", m_nVideos, m_nFilms);
        ++failed;
    }
    std::printf("soak %s: PSS %.1f -> %.1f MB, open files %d -> %d, threads %d -> %d over %zu rounds\n",
                failed ? "FAILED" : "passed", first.pssKb / 1024.0, lastPss / 1024.0, first.files, lastFiles,
                first.threads, lastThreads, samples.size());
    m_krel.terminate();
    m_krel.waitForFinished(10000);
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The web engines as in the tests: no GPU, no background services, and as root no sandbox.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox --disable-background-networking");
    if (qEnvironmentVariableIsEmpty("KREL_CHROMIUM_FLAGS"))
        qputenv("KREL_CHROMIUM_FLAGS",
                QByteArray("--disable-gpu --disable-background-networking --disable-component-update")
                    + (::geteuid() == 0 ? " --no-sandbox --test-type" : ""));
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 30;
    Soak soak(minutes);
    return soak.Run();
}

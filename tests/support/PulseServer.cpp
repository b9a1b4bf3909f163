#include "PulseServer.h"

#include "TestEnv.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <sys/stat.h>

PulseServer::PulseServer()
    : m_oldRuntime(qgetenv("XDG_RUNTIME_DIR"))
    , m_oldHome(qgetenv("HOME"))
{
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
    qputenv("HOME", m_dir.path().toUtf8());
    qunsetenv("PULSE_SERVER");
    qunsetenv("PULSE_SINK");
}

PulseServer::~PulseServer()
{
    Stop();
    qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    qputenv("HOME", m_oldHome);
}

bool PulseServer::Start()
{
    m_server.setProgram(QStringLiteral("pulseaudio"));
    m_server.setArguments(
        { QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
          QStringLiteral("--log-target=stderr"), QStringLiteral("--log-level=error"),
          QStringLiteral("--load=module-native-protocol-unix"),
          QStringLiteral("--load=module-null-sink sink_name=pc sink_properties=device.description=PC-Speakers"),
          QStringLiteral("--load=module-null-sink sink_name=tv sink_properties=device.description=HDMI-TV") });
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    DiesWithTheTest(m_server);
    m_server.start();
    if (!m_server.waitForStarted(5000))
        return false;
    for (int i = 0; i < 100; ++i) {
        if (Pactl({ QStringLiteral("info") }) == 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

void PulseServer::Stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished(3000);
    }
}

int PulseServer::Pactl(const QStringList& args, QByteArray* out) const
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    if (!p.waitForFinished(10000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitCode();
}

std::vector<PulseServer::SinkInput> PulseServer::SinkInputs() const
{
    QByteArray text;
    Pactl({ QStringLiteral("list"), QStringLiteral("sink-inputs") }, &text);
    std::vector<SinkInput> inputs;
    // "Volume: front-left: 65536 / 100% / 0.00 dB,   front-right: ..." or "Volume: mono: 65536 / 100% / ...".
    static const QRegularExpression volume(QStringLiteral("(\\d+) /\\s+\\d+%"));
    for (const QString& raw : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Sink Input #"))) {
            inputs.push_back({});
            inputs.back().index = line.mid(12).toInt();
        } else if (inputs.empty()) {
            continue;
        } else if (line.startsWith(QLatin1String("Sink: "))) {
            inputs.back().sink = line.mid(6).toInt();
        } else if (line.startsWith(QLatin1String("Volume: "))) {
            std::vector<int> channels;
            for (auto it = volume.globalMatch(line); it.hasNext();)
                channels.push_back(it.next().captured(1).toInt());
            if (!channels.empty()) {
                inputs.back().volumeLeft = channels.front();
                inputs.back().volumeRight = channels.size() > 1 ? channels[1] : channels.front();
            }
        } else if (line.startsWith(QLatin1String("Corked: "))) {
            inputs.back().corked = line.endsWith(QLatin1String("yes"));
        } else if (line.startsWith(QLatin1String("Mute: "))) {
            inputs.back().muted = line.endsWith(QLatin1String("yes"));
        } else if (line.startsWith(QLatin1String("media.role = "))) {
            inputs.back().role = line.section(QLatin1Char('"'), 1, 1);
        } else if (line.startsWith(QLatin1String("application.process.id = "))) {
            inputs.back().pid = line.section(QLatin1Char('"'), 1, 1).toLong();
        }
    }
    return inputs;
}

bool PulseServer::RemoveSink(const QString& name)
{
    QByteArray modules;
    Pactl({ QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules") }, &modules);
    for (const QByteArray& line : modules.split('\n'))
        if (line.contains("sink_name=" + name.toUtf8() + ' ') || line.endsWith("sink_name=" + name.toUtf8()))
            Pactl({ QStringLiteral("unload-module"), QString::fromLatin1(line.split('\t').value(0)) });
    return SinkIndex(name) < 0;
}

bool PulseServer::AddSink(const QString& name, const QString& description)
{
    return Pactl({ QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                   QStringLiteral("sink_name=") + name,
                   QStringLiteral("sink_properties=device.description=") + description })
        == 0;
}

bool PulseServer::SoundOnlyOn(const QString& sink) const
{
    const int index = SinkIndex(sink);
    const auto inputs = SinkInputs();
    return !inputs.empty()
        && std::all_of(inputs.begin(), inputs.end(), [&](const auto& s) { return s.sink == index && s.audible(); });
}

bool PulseServer::Silent() const
{
    const auto inputs = SinkInputs();
    return std::none_of(inputs.begin(), inputs.end(), [](const auto& s) { return s.audible(); });
}

int PulseServer::SinkIndex(const QString& name) const
{
    QByteArray text;
    Pactl({ QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks") }, &text);
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() > 1 && f[1] == name.toUtf8())
            return f[0].toInt();
    }
    return -1;
}

QString PulseServer::WavFile(int seconds)
{
    const QString path = m_dir.path() + QStringLiteral("/silence%1.wav").arg(seconds);
    // Written once, and whole before it has its name: a player started earlier may be opening it right now.
    if (QFileInfo::exists(path))
        return path;
    const quint32 rate = 8000, bytes = rate * 2 * static_cast<quint32>(seconds);
    QByteArray wav;
    auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            wav.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](quint16 v) { wav.append(static_cast<char>(v & 0xFF)).append(static_cast<char>(v >> 8)); };
    wav.append("RIFF");
    u32(36 + bytes);
    wav.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2); // bytes per second
    u16(2); // block align
    u16(16); // bits per sample
    wav.append("data");
    u32(bytes);
    wav.append(QByteArray(static_cast<qsizetype>(bytes), '\0'));
    QFile f(path + QStringLiteral(".part"));
    if (f.open(QIODevice::WriteOnly) && f.write(wav) == wav.size()) {
        f.close();
        f.rename(path);
    }
    return path;
}

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private PulseAudio server with two null sinks, "pc" (PC-Speakers) and "tv" (HDMI-TV). XDG_RUNTIME_DIR and
// HOME point at a private folder while the object lives, so clients of this process find this server only.
class PulseServer
{
public:
    PulseServer();
    ~PulseServer();

    bool Start();
    void Stop();
    bool IsRunning() const { return m_server.state() == QProcess::Running; }

    struct SinkInput {
        int index = -1;
        int sink = -1;
        long pid = 0;
        int volumeLeft = 0; // raw server volume, 65536 = 100%
        int volumeRight = 0;
        bool corked = false;
        bool muted = false;
        QString role; // media.role, "" when it has none
        // Whether it can be heard: neither held by its player nor muted.
        bool audible() const { return !corked && !muted; }
    };
    std::vector<SinkInput> SinkInputs() const;
    int SinkIndex(const QString& name) const;
    // Some sound plays, and all of it on that sink (a paused player opens no stream, or holds it corked).
    bool SoundOnlyOn(const QString& sink) const;
    // Nothing can be heard on any sink.
    bool Silent() const;
    // Runs pactl with the arguments; returns its exit code.
    int Pactl(const QStringList& args, QByteArray* out = nullptr) const;
    // Takes a null sink away (as a TV switched off takes its HDMI sink), or adds one; true once it is done.
    bool RemoveSink(const QString& name);
    bool AddSink(const QString& name, const QString& description);
    // A WAV file of silence of the given length.
    QString WavFile(int seconds);

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_oldRuntime, m_oldHome;
};

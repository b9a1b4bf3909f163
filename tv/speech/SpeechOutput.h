#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include <QString>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

// The speaker's sound: one PulseAudio playback stream of mono 16-bit samples, opened on the given sink and kept open
// while spoken menus are on, so that a new utterance only writes. Its media role is "a11y", by which the audio
// routing knows it from the video's streams (it is neither the stream the volume keys step nor one it lowers).
// Used from one thread (the speaker's); the library's own loop runs the stream.
class CSpeechOutput
{
public:
    explicit CSpeechOutput(int sampleRate);
    ~CSpeechOutput();
    CSpeechOutput(const CSpeechOutput&) = delete;
    CSpeechOutput& operator=(const CSpeechOutput&) = delete;

    // Opens the stream on sink (the server's default where sink is empty) unless it is open on it already; false
    // (and one log line) when no server or stream can be had.
    bool Open(const QString& sink);
    // Queues samples behind what plays.
    bool Write(const std::int16_t* samples, int count);
    // Drops what is queued and not yet played: what is being said stops at once.
    void Flush();
    // Calls done (on the library's thread, or at once) once everything written so far has been played, or the
    // stream has gone. Every Drain gets its call, in order.
    void Drain(std::function<void()> done);

private:
    void Close();
    void CloseStream();
    void EndDrains();
    static void OnContextState(pa_context* c, void* self);
    static void OnStreamState(pa_stream* s, void* self);
    static void OnDrained(pa_stream* s, int success, void* self);

    int m_nSampleRate;
    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    pa_stream* m_pStream = nullptr;
    QString m_strSink; // the sink the stream was opened on
    std::deque<std::function<void()>> m_drains; // waiting for the server's one drain, oldest first (loop's lock)
    bool m_bLoggedFailure = false;
};

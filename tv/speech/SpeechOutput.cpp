#include "SpeechOutput.h"

#include <pulse/pulseaudio.h>

#include "common/Log.h"
#include "common/PulseLoopLock.h"

namespace
{

// Low latency: what is written plays within about this time; the rest of an utterance waits in the server.
constexpr int kTargetLatencyMs = 30;

// Waits on the loop (its lock held) until state() says ready (1) or failed (-1); the state callbacks signal.
template <typename State> bool WaitUntil(pa_threaded_mainloop* loop, State state)
{
    for (int s = state(); s <= 0; s = state()) {
        if (s < 0)
            return false;
        pa_threaded_mainloop_wait(loop);
    }
    return true;
}

} // namespace

CSpeechOutput::CSpeechOutput(int sampleRate)
    : m_nSampleRate(sampleRate)
{
    m_pLoop = pa_threaded_mainloop_new();
    if (m_pLoop) {
        pa_threaded_mainloop_set_name(m_pLoop, "krel-speech");
        pa_threaded_mainloop_start(m_pLoop);
    }
}

CSpeechOutput::~CSpeechOutput()
{
    if (!m_pLoop)
        return;
    {
        PulseLoopLock lock(m_pLoop);
        Close();
    }
    pa_threaded_mainloop_stop(m_pLoop);
    pa_threaded_mainloop_free(m_pLoop);
}

void CSpeechOutput::EndDrains()
{
    // (Each call may ask for another drain: taken one at a time.)
    while (!m_drains.empty()) {
        std::function<void()> done = std::move(m_drains.front());
        m_drains.pop_front();
        done();
    }
}

void CSpeechOutput::CloseStream()
{
    if (m_pStream) {
        pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
        pa_stream_disconnect(m_pStream);
        pa_stream_unref(m_pStream);
        m_pStream = nullptr;
    }
    // The server answers no drain of a stream that has gone.
    EndDrains();
}

void CSpeechOutput::Close()
{
    CloseStream();
    if (m_pContext) {
        pa_context_set_state_callback(m_pContext, nullptr, nullptr);
        pa_context_disconnect(m_pContext);
        pa_context_unref(m_pContext);
        m_pContext = nullptr;
    }
}

void CSpeechOutput::OnContextState(pa_context*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<CSpeechOutput*>(self)->m_pLoop, 0);
}

void CSpeechOutput::OnStreamState(pa_stream* s, void* selfPtr)
{
    auto* self = static_cast<CSpeechOutput*>(selfPtr);
    // A stream that failed or was taken away ends what waits for its drain.
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        self->EndDrains();
    pa_threaded_mainloop_signal(self->m_pLoop, 0);
}

void CSpeechOutput::OnDrained(pa_stream*, int, void* selfPtr)
{
    // Everything written before and after the drain was asked for has played.
    static_cast<CSpeechOutput*>(selfPtr)->EndDrains();
}

bool CSpeechOutput::Open(const QString& sink)
{
    if (!m_pLoop)
        return false;
    PulseLoopLock lock(m_pLoop);
    const bool contextGood = m_pContext && pa_context_get_state(m_pContext) == PA_CONTEXT_READY;
    if (contextGood && m_pStream && pa_stream_get_state(m_pStream) == PA_STREAM_READY && sink == m_strSink)
        return true;
    if (!contextGood)
        Close();
    const auto fail = [this](const char* what) {
        if (!m_bLoggedFailure)
            qCWarning(lcAudio, "spoken menus: %s", what);
        m_bLoggedFailure = true;
        Close();
        return false;
    };
    if (!m_pContext) {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "krel");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "krel");
        m_pContext = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_pLoop), "krel speech", props);
        pa_proplist_free(props);
        if (!m_pContext)
            return fail("no sound server context");
        pa_context_set_state_callback(m_pContext, &CSpeechOutput::OnContextState, this);
        if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return fail("no sound server");
        if (!WaitUntil(m_pLoop, [this] {
                const pa_context_state_t state = pa_context_get_state(m_pContext);
                return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
            }))
            return fail("no sound server");
    }
    CloseStream();
    const pa_sample_spec spec { PA_SAMPLE_S16LE, static_cast<std::uint32_t>(m_nSampleRate), 1 };
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "a11y");
    pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "spoken menus");
    m_pStream = pa_stream_new_with_proplist(m_pContext, "spoken menus", &spec, nullptr, props);
    pa_proplist_free(props);
    if (!m_pStream)
        return fail("no playback stream");
    pa_stream_set_state_callback(m_pStream, &CSpeechOutput::OnStreamState, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatencyMs * PA_USEC_PER_MSEC, &spec));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const QByteArray device = sink.toUtf8();
    if (pa_stream_connect_playback(m_pStream, device.isEmpty() ? nullptr : device.constData(), &attr,
                                   static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY), nullptr, nullptr)
        < 0)
        return fail("the playback stream cannot be opened");
    if (!WaitUntil(m_pLoop, [this] {
            const pa_stream_state_t state = pa_stream_get_state(m_pStream);
            return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
        }))
        return fail("the playback stream cannot be opened");
    m_strSink = sink;
    m_bLoggedFailure = false;
    return true;
}

bool CSpeechOutput::Write(const std::int16_t* samples, int count)
{
    if (!m_pLoop || count <= 0)
        return false;
    PulseLoopLock lock(m_pLoop);
    if (!m_pStream || pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        return false;
    // (The server keeps what goes beyond the target latency; copied here, the caller's buffer may go.)
    return pa_stream_write(m_pStream, samples, static_cast<size_t>(count) * sizeof(std::int16_t), nullptr, 0,
                           PA_SEEK_RELATIVE)
        == 0;
}

void CSpeechOutput::Flush()
{
    if (!m_pLoop)
        return;
    PulseLoopLock lock(m_pLoop);
    if (m_pStream && pa_stream_get_state(m_pStream) == PA_STREAM_READY)
        if (pa_operation* op = pa_stream_flush(m_pStream, nullptr, nullptr))
            pa_operation_unref(op);
}

void CSpeechOutput::Drain(std::function<void()> done)
{
    if (!m_pLoop)
        return done();
    PulseLoopLock lock(m_pLoop);
    if (!m_pStream || pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        return done();
    // The server keeps one drain a stream: a second one would replace the first, which would never be answered.
    // One is asked for, and its answer (all that was written has played) ends every Drain since.
    m_drains.push_back(std::move(done));
    if (m_drains.size() > 1)
        return;
    if (pa_operation* op = pa_stream_drain(m_pStream, &CSpeechOutput::OnDrained, this))
        pa_operation_unref(op);
    else
        EndDrains();
}

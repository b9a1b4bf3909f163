#include "AudioRouter.h"

#include <chrono>
#include <thread>
#include <unistd.h>

#include <QFile>

#include <pulse/pulseaudio.h>

#include "common/Globals.h"
#include "common/Log.h"

namespace
{

CAudioRouter* s_pInstance = nullptr;
constexpr int kReconnectDelayMs = 1000;
// Sound card names are kept to 31 characters: the stored SoundCard setting has always held at most that many.
constexpr int kProductNameChars = 31;
constexpr int kMaxLevel = 65535;
constexpr int kVolumeStep = kMaxLevel / 20; // 3276

// Holds the main loop's lock for a scope (GUI thread side).
class LoopLock
{
public:
    explicit LoopLock(pa_threaded_mainloop* loop)
        : m_loop(loop)
    {
        pa_threaded_mainloop_lock(m_loop);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(m_loop); }

private:
    pa_threaded_mainloop* m_loop;
};

long parentOf(long pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so look after the last ')'.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLong() : -1;
}

} // namespace

CAudioRouter::CAudioRouter()
{
    s_pInstance = this;
    m_pLoop = pa_threaded_mainloop_new();
    if (!m_pLoop)
        return;
    pa_threaded_mainloop_set_name(m_pLoop, "krel-audio");
    {
        LoopLock lock(m_pLoop);
        Connect();
    }
    pa_threaded_mainloop_start(m_pLoop);
}

CAudioRouter::~CAudioRouter()
{
    if (s_pInstance == this)
        s_pInstance = nullptr;
    if (!m_pLoop)
        return;
    pa_threaded_mainloop_stop(m_pLoop);
    if (m_pContext) {
        pa_context_set_state_callback(m_pContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_pContext, nullptr, nullptr);
        pa_context_disconnect(m_pContext);
        pa_context_unref(m_pContext);
    }
    pa_threaded_mainloop_free(m_pLoop);
}

CAudioRouter* CAudioRouter::Instance()
{
    return s_pInstance;
}

void CAudioRouter::Connect()
{
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "krel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "krel");
    m_pContext = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_pLoop), "krel", props);
    pa_proplist_free(props);
    if (!m_pContext) {
        ScheduleReconnect();
        return;
    }
    pa_context_set_state_callback(m_pContext, &CAudioRouter::OnContextState, this);
    if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        OnContextState(m_pContext, this);
}

void CAudioRouter::ScheduleReconnect()
{
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_pLoop);
    struct timeval when {
    };
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kReconnectDelayMs * PA_USEC_PER_MSEC);
    api->time_new(api, &when, &CAudioRouter::OnReconnectTimer, this);
}

void CAudioRouter::OnReconnectTimer(pa_mainloop_api* api, pa_time_event* e, const struct timeval*, void* self)
{
    api->time_free(e);
    static_cast<CAudioRouter*>(self)->Connect();
}

void CAudioRouter::OnContextState(pa_context* c, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY: {
        self->m_bReady = true;
        ++self->m_nConnections;
        pa_context_set_subscribe_callback(
            c,
            [](pa_context* ctx, pa_subscription_event_type_t t, std::uint32_t idx, void* s) {
                OnSubscription(ctx, static_cast<int>(t), idx, s);
            },
            self);
        pa_operation_unref(pa_context_subscribe(
            c, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT),
            nullptr, nullptr));
        self->RequestSinks();
        // Streams that already play (after a reconnection) are routed too.
        pa_operation_unref(pa_context_get_sink_input_info_list(c, &CAudioRouter::OnSinkInputInfo, self));
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->m_bReady = false;
        {
            std::lock_guard guard(self->m_lock);
            self->m_bSinksKnown = false;
        }
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_set_subscribe_callback(c, nullptr, nullptr);
        pa_context_unref(c);
        self->m_pContext = nullptr;
        self->ScheduleReconnect();
        break;
    default:
        break;
    }
    pa_threaded_mainloop_signal(self->m_pLoop, 0);
}

void CAudioRouter::RequestSinks()
{
    {
        std::lock_guard guard(m_lock);
        m_pendingSinks.clear();
    }
    pa_operation_unref(pa_context_get_sink_info_list(m_pContext, &CAudioRouter::OnSinkInfo, this));
}

void CAudioRouter::OnSubscription(pa_context* c, int type, std::uint32_t index, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_CHANGE)
        self->RequestSinks();
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_NEW)
        pa_operation_unref(pa_context_get_sink_input_info(c, index, &CAudioRouter::OnSinkInputInfo, self));
}

void CAudioRouter::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    std::lock_guard guard(self->m_lock);
    if (eol) {
        // The server lists sinks by index, which is the order it made them in.
        self->m_sinks = self->m_pendingSinks;
        self->m_bSinksKnown = eol > 0;
        pa_threaded_mainloop_signal(self->m_pLoop, 0);
        return;
    }
    SoundCard card;
    card.index = info->index;
    card.name = QString::fromUtf8(info->name);
    card.productName = QString::fromUtf8(info->description ? info->description : info->name).left(kProductNameChars);
    self->m_pendingSinks.push_back(card);
}

bool CAudioRouter::IsOurProcess(long pid)
{
    const long self = ::getpid();
    // Walk up the parent chain; a bounded walk guards against a chain that changes under us.
    for (int depth = 0; pid > 1 && depth < 64; ++depth) {
        if (pid == self)
            return true;
        pid = parentOf(pid);
    }
    return false;
}

void CAudioRouter::OnSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* self)
{
    if (eol || !info)
        return;
    static_cast<CAudioRouter*>(self)->RouteStream(info);
}

void CAudioRouter::RouteStream(const pa_sink_input_info* info)
{
    const char* pidText = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (!pidText || !IsOurProcess(QByteArray(pidText).toLong()))
        return;
    // The newest stream of ours is the one the volume keys step.
    g_hWaveOut = info->index;

    const int card = g_nSoundCard;
    std::uint32_t sink = PA_INVALID_INDEX;
    {
        std::lock_guard guard(m_lock);
        if (card >= 0 && card < static_cast<int>(m_sinks.size()))
            sink = m_sinks[static_cast<std::size_t>(card)].index;
    }
    // A card index that names no sink leaves the stream where it is.
    int result = -PA_ERR_NOENTITY;
    if (sink != PA_INVALID_INDEX) {
        result = 0;
        if (info->sink != sink)
            pa_operation_unref(pa_context_move_sink_input_by_index(m_pContext, info->index, sink, nullptr, nullptr));
    }
    qCDebug(lcAudio, "myWaveOutOpen: hr=%x, id=%d, %X, %d", static_cast<unsigned>(result), card,
            static_cast<unsigned>(info->sample_spec.format), static_cast<int>(pa_sample_size(&info->sample_spec) * 8));
}

std::vector<SoundCard> CAudioRouter::SoundCards(int waitMs) const
{
    if (!m_pLoop)
        return {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        {
            std::lock_guard guard(m_lock);
            if (m_bSinksKnown || std::chrono::steady_clock::now() >= deadline)
                return m_sinks;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

QStringList CAudioRouter::ProductNames(int waitMs) const
{
    QStringList names;
    for (const SoundCard& card : SoundCards(waitMs))
        names.append(card.productName);
    return names;
}

int CAudioRouter::MatchSoundCard(const std::vector<SoundCard>& cards, const QString& productName)
{
    int match = -1;
    for (std::size_t i = 0; i < cards.size(); ++i)
        if (cards[i].productName.trimmed() == productName)
            match = static_cast<int>(i);
    return match;
}

void CAudioRouter::SetSoundCard(int index)
{
    g_nSoundCard = index;
    const std::vector<SoundCard> cards = SoundCards(0);
    if (index >= 0 && index < static_cast<int>(cards.size()))
        qputenv("PULSE_SINK", cards[static_cast<std::size_t>(index)].name.toUtf8());
}

int CAudioRouter::LevelOfVolume(std::uint32_t volume)
{
    const std::uint64_t level = (std::uint64_t(volume) * kMaxLevel + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM;
    return static_cast<int>(std::min<std::uint64_t>(level, kMaxLevel));
}

std::uint32_t CAudioRouter::VolumeOfLevel(int level)
{
    return static_cast<std::uint32_t>((std::uint64_t(level) * PA_VOLUME_NORM + kMaxLevel / 2) / kMaxLevel);
}

int CAudioRouter::SteppedLevel(int level, bool up)
{
    return up ? std::min(level + kVolumeStep, kMaxLevel) : std::max(level - kVolumeStep, 0);
}

void CAudioRouter::StepVolume(bool up)
{
    const std::uint32_t stream = g_hWaveOut;
    if (!m_pLoop || stream == kNoStream)
        return;
    LoopLock lock(m_pLoop);
    if (!m_pContext || !m_bReady)
        return;
    // Read the stream's volume, then set every channel to the left channel's level plus or minus one step. A stream
    // that has gone away answers nothing and nothing changes. The direction is in the choice of callback, so no
    // state has to outlive a request that the server never answers.
    pa_operation* op = pa_context_get_sink_input_info(m_pContext, stream, up ? &OnVolumeUp : &OnVolumeDown, nullptr);
    if (op)
        pa_operation_unref(op);
}

void CAudioRouter::OnVolumeUp(pa_context* c, const pa_sink_input_info* info, int eol, void*)
{
    ApplyVolumeStep(c, info, eol, true);
}

void CAudioRouter::OnVolumeDown(pa_context* c, const pa_sink_input_info* info, int eol, void*)
{
    ApplyVolumeStep(c, info, eol, false);
}

void CAudioRouter::ApplyVolumeStep(pa_context* c, const pa_sink_input_info* info, int eol, bool up)
{
    if (eol || !info || info->volume.channels == 0)
        return;
    const int level = SteppedLevel(LevelOfVolume(info->volume.values[0]), up);
    pa_cvolume volume;
    pa_cvolume_set(&volume, info->volume.channels, VolumeOfLevel(level));
    pa_operation_unref(pa_context_set_sink_input_volume(c, info->index, &volume, nullptr, nullptr));
}

void StepVolume(bool up)
{
    if (CAudioRouter* router = CAudioRouter::Instance())
        router->StepVolume(up);
}

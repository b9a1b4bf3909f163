#include "AudioRouter.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <thread>
#include <unistd.h>

#include <QFile>

#include <pulse/pulseaudio.h>

#include "common/Globals.h"
#include "common/Log.h"
#include "common/PulseLoopLock.h"

namespace
{

CAudioRouter* s_pInstance = nullptr;
constexpr int kFirstReconnectDelayMs = 1000;
constexpr int kLastReconnectDelayMs = 30000;
// Sound card names are kept to 31 characters: the stored SoundCard setting has always held at most that many.
// The lengths at which stored card names were cut: the sound card list's 31 characters, the settings' 63.
constexpr int kCutNameLengths[] = { 31, 63 };
constexpr int kMaxLevel = 65535;
constexpr int kVolumeStep = kMaxLevel / 20; // 3276

// A stream of spoken menus (by its media role).
bool IsSpeech(const pa_sink_input_info* info)
{
    const char* role = pa_proplist_gets(info->proplist, PA_PROP_MEDIA_ROLE);
    return role && qstrcmp(role, CAudioRouter::kSpeechRole) == 0;
}

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
        PulseLoopLock lock(m_pLoop);
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
    for (pa_context* c : { m_pContext, m_pDeadContext }) {
        if (!c)
            continue;
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_set_subscribe_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
    // Frees the pending reconnection timer with the loop.
    pa_threaded_mainloop_free(m_pLoop);
}

CAudioRouter* CAudioRouter::Instance()
{
    return s_pInstance;
}

int CAudioRouter::ReconnectDelayMs(int failures)
{
    int delay = kFirstReconnectDelayMs;
    for (int i = 1; i < failures && delay < kLastReconnectDelayMs; ++i)
        delay *= 2;
    return std::min(delay, kLastReconnectDelayMs);
}

void CAudioRouter::Connect()
{
    ++m_nAttempts;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "krel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "krel");
    pa_context* c = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_pLoop), "krel", props);
    pa_proplist_free(props);
    // The context that failed last is released only now, so a late callback of it never meets a new context
    // at the same address.
    if (m_pDeadContext) {
        pa_context_unref(m_pDeadContext);
        m_pDeadContext = nullptr;
    }
    if (!c) {
        ++m_nFailures;
        ScheduleReconnect();
        return;
    }
    m_pContext = c;
    pa_context_set_state_callback(c, &CAudioRouter::OnContextState, this);
    // With no server at all, connect fails at once; the state callback may or may not have been told already.
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 && m_pContext == c)
        DropContext(c);
}

void CAudioRouter::DropContext(pa_context* c)
{
    const bool wasReady = m_bReady.exchange(false);
    pa_context_set_state_callback(c, nullptr, nullptr);
    pa_context_set_subscribe_callback(c, nullptr, nullptr);
    m_pContext = nullptr;
    m_pDeadContext = c;
    m_bSinkRequestBusy = false;
    m_bSinksDirty = false;
    m_pendingSinks.clear();
    m_held.clear();
    m_ducked.clear();
    // Stream indexes of a server that went away name nothing on the next one: the volume keys must not step
    // another program's stream that happens to get the same index.
    g_hWaveOut = kNoStream;
    m_nFailures = wasReady ? 1 : m_nFailures + 1;
    bool hadCards = false;
    {
        std::lock_guard guard(m_lock);
        hadCards = !m_sinks.empty();
        m_sinks.clear();
        m_bSinksKnown = false;
        m_nChosenSink = PA_INVALID_INDEX;
    }
    if (hadCards && m_cardsChanged)
        m_cardsChanged();
    if (wasReady)
        qCInfo(lcAudio, "the sound server went away; connecting again");
    ScheduleReconnect();
}

void CAudioRouter::ScheduleReconnect()
{
    if (m_pReconnect)
        return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_pLoop);
    struct timeval when {
    };
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(ReconnectDelayMs(m_nFailures)) * PA_USEC_PER_MSEC);
    m_pReconnect = api->time_new(api, &when, &CAudioRouter::OnReconnectTimer, this);
}

void CAudioRouter::OnReconnectTimer(pa_mainloop_api* api, pa_time_event* e, const struct timeval*, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    api->time_free(e);
    self->m_pReconnect = nullptr;
    if (!self->m_pContext)
        self->Connect();
}

void CAudioRouter::OnContextState(pa_context* c, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    if (c != self->m_pContext)
        return;
    switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY: {
        self->m_bReady = true;
        self->m_nFailures = 0;
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
        // The streams that already play are routed once the sink list is in.
        self->RequestSinks();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->DropContext(c);
        break;
    default:
        break;
    }
    pa_threaded_mainloop_signal(self->m_pLoop, 0);
}

void CAudioRouter::RequestSinks()
{
    if (!m_pContext)
        return;
    // Two lists in flight would share the rows being collected; a change during a request asks again after it.
    if (m_bSinkRequestBusy) {
        m_bSinksDirty = true;
        return;
    }
    pa_operation* op = pa_context_get_sink_info_list(m_pContext, &CAudioRouter::OnSinkInfo, this);
    if (!op)
        return;
    pa_operation_unref(op);
    m_bSinkRequestBusy = true;
    m_bSinksDirty = false;
    m_pendingSinks.clear();
}

void CAudioRouter::OnSubscription(pa_context* c, int type, std::uint32_t index, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    if (c != self->m_pContext)
        return;
    const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // A description can change too (CHANGE), and the chosen card follows its description.
    if (facility == PA_SUBSCRIPTION_EVENT_SINK)
        self->RequestSinks();
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_NEW)
        pa_operation_unref(pa_context_get_sink_input_info(c, index, &CAudioRouter::OnSinkInputInfo, self));
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        self->m_ducked.erase(index);
        self->m_held.erase(index);
        // The stream the volume keys step has gone (a short-lived one, such as the speech engine's probe of the
        // sound server): the newest of ours left is stepped instead.
        if (g_hWaveOut.compare_exchange_strong(index, kNoStream))
            self->RouteAllStreams();
    }
}

void CAudioRouter::OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    if (c != self->m_pContext)
        return;
    if (eol) {
        self->SinksReceived(eol > 0);
        return;
    }
    SoundCard card;
    card.index = info->index;
    card.name = QString::fromUtf8(info->name);
    // The whole description: two HDMI outputs of one card often differ only at its end ("... (HDMI 2)").
    card.productName = QString::fromUtf8(info->description ? info->description : info->name);
    if (info->active_port) {
        card.portName = QString::fromUtf8(info->active_port->name);
        card.portDescription = QString::fromUtf8(info->active_port->description);
    }
    self->m_pendingSinks.push_back(card);
}

void CAudioRouter::SinksReceived(bool ok)
{
    m_bSinkRequestBusy = false;
    if (m_bSinksDirty || !ok) {
        // Rows of a list that changed meanwhile (or failed) are not kept; the next request reads it whole.
        m_pendingSinks.clear();
        m_bSinksDirty = false;
        if (ok)
            RequestSinks();
        return;
    }
    bool changed = false;
    {
        std::lock_guard guard(m_lock);
        // The server lists sinks by index, which is the order it made them in.
        changed = !m_bSinksKnown || m_sinks.size() != m_pendingSinks.size()
            || !std::equal(m_sinks.begin(), m_sinks.end(), m_pendingSinks.begin(),
                           [](const SoundCard& a, const SoundCard& b) {
                               return a.index == b.index && a.name == b.name && a.productName == b.productName
                                   && a.portName == b.portName && a.portDescription == b.portDescription;
                           });
        m_sinks = std::move(m_pendingSinks);
        m_bSinksKnown = true;
        const int chosen = m_strChosen.isEmpty() ? -1 : MatchSoundCard(m_sinks, m_strChosen);
        m_nChosenSink = chosen >= 0 ? m_sinks[static_cast<std::size_t>(chosen)].index : PA_INVALID_INDEX;
        if (chosen >= 0) {
            g_nSoundCard = chosen;
            m_bChosenSeen = true;
        }
    }
    m_pendingSinks.clear();
    pa_threaded_mainloop_signal(m_pLoop, 0);
    if (changed && m_cardsChanged)
        m_cardsChanged();
    // Every stream of ours goes (back) to the chosen card.
    RouteAllStreams();
}

void CAudioRouter::RouteAllStreams()
{
    if (m_pContext)
        pa_operation_unref(pa_context_get_sink_input_info_list(m_pContext, &CAudioRouter::OnSinkInputInfo, this));
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

void CAudioRouter::OnSinkInputInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    if (eol || !info || c != self->m_pContext)
        return;
    self->RouteStream(info);
}

void CAudioRouter::RouteStream(const pa_sink_input_info* info)
{
    const char* pidText = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (!pidText || !IsOurProcess(QByteArray(pidText).toLong()))
        return;
    // The newest stream of ours is the one the volume keys step (the speech excepted); one that starts while speech
    // plays starts lowered.
    if (!IsSpeech(info)) {
        if (g_hWaveOut == kNoStream || info->index > g_hWaveOut)
            g_hWaveOut = info->index;
        if (m_bDucked)
            Duck(info);
    }

    std::uint32_t sink = PA_INVALID_INDEX;
    bool gone = false;
    {
        std::lock_guard guard(m_lock);
        sink = m_nChosenSink;
        gone = sink == PA_INVALID_INDEX && m_bChosenSeen;
    }
    // A card that names no sink (not chosen, or not present now) leaves the stream where it is; when the chosen card
    // has gone, the stream is muted where the server put it until the card is back.
    int result = -PA_ERR_NOENTITY;
    if (sink != PA_INVALID_INDEX) {
        result = 0;
        if (info->sink != sink)
            pa_operation_unref(pa_context_move_sink_input_by_index(m_pContext, info->index, sink, nullptr, nullptr));
        if (m_held.erase(info->index))
            pa_operation_unref(pa_context_set_sink_input_mute(m_pContext, info->index, 0, nullptr, nullptr));
    } else if (gone && !info->mute) {
        m_held.insert(info->index);
        pa_operation_unref(pa_context_set_sink_input_mute(m_pContext, info->index, 1, nullptr, nullptr));
    }
    qCDebug(lcAudio, "myWaveOutOpen: hr=%x, id=%d, %X, %d", static_cast<unsigned>(result), g_nSoundCard.load(),
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
            if (m_bSinksKnown || !m_bReady || std::chrono::steady_clock::now() >= deadline)
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
    const QString wanted = productName.trimmed();
    int match = -1;
    for (std::size_t i = 0; i < cards.size(); ++i)
        if (cards[i].productName.trimmed() == wanted)
            match = static_cast<int>(i);
    if (match >= 0)
        return match;
    // A name stored when names were cut to a fixed length names the card it was cut from, as then the later one.
    for (int cut : kCutNameLengths)
        if (productName.size() == cut)
            for (std::size_t i = 0; i < cards.size(); ++i)
                if (cards[i].productName.left(cut) == productName)
                    match = static_cast<int>(i);
    return match;
}

void CAudioRouter::SetSoundCard(int index)
{
    g_nSoundCard = index;
    QString name;
    QString sinkName;
    {
        std::lock_guard guard(m_lock);
        if (index >= 0 && index < static_cast<int>(m_sinks.size())) {
            name = m_sinks[static_cast<std::size_t>(index)].productName;
            sinkName = m_sinks[static_cast<std::size_t>(index)].name;
        }
    }
    if (!sinkName.isEmpty())
        qputenv("PULSE_SINK", sinkName.toUtf8());
    SetSoundCardName(name);
}

void CAudioRouter::SetSoundCardName(const QString& productName)
{
    std::lock_guard guard(m_lock);
    const QString name = productName.trimmed();
    const int chosen = name.isEmpty() ? -1 : MatchSoundCard(m_sinks, name);
    m_bChosenSeen = (name == m_strChosen && m_bChosenSeen) || chosen >= 0;
    m_strChosen = name;
    m_nChosenSink = chosen >= 0 ? m_sinks[static_cast<std::size_t>(chosen)].index : PA_INVALID_INDEX;
}

void CAudioRouter::SetCardsChangedHandler(std::function<void()> handler)
{
    if (!m_pLoop) {
        m_cardsChanged = std::move(handler);
        return;
    }
    PulseLoopLock lock(m_pLoop);
    m_cardsChanged = std::move(handler);
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
    PulseLoopLock lock(m_pLoop);
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
    ApplyVolume(c, info, SteppedLevel(LevelOfVolume(info->volume.values[0]), up));
}

void CAudioRouter::OnVolumeSet(pa_context* c, const pa_sink_input_info* info, int eol, void* self)
{
    if (eol || !info || info->volume.channels == 0)
        return;
    ApplyVolume(c, info, static_cast<CAudioRouter*>(self)->m_nWantedLevel);
}

double CAudioRouter::StreamVolume() const
{
    const int level = m_nLastLevel;
    return level < 0 || m_nLevelStream != g_hWaveOut ? 1.0 : level / 65535.0;
}

void CAudioRouter::SetStreamVolume(double volume)
{
    const std::uint32_t stream = g_hWaveOut;
    if (!m_pLoop || stream == kNoStream)
        return;
    m_nWantedLevel = std::clamp(static_cast<int>(std::lround(volume * 65535)), 0, 65535);
    PulseLoopLock lock(m_pLoop);
    if (!m_pContext || !m_bReady)
        return;
    pa_operation* op = pa_context_get_sink_input_info(m_pContext, stream, &OnVolumeSet, this);
    if (op)
        pa_operation_unref(op);
}

void CAudioRouter::ApplyVolume(pa_context* c, const pa_sink_input_info* info, int level)
{
    if (CAudioRouter* router = Instance()) {
        router->m_nLastLevel = level;
        router->m_nLevelStream = info->index;
        router->m_ducked.erase(info->index); // the new volume stands when the speech ends
    }
    pa_cvolume volume;
    pa_cvolume_set(&volume, info->volume.channels, VolumeOfLevel(level));
    pa_operation_unref(pa_context_set_sink_input_volume(c, info->index, &volume, nullptr, nullptr));
}

bool CAudioRouter::SpeechSink(QString* sink) const
{
    std::lock_guard guard(m_lock);
    sink->clear();
    if (m_strChosen.isEmpty())
        return true;
    for (const SoundCard& card : m_sinks)
        if (card.index == m_nChosenSink) {
            *sink = card.name;
            return true;
        }
    return false;
}

void CAudioRouter::SetDucked(bool ducked)
{
    if (!m_pLoop)
        return;
    PulseLoopLock lock(m_pLoop);
    if (m_bDucked == ducked)
        return;
    m_bDucked = ducked;
    if (!m_pContext || !m_bReady)
        return;
    if (ducked) {
        pa_operation_unref(pa_context_get_sink_input_info_list(m_pContext, &CAudioRouter::OnDuckInfo, this));
        return;
    }
    for (const auto& [index, volume] : m_ducked)
        pa_operation_unref(pa_context_set_sink_input_volume(m_pContext, index, &volume, nullptr, nullptr));
    m_ducked.clear();
}

void CAudioRouter::OnDuckInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* selfPtr)
{
    auto* self = static_cast<CAudioRouter*>(selfPtr);
    if (eol || !info || c != self->m_pContext || !self->m_bDucked || IsSpeech(info))
        return;
    const char* pidText = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (pidText && IsOurProcess(QByteArray(pidText).toLong()))
        self->Duck(info);
}

void CAudioRouter::Duck(const pa_sink_input_info* info)
{
    if (m_ducked.count(info->index) || info->volume.channels == 0)
        return;
    m_ducked[info->index] = info->volume;
    pa_cvolume lowered = info->volume;
    const pa_volume_t factor = pa_sw_volume_from_linear(kDuckedVolume);
    for (std::uint8_t i = 0; i < lowered.channels; ++i)
        lowered.values[i] = pa_sw_volume_multiply(lowered.values[i], factor);
    pa_operation_unref(pa_context_set_sink_input_volume(m_pContext, info->index, &lowered, nullptr, nullptr));
}

void StepVolume(bool up)
{
    if (CAudioRouter* router = CAudioRouter::Instance())
        router->StepVolume(up);
}

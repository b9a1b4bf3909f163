#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_sink_info;
struct pa_sink_input_info;
struct pa_time_event;
struct pa_mainloop_api;

// One sound card: an audio sink of the server.
struct SoundCard {
    std::uint32_t index = 0; // the server's sink index
    QString name; // the sink's name, for PULSE_SINK
    QString productName; // its description, cut to 31 characters
};

// Sends every playback stream of this process and of its child processes (the web engine plays sound from a
// child) to the sound card chosen for the television, and steps the volume of the newest such stream.
//
// Runs on the PulseAudio client library's own threaded main loop: the GUI thread only takes the loop's lock for
// short, non-blocking calls. Survives the server being absent or restarting: it connects again every second and
// routes the streams it then finds.
class CAudioRouter
{
public:
    CAudioRouter();
    ~CAudioRouter();
    CAudioRouter(const CAudioRouter&) = delete;
    CAudioRouter& operator=(const CAudioRouter&) = delete;

    // The router of the running program (null before one exists); StepVolume uses it.
    static CAudioRouter* Instance();

    // The sound cards in the server's order; index i is what g_nSoundCard means. Waits (at most waitMs) for the
    // first list after a (re)connection.
    std::vector<SoundCard> SoundCards(int waitMs = 2000) const;
    // Product names of the sound cards, in order.
    QStringList ProductNames(int waitMs = 2000) const;
    // Index of the card named productName by the settings' rule (trimmed, exact, the later of equal names), or -1.
    static int MatchSoundCard(const std::vector<SoundCard>& cards, const QString& productName);

    // Chooses card index for the next streams (g_nSoundCard) and exports its sink as PULSE_SINK for children
    // started later. GUI thread.
    void SetSoundCard(int index);

    // Steps the newest stream's volume by one twentieth of the range; nothing when there is no stream.
    void StepVolume(bool up);

    bool IsConnected() const { return m_bReady; }
    // Number of (re)connections so far (for tests and diagnostics).
    int ConnectionCount() const { return m_nConnections; }

    // The volume level (0..65535, 65535 = 100%) of a server volume, and back.
    static int LevelOfVolume(std::uint32_t volume);
    static std::uint32_t VolumeOfLevel(int level);
    // The level after one step up or down.
    static int SteppedLevel(int level, bool up);

private:
    void Connect();
    void ScheduleReconnect();
    void RouteStream(const pa_sink_input_info* info);
    void RequestSinks();
    static bool IsOurProcess(long pid);

    static void OnContextState(pa_context* c, void* self);
    static void OnSubscription(pa_context* c, int type, std::uint32_t index, void* self);
    static void OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void OnSinkInputInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void OnVolumeUp(pa_context* c, const pa_sink_input_info* info, int eol, void*);
    static void OnVolumeDown(pa_context* c, const pa_sink_input_info* info, int eol, void*);
    static void ApplyVolumeStep(pa_context* c, const pa_sink_input_info* info, int eol, bool up);
    static void OnReconnectTimer(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);

    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    std::atomic<bool> m_bReady { false };
    std::atomic<int> m_nConnections { 0 };

    mutable std::mutex m_lock; // guards the two lists below
    std::vector<SoundCard> m_sinks;
    std::vector<SoundCard> m_pendingSinks; // being received
    bool m_bSinksKnown = false;
};

// The volume keys of the TV window: steps the newest stream of the running program.
void StepVolume(bool up);

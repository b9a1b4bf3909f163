#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include <pulse/volume.h>

#include "common/SoundCard.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_sink_info;
struct pa_sink_input_info;
struct pa_time_event;
struct pa_mainloop_api;


// Sends every playback stream of this process and of its child processes (the web engine plays sound from a
// child) to the sound card chosen for the television, and steps the volume of the newest such stream.
//
// The chosen card is held by its description (what the settings store) and resolved to a sink on every change of
// the server's sink list, so a sink that goes away and comes back under another index (an HDMI sink while the TV
// is off) gets our streams back by itself. While a chosen card that was there is gone (the TV switched off), our
// streams, which the server moves to another sink, are muted there and get their sound back with the card: none of
// our sound comes out of the PC's own speakers.
//
// Runs on the PulseAudio client library's own threaded main loop: the GUI thread only takes the loop's lock for
// short, non-blocking calls and never waits for the server. With no server (the first seconds after login) the
// card list is empty and the router tries again after 1 s, 2 s, 4 s ... at most 30 s; a server that goes away is
// tried again the same way.
class CAudioRouter
{
public:
    CAudioRouter();
    ~CAudioRouter();
    CAudioRouter(const CAudioRouter&) = delete;
    CAudioRouter& operator=(const CAudioRouter&) = delete;

    // The router of the running program (null before one exists); StepVolume uses it.
    static CAudioRouter* Instance();

    // The sound cards in the server's order; index i is what g_nSoundCard means. Empty while no server is
    // connected. When connected but the first list is not in yet, waits at most waitMs for it.
    std::vector<SoundCard> SoundCards(int waitMs = 0) const;
    // Product names of the sound cards, in order.
    QStringList ProductNames(int waitMs = 0) const;
    // Index of the card named productName by the settings' rule (trimmed, exact, the later of equal names; a name
    // cut to 31 or 63 characters when stored names the card it was cut from), or -1.
    static int MatchSoundCard(const std::vector<SoundCard>& cards, const QString& productName);

    // Chooses card index of the current list for the next streams (g_nSoundCard) and exports its sink as
    // PULSE_SINK for children started later. An index that names no card routes nothing. GUI thread.
    void SetSoundCard(int index);
    // Chooses a card by its description, present or not; it is routed to whenever a sink of that name exists.
    void SetSoundCardName(const QString& productName);
    // Called on the audio thread after every change of the card list (also when it empties); the handler must
    // only post to the GUI thread. Set and cleared under the loop's lock, so clearing it is final.
    void SetCardsChangedHandler(std::function<void()> handler);

    // Steps the newest stream's volume by one twentieth of the range; nothing when there is no stream.
    void StepVolume(bool up);
    // The newest stream's volume as the volume keys or SetStreamVolume last set it, 0..1 (1 while not known), and
    // a new one for it.
    double StreamVolume() const;
    void SetStreamVolume(double volume);

    // Where the speech of spoken menus goes: the chosen card's sink (the server's default, "", when none is
    // chosen); false while the chosen card has gone, when it goes nowhere: never to the PC's speakers.
    bool SpeechSink(QString* sink) const;
    // Lowers every stream of ours but the speech to a quarter of its volume (true), or gives each back the volume
    // it had (false). A stream that starts meanwhile is lowered too; a volume set meanwhile stands.
    void SetDucked(bool ducked);
    // The playback streams with this media role are the speech: the volume keys never step them, and they are not
    // lowered.
    static constexpr char kSpeechRole[] = "a11y";
    static constexpr double kDuckedVolume = 0.25;

    bool IsConnected() const { return m_bReady; }
    // Number of (re)connections so far (for tests and diagnostics).
    int ConnectionCount() const { return m_nConnections; }
    // Connection attempts so far, failed ones included (for tests of the back-off).
    int AttemptCount() const { return m_nAttempts; }

    // The volume level (0..65535, 65535 = 100%) of a server volume, and back.
    static int LevelOfVolume(std::uint32_t volume);
    static std::uint32_t VolumeOfLevel(int level);
    // The level after one step up or down.
    static int SteppedLevel(int level, bool up);
    // The wait before reconnection attempt n (1 based) after a failure: 1 s doubling up to 30 s.
    static int ReconnectDelayMs(int failures);

private:
    void Connect();
    void DropContext(pa_context* c);
    void ScheduleReconnect();
    void RouteStream(const pa_sink_input_info* info);
    void RequestSinks();
    void SinksReceived(bool ok);
    void RouteAllStreams();
    static bool IsOurProcess(long pid);

    static void OnContextState(pa_context* c, void* self);
    static void OnSubscription(pa_context* c, int type, std::uint32_t index, void* self);
    static void OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void OnSinkInputInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void OnVolumeUp(pa_context* c, const pa_sink_input_info* info, int eol, void*);
    static void OnVolumeDown(pa_context* c, const pa_sink_input_info* info, int eol, void*);
    static void ApplyVolumeStep(pa_context* c, const pa_sink_input_info* info, int eol, bool up);
    static void OnVolumeSet(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void ApplyVolume(pa_context* c, const pa_sink_input_info* info, int level);
    static void OnDuckInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    void Duck(const pa_sink_input_info* info);
    static void OnReconnectTimer(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);

    // Audio-thread state (or under the loop's lock).
    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    pa_context* m_pDeadContext = nullptr; // a failed context, released at the next attempt
    pa_time_event* m_pReconnect = nullptr;
    int m_nFailures = 0; // failed attempts since the last connection
    bool m_bSinkRequestBusy = false; // one sink-list request at a time: its rows collect in m_pendingSinks
    bool m_bSinksDirty = false; // the list changed while a request was out: ask again when it ends
    std::vector<SoundCard> m_pendingSinks;
    std::function<void()> m_cardsChanged;

    std::atomic<bool> m_bReady { false };
    std::atomic<int> m_nLastLevel { -1 }; // the level last given to a stream
    std::atomic<std::uint32_t> m_nLevelStream { 0 }; // that stream
    std::atomic<int> m_nWantedLevel { 0 };
    std::atomic<int> m_nConnections { 0 };
    std::atomic<int> m_nAttempts { 0 };

    mutable std::mutex m_lock; // guards the values below, which the GUI thread reads without the loop's lock
    std::vector<SoundCard> m_sinks;
    bool m_bSinksKnown = false;
    QString m_strChosen; // description of the chosen card; empty: route nothing
    std::uint32_t m_nChosenSink = 0xFFFFFFFFu; // its sink in the current list, or none
    bool m_bChosenSeen = false; // the chosen card was there since it was chosen: its absence is the TV gone
    std::set<std::uint32_t> m_held; // our streams muted while the chosen card is gone (audio thread)
    bool m_bDucked = false; // under the loop's lock
    std::map<std::uint32_t, pa_cvolume> m_ducked; // the streams lowered, with the volume each had
};

// The volume keys of the TV window: steps the newest stream of the running program.
void StepVolume(bool up);

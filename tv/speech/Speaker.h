#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <QObject>
#include <QString>

#include "SpeechSynthesizer.h"

class CSpeechOutput;

// Says short texts on the TV's sound card, one after another, on a thread of its own: the synthesizer's samples go
// to a playback stream on the sink the audio routing gives (never another where the TV's card has gone) as they are
// made, so the first of them plays a few milliseconds after Say. Interrupt cuts off what is being said and what
// waits. While anything is said the video's sound is lowered, and it comes back once the last sample has played.
class CSpeaker : public QObject
{
    Q_OBJECT
public:
    // Where the speech goes: a sink's name, "" for the server's default; false: nowhere now (the TV's card has gone).
    using SinkSource = std::function<bool(QString* sink)>;
    // Lowers (true) or restores (false) the video's sound; called on the GUI thread.
    using Ducker = std::function<void(bool)>;
    // Makes the synthesizer (on the speaker's thread, at the first text); null with why when there is none.
    using Factory = std::function<std::unique_ptr<ISpeechSynthesizer>(QString* why)>;

    CSpeaker(Factory factory, SinkSource sinks, Ducker ducker, QObject* parent = nullptr);
    ~CSpeaker() override;

    // The speaker of the running program while spoken menus are on, else null.
    static CSpeaker* Instance();

    // Cuts off what is being said and what waits to be said.
    void Interrupt();
    // Says text after what is being said ("" says nothing).
    void Say(const QString& text);
    // Words a minute and pitch of what is said next.
    void SetVoice(int rate, int pitch);
    bool IsSpeaking() const { return m_bSpeaking; }

    // For tests: called with every text as it is handed to the synthesizer, on the speaker's thread.
    void SetHandOverObserver(std::function<void(const QString&)> observer);

signals:
    // Everything said has played (or was cut off and nothing followed).
    void finished();

private:
    struct Item {
        quint64 generation; // the Interrupts before it
        quint64 serial; // the Says up to it
        QString text;
    };
    void Run();
    void Speak(const Item& item, int rate, int pitch);
    // What was said up to the Say of serial has played.
    void Finished(quint64 serial);

    Factory m_factory;
    SinkSource m_sinks;
    Ducker m_ducker;
    bool m_bSpeaking = false; // GUI thread
    quint64 m_nSerial = 0; // counts Says (GUI thread; read by the speaker's thread under m_lock)

    std::mutex m_lock; // guards the values below
    std::condition_variable m_wake;
    std::deque<Item> m_queue;
    quint64 m_nGeneration = 0; // counts Interrupts
    bool m_bFlush = false; // an Interrupt came: what plays is to be dropped
    quint64 m_nFlushSerial = 0; // the Says it cut off
    bool m_bStop = false;
    int m_nRate = kSpeechRateDefault;
    int m_nPitch = kSpeechPitchDefault;
    std::function<void(const QString&)> m_observer;

    // The speaker's thread only.
    std::unique_ptr<ISpeechSynthesizer> m_pSynth;
    std::unique_ptr<CSpeechOutput> m_pOutput;
    std::atomic<bool> m_bNoEngine { false }; // the synthesizer could not be made: nothing is said or lowered
    std::thread m_thread;
};

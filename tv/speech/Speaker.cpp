#include "Speaker.h"

#include <QMetaObject>

#include "SpeechOutput.h"
#include "common/Log.h"

namespace
{

CSpeaker* s_pInstance = nullptr;

} // namespace

CSpeaker::CSpeaker(Factory factory, SinkSource sinks, Ducker ducker, QObject* parent)
    : QObject(parent)
    , m_factory(std::move(factory))
    , m_sinks(std::move(sinks))
    , m_ducker(std::move(ducker))
{
    s_pInstance = this;
    m_thread = std::thread([this] { Run(); });
}

CSpeaker::~CSpeaker()
{
    if (s_pInstance == this)
        s_pInstance = nullptr;
    {
        std::lock_guard guard(m_lock);
        m_bStop = true;
        ++m_nGeneration; // stops a synthesis under way
    }
    m_wake.notify_all();
    m_thread.join();
    if (m_bSpeaking && m_ducker)
        m_ducker(false);
}

CSpeaker* CSpeaker::Instance()
{
    return s_pInstance;
}

void CSpeaker::Interrupt()
{
    {
        std::lock_guard guard(m_lock);
        ++m_nGeneration;
        m_queue.clear();
        m_bFlush = true;
        m_nFlushSerial = m_nSerial;
    }
    m_wake.notify_all();
}

void CSpeaker::Say(const QString& text)
{
    if (text.trimmed().isEmpty() || m_bNoEngine)
        return;
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back({ m_nGeneration, ++m_nSerial, text });
    }
    m_wake.notify_all();
    if (!m_bSpeaking && m_ducker)
        m_ducker(true);
    m_bSpeaking = true;
}

void CSpeaker::SetVoice(int rate, int pitch)
{
    std::lock_guard guard(m_lock);
    m_nRate = rate;
    m_nPitch = pitch;
}

void CSpeaker::SetHandOverObserver(std::function<void(const QString&)> observer)
{
    std::lock_guard guard(m_lock);
    m_observer = std::move(observer);
}

void CSpeaker::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bStop || m_bFlush || !m_queue.empty(); });
        if (m_bStop)
            break;
        if (std::exchange(m_bFlush, false)) {
            const quint64 serial = m_nFlushSerial;
            lock.unlock();
            // Over once what was flushed has gone (unless something is said after it).
            if (m_pOutput) {
                m_pOutput->Flush();
                m_pOutput->Drain([this, serial] { Finished(serial); });
            } else {
                Finished(serial);
            }
            lock.lock();
            continue;
        }
        const Item item = m_queue.front();
        m_queue.pop_front();
        if (m_observer)
            m_observer(item.text);
        const int rate = m_nRate, pitch = m_nPitch;
        lock.unlock();
        Speak(item, rate, pitch);
        if (m_pOutput)
            m_pOutput->Drain([this, serial = item.serial] { Finished(serial); });
        else
            Finished(item.serial);
        lock.lock();
    }
    // The engine and the stream end on the thread that used them.
    lock.unlock();
    m_pOutput.reset();
    m_pSynth.reset();
}

void CSpeaker::Speak(const Item& item, int rate, int pitch)
{
    if (!m_pSynth && !m_bNoEngine) {
        QString why;
        m_pSynth = m_factory ? m_factory(&why) : nullptr;
        if (!m_pSynth) {
            m_bNoEngine = true;
            qCWarning(lcAudio).noquote() << "spoken menus: no voice:" << why;
            return;
        }
        m_pOutput = std::make_unique<CSpeechOutput>(m_pSynth->SampleRate());
    }
    if (!m_pSynth)
        return;
    m_pSynth->SetVoice(rate, pitch);
    QString sink;
    if (!m_sinks(&sink) || !m_pOutput->Open(sink))
        return; // the TV's card has gone, or there is no sound server: said nowhere
    m_pSynth->Synthesize(item.text, [this, &item](const std::int16_t* samples, int count) {
        {
            std::lock_guard guard(m_lock);
            if (item.generation != m_nGeneration)
                return false; // cut off
        }
        return m_pOutput->Write(samples, count);
    });
}

void CSpeaker::Finished(quint64 serial)
{
    // (The audio library's thread, or the speaker's: only posts.)
    QMetaObject::invokeMethod(
        this,
        [this, serial] {
            if (!m_bSpeaking || serial != m_nSerial)
                return; // something said later is still to play
            m_bSpeaking = false;
            if (m_ducker)
                m_ducker(false);
            emit finished();
        },
        Qt::QueuedConnection);
}

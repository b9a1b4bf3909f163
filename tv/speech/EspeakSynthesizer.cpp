// The speech engine's library: libespeak-ng with its Mandarin voice, synthesizing into the caller's buffers.
#include <algorithm>
#include <iterator>
#include <string>

#include <QRegularExpression>

#include <espeak-ng/speak_lib.h>

#include "SpeechSynthesizer.h"

namespace
{

// Debian's espeak-ng 1.51 reads many characters through its plain "cmn" voice as pinyin spelt in English ("dian
// four"); its "cmn-latn-pinyin" voice reads the same pinyin as Mandarin. The plain voice is the fallback.
constexpr const char* kVoices[] = { "cmn-latn-pinyin", "cmn" };
constexpr int kBufferMs = 20;

class CEspeakSynthesizer : public ISpeechSynthesizer
{
public:
    CEspeakSynthesizer(int sampleRate, int voice)
        : m_nSampleRate(sampleRate)
        , m_nVoice(voice)
    {
        espeak_SetSynthCallback(&CEspeakSynthesizer::OnSamples);
    }

    int SampleRate() const override { return m_nSampleRate; }

    void SetVoice(int rate, int pitch) override
    {
        m_nRate = std::clamp(rate, espeakRATE_MINIMUM, espeakRATE_MAXIMUM);
        m_nPitch = std::clamp(pitch, 0, 100);
    }

    bool Synthesize(const QString& text, const Sink& sink) override
    {
        // Words in Latin letters ("Star Wars 2") are read by the English voice, the rest by the Mandarin one: the
        // Mandarin voice would read them as pinyin. (Switching by SSML does not keep the Mandarin voice in 1.51.)
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]+(?:[ '.&-]+[A-Za-z]+)*"));
        bool ok = false;
        qsizetype at = 0;
        for (auto it = latin.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch word = it.next();
            if (!Say(text.mid(at, word.capturedStart() - at), kVoices[m_nVoice], sink, ok)
                || !Say(word.captured(), "en", sink, ok))
                return ok;
            at = word.capturedEnd();
        }
        Say(text.mid(at), kVoices[m_nVoice], sink, ok);
        return ok;
    }

private:
    // Says part in voice; false when the sink stopped. ok becomes true once something was made.
    bool Say(const QString& part, const char* voice, const Sink& sink, bool& ok)
    {
        const QByteArray utf8 = part.trimmed().toUtf8();
        if (utf8.isEmpty())
            return true;
        if (m_strVoice != voice && espeak_SetVoiceByName(voice) == EE_OK)
            m_strVoice = voice;
        // (The voice's rate and pitch are reset with it.)
        espeak_SetParameter(espeakRATE, m_nRate, 0);
        espeak_SetParameter(espeakPITCH, m_nPitch, 0);
        bool stopped = false;
        Sink watched = [&](const std::int16_t* samples, int count) {
            stopped = !sink(samples, count);
            return !stopped;
        };
        // Synchronous: every piece reaches OnSamples before espeak_Synth returns, on this thread.
        ok = espeak_Synth(utf8.constData(), utf8.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &watched)
                == EE_OK
            || ok;
        return !stopped;
    }

    static int OnSamples(short* samples, int count, espeak_EVENT* events)
    {
        // The events' user data is what espeak_Synth was given: the sink. 1 stops the synthesis.
        auto* sink = events ? static_cast<Sink*>(events->user_data) : nullptr;
        if (!sink || !samples || count <= 0)
            return 0;
        return (*sink)(samples, count) ? 0 : 1;
    }

    int m_nSampleRate;
    int m_nVoice; // the Mandarin voice there is (of kVoices)
    std::string m_strVoice; // the voice this object set last ("": none yet; the engine outlives the object)
    int m_nRate = kSpeechRateDefault;
    int m_nPitch = kSpeechPitchDefault;
};

} // namespace

extern "C" Q_DECL_EXPORT ISpeechSynthesizer* krel_create_speech_synthesizer(QString* why)
{
    // The engine is set up once a process and stays (the library is never unloaded): espeak_Terminate waits for the
    // engine's own thread, which in synchronous mode can wait for ever.
    struct Engine {
        int rate = 0; // 0: no data; -1: no Mandarin voice
        int voice = 0;
    };
    static const Engine engine = [] {
        Engine e;
        // (DONT_EXIT: a missing data folder is an error returned, not the end of the process.)
        e.rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kBufferMs, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (e.rate <= 0)
            return Engine {};
        for (e.voice = 0; e.voice < static_cast<int>(std::size(kVoices)); ++e.voice)
            if (espeak_SetVoiceByName(kVoices[e.voice]) == EE_OK)
                return e;
        e.rate = -1;
        return e;
    }();
    if (engine.rate > 0)
        return new CEspeakSynthesizer(engine.rate, engine.voice);
    if (why)
        *why = engine.rate == 0 ? QStringLiteral("the espeak-ng data cannot be read")
                                : QStringLiteral("espeak-ng has no Mandarin voice (cmn)");
    return nullptr;
}

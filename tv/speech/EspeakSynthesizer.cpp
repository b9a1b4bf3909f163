// The speech engine's library: libespeak-ng with its Mandarin voice, synthesizing into the caller's buffers.
#include <algorithm>

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
    explicit CEspeakSynthesizer(int sampleRate)
        : m_nSampleRate(sampleRate)
    {
        espeak_SetSynthCallback(&CEspeakSynthesizer::OnSamples);
    }

    int SampleRate() const override { return m_nSampleRate; }

    void SetVoice(int rate, int pitch) override
    {
        espeak_SetParameter(espeakRATE, std::clamp(rate, espeakRATE_MINIMUM, espeakRATE_MAXIMUM), 0);
        espeak_SetParameter(espeakPITCH, std::clamp(pitch, 0, 100), 0);
    }

    bool Synthesize(const QString& text, const Sink& sink) override
    {
        const QByteArray utf8 = text.toUtf8();
        if (utf8.isEmpty())
            return false;
        // Synchronous: every piece reaches OnSamples before espeak_Synth returns, on this thread.
        Sink copy = sink;
        return espeak_Synth(utf8.constData(), utf8.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &copy)
            == EE_OK;
    }

private:
    static int OnSamples(short* samples, int count, espeak_EVENT* events)
    {
        // The events' user data is what espeak_Synth was given: the sink. 1 stops the synthesis.
        auto* sink = events ? static_cast<Sink*>(events->user_data) : nullptr;
        if (!sink || !samples || count <= 0)
            return 0;
        return (*sink)(samples, count) ? 0 : 1;
    }

    int m_nSampleRate;
};

} // namespace

extern "C" Q_DECL_EXPORT ISpeechSynthesizer* krel_create_speech_synthesizer(QString* why)
{
    // The engine is set up once a process and stays (the library is never unloaded): espeak_Terminate waits for the
    // engine's own thread, which in synchronous mode can wait for ever.
    static const int rate = [] {
        // (DONT_EXIT: a missing data folder is an error returned, not the end of the process.)
        const int r = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kBufferMs, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (r <= 0)
            return 0;
        for (const char* voice : kVoices)
            if (espeak_SetVoiceByName(voice) == EE_OK)
                return r;
        return -1;
    }();
    if (rate > 0)
        return new CEspeakSynthesizer(rate);
    if (why)
        *why = rate == 0 ? QStringLiteral("the espeak-ng data cannot be read")
                         : QStringLiteral("espeak-ng has no Mandarin voice (cmn)");
    return nullptr;
}

#pragma once

#include <cstdint>
#include <functional>

#include <QString>

// Turns text into speech samples: mono, 16 bits, at SampleRate() samples a second. The speech engine lives in a
// library of its own beside the program (libkrel_speech.so, libespeak-ng), loaded only once spoken menus are turned
// on; one object at a time, used from one thread.
class ISpeechSynthesizer
{
public:
    virtual ~ISpeechSynthesizer() = default;
    virtual int SampleRate() const = 0;
    // Words a minute (80..450) and base pitch (0..100), for what is synthesized next.
    virtual void SetVoice(int rate, int pitch) = 0;
    // Hands the samples of text to sink as they are made, in pieces of about 20 ms; sink returns false to stop.
    // Returns once the text is done (or stopped); false when nothing could be made of it.
    using Sink = std::function<bool(const std::int16_t* samples, int count)>;
    virtual bool Synthesize(const QString& text, const Sink& sink) = 0;
};

inline constexpr int kSpeechRateDefault = 200; // a little quicker than the engine's 175: menus are short
inline constexpr int kSpeechPitchDefault = 50;

// The library's entry point (a C name, found by name): a synthesizer, or null with why it cannot be had.
using KrelCreateSpeechSynthesizerFn = ISpeechSynthesizer* (*)(QString* why);
inline constexpr char kSpeechLibrary[] = "libkrel_speech.so";
inline constexpr char kSpeechEntry[] = "krel_create_speech_synthesizer";

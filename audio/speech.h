// Speech from text with espeak-ng's library, for a menu that has no recording yet or whose text changes
// often.
#pragma once

#include "audio/sound.h"

#include <string>

namespace audio {

struct SpeechOptions {
    std::string voice = "ru";
    int rate = 150; // words per minute, 80 ... 450; a little slower than espeak's 175, as prompts are
    int pitch = 50; // 0 ... 100, 50 is the voice's own
};

inline constexpr int kMinSpeechRate = 80;
inline constexpr int kMaxSpeechRate = 450;
// A prompt is a few sentences; a longer text would only tie up the synthesiser.
inline constexpr std::size_t kMaxSpeechChars = 4000;

// Speaks the text (UTF-8) into a mono message at the synthesiser's rate. Bytes that are not UTF-8 and control
// characters are read as spaces; characters the voice has no word for are spelt or passed over by espeak-ng,
// the rest is spoken. False with a reason in Russian for an empty text, a text that is too long, a voice that
// is not installed or options out of range. Safe to call from any thread (calls take turns: the library keeps
// one global state).
bool speak(const std::string& text, const SpeechOptions& options, Sound& out, std::string* error = nullptr);

// The text kept beside a message made from text: the WAV's name with ".txt" in place of its extension.
std::string speechTextPath(const std::string& wavPath);
// Writes (crash-safe) and reads that text; reading answers false when there is none.
bool saveSpeechText(const std::string& wavPath, const std::string& text, std::string* error = nullptr);
bool loadSpeechText(const std::string& wavPath, std::string& text);

} // namespace audio

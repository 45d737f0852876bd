// Decoding any audio file libsndfile reads (WAV of every layout, FLAC, Ogg Vorbis, Opus, MP3 and more) into a
// mono message, and storing a message as the 16-bit PCM WAV the unit's conversion takes.
#pragma once

#include "audio/sound.h"

#include <string>

namespace audio {

// Decodes the file and mixes its channels to mono (their average, so a full-scale stereo file cannot clip).
// Refuses what is not a regular readable file, what does not decode, a rate or channel count outside the
// bounds of sound.h, and anything longer than kMaxSeconds; then `error` says in Russian which file and why,
// and `out` is left as it was.
bool decodeFile(const std::string& path, Sound& out, std::string* error = nullptr);

// The bytes of a 16-bit PCM mono WAV file of the message (44-byte header, the rate kept). Samples beyond full
// scale are limited, not wrapped.
std::string wav16Bytes(const Sound& sound);

// Writes wav16Bytes through the crash-safe writer: the file appears whole under its name or not at all, and
// an older file of that name survives a failed write.
bool writeWav16(const std::string& path, const Sound& sound, std::string* error = nullptr);

} // namespace audio

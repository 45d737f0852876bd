// The caller's sound: a message as the unit will play it, after its own conversion to the unit's format (8000
// samples per second, 4-bit ADPCM) and back, with what the conversion costs on the unit.
#pragma once

#include "audio/sound.h"

#include <cstdint>
#include <string>

namespace audio {

struct CallerSound {
    Sound sound;                 // 8000 samples per second, as the unit plays it
    std::uint64_t unitBytes = 0; // size of the message in the unit's memory
    double snrDb = 0;            // signal-to-noise ratio of the 4-bit coding
};

// Runs the message through the unit's conversion both ways, exactly as an upload and a download would: the
// result is bit for bit what converting its WAV file to the unit's format and back gives. False with a reason
// in Russian when the conversion refuses it.
bool makeCallerSound(const Sound& message, CallerSound& out, std::string* error = nullptr);

// The message at 8000 samples per second with a band limit below 4 kHz: the reference the coding's noise is
// measured against (the unit's own resampler is part of the conversion, not something to measure).
Sound resampleTo8000(const Sound& sound);

// Signal-to-noise ratio in dB of the unit's 4-bit ADPCM coding on an 8000 Hz message: the message coded and
// decoded with the unit's own coder, compared sample by sample. 0 for silence.
double codingSnrDb(const Sound& at8000);

} // namespace audio

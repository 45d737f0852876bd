// Even loudness of the menus' messages: measurement after EBU R128 (libebur128), normalisation to one target
// with a limiter, and trimming the silence at both ends.
#pragma once

#include "audio/sound.h"

#include <string>

namespace audio {

// The default target for telephone prompts, in LUFS. The telephone network is planned for speech at an
// active level of -26 dBov (ITU-T P.56), which is what a handset presents at normal listening level; prompts
// made to exactly that sound a little quiet next to the live voices a caller has just heard, and quiet
// prompts sit closer to the line noise and to the noise of the unit's 4-bit coding. Telephony prompt practice
// therefore records a few dB hotter, around -20 dBFS average speech level; for speech, R128's gated
// integrated loudness lands within a dB or two of that, so -20 LUFS. Speech peaks run 12-18 dB above its
// loudness, so at -20 LUFS the limiter only touches the odd plosive. It is a preference: a site with loud
// lines may want less.
inline constexpr double kDefaultTargetLufs = -20.0;
// The highest true peak after normalising. Two dB below full scale rather than one: the unit's resampler and
// 4-bit coder overshoot on steep edges, and those overshoots must not clip either.
inline constexpr double kPeakCeilingDbtp = -2.0;
// Silence left before the first and after the last sound when trimming: short enough that callers do not
// wait, long enough that the first syllable is not clipped by the unit starting its playback.
inline constexpr int kTrimMarginMs = 200;

struct Loudness {
    bool valid = false;        // false for silence (no gated block) or an empty message
    double integratedLufs = 0; // EBU R128 integrated loudness
    double truePeakDbtp = 0;   // the highest true peak (4x oversampled), dB relative to full scale
    bool clips() const { return valid && truePeakDbtp > 0.0; }
};

Loudness measureLoudness(const Sound& sound);

// Decodes the file and measures it; false when it does not decode or has no level (silence). Fits the call
// flow's level meter, for the check before a write.
bool measureFileLoudness(const std::string& path, double& integratedLufs, double& truePeakDbtp);

// Brings the message to `targetLufs`, then limits its true peak to kPeakCeilingDbtp with a look-ahead limiter
// (gain falls smoothly before a peak and recovers over 50 ms), so nothing clips. False and unchanged for a
// silent message.
bool normalizeLoudness(Sound& sound, double targetLufs = kDefaultTargetLufs);

// Cuts the silence at the start and at the end down to `marginMs`. Silence is what stays 40 dB below the
// loudest 10 ms of the message (and never above -60 dBFS); false and unchanged when the whole message is
// silence or there is nothing to cut.
bool trimSilence(Sound& sound, int marginMs = kTrimMarginMs);

} // namespace audio

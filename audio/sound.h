// A recorded message in memory: mono samples at the file's own rate, full scale at +-1.0.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace audio {

struct Sound {
    int rate = 0;
    std::vector<float> samples;
    double seconds() const { return rate > 0 ? static_cast<double>(samples.size()) / rate : 0.0; }
};

// The longest message taken in. A menu prompt runs seconds, a long one a few minutes; a unit holds about 240
// kB a minute of its own format, so nothing much longer could be written to it anyway. The bound keeps memory
// (a float a sample) and time in check when someone picks a three-hour recording by mistake.
inline constexpr int kMaxSeconds = 12 * 60;
// The samples kept are bounded as well, so a 192 kHz file has proportionally less time than 12 minutes: at
// most what 12 minutes at 48 kHz take (about 140 MB).
inline constexpr std::size_t kMaxSamples = static_cast<std::size_t>(kMaxSeconds) * 48000;
inline constexpr int kMinRate = 1000;
inline constexpr int kMaxRate = 192000;
inline constexpr int kMaxChannels = 64;

} // namespace audio

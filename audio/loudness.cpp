#include "audio/loudness.h"

#include "audio/decode.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>

namespace audio {

namespace {

struct StateDeleter {
    void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
};

double dbOf(double linear) { return 20.0 * std::log10(linear); }

double linearOf(double db) { return std::pow(10.0, db / 20.0); }

// The gain each sample needs so that it stays at `ceiling`, spread so that it is reached before the peak and
// left after it: the minimum over +-lookahead, averaged over the same window (every value in the average is
// at most the sample's own need, so the average is too), then a release that recovers slowly and never
// exceeds what the window allows.
void limitPeaks(std::vector<float>& x, int rate, double ceiling) {
    const std::size_t n = x.size();
    const auto look = static_cast<std::size_t>(std::max(1, rate / 500)); // 2 ms
    std::vector<float> need(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double a = std::fabs(x[i]);
        need[i] = a > ceiling ? static_cast<float>(ceiling / a) : 1.0f;
    }
    // Sliding minimum over [i - look, i + look].
    std::vector<float> held(n);
    std::deque<std::size_t> window;
    std::size_t next = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t hi = std::min(n - 1, i + look);
        for (; next <= hi; ++next) {
            while (!window.empty() && need[window.back()] >= need[next])
                window.pop_back();
            window.push_back(next);
        }
        while (window.front() + look < i)
            window.pop_front();
        held[i] = need[window.front()];
    }
    // Moving average over the same window.
    std::vector<double> prefix(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        prefix[i + 1] = prefix[i] + held[i];
    const double release = std::exp(-1.0 / (0.050 * rate));
    double gain = 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i >= look ? i - look : 0;
        const std::size_t hi = std::min(n - 1, i + look);
        const double avg = (prefix[hi + 1] - prefix[lo]) / static_cast<double>(hi + 1 - lo);
        gain = std::min(avg, 1.0 - (1.0 - gain) * release);
        x[i] = static_cast<float>(x[i] * gain);
    }
}

} // namespace

Loudness measureLoudness(const Sound& sound) {
    Loudness result;
    if (sound.samples.empty() || sound.rate <= 0)
        return result;
    std::unique_ptr<ebur128_state, StateDeleter> st(
        ebur128_init(1, static_cast<unsigned long>(sound.rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    if (!st)
        return result;
    if (ebur128_add_frames_float(st.get(), sound.samples.data(), sound.samples.size()) != EBUR128_SUCCESS)
        return result;
    double lufs = 0;
    double peak = 0;
    if (ebur128_loudness_global(st.get(), &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return result;
    if (ebur128_true_peak(st.get(), 0, &peak) != EBUR128_SUCCESS || peak <= 0)
        return result;
    result.valid = true;
    result.integratedLufs = lufs;
    result.truePeakDbtp = dbOf(peak);
    return result;
}

bool normalizeLoudness(Sound& sound, double targetLufs) {
    Loudness now = measureLoudness(sound);
    if (!now.valid)
        return false;
    // A gain moves loudness and true peak by exactly its decibels, so only the limiter's work needs measuring
    // again. The limiter works on the samples; a peak between samples can stand above them (a sharp click by
    // several dB), so after it the true peak is measured and the limiter runs once more with its sample
    // ceiling lowered by what is left over. What the limiter takes off the loudness is made up in a further
    // pass. Only if that does not settle is the rest of the peak taken off the whole message.
    double sampleCeiling = linearOf(kPeakCeilingDbtp);
    for (int pass = 0; pass < 3 && now.valid && std::fabs(now.integratedLufs - targetLufs) > 0.05; ++pass) {
        const double gainDb = targetLufs - now.integratedLufs;
        const auto gain = static_cast<float>(linearOf(gainDb));
        for (float& v : sound.samples)
            v *= gain;
        now.integratedLufs += gainDb;
        now.truePeakDbtp += gainDb;
        for (int round = 0; round < 3 && now.valid && now.truePeakDbtp > kPeakCeilingDbtp; ++round) {
            limitPeaks(sound.samples, sound.rate, sampleCeiling);
            now = measureLoudness(sound);
            sampleCeiling *= linearOf(std::min(0.0, kPeakCeilingDbtp - now.truePeakDbtp));
        }
    }
    if (now.valid && now.truePeakDbtp > kPeakCeilingDbtp) {
        const auto down = static_cast<float>(linearOf(kPeakCeilingDbtp - now.truePeakDbtp - 0.01));
        for (float& v : sound.samples)
            v *= down;
    }
    return true;
}

bool trimSilence(Sound& sound, int marginMs) {
    if (sound.rate <= 0 || sound.samples.empty())
        return false;
    const auto win = static_cast<std::size_t>(std::max(1, sound.rate / 100)); // 10 ms
    const std::size_t blocks = (sound.samples.size() + win - 1) / win;
    std::vector<double> power(blocks, 0.0);
    double loudest = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t from = b * win;
        const std::size_t to = std::min(sound.samples.size(), from + win);
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += static_cast<double>(sound.samples[i]) * sound.samples[i];
        power[b] = sum / static_cast<double>(to - from);
        loudest = std::max(loudest, power[b]);
    }
    if (loudest <= 0)
        return false;
    // Powers, so -40 dB is a factor of 1e-4 and -60 dBFS 1e-6.
    const double threshold = std::max(loudest * 1e-4, 1e-6);
    std::size_t first = 0;
    while (first < blocks && power[first] < threshold)
        ++first;
    if (first == blocks)
        return false;
    std::size_t last = blocks - 1;
    while (power[last] < threshold)
        --last;
    const auto margin = static_cast<std::size_t>(sound.rate) * static_cast<std::size_t>(std::max(0, marginMs)) / 1000;
    const std::size_t start = first * win > margin ? first * win - margin : 0;
    const std::size_t soundEnd = std::min(sound.samples.size(), (last + 1) * win);
    const std::size_t end = std::min(sound.samples.size(), soundEnd + margin);
    if (start == 0 && end == sound.samples.size())
        return false;
    sound.samples.erase(sound.samples.begin() + static_cast<std::ptrdiff_t>(end), sound.samples.end());
    sound.samples.erase(sound.samples.begin(), sound.samples.begin() + static_cast<std::ptrdiff_t>(start));
    return true;
}

bool measureFileLoudness(const std::string& path, double& integratedLufs, double& truePeakDbtp) {
    Sound sound;
    if (!decodeFile(path, sound))
        return false;
    const Loudness l = measureLoudness(sound);
    if (!l.valid)
        return false;
    integratedLufs = l.integratedLufs;
    truePeakDbtp = l.truePeakDbtp;
    return true;
}

} // namespace audio

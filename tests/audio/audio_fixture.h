// What the recorded-message tests share: a scratch folder per test, signals made in the test, and running the
// Debian tools that make real files (sox, lame, flac, oggenc, opusenc) and measure them (ffmpeg).
#pragma once

#include "audio/decode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace audio_test {

namespace fs = std::filesystem;

// Runs a shell command line, answering its exit status and its standard output and error together.
inline int shell(const std::string& command, std::string* output = nullptr) {
    std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        text.append(buf, n);
    const int status = ::pclose(p);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool haveTool(const std::string& name) { return shell("command -v " + name + " >/dev/null") == 0; }

inline std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// A speech-like test signal: two tones with a syllable-rate envelope and a little noise, so that loudness
// gating, peaks and coding all see something like a voice.
inline audio::Sound speechLike(int rate, double seconds, double level = 0.3, unsigned seed = 1) {
    audio::Sound s;
    s.rate = rate;
    const auto n = static_cast<std::size_t>(seconds * rate);
    s.samples.resize(n);
    unsigned x = seed;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        x = x * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(x >> 8) / 16777216.0 - 0.5) * 0.05;
        const double env = 0.55 + 0.45 * std::sin(2 * M_PI * 4.0 * t);
        s.samples[i] = static_cast<float>(
            level * env * (0.6 * std::sin(2 * M_PI * 310 * t) + 0.3 * std::sin(2 * M_PI * 1270 * t) + noise));
    }
    return s;
}

inline double rmsDb(const audio::Sound& s) {
    double sum = 0;
    for (float v : s.samples)
        sum += static_cast<double>(v) * v;
    return 10 * std::log10(sum / static_cast<double>(std::max<std::size_t>(1, s.samples.size())));
}

// Integrated loudness and true peak as ffmpeg's ebur128 filter reports them in its summary.
struct PeerLoudness {
    bool ok = false;
    double lufs = 0;
    double truePeak = 0;
};
inline PeerLoudness ffmpegLoudness(const fs::path& file) {
    std::string out;
    PeerLoudness r;
    if (shell("ffmpeg -nostats -hide_banner -i " + quoted(file) + " -filter_complex ebur128=peak=true -f null -",
              &out) != 0)
        return r;
    const std::size_t summary = out.rfind("Summary:");
    if (summary == std::string::npos)
        return r;
    const std::size_t i = out.find("I:", summary);
    const std::size_t p = out.find("Peak:", summary);
    if (i == std::string::npos || p == std::string::npos)
        return r;
    r.lufs = std::strtod(out.c_str() + i + 2, nullptr);
    r.truePeak = std::strtod(out.c_str() + p + 5, nullptr);
    r.ok = true;
    return r;
}

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-audio-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    // No file but the named ones is left in the folder: no temporary, no half-written output.
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const auto& e : fs::directory_iterator(dir))
            all.push_back(e.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    }
    fs::path dir;
};

} // namespace audio_test

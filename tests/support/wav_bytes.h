// The bytes of a 16-bit PCM mono WAV file, for tests that need a real recording on disk: one header writer
// instead of one in every test that makes a message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace testwav {

// `frames` samples at `rate` per second, each the value `sample(i)` gives (limited to the 16-bit range).
inline std::string pcm16Mono(int frames, const std::function<double(int)>& sample, int rate = 8000) {
    std::string s = "RIFF";
    const auto u32 = [&s](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    const auto u16 = [&s](std::uint32_t v) {
        s.push_back(static_cast<char>(v & 0xff));
        s.push_back(static_cast<char>((v >> 8) & 0xff));
    };
    const auto bytes = 2 * static_cast<std::uint32_t>(frames);
    u32(36 + bytes);
    s += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(static_cast<std::uint32_t>(rate));
    u32(2 * static_cast<std::uint32_t>(rate));
    u16(2);
    u16(16);
    s += "data";
    u32(bytes);
    for (int i = 0; i < frames; ++i) {
        double v = sample(i);
        v = v > 32767 ? 32767 : v < -32768 ? -32768 : v;
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return s;
}

} // namespace testwav

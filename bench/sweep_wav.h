// The benchmarks' input: a PCM WAV file of a tone sweep with some noise, so that no coder sees a trivially
// predictable signal.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

namespace bench {

inline void put16(std::FILE* f, unsigned v) {
    std::fputc(static_cast<int>(v & 0xFF), f);
    std::fputc(static_cast<int>((v >> 8) & 0xFF), f);
}
inline void put32(std::FILE* f, std::uint32_t v) {
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

inline void makeWav(const std::string& path, std::uint32_t rate, unsigned channels, unsigned seconds) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::uint32_t frames = rate * seconds;
    std::uint32_t dataSize = frames * channels * 2;
    std::fwrite("RIFF", 1, 4, f);
    put32(f, dataSize + 36);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);
    put16(f, channels);
    put32(f, rate);
    put32(f, rate * channels * 2);
    put16(f, channels * 2);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, dataSize);
    std::uint32_t noise = 12345;
    double phase = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        double hz = 200 + 3000 * (i % (rate * 4)) / (rate * 4.0);
        phase += 2 * std::numbers::pi * hz / rate;
        noise = noise * 1103515245u + 12345u;
        double v = 9000 * std::sin(phase) + static_cast<double>((noise >> 16) & 0x3FF) - 512;
        for (unsigned c = 0; c < channels; ++c)
            put16(f, static_cast<unsigned>(static_cast<int>(v)) & 0xFFFF);
    }
    std::fclose(f);
}

} // namespace bench

// convertSound against sox doing the same job (WAV to raw IMA ADPCM at 8000 Hz mono) on 10-minute files.
// Usage: bench_sound_conversion [runs] [folder]   (defaults: 5 runs, /tmp)
// Prints the median wall-clock time of each and the ratio sox / convertSound.
#include "link/sound_conversion.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace {

void put16(std::FILE* f, unsigned v) {
    std::fputc(static_cast<int>(v & 0xFF), f);
    std::fputc(static_cast<int>((v >> 8) & 0xFF), f);
}
void put32(std::FILE* f, std::uint32_t v) {
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

// A tone sweep with some noise, so neither coder sees a trivially predictable signal.
void makeWav(const std::string& path, std::uint32_t rate, unsigned channels, unsigned seconds) {
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

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double timeOurs(const std::string& in, const std::string& out) {
    auto t0 = std::chrono::steady_clock::now();
    std::FILE* fi = std::fopen(in.c_str(), "rb");
    std::FILE* fo = std::fopen(out.c_str(), "wb");
    int r = sound::convertSound(fi, fo, false, nullptr);
    std::fclose(fi);
    std::fclose(fo);
    auto t1 = std::chrono::steady_clock::now();
    if (r != 0) {
        std::fprintf(stderr, "convertSound failed: %d\n", r);
        std::exit(1);
    }
    return seconds(t0, t1);
}

double timeSox(const std::string& command) {
    auto t0 = std::chrono::steady_clock::now();
    int r = std::system(command.c_str());
    auto t1 = std::chrono::steady_clock::now();
    if (r != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return seconds(t0, t1);
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string folder = argc > 2 ? argv[2] : "/tmp";
    struct Case {
        const char* label;
        std::uint32_t rate;
        unsigned channels;
    } cases[] = {{"44100 Hz stereo", 44100, 2}, {"8000 Hz mono", 8000, 1}};

    std::printf("runs: %d, 10-minute files in %s\n", runs, folder.c_str());
    for (const Case& c : cases) {
        std::string in = folder + "/bench_sound_" + std::to_string(c.rate) + ".wav";
        std::string ours = folder + "/bench_sound_ours.ktm";
        std::string theirs = folder + "/bench_sound_sox.ima";
        makeWav(in, c.rate, c.channels, 600);
        std::string sox = "sox " + in + " -t ima -r 8000 -c 1 " + theirs;
        std::vector<double> a, b;
        for (int i = 0; i < runs; ++i) {
            a.push_back(timeOurs(in, ours));
            b.push_back(timeSox(sox));
        }
        double ma = median(a);
        double mb = median(b);
        std::printf(
            "%-16s convertSound %.4f s   sox %.4f s   sox/convertSound %.2fx   (ours %lld bytes, sox %lld)\n",
            c.label, ma, mb, mb / ma, static_cast<long long>(std::filesystem::file_size(ours)),
            static_cast<long long>(std::filesystem::file_size(theirs)));
        std::printf("  sox command: %s\n", sox.c_str());
        std::filesystem::remove(in);
        std::filesystem::remove(ours);
        std::filesystem::remove(theirs);
    }
    return 0;
}

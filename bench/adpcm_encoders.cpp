// The two ADPCM encoders side by side: each converts the same 10-minute 8000 Hz mono WAV file whole (file to
// file, as convertSound does), the runs alternating so that both see the same machine load. An 8000 Hz file is
// the case where the encoder is the whole conversion: nothing is resampled or filtered.
// Usage: bench_adpcm_encoders [runs] [folder]   (defaults: 9 runs, /tmp)
// Prints the median wall-clock and processor time of each, how much of the portable conversion the x86-64 encoder
// saves, and whether the outputs are the same bytes.
#include "link/sound_conversion.h"
#include "sweep_wav.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <time.h>
#include <tuple>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Times {
    double wall;
    double cpu;
};

Times convert(const std::string& in, const std::string& out, sound::Encoder encoder) {
    const double c0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    std::FILE* fi = std::fopen(in.c_str(), "rb");
    std::FILE* fo = std::fopen(out.c_str(), "wb");
    int r = sound::convertWavToDevice(fi, fo, encoder);
    if (fi)
        std::fclose(fi);
    if (fo)
        std::fclose(fo);
    auto t1 = std::chrono::steady_clock::now();
    const double c1 = cpuSeconds();
    if (r != sound::kSoundOk) {
        std::fprintf(stderr, "conversion failed: %d\n", r);
        std::exit(1);
    }
    return {std::chrono::duration<double>(t1 - t0).count(), c1 - c0};
}

std::string contents(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    if (!sound::encoderBuilt(sound::Encoder::X86_64)) {
        std::printf("only the portable encoder is built here\n");
        return 0;
    }
    const std::string in = folder + "/bench_adpcm_8000.wav";
    const std::string portableOut = folder + "/bench_adpcm_portable.ktm";
    const std::string fastOut = folder + "/bench_adpcm_x86_64.ktm";
    bench::makeWav(in, 8000, 1, 600);
    convert(in, portableOut, sound::Encoder::Portable); // the input into the page cache
    std::vector<double> portableWall, fastWall, portableCpu, fastCpu;
    for (int i = 0; i < runs; ++i) {
        const Times p = convert(in, portableOut, sound::Encoder::Portable);
        const Times f = convert(in, fastOut, sound::Encoder::X86_64);
        portableWall.push_back(p.wall);
        portableCpu.push_back(p.cpu);
        fastWall.push_back(f.wall);
        fastCpu.push_back(f.cpu);
    }
    std::printf("runs: %d, a 10-minute 8000 Hz mono file (%lld bytes) in %s; medians:\n", runs,
                static_cast<long long>(std::filesystem::file_size(in)), folder.c_str());
    // Processor time as well: on a busy machine the wall clock also counts the time spent waiting for a core.
    for (auto [what, p, f] : {std::tuple{"wall clock", median(portableWall), median(fastWall)},
                              std::tuple{"processor", median(portableCpu), median(fastCpu)}})
        std::printf("%-10s  portable %.4f s   x86-64 %.4f s   x86-64 saves %.1f %% of the whole conversion\n", what, p,
                    f, 100.0 * (p - f) / p);
    const bool same = contents(portableOut) == contents(fastOut);
    std::printf("outputs %s (%lld bytes)\n", same ? "identical" : "DIFFER",
                static_cast<long long>(std::filesystem::file_size(portableOut)));
    std::filesystem::remove(in);
    std::filesystem::remove(portableOut);
    std::filesystem::remove(fastOut);
    return same ? 0 : 1;
}

// convertSound against sox doing the same job (WAV to raw IMA ADPCM at 8000 Hz mono) on 10-minute files.
// Usage: bench_sound_conversion [runs] [folder]   (defaults: 5 runs, /tmp)
// Prints the median wall-clock time of each and the ratio sox / convertSound.
#include "link/sound_conversion.h"
#include "sweep_wav.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

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
        bench::makeWav(in, c.rate, c.channels, 600);
        std::string sox = "sox " + in + " -t ima -r 8000 -c 1 " + theirs;
        std::vector<double> a, b;
        for (int i = 0; i < runs; ++i) {
            a.push_back(timeOurs(in, ours));
            b.push_back(timeSox(sox));
        }
        double ma = median(a);
        double mb = median(b);
        std::printf("%-16s convertSound %.4f s   sox %.4f s   sox/convertSound %.2fx   (ours %lld bytes, sox %lld)\n",
                    c.label, ma, mb, mb / ma, static_cast<long long>(std::filesystem::file_size(ours)),
                    static_cast<long long>(std::filesystem::file_size(theirs)));
        std::printf("  sox command: %s\n", sox.c_str());
        std::filesystem::remove(in);
        std::filesystem::remove(ours);
        std::filesystem::remove(theirs);
    }
    return 0;
}

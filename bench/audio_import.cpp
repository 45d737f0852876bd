// Taking a long studio file in as a message, against ffmpeg doing the same job in one run: decode a 10-minute
// 44.1 kHz stereo MP3, mix to mono, normalise the loudness, write a 16-bit WAV. And speech of a 200-character
// Russian sentence. Medians of several runs, side by side. Run by hand: bench_audio_import [runs]
#include "audio/decode.h"
#include "audio/import.h"
#include "audio/speech.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path dir = fs::temp_directory_path() / "zirezid-bench-audio";
    fs::create_directories(dir);
    const fs::path mp3 = dir / "ten-minutes.mp3";
    if (!fs::exists(mp3)) {
        std::printf("making %s (sox + lame, once)...\n", mp3.c_str());
        // Pink noise under a syllable-rate tremolo and a voice-band tone: loudness gating and the limiter
        // both have work, as with a real programme.
        if (!run("sox -n -r 44100 -c 2 -b 16 '" + (dir / "src.wav").string() +
                 "' synth 600 pinknoise synth 600 sine mix 220 tremolo 4 70 vol 0.4") ||
            !run("lame --quiet -b 128 '" + (dir / "src.wav").string() + "' '" + mp3.string() + "'")) {
            std::fprintf(stderr, "sox and lame are needed\n");
            return 1;
        }
        fs::remove(dir / "src.wav");
    }

    const std::string ours = (dir / "ours.wav").string();
    const std::string theirs = (dir / "ffmpeg.wav").string();
    // ffmpeg's one-run loudness normalisation is loudnorm; its output rate is pinned to the input's, as ours.
    const std::string ffmpeg = "ffmpeg -y -v error -i '" + mp3.string() +
                               "' -ac 1 -af loudnorm=I=-20:TP=-2:LRA=20 -ar 44100 -c:a pcm_s16le '" + theirs + "'";
    const std::string ffmpegPlain =
        "ffmpeg -y -v error -i '" + mp3.string() + "' -ac 1 -c:a pcm_s16le '" + theirs + "'";
    std::vector<double> tOurs, tFfmpeg, tPlain, tSpeech;
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        std::string error;
        if (!audio::importFile(mp3.string(), ours, {false, true}, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        auto b = Clock::now();
        if (!run(ffmpeg))
            return 1;
        auto c = Clock::now();
        if (!run(ffmpegPlain))
            return 1;
        auto d = Clock::now();
        tOurs.push_back(seconds(a, b));
        tFfmpeg.push_back(seconds(b, c));
        tPlain.push_back(seconds(c, d));
    }
    // 200 characters of a prompt in Russian.
    const std::string sentence =
        "Здравствуйте! Вы позвонили в сервисный центр. Для связи с дежурным инженером нажмите один, для "
        "справки "
        "о ремонте нажмите два, чтобы оставить сообщение, нажмите три. Спасибо, что позвонили нам сегодня.";
    audio::Sound warm;
    audio::speak("тест", {}, warm); // the voice's data is loaded once per process
    for (int i = 0; i < runs; ++i) {
        audio::Sound s;
        auto a = Clock::now();
        audio::speak(sentence, {}, s);
        tSpeech.push_back(seconds(a, Clock::now()));
    }
    std::printf("10-minute 44.1 kHz stereo MP3 -> mono, normalised, 16-bit WAV; median of %d runs\n", runs);
    std::printf("  zirezid audio::importFile (libsndfile+mpg123, libebur128): %7.3f s\n", median(tOurs));
    std::printf("  ffmpeg -ac 1 -af loudnorm (one run):                      %7.3f s\n", median(tFfmpeg));
    std::printf("  ffmpeg -ac 1 without normalising (decode+mix+write only): %7.3f s\n", median(tPlain));
    const auto chars = std::count_if(sentence.begin(), sentence.end(),
                                     [](char ch) { return (static_cast<unsigned char>(ch) & 0xC0) != 0x80; });
    std::printf("speech of a %ld-character sentence (espeak-ng, ru): median %.3f s (goal under 1 s)\n",
                static_cast<long>(chars), median(tSpeech));
    return 0;
}

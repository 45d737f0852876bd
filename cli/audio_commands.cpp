// The recorded-message commands of zirezid-cli: taking any audio file in as a message, and speech from text.
#include "cli/commands.h"

#include "audio/decode.h"
#include "audio/import.h"
#include "audio/speech.h"

#include <charconv>
#include <iostream>

namespace cli {
namespace {

bool parseNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

bool parseInt(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

} // namespace

int soundImport(const Args& args) {
    const Command& self = *findCommand("sound");
    if (args.empty() || args[0] != "import")
        return usageError(self, "the direction is import");
    audio::ImportOptions options;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--normalize") {
            options.normalize = true;
        } else if (args[i] == "--trim") {
            options.trim = true;
        } else if (args[i] == "--target") {
            if (i + 1 >= args.size() || !parseNumber(args[i + 1], options.targetLufs) || options.targetLufs < -40 ||
                options.targetLufs > -6)
                return usageError(self, "--target takes a loudness in LUFS from -40 to -6");
            options.normalize = true;
            ++i;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2)
        return usageError(self, "give one input file and one output WAV file");
    std::string error;
    if (!audio::importFile(files[0], files[1], options, &error)) {
        std::cerr << error << '\n';
        return kRefused;
    }
    return kOk;
}

namespace {

int runTts(const Args& args) {
    const Command& self = *findCommand("tts");
    audio::SpeechOptions options;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--voice" && i + 1 < args.size()) {
            options.voice = args[++i];
        } else if (args[i] == "--rate" && i + 1 < args.size()) {
            if (!parseInt(args[++i], options.rate))
                return usageError(self, "--rate takes whole words per minute");
        } else if (args[i] == "--pitch" && i + 1 < args.size()) {
            if (!parseInt(args[++i], options.pitch))
                return usageError(self, "--pitch takes a whole number from 0 to 100");
        } else {
            rest.push_back(args[i]);
        }
    }
    if (rest.size() != 2)
        return usageError(self, "give the text and one output WAV file");
    audio::Sound sound;
    std::string error;
    if (!audio::speak(rest[0], options, sound, &error) || !audio::writeWav16(rest[1], sound, &error) ||
        !audio::saveSpeechText(rest[1], rest[0], &error)) {
        std::cerr << error << '\n';
        return kRefused;
    }
    return kOk;
}

} // namespace

std::vector<Command> audioCommands() {
    return {
        {"tts", "[--voice ru] [--rate N] [--pitch N] TEXT OUT.wav", runTts},
    };
}

} // namespace cli

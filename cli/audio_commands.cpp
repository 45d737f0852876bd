// The recorded-message commands of zirezid-cli: taking any audio file in as a message, and speech from text.
#include "cli/commands.h"
#include "cli/options.h"

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
    ParsedOptions parsed;
    if (std::string problem =
            parseOptions(Args(args.begin() + 1, args.end()),
                         {{"--normalize", nullptr}, {"--trim", nullptr}, {"--target", "LUFS"}}, parsed);
        !problem.empty())
        return usageError(self, problem);
    audio::ImportOptions options;
    options.normalize = parsed.has("--normalize") || parsed.has("--target");
    options.trim = parsed.has("--trim");
    if (const auto target = parsed.value("--target"))
        if (!parseNumber(*target, options.targetLufs) || options.targetLufs < -40 || options.targetLufs > -6)
            return usageError(self, "--target takes a loudness in LUFS from -40 to -6");
    const Args& files = parsed.plain;
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
    ParsedOptions parsed;
    if (std::string problem =
            parseOptions(args, {{"--voice", "голос"}, {"--rate", "слов в минуту"}, {"--pitch"}}, parsed);
        !problem.empty())
        return usageError(self, problem);
    audio::SpeechOptions options;
    options.voice = parsed.value("--voice").value_or(options.voice);
    if (const auto rate = parsed.value("--rate"); rate && !parseInt(*rate, options.rate))
        return usageError(self, "--rate takes whole words per minute");
    if (const auto pitch = parsed.value("--pitch"); pitch && !parseInt(*pitch, options.pitch))
        return usageError(self, "--pitch takes a whole number from 0 to 100");
    const Args& rest = parsed.plain;
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

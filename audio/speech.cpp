#include "audio/speech.h"

#include "model/atomic_file.h"
#include "model/utf8.h"

#include <espeak-ng/speak_lib.h>

#include <mutex>

namespace audio {

namespace {

std::mutex& speechMutex() {
    static std::mutex m;
    return m;
}

// Where the callback puts the samples of the synthesis under way (only while the mutex is held).
std::vector<float>* g_target = nullptr;
std::size_t g_limit = 0;

int collect(short* wav, int count, espeak_EVENT*) {
    if (wav == nullptr || g_target == nullptr)
        return 0;
    for (int i = 0; i < count; ++i)
        g_target->push_back(static_cast<float>(wav[i]) / 32768.0f);
    return g_target->size() > g_limit ? 1 : 0;
}

int initialised() {
    static const int rate = [] {
        const int r = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (r > 0)
            espeak_SetSynthCallback(collect);
        return r;
    }();
    return rate;
}

// Valid UTF-8 with control characters and broken sequences turned into spaces (a broken byte reads as U+FFFD,
// which has nothing to speak either); counts the characters.
std::string cleanText(const std::string& text, std::size_t& chars) {
    const std::u32string decoded = utf8::decode(text);
    std::string out;
    out.reserve(text.size());
    for (const char32_t cp : decoded) {
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == U'\uFFFD')
            out.push_back(' ');
        else
            out += utf8::encode(cp);
    }
    chars = decoded.size();
    return out;
}

} // namespace

bool speak(const std::string& text, const SpeechOptions& options, Sound& out, std::string* error) {
    const auto fail = [error](const std::string& why) {
        if (error)
            *error = "Текст не озвучен: " + why;
        return false;
    };
    std::size_t chars = 0;
    const std::string clean = cleanText(text, chars);
    if (clean.find_first_not_of(' ') == std::string::npos)
        return fail("текст пуст");
    if (chars > kMaxSpeechChars)
        return fail("текст длиннее " + std::to_string(kMaxSpeechChars) + " знаков");
    if (options.rate < kMinSpeechRate || options.rate > kMaxSpeechRate)
        return fail("темп " + std::to_string(options.rate) + " вне пределов " + std::to_string(kMinSpeechRate) + "…" +
                    std::to_string(kMaxSpeechRate) + " слов в минуту");
    if (options.pitch < 0 || options.pitch > 100)
        return fail("высота голоса " + std::to_string(options.pitch) + " вне пределов 0…100");

    std::lock_guard<std::mutex> lock(speechMutex());
    const int rate = initialised();
    if (rate <= 0)
        return fail("синтезатор речи espeak-ng не запустился (нет espeak-ng-data?)");
    if (options.voice.empty() || options.voice.find('/') != std::string::npos ||
        espeak_SetVoiceByName(options.voice.c_str()) != EE_OK)
        return fail("голос «" + options.voice + "» не установлен");
    espeak_SetParameter(espeakRATE, options.rate, 0);
    espeak_SetParameter(espeakPITCH, options.pitch, 0);

    Sound sound;
    sound.rate = rate;
    g_target = &sound.samples;
    g_limit = std::min(kMaxSamples, static_cast<std::size_t>(kMaxSeconds) * static_cast<std::size_t>(rate));
    const espeak_ERROR r = espeak_Synth(clean.c_str(), clean.size() + 1, 0, POS_CHARACTER, 0,
                                        espeakCHARS_UTF8 | espeakENDPAUSE, nullptr, nullptr);
    g_target = nullptr;
    if (r != EE_OK)
        return fail("синтезатор речи вернул ошибку " + std::to_string(static_cast<int>(r)));
    if (sound.samples.size() > g_limit)
        return fail("речь вышла длиннее " + std::to_string(kMaxSeconds / 60) + " минут");
    if (sound.samples.empty())
        return fail("в тексте нечего произнести");
    out = std::move(sound);
    return true;
}

std::string speechTextPath(const std::string& wavPath) {
    const std::size_t slash = wavPath.find_last_of('/');
    const std::size_t dot = wavPath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return wavPath + ".txt";
    return wavPath.substr(0, dot) + ".txt";
}

bool saveSpeechText(const std::string& wavPath, const std::string& text, std::string* error) {
    return atomic_file::writeAll(speechTextPath(wavPath), text, error);
}

bool loadSpeechText(const std::string& wavPath, std::string& text) {
    return atomic_file::readAll(speechTextPath(wavPath), text, nullptr, 1024 * 1024);
}

} // namespace audio

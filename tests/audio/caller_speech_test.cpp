#include "audio_fixture.h"

#include "audio/caller_sound.h"
#include "audio/speech.h"
#include "link/sound_conversion.h"
#include "model/atomic_file.h"

#include <chrono>

using namespace audio_test;

namespace {

class CallerSound : public ScratchTest {};

// The caller's sound is what an upload and a later download of the menu's WAV give, to the bit.
TEST_F(CallerSound, IsBitIdenticalToConvertingTheFileToTheUnitAndBack) {
    for (int rate : {8000, 6000, 11025, 22050, 44100, 48000}) {
        SCOPED_TRACE(rate);
        const audio::Sound message = speechLike(rate, 1.3, 0.4, static_cast<unsigned>(rate));
        const fs::path wav = dir / "menu.wav";
        const fs::path ktm = dir / "menu.ktm";
        const fs::path back = dir / "back.wav";
        ASSERT_TRUE(audio::writeWav16(wav.string(), message));
        ASSERT_EQ(sound::convertSoundFile(wav.string(), ktm.string(), false, nullptr), sound::kSoundOk);
        ASSERT_EQ(sound::convertSoundFile(ktm.string(), back.string(), true, nullptr), sound::kSoundOk);
        std::string bytes;
        ASSERT_TRUE(atomic_file::readAll(back.string(), bytes));

        audio::CallerSound caller;
        std::string error;
        ASSERT_TRUE(audio::makeCallerSound(message, caller, &error)) << error;
        EXPECT_EQ(caller.unitBytes, fs::file_size(ktm));
        EXPECT_EQ(caller.sound.rate, 8000);
        ASSERT_EQ(caller.sound.samples.size() * 2 + 44, bytes.size());
        EXPECT_EQ(audio::wav16Bytes(caller.sound), bytes);
    }
}

TEST_F(CallerSound, ReportsTheCodingNoiseAndTheUnitSize) {
    const audio::Sound message = speechLike(16000, 2.0, 0.3);
    audio::CallerSound caller;
    ASSERT_TRUE(audio::makeCallerSound(message, caller));
    // Two 4-bit codes a byte at 8000 samples a second: 4000 bytes a second.
    EXPECT_NEAR(static_cast<double>(caller.unitBytes), 8000.0, 2.0);
    // 4-bit IMA ADPCM on voice gives around 20 dB; well below 10 or above 35 would mean a wrong measurement.
    EXPECT_GT(caller.snrDb, 10.0);
    EXPECT_LT(caller.snrDb, 35.0);
    // The coder adapts to the level: a message 20 dB quieter codes about as well.
    audio::CallerSound quiet;
    ASSERT_TRUE(audio::makeCallerSound(speechLike(16000, 2.0, 0.03), quiet));
    EXPECT_NEAR(quiet.snrDb, caller.snrDb, 4.0);
    audio::Sound silence;
    silence.rate = 8000;
    silence.samples.assign(800, 0.0f);
    EXPECT_EQ(audio::codingSnrDb(silence), 0.0);
}

TEST_F(CallerSound, ReferenceResamplerKeepsTheVoiceBandAndStopsWhatTheUnitCannotCarry) {
    auto tone = [](int rate, double hz) {
        audio::Sound s;
        s.rate = rate;
        s.samples.resize(static_cast<std::size_t>(rate));
        for (std::size_t i = 0; i < s.samples.size(); ++i)
            s.samples[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
        return s;
    };
    for (int rate : {44100, 11025, 48000}) {
        SCOPED_TRACE(rate);
        const audio::Sound pass = audio::resampleTo8000(tone(rate, 1000));
        EXPECT_NEAR(pass.seconds(), 1.0, 0.001);
        audio::Sound middle = pass;
        middle.samples.assign(pass.samples.begin() + 200, pass.samples.end() - 200);
        EXPECT_NEAR(rmsDb(middle), 20 * std::log10(0.5 / std::sqrt(2.0)), 0.1);
        audio::Sound stop = audio::resampleTo8000(tone(rate, 5000));
        stop.samples.assign(stop.samples.begin() + 200, stop.samples.end() - 200);
        EXPECT_LT(rmsDb(stop), rmsDb(middle) - 40);
    }
}

class Speech : public ScratchTest {};

TEST_F(Speech, RussianSentenceGivesAudibleSpeechOfPlausibleLength) {
    const std::string text = "Здравствуйте! Вы позвонили в сервисный центр. Для связи с оператором нажмите ноль.";
    audio::Sound normal;
    std::string error;
    ASSERT_TRUE(audio::speak(text, {}, normal, &error)) << error;
    // Twelve words at 150 a minute take about five seconds; pauses and the voice's own pace move that a bit.
    EXPECT_GT(normal.seconds(), 3.0);
    EXPECT_LT(normal.seconds(), 9.0);
    EXPECT_GT(rmsDb(normal), -35.0);
    audio::Sound fast;
    ASSERT_TRUE(audio::speak(text, {"ru", 300, 50}, fast, &error)) << error;
    EXPECT_LT(fast.seconds(), normal.seconds() * 0.75);
    audio::Sound high;
    ASSERT_TRUE(audio::speak(text, {"ru", 150, 90}, high, &error)) << error;
    EXPECT_NE(high.samples, normal.samples);
}

TEST_F(Speech, TextItCannotSpeakIsSpokenAsFarAsItCanBe) {
    const std::vector<std::string> texts = {
        "Привет \xF0\x9F\x99\x82 мир",                     // an emoji
        "Нажмите \xFF\xFE один \xC0\xAF два \xED\xA0\x80", // broken and overlong sequences, a surrogate
        std::string("Линия\x01\x02\x1B[31m свободна\x7F", 27),
        "电话 телефон ☎ ∑∫≠",
        "<speak><break time='1s'/>тест</speak> & < > \" '",
        "123456789012345678901234567890 %%% $$$ ###",
        std::string(5, '\xD0') + "конец", // a lead byte with no continuation, again and again
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        audio::Sound sound;
        std::string error;
        EXPECT_TRUE(audio::speak(text, {}, sound, &error)) << error;
        EXPECT_GT(sound.seconds(), 0.3);
    }
}

TEST_F(Speech, RefusesWhatCannotBeSpokenWithAReason) {
    audio::Sound sound;
    std::string error;
    EXPECT_FALSE(audio::speak("", {}, sound, &error));
    EXPECT_NE(error.find("пуст"), std::string::npos) << error;
    EXPECT_FALSE(audio::speak(" \n\t\x01 ", {}, sound, &error));
    EXPECT_FALSE(audio::speak(std::string(audio::kMaxSpeechChars + 1, 'a'), {}, sound, &error));
    EXPECT_NE(error.find("длиннее"), std::string::npos) << error;
    EXPECT_FALSE(audio::speak("тест", {"ru", 10, 50}, sound, &error));
    EXPECT_FALSE(audio::speak("тест", {"ru", 150, 101}, sound, &error));
    EXPECT_FALSE(audio::speak("тест", {"no-such-voice", 150, 50}, sound, &error));
    EXPECT_NE(error.find("no-such-voice"), std::string::npos) << error;
    EXPECT_FALSE(audio::speak("тест", {"../../etc/passwd", 150, 50}, sound, &error));
    EXPECT_TRUE(sound.samples.empty());
    // A refused voice leaves the synthesiser usable.
    EXPECT_TRUE(audio::speak("тест", {}, sound, &error)) << error;
}

TEST_F(Speech, TextIsKeptBesideTheMessage) {
    const std::string wav = (dir / "01.wav").string();
    EXPECT_EQ(audio::speechTextPath(wav), (dir / "01.txt").string());
    EXPECT_EQ(audio::speechTextPath("/a.b/name"), "/a.b/name.txt");
    ASSERT_TRUE(audio::saveSpeechText(wav, "Добрый день"));
    std::string text;
    ASSERT_TRUE(audio::loadSpeechText(wav, text));
    EXPECT_EQ(text, "Добрый день");
    EXPECT_FALSE(audio::loadSpeechText((dir / "none.wav").string(), text));
}

} // namespace

#include "audio_fixture.h"

#include "audio/loudness.h"
#include "audio/speech.h"
#include "model/atomic_file.h"

using namespace audio_test;

namespace {

class CliAudio : public ScratchTest {
protected:
    int cli(const std::string& args, std::string* output = nullptr) {
        return shell("timeout -s KILL 60 " + std::string(ZIREZID_CLI) + " " + args, output);
    }
};

TEST_F(CliAudio, SoundImportTakesAnMp3AndEvensItsLoudness) {
    ASSERT_TRUE(haveTool("lame"));
    audio::Sound voice = speechLike(44100, 2.0, 0.02);
    voice.samples.insert(voice.samples.begin(), 44100, 0.0f); // a second of silence before
    const fs::path src = dir / "studio.wav";
    ASSERT_TRUE(audio::writeWav16(src.string(), voice));
    ASSERT_EQ(shell("lame --quiet -m j " + quoted(src) + " " + quoted(dir / "studio.mp3")), 0);
    const fs::path out = dir / "01.wav";
    std::string output;
    ASSERT_EQ(cli("sound import " + quoted(dir / "studio.mp3") + " " + quoted(out) + " --normalize --trim", &output), 0)
        << output;
    audio::Sound got;
    ASSERT_TRUE(audio::decodeFile(out.string(), got));
    EXPECT_EQ(got.rate, 44100);
    EXPECT_NEAR(got.seconds(), 2.0 + audio::kTrimMarginMs / 1000.0, 0.06); // no silence after to cut
    EXPECT_NEAR(audio::measureLoudness(got).integratedLufs, audio::kDefaultTargetLufs, 0.2);
    const std::string bytes = [&] {
        std::string b;
        atomic_file::readAll(out.string(), b);
        return b;
    }();
    EXPECT_EQ(bytes.substr(20, 4), std::string("\x01\x00\x01\x00", 4)) << "PCM, one channel";
    EXPECT_EQ(bytes.substr(34, 2), std::string("\x10\x00", 2)) << "16 bits";
}

TEST_F(CliAudio, SoundImportOfABadFileSaysWhyAndKeepsTheOldMessage) {
    const fs::path out = dir / "01.wav";
    ASSERT_TRUE(atomic_file::writeAll(out.string(), "old"));
    ASSERT_TRUE(atomic_file::writeAll((dir / "broken.mp3").string(), std::string(5000, '\x55')));
    std::string output;
    EXPECT_EQ(cli("sound import " + quoted(dir / "broken.mp3") + " " + quoted(out), &output), 1);
    EXPECT_NE(output.find((dir / "broken.mp3").string()), std::string::npos) << output;
    std::string bytes;
    ASSERT_TRUE(atomic_file::readAll(out.string(), bytes));
    EXPECT_EQ(bytes, "old");
    EXPECT_EQ(cli("sound import only-one-file", &output), 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"01.wav", "broken.mp3"}));
}

TEST_F(CliAudio, TtsWritesSpeechAndKeepsItsText) {
    const fs::path out = dir / "02.wav";
    std::string output;
    ASSERT_EQ(cli("tts --voice ru --rate 160 'Добро пожаловать.' " + quoted(out), &output), 0) << output;
    audio::Sound got;
    ASSERT_TRUE(audio::decodeFile(out.string(), got));
    EXPECT_GT(got.seconds(), 0.5);
    std::string text;
    ASSERT_TRUE(audio::loadSpeechText(out.string(), text));
    EXPECT_EQ(text, "Добро пожаловать.");
    EXPECT_EQ(cli("tts --rate 1000 'тест' " + quoted(dir / "03.wav"), &output), 1);
    EXPECT_NE(output.find("темп"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir / "03.wav"));
}

} // namespace

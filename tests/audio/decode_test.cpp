#include "audio_fixture.h"

#include "audio/import.h"
#include "model/atomic_file.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>

using namespace audio_test;

namespace {

void putLe(std::string& s, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A PCM WAV header written by hand, so that each field can lie.
std::string wavHeader(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint32_t dataSize) {
    std::string h = "RIFF";
    putLe(h, dataSize + 36, 4);
    h += "WAVEfmt ";
    putLe(h, 16, 4);
    putLe(h, 1, 2);
    putLe(h, channels, 2);
    putLe(h, rate, 4);
    putLe(h, rate * channels * bits / 8, 4);
    putLe(h, static_cast<std::uint32_t>(channels * bits / 8), 2);
    putLe(h, bits, 2);
    h += "data";
    putLe(h, dataSize, 4);
    return h;
}

std::string slurp(const fs::path& p) {
    std::string bytes;
    EXPECT_TRUE(atomic_file::readAll(p.string(), bytes, nullptr, 512u << 20)) << p;
    return bytes;
}

class Decode : public ScratchTest {};

TEST_F(Decode, ReadsEveryWavLayoutAndFlacAsTheSamplesThatWereWritten) {
    ASSERT_TRUE(haveTool("sox"));
    const audio::Sound master = speechLike(16000, 1.5);
    const fs::path src = dir / "master.wav";
    ASSERT_TRUE(audio::writeWav16(src.string(), master));
    audio::Sound exact;
    ASSERT_TRUE(audio::decodeFile(src.string(), exact));

    struct Layout {
        const char* name;
        std::string soxArgs; // output options for sox
        double tolerance;    // largest sample difference against the 16-bit master, full scale 1.0
    };
    const std::vector<Layout> layouts = {
        {"u8.wav", "-b 8 -e unsigned-integer", 1.0 / 128 + 1e-6},
        {"s24.wav", "-b 24", 1e-6},
        {"s32.wav", "-b 32", 1e-6},
        {"f32.wav", "-b 32 -e floating-point", 1e-6},
        {"f64.wav", "-b 64 -e floating-point", 1e-6},
        {"stereo.wav", "-c 2", 1e-6},
        {"six.wav", "-c 6 -b 24", 1e-6}, // sox writes WAVE_FORMAT_EXTENSIBLE for this
        {"alaw.wav", "-e a-law", 0.02},
        {"master.flac", "", 1e-6},
        {"s24.flac", "-b 24", 1e-6},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        const fs::path file = dir / l.name;
        ASSERT_EQ(shell("sox -D " + quoted(src) + " " + l.soxArgs + " " + quoted(file)), 0);
        audio::Sound got;
        std::string error;
        ASSERT_TRUE(audio::decodeFile(file.string(), got, &error)) << error;
        EXPECT_EQ(got.rate, 16000);
        ASSERT_EQ(got.samples.size(), exact.samples.size());
        double worst = 0;
        for (std::size_t i = 0; i < got.samples.size(); ++i)
            worst = std::max(worst, static_cast<double>(std::fabs(got.samples[i] - exact.samples[i])));
        EXPECT_LE(worst, l.tolerance);
    }
}

TEST_F(Decode, ReadsMp3OggAndOpusWithTheirLengthAndLevel) {
    const audio::Sound master = speechLike(44100, 3.0);
    const fs::path src = dir / "master.wav";
    ASSERT_TRUE(audio::writeWav16(src.string(), master));
    struct Lossy {
        const char* tool;
        std::string command;
        const char* file;
        int rate;
    };
    const std::vector<Lossy> lossy = {
        {"lame", "lame --quiet -b 128 " + quoted(src) + " " + quoted(dir / "m.mp3"), "m.mp3", 44100},
        {"oggenc", "oggenc -Q -q 5 -o " + quoted(dir / "m.ogg") + " " + quoted(src), "m.ogg", 44100},
        {"opusenc", "opusenc --quiet " + quoted(src) + " " + quoted(dir / "m.opus"), "m.opus", 48000},
    };
    for (const Lossy& l : lossy) {
        SCOPED_TRACE(l.file);
        if (!haveTool(l.tool)) {
            ADD_FAILURE() << l.tool << " is missing (scripts/setup-deps.sh installs it)";
            continue;
        }
        ASSERT_EQ(shell(l.command), 0);
        audio::Sound got;
        std::string error;
        ASSERT_TRUE(audio::decodeFile((dir / l.file).string(), got, &error)) << error;
        EXPECT_EQ(got.rate, l.rate);
        // Encoders pad to whole frames and drop or keep their priming samples: a few tens of milliseconds.
        EXPECT_NEAR(got.seconds(), 3.0, 0.06);
        EXPECT_NEAR(rmsDb(got), rmsDb(master), 1.0);
    }
}

TEST_F(Decode, MixesChannelsToTheirAverage) {
    std::string bytes = wavHeader(2, 8000, 16, 4 * 100);
    for (int i = 0; i < 100; ++i) {
        putLe(bytes, static_cast<std::uint16_t>(20000), 2);
        putLe(bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(-4000)), 2);
    }
    const fs::path file = dir / "lr.wav";
    ASSERT_TRUE(atomic_file::writeAll(file.string(), bytes));
    audio::Sound got;
    ASSERT_TRUE(audio::decodeFile(file.string(), got));
    ASSERT_EQ(got.samples.size(), 100u);
    EXPECT_FLOAT_EQ(got.samples[50], 8000.0f / 32768.0f);
    // Two full-scale channels in phase stay at full scale, never beyond.
    const std::string out = audio::wav16Bytes(got);
    EXPECT_EQ(out.size(), 44u + 200u);
    EXPECT_EQ(out.substr(0, 4), "RIFF");
}

TEST_F(Decode, HeaderDeclaringFourGigabytesReadsOnlyWhatIsThere) {
    std::string bytes = wavHeader(1, 8000, 16, 0xFFFFFFF0u);
    for (int i = 0; i < 800; ++i)
        putLe(bytes, static_cast<std::uint16_t>(i * 10), 2);
    const fs::path file = dir / "liar.wav";
    ASSERT_TRUE(atomic_file::writeAll(file.string(), bytes));
    audio::Sound got;
    std::string error;
    ASSERT_TRUE(audio::decodeFile(file.string(), got, &error)) << error;
    EXPECT_EQ(got.samples.size(), 800u);
}

// Every refusal names the file and gives a reason, writes nothing and leaves an older output as it was.
TEST_F(Decode, BadInputIsRefusedWithItsNameAndReasonAndChangesNothing) {
    const fs::path out = dir / "out.wav";
    ASSERT_TRUE(atomic_file::writeAll(out.string(), "older message"));

    struct Bad {
        std::string name;
        std::string bytes;  // empty: made by `make`
        std::string reason; // a word the message must hold
    };
    std::vector<Bad> bad = {
        {"empty.wav", "", "пуст"},
        {"text.mp3", std::string(3000, 'x'), "не распознан"},
        {"nochannels.wav", wavHeader(0, 8000, 16, 200) + std::string(200, '\1'), ""},
        {"norate.wav", wavHeader(1, 0, 16, 200) + std::string(200, '\1'), ""},
        {"fastrate.wav", wavHeader(1, 4000000, 16, 200) + std::string(200, '\1'), ""},
    };
    for (const Bad& b : bad)
        ASSERT_TRUE(atomic_file::writeAll((dir / b.name).string(), b.bytes));
    fs::create_directory(dir / "folder.wav");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    bad.push_back({"folder.wav", "", "папка"});
    bad.push_back({"pipe.wav", "", "не обычный файл"});
    bad.push_back({"missing.wav", "", "нет такого файла"});

    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        const fs::path in = dir / b.name;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(audio::importFile(in.string(), out.string(), {true, true}, &error));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_NE(error.find(in.string()), std::string::npos) << error;
        EXPECT_NE(error.find(b.reason), std::string::npos) << error;
        EXPECT_EQ(slurp(out), "older message");
    }
    std::vector<std::string> expected = {"empty.wav",  "fastrate.wav", "folder.wav", "nochannels.wav",
                                         "norate.wav", "out.wav",      "pipe.wav",   "text.mp3"};
    EXPECT_EQ(names(), expected);
}

TEST_F(Decode, ThreeHourFileIsRefusedQuicklyAndBounded) {
    // Three hours of 16-bit 44.1 kHz stereo, as a sparse file: 1.9 GB that takes no room on the disk.
    const std::uint64_t dataSize = 3ull * 3600 * 44100 * 4;
    const fs::path file = dir / "three-hours.wav";
    {
        std::string header = wavHeader(2, 44100, 16, static_cast<std::uint32_t>(dataSize));
        std::ofstream f(file, std::ios::binary);
        f << header;
    }
    fs::resize_file(file, 44 + dataSize);
    audio::Sound got;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(audio::decodeFile(file.string(), got, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_NE(error.find("длиннее"), std::string::npos) << error;
    EXPECT_TRUE(got.samples.empty());
}

TEST_F(Decode, TruncatedMp3GivesWhatItHoldsOrAReason) {
    ASSERT_TRUE(haveTool("lame"));
    const fs::path src = dir / "master.wav";
    ASSERT_TRUE(audio::writeWav16(src.string(), speechLike(44100, 4.0)));
    ASSERT_EQ(shell("lame --quiet " + quoted(src) + " " + quoted(dir / "whole.mp3")), 0);
    const std::string whole = slurp(dir / "whole.mp3");
    // Cut inside a frame, and a second copy with garbage in the middle of the frames.
    ASSERT_TRUE(atomic_file::writeAll((dir / "cut.mp3").string(), whole.substr(0, whole.size() / 2 + 7)));
    std::string damaged = whole;
    for (std::size_t i = whole.size() / 3; i < whole.size() / 3 + 900; ++i)
        damaged[i] = static_cast<char>(i * 37);
    ASSERT_TRUE(atomic_file::writeAll((dir / "damaged.mp3").string(), damaged));
    for (const char* name : {"cut.mp3", "damaged.mp3"}) {
        SCOPED_TRACE(name);
        audio::Sound got;
        std::string error;
        if (audio::decodeFile((dir / name).string(), got, &error)) {
            EXPECT_LE(got.seconds(), 4.1);
            EXPECT_GT(got.seconds(), 1.0);
        } else {
            EXPECT_NE(error.find(name), std::string::npos) << error;
        }
    }
}

TEST_F(Decode, UnreadableFileIsRefused) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const fs::path src = dir / "locked.wav";
    ASSERT_TRUE(audio::writeWav16(src.string(), speechLike(8000, 0.5)));
    fs::permissions(src, fs::perms::none);
    std::string error;
    audio::Sound got;
    EXPECT_FALSE(audio::decodeFile(src.string(), got, &error));
    EXPECT_NE(error.find("Отказано"), std::string::npos) << error;
}

TEST_F(Decode, ImportOntoItselfKeepsTheMessage) {
    const fs::path file = dir / "self.wav";
    ASSERT_TRUE(audio::writeWav16(file.string(), speechLike(8000, 1.0)));
    std::string error;
    ASSERT_TRUE(audio::importFile(file.string(), file.string(), {}, &error)) << error;
    audio::Sound got;
    ASSERT_TRUE(audio::decodeFile(file.string(), got));
    EXPECT_EQ(got.samples.size(), 8000u);
    EXPECT_EQ(names(), std::vector<std::string>{"self.wav"});
}

} // namespace

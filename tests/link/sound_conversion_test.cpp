#include "link/sound_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace sound;

namespace {

std::string le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string le32(std::uint32_t v) { return le16(static_cast<int>(v & 0xFFFF)) + le16(static_cast<int>(v >> 16)); }

std::string fmtChunk(int tag, int channels, std::uint32_t rate, int align, int bits) {
    return "fmt " + le32(16) + le16(tag) + le16(channels) + le32(rate) + le32(rate * static_cast<unsigned>(align)) +
           le16(align) + le16(bits);
}

std::string riff(const std::string& body) {
    return "RIFF" + le32(static_cast<std::uint32_t>(body.size() + 4)) + "WAVE" + body;
}

// 16-bit PCM WAV; interleaved samples.
std::string wav16(std::uint32_t rate, int channels, const std::vector<int>& samples) {
    std::string data;
    for (int s : samples)
        data += le16(s);
    return riff(fmtChunk(1, channels, rate, 2 * channels, 16) + "data" + le32(static_cast<std::uint32_t>(data.size())) +
                data);
}

std::vector<int> sine(std::uint32_t rate, double hz, double seconds, double amplitude, int channels = 1) {
    std::vector<int> v;
    auto n = static_cast<std::size_t>(rate * seconds);
    for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            v.push_back(
                static_cast<int>(amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
    return v;
}

std::vector<std::int16_t> pcmOf(const std::string& wavBytes) {
    std::vector<std::int16_t> v;
    for (std::size_t i = 44; i + 1 < wavBytes.size(); i += 2)
        v.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(wavBytes[i]) |
                                              (static_cast<unsigned char>(wavBytes[i + 1]) << 8)));
    return v;
}

std::vector<std::int16_t> decodeAll(const std::string& device) {
    AdpcmState st;
    std::vector<std::int16_t> v;
    for (unsigned char b : device) {
        v.push_back(decodeAdpcm(static_cast<std::uint8_t>(b >> 4), st));
        v.push_back(decodeAdpcm(static_cast<std::uint8_t>(b & 15), st));
    }
    return v;
}

// Signal-to-noise ratio in dB of b against the reference a, over their common length after a lag.
double snrDb(const std::vector<double>& a, const std::vector<double>& b, std::size_t skip = 0) {
    double sig = 0, err = 0;
    for (std::size_t i = skip; i < std::min(a.size(), b.size()); ++i) {
        sig += a[i] * a[i];
        err += (a[i] - b[i]) * (a[i] - b[i]);
    }
    return 10 * std::log10(sig / std::max(err, 1e-9));
}

template <class V> std::vector<double> asDouble(const V& v) { return {v.begin(), v.end()}; }

// The conversion written out step by step in the plainest form, with the coder by successive subtraction: the
// converter's faster loops must produce the same bytes.
std::string referenceEncode(std::uint32_t rate, int channels, int bits, const std::vector<int>& interleaved) {
    static const int steps[89] = {
        7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
        31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
        130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
        544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
        2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
        9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    static const int adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    int predictor = 0, index = 0;
    auto encode = [&](int sample) {
        int step = steps[index], diff = sample - predictor, code = 0;
        if (diff < 0) {
            code = 8;
            diff = -diff;
        }
        int delta = step >> 3;
        if (diff >= step) {
            code |= 4;
            diff -= step;
            delta += step;
        }
        if (diff >= step >> 1) {
            code |= 2;
            diff -= step >> 1;
            delta += step >> 1;
        }
        if (diff >= step >> 2) {
            code |= 1;
            delta += step >> 2;
        }
        predictor = std::clamp(code & 8 ? predictor - delta : predictor + delta, -32767, 32767);
        index = std::clamp(index + adjust[code & 7], 0, 88);
        return code;
    };
    static const double bands[5][8] = {{0.03743, 0.001333, -0.05217, 0.04382, 0.04156, -0.1206, 0.04723, 0.5014},
                                       {-0.02302, 0.03246, 0.0493, -0.01875, -0.08873, -0.02425, 0.1882, 0.3848},
                                       {0.03596, 0.0007104, -0.04809, -0.06759, -0.02285, 0.08543, 0.2146, 0.3019},
                                       {-0.04286, -0.04813, -0.03088, 0.01023, 0.06919, 0.1337, 0.1886, 0.2201},
                                       {-0.01766, -0.0003075, 0.02343, 0.05113, 0.07953, 0.105, 0.1243, 0.1346}};
    const double* c = nullptr;
    if (rate > 8000)
        c = bands[rate <= 11025 ? 0 : rate <= 16000 ? 1 : rate <= 22050 ? 2 : rate <= 32000 ? 3 : 4];
    std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels), next = 0;
    auto frame = [&] {
        double v = 0;
        for (int ch = 0; ch < channels; ++ch) {
            int x = interleaved[next * static_cast<std::size_t>(channels) + static_cast<std::size_t>(ch)];
            v += bits == 8 ? (x - 128) * 256.0 : x;
        }
        ++next;
        return v;
    };
    double history[16] = {};
    double dIn = 1.0 / rate, dOut = 1.0 / 8000, tIn = dIn, tOut = 0;
    double s0 = frame();
    double s1 = frames > 1 ? frame() : s0;
    std::string out;
    int held = -1;
    for (;;) {
        bool emit, advance;
        double sample = 0;
        if (rate == 8000) {
            tIn += dIn;
            tOut += dOut;
            sample = s0;
            emit = advance = true;
        } else {
            double e = (tIn - tOut) / dIn;
            emit = e >= 0;
            advance = !emit;
            if (emit) {
                sample = (1 - e) * s1 + e * s0;
                tOut += dOut;
            } else {
                tIn += dIn;
            }
        }
        if (emit) {
            int code = encode(static_cast<int>(std::clamp(sample, -32768.0, 32767.0)));
            if (held < 0) {
                held = code << 4;
            } else {
                out.push_back(static_cast<char>(held | code));
                held = -1;
            }
        }
        if (advance) {
            if (next >= frames)
                break;
            s0 = s1;
            s1 = frame();
            if (c) {
                for (int k = 0; k < 15; ++k)
                    history[k] = history[k + 1];
                history[15] = s1;
                s1 = 0;
                for (int k = 0; k < 8; ++k)
                    s1 += (history[k] + history[15 - k]) * c[k];
            }
        }
    }
    return out;
}

bool haveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

class SoundConversion : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sound_conversion_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Converts between two files in the folder through the caller-opened-files interface.
    int convert(const std::string& in, const std::string& out, bool toWav, std::string* texts = nullptr) {
        std::FILE* fi = std::fopen(path(in).c_str(), "rb");
        std::FILE* fo = std::fopen(path(out).c_str(), "wb");
        std::FILE* log = std::tmpfile();
        int r = convertSound(fi, fo, toWav, log);
        std::fclose(fi);
        std::fclose(fo);
        if (texts) {
            std::rewind(log);
            texts->clear();
            for (int c; (c = std::fgetc(log)) != EOF;)
                texts->push_back(static_cast<char>(c));
        }
        std::fclose(log);
        return r;
    }
    // Converts a WAV file in the folder with each encoder built here (on x86-64 both, the portable one included)
    // and expects exactly `expected` from each.
    void expectEveryEncoderGives(const std::string& in, const std::string& expected, const std::string& what) {
        for (Encoder encoder : {Encoder::Portable, Encoder::X86_64}) {
            if (!encoderBuilt(encoder))
                continue;
            const char* name = encoder == Encoder::Portable ? "portable" : "x86-64";
            std::FILE* fi = std::fopen(path(in).c_str(), "rb");
            std::FILE* fo = std::fopen(path("encoded.ktm").c_str(), "wb");
            const int r = convertWavToDevice(fi, fo, encoder);
            std::fclose(fi);
            std::fclose(fo);
            ASSERT_EQ(r, 0) << what << ", " << name;
            EXPECT_TRUE(read("encoded.ktm") == expected) << what << ", " << name << " encoder";
        }
    }

    fs::path dir_;
};

TEST(Adpcm, EncoderFollowsTheStepTableAndTheDecoderMirrorsIt) {
    AdpcmState enc;
    EXPECT_EQ(encodeAdpcm(0, enc), 0);
    EXPECT_EQ(enc.predictor, 0);
    EXPECT_EQ(enc.index, 0); // index never goes below 0
    EXPECT_EQ(encodeAdpcm(100, enc), 7);
    EXPECT_EQ(enc.predictor, 11); // 7/8 + 7 + 3 + 1
    EXPECT_EQ(enc.index, 8);
    EXPECT_EQ(encodeAdpcm(100, enc), 7);
    EXPECT_EQ(enc.predictor, 41); // step 16: 2 + 16 + 8 + 4
    EXPECT_EQ(enc.index, 16);
    EXPECT_EQ(encodeAdpcm(0, enc), 8 | 4); // step 34, diff -41: 34 taken, the rest 7 is below 17 and 8
    EXPECT_EQ(enc.predictor, 41 - (4 + 34));
    EXPECT_EQ(enc.index, 18);

    AdpcmState dec;
    EXPECT_EQ(decodeAdpcm(0, dec), 0);
    EXPECT_EQ(decodeAdpcm(7, dec), 11);
    EXPECT_EQ(decodeAdpcm(7, dec), 41);
    EXPECT_EQ(decodeAdpcm(12, dec), 3);
    EXPECT_EQ(dec.index, enc.index);
    EXPECT_EQ(decodeAdpcm(0x17, dec), decodeAdpcm(0x07, enc)) << "only the low nibble counts";
}

TEST(Adpcm, PredictorStopsAtMinus32767AndIndexAt88) {
    AdpcmState st;
    for (int i = 0; i < 200; ++i)
        encodeAdpcm(-32768, st);
    EXPECT_EQ(st.predictor, -32767);
    AdpcmState d;
    std::int16_t last = 0;
    for (int i = 0; i < 200; ++i)
        last = decodeAdpcm(15, d);
    EXPECT_EQ(last, -32767);
    EXPECT_EQ(d.index, 88);
    for (int i = 0; i < 200; ++i)
        last = decodeAdpcm(7, d);
    EXPECT_EQ(last, 32767);
}

TEST(Adpcm, RoundTripOfASineKeepsTheSignal) {
    std::vector<int> s = sine(8000, 440, 0.5, 12000);
    AdpcmState enc, dec;
    std::vector<double> back;
    for (int v : s)
        back.push_back(decodeAdpcm(encodeAdpcm(v, enc), dec));
    EXPECT_EQ(enc.predictor, dec.predictor);
    EXPECT_GT(snrDb(asDouble(s), back, 50), 20.0);
}

TEST_F(SoundConversion, EightKilohertzMonoGivesOneCodePerInputSample) {
    std::vector<int> s = sine(8000, 300, 1.0, 10000);
    write("in.wav", wav16(8000, 1, s));
    std::string texts;
    ASSERT_EQ(convert("in.wav", "out.ktm", false, &texts), 0);
    std::string device = read("out.ktm");
    // One output per input step; the last input sample ends the loop without being emitted.
    EXPECT_EQ(device.size(), (s.size() - 1) / 2);
    // Without a filter the codes are exactly the encoder's codes of the input samples.
    AdpcmState st;
    std::string expected;
    for (std::size_t i = 0; i + 2 < s.size(); i += 2) {
        int hi = encodeAdpcm(s[i], st);
        int lo = encodeAdpcm(s[i + 1], st);
        expected.push_back(static_cast<char>(hi << 4 | lo));
    }
    EXPECT_TRUE(device == expected);
    EXPECT_EQ(texts.rfind("Sampling rate: 8000\r\n\r\nProgress: 0%\rProgress: 1%", 0), 0u) << texts;
    EXPECT_NE(texts.find("\rProgress: 100%\r\nTotal time: 0m 1s\r\n"), std::string::npos) << texts;
    EXPECT_EQ(texts.find("Progress: 101%"), std::string::npos);
}

TEST_F(SoundConversion, EveryRateAndLayoutMatchesThePlainStepByStepConversion) {
    struct Layout {
        int channels, bits;
    } layouts[] = {{1, 16}, {2, 16}, {1, 8}, {2, 8}};
    std::uint32_t rates[] = {4000, 7999, 8000, 8001, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    for (std::uint32_t rate : rates)
        for (const Layout& l : layouts) {
            // A sweep loud enough to make stereo sums exceed 16 bits, 0.7 s so that the filter history wraps.
            std::vector<int> samples;
            auto n = static_cast<std::size_t>(rate * 0.7);
            for (std::size_t i = 0; i < n; ++i)
                for (int ch = 0; ch < l.channels; ++ch) {
                    double t = static_cast<double>(i) / rate;
                    double v = std::sin(2 * std::numbers::pi * (100 + 2000 * t) * t + ch);
                    samples.push_back(l.bits == 8 ? static_cast<int>(128 + 127 * v) : static_cast<int>(32000 * v));
                }
            std::string data;
            for (int v : samples)
                data += l.bits == 8 ? std::string(1, static_cast<char>(v)) : le16(v);
            int align = l.channels * l.bits / 8;
            write("in.wav", riff(fmtChunk(1, l.channels, rate, align, l.bits) + "data" +
                                 le32(static_cast<std::uint32_t>(data.size())) + data));
            ASSERT_EQ(convert("in.wav", "out.ktm", false), 0);
            std::string expected = referenceEncode(rate, l.channels, l.bits, samples);
            EXPECT_TRUE(read("out.ktm") == expected)
                << rate << " Hz, " << l.channels << " channels, " << l.bits << " bits: " << read("out.ktm").size()
                << " bytes, expected " << expected.size();
            expectEveryEncoderGives("in.wav", expected, std::to_string(rate) + " Hz");
        }
    // One and two frames: one code, which is dropped as an odd last nibble.
    for (int frames : {1, 2, 3}) {
        write("tiny.wav", wav16(8000, 1, std::vector<int>(static_cast<std::size_t>(frames), 1000)));
        ASSERT_EQ(convert("tiny.wav", "tiny.ktm", false), 0);
        EXPECT_EQ(read("tiny.ktm").size(), frames == 3 ? 1u : 0u) << frames;
    }
}

// Signals that drive the coder to its limits: the predictor pinned at both ends, the step index at 0 and 88,
// steps that jump from silence to full scale, and stereo sums beyond 16 bits.
TEST_F(SoundConversion, FullScaleAndNoiseAt8000MatchThePlainConversion) {
    std::uint32_t seed = 7;
    auto noise = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>(seed >> 16) - 32768;
    };
    struct Case {
        const char* name;
        int channels;
        std::function<int(std::size_t, int)> value;
    } cases[] = {
        {"square", 1, [](std::size_t i, int) { return (i / 5) % 2 ? 32767 : -32768; }},
        {"noise", 1, [&](std::size_t, int) { return noise(); }},
        {"bursts", 1, [&](std::size_t i, int) { return (i / 997) % 2 ? noise() : 0; }},
        {"rails", 1, [](std::size_t i, int) { return i < 30000 ? 32767 : -32768; }},
        {"stereo rails", 2, [](std::size_t i, int ch) { return ((i / 3) + ch) % 2 ? 32767 : -32768; }},
    };
    for (const Case& c : cases) {
        std::vector<int> samples;
        for (std::size_t i = 0; i < 70001; ++i) // more than one read buffer, and an odd count
            for (int ch = 0; ch < c.channels; ++ch)
                samples.push_back(c.value(i, ch));
        write("in.wav", wav16(8000, c.channels, samples));
        ASSERT_EQ(convert("in.wav", "out.ktm", false), 0) << c.name;
        const std::string expected = referenceEncode(8000, c.channels, 16, samples);
        EXPECT_TRUE(read("out.ktm") == expected) << c.name;
        expectEveryEncoderGives("in.wav", expected, c.name);
    }
}

TEST_F(SoundConversion, StereoAt44100IsSummedFilteredAndResampled) {
    std::vector<int> s = sine(44100, 400, 1.0, 8000, 2);
    write("in.wav", wav16(44100, 2, s));
    ASSERT_EQ(convert("in.wav", "out.ktm", false), 0);
    std::string device = read("out.ktm");
    double ratio = 2.0 * static_cast<double>(device.size()) / static_cast<double>(s.size() / 2);
    EXPECT_NEAR(ratio, 8000.0 / 44100.0, 0.001);
    // The two channels add up: a 400 Hz tone of amplitude 16000 at 8 kHz.
    std::vector<double> got = asDouble(decodeAll(device));
    std::vector<double> want;
    for (std::size_t i = 0; i < got.size(); ++i)
        want.push_back(16000 * std::sin(2 * std::numbers::pi * 400 * static_cast<double>(i) / 8000));
    double best = -100;
    for (int lag = 0; lag < 8; ++lag) { // the filter delays by a few input samples
        std::vector<double> shifted(got.begin() + lag, got.end());
        best = std::max(best, snrDb(want, shifted, 100));
    }
    EXPECT_GT(best, 15.0);
}

TEST_F(SoundConversion, SummedChannelsBeyond16BitsAreLimitedNotWrapped) {
    std::vector<int> s;
    for (int i = 0; i < 4000; ++i) {
        s.push_back(30000);
        s.push_back(30000);
    }
    write("loud.wav", wav16(8000, 2, s));
    ASSERT_EQ(convert("loud.wav", "loud.ktm", false), 0);
    std::vector<std::int16_t> back = decodeAll(read("loud.ktm"));
    ASSERT_FALSE(back.empty());
    EXPECT_GT(back.back(), 32000);
}

TEST_F(SoundConversion, EightBitInputIsCentredAndScaled) {
    // 8-bit mono at 8 kHz: byte 128 is silence, 255 is +127 * 256.
    std::string data(1000, static_cast<char>(255));
    write("u8.wav", riff(fmtChunk(1, 1, 8000, 1, 8) + "data" + le32(1000) + data));
    ASSERT_EQ(convert("u8.wav", "u8.ktm", false), 0);
    std::vector<std::int16_t> back = decodeAll(read("u8.ktm"));
    EXPECT_NEAR(back.back(), 127 * 256, 300);
}

TEST_F(SoundConversion, DeviceFileOfNBytesGivesWavOf44Plus4NBytes) {
    std::string device;
    for (int i = 0; i < 12000; ++i)
        device.push_back(static_cast<char>(i * 37));
    write("msg.ktm", device);
    std::string texts;
    ASSERT_EQ(convert("msg.ktm", "msg.wav", true, &texts), 0);
    std::string w = read("msg.wav");
    ASSERT_EQ(w.size(), 44u + 4 * device.size());
    EXPECT_EQ(w.substr(0, 44), "RIFF" + le32(48000 + 36) + "WAVE" + fmtChunk(1, 1, 8000, 2, 16) + "data" + le32(48000));
    std::vector<std::int16_t> expected = decodeAll(device);
    EXPECT_EQ(pcmOf(w), expected);
    EXPECT_NE(texts.find("Total time: 0m 3s\r\n"), std::string::npos) << texts; // 24000 samples

    write("empty.ktm", "");
    ASSERT_EQ(convert("empty.ktm", "empty.wav", true), 0);
    EXPECT_EQ(read("empty.wav").size(), 44u);
}

TEST_F(SoundConversion, WavAndDeviceRoundTrip) {
    std::vector<int> s = sine(8000, 500, 0.5, 9000);
    write("a.wav", wav16(8000, 1, s));
    ASSERT_EQ(convert("a.wav", "a.ktm", false), 0);
    ASSERT_EQ(convert("a.ktm", "b.wav", true), 0);
    std::vector<std::int16_t> back = pcmOf(read("b.wav"));
    EXPECT_EQ(back.size(), (s.size() - 1) / 2 * 2);
    EXPECT_GT(snrDb(asDouble(s), asDouble(back), 50), 20.0);
}

TEST_F(SoundConversion, HeaderReaderSkipsForeignChunksAndOddPadding) {
    std::string list = "LIST" + le32(3) + "abc" + std::string(1, '\0');
    std::string data = le16(100) + le16(-100);
    std::string fmt18 = "fmt " + le32(18) + fmtChunk(1, 1, 11025, 2, 16).substr(8) + le16(0);
    write("x.wav", riff(list + fmt18 + "fact" + le32(4) + "1234" + "data" + le32(4) + data));
    std::FILE* f = std::fopen(path("x.wav").c_str(), "rb");
    WavFormat fmt;
    ASSERT_EQ(readWavHeader(f, fmt), 0);
    EXPECT_EQ(fmt.sampleRate, 11025u);
    EXPECT_EQ(fmt.frames, 2u);
    double v = 0;
    ASSERT_EQ(readWavFrame(f, fmt, v), 0);
    EXPECT_EQ(v, 100);
    ASSERT_EQ(readWavFrame(f, fmt, v), 0);
    EXPECT_EQ(v, -100);
    EXPECT_EQ(readWavFrame(f, fmt, v), 203);
    std::fclose(f);

    // A writer that forgot the pad byte of an odd chunk is still understood.
    std::string unpadded = "LIST" + le32(3) + "abc";
    write("y.wav", riff(unpadded + fmtChunk(1, 1, 8000, 2, 16) + "data" + le32(4) + data));
    EXPECT_EQ(convert("y.wav", "y.ktm", false), 0);
}

TEST_F(SoundConversion, BadInputsGiveTheirResultCodes) {
    std::string good = wav16(8000, 1, sine(8000, 300, 0.1, 5000));
    std::string pcm = le16(1) + le16(2) + le16(3) + le16(4);
    struct Case {
        const char* name;
        std::string bytes;
        int result;
    } cases[] = {
        {"empty", "", 201},
        {"text", "hello, this is not a sound file at all", 201},
        {"rifx", "RIFX" + good.substr(4), 201},
        {"avi", "RIFF" + le32(100) + "AVI " + good.substr(12), 201},
        {"adpcm", riff(fmtChunk(17, 1, 8000, 256, 4) + "data" + le32(8) + pcm), 202},
        {"float", riff(fmtChunk(3, 1, 8000, 4, 32) + "data" + le32(8) + pcm), 202},
        {"data first", riff("data" + le32(8) + pcm + fmtChunk(1, 1, 8000, 2, 16)), 203},
        {"no data chunk", riff(fmtChunk(1, 1, 8000, 2, 16)), 203},
        {"cut in header", good.substr(0, 30), 203},
        {"cut in data", good.substr(0, good.size() - 100), 203},
        {"zero align", riff(fmtChunk(1, 1, 8000, 0, 16) + "data" + le32(8) + pcm), 203},
        {"align 3", riff(fmtChunk(1, 1, 8000, 3, 24) + "data" + le32(6) + pcm.substr(0, 6)), 203},
        {"32-bit mono", riff(fmtChunk(1, 1, 8000, 4, 32) + "data" + le32(8) + pcm), 203},
        {"zero rate", riff(fmtChunk(1, 1, 0, 2, 16) + "data" + le32(8) + pcm), 203},
        {"no frames", riff(fmtChunk(1, 1, 8000, 2, 16) + "data" + le32(1) + "x"), 203},
        {"short fmt", riff("fmt " + le32(8) + std::string(8, '\1') + "data" + le32(8) + pcm), 203},
        {"huge chunk", riff("junk" + le32(0xFFFFFFF0u) + fmtChunk(1, 1, 8000, 2, 16)), 203},
    };
    for (const Case& c : cases) {
        write("bad.wav", c.bytes);
        EXPECT_EQ(convert("bad.wav", "bad.ktm", false), c.result) << c.name;
    }
}

TEST_F(SoundConversion, NamedFileConversionLeavesNoPartialOutput) {
    write("old.ktm", "old contents");
    std::string cut = wav16(8000, 1, sine(8000, 300, 0.5, 5000));
    write("cut.wav", cut.substr(0, cut.size() / 2));
    EXPECT_EQ(convertSoundFile(path("cut.wav"), path("old.ktm"), false, nullptr), 203);
    EXPECT_EQ(read("old.ktm"), "old contents") << "a failed conversion must not destroy the old file";
    EXPECT_EQ(convertSoundFile(path("cut.wav"), path("new.ktm"), false, nullptr), 203);
    EXPECT_FALSE(fs::exists(path("new.ktm")));

    write("good.wav", cut);
    EXPECT_EQ(convertSoundFile(path("good.wav"), path("old.ktm"), false, nullptr), 0);
    EXPECT_EQ(read("old.ktm").size(), ((cut.size() - 44) / 2 - 1) / 2);
    EXPECT_EQ(convertSoundFile(path("missing.wav"), path("x.ktm"), false, nullptr), 203);
    EXPECT_EQ(convertSoundFile(path("good.wav"), path("no/such/folder/x.ktm"), false, nullptr), 204);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
        ++files;
    EXPECT_EQ(files, 3u) << "no temporary left behind";
}

TEST_F(SoundConversion, AFullDiskIsReportedNotPassedAsSuccess) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    write("in.wav", wav16(8000, 1, sine(8000, 300, 2.0, 5000)));
    std::FILE* fi = std::fopen(path("in.wav").c_str(), "rb");
    std::FILE* fo = std::fopen("/dev/full", "wb");
    ASSERT_TRUE(fi && fo);
    EXPECT_EQ(convertSound(fi, fo, false, nullptr), 204);
    std::fclose(fi);
    std::fclose(fo);
}

// sox as an independent IMA ADPCM peer: its raw "ima" format packs codes the same way the unit does.
TEST_F(SoundConversion, InteroperatesWithSoxImaAdpcm) {
    if (!haveSox())
        GTEST_SKIP() << "sox not installed";
    std::vector<int> s = sine(8000, 700, 1.0, 11000);
    write("tone.wav", wav16(8000, 1, s));

    // sox encodes, we decode.
    ASSERT_EQ(std::system(("sox " + path("tone.wav") + " -t ima " + path("sox.ktm") + " 2>/dev/null").c_str()), 0);
    std::vector<std::int16_t> ours = decodeAll(read("sox.ktm"));
    EXPECT_GT(snrDb(asDouble(s), asDouble(ours), 50), 20.0);

    // We encode, sox decodes. Its decoder computes the step fractions exactly rather than by shifts, so it
    // drifts from ours by a few units; the signal must still be the same one.
    ASSERT_EQ(convert("tone.wav", "ours.ktm", false), 0);
    ASSERT_EQ(std::system(("sox -t ima -r 8000 -c 1 " + path("ours.ktm") + " -b 16 -e signed " + path("sox.wav") +
                           " 2>/dev/null")
                              .c_str()),
              0);
    std::vector<std::int16_t> soxDecoded = pcmOf(read("sox.wav"));
    std::vector<std::int16_t> mine = decodeAll(read("ours.ktm"));
    ASSERT_EQ(soxDecoded.size(), mine.size());
    EXPECT_GT(snrDb(asDouble(mine), asDouble(soxDecoded)), 30.0);
    EXPECT_GT(snrDb(asDouble(s), asDouble(soxDecoded), 50), 20.0);
}

} // namespace

#include "audio_fixture.h"

#include "audio/loudness.h"

using namespace audio_test;

namespace {

class Loudness : public ScratchTest {};

TEST_F(Loudness, AgreesWithFfmpegWithinATenthOfALu) {
    ASSERT_TRUE(haveTool("ffmpeg"));
    struct Case {
        int rate;
        double level;
    };
    const std::vector<Case> cases = {{8000, 0.3}, {16000, 0.05}, {44100, 0.6}, {48000, 0.15}, {11025, 0.9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, level " + std::to_string(c.level));
        const fs::path file = dir / ("m" + std::to_string(c.rate) + ".wav");
        ASSERT_TRUE(audio::writeWav16(file.string(), speechLike(c.rate, 4.0, c.level, c.rate)));
        audio::Sound decoded;
        ASSERT_TRUE(audio::decodeFile(file.string(), decoded));
        const audio::Loudness ours = audio::measureLoudness(decoded);
        const PeerLoudness peer = ffmpegLoudness(file);
        ASSERT_TRUE(ours.valid);
        ASSERT_TRUE(peer.ok);
        EXPECT_NEAR(ours.integratedLufs, peer.lufs, 0.1);
        // ffmpeg oversamples the true peak with a different filter; the peaks agree to a few tenths.
        EXPECT_NEAR(ours.truePeakDbtp, peer.truePeak, 0.3);
    }
}

TEST_F(Loudness, SilenceHasNoLoudness) {
    audio::Sound silence;
    silence.rate = 8000;
    silence.samples.assign(16000, 0.0f);
    EXPECT_FALSE(audio::measureLoudness(silence).valid);
    EXPECT_FALSE(audio::normalizeLoudness(silence));
    EXPECT_EQ(silence.samples, std::vector<float>(16000, 0.0f));
    EXPECT_FALSE(audio::measureLoudness(audio::Sound{}).valid);
}

TEST_F(Loudness, QuietMessageIsBroughtToTheTarget) {
    audio::Sound quiet = speechLike(22050, 5.0, 0.01);
    ASSERT_TRUE(audio::normalizeLoudness(quiet));
    const fs::path file = dir / "normal.wav";
    ASSERT_TRUE(audio::writeWav16(file.string(), quiet));
    const PeerLoudness peer = ffmpegLoudness(file);
    ASSERT_TRUE(peer.ok);
    EXPECT_NEAR(peer.lufs, audio::kDefaultTargetLufs, 0.2);
    audio::Sound other = speechLike(22050, 5.0, 0.01);
    ASSERT_TRUE(audio::normalizeLoudness(other, -26.0));
    EXPECT_NEAR(audio::measureLoudness(other).integratedLufs, -26.0, 0.1);
}

// A loud target on a message with sharp peaks: the limiter must hold every true peak under the ceiling and
// every sample inside full scale, without taking much of the loudness.
TEST_F(Loudness, LimiterKeepsPeaksUnderTheCeiling) {
    audio::Sound peaky = speechLike(16000, 4.0, 0.1);
    // A plosive's click now and then, 20 dB above the voice.
    for (std::size_t i = 1000; i < peaky.samples.size(); i += 8000)
        peaky.samples[i] = 0.95f;
    ASSERT_TRUE(audio::normalizeLoudness(peaky, -14.0));
    const audio::Loudness after = audio::measureLoudness(peaky);
    EXPECT_LE(after.truePeakDbtp, audio::kPeakCeilingDbtp + 1e-6);
    EXPECT_NEAR(after.integratedLufs, -14.0, 1.0);
    for (float v : peaky.samples)
        ASSERT_LE(std::fabs(v), 1.0f);
    const fs::path file = dir / "limited.wav";
    ASSERT_TRUE(audio::writeWav16(file.string(), peaky));
    const PeerLoudness peer = ffmpegLoudness(file);
    ASSERT_TRUE(peer.ok);
    EXPECT_LT(peer.truePeak, audio::kPeakCeilingDbtp + 0.3);
}

audio::Sound withSilence(double before, double sound, double after, int rate) {
    audio::Sound s;
    s.rate = rate;
    const audio::Sound voice = speechLike(rate, sound, 0.3);
    s.samples.assign(static_cast<std::size_t>(before * rate), 0.0f);
    s.samples.insert(s.samples.end(), voice.samples.begin(), voice.samples.end());
    s.samples.resize(s.samples.size() + static_cast<std::size_t>(after * rate), 0.0f);
    // The hiss of a real recording, 70 dB down: it is silence too.
    unsigned x = 7;
    for (float& v : s.samples) {
        x = x * 1664525u + 1013904223u;
        v += static_cast<float>((static_cast<double>(x >> 8) / 16777216.0 - 0.5) * 0.0006);
    }
    return s;
}

TEST_F(Loudness, TrimLeavesTheMarginAtBothEnds) {
    audio::Sound s = withSilence(1.0, 1.0, 1.5, 8000);
    ASSERT_TRUE(audio::trimSilence(s));
    const double margin = audio::kTrimMarginMs / 1000.0;
    EXPECT_NEAR(s.seconds(), 1.0 + 2 * margin, 0.011); // a 10 ms analysis window either way
    // The first 190 ms are still silence; the sound has begun by 210 ms.
    double head = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(0.19 * 8000); ++i)
        head = std::max(head, static_cast<double>(std::fabs(s.samples[i])));
    EXPECT_LT(head, 0.001);
    double start = 0;
    for (std::size_t i = static_cast<std::size_t>(0.19 * 8000); i < static_cast<std::size_t>(0.25 * 8000); ++i)
        start = std::max(start, static_cast<double>(std::fabs(s.samples[i])));
    EXPECT_GT(start, 0.05);

    audio::Sound tight = withSilence(0.05, 1.0, 0.1, 8000);
    EXPECT_FALSE(audio::trimSilence(tight)) << "nothing beyond the margin to cut";
    audio::Sound noMargin = withSilence(0.5, 1.0, 0.5, 44100);
    ASSERT_TRUE(audio::trimSilence(noMargin, 0));
    EXPECT_NEAR(noMargin.seconds(), 1.0, 0.011);
    audio::Sound silent = withSilence(1.0, 0.0, 1.0, 8000);
    for (float& v : silent.samples)
        v = 0;
    EXPECT_FALSE(audio::trimSilence(silent));
    EXPECT_EQ(silent.samples.size(), 16000u);
}

} // namespace

// Conversion between PCM WAV files and the unit's sound format: headerless 4-bit IMA ADPCM, 8000 samples per
// second, mono, two codes per byte with the first sample in the high nibble (".ktm" files on the computer).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sound {

// Result codes of the conversion. 204 is ours: the unit's format has no code for a failed write, and a full
// disk must not pass for a good conversion. Callers treat every code but 0 as "conversion failed".
inline constexpr int kSoundOk = 0;
inline constexpr int kSoundNotRiffWave = 201;
inline constexpr int kSoundNotPcm = 202;
inline constexpr int kSoundBadStructure = 203;
inline constexpr int kSoundWriteFailed = 204;

// One ADPCM state runs through a whole file in each direction.
struct AdpcmState {
    int predictor = 0; // always within -32767 ... 32767
    int index = 0;     // 0 ... 88
};

// Returns the 4-bit code for one 16-bit sample and advances the state.
std::uint8_t encodeAdpcm(int sample, AdpcmState& state);
// Returns the sample for one 4-bit code (only the low nibble is used) and advances the state.
std::int16_t decodeAdpcm(std::uint8_t code, AdpcmState& state);

struct WavFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint32_t frames = 0;
};

// Reads the RIFF header up to the first byte of the "data" chunk. 0, 201 (not RIFF/WAVE), 202 (not PCM) or
// 203 (structure unusable: early end, "data" before "fmt ", a frame layout other than 8/16-bit mono/stereo,
// no frames, sample rate 0).
int readWavHeader(std::FILE* file, WavFormat& format);

// Reads one frame and gives the first channel's value plus the second channel's (summed, not averaged):
// 16-bit scale, 8-bit samples scaled by 256. 0, or 203 when the file ends inside the frame.
int readWavFrame(std::FILE* file, const WavFormat& format, double& sample);

// The time stepping of the resampler from the input rate to 8000 Hz. s0 is the older input sample and s1 the
// newer one; tIn is the time of s1, tOut the time of the next output sample.
class Resampler {
public:
    explicit Resampler(std::uint32_t inputRate) : dIn_(1.0 / inputRate), tIn_(dIn_) {}
    // A step either emits the sample interpolated at tOut or advances the input by one frame (8000 Hz input
    // needs no resampler). e = (tIn - tOut) / dIn is not negative exactly when tIn >= tOut, so the division is
    // paid only for an emitted sample.
    bool outputDue() const { return tIn_ - tOut_ >= 0; }
    double interpolate(double s0, double s1) const {
        double e = (tIn_ - tOut_) / dIn_;
        return (1 - e) * s1 + e * s0;
    }
    void emitted() { tOut_ += dOut_; }
    void advanced() { tIn_ += dIn_; }

private:
    double dIn_;
    double dOut_ = 1.0 / 8000.0;
    double tIn_;
    double tOut_ = 0;
};

// Converts the open input file into the open output file (both binary): device format to WAV when toWav, else
// WAV to device format. Reads from and writes at the current positions. Progress and summary texts go to
// `progress` (standard output unless the caller says otherwise; nullptr is silent). On failure the output
// holds a partial result: callers that write into a named file should use convertSoundFile, which never
// leaves one behind.
int convertSound(std::FILE* input, std::FILE* output, bool toWav, std::FILE* progress = stdout);

// The ADPCM encoders a WAV-to-device conversion can run: the portable one, and one scheduled by hand for x86-64
// (built only there). convertSound runs the fastest one built; both give the same bytes.
enum class Encoder { Portable, X86_64 };
bool encoderBuilt(Encoder encoder);
// convertSound from WAV to device format with the given encoder (one that is built); for the tests and the
// benchmark that hold the encoders side by side.
int convertWavToDevice(std::FILE* input, std::FILE* output, Encoder encoder, std::FILE* progress = nullptr);

// convertSound between named files. The output appears under its name only when the conversion succeeded: it
// is written through the crash-safe writer of settings files (a temporary beside the target, flushed to disk,
// renamed over it, the folder flushed), so a failed conversion neither leaves a truncated file that looks good
// nor destroys an older good one. 203 when the input cannot be opened or is not a regular file (a named pipe
// would block for ever), 204 when the output cannot be created or written. `error`, when given, says in
// Russian which file failed and why.
int convertSoundFile(const std::string& inputPath, const std::string& outputPath, bool toWav,
                     std::FILE* progress = stdout, std::string* error = nullptr);

} // namespace sound

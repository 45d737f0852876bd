#include "audio/caller_sound.h"

#include "audio/decode.h"
#include "link/sound_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace audio {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A memory stream the conversion writes into; the buffer belongs to the stream until it is closed.
struct MemoryOut {
    char* data = nullptr;
    std::size_t size = 0;
    File file{open_memstream(&data, &size)};
    ~MemoryOut() {
        file.reset();
        std::free(data);
    }
    std::string take() {
        file.reset();
        return std::string(data ? data : "", size);
    }
};

const char* conversionReason(int code) {
    switch (code) {
    case sound::kSoundNotRiffWave:
        return "не файл RIFF/WAVE";
    case sound::kSoundNotPcm:
        return "не PCM";
    case sound::kSoundBadStructure:
        return "файл повреждён или пуст";
    default:
        return "ошибка записи";
    }
}

bool convert(const std::string& in, bool toWav, std::string& out, std::string* error) {
    // fmemopen refuses a zero-length buffer; a conversion of nothing is refused by the conversion itself.
    std::string input = in.empty() ? std::string(1, '\0') : in;
    File source(fmemopen(input.data(), in.empty() ? 1 : in.size(), "rb"));
    MemoryOut sink;
    if (!source || !sink.file) {
        if (error)
            *error = "Нет памяти для преобразования звука";
        return false;
    }
    const int code = sound::convertSound(source.get(), sink.file.get(), toWav, nullptr);
    if (code != sound::kSoundOk) {
        if (error)
            *error = std::string("Преобразование в формат устройства не удалось: ") + conversionReason(code);
        return false;
    }
    out = sink.take();
    return true;
}

double sinc(double x) { return x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x); }

} // namespace

bool makeCallerSound(const Sound& message, CallerSound& out, std::string* error) {
    std::string unit;
    std::string back;
    if (!convert(wav16Bytes(message), false, unit, error) || !convert(unit, true, back, error))
        return false;
    CallerSound result;
    result.unitBytes = unit.size();
    result.sound.rate = 8000;
    const std::size_t count = back.size() > 44 ? (back.size() - 44) / 2 : 0;
    result.sound.samples.resize(count);
    const auto* p = reinterpret_cast<const unsigned char*>(back.data()) + 44;
    for (std::size_t i = 0; i < count; ++i, p += 2)
        result.sound.samples[i] = static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8))) / 32768.0f;
    result.snrDb = codingSnrDb(resampleTo8000(message));
    out = std::move(result);
    return true;
}

Sound resampleTo8000(const Sound& sound) {
    Sound out;
    out.rate = 8000;
    if (sound.rate <= 0 || sound.samples.empty())
        return out;
    if (sound.rate == 8000) {
        out.samples = sound.samples;
        return out;
    }
    // A windowed-sinc interpolator with its cut-off at 0.45 of the lower of the two rates: 8 zero crossings
    // each side, a Blackman window, the kernel tabulated so a long message costs a few multiplications a tap.
    const double ratio = static_cast<double>(sound.rate) / 8000.0;
    const double cutoff = 0.9 * std::min(1.0, 1.0 / ratio); // in half the input rate
    constexpr int kZeros = 8;
    const double half = kZeros / cutoff; // kernel half-width in input samples
    constexpr int kTable = 4096;
    std::vector<double> table(kTable + 2);
    for (int i = 0; i <= kTable + 1; ++i) {
        const double u = std::min(1.0, static_cast<double>(i) / kTable); // |d| / half
        const double w = 0.42 + 0.5 * std::cos(M_PI * u) + 0.08 * std::cos(2 * M_PI * u);
        table[static_cast<std::size_t>(i)] = cutoff * sinc(cutoff * u * half) * w;
    }
    const auto n = static_cast<std::size_t>(std::floor(static_cast<double>(sound.samples.size()) / ratio));
    out.samples.resize(n);
    const auto last = static_cast<long>(sound.samples.size()) - 1;
    for (std::size_t k = 0; k < n; ++k) {
        const double t = static_cast<double>(k) * ratio;
        const long lo = std::max(0L, static_cast<long>(std::ceil(t - half)));
        const long hi = std::min(last, static_cast<long>(std::floor(t + half)));
        double sum = 0;
        for (long i = lo; i <= hi; ++i) {
            const double pos = std::fabs(static_cast<double>(i) - t) / half * kTable;
            const auto j = static_cast<std::size_t>(pos);
            const double f = pos - static_cast<double>(j);
            sum += sound.samples[static_cast<std::size_t>(i)] * (table[j] + (table[j + 1] - table[j]) * f);
        }
        out.samples[k] = static_cast<float>(sum);
    }
    return out;
}

double codingSnrDb(const Sound& at8000) {
    sound::AdpcmState enc;
    sound::AdpcmState dec;
    double signal = 0;
    double noise = 0;
    for (float v : at8000.samples) {
        // As the unit's conversion takes a sample: limited to 16 bits and truncated toward zero.
        const int x = static_cast<int>(std::clamp(static_cast<double>(v) * 32768.0, -32768.0, 32767.0));
        const int y = sound::decodeAdpcm(sound::encodeAdpcm(x, enc), dec);
        signal += static_cast<double>(x) * x;
        noise += static_cast<double>(x - y) * (x - y);
    }
    if (signal <= 0)
        return 0;
    if (noise <= 0)
        return 99.0;
    return 10.0 * std::log10(signal / noise);
}

} // namespace audio

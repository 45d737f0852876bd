#include "link/sound_conversion.h"

#include "model/atomic_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sound {

namespace {

constexpr std::array<int, 89> kStepTable = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr std::array<int, 16> kIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// The unit's decoder limits the predictor to -32767, so the encoder must do the same to stay in step with it.
constexpr int kPredictorMin = -32767;
constexpr int kPredictorMax = 32767;

constexpr int kDeviceRate = 8000;

// Halves of symmetric 16-tap low-pass filters, one per input-rate band (upper band limits below).
struct FilterBand {
    std::uint32_t upTo;
    std::array<double, 8> c;
};
constexpr std::array<FilterBand, 5> kFilters = {{
    {11025, {0.03743, 0.001333, -0.05217, 0.04382, 0.04156, -0.1206, 0.04723, 0.5014}},
    {16000, {-0.02302, 0.03246, 0.0493, -0.01875, -0.08873, -0.02425, 0.1882, 0.3848}},
    {22050, {0.03596, 0.0007104, -0.04809, -0.06759, -0.02285, 0.08543, 0.2146, 0.3019}},
    {32000, {-0.04286, -0.04813, -0.03088, 0.01023, 0.06919, 0.1337, 0.1886, 0.2201}},
    {0xFFFFFFFF, {-0.01766, -0.0003075, 0.02343, 0.05113, 0.07953, 0.105, 0.1243, 0.1346}},
}};

constexpr std::size_t kIoBufferSize = std::size_t{64} * 1024;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void putLe16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void putLe32(unsigned char* p, std::uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}

bool readExact(std::FILE* f, unsigned char* p, std::size_t n) { return std::fread(p, 1, n, f) == n; }

// Skips forward; falls back to reading for streams that cannot seek. Seeking past the end is allowed by
// stdio, so a chunk size larger than the file shows up as an early end at the next read, never as a hang.
bool skipBytes(std::FILE* f, std::uint64_t n) {
    if (n == 0)
        return true;
    if (fseeko(f, static_cast<off_t>(n), SEEK_CUR) == 0)
        return true;
    unsigned char scratch[4096];
    while (n > 0) {
        std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof scratch));
        if (!readExact(f, scratch, part))
            return false;
        n -= part;
    }
    return true;
}

// RIFF pads a chunk of odd size with one zero byte. Writers that forget the pad exist too, and a chunk id
// never starts with a zero byte, so the pad is taken only when it is there.
void skipPad(std::FILE* f, std::uint32_t chunkSize) {
    if ((chunkSize & 1) == 0)
        return;
    int c = std::fgetc(f);
    if (c != 0 && c != EOF)
        std::ungetc(c, f);
}

// The frame layouts we can read: 8-bit or 16-bit, mono or stereo. Anything else (32-bit mono in 4 bytes, four
// 8-bit channels) would pass the block-alignment test and come out as noise.
bool layoutUsable(const WavFormat& f) {
    if (f.blockAlign != 1 && f.blockAlign != 2 && f.blockAlign != 4)
        return false;
    if (f.channels != 1 && f.channels != 2)
        return false;
    unsigned bytesPerSample = f.bitsPerSample <= 8 ? 1 : (f.bitsPerSample <= 16 ? 2 : 0);
    return bytesPerSample != 0 && f.blockAlign == bytesPerSample * f.channels;
}

// The frame's value as an integer: the sums and scalings are exact, so the floating-point arithmetic of the
// resampler starts from the same numbers.
template <unsigned Bytes, unsigned Channels> inline int sampleOf(const unsigned char* p) {
    if constexpr (Bytes == 1) {
        int v = (static_cast<int>(p[0]) - 128) * 256;
        if constexpr (Channels == 2)
            v += (static_cast<int>(p[1]) - 128) * 256;
        return v;
    } else {
        int v = static_cast<std::int16_t>(le16(p));
        if constexpr (Channels == 2)
            v += static_cast<std::int16_t>(le16(p + 2));
        return v;
    }
}

// Reads the frames of the "data" chunk through its own buffer, never past the announced data size. One
// instance per frame layout keeps the per-frame work free of format tests.
template <unsigned Bytes, unsigned Channels> class FrameReader {
public:
    static constexpr std::size_t kAlign = std::size_t{Bytes} * Channels;

    FrameReader(std::FILE* f, std::uint32_t frames)
        : file_(f), buffer_(kIoBufferSize), bytesLeft_(static_cast<std::uint64_t>(frames) * kAlign) {}

    template <class T> bool next(T& sample) {
        if (len_ - pos_ < kAlign && !refill())
            return false;
        sample = static_cast<T>(sampleOf<Bytes, Channels>(buffer_.data() + pos_));
        pos_ += kAlign;
        return true;
    }

    // The whole frames now buffered (refilling first when none is), at most Limit of them: their count, and
    // their first byte in Frames. 0 when the input ended.
    std::size_t take(const unsigned char*& Frames, std::uint64_t Limit) {
        if (len_ - pos_ < kAlign && !refill())
            return 0;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>((len_ - pos_) / kAlign, Limit));
        Frames = buffer_.data() + pos_;
        pos_ += n * kAlign;
        return n;
    }

private:
    bool refill() {
        std::size_t keep = len_ - pos_;
        std::memmove(buffer_.data(), buffer_.data() + pos_, keep);
        pos_ = 0;
        len_ = keep;
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - keep, bytesLeft_));
        std::size_t got = want ? std::fread(buffer_.data() + keep, 1, want, file_) : 0;
        len_ += got;
        bytesLeft_ -= got;
        return len_ >= kAlign;
    }

    std::FILE* file_;
    std::vector<unsigned char> buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::uint64_t bytesLeft_;
};

class ByteWriter {
public:
    explicit ByteWriter(std::FILE* f) : file_(f), buffer_(kIoBufferSize) {}
    void put(unsigned char b) {
        if (len_ == buffer_.size())
            flush();
        buffer_[len_++] = b;
    }
    void put16(std::int16_t v) {
        if (len_ + 2 > buffer_.size())
            flush();
        putLe16(buffer_.data() + len_, static_cast<std::uint16_t>(v));
        len_ += 2;
    }
    // Room for n bytes (at most the buffer's size) to be written directly, then commit() what was written.
    unsigned char* room(std::size_t n) {
        if (len_ + n > buffer_.size())
            flush();
        return buffer_.data() + len_;
    }
    void commit(const unsigned char* end) { len_ = static_cast<std::size_t>(end - buffer_.data()); }
    // False when any write so far failed.
    bool flush() {
        if (len_ > 0 && ok_)
            ok_ = std::fwrite(buffer_.data(), 1, len_, file_) == len_;
        len_ = 0;
        return ok_;
    }
    bool finish() { return flush() && std::fflush(file_) == 0 && !std::ferror(file_); }

private:
    std::FILE* file_;
    std::vector<unsigned char> buffer_;
    std::size_t len_ = 0;
    bool ok_ = true;
};

// "each time another hundredth of the work is done": the percentage rises one step at a time even when a
// small file completes several hundredths with one unit of work.
class Progress {
public:
    Progress(std::FILE* out, std::uint64_t total) : out_(out), total_(total) {
        say("\r\nProgress: 0%");
        nextAt_ = threshold(1);
    }
    void update(std::uint64_t done) {
        while (percent_ < 100 && done >= nextAt_) {
            ++percent_;
            if (out_)
                std::fprintf(out_, "\rProgress: %d%%", percent_);
            nextAt_ = threshold(percent_ + 1);
        }
    }
    void finish(std::uint64_t seconds) {
        update(total_);
        if (out_) {
            std::fprintf(out_, "\r\nTotal time: %dm %ds\r\n", static_cast<int>(seconds / 60),
                         static_cast<int>(seconds % 60));
            std::fflush(out_);
        }
    }

private:
    void say(const char* text) {
        if (out_)
            std::fputs(text, out_);
    }
    std::uint64_t threshold(int percent) const { return (static_cast<std::uint64_t>(percent) * total_ + 99) / 100; }

    std::FILE* out_;
    std::uint64_t total_;
    int percent_ = 0;
    std::uint64_t nextAt_ = 0;
};

// The codec as one row per step index: everything a step needs sits in the row, and the next row is reached
// by a pointer, so the serial chain from one sample to the next is a handful of operations and two loads.
//
// Coding by successive subtraction (step, step >> 1, step >> 2) picks the largest magnitude m whose weight
// sum W(m) does not exceed |diff|, because step >= (step >> 1) + (step >> 2) and step >> 1 >= step >> 2. So m
// is the number of thresholds W(1) ... W(7) that |diff| reaches, compared all at once instead of one after
// the other, and the predictor moves by (step >> 3) + W(m) with the code's sign. Mispredicted branches would
// cost more than the whole step, so the sign and the magnitude bits are computed without branches.
struct CodecRow {
    int threshold[8];         // W(m); [0] unused
    int delta[16];            // signed predictor change by code
    const CodecRow* next[16]; // row of the next step index by code
};

// The arithmetic of one step, shared by the tables: W(m) for the magnitude bits of a code, the signed
// predictor change of a code, and the step index after it.
int weightOf(int step, int code) {
    int m = code & 7;
    return ((m & 4) ? step : 0) + ((m & 2) ? step >> 1 : 0) + ((m & 1) ? step >> 2 : 0);
}
int changeOf(int step, int code) {
    int delta = (step >> 3) + weightOf(step, code);
    return (code & 8) ? -delta : delta;
}
std::size_t nextIndex(std::size_t index, int code) {
    int next = static_cast<int>(index) + kIndexTable[static_cast<std::size_t>(code)];
    return static_cast<std::size_t>(std::clamp(next, 0, 88));
}

const CodecRow* codecRows() {
    static const std::array<CodecRow, 89> rows = [] {
        std::array<CodecRow, 89> r{};
        for (std::size_t i = 0; i < r.size(); ++i) {
            int step = kStepTable[i];
            for (int code = 0; code < 16; ++code) {
                if (code < 8)
                    r[i].threshold[code] = weightOf(step, code);
                r[i].delta[code] = changeOf(step, code);
                r[i].next[code] = &r[nextIndex(i, code)];
            }
        }
        return r;
    }();
    return rows.data();
}

// The running state in the form the loops use.
struct Codec {
    explicit Codec(const AdpcmState& s) : rows(codecRows()), predictor(s.predictor), row(rows + s.index) {}
    AdpcmState state() const { return {predictor, static_cast<int>(row - rows)}; }

    void move(std::size_t code) {
        int p = predictor + row->delta[code];
        // Rarely taken, so a well-predicted branch keeps the limit off the serial chain.
        if (p > kPredictorMax)
            p = kPredictorMax;
        else if (p < kPredictorMin)
            p = kPredictorMin;
        predictor = p;
        row = row->next[code];
    }
    std::size_t encode(int sample) {
        const int* w = row->threshold;
        int diff = sample - predictor;
        int sign = diff < 0 ? -1 : 0;
        int a = (diff ^ sign) - sign;
        std::size_t m =
            ((std::size_t{a >= w[1]} + std::size_t{a >= w[2]}) + (std::size_t{a >= w[3]} + std::size_t{a >= w[4]})) +
            ((std::size_t{a >= w[5]} + std::size_t{a >= w[6]}) + std::size_t{a >= w[7]});
        std::size_t code = m | (static_cast<std::size_t>(sign) & 8);
        move(code);
        return code;
    }
    std::int16_t decode(std::size_t code) {
        move(code & 15);
        return static_cast<std::int16_t>(predictor);
    }

    const CodecRow* rows;
    int predictor;
    const CodecRow* row;
};

#if defined(__x86_64__) && defined(__GNUC__)
// The encoder for whole files on x86-64. The 8000 Hz conversion is nothing but this chain, one sample after
// the other, so its length is the conversion's speed. Codec above needs about 26 cycles a sample here; this
// one about 20. It is kept while it saves at least 15 % of a whole conversion: bench_adpcm_encoders runs both
// on a 10-minute 8000 Hz file and compares their bytes (about 36 % of the processor time saved when written).
//
// What shortens the chain:
// - Everything one sample needs for the next is found through one entry, the one of its code: the signed
//   predictor change, the next row, and the next row's thresholds, so the thresholds are loaded while the
//   predictor change is still on its way, not after.
// - The difference for the next sample is (sample - predictor before the change) - change: the first part is
//   known early, so only one subtraction waits for the loaded change.
// - The thresholds are compared with carry-counting (cmp, sbb), which the compiler would not emit; the sign
//   of the difference picks |difference| and the half of the row with cmov from the same flags.
// - The predictor limit is a branch out of the chain: it is taken only for full-scale signals.
class FastEncoder {
    // One row per step index, 384 bytes. For each code: `entries` (change, byte offset of the next row's code
    // 7 entry, the code itself), then the next row's thresholds W(1)..W(4) and W(5)..W(7), all at stride 8,
    // so that one index register reaches all three.
    struct Entry {
        std::int32_t delta;
        std::uint16_t next;
        std::uint16_t code;
    };
    struct Thresholds {
        std::uint16_t w[4];
    };
    struct Row {
        Entry entries[16];
        Thresholds low[16];
        Thresholds high[16];
    };
    static constexpr std::size_t kCode7 = 7 * sizeof(Entry);
    static_assert(sizeof(Row) == 384 && 88 * sizeof(Row) + kCode7 <= 0xFFFF, "row offsets are 16-bit");

    using Table = std::array<Row, 89>;
    static const Table* rows() {
        static const Table table = [] {
            Table r{};
            for (std::size_t i = 0; i < r.size(); ++i) {
                int step = kStepTable[i];
                for (int code = 0; code < 16; ++code) {
                    std::size_t next = nextIndex(i, code);
                    int n = kStepTable[next];
                    auto u16 = [](int v) { return static_cast<std::uint16_t>(v); };
                    r[i].entries[code] = {changeOf(step, code), u16(static_cast<int>(next * sizeof(Row) + kCode7)),
                                          u16(code)};
                    // W(1) ... W(7) of the next row.
                    r[i].low[code] = {{u16(weightOf(n, 1)), u16(weightOf(n, 2)), u16(weightOf(n, 3)), u16(n)}};
                    r[i].high[code] = {{u16(weightOf(n, 5)), u16(weightOf(n, 6)), u16(weightOf(n, 7)), 0}};
                }
            }
            return r;
        }();
        return &table;
    }

public:
    // The state of a new file: predictor 0, step index 0.
    FastEncoder() {
        rows_ = rows();
        table_ = reinterpret_cast<const char*>(rows_);
        // Code 0 of row 0 leads to row 0 again, so its entry carries the thresholds of the first row.
        entry_ = table_;
        half_ = table_ + kCode7;
    }

    [[gnu::always_inline]] std::size_t encode(int sample) {
        long t = static_cast<long>(sample) - before_; // minus `delta_` gives the difference
        long a, negated, below1, below2;
        const char* negativeHalf;
        // half_ points at code 7 of the row; the sbb chains count the thresholds above |difference| (as a
        // negative number), so half_ plus 8 times their sum is the entry of the code. The chain whose sum is
        // needed first goes first: the core starts the oldest ready instruction, and this order measured
        // about 7 % faster than the other.
        asm("xor %k[b1], %k[b1]\n\t"
            "xor %k[b2], %k[b2]\n\t"
            "mov %[dl], %[neg]\n\t"
            "sub %[t], %[neg]\n\t"
            "lea 64(%[half]), %[nh]\n\t"
            "mov %[t], %[a]\n\t"
            "sub %[dl], %[a]\n\t"
            "cmovs %[neg], %[a]\n\t"
            "cmovs %[nh], %[half]\n\t"
            "cmpw 256(%[e]), %w[a]\n\tsbb $0, %[b2]\n\t"
            "cmpw 258(%[e]), %w[a]\n\tsbb $0, %[b2]\n\t"
            "cmpw 260(%[e]), %w[a]\n\tsbb $0, %[b2]\n\t"
            "cmpw 128(%[e]), %w[a]\n\tsbb $0, %[b1]\n\t"
            "cmpw 130(%[e]), %w[a]\n\tsbb $0, %[b1]\n\t"
            "cmpw 132(%[e]), %w[a]\n\tsbb $0, %[b1]\n\t"
            "cmpw 134(%[e]), %w[a]\n\tsbb $0, %[b1]\n\t"
            "lea (%[half],%[b2],8), %[half]\n\t"
            "lea (%[half],%[b1],8), %[e]\n\t"
            "movslq (%[half],%[b1],8), %[dl]\n\t"
            : [a] "=&r"(a), [neg] "=&r"(negated), [nh] "=&r"(negativeHalf), [b1] "=&r"(below1), [b2] "=&r"(below2),
              [half] "+r"(half_), [e] "+r"(entry_), [dl] "+r"(delta_)
            : [t] "r"(t), [table] "m"(*rows_) // the table is read through the pointers
            : "cc");
        const auto* e = reinterpret_cast<const Entry*>(entry_);
        before_ = predictor_;
        predictor_ += delta_;
        if (static_cast<unsigned long>(predictor_ - kPredictorMin) > kPredictorMax - kPredictorMin) [[unlikely]] {
            predictor_ = limited(predictor_);
            before_ = predictor_;
            delta_ = 0;
        }
        half_ = table_ + e->next; // a plain addition: a three-part lea is slow on many x86 cores
        return e->code;
    }

private:
    // Out of line so that the compiler cannot turn it into a conditional move on the chain, and static so
    // that the encoder's address never escapes (its state would then live in memory instead of registers).
    [[gnu::noinline, gnu::cold]] static long limited(long predictor) {
        return std::clamp(predictor, long{kPredictorMin}, long{kPredictorMax});
    }

    const Table* rows_;
    const char* table_;
    const char* entry_; // entry of the last code: the current row's thresholds follow it
    const char* half_;  // code 7 of the current row
    long predictor_ = 0;
    long before_ = 0; // the predictor before the last change ...
    long delta_ = 0;  // ... and that change
};
using FileEncoder = FastEncoder;
#endif

// The encoder for whole files everywhere else; on x86-64 the reference the fast one is checked against.
struct PortableEncoder {
    Codec codec{AdpcmState{}};
    std::size_t encode(int sample) { return codec.encode(sample); }
};
#if !(defined(__x86_64__) && defined(__GNUC__))
using FileEncoder = PortableEncoder;
#endif

int deviceToWav(std::FILE* in, std::FILE* out, std::FILE* progressOut) {
    // The header carries the size, so the input must tell its length before the first sample is written.
    off_t start = ftello(in);
    if (start < 0 || fseeko(in, 0, SEEK_END) != 0)
        return kSoundBadStructure;
    off_t end = ftello(in);
    if (end < start || fseeko(in, start, SEEK_SET) != 0)
        return kSoundBadStructure;
    auto bytes = static_cast<std::uint64_t>(end - start);
    if (bytes > (0xFFFFFFFFull - 36) / 4)
        return kSoundBadStructure;
    auto dataSize = static_cast<std::uint32_t>(bytes * 4);

    unsigned char header[44];
    std::memcpy(header, "RIFF", 4);
    putLe32(header + 4, dataSize + 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, 16);
    putLe16(header + 20, 1);
    putLe16(header + 22, 1);
    putLe32(header + 24, kDeviceRate);
    putLe32(header + 28, kDeviceRate * 2);
    putLe16(header + 32, 2);
    putLe16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    putLe32(header + 40, dataSize);

    ByteWriter writer(out);
    for (unsigned char b : header)
        writer.put(b);

    Progress progress(progressOut, bytes);
    Codec codec{AdpcmState{}};
    std::vector<unsigned char> buffer(kIoBufferSize);
    std::uint64_t done = 0;
    while (done < bytes) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes - done));
        std::size_t got = std::fread(buffer.data(), 1, want, in);
        if (got == 0)
            return kSoundBadStructure; // shrank under us or a read error: the header would lie
        for (std::size_t i = 0; i < got; ++i) {
            writer.put16(codec.decode(buffer[i] >> 4));
            writer.put16(codec.decode(buffer[i] & 0x0F));
        }
        done += got;
        progress.update(done);
    }
    if (!writer.finish())
        return kSoundWriteFailed;
    progress.finish(bytes * 2 / kDeviceRate);
    return kSoundOk;
}

// Packs codes two to a byte, the first in the high nibble. An odd last code has no partner nibble; the unit's
// format holds whole bytes only, so it is dropped.
template <class Coder> class NibblePacker {
public:
    explicit NibblePacker(ByteWriter& writer) : writer_(writer) {}
    [[gnu::always_inline]] void emit(int sample) {
        auto code = static_cast<unsigned char>(codec_.encode(sample));
        if (held_ < 0) {
            held_ = code << 4;
        } else {
            writer_.put(static_cast<unsigned char>(held_ | code));
            held_ = -1;
        }
    }
    // Limited to the 16-bit range, then truncated toward zero.
    [[gnu::always_inline]] void emit(double sample) { emit(static_cast<int>(std::clamp(sample, -32768.0, 32767.0))); }
    // Emits sample(0) ... sample(count - 1) as whole bytes straight into the output buffer. The state is
    // worked on in local copies: kept in the object, it would go through memory, adding a store and a load to
    // every sample's chain.
    template <class Sample> void emitRun(std::size_t count, Sample sample) {
        Coder encoder = codec_;
        int held = held_;
        unsigned char* out = writer_.room(count / 2 + 1);
        std::size_t i = 0;
        if (held >= 0 && i < count) {
            *out++ = static_cast<unsigned char>(held | static_cast<int>(encoder.encode(sample(i++))));
            held = -1;
        }
        for (; i + 1 < count; i += 2) {
            auto high = encoder.encode(sample(i));
            auto low = encoder.encode(sample(i + 1));
            *out++ = static_cast<unsigned char>(high << 4 | low);
        }
        if (i < count)
            held = static_cast<int>(encoder.encode(sample(i))) << 4;
        writer_.commit(out);
        codec_ = encoder;
        held_ = held;
    }

private:
    ByteWriter& writer_;
    Coder codec_;
    int held_ = -1;
};

// Resamples, filters and encodes the frames; 0 or 203. Three loops for the three cases of the resampler: 8000
// Hz (every frame but the last is emitted as it is), below 8000 Hz (interpolation, no filter) and above
// (interpolation of filtered values).
template <class Coder, unsigned Bytes, unsigned Channels>
int encodeFrames(std::FILE* in, const WavFormat& format, const std::array<double, 8>* coef, ByteWriter& writer,
                 Progress& progress) {
    FrameReader<Bytes, Channels> reader(in, format.frames);
    NibblePacker<Coder> packer(writer);
    const std::uint64_t frames = format.frames;

    if (format.sampleRate == kDeviceRate) {
        // Each step emits the older frame as it is and then advances; the step that finds no frame left ends
        // the loop, so the newest frame is never emitted (of a single frame, that one is). Integers all the
        // way: the values are exact either way. Frames are taken a buffer at a time, as this loop is the
        // whole conversion of an 8000 Hz file.
        constexpr std::size_t kAlign = std::size_t{Bytes} * Channels;
        std::uint64_t done = 0;
        while (done < frames) {
            const unsigned char* p = nullptr;
            const std::size_t n = reader.take(p, frames - done);
            if (n == 0)
                return kSoundBadStructure;
            const bool last = done + n == frames;
            const std::size_t emit = last && frames > 1 ? n - 1 : n;
            auto sample = [p](std::size_t i) {
                return std::clamp(sampleOf<Bytes, Channels>(p + i * kAlign), -32768, 32767);
            };
            packer.emitRun(emit, sample);
            done += n;
            progress.update(done);
        }
        return kSoundOk;
    }

    double s0 = 0;
    double s1 = 0;
    if (!reader.next(s0))
        return kSoundBadStructure;
    std::uint64_t framesRead = 1;
    if (frames > 1) {
        if (!reader.next(s1))
            return kSoundBadStructure;
        framesRead = 2;
    } else {
        s1 = s0;
    }

    Resampler resampler(format.sampleRate);
    if (!coef) {
        for (;;) {
            while (resampler.outputDue()) {
                packer.emit(resampler.interpolate(s0, s1));
                resampler.emitted();
            }
            resampler.advanced();
            if (framesRead >= frames)
                return kSoundOk;
            s0 = s1;
            if (!reader.next(s1))
                return kSoundBadStructure;
            ++framesRead;
            progress.update(framesRead);
        }
    }

    // With the filter, s1 of every frame after the first two is the filter's value over the 16 newest raw
    // frames (the first two frames never enter the history, which starts as zeros). Most frames are passed
    // over without being emitted when the rate falls to 8000, so the filter runs only for the frames an
    // output sample is interpolated from; the arithmetic is the same as filtering every frame.
    constexpr std::size_t kHistory = 4096;
    std::vector<double> hist(kHistory, 0.0);
    std::size_t pos = 16; // newest raw value; the 17 slots up to it hold the windows of s1 and s0
    const double* c = coef->data();
    auto filtered = [c](const double* h) { // h points at the oldest of 16 values
        double sum = (h[0] + h[15]) * c[0];
        sum += (h[1] + h[14]) * c[1];
        sum += (h[2] + h[13]) * c[2];
        sum += (h[3] + h[12]) * c[3];
        sum += (h[4] + h[11]) * c[4];
        sum += (h[5] + h[10]) * c[5];
        sum += (h[6] + h[9]) * c[6];
        sum += (h[7] + h[8]) * c[7];
        return sum;
    };
    std::uint64_t valuesOf = 2; // framesRead for which s0 and s1 are current
    for (;;) {
        if (resampler.outputDue()) {
            if (valuesOf != framesRead) {
                s0 = valuesOf + 1 == framesRead ? s1 : filtered(&hist[pos - 16]);
                s1 = filtered(&hist[pos - 15]);
                valuesOf = framesRead;
            }
            do {
                packer.emit(resampler.interpolate(s0, s1));
                resampler.emitted();
            } while (resampler.outputDue());
        }
        resampler.advanced();
        if (framesRead >= frames)
            return kSoundOk;
        if (pos + 1 == kHistory) {
            std::copy(hist.end() - 17, hist.end(), hist.begin());
            pos = 16;
        }
        if (!reader.next(hist[++pos]))
            return kSoundBadStructure;
        ++framesRead;
        progress.update(framesRead);
    }
}

template <class Coder> int wavToDevice(std::FILE* in, std::FILE* out, std::FILE* progressOut) {
    WavFormat format;
    if (int r = readWavHeader(in, format); r != kSoundOk)
        return r;
    if (progressOut)
        std::fprintf(progressOut, "Sampling rate: %d\r\n", static_cast<int>(format.sampleRate));

    const std::array<double, 8>* coef = nullptr;
    if (format.sampleRate > kDeviceRate)
        for (const auto& band : kFilters)
            if (format.sampleRate <= band.upTo) {
                coef = &band.c;
                break;
            }

    Progress progress(progressOut, format.frames);
    ByteWriter writer(out);
    int r = kSoundBadStructure;
    bool eightBit = format.bitsPerSample <= 8;
    if (format.channels == 1)
        r = eightBit ? encodeFrames<Coder, 1, 1>(in, format, coef, writer, progress)
                     : encodeFrames<Coder, 2, 1>(in, format, coef, writer, progress);
    else
        r = eightBit ? encodeFrames<Coder, 1, 2>(in, format, coef, writer, progress)
                     : encodeFrames<Coder, 2, 2>(in, format, coef, writer, progress);
    if (r != kSoundOk)
        return r;
    if (!writer.finish())
        return kSoundWriteFailed;
    progress.finish(format.frames / format.sampleRate);
    return kSoundOk;
}

} // namespace

std::uint8_t encodeAdpcm(int sample, AdpcmState& state) {
    Codec codec(state);
    auto code = static_cast<std::uint8_t>(codec.encode(sample));
    state = codec.state();
    return code;
}

std::int16_t decodeAdpcm(std::uint8_t code, AdpcmState& state) {
    Codec codec(state);
    std::int16_t sample = codec.decode(code);
    state = codec.state();
    return sample;
}

int readWavHeader(std::FILE* f, WavFormat& format) {
    format = WavFormat{};
    unsigned char riff[12];
    if (!readExact(f, riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return kSoundNotRiffWave;

    bool haveFmt = false;
    for (;;) {
        unsigned char chunk[8];
        if (!readExact(f, chunk, 8))
            return kSoundBadStructure;
        std::uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            // Sound data ahead of its format cannot be read as anything.
            if (!haveFmt)
                return kSoundBadStructure;
            if (!layoutUsable(format) || format.sampleRate == 0)
                return kSoundBadStructure;
            format.frames = size / format.blockAlign;
            return format.frames >= 1 ? kSoundOk : kSoundBadStructure;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFmt) {
            unsigned char fmt[16];
            if (size < 16 || !readExact(f, fmt, 16))
                return kSoundBadStructure;
            format.formatTag = le16(fmt);
            format.channels = le16(fmt + 2);
            format.sampleRate = le32(fmt + 4);
            format.bytesPerSecond = le32(fmt + 8);
            format.blockAlign = le16(fmt + 12);
            format.bitsPerSample = le16(fmt + 14);
            if (format.formatTag != 1)
                return kSoundNotPcm;
            haveFmt = true;
            if (!skipBytes(f, size - 16))
                return kSoundBadStructure;
        } else if (!skipBytes(f, size)) {
            return kSoundBadStructure;
        }
        skipPad(f, size);
    }
}

int readWavFrame(std::FILE* f, const WavFormat& format, double& sample) {
    unsigned char frame[4];
    if (!layoutUsable(format) || !readExact(f, frame, format.blockAlign))
        return kSoundBadStructure;
    bool eightBit = format.bitsPerSample <= 8;
    if (format.channels == 2)
        sample = eightBit ? sampleOf<1, 2>(frame) : sampleOf<2, 2>(frame);
    else
        sample = eightBit ? sampleOf<1, 1>(frame) : sampleOf<2, 1>(frame);
    return kSoundOk;
}

int convertSound(std::FILE* input, std::FILE* output, bool toWav, std::FILE* progress) {
    if (!input || !output)
        return toWav ? kSoundBadStructure : kSoundNotRiffWave;
    return toWav ? deviceToWav(input, output, progress) : wavToDevice<FileEncoder>(input, output, progress);
}

bool encoderBuilt(Encoder encoder) {
#if defined(__x86_64__) && defined(__GNUC__)
    (void)encoder;
    return true;
#else
    return encoder == Encoder::Portable;
#endif
}

int convertWavToDevice(std::FILE* input, std::FILE* output, Encoder encoder, std::FILE* progress) {
    if (!input || !output || !encoderBuilt(encoder))
        return kSoundNotRiffWave;
#if defined(__x86_64__) && defined(__GNUC__)
    if (encoder == Encoder::X86_64)
        return wavToDevice<FastEncoder>(input, output, progress);
#endif
    return wavToDevice<PortableEncoder>(input, output, progress);
}

namespace {

const char* codeWords(int code) {
    switch (code) {
    case kSoundNotRiffWave:
        return "это не файл WAV (RIFF WAVE)";
    case kSoundNotPcm:
        return "звук в файле WAV не в формате PCM";
    default:
        return "файл повреждён или не является звуковым файлом";
    }
}

void setError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

} // namespace

int convertSoundFile(const std::string& inputPath, const std::string& outputPath, bool toWav, std::FILE* progress,
                     std::string* error) {
    // Opened without blocking and checked: a named pipe with no writer would hang the conversion for ever, and a
    // device or folder is no sound file.
    const int inFd = ::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (inFd < 0) {
        setError(error, "Невозможно открыть файл " + inputPath + ": " + atomic_file::reasonText(errno));
        return kSoundBadStructure;
    }
    struct stat st {};
    if (::fstat(inFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(inFd);
        setError(error, "Файл " + inputPath + ": " + atomic_file::reasonText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
        return kSoundBadStructure;
    }
    ::fcntl(inFd, F_SETFL, ::fcntl(inFd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* in = ::fdopen(inFd, "rb");
    if (!in) {
        ::close(inFd);
        setError(error, "Невозможно открыть файл " + inputPath + ": " + atomic_file::reasonText(errno));
        return kSoundBadStructure;
    }

    atomic_file::Writer writer;
    std::string why;
    if (!writer.open(outputPath, &why)) {
        std::fclose(in);
        setError(error, "Невозможно записать файл " + why);
        return kSoundWriteFailed;
    }
    // The stream writes through its own descriptor; the writer's stays open, and so its temporary locked.
    const int outFd = ::dup(writer.fd());
    std::FILE* out = outFd >= 0 ? ::fdopen(outFd, "wb") : nullptr;
    if (!out) {
        const int err = errno;
        if (outFd >= 0)
            ::close(outFd);
        std::fclose(in);
        setError(error, "Невозможно записать файл " + writer.target() + ": " + atomic_file::reasonText(err));
        return kSoundWriteFailed;
    }

    errno = 0;
    int result = convertSound(in, out, toWav, progress);
    int writeErr = result == kSoundWriteFailed ? errno : 0;
    std::fclose(in);
    if (std::fflush(out) != 0 && result == kSoundOk) {
        result = kSoundWriteFailed;
        writeErr = errno;
    }
    if (std::fclose(out) != 0 && result == kSoundOk) {
        result = kSoundWriteFailed;
        writeErr = errno;
    }
    if (result == kSoundOk) {
        if (!writer.commit(&why)) {
            setError(error, "Невозможно записать файл " + why);
            return kSoundWriteFailed;
        }
        return kSoundOk;
    }
    writer.discard();
    if (result == kSoundWriteFailed)
        setError(error, "Невозможно записать файл " + writer.target() + ": " +
                            atomic_file::reasonText(writeErr != 0 ? writeErr : EIO));
    else
        setError(error, "Файл " + inputPath + ": " + codeWords(result));
    return result;
}

} // namespace sound

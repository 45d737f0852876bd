#include "audio/decode.h"

#include "model/atomic_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audio {

namespace {

constexpr sf_count_t kChunkFrames = 8192;

void setError(std::string* error, const std::string& path, const std::string& reason) {
    if (error)
        *error = "Файл «" + path + "» не принят: " + reason;
}

// Closes the descriptor when libsndfile did not take it over.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

struct SndFile {
    SNDFILE* file = nullptr;
    ~SndFile() {
        if (file)
            sf_close(file);
    }
};

void putLe16(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void putLe32(std::string& s, std::uint32_t v) {
    putLe16(s, v & 0xFFFF);
    putLe16(s, v >> 16);
}

} // namespace

bool decodeFile(const std::string& path, Sound& out, std::string* error) {
    Fd fd;
    // Not blocking: a named pipe picked by mistake must not hang the open; it is refused below as not a file.
    fd.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd.fd < 0) {
        setError(error, path, atomic_file::reasonText(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd.fd, &st) != 0) {
        setError(error, path, atomic_file::reasonText(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        setError(error, path, "это папка, а не звуковой файл");
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, path, "это не обычный файл");
        return false;
    }
    if (st.st_size == 0) {
        setError(error, path, "файл пуст");
        return false;
    }
    ::fcntl(fd.fd, F_SETFL, ::fcntl(fd.fd, F_GETFL) & ~O_NONBLOCK);

    SF_INFO info{};
    SndFile snd;
    snd.file = sf_open_fd(fd.fd, SFM_READ, &info, SF_FALSE);
    if (!snd.file) {
        setError(error, path, std::string("формат не распознан или файл повреждён (") + sf_strerror(nullptr) + ")");
        return false;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        setError(error, path, "в заголовке нет каналов или частоты дискретизации");
        return false;
    }
    if (info.channels > kMaxChannels) {
        setError(error, path,
                 std::to_string(info.channels) + " каналов, а принимается не больше " + std::to_string(kMaxChannels));
        return false;
    }
    if (info.samplerate < kMinRate || info.samplerate > kMaxRate) {
        setError(error, path,
                 "частота дискретизации " + std::to_string(info.samplerate) + " Гц вне пределов " +
                     std::to_string(kMinRate) + "…" + std::to_string(kMaxRate) + " Гц");
        return false;
    }
    const auto limit = std::min<std::size_t>(kMaxSamples, static_cast<std::size_t>(kMaxSeconds) *
                                                              static_cast<std::size_t>(info.samplerate));
    const std::string tooLong = "звук длиннее " + std::to_string(limit / static_cast<std::size_t>(info.samplerate)) +
                                " с (" + std::to_string(kMaxSeconds / 60) +
                                " мин при частоте до 48000 Гц); столько сообщение не займёт";
    Sound sound;
    sound.rate = info.samplerate;
    // A header's frame count can lie (a declared 4 GB, an estimate for MP3): it is only a hint for the
    // reservation, never a size to allocate beyond the bound.
    if (info.frames > 0 && static_cast<std::uint64_t>(info.frames) <= limit)
        sound.samples.reserve(static_cast<std::size_t>(info.frames));

    const int channels = info.channels;
    std::vector<float> buffer(static_cast<std::size_t>(kChunkFrames) * static_cast<std::size_t>(channels));
    const float scale = 1.0f / static_cast<float>(channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(snd.file, buffer.data(), kChunkFrames);
        if (got <= 0)
            break;
        if (sound.samples.size() + static_cast<std::size_t>(got) > limit) {
            setError(error, path, tooLong);
            return false;
        }
        if (channels == 1) {
            sound.samples.insert(sound.samples.end(), buffer.begin(), buffer.begin() + got);
        } else {
            const float* p = buffer.data();
            for (sf_count_t i = 0; i < got; ++i, p += channels) {
                float sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += p[c];
                sound.samples.push_back(sum * scale);
            }
        }
    }
    if (const int e = sf_error(snd.file); e != SF_ERR_NO_ERROR) {
        setError(error, path, std::string("файл повреждён (") + sf_error_number(e) + ")");
        return false;
    }
    // A float file may carry values that are not numbers; they would poison every measurement after.
    for (float& v : sound.samples)
        if (!std::isfinite(v))
            v = 0.0f;
    if (sound.samples.empty()) {
        setError(error, path, "в файле нет звука");
        return false;
    }
    out = std::move(sound);
    return true;
}

std::string wav16Bytes(const Sound& sound) {
    const auto dataSize = static_cast<std::uint32_t>(sound.samples.size() * 2);
    std::string bytes;
    bytes.reserve(44 + dataSize);
    bytes += "RIFF";
    putLe32(bytes, 36 + dataSize);
    bytes += "WAVEfmt ";
    putLe32(bytes, 16);
    putLe16(bytes, 1);
    putLe16(bytes, 1);
    putLe32(bytes, static_cast<std::uint32_t>(sound.rate));
    putLe32(bytes, static_cast<std::uint32_t>(sound.rate) * 2);
    putLe16(bytes, 2);
    putLe16(bytes, 16);
    bytes += "data";
    putLe32(bytes, dataSize);
    const std::size_t at = bytes.size();
    bytes.resize(at + dataSize);
    char* p = bytes.data() + at;
    for (float v : sound.samples) {
        // Full scale is 32768 both ways, as libsndfile reads 16-bit files, so a 16-bit file passes unchanged.
        const long q = std::lrint(std::clamp(v * 32768.0f, -32768.0f, 32767.0f));
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(q));
        *p++ = static_cast<char>(u & 0xFF);
        *p++ = static_cast<char>(u >> 8);
    }
    return bytes;
}

bool writeWav16(const std::string& path, const Sound& sound, std::string* error) {
    atomic_file::Writer writer;
    return writer.open(path, error) && writer.write(wav16Bytes(sound), error) && writer.commit(error);
}

} // namespace audio

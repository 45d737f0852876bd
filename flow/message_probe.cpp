#include "flow/message_probe.h"

#include "flow/call_flow.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sys/stat.h>

namespace flow {
namespace {

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

} // namespace

void probeMessage(Message& m) {
    m.exists = m.readable = m.decodable = false;
    m.seconds = 0;
    m.problem.clear();
    if (!m.named())
        return;
    struct stat st {};
    if (::stat(m.path.c_str(), &st) != 0) {
        m.problem = "файла нет в папке сообщений";
        return;
    }
    m.exists = true;
    // A named pipe or a folder under the name would block or fail the upload: only a plain file will do.
    if (!S_ISREG(st.st_mode)) {
        m.problem = "это не обычный файл";
        return;
    }
    std::ifstream in(m.path, std::ios::binary);
    unsigned char riff[12];
    if (!in || !in.read(reinterpret_cast<char*>(riff), 12)) {
        m.problem = in ? "файл пуст или обрезан" : "файл не читается";
        return;
    }
    if (std::string(reinterpret_cast<char*>(riff), 4) != "RIFF" ||
        std::string(reinterpret_cast<char*>(riff) + 8, 4) != "WAVE") {
        m.problem = "это не файл WAV";
        return;
    }
    bool haveFormat = false;
    std::uint16_t tag = 0, channels = 0, bits = 0, blockAlign = 0;
    std::uint32_t rate = 0;
    // Walk the chunks; a chunk whose size runs past the file ends the walk (a broken file).
    for (int guard = 0; guard < 64; ++guard) {
        unsigned char head[8];
        if (!in.read(reinterpret_cast<char*>(head), 8))
            break;
        const std::string id(reinterpret_cast<char*>(head), 4);
        const std::uint32_t size = le32(head + 4);
        if (id == "fmt ") {
            unsigned char f[16];
            if (size < 16 || !in.read(reinterpret_cast<char*>(f), 16))
                break;
            tag = le16(f);
            channels = le16(f + 2);
            rate = le32(f + 4);
            blockAlign = le16(f + 12);
            bits = le16(f + 14);
            haveFormat = true;
            in.seekg(static_cast<std::streamoff>(size - 16 + (size & 1)), std::ios::cur);
        } else if (id == "data") {
            if (!haveFormat) {
                m.problem = "блок данных стоит раньше описания формата";
                return;
            }
            m.readable = true;
            if (tag != 1 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2) || rate == 0) {
                m.problem = "формат WAV не подходит: нужен PCM 8 или 16 бит, моно или стерео";
                return;
            }
            const std::uint32_t frameBytes = blockAlign ? blockAlign : channels * bits / 8u;
            // The declared size may run past a truncated file: count what is really there.
            const auto here = in.tellg();
            in.seekg(0, std::ios::end);
            const auto left = static_cast<unsigned long long>(in.tellg() - here);
            const unsigned long long bytes = std::min<unsigned long long>(size, left);
            if (bytes < frameBytes) {
                m.problem = "в файле нет звука";
                return;
            }
            m.decodable = true;
            m.seconds = static_cast<double>(bytes / frameBytes) / rate;
            return;
        } else {
            in.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur);
        }
    }
    m.problem = "файл WAV повреждён: нет блока данных";
}

unsigned long long unitBytesFor(double seconds) {
    return static_cast<unsigned long long>(std::ceil(seconds * 8000.0 * 4.0 / 8.0));
}

void measureLevels(CallFlow& flow, const LevelMeter& meter) {
    for (Menu& m : flow.menus) {
        Message& msg = m.message;
        msg.levelMeasured = m.exists && msg.decodable && meter(msg.path, msg.loudnessLufs, msg.truePeakDbtp);
    }
}

} // namespace flow

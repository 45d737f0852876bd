// Sound conversion in both directions from arbitrary bytes; the first byte picks the direction. A file that
// converts must convert on: the unit-format file made from a WAV converts to a WAV, and the WAV made from a
// unit-format file has a header the converter accepts.
#include "link/sound_conversion.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Converts bytes to bytes in memory; the result code of the conversion.
int convert(const std::string& input, bool toWav, std::string& output) {
    std::FILE* in =
        input.empty() ? std::fopen("/dev/null", "rb") : fmemopen(const_cast<char*>(input.data()), input.size(), "rb");
    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    if (!in || !out)
        std::abort();
    const int r = sound::convertSound(in, out, toWav, nullptr);
    std::fclose(in);
    std::fclose(out);
    output.assign(buffer, length);
    std::free(buffer);
    return r;
}

[[noreturn]] void fail(const char* what, int code) {
    std::fprintf(stderr, "sound: %s (%d)\n", what, code);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool toWav = data[0] & 1;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string output;
    const int r = convert(input, toWav, output);
    if (r != sound::kSoundOk || output.size() > (1u << 20))
        return 0;
    std::string back;
    if (toWav) {
        // The WAV just written must be one the converter reads.
        const int again = convert(output, false, back);
        if (again != sound::kSoundOk && !(input.empty() && again == sound::kSoundBadStructure))
            fail("a WAV the converter wrote does not convert back", again);
    } else {
        const int again = convert(output, true, back);
        if (again != sound::kSoundOk && !(output.empty() && again == sound::kSoundBadStructure))
            fail("a unit-format file the converter wrote does not convert", again);
    }
    return 0;
}

#include "audio/import.h"

#include "audio/decode.h"

namespace audio {

bool importFile(const std::string& input, const std::string& output, const ImportOptions& options, std::string* error) {
    Sound sound;
    if (!decodeFile(input, sound, error))
        return false;
    // Trimming first: the silence cut off has no say in the loudness anyway (R128 gates it out), but the
    // limiter then has less to walk over.
    if (options.trim)
        trimSilence(sound);
    if (options.normalize)
        normalizeLoudness(sound, options.targetLufs);
    return writeWav16(output, sound, error);
}

} // namespace audio

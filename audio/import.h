// Taking an audio file in as a menu's message: decode, optionally trim and normalise, store as 16-bit WAV.
#pragma once

#include "audio/loudness.h"

#include <string>

namespace audio {

struct ImportOptions {
    bool trim = false;
    bool normalize = false;
    double targetLufs = kDefaultTargetLufs;
};

// Reads `input` whole before anything is written, so importing a file onto itself is safe, and writes
// `output` through the crash-safe writer. On failure `output` is untouched and `error` names the file and the
// reason in Russian.
bool importFile(const std::string& input, const std::string& output, const ImportOptions& options,
                std::string* error = nullptr);

} // namespace audio

#include "app/sound_bridge.h"

#include "link/sound_conversion.h"

namespace zirezid {

int convertSoundForLink(const std::string& input, const std::string& output, bool toWav) {
    return sound::convertSoundFile(input, output, toWav, nullptr);
}

} // namespace zirezid

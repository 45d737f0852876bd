#include "app/sound_bridge.h"

#if ZIREZID_HAVE_LINK
#include "link/sound_conversion.h"
#endif

namespace zirezid {

int convertSoundForLink(const std::string& input, const std::string& output, bool toWav) {
#if ZIREZID_HAVE_LINK
    return sound::convertSoundFile(input, output, toWav, nullptr);
#else
    (void)input;
    (void)output;
    (void)toWav;
    return -1;
#endif
}

} // namespace zirezid

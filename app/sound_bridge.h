// The sound conversion the read/write dialog hands to its link. Kept apart from the dialog's Qt headers: the
// converter's header uses a member name that Qt reserves as a macro.
#pragma once

#include <string>

namespace zirezid {

int convertSoundForLink(const std::string& input, const std::string& output, bool toWav);

} // namespace zirezid

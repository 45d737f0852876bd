// Recognising the unit's answer to an object command in the receive accumulator.
#pragma once

#include <string>
#include <string_view>

namespace devlink {

struct Answer {
    bool complete = false;
    int code = 0;
    std::string payload;
};

// The status word ("OK", or "ERR" and a number) nearest before the first "#" decides; everything before it,
// trimmed of blanks and control characters, is the payload. Without "#", without a status word before it, or with
// "ERR" not followed by a number, the answer is not complete yet.
Answer parseAnswer(std::string_view text);

// Trims blanks and control characters (every byte up to 0x20) from both ends.
std::string_view trimControls(std::string_view text);

} // namespace devlink

#include "link/answer.h"

#include <charconv>
#include <climits>

namespace devlink {

std::string_view trimControls(std::string_view text) {
    auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

namespace {

// A decimal integer with optional leading blanks and sign, filling the whole text.
bool readDecimal(std::string_view text, int& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

Answer parseAnswer(std::string_view text) {
    Answer answer;
    const std::size_t prompt = text.find('#');
    if (prompt == std::string_view::npos)
        return answer;
    // Growing the tail leftwards from the prompt finds the status word nearest to it first.
    for (std::size_t i = prompt; i-- > 0;) {
        const std::string_view tail = text.substr(i, prompt - i);
        if (tail.find("OK") != std::string_view::npos) {
            answer.complete = true;
            answer.code = 0;
        } else if (tail.find("ERR") != std::string_view::npos) {
            const std::string_view word = trimControls(tail);
            int code = 0;
            if (word.size() < 3 || !readDecimal(word.substr(3), code))
                return answer;
            answer.complete = true;
            answer.code = code;
        } else {
            continue;
        }
        answer.payload = std::string(trimControls(text.substr(0, i)));
        return answer;
    }
    return answer;
}

} // namespace devlink

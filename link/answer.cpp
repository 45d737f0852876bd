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
    // The status word nearest to the prompt decides: the later of the last "OK" and the last "ERR" before it.
    // One look back for each keeps the parse linear in the text, however much arrived before the prompt.
    const std::string_view head = text.substr(0, prompt);
    const std::size_t ok = head.rfind("OK");
    const std::size_t err = head.rfind("ERR");
    std::size_t word = std::string_view::npos;
    if (ok != std::string_view::npos && (err == std::string_view::npos || ok > err)) {
        word = ok;
        answer.code = 0;
    } else if (err != std::string_view::npos) {
        word = err;
        const std::string_view status = trimControls(head.substr(err));
        int code = 0;
        if (status.size() < 3 || !readDecimal(status.substr(3), code))
            return answer;
        answer.code = code;
    } else {
        return answer;
    }
    answer.complete = true;
    answer.payload = std::string(trimControls(text.substr(0, word)));
    return answer;
}

} // namespace devlink

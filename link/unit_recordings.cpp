#include "link/unit_recordings.h"

namespace devlink {

std::optional<std::string> menuFileField(const std::string& deviceText) {
    std::size_t from = deviceText.find_first_not_of(' ');
    if (from == std::string::npos)
        return std::nullopt;
    if (deviceText[from] == '\'') {
        const std::size_t close = deviceText.find('\'', from + 1);
        if (close == std::string::npos)
            return std::nullopt;
        from = close + 1;
    }
    const std::size_t open = deviceText.find('{', from);
    if (open == std::string::npos)
        return std::nullopt;
    const std::size_t close = deviceText.find('}', open + 1);
    if (close == std::string::npos)
        return std::nullopt;
    return deviceText.substr(open + 1, close - open - 1);
}

std::optional<std::uint64_t> recordingBytes(const std::string& inBraces) {
    if (inBraces.empty())
        return 0;
    const std::size_t first = inBraces.find(':');
    const std::size_t last = inBraces.rfind(':');
    if (first == std::string::npos || first == last || last + 1 >= inBraces.size() || last + 21 < inBraces.size())
        return std::nullopt;
    std::uint64_t n = 0;
    for (std::size_t i = last + 1; i < inBraces.size(); ++i) {
        const char c = inBraces[i];
        if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10)
            return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

} // namespace devlink

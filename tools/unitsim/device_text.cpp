#include "tools/unitsim/device_text.h"

namespace unitsim {

DeviceTokens splitDeviceText(const std::string& text, std::size_t wanted) {
    DeviceTokens out;
    std::size_t pos = 0;
    while (out.values.size() < wanted) {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        if (pos >= text.size())
            return out;
        DeviceToken tok;
        if (text[pos] == '\'') {
            std::size_t close = text.find('\'', pos + 1);
            if (close == std::string::npos)
                return out;
            tok.text = text.substr(pos + 1, close - pos - 1);
            tok.quoted = true;
            pos = close + 1;
        } else {
            std::size_t blank = text.find(' ', pos);
            if (blank == std::string::npos) {
                out.values.push_back({text.substr(pos), false});
                return out; // the value may still be growing
            }
            tok.text = text.substr(pos, blank - pos);
            pos = blank;
        }
        out.values.push_back(std::move(tok));
    }
    out.complete = pos < text.size() && text[pos] == ' ';
    return out;
}

} // namespace unitsim

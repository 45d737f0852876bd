// Splitting the values of a seto text. Shared by the command reader, which must know when a command has all
// its values, and by the store, which checks them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace unitsim {

struct DeviceToken {
    std::string text;    // without the apostrophes of a quoted text
    bool quoted = false; // the value was a text in apostrophes
};

struct DeviceTokens {
    std::vector<DeviceToken> values; // at most the wanted count
    bool complete = false;           // all wanted values arrived, the last one closed by a blank
};

// Values are separated by blanks; a value that begins with an apostrophe runs to the next apostrophe and may
// hold blanks.
DeviceTokens splitDeviceText(const std::string& text, std::size_t wanted);

} // namespace unitsim

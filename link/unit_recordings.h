// What a unit's answers say about the recording a menu holds: its file field, in braces, "{}" without a
// recording and "{code:name:size}" with one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devlink {

// What stands between the braces of the file field in a menu's device text or in the answer to a
// get-parameter; nullopt when the text holds no file field. The menu's description (in apostrophes, before the
// file field) may itself hold braces and is passed over.
std::optional<std::string> menuFileField(const std::string& deviceText);

// The size of the recording a file field names: 0 for an empty field (no recording), the third part of
// "code:name:size"; nullopt when that is missing or not a plain number.
std::optional<std::uint64_t> recordingBytes(const std::string& inBraces);

} // namespace devlink

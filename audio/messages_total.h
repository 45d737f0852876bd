// What the menus' messages take on the unit, against the free memory the unit last reported: for the device
// box of the main window and the warning before a write that would not fit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class KT_TABLE;
class SettingsDatabase;

namespace audio {

struct MessagesTotal {
    int count = 0; // messages with a file that opens
    double seconds = 0;
    std::uint64_t unitBytes = 0; // in the unit's format: 4000 bytes a second
};

// Duration and unit size of one WAV (or any audio file) from its header, without decoding it. False when the
// file does not open as sound.
bool probeMessage(const std::string& path, double& seconds, std::uint64_t& unitBytes);

// The messages of the given menus (every menu of the database when `menus` is empty).
MessagesTotal totalOfMessages(SettingsDatabase& db, const std::vector<KT_TABLE*>& menus = {});

// The free memory of the last device information, or -1 when the unit never reported it.
std::int64_t lastFreeSpaceBytes(SettingsDatabase& db);

// The warning before a write whose messages need more than the unit has free, or empty when they fit or the
// free memory is unknown. The unit deletes a menu's old file before taking the new one, so this can warn for
// a write that would in the end fit; it says "may".
std::string writeFitWarning(const MessagesTotal& writing, std::int64_t freeBytes);

} // namespace audio

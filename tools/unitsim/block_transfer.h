// The unit's side of the block transfer: it receives a message file for " ul " and sends one for " dl ". Both
// return the number the unit puts into its closing answer (0 for "OK").
#pragma once

#include <cstdint>
#include <string>

#include "tools/unitsim/line.h"

namespace unitsim {

// Returned when the line went away in the middle: the unit then has nobody to answer.
constexpr int kLineClosed = -1;
// The announced file does not fit into the unit's free space.
constexpr int kNoSpace = 18;

struct ReceivedFile {
    std::string lineName; // the name of block 0 as it came, in the line's encoding
    std::uint64_t size = 0;
    bool any = false; // false for a batch without a file
};

// Writes the file to partPath; the caller renames it into place only on 0.
int receiveFile(Line& line, const std::string& partPath, std::uint64_t freeSpace, ReceivedFile& received);

int sendFile(Line& line, const std::string& path, const std::string& lineName);

} // namespace unitsim

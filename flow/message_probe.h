// Looks at a menu's recording without decoding it: does the file exist, is it a WAV the sound conversion
// takes, and how long does it play.
#pragma once

#include <string>

namespace flow {

struct Message;

// Fills exists, readable, decodable, seconds and problem of the message from the file at its path.
void probeMessage(Message& message);

// Bytes the unit needs for a message of that length: 8000 samples a second, 4 bits each.
unsigned long long unitBytesFor(double seconds);

} // namespace flow

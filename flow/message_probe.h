// Looks at a menu's recording without decoding it: does the file exist, is it a WAV the sound conversion
// takes, and how long does it play.
#pragma once

#include <functional>
#include <string>

namespace flow {

struct Message;
struct CallFlow;

// Fills exists, readable, decodable, seconds and problem of the message from the file at its path.
void probeMessage(Message& message);

// Bytes the unit needs for a message of that length: 8000 samples a second, 4 bits each.
unsigned long long unitBytesFor(double seconds);

// Measures a recording: false when it has no level (silence, or it does not decode). The sound layer gives
// it; the call flow itself does not decode audio.
using LevelMeter = std::function<bool(const std::string& path, double& loudnessLufs, double& truePeakDbtp)>;

// Measures the recording of every menu of the unit whose file the unit's conversion takes.
void measureLevels(CallFlow& flow, const LevelMeter& meter);

} // namespace flow

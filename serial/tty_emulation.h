// The teletype emulation: received bytes are shown as they come, Enter is sent as CR LF, everything else
// typed is sent as it is.
#pragma once

#include <cstdint>

#include "serial/terminal.h"

namespace serial {

class TVaTTYEmulation : public IVaTerminalEmulation {
public:
    // A device that ends its lines with CR LF may have the pair split between two blocks: an LF that opens a
    // block right after a block that ended with CR belongs to that CR and is dropped.
    void DataArrived(PVaData Data, int Count) override;
    void KeyDown(int) override {}
    void KeyPress(char Key) override;
    void KeyUp(int) override {}

    std::uint8_t LastChar() const { return FLastChar; }

private:
    std::uint8_t FLastChar = ' ';
};

} // namespace serial

// The model's host for fuzz targets: messages are counted, never shown, so a run is not slowed by output.
#pragma once

#include "model/host.h"

namespace fuzzing {

class QuietHost : public host::Host {
public:
    QuietHost() { host::install(this); }
    void showMessage(const std::string&, host::MessageIcon) override { ++messages; }
    void processEvents() override {}
    void applyShellState(host::ShellState) override {}
    long messages = 0;
};

} // namespace fuzzing

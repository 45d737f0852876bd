// The simulated unit's command reader fed with arbitrary bytes. Bit 0 of the first byte starts the unit logged
// in (so that most inputs reach the object commands); with bit 1 set, a 0xFF byte stands for half a second of
// quiet on the line instead of the letter it is. Answers go to /dev/null; a block transfer finds the line closed
// at once, the way a peer that vanished mid-command would leave it.
#include "tools/unitsim/line.h"
#include "tools/unitsim/unit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const std::string& stateRoot() {
    static std::string root = [] {
        char dir[] = "/dev/shm/fuzz_unitXXXXXX";
        if (!mkdtemp(dir))
            std::abort();
        return std::string(dir);
    }();
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const int sink = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (sink < 0)
        std::abort();
    // Every input meets a fresh unit, so a finding reproduces from its input alone.
    const std::string state = stateRoot() + "/state";
    std::error_code ec;
    std::filesystem::remove_all(state, ec);
    // Menu 500 holds a message, so the file commands have something to show, send and delete.
    std::filesystem::create_directories(state + "/messages/50001", ec);
    if (FILE* f = std::fopen((state + "/messages/50001/hello.ktm").c_str(), "wb")) {
        std::fputs("0123456789abcdef", f);
        std::fclose(f);
    }
    unitsim::UnitOptions options;
    options.type = (data[0] & 4) ? unitsim::UnitType::QOR11 : unitsim::UnitType::QOR22;
    options.stateDir = state;
    options.clock = "010124 1200 00";
    unitsim::Unit unit(options);
    unitsim::Line line(sink, unitsim::LineOptions{}, nullptr);

    auto feed = [&](std::uint8_t b) {
        unit.onByte(line, b);
        if (line.peerGone())
            line.resetAfterPeer();
    };
    if (data[0] & 1)
        for (char c : std::string(" quit\r7316\r"))
            feed(static_cast<std::uint8_t>(c));
    const bool quietMarks = data[0] & 2;
    for (std::size_t i = 1; i < size; ++i) {
        if (quietMarks && data[i] == 0xFF)
            unit.onQuiet(line);
        else
            feed(data[i]);
    }
    unit.onQuiet(line);
    return 0;
}

// What the window program says about itself on the command line, before any window exists (so that --help and
// --version work without a display).
#pragma once

#include <iosfwd>
#include <optional>

namespace zirezid {

// The program's version, set once in the build.
const char* programVersion();

// Handles --help and --version (and refuses unknown options): answers the exit status when the program should
// end at once, nothing when it should start its window.
std::optional<int> handleCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace zirezid

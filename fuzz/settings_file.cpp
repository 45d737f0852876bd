// Loading a settings file of arbitrary bytes. Whatever loads must save, and what was saved must load again and
// save to the same bytes: a file the program writes is one it can read.
#include "fuzz/quiet_host.h"
#include "model/atomic_file.h"
#include "model/unit_config.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string scratchFile() {
    static std::string path = [] {
        char dir[] = "/dev/shm/fuzz_settingsXXXXXX";
        if (!mkdtemp(dir))
            std::abort();
        return std::string(dir) + "/site.qor";
    }();
    return path;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "settings file: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzzing::QuietHost quiet;
    const std::string path = scratchFile();
    if (!atomic_file::writeAll(path, std::string_view(reinterpret_cast<const char*>(data), size)))
        fail("cannot write the scratch file");

    SettingsDatabase db;
    if (!db.loadBase(path))
        return 0;
    if (!db.saveBase(path))
        fail("a loaded database does not save");
    std::string first;
    if (!atomic_file::readAll(path, first))
        fail("saved file unreadable");

    SettingsDatabase again;
    if (!again.loadBase(path))
        fail("a saved file does not load");
    if (!again.saveBase(path))
        fail("a reloaded database does not save");
    std::string second;
    if (!atomic_file::readAll(path, second) || second != first)
        fail("saving what was loaded from a saved file changes it");
    return 0;
}

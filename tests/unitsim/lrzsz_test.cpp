// lrzsz's sz and rz as independent peers of the unit's block transfer: a YMODEM sender and receiver written
// by others agree with the unit on blocks, CRC and the end of the batch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/support/unitsim_process.h"
#include "tests/unitsim/block_peer.h"

using namespace unitsim_test;
namespace fs = std::filesystem;

namespace {

bool have(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the tool on the line (standard input and output both the slave), in the given folder.
int onLine(const std::string& tool, const std::string& slave, const fs::path& dir) {
    std::string cmd =
        "cd '" + dir.string() + "' && timeout 60 " + tool + " <'" + slave + "' >'" + slave + "' 2>/dev/null";
    return std::system(cmd.c_str());
}

} // namespace

TEST(UnitsimWithLrzsz, SzUploadsAndRzDownloads) {
    if (!have("sz") || !have("rz"))
        GTEST_SKIP() << "lrzsz is not installed";
    TempDir work;
    RunningUnit unit({"--log", (work.path() / "line.log").string()});
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.login());
    const std::string data = pattern(5000, 4);
    std::ofstream(work.path() / "greeting.ktm", std::ios::binary) << data;

    ASSERT_TRUE(peer.send(" ul 50001 "));
    ASSERT_EQ(onLine("sz --ymodem -k greeting.ktm", unit.slavePath, work.path()), 0);
    // sz may have read the closing answer itself; the menu's file field tells the outcome.
    peer.collect(300ms);
    ASSERT_TRUE(peer.send(" getp 50001 "));
    EXPECT_TRUE(peer.expect("{50001:greeting.ktm:5000} OK"));
    EXPECT_TRUE(slurp(unit.state.path() / "messages" / "50001" / "greeting.ktm") == data);

    fs::create_directories(work.path() / "in");
    ASSERT_TRUE(peer.send(" dl 50001 "));
    ASSERT_TRUE(peer.expect("START"));
    ASSERT_EQ(onLine("rz --ymodem -y", unit.slavePath, work.path() / "in"), 0);
    EXPECT_TRUE(slurp(work.path() / "in" / "greeting.ktm") == data);
    peer.collect(300ms);
    EXPECT_TRUE(peer.command(" geto 0 "));
    if (HasFailure())
        std::cerr << "transcript:\n" << slurp(work.path() / "line.log").substr(0, 20000);
}

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/unitsim_process.h"
#include "tests/unitsim/block_peer.h"

using namespace unitsim_test;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(UnitsimFaults, CorruptedAndDroppedBytesInsideTransfersAreRepairedByRetries) {
    // Upload: the unit hears damaged blocks and refuses them; the file still arrives whole.
    {
        RunningUnit unit({"--corrupt", "0.0005", "--drop", "0.0002", "--fault-dir", "in", "--fault-scope", "transfer",
                          "--seed", "7"});
        PtyPeer peer(unit.slavePath);
        ASSERT_TRUE(peer.login());
        const std::string data = pattern(40000);
        ASSERT_TRUE(peer.send(" ul 50001 "));
        ASSERT_TRUE(sendBatch(peer, "noisy.ktm", data));
        EXPECT_NE(peer.expect("#", 15000ms).value_or("").find("OK"), std::string::npos);
        EXPECT_TRUE(slurp(unit.state.path() / "messages" / "50001" / "noisy.ktm") == data);
    }
    // Download: the host hears damaged blocks, refuses them, and the unit sends them again.
    RunningUnit unit({"--corrupt", "0.0005", "--fault-dir", "out", "--fault-scope", "transfer", "--seed", "11"});
    fs::create_directories(unit.state.path() / "messages" / "50101");
    const std::string data = pattern(40000, 3);
    std::ofstream(unit.state.path() / "messages" / "50101" / "m.ktm", std::ios::binary) << data;
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.login());
    ASSERT_TRUE(peer.send(" dl 50101 "));
    ASSERT_TRUE(peer.expect("START"));
    ReceivedBatch got = receiveBatch(peer);
    ASSERT_TRUE(got.complete);
    EXPECT_GT(got.naks, 0); // the seed gives damage; a change of the fault choice shows here
    EXPECT_TRUE(got.data == data);
}

TEST(UnitsimFaults, TheSameSeedDamagesTheSameBytes) {
    auto run = [](const std::string& seed) {
        RunningUnit unit({"--corrupt", "0.05", "--fault-dir", "out", "--seed", seed});
        PtyPeer peer(unit.slavePath);
        peer.send(" quit\r");
        std::string got = peer.collect(500ms);
        for (int i = 0; i < 5; ++i) {
            peer.send(" quit\r");
            got += peer.collect(200ms);
        }
        return got;
    };
    std::string a = run("5"), b = run("5"), c = run("6");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(UnitsimFaults, UnitDropsTheLineMidTransferAndComesBackOnANewOne) {
    TempDir dir;
    fs::path link = dir.path() / "port";
    RunningUnit unit({"--hangup-after", "3000", "--link", link.string()});
    EXPECT_EQ(fs::read_symlink(link).string(), unit.slavePath);
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.login());
    ASSERT_TRUE(peer.send(" ul 50001 "));
    EXPECT_FALSE(sendBatch(peer, "cut.ktm", pattern(10000)));
    auto next = unit.process.readLine();
    ASSERT_TRUE(next);
    EXPECT_NE(*next, unit.slavePath);
    EXPECT_EQ(fs::read_symlink(link).string(), *next);
    // The old line is dead for the host.
    peer.collect(200ms);
    EXPECT_TRUE(peer.dead());

    PtyPeer again(link.string());
    ASSERT_TRUE(again.login());
    EXPECT_NE(again.command(" getp 50001 ").value_or("").find("{} OK"), std::string::npos);
}

TEST(UnitsimFaults, ThrottledLineStillCarriesEverything) {
    RunningUnit unit({"--baud", "38400"});
    PtyPeer peer(unit.slavePath);
    ASSERT_TRUE(peer.login());
    EXPECT_NE(peer.command(" geto 0 ").value_or("").find("7316 0 12 12 0 1 2000 500 200 1 OK"), std::string::npos);
    const std::string data = pattern(1025);
    ASSERT_TRUE(peer.send(" ul 50001 "));
    ASSERT_TRUE(sendBatch(peer, "slow.ktm", data));
    EXPECT_NE(peer.expect("#", 15000ms).value_or("").find("OK"), std::string::npos);
    EXPECT_TRUE(slurp(unit.state.path() / "messages" / "50001" / "slow.ktm") == data);
}

TEST(UnitsimProcessLife, LinkOnceLogAndReconnect) {
    TempDir dir;
    fs::path link = dir.path() / "com1";
    fs::path log = dir.path() / "line.log";
    {
        RunningUnit unit({"--link", link.string(), "--log", log.string()});
        {
            PtyPeer first(link.string());
            ASSERT_TRUE(first.login());
        }
        ASSERT_TRUE(waitForText(log, "peer hung up"));
        PtyPeer second(link.string());
        ASSERT_TRUE(second.login());
        EXPECT_TRUE(second.command(" geto 0 "));
        second.closeLine();
        EXPECT_EQ(unit.process.stop(), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
    std::string transcript = slurp(log);
    EXPECT_NE(transcript.find("<host 20 67 65 74 6f 20 30 20"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("| geto 0 |"), std::string::npos);
    EXPECT_NE(transcript.find("unit> 0d 0a 50 61 73 73 77 6f 72 64 3a"), std::string::npos);

    RunningUnit once({"--once"});
    {
        PtyPeer peer(once.slavePath);
        ASSERT_TRUE(peer.login());
    }
    EXPECT_EQ(once.process.waitFor(10000ms), 0);
}

TEST(UnitsimProcessLife, HelpNamesEveryOptionAndBadOptionsAreRefused) {
    UnitsimProcess help({"--help"});
    std::string text;
    while (auto line = help.readLine(5000ms))
        text += *line + "\n";
    for (const char* opt :
         {"--type", "--state", "--link", "--once", "--log", "--baud", "--busy", "--mute", "--delay-ms", "--drop",
          "--corrupt", "--fault-dir", "--fault-scope", "--seed", "--hangup-after", "--capacity", "--clock"}) {
        EXPECT_NE(text.find(opt), std::string::npos) << opt;
    }
    EXPECT_EQ(help.waitFor(5000ms), 0);
    UnitsimProcess bad({"--drop", "2"});
    EXPECT_EQ(bad.waitFor(5000ms), 2);
    TempDir state;
    UnitsimProcess longVersion({"--state", state.str(), "--soft-ver", "123456789"});
    EXPECT_EQ(longVersion.waitFor(5000ms), 2);
    UnitsimProcess unknown({"--frobnicate"});
    EXPECT_EQ(unknown.waitFor(5000ms), 2);
}

TEST(UnitsimFaults, SeededGarbageMixedWithCommandsNeverStopsTheUnit) {
    RunningUnit unit;
    fs::create_directories(unit.state.path() / "messages" / "50001");
    std::ofstream(unit.state.path() / "messages" / "50001" / "a.ktm", std::ios::binary) << pattern(3000);
    PtyPeer peer(unit.slavePath);
    const std::vector<std::string> pieces{" quit\r",
                                          "7316\r",
                                          " geto 0 ",
                                          " seto 500 '",
                                          " ul 50001 ",
                                          " dl 50001 ",
                                          " getp 50001 ",
                                          std::string(2, CAN),
                                          "C",
                                          std::string(1, ACK),
                                          std::string(1, NAK),
                                          std::string(1, EOT),
                                          header("z.ktm", 10)};
    std::mt19937 random(12345);
    for (int round = 0; round < 60; ++round) {
        std::string chunk;
        if (random() % 2) {
            chunk = pieces[random() % pieces.size()];
        } else {
            chunk.resize(random() % 200);
            for (auto& c : chunk)
                c = static_cast<char>(random());
        }
        ASSERT_TRUE(peer.send(chunk));
        peer.collect(30ms);
    }
    // Whatever state it is in, a cancel and a quit bring the unit back to its prompt.
    bool in = false;
    for (int tries = 0; tries < 5 && !in; ++tries) {
        peer.send(std::string(2, CAN));
        peer.collect(500ms);
        in = peer.login("7316", 3000ms);
    }
    ASSERT_TRUE(in);
    EXPECT_NE(peer.command(" geto 0 ").value_or("").find("OK"), std::string::npos);
    EXPECT_EQ(unit.process.waitFor(0ms), -2); // still running
}

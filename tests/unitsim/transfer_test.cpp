#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/unitsim_process.h"
#include "tests/unitsim/block_peer.h"

using namespace unitsim_test;
namespace fs = std::filesystem;

namespace {

struct Session {
    explicit Session(std::vector<std::string> extra = {}) : unit(std::move(extra)), peer(unit.slavePath) {
        if (!peer.login())
            throw std::runtime_error("login failed");
    }
    fs::path messages() const { return unit.state.path() / "messages"; }
    RunningUnit unit;
    PtyPeer peer;
};

std::string closingAnswer(PtyPeer& peer, Ms timeout = 15000ms) { return peer.expect("#", timeout).value_or("none"); }

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::uint64_t freeSpace(PtyPeer& peer) {
    std::string info = peer.command(" geto 90 ").value_or("");
    std::istringstream in(info);
    std::string tok;
    for (int i = 0; i < 6; ++i)
        in >> tok;
    return std::stoull(tok);
}

// Nothing but the finished message may be in the messages folder of a menu, and no half file anywhere.
std::vector<std::string> filesUnder(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file())
            out.push_back(fs::relative(e.path(), dir).string());
    }
    return out;
}

} // namespace

class UnitsimTransferSizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(UnitsimTransferSizes, UploadIsStoredAndDownloadGivesItBack) {
    const std::size_t size = GetParam();
    Session s;
    const std::string data = pattern(size, static_cast<unsigned>(size));
    std::uint64_t freeBefore = freeSpace(s.peer);

    ASSERT_TRUE(s.peer.send(" ul 50001 "));
    ASSERT_TRUE(sendBatch(s.peer, "hello.ktm", data));
    EXPECT_NE(closingAnswer(s.peer).find("OK"), std::string::npos);
    EXPECT_EQ(slurp(s.messages() / "50001" / "hello.ktm"), data);
    EXPECT_EQ(filesUnder(s.messages()), std::vector<std::string>{"50001/hello.ktm"});
    EXPECT_EQ(freeSpace(s.peer), freeBefore - size);
    std::string field = "{50001:hello.ktm:" + std::to_string(size) + "}";
    EXPECT_NE(s.peer.command(" getp 50001 ").value_or("").find(field + " OK"), std::string::npos);
    EXPECT_NE(s.peer.command(" geto 500 ").value_or("").find("'' " + field + " 0 0 "), std::string::npos);
    // A second upload to a menu that holds a file is refused before any block moves.
    EXPECT_NE(s.peer.command(" ul 50001 ").value_or("").find("ERR 15"), std::string::npos);

    ASSERT_TRUE(s.peer.send(" dl 50001 "));
    ASSERT_TRUE(s.peer.expect("START"));
    ReceivedBatch got = receiveBatch(s.peer);
    ASSERT_TRUE(got.complete);
    EXPECT_EQ(got.name, "hello.ktm");
    EXPECT_EQ(got.size, size);
    EXPECT_TRUE(got.data == data);
    ASSERT_EQ(got.blockNumbers.size(), (size + 1023) / 1024);
    for (std::size_t i = 0; i < got.blockNumbers.size(); ++i)
        EXPECT_EQ(got.blockNumbers[i], static_cast<int>((i + 1) % 256));
    EXPECT_EQ(got.naks, 0);
    EXPECT_NE(closingAnswer(s.peer).find("OK"), std::string::npos);

    EXPECT_NE(s.peer.command(" del 50001 ").value_or("").find("OK"), std::string::npos);
    EXPECT_NE(s.peer.command(" getp 50001 ").value_or("").find("{} OK"), std::string::npos);
    EXPECT_EQ(freeSpace(s.peer), freeBefore);
    ASSERT_TRUE(s.peer.send(" dl 50001 "));
    EXPECT_TRUE(s.peer.expect("-"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, UnitsimTransferSizes, ::testing::Values(0u, 1024u, 1025u, 300000u));

TEST(UnitsimUpload, TheConfiguratorsWayOfSendingIsUnderstood) {
    // Its sender does not wait for the "C" after block 0: for an empty file the unit's "C" then meets its
    // EOT.
    Session s;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2048}}) {
        const std::string code = "50" + std::to_string(size % 10) + "01";
        const std::string data = pattern(size, 9);
        ASSERT_TRUE(s.peer.send(" ul " + code + " "));
        ASSERT_TRUE(sendBatchLikeTheLink(s.peer, "l.ktm", data)) << size;
        EXPECT_NE(closingAnswer(s.peer).find("OK"), std::string::npos) << size;
        EXPECT_TRUE(slurp(s.messages() / code / "l.ktm") == data) << size;
        EXPECT_NE(s.peer.command(" geto 0 ").value_or("").find("7316 0 12"), std::string::npos) << size;
    }
}

TEST(UnitsimUpload, BadBlocksAreRefusedAndRepeatedBlocksAcknowledged) {
    Session s;
    const std::string data = pattern(3000);
    ASSERT_TRUE(s.peer.send(" ul 50201 "));
    ASSERT_EQ(reply(s.peer), 'C');
    ASSERT_EQ(sendUntilAck(s.peer, header("x.ktm", data.size())), ACK);
    ASSERT_EQ(reply(s.peer), 'C');
    std::string good1 = makeBlock(1, data.substr(0, 1024), true);
    std::string badCrc = good1;
    badCrc[500] ^= 0x40;
    s.peer.send(badCrc);
    EXPECT_EQ(reply(s.peer), NAK);
    std::string badComplement = good1;
    badComplement[2] = 0;
    s.peer.send(badComplement);
    EXPECT_EQ(reply(s.peer), NAK);
    s.peer.send(good1);
    EXPECT_EQ(reply(s.peer), ACK);
    s.peer.send(good1); // as if our ACK had been lost
    EXPECT_EQ(reply(s.peer), ACK);
    EXPECT_EQ(sendUntilAck(s.peer, makeBlock(2, data.substr(1024, 1024), true)), ACK);
    EXPECT_EQ(sendUntilAck(s.peer, makeBlock(3, data.substr(2048), true)), ACK);
    s.peer.send(std::string(1, EOT));
    EXPECT_EQ(reply(s.peer), ACK);
    EXPECT_EQ(reply(s.peer), 'C');
    EXPECT_EQ(sendUntilAck(s.peer, makeBlock(0, {}, false)), ACK);
    EXPECT_NE(closingAnswer(s.peer).find("OK"), std::string::npos);
    EXPECT_EQ(slurp(s.messages() / "50201" / "x.ktm"), data);
}

TEST(UnitsimUpload, FailedTransfersEndWithTheirNumberAndKeepNoFile) {
    Session s;
    const std::string data = pattern(5000);
    auto start = [&](const std::string& code) {
        EXPECT_TRUE(s.peer.send(" ul " + code + " "));
        EXPECT_EQ(reply(s.peer), 'C');
        EXPECT_EQ(sendUntilAck(s.peer, header("f.ktm", data.size())), ACK);
        EXPECT_EQ(reply(s.peer), 'C');
        EXPECT_EQ(sendUntilAck(s.peer, makeBlock(1, data.substr(0, 1024), true)), ACK);
    };
    // The host cancels: 17.
    start("50001");
    s.peer.send(std::string(2, CAN));
    EXPECT_NE(closingAnswer(s.peer).find("ERR 17"), std::string::npos);

    // Ten CRC failures of one block: 12, and the unit cancels.
    start("50001");
    std::string bad = makeBlock(2, data.substr(1024, 1024), true);
    bad[100] ^= 1;
    for (int i = 0; i < 10; ++i) {
        s.peer.send(bad);
        char r = reply(s.peer);
        if (r == CAN)
            break;
        EXPECT_EQ(r, NAK);
    }
    EXPECT_NE(closingAnswer(s.peer).find("ERR 12"), std::string::npos);

    // A block out of sequence cannot be repaired: 13.
    start("50001");
    s.peer.send(makeBlock(5, data.substr(1024, 1024), true));
    EXPECT_EQ(reply(s.peer), CAN);
    EXPECT_NE(closingAnswer(s.peer).find("ERR 13"), std::string::npos);

    // EOT before the announced size: 13 as well.
    start("50001");
    s.peer.send(std::string(1, EOT));
    EXPECT_EQ(reply(s.peer), ACK);
    EXPECT_EQ(reply(s.peer), 'C');
    EXPECT_EQ(sendUntilAck(s.peer, makeBlock(0, {}, false)), ACK);
    EXPECT_NE(closingAnswer(s.peer).find("ERR 13"), std::string::npos);

    EXPECT_TRUE(filesUnder(s.messages()).empty());
    EXPECT_NE(s.peer.command(" getp 50001 ").value_or("").find("{} OK"), std::string::npos);
}

TEST(UnitsimUpload, AFileBiggerThanTheFreeSpaceIsRefused) {
    Session s({"--capacity", "2000"});
    ASSERT_TRUE(s.peer.send(" ul 50001 "));
    ASSERT_EQ(reply(s.peer), 'C');
    s.peer.send(header("big.ktm", 2001));
    EXPECT_EQ(reply(s.peer), CAN);
    EXPECT_NE(closingAnswer(s.peer).find("ERR 18"), std::string::npos);
    EXPECT_TRUE(filesUnder(s.messages()).empty());
}

TEST(UnitsimUpload, APeerThatVanishesMidTransferLeavesNoFile) {
    TempDir logDir;
    fs::path log = logDir.path() / "line.log";
    Session s({"--log", log.string()});
    const std::string data = pattern(4000);
    ASSERT_TRUE(s.peer.send(" ul 50001 "));
    ASSERT_EQ(reply(s.peer), 'C');
    ASSERT_EQ(sendUntilAck(s.peer, header("gone.ktm", data.size())), ACK);
    ASSERT_EQ(reply(s.peer), 'C');
    ASSERT_EQ(sendUntilAck(s.peer, makeBlock(1, data.substr(0, 1024), true)), ACK);
    s.peer.send(makeBlock(2, data.substr(1024, 1024), true).substr(0, 300));
    s.peer.closeLine();
    ASSERT_TRUE(waitForText(log, "peer hung up"));

    PtyPeer next(s.unit.slavePath);
    ASSERT_TRUE(next.login());
    EXPECT_NE(next.command(" getp 50001 ").value_or("").find("{} OK"), std::string::npos);
    EXPECT_TRUE(filesUnder(s.messages()).empty());
}

TEST(UnitsimDownload, RefusedBlocksAreSentAgainAndACancelEndsWith17) {
    Session s;
    fs::create_directories(s.messages() / "50301");
    const std::string data = pattern(2500);
    std::ofstream(s.messages() / "50301" / "prepared.ktm", std::ios::binary) << data;

    ASSERT_TRUE(s.peer.send(" dl 50301 "));
    ASSERT_TRUE(s.peer.expect("START"));
    s.peer.send("C");
    auto b0 = readBlock(s.peer);
    ASSERT_TRUE(b0);
    EXPECT_EQ(b0->data.substr(0, 18), std::string("prepared.ktm\0"
                                                  "2500\0",
                                                  18));
    s.peer.send(std::string(1, NAK));
    auto again = readBlock(s.peer);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->data, b0->data);
    s.peer.send(std::string(1, ACK) + "C");
    auto b1 = readBlock(s.peer);
    ASSERT_TRUE(b1);
    EXPECT_EQ(b1->start, STX);
    EXPECT_EQ(b1->number, 1);
    s.peer.send(std::string(1, NAK));
    auto b1again = readBlock(s.peer);
    ASSERT_TRUE(b1again);
    EXPECT_EQ(b1again->number, 1);
    EXPECT_EQ(b1again->data, data.substr(0, 1024));
    s.peer.send(std::string(2, CAN));
    EXPECT_NE(closingAnswer(s.peer).find("ERR 17"), std::string::npos);
    // The unit's file is untouched by a failed download.
    EXPECT_EQ(slurp(s.messages() / "50301" / "prepared.ktm"), data);
}

// rz empties its input right after asking for the data; when the machine keeps it from doing so for longer
// than the unit's pause, the first data block is thrown away and rz asks again with "C". The unit sends the
// block again at once rather than waiting out its verdict time and failing the download.
TEST(UnitsimDownload, AReceiverThatLostTheFirstBlockGetsItAgainOnItsC) {
    Session s;
    fs::create_directories(s.messages() / "50301");
    const std::string data = pattern(1500, 3);
    std::ofstream(s.messages() / "50301" / "prepared.ktm", std::ios::binary) << data;

    ASSERT_TRUE(s.peer.send(" dl 50301 "));
    ASSERT_TRUE(s.peer.expect("START"));
    s.peer.send("C");
    auto b0 = readBlock(s.peer);
    ASSERT_TRUE(b0);
    s.peer.send(std::string(1, ACK) + "C");
    auto lost = readBlock(s.peer);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->number, 1);
    std::this_thread::sleep_for(300ms);
    s.peer.send("C");
    auto again = readBlock(s.peer);
    ASSERT_TRUE(again) << "the first block again on the receiver's second C";
    EXPECT_EQ(again->number, 1);
    EXPECT_EQ(again->data, data.substr(0, 1024));
    s.peer.send(std::string(1, ACK));
    auto b2 = readBlock(s.peer);
    ASSERT_TRUE(b2);
    EXPECT_EQ(b2->number, 2);
    EXPECT_EQ(b2->data.substr(0, 476), data.substr(1024));
    // A "C" later in the file is no request for a block: the unit goes on waiting for the verdict.
    s.peer.send("C");
    s.peer.send(std::string(1, ACK));
    auto eot = readBlock(s.peer);
    ASSERT_TRUE(eot);
    EXPECT_EQ(eot->start, EOT);
    s.peer.send(std::string(1, ACK) + "C");
    auto closing = readBlock(s.peer);
    ASSERT_TRUE(closing);
    EXPECT_EQ(closing->number, 0);
    s.peer.send(std::string(1, ACK));
    EXPECT_NE(closingAnswer(s.peer).find("OK"), std::string::npos);
}

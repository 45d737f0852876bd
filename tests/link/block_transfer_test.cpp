// The block transfer against a unit played by the test on the other end of a pseudo-terminal.
#include "link_fixture.h"

#include "link/crc16.h"

#include <fstream>

using namespace devlink;

namespace {

std::string pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

std::string header(const std::string& name, const std::string& size) {
    std::string h = name;
    h += '\0';
    h += size;
    return h;
}

// What the unit received from sendFile.
struct Received {
    std::string name, size, data;
    std::vector<int> numbers;
    int naksSent = 0;
    bool complete = false;
};

// Reads one block (after its first byte) from the link; false on a short or broken block.
bool readBlock(Peer& p, int first, std::string& data, int& number) {
    const std::size_t size = first == STX ? 1024 : 128;
    const std::string rest = p.readCount(2 + size + 2);
    if (rest.size() != 2 + size + 2)
        return false;
    number = static_cast<unsigned char>(rest[0]);
    std::uint16_t reg = 0;
    for (std::size_t i = 2; i < rest.size(); ++i)
        reg = crc16Step(reg, static_cast<std::uint8_t>(rest[i]));
    data = rest.substr(2, size);
    return reg == 0 && (static_cast<unsigned char>(rest[1]) ^ 0xFF) == number;
}

// The unit receiving a batch. nakBlock: the data block (1-based) to refuse nakCount times; cancelAt: the data
// block answered with CAN.
// The link's sendFile starts at once: the "C" that started the batch was taken by the command layer.
void receiveBatch(Peer& p, Received& r, int nakBlock = -1, int nakCount = 0, int cancelAt = -1) {
    int first = p.readByte();
    std::string data;
    int number = 0;
    if ((first != SOH && first != STX) || !readBlock(p, first, data, number))
        return;
    const std::size_t nul = data.find('\0');
    r.name = data.substr(0, nul);
    r.size = data.substr(nul + 1, data.find('\0', nul + 1) - nul - 1);
    p.writeByte(ACK);
    p.writeByte(CRC_REQUEST);
    int index = 1;
    for (;;) {
        first = p.readByte();
        if (first == EOT) {
            p.writeByte(ACK);
            p.writeByte(CRC_REQUEST);
            first = p.readByte();
            if (first == SOH && readBlock(p, first, data, number) && data == std::string(128, '\0')) {
                p.writeByte(ACK);
                r.complete = true;
            }
            return;
        }
        if (first != STX && first != SOH)
            return;
        if (!readBlock(p, first, data, number))
            return;
        if (index == cancelAt) {
            p.writeByte(CAN);
            return;
        }
        if (index == nakBlock && r.naksSent < nakCount) {
            ++r.naksSent;
            p.writeByte(NAK);
            continue;
        }
        r.numbers.push_back(number);
        r.data += data;
        ++index;
        p.writeByte(ACK);
    }
}

} // namespace

class BlockTransfer : public LinkTest {
protected:
    std::string writeLocal(const std::string& name, const std::string& content) {
        const std::string path = tempDir + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The unit announces a file of `size` bytes, sends its first block and then cancels.
    void unitCancelsAfterTheFirstBlock(const std::string& name, std::size_t size) {
        runPeer([name, size](Peer& p) {
            p.readUntil("C");
            p.write(block(0, header(name, std::to_string(size)), false));
            p.readByte();
            p.readUntil("C");
            p.write(block(1, pattern(size).substr(0, 1024), true));
            p.readByte();
            p.writeByte(CAN);
            p.readCount(2, 2000);
        });
    }
};

TEST_F(BlockTransfer, SendFileOfZeroOneBlockAndOneBlockMore) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1024}, std::size_t{1025}}) {
        SCOPED_TRACE(size);
        const std::string content = pattern(size);
        const std::string file = writeLocal("m" + std::to_string(size) + ".ktm", content);
        Received r;
        runPeer([&](Peer& p) { receiveBatch(p, r); });
        EXPECT_EQ(link->sendFile(file), rcOk);
        joinPeer();
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.name, "m" + std::to_string(size) + ".ktm");
        EXPECT_EQ(r.size, std::to_string(size));
        EXPECT_EQ(r.numbers.size(), (size + 1023) / 1024);
        // The last block is zero-padded; the announced size tells the receiver where to cut.
        EXPECT_EQ(r.data.substr(0, size), content);
        EXPECT_EQ(r.data.size() % 1024, 0u);
    }
    EXPECT_EQ(ui->panels[1], "Файл: m1025.ktm: 100%");
}

TEST_F(BlockTransfer, BlockNumbersWrapSoThe256thDataBlockIsNumberedZero) {
    const std::string content = pattern(257 * 1024 + 3);
    const std::string file = writeLocal("long.ktm", content);
    Received r;
    runPeer([&](Peer& p) { receiveBatch(p, r); });
    EXPECT_EQ(link->sendFile(file), rcOk);
    joinPeer();
    ASSERT_EQ(r.numbers.size(), 258u);
    EXPECT_EQ(r.numbers[0], 1);
    EXPECT_EQ(r.numbers[254], 255);
    EXPECT_EQ(r.numbers[255], 0);
    EXPECT_EQ(r.numbers[256], 1);
    EXPECT_EQ(r.data.substr(0, content.size()), content);
}

TEST_F(BlockTransfer, RejectedBlocksAreSentAgainAndTheTenthRejectionEndsTheSend) {
    const std::string file = writeLocal("nak.ktm", pattern(3000));
    Received nine;
    runPeer([&](Peer& p) { receiveBatch(p, nine, 2, 9); });
    EXPECT_EQ(link->sendFile(file), rcOk);
    joinPeer();
    EXPECT_TRUE(nine.complete);
    EXPECT_EQ(nine.naksSent, 9);
    EXPECT_EQ(nine.data.substr(0, 3000), pattern(3000));

    Received ten;
    std::string after;
    runPeer([&](Peer& p) {
        receiveBatch(p, ten, 2, 10);
        after = p.readCount(1, 2000);
    });
    EXPECT_EQ(link->sendFile(file), rcFileTooManyErrors);
    joinPeer();
    EXPECT_EQ(ten.naksSent, 10);
    // Cancelled on the line with two CAN (the first one ended the peer's batch).
    EXPECT_EQ(after, std::string(1, static_cast<char>(CAN)));
}

TEST_F(BlockTransfer, CanInsteadOfAckEndsTheSendAsACancel) {
    const std::string file = writeLocal("can.ktm", pattern(5000));
    Received r;
    runPeer([&](Peer& p) { receiveBatch(p, r, -1, 0, 3); });
    EXPECT_EQ(link->sendFile(file), rcFileCancelled);
    joinPeer();
    EXPECT_EQ(r.numbers.size(), 2u);
}

TEST_F(BlockTransfer, SendFileOfAMissingFileIsCode103) { EXPECT_EQ(link->sendFile(tempDir + "none.ktm"), rcNoFile); }

// ---- Receiving

namespace {

// The unit sending a batch of one file; blocks as given (already framed), each waiting for ACK.
void sendBatch(Peer& p, const std::string& block0, const std::vector<std::string>& blocks, bool finish = true) {
    if (p.readUntil("C").find('C') == std::string::npos)
        return;
    p.write(block0);
    if (p.readByte() != ACK)
        return;
    p.readUntil("C");
    for (const auto& b : blocks) {
        for (int attempt = 0; attempt < 12; ++attempt) {
            p.write(b);
            const int reply = p.readByte();
            if (reply == ACK)
                break;
            if (reply != NAK)
                return;
        }
    }
    if (!finish)
        return;
    p.writeByte(EOT);
    if (p.readByte() != ACK)
        return;
    p.readUntil("C");
    p.write(block(0, "", false));
    p.readByte();
}

} // namespace

TEST_F(BlockTransfer, ReceiveFileWritesEvenCountsAndCutsAtTheAnnouncedSize) {
    const std::string content = pattern(2049);
    std::vector<std::string> blocks{block(1, content.substr(0, 1024), true), block(2, content.substr(1024, 1024), true),
                                    block(3, content.substr(2048), true)};
    runPeer([&](Peer& p) { sendBatch(p, block(0, header("msg.ktm", "2049"), false), blocks); });
    std::string name;
    EXPECT_EQ(link->receiveFile(tempDir, name), rcOk);
    joinPeer();
    EXPECT_EQ(name, "msg.ktm");
    // An odd size loses its last byte: every block is written in whole sample pairs.
    EXPECT_EQ(readFile(tempDir + "msg.ktm"), content.substr(0, 2048));
    EXPECT_EQ(ui->panels[1], "Файл: msg.ktm: загрузка завершена");
    const auto& h = ui->panelHistory;
    EXPECT_NE(std::find(h.begin(), h.end(), "Файл: msg.ktm: 2049 байт"), h.end());
    EXPECT_NE(std::find(h.begin(), h.end(), "Файл: msg.ktm: 49%"), h.end());
}

TEST_F(BlockTransfer, ReceiveFileOfAnEmptyBatchOrAnEmptyFile) {
    runPeer([&](Peer& p) {
        p.readUntil("C");
        p.writeByte(EOT);
    });
    std::string name = "x";
    EXPECT_EQ(link->receiveFile(tempDir, name), rcOk);
    joinPeer();
    EXPECT_EQ(name, "");

    runPeer([&](Peer& p) { sendBatch(p, block(0, header("empty.ktm", "0"), false), {}); });
    EXPECT_EQ(link->receiveFile(tempDir, name), rcOk);
    joinPeer();
    EXPECT_EQ(name, "empty.ktm");
    EXPECT_EQ(readFile(tempDir + "empty.ktm"), "");
}

TEST_F(BlockTransfer, ReceiveFileRecoversFromABadCrcAndSilenceMidBlock) {
    const std::string content = pattern(1024);
    runPeer([&](Peer& p) {
        p.readUntil("C");
        p.write(block(0, header("r.ktm", "1024"), false));
        p.readByte(); // ACK
        p.readUntil("C");
        p.write(block(1, content, true, true)); // bad CRC
        if (p.readByte() != NAK)
            return;
        p.write(block(1, content, true).substr(0, 500)); // falls silent inside the block
        if (p.readByte(4000) != NAK)
            return;
        p.write(block(1, content, true));
        if (p.readByte() != ACK)
            return;
        p.writeByte(EOT);
        p.readByte();
        p.readUntil("C");
        p.write(block(0, "", false));
        p.readByte();
    });
    std::string name;
    EXPECT_EQ(link->receiveFile(tempDir, name), rcOk);
    joinPeer();
    EXPECT_EQ(readFile(tempDir + "r.ktm"), content);
}

TEST_F(BlockTransfer, AnnouncedNamesNeverLeaveTheDestinationFolder) {
    const std::string content = pattern(100);
    std::filesystem::create_directory(tempDir + "stage");
    for (const std::string announced : {"../../evil.ktm", "C:\\units\\evil.ktm", "/etc/evil.ktm"}) {
        SCOPED_TRACE(announced);
        runPeer([&](Peer& p) { sendBatch(p, block(0, header(announced, "100"), false), {block(1, content, true)}); });
        std::string name;
        EXPECT_EQ(link->receiveFile(tempDir + "stage/", name), rcOk);
        joinPeer();
        EXPECT_EQ(name, "evil.ktm");
        EXPECT_EQ(readFile(tempDir + "stage/evil.ktm"), content);
        EXPECT_FALSE(std::filesystem::exists(tempDir + "evil.ktm"));
    }
    // Nothing usable left: a failed transfer, cancelled on the line.
    for (const std::string announced : {"", "..", "dir/",
                                        "a\x01"
                                        "b"}) {
        SCOPED_TRACE(announced);
        std::string tail;
        runPeer([&](Peer& p) {
            p.readUntil("C");
            p.write(block(0, header(announced, "100"), false));
            tail = p.readCount(2, 2000);
        });
        std::string name;
        EXPECT_EQ(link->receiveFile(tempDir + "stage/", name), rcBadFileName);
        joinPeer();
        EXPECT_EQ(tail, std::string(2, static_cast<char>(CAN)));
    }
}

TEST_F(BlockTransfer, ADestinationThatCannotBeCreatedCancelsWithAnError) {
    std::string tail;
    runPeer([&](Peer& p) {
        p.readUntil("C");
        p.write(block(0, header("m.ktm", "10"), false));
        tail = p.readCount(2, 2000);
    });
    std::string name;
    EXPECT_EQ(link->receiveFile(tempDir + "no/such/folder/", name), rcCannotCreateFile);
    joinPeer();
    EXPECT_EQ(tail, std::string(2, static_cast<char>(CAN)));
}

TEST_F(BlockTransfer, CancelFromTheUnitLeavesNoPartialFile) {
    unitCancelsAfterTheFirstBlock("part.ktm", 4096);
    std::string name;
    EXPECT_EQ(link->receiveFile(tempDir, name), rcFileCancelled);
    joinPeer();
    EXPECT_FALSE(std::filesystem::exists(tempDir + "part.ktm"));
}

TEST_F(BlockTransfer, ABrokenReceiveKeepsTheEarlierFileAndAReceivedOneNeverWritesThroughALink) {
    namespace fs = std::filesystem;
    std::ofstream(tempDir + "kept.ktm", std::ios::binary) << "the recording of before";
    unitCancelsAfterTheFirstBlock("kept.ktm", 2048);
    std::string name;
    EXPECT_EQ(link->receiveFile(tempDir, name), rcFileCancelled);
    joinPeer();
    EXPECT_EQ(readFile(tempDir + "kept.ktm"), "the recording of before");

    // A link named like the unit's file: the file takes its place, what it pointed to is untouched.
    std::ofstream(tempDir + "elsewhere", std::ios::binary) << "not the unit's";
    fs::create_directories(tempDir + "in/");
    fs::create_symlink(tempDir + "elsewhere", tempDir + "in/link.ktm");
    const std::string content = pattern(2048);
    runPeer([&](Peer& p) {
        sendBatch(p, block(0, header("link.ktm", "2048"), false),
                  {block(1, content.substr(0, 1024), true), block(2, content.substr(1024), true)});
    });
    EXPECT_EQ(link->receiveFile(tempDir + "in/", name), rcOk);
    joinPeer();
    EXPECT_FALSE(fs::is_symlink(tempDir + "in/link.ktm"));
    EXPECT_EQ(readFile(tempDir + "in/link.ktm"), content);
    EXPECT_EQ(readFile(tempDir + "elsewhere"), "not the unit's");
    for (const auto& e : fs::directory_iterator(tempDir + "in/"))
        EXPECT_EQ(e.path().filename(), "link.ktm") << "a temporary was left behind";
}

TEST_F(BlockTransfer, StopDuringAReceiveEndsAt101) {
    const std::string content = pattern(1024);
    runPeer([&](Peer& p) {
        p.readUntil("C");
        p.write(block(0, header("s.ktm", "8192"), false));
        p.readByte();
        p.readUntil("C");
        p.write(block(1, content, true));
        p.readCount(3, 3000); // ACK, then CAN CAN
    });
    ui->onEvents = [&] {
        if (ui->panels[1].find("%") != std::string::npos)
            link->bt_StopClick();
    };
    std::string name;
    EXPECT_EQ(link->receiveFile(tempDir, name), rcStopped);
    joinPeer();
}

// The block transfer of message files: 1024-byte blocks with CRC-16, a block 0 announcing name and size, the
// EOT handshake and an empty block 0 closing the batch. Bytes come through the link's accumulator, so the wait
// keeps the user interface served and Stop works here too.
#include "link/answer.h"
#include "link/crc16.h"
#include "link/device_link.h"

#include "model/atomic_file.h"
#include "model/cp1251.h"
#include "serial/comm.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <filesystem>
#include <fstream>

namespace devlink {

namespace {

constexpr int kByteTimeoutMs = 1000;
constexpr int kReplyTimeoutMs = 5000;
constexpr int kMaxFailures = 10;

std::string percentText(long long done, long long total) {
    long long percent = total > 0 ? done * 100 / total : 100;
    if (percent > 100)
        percent = 100;
    return std::to_string(percent) + "%";
}

// The file-name part of a name the unit announced (Windows-1251), or "" when nothing usable is left: the unit
// must never make us write outside the staging folder.
std::string safeFileName(const std::string& announced) {
    std::string name = announced;
    // A drive letter or a folder of the unit's side ends where the name begins.
    const std::size_t slash = name.find_last_of("/\\:");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return {};
    return name;
}

// A block tells the port how many bytes its rest needs (see readByte); the hint ends with the block, before
// anything short (an ACK) is awaited.
class ReadHintEnd {
public:
    explicit ReadHintEnd(serial::TVaCustomComm& port) : port_(port) {}
    ~ReadHintEnd() { port_.SetReadHint(0); }
    ReadHintEnd(const ReadHintEnd&) = delete;
    ReadHintEnd& operator=(const ReadHintEnd&) = delete;

private:
    serial::TVaCustomComm& port_;
};

// How long the line must stay quiet before the rest of a broken block counts as gone.
constexpr int kDrainQuietMs = 100;

} // namespace

void DeviceLink::drainLine() {
    // Only purging what is there now would leave the tail of the broken block on its way; read as first bytes
    // of the next block it would turn one bad block into a run of failures. So wait until the sender is quiet.
    for (int rounds = 0; rounds < 100; ++rounds) {
        purgeRead();
        rxText.clear();
        rxPos = 0;
        std::uint8_t b = 0;
        if (readByte(kDrainQuietMs, b) != 0)
            break;
    }
    rxText.clear();
    rxPos = 0;
}

void DeviceLink::drainAfterCancel() {
    // The unit stops after the block it is sending and answers the cancel: a short quiet ends the wait, a Stop
    // does not (it is what is being drained after), the file time-out bounds it.
    constexpr int kQuietAfterCancelMs = 300;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    std::string tail;
    rxFlag = false;
    setTimeout(kQuietAfterCancelMs);
    startWait();
    for (;;) {
        pollWait();
        if (lineLost() || timedOut || std::chrono::steady_clock::now() > limit)
            break;
        if (rxFlag) {
            rxFlag = false;
            const std::string got = VaComm1->ReadText();
            if (!got.empty()) {
                tail += got;
                if (tail.size() > 64)
                    tail.erase(0, tail.size() - 64);
                startWait();
            }
        }
    }
    timerRunning = false;
    rxText.clear();
    rxPos = 0;
    // Block data ending exactly in a status word and the prompt is as good as impossible; anything else means
    // the closing answer is still to come, and the next command must not take it for its own.
    const std::string_view last = trimControls(tail);
    bool answered = false;
    if (!last.empty() && last.back() == '#') {
        const std::string_view before = trimControls(last.substr(0, last.size() - 1));
        const std::size_t err = before.rfind("ERR");
        answered = (before.size() >= 2 && before.substr(before.size() - 2) == "OK") ||
                   (err != std::string_view::npos && before.size() - err <= 8 &&
                    before.find_first_not_of("0123456789 ", err + 3) == std::string_view::npos);
    }
    if (!answered)
        ++owedAnswers;
}

int DeviceLink::readByte(int timeout, std::uint8_t& byte, std::size_t wanted) {
    while (rxPos >= rxText.size()) {
        rxFlag = false;
        // Bytes may already wait in the port although their notice was taken by an earlier refill; take them
        // before waiting for a notice that would never come.
        if (refill())
            break;
        if (lineLost())
            return rcLineLost;
        if (wanted > 1)
            VaComm1->SetReadHint(static_cast<int>(wanted));
        setTimeout(timeout);
        startWait();
        for (;;) {
            pollWait();
            if (timedOut)
                return rcNoAnswer;
            if (stopFlag)
                return rcStopped;
            // The last bytes before a loss are still taken; the next round reports it.
            if (rxFlag || lineLost())
                break;
        }
        rxFlag = false;
        refill();
    }
    byte = static_cast<std::uint8_t>(rxText[rxPos++]);
    return 0;
}

void DeviceLink::writeByte(std::uint8_t byte) { VaComm1->WriteChar(static_cast<char>(byte)); }

int DeviceLink::receiveBlock(int expected, std::uint8_t* buffer, bool& big) {
    ReadHintEnd hintEnd(*VaComm1);
    // The first byte comes without a hint: only it tells how long the block is, and a hint of a long block
    // would hold an EOT, a header block or the closing block back for the port's longest gather.
    std::uint8_t b = 0;
    int r = readByte(kByteTimeoutMs, b);
    if (r == rcStopped || r == rcLineLost)
        return r;
    if (r != 0)
        return brNoFirstByte;
    std::size_t size = 0;
    switch (b) {
    case SOH:
        size = 128;
        break;
    case STX:
        size = 1024;
        break;
    case EOT:
        return brEot;
    case CAN:
        return brCancel;
    default:
        return brBadFirstByte;
    }
    big = size == 1024;
    std::uint8_t number = 0, complement = 0;
    if ((r = readByte(kByteTimeoutMs, number, size + 4)) != 0 ||
        (r = readByte(kByteTimeoutMs, complement, size + 3)) != 0)
        return r == rcStopped || r == rcLineLost ? r : static_cast<int>(brTimeoutInBlock);
    if (number != (expected & 0xFF) || (complement ^ 0xFF) != number) {
        lastBadNumber = (complement ^ 0xFF) == number ? number : -1;
        drainLine();
        return brBadNumber;
    }
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size + 2; ++i) {
        if ((r = readByte(kByteTimeoutMs, b, size + 2 - i)) != 0)
            return r == rcStopped || r == rcLineLost ? r : static_cast<int>(brTimeoutInBlock);
        crc = crc16Step(crc, b);
        if (i < size)
            buffer[i] = b;
    }
    if (crc != 0) {
        drainLine();
        return brBadCrc;
    }
    return brGood;
}

int DeviceLink::sendBlock(const std::uint8_t* data, std::size_t count, int number, bool big) {
    const std::size_t size = big ? 1024 : 128;
    if (count > size)
        count = size;
    // The whole block goes out in one write: the same bytes on the wire, one hand-over to the port instead of
    // a thousand.
    std::string block(3 + size + 2, '\0');
    block[0] = static_cast<char>(big ? STX : SOH);
    block[1] = static_cast<char>(number & 0xFF);
    block[2] = static_cast<char>(255 - (number & 0xFF));
    for (std::size_t i = 0; i < count; ++i)
        block[3 + i] = static_cast<char>(data[i]);
    const std::uint16_t crc = crc16Block(reinterpret_cast<const std::uint8_t*>(block.data()) + 3, size);
    block[3 + size] = static_cast<char>(crc >> 8);
    block[4 + size] = static_cast<char>(crc & 0xFF);
    int rejections = 0;
    for (;;) {
        VaComm1->WriteText(block);
        // Noise is skipped, but a line that never stops producing it counts as a rejection instead of holding
        // the transfer for ever.
        std::size_t ignored = 0;
        for (;;) {
            std::uint8_t reply = 0;
            const int r = readByte(kReplyTimeoutMs, reply);
            if (r != 0)
                return r;
            if (reply == ACK)
                return 0;
            if (reply == CAN)
                return rcFileCancelled;
            if (reply == NAK || ++ignored > 2 * block.size()) {
                if (++rejections >= kMaxFailures)
                    return rcFileTooManyErrors;
                break;
            }
        }
    }
}

int DeviceLink::cancelTransfer(int result) {
    VaComm1->WriteText(std::string(2, static_cast<char>(CAN)));
    return result;
}

int DeviceLink::receiveFile(const std::string& folder, std::string& name) {
    name.clear();
    purgeRead();
    rxText.clear();
    rxPos = 0;
    std::uint8_t buffer[1024];
    bool big = false;
    int failures = 0;

    // Header phase.
    int tries = 0;
    writeByte(CRC_REQUEST);
    for (;;) {
        const int r = receiveBlock(0, buffer, big);
        if (r == brGood)
            break;
        if (r == brEot)
            return rcOk; // an empty batch: no file
        if (r == rcLineLost)
            return rcLineLost;
        if (r == rcStopped || r == brCancel) {
            const int code = r == rcStopped ? rcStopped : rcFileCancelled;
            cancelTransfer(code);
            purgeRead();
            return code;
        }
        if (r == brTimeoutInBlock || r == brBadNumber || r == brBadCrc) {
            if (++failures >= kMaxFailures) {
                cancelTransfer(0);
                purgeRead();
                return rcFileTooManyErrors;
            }
            writeByte(NAK);
            tries = 0;
            continue;
        }
        if (++tries >= kMaxFailures) {
            cancelTransfer(0);
            purgeRead();
            return rcFileTimeout;
        }
        writeByte(CRC_REQUEST);
    }

    // Block 0: name, NUL, decimal size (further fields after a blank are ignored).
    const std::size_t headerSize = big ? 1024 : 128;
    std::size_t nul = 0;
    while (nul < headerSize && buffer[nul] != 0)
        ++nul;
    const std::string announced(reinterpret_cast<const char*>(buffer), nul);
    long long size = -1;
    for (std::size_t i = nul + 1; i < headerSize && buffer[i] >= '0' && buffer[i] <= '9'; ++i) {
        size = (size < 0 ? 0 : size * 10) + (buffer[i] - '0');
        if (size > (1LL << 40))
            break;
    }
    const std::string wireName = safeFileName(announced);
    const std::string shownName = cp1251::toUtf8(wireName.empty() ? announced : wireName);
    if (wireName.empty() || size < 0) {
        ui_.setStatusPanel(1, text::filePrefix + shownName + ": " + text::badFileName);
        cancelTransfer(0);
        purgeRead();
        return rcBadFileName;
    }
    name = cp1251::toUtf8(wireName);
    ui_.setStatusPanel(1, text::filePrefix + name + ": " + std::to_string(size) + text::bytesSuffix);
    const std::filesystem::path target = std::filesystem::path(folder) / name;
    // The name is the unit's: a link of that name in the folder is replaced, never written through.
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec)))
        std::filesystem::remove(target, ec);
    // Written as settings files are: a crash, a full disk or a broken transfer leaves whatever file was there
    // before, never a part of the recording that would pass for it.
    atomic_file::Writer out;
    if (!out.open(target.string())) {
        ui_.setStatusPanel(1,
                           text::filePrefix + name + ": " + resultMessage(rcCannotCreateFile, OperationKind::Download));
        cancelTransfer(0);
        purgeRead();
        return rcCannotCreateFile;
    }
    auto fail = [&](int code) {
        cancelTransfer(code);
        purgeRead();
        out.discard();
        return code;
    };

    writeByte(ACK);
    writeByte(CRC_REQUEST);
    int expected = 1;
    failures = 0;
    int repeats = 0;
    long long received = 0;
    for (;;) {
        const int r = receiveBlock(expected, buffer, big);
        if (r == brGood) {
            failures = 0;
            repeats = 0;
            // The announced size bounds the transfer: a block beyond it belongs to no file we were offered.
            if (received >= size)
                return fail(rcFileBlock);
            const long long blockSize = big ? 1024 : 128;
            long long n = std::min(size - received, blockSize);
            if (n < 0)
                n = 0;
            n &= ~1LL;
            if (!out.write(std::string_view(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n)))) {
                ui_.setStatusPanel(1, text::filePrefix + name + ": " +
                                          resultMessage(rcCannotCreateFile, OperationKind::Download));
                return fail(rcCannotCreateFile);
            }
            expected = (expected + 1) % 256;
            received = std::min(received + blockSize, size);
            writeByte(ACK);
            ui_.setStatusPanel(1, text::filePrefix + name + ": " + percentText(received, size));
            continue;
        }
        if (r == brEot) {
            // Fewer bytes than announced is a broken file, whatever the unit says of it afterwards.
            if (received < size)
                return fail(rcFileBlock);
            writeByte(ACK);
            writeByte(CRC_REQUEST);
            receiveBlock(0, buffer, big);
            writeByte(ACK);
            if (!out.commit()) {
                ui_.setStatusPanel(1, text::filePrefix + name + ": " +
                                          resultMessage(rcCannotCreateFile, OperationKind::Download));
                return rcCannotCreateFile;
            }
            ui_.setStatusPanel(1, text::filePrefix + name + ": " + text::transferDone);
            return rcOk;
        }
        if (r == brCancel)
            return fail(rcFileCancelled);
        if (r == rcStopped || r == rcLineLost)
            return fail(r);
        // The block we already have, sent again because our ACK was lost: acknowledge it, keep nothing.
        // A sender that repeats it for ever is a failure like any other run of bad blocks.
        if (r == brBadNumber && lastBadNumber == ((expected + 255) & 0xFF)) {
            if (++repeats >= kMaxFailures)
                return fail(rcFileTooManyErrors);
            writeByte(ACK);
            continue;
        }
        if (++failures >= kMaxFailures)
            return fail(rcFileTooManyErrors);
        if (r == brBadFirstByte)
            drainLine();
        writeByte(NAK);
    }
}

int DeviceLink::sendFile(const std::string& localFile) {
    std::ifstream in(localFile, std::ios::binary);
    if (!in)
        return rcNoFile;
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(localFile, ec);
    if (ec)
        return rcNoFile;
    const auto size = static_cast<long long>(fileSize);
    const std::string name = std::filesystem::path(localFile).filename().string();
    ui_.setStatusPanel(1, text::filePrefix + name + ": " + std::to_string(size) + text::bytesSuffix);

    std::uint8_t header[128] = {};
    const std::string wireName = cp1251::fromUtf8(name).value_or(name);
    const std::string sizeText = std::to_string(size);
    if (wireName.size() + 1 + sizeText.size() + 1 > sizeof header)
        return cancelTransfer(rcBadFileName);
    std::copy(wireName.begin(), wireName.end(), header);
    std::copy(sizeText.begin(), sizeText.end(), header + wireName.size() + 1);
    int r = sendBlock(header, sizeof header, 0, false);
    if (r != 0)
        return cancelTransfer(r);

    std::uint8_t buffer[1024];
    const long long blocks = (size + 1023) / 1024;
    for (long long i = 1; i <= blocks; ++i) {
        in.read(reinterpret_cast<char*>(buffer), sizeof buffer);
        const auto got = static_cast<std::size_t>(in.gcount());
        std::fill(buffer + got, buffer + sizeof buffer, 0);
        r = sendBlock(buffer, got, static_cast<int>(i % 256), true);
        if (r != 0)
            return cancelTransfer(r);
        ui_.setStatusPanel(1, text::filePrefix + name + ": " + percentText(i * 1024, size));
    }

    // One byte of the receiver's answer after the data: 0, or why none came (a quiet line is no answer).
    const auto readReply = [this](std::uint8_t& reply) {
        const int got = readByte(kReplyTimeoutMs, reply);
        return got == 0 || got == rcStopped || got == rcLineLost ? got : static_cast<int>(rcNoAnswer);
    };
    int rejections = 0;
    for (;;) {
        writeByte(EOT);
        std::uint8_t reply = 0;
        if ((r = readReply(reply)) != 0)
            return cancelTransfer(r);
        if (reply == ACK)
            break;
        // A "C" here is the receiver's request that followed its ACK of block 0 (a file without data blocks
        // leaves it unread); it is no refusal of the EOT.
        if (reply == CRC_REQUEST) {
            if ((r = readReply(reply)) != 0)
                return cancelTransfer(r);
            if (reply == ACK)
                break;
        }
        if (++rejections >= kMaxFailures)
            return cancelTransfer(rcFileTooManyErrors);
    }
    std::uint8_t c = 0;
    if ((r = readReply(c)) != 0)
        return cancelTransfer(r);
    if (c != CRC_REQUEST)
        return cancelTransfer(rcNoAnswer);
    std::uint8_t closing[128] = {};
    r = sendBlock(closing, 0, 0, false);
    if (r != 0)
        return cancelTransfer(r);
    return rcOk;
}

} // namespace devlink

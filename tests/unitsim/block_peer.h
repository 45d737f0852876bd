// The host's half of the block transfer, written for the tests from the wire format alone (bitwise CRC, no
// table), so a fault in the unit's table-driven CRC cannot hide behind the same fault here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/unitsim_process.h"

namespace unitsim_test {

constexpr char SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18;

inline std::uint16_t crcXmodem(std::string_view data) {
    std::uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= static_cast<std::uint16_t>(c << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

inline std::string makeBlock(std::uint8_t number, std::string data, bool big) {
    data.resize(big ? 1024 : 128, '\0');
    std::uint16_t crc = crcXmodem(data);
    std::string frame;
    frame += big ? STX : SOH;
    frame += static_cast<char>(number);
    frame += static_cast<char>(255 - number);
    frame += data;
    frame += static_cast<char>(crc >> 8);
    frame += static_cast<char>(crc & 0xFF);
    return frame;
}

inline std::string header(const std::string& name, std::size_t size) {
    std::string h = name;
    h += '\0';
    h += std::to_string(size);
    return makeBlock(0, h, false);
}

inline std::string pattern(std::size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

// Reads replies until one of ACK, NAK, CAN or "C" arrives; 0 on time-out.
inline char reply(PtyPeer& peer, Ms timeout = 5000ms) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto& r = peer.received();
        while (!r.empty()) {
            char c = r[0];
            r.erase(0, 1);
            if (c == ACK || c == NAK || c == CAN || c == 'C')
                return c;
        }
        if (std::chrono::steady_clock::now() > deadline || peer.dead())
            return 0;
        peer.pump(20ms);
    }
}

// Sends one block until it is acknowledged; NAK repeats it (at most ten times). The reply that ended it.
inline char sendUntilAck(PtyPeer& peer, const std::string& frame, bool cMeansAgain = false) {
    for (int tries = 0; tries < 10; ++tries) {
        peer.send(frame);
        char r = reply(peer);
        while (r == 'C' && !cMeansAgain)
            r = reply(peer);
        if (r == ACK || r == CAN || r == 0)
            return r;
    }
    return NAK;
}

// The whole batch after the unit's first "C": block 0, the data, EOT, the empty block 0. True when every step
// was acknowledged.
inline bool sendBatch(PtyPeer& peer, const std::string& name, const std::string& data) {
    if (reply(peer) != 'C')
        return false;
    if (sendUntilAck(peer, header(name, data.size())) != ACK)
        return false;
    if (reply(peer) != 'C')
        return false;
    std::size_t blocks = (data.size() + 1023) / 1024;
    for (std::size_t i = 1; i <= blocks; ++i) {
        std::string frame = makeBlock(static_cast<std::uint8_t>(i % 256), data.substr((i - 1) * 1024, 1024), true);
        if (sendUntilAck(peer, frame) != ACK)
            return false;
    }
    char r = 0;
    for (int tries = 0; tries < 10 && r != ACK; ++tries) {
        peer.send(std::string(1, EOT));
        r = reply(peer);
    }
    if (r != ACK || reply(peer) != 'C')
        return false;
    return sendUntilAck(peer, makeBlock(0, {}, false)) == ACK;
}

struct ReceivedBatch {
    std::string name;
    std::size_t size = 0;
    std::string data;              // cut at the announced size
    std::vector<int> blockNumbers; // of the accepted data blocks, in order
    int naks = 0;
    bool complete = false;
};

// One block as it comes: its number and data; nullopt for a block that fails its checks (the caller NAKs).
struct InBlock {
    char start = 0;
    int number = -1;
    std::string data;
};
inline std::optional<InBlock> readBlock(PtyPeer& peer) {
    auto first = peer.readExact(1, 3000ms);
    if (!first)
        return std::nullopt;
    InBlock b;
    b.start = (*first)[0];
    if (b.start == EOT || b.start == CAN)
        return b;
    if (b.start != SOH && b.start != STX)
        return std::nullopt;
    std::size_t size = b.start == STX ? 1024 : 128;
    auto rest = peer.readExact(2 + size + 2, 3000ms);
    if (!rest)
        return std::nullopt;
    auto num = static_cast<std::uint8_t>((*rest)[0]);
    auto comp = static_cast<std::uint8_t>((*rest)[1]);
    b.data = rest->substr(2, size);
    auto hi = static_cast<std::uint8_t>((*rest)[2 + size]);
    auto lo = static_cast<std::uint8_t>((*rest)[3 + size]);
    if (static_cast<std::uint8_t>(num ^ comp) != 0xFF)
        return std::nullopt;
    if (crcXmodem(b.data) != static_cast<std::uint16_t>((hi << 8) | lo))
        return std::nullopt;
    b.number = num;
    return b;
}

// The receiving side of a " dl " after "START". Bad blocks are refused with NAK after the line went quiet.
inline ReceivedBatch receiveBatch(PtyPeer& peer) {
    ReceivedBatch out;
    auto refuse = [&] {
        ++out.naks;
        peer.collect(150ms);
        peer.send(std::string(1, NAK));
    };
    peer.send("C");
    std::optional<InBlock> b;
    for (int tries = 0; tries < 10; ++tries) {
        b = readBlock(peer);
        if (b && b->start == SOH && b->number == 0)
            break;
        refuse();
    }
    if (!b || b->number != 0)
        return out;
    out.name = b->data.substr(0, b->data.find('\0'));
    out.size = std::stoul(b->data.substr(out.name.size() + 1));
    peer.send(std::string(1, ACK) + "C");
    int expected = 1;
    for (int failures = 0; failures < 10;) {
        b = readBlock(peer);
        if (!b) {
            ++failures;
            refuse();
            continue;
        }
        if (b->start == CAN)
            return out;
        if (b->start == EOT)
            break;
        if (b->number == (expected + 255) % 256) { // a repeat after a lost ACK
            peer.send(std::string(1, ACK));
            continue;
        }
        if (b->number != expected)
            return out;
        failures = 0;
        out.blockNumbers.push_back(b->number);
        out.data += b->data;
        expected = (expected + 1) % 256;
        peer.send(std::string(1, ACK));
    }
    peer.send(std::string(1, ACK) + "C");
    auto closing = readBlock(peer);
    peer.send(std::string(1, ACK));
    if (!closing || closing->number != 0 || closing->data != std::string(128, '\0'))
        return out;
    if (out.data.size() < out.size)
        return out;
    out.data.resize(out.size);
    out.complete = true;
    return out;
}

} // namespace unitsim_test

namespace unitsim_test {

// The configurator's sender as it is built: it does not wait for the "C" after block 0, answers anything but
// ACK to its EOT with another EOT, and then wants one "C" before the empty block 0. Bytes it does not expect
// while waiting for a verdict are skipped.
inline bool sendBatchLikeTheLink(PtyPeer& peer, const std::string& name, const std::string& data) {
    auto anyByte = [&]() -> int {
        auto b = peer.readExact(1, 5000ms);
        return b ? static_cast<unsigned char>((*b)[0]) : -1;
    };
    auto block = [&](const std::string& frame) {
        for (int rejections = 0; rejections < 10;) {
            peer.send(frame);
            for (;;) {
                int b = anyByte();
                if (b < 0 || b == CAN)
                    return false;
                if (b == ACK)
                    return true;
                if (b == NAK)
                    break;
            }
            ++rejections;
        }
        return false;
    };
    if (!peer.expect("C"))
        return false;
    peer.collect(0ms);
    if (!block(header(name, data.size())))
        return false;
    for (std::size_t i = 1; i <= (data.size() + 1023) / 1024; ++i) {
        if (!block(makeBlock(static_cast<std::uint8_t>(i % 256), data.substr((i - 1) * 1024, 1024), true)))
            return false;
    }
    int rejections = 0;
    for (;;) {
        peer.send(std::string(1, EOT));
        int b = anyByte();
        if (b < 0)
            return false;
        if (b == ACK)
            break;
        if (++rejections >= 10)
            return false;
    }
    if (anyByte() != 'C')
        return false;
    return block(makeBlock(0, {}, false));
}

} // namespace unitsim_test

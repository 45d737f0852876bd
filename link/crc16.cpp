#include "link/crc16.h"

#include <array>

namespace devlink {
namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
        table[i] = static_cast<std::uint16_t>(crc & 0xFFFF);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> crcTable = makeTable();

} // namespace

std::uint16_t crc16Step(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>(crcTable[crc >> 8] ^ ((crc << 8) & 0xFF00) ^ byte);
}

std::uint16_t crc16Block(const std::uint8_t* data, std::size_t count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
        crc = crc16Step(crc, data[i]);
    crc = crc16Step(crc, 0);
    return crc16Step(crc, 0);
}

} // namespace devlink

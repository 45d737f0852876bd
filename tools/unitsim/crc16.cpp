#include "tools/unitsim/crc16.h"

#include <array>

namespace unitsim {
namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr auto kTable = makeTable();

} // namespace

std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>(kTable[crc >> 8] ^ ((crc << 8) & 0xFF00) ^ byte);
}

std::uint16_t crcOfBlock(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = crcStep(crc, data[i]);
    crc = crcStep(crc, 0);
    return crcStep(crc, 0);
}

} // namespace unitsim

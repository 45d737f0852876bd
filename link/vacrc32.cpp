#include "link/vacrc32.h"

#include <array>

namespace serial {

namespace {

constexpr std::array<std::uint16_t, 256> kCrc16Table = [] {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        t[i] = static_cast<std::uint16_t>(crc);
    }
    return t;
}();

constexpr std::array<std::uint32_t, 256> kCrc32Table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        t[i] = crc;
    }
    return t;
}();

} // namespace

std::uint16_t CalcCRC16(std::uint8_t Byte, std::uint16_t Crc) {
    return static_cast<std::uint16_t>(kCrc16Table[((Crc >> 8) ^ Byte) & 0xFF] ^ (Crc << 8));
}

std::uint32_t CalcCRC32(std::uint8_t Byte, std::uint32_t Crc) { return kCrc32Table[(Crc ^ Byte) & 0xFF] ^ (Crc >> 8); }

std::uint16_t BlockCRC16(const std::uint8_t* Data, std::size_t Count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < Count; ++i)
        crc = CalcCRC16(Data[i], crc);
    return crc;
}

} // namespace serial

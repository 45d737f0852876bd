// Checksums of the file-transfer components: the CRC-16 of XMODEM/YMODEM blocks and a CRC-32 step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

// One byte into a CRC-16/XMODEM (polynomial 0x1021, start 0, not reflected); the high byte is sent first.
std::uint16_t CalcCRC16(std::uint8_t Byte, std::uint16_t Crc);
// One byte into a reflected CRC-32 (polynomial 0xEDB88320); the caller supplies the start value and the final
// inversion.
std::uint32_t CalcCRC32(std::uint8_t Byte, std::uint32_t Crc);

// CRC-16/XMODEM of a whole block, starting from 0.
std::uint16_t BlockCRC16(const std::uint8_t* Data, std::size_t Count);

} // namespace serial

// CRC-16/XMODEM of the block transfer, in the table-driven augmented form the link uses, so both ends agree
// bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unitsim {

// One step of the augmented register: feed data bytes, then two zero bytes to obtain the CRC to send, or the
// two received CRC bytes to check (the register then ends at 0).
std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte);

// CRC of a block as the sender puts it on the wire.
std::uint16_t crcOfBlock(const std::uint8_t* data, std::size_t size);

} // namespace unitsim

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection) in the augmented table form the block transfer
// uses: the sender runs the data and two zero bytes through the step, the receiver the data and the two CRC bytes
// and expects 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace devlink {

std::uint16_t crc16Step(std::uint16_t crc, std::uint8_t byte);
// The CRC a sender appends to the data (high byte first on the wire).
std::uint16_t crc16Block(const std::uint8_t* data, std::size_t count);

} // namespace devlink

// The control bytes of the XMODEM family of block transfers: the unit's message files and the terminal's transfer
// components speak the same ones.
#pragma once

#include <cstdint>

namespace control_bytes {

inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t CAN = 0x18;

} // namespace control_bytes

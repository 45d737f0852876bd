// The least time the block protocol needs on the line for one file at 38400 bit/s: every 1024-byte block (the
// last one padded) with its 5 bytes of frame, the name block, the EOT and the closing block, 11 bits per byte.
// No link can beat it, so the transfer benchmarks measure against it.
#pragma once

#include <cstddef>

namespace bench {

inline double blockTransferWireSeconds(std::size_t bytes) {
    const auto blocks = static_cast<double>((bytes + 1023) / 1024);
    return (blocks * 1029 + 133 + 1 + 133) * 11.0 / 38400.0;
}

} // namespace bench

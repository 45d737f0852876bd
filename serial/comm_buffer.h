// The write queue of a port: a linear byte array of fixed capacity with a fill count.
#pragma once

#include <cstdint>
#include <vector>

namespace serial {

class TVaCommBuffer {
public:
    explicit TVaCommBuffer(int Capacity);

    // Appends as many of the Count bytes as there is room for and returns that number (the callers make room
    // first; clipping keeps a mistake from running past the end of the array).
    int Write(const void* Data, int Count);
    // Copies up to Count bytes from the front; returns the number copied.
    int Peek(void* Data, int Count) const;
    int Read(void* Data, int Count);
    // Drops up to Count bytes from the front.
    void Remove(int Count);
    void Clear() { FCount = 0; }

    const std::uint8_t* DataPtr() const { return FData.data(); }
    int Count() const { return FCount; }
    int Capacity() const { return static_cast<int>(FData.size()); }
    int Free() const { return Capacity() - FCount; }

private:
    std::vector<std::uint8_t> FData;
    int FCount = 0;
};

} // namespace serial

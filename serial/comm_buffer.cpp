#include "serial/comm_buffer.h"

#include <algorithm>
#include <cstring>

namespace serial {

TVaCommBuffer::TVaCommBuffer(int Capacity) : FData(static_cast<std::size_t>(std::max(Capacity, 0))) {}

int TVaCommBuffer::Write(const void* Data, int Count) {
    const int n = std::clamp(Count, 0, Free());
    if (n > 0)
        std::memcpy(FData.data() + FCount, Data, static_cast<std::size_t>(n));
    FCount += n;
    return n;
}

int TVaCommBuffer::Peek(void* Data, int Count) const {
    const int n = std::clamp(Count, 0, FCount);
    if (n > 0)
        std::memcpy(Data, FData.data(), static_cast<std::size_t>(n));
    return n;
}

int TVaCommBuffer::Read(void* Data, int Count) {
    const int n = Peek(Data, Count);
    Remove(n);
    return n;
}

void TVaCommBuffer::Remove(int Count) {
    const int n = std::clamp(Count, 0, FCount);
    if (n == 0)
        return;
    std::memmove(FData.data(), FData.data() + n, static_cast<std::size_t>(FCount - n));
    FCount -= n;
}

} // namespace serial

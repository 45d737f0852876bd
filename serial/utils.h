// Small file, number and character helpers shared by the port and the file-transfer components.
#pragma once

#include <cstdint>
#include <string>

namespace serial {

// The text with "/" appended unless it is empty or already ends with "/".
std::string AddPathSlash(const std::string& Path);

// Size in bytes of the file (any kind of entry: a folder, a device), or -1 when nothing of that name exists.
std::int64_t GetFileSize(const std::string& FileName);

// FileName itself when no such file exists, otherwise the first free "name-N.ext" in the same folder.
std::string CreateUniqueFileName(const std::string& FileName);

inline int MinInteger(int A, int B) { return A < B ? A : B; }

// The character, or a blank for NUL (for showing control characters in a text).
inline char CN(char C) { return C == 0 ? ' ' : C; }

inline bool BitOn(std::uint32_t Value, std::uint32_t Mask) { return (Value & Mask) != 0; }
inline bool BitOff(std::uint32_t Value, std::uint32_t Mask) { return (Value & Mask) == 0; }

} // namespace serial

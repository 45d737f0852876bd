// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace atomic_file {

// Settings files are small; anything larger is not one and is refused rather than read into memory.
inline constexpr std::size_t maxReadSize = 64u * 1024u * 1024u;

// Reads the whole file. On failure returns false and puts the system's reason into `error`.
bool readAll(const std::string& path, std::string& bytes, std::string* error = nullptr,
             std::size_t maxSize = maxReadSize);

// Writes the bytes to a temporary file in the same folder, flushes it to disk and renames it over `path`, so
// that at every moment the file is either the old one or the new one. A symbolic link is followed and its
// target replaced; an existing file keeps its permissions. On failure the old file is untouched, the
// temporary file is removed, and the reason goes into `error`.
bool writeAll(const std::string& path, std::string_view bytes, std::string* error = nullptr);

} // namespace atomic_file

// Whole-file reads and crash-safe whole-file writes, shared by settings files, sound files and message files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace atomic_file {

// The reason of a system error in Russian, for the messages the technician reads ("Нет места на устройстве").
std::string reasonText(int err);

// Settings files are small; anything larger is not one and is refused rather than read into memory.
inline constexpr std::size_t maxReadSize = std::size_t{64} * 1024 * 1024;

// Reads the whole file. On failure returns false and puts the system's reason into `error`.
bool readAll(const std::string& path, std::string& bytes, std::string* error = nullptr,
             std::size_t maxSize = maxReadSize);

// Writes the bytes to a temporary file in the same folder, flushes it to disk and renames it over `path`, so
// that at every moment the file is either the old one or the new one. A symbolic link is followed and its
// target replaced; an existing file keeps its permissions. On failure the old file is untouched, the
// temporary file is removed, and the reason goes into `error`.
bool writeAll(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The crash-safe writer behind writeAll, for files written piece by piece (sound conversions) or put in place
// together with others (message files of a read). The temporary is a hidden file beside the target, locked for
// as long as this object has it, so that no other save takes it for abandoned and removes it; a temporary whose
// writer died is removed by the next write of the same target. Errors name the target and say why in Russian.
class Writer {
public:
    Writer() = default;
    ~Writer(); // an unfinished temporary is removed
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    Writer(Writer&& other) noexcept;
    Writer& operator=(Writer&& other) noexcept;

    // Creates the temporary for `path` with the mode the target has (or a new file would get).
    bool open(const std::string& path, std::string* error = nullptr);
    int fd() const { return fd_; }
    const std::string& target() const { return target_; }
    bool write(std::string_view bytes, std::string* error = nullptr);
    // Flushes the temporary's content to disk; after this only the rename is left.
    bool sync(std::string* error = nullptr);
    // Renames the temporary over the target and flushes the folder. Calls sync first when not done.
    bool commit(std::string* error = nullptr);
    // Removes the temporary; the target stays as it was.
    void discard();

private:
    bool fail(int err, std::string* error);
    int fd_ = -1;
    bool synced_ = false;
    std::string target_;
    std::string tmpPath_;
};

// An edit of one settings file from load to save: while one program holds it, another waits (up to
// `waitMs`) or is refused. The lock is taken on the file itself and follows it across the renames of saves.
// A file that does not exist yet needs no lock (acquire answers true).
class EditLock {
public:
    EditLock() = default;
    ~EditLock() { release(); }
    EditLock(const EditLock&) = delete;
    EditLock& operator=(const EditLock&) = delete;
    bool acquire(const std::string& path, int waitMs, std::string* error = nullptr);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace atomic_file

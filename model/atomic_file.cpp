#include "model/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace atomic_file {

std::string reasonText(int err) {
    switch (err) {
    case ENOENT:
        return "нет такого файла или папки";
    case EACCES:
    case EPERM:
        return "нет прав доступа";
    case ENOSPC:
        return "нет места на диске";
    case EDQUOT:
        return "превышена дисковая квота";
    case EROFS:
        return "диск доступен только для чтения";
    case EEXIST:
        return "файл уже существует";
    case ENOTDIR:
        return "часть пути не является папкой";
    case EISDIR:
        return "это папка, а не файл";
    case ELOOP:
        return "слишком много символических ссылок (ссылка на саму себя?)";
    case EFBIG:
        return "файл слишком велик (превышен предел размера файла)";
    case EIO:
        return "ошибка ввода-вывода";
    case EBUSY:
        return "файл занят";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case EMFILE:
    case ENFILE:
        return "слишком много открытых файлов";
    case EXDEV:
        return "файл на другом диске";
    case ENOTEMPTY:
        return "папка не пуста";
    case EAGAIN:
        return "файл занят другой программой";
    case EINVAL:
        return "это не обычный файл";
    case ENOMEM:
        return "недостаточно памяти";
    default:
        return std::string("системная ошибка ") + std::to_string(err) + " (" + std::strerror(err) + ")";
    }
}

namespace {

void setError(std::string* error, const std::string& what, int err) {
    if (error)
        *error = what + ": " + reasonText(err);
}

bool writeFully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The file a save should replace: the target of a symbolic link (possibly itself a link), so that a linked
// settings file stays linked.
std::string resolveTarget(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 16; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> buf(PATH_MAX + 1);
        const ssize_t n = ::readlink(current.c_str(), buf.data(), PATH_MAX);
        if (n <= 0)
            return current;
        std::string target(buf.data(), static_cast<std::size_t>(n));
        if (target.front() == '/')
            current = target;
        else
            current = folderOf(current).append("/").append(target);
    }
    return current;
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary of a save is a hidden file beside the target with a name no user file is likely to have; the
// six characters of mkstemp follow.
std::string temporaryPrefix(const std::string& target) { return "." + nameOf(target) + ".saving-"; }

// A save that was killed between creating its temporary and the rename leaves the temporary behind. Every
// running save holds a lock on its own temporary (the lock ends with the process), so one that can be locked
// belongs to nobody and goes; without this every crash would leave another copy of the file in the folder.
void removeAbandonedTemporaries(const std::string& folder, const std::string& target) {
    const std::string prefix = temporaryPrefix(target);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, name.c_str(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// Creates and locks the temporary. Another save may take a fresh temporary for abandoned between its creation
// and the lock and remove it; the name is then checked to still be this file, and a new one made otherwise.
int createTemporary(const std::string& folder, const std::string& target, std::string& tmpPath) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::string tmpl = folder + "/" + temporaryPrefix(target) + "XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        struct stat mine {
        }, named{};
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 && ::stat(name.data(), &named) == 0 &&
            mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
            tmpPath = name.data();
            return fd;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

} // namespace

bool readAll(const std::string& path, std::string& bytes, std::string* error, std::size_t maxSize) {
    // Opened without blocking: a named pipe given as a settings file must not hang the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        setError(error, path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        setError(error, path, errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setError(error, path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        if (data.size() + static_cast<std::size_t>(n) > maxSize) {
            setError(error, path, EFBIG);
            ::close(fd);
            return false;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    bytes = std::move(data);
    return true;
}

bool writeAll(const std::string& path, std::string_view bytes, std::string* error) {
    Writer writer;
    return writer.open(path, error) && writer.write(bytes, error) && writer.commit(error);
}

Writer::~Writer() { discard(); }

Writer::Writer(Writer&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), synced_(other.synced_), target_(std::move(other.target_)),
      tmpPath_(std::move(other.tmpPath_)) {}

Writer& Writer::operator=(Writer&& other) noexcept {
    if (this != &other) {
        discard();
        fd_ = std::exchange(other.fd_, -1);
        synced_ = other.synced_;
        target_ = std::move(other.target_);
        tmpPath_ = std::move(other.tmpPath_);
    }
    return *this;
}

bool Writer::fail(int err, std::string* error) {
    discard();
    setError(error, target_, err);
    return false;
}

void Writer::discard() {
    if (fd_ < 0)
        return;
    // Unlinked while still locked: no other save can have taken it for abandoned in between.
    ::unlink(tmpPath_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool Writer::open(const std::string& path, std::string* error) {
    discard();
    synced_ = false;
    target_ = resolveTarget(path);
    const std::string folder = folderOf(target_);
    // A rename would replace a file the user has made read-only; refuse as a plain write would.
    if (::access(target_.c_str(), F_OK) == 0 && ::access(target_.c_str(), W_OK) != 0) {
        setError(error, target_, errno);
        return false;
    }
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        setError(error, target_, EISDIR);
        return false;
    }
    removeAbandonedTemporaries(folder, target_);
    fd_ = createTemporary(folder, target_, tmpPath_);
    if (fd_ < 0) {
        setError(error, target_, errno);
        return false;
    }

    // mkstemp creates the file private; give it the old file's mode, or what a plain create would give.
    mode_t mode;
    struct stat old {};
    const bool haveOld = ::stat(target_.c_str(), &old) == 0;
    if (haveOld) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd_, mode) != 0)
        return fail(errno, error);
    // Keep the old file's owner where we may (saving as root must not take a user's file away from them).
    if (haveOld && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0) {
            // Not allowed to give the file away: the new file stays ours, as a plain create would leave it.
        }
    }
    return true;
}

bool Writer::write(std::string_view bytes, std::string* error) {
    if (fd_ < 0)
        return fail(EBADF, error);
    if (!writeFully(fd_, bytes.data(), bytes.size()))
        return fail(errno, error);
    synced_ = false;
    return true;
}

bool Writer::sync(std::string* error) {
    if (fd_ < 0)
        return fail(EBADF, error);
    if (::fsync(fd_) != 0)
        return fail(errno, error);
    synced_ = true;
    return true;
}

bool Writer::commit(std::string* error) {
    if (!synced_ && !sync(error))
        return false;
    // The temporary stays open, and so locked, until it has its final name: a lock dropped before the rename
    // let another save's clean-up delete the file under us.
    if (::rename(tmpPath_.c_str(), target_.c_str()) != 0)
        return fail(errno, error);
    ::close(fd_);
    fd_ = -1;
    // The rename itself lives in the folder; without this a crash could bring back the old file.
    const int dirFd = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool EditLock::acquire(const std::string& path, int waitMs, std::string* error) {
    release();
    const std::string target = resolveTarget(path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            if (errno == ENOENT)
                return true; // a new file: nothing to lose yet
            setError(error, target, errno);
            return false;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            setError(error, target, err);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // A save of the holder renamed a new file over the one locked here: the lock must be on the file
            // the name has now, or two edits would both go ahead.
            struct stat named {};
            if (::stat(target.c_str(), &named) == 0 && named.st_ino == st.st_ino && named.st_dev == st.st_dev) {
                fd_ = fd;
                return true;
            }
            ::close(fd);
            continue;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() >= deadline) {
            if (error)
                *error = target + ": файл изменяет другая программа";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void EditLock::release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace atomic_file

#include "model/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace atomic_file {
namespace {

void setError(std::string* error, const std::string& what, int err) {
    if (error)
        *error = what + ": " + std::strerror(err);
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
        current = target.front() == '/' ? target : folderOf(current) + "/" + target;
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
        struct stat mine {}, named {};
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
    const std::string target = resolveTarget(path);
    const std::string folder = folderOf(target);
    // A rename would replace a file the user has made read-only; refuse as a plain write would.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        setError(error, target, errno);
        return false;
    }
    removeAbandonedTemporaries(folder, target);
    std::string tmpPath;
    const int fd = createTemporary(folder, target, tmpPath);
    if (fd < 0) {
        setError(error, target, errno);
        return false;
    }

    // mkstemp creates the file private; give it the old file's mode, or what a plain create would give.
    mode_t mode;
    struct stat old {};
    const bool haveOld = ::stat(target.c_str(), &old) == 0;
    if (haveOld) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmpPath.c_str());
        setError(error, target, err);
        return false;
    };
    if (::fchmod(fd, mode) != 0)
        return fail(errno);
    // Keep the old file's owner where we may (saving as root must not take a user's file away from them).
    if (haveOld && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not allowed to give the file away: the new file stays ours, as a plain create would leave it.
        }
    }
    if (!writeFully(fd, bytes.data(), bytes.size()))
        return fail(errno);
    if (::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpPath.c_str());
        setError(error, target, err);
        return false;
    }
    if (::rename(tmpPath.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpPath.c_str());
        setError(error, target, err);
        return false;
    }
    // The rename itself lives in the folder; without this a crash could bring back the old file.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace atomic_file

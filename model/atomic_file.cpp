#include "model/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
    std::string tmpl = target + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        setError(error, target, errno);
        return false;
    }
    const std::string tmpPath(name.data());

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

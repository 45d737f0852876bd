#include "model/message_staging.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kCannotCreateFolder = "Невозможно создать папку сообщений ";
const char* const kCannotReadStaged = "Невозможно прочитать загруженный файл сообщения ";
const char* const kCannotWriteMessage = "Невозможно записать файл сообщения ";

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The entries of a folder in name order, so that the result does not depend on the file system's order.
std::vector<fs::directory_entry> sortedEntries(const std::string& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    return entries;
}

} // namespace

bool MessageStaging::makeFolder(const std::string& folder, std::string& error) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        error = kCannotCreateFolder + withSlash(folder) + ": " + atomic_file::reasonText(EEXIST);
        return false;
    }
    if (errno != ENOENT || ::mkdir(folder.c_str(), 0777) != 0) {
        error = kCannotCreateFolder + withSlash(folder) + ": " + atomic_file::reasonText(errno);
        return false;
    }
    madeFolders_.push_back(folder);
    return true;
}

bool MessageStaging::prepare(const std::string& staging, const std::string& messagesFolder, std::string& error) {
    discard();
    std::error_code ec;
    if (staging.empty() || !fs::is_directory(staging, ec))
        return true;
    const auto menus = sortedEntries(staging);
    bool anyFile = false;
    for (const auto& menu : menus)
        if (menu.is_directory(ec) && !sortedEntries(menu.path().string()).empty())
            anyFile = true;
    if (!anyFile)
        return true;

    std::string root = messagesFolder;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    auto failed = [&] {
        discard();
        return false;
    };
    if (!makeFolder(root, error))
        return failed();
    for (const auto& menu : menus) {
        if (!menu.is_directory(ec))
            continue;
        const auto files = sortedEntries(menu.path().string());
        if (files.empty())
            continue;
        const std::string targetFolder = root + "/" + menu.path().filename().string();
        if (!makeFolder(targetFolder, error))
            return failed();
        for (const auto& file : files) {
            const std::string from = file.path().string();
            const std::string to = targetFolder + "/" + file.path().filename().string();
            const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            struct stat st {};
            if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
                const int err = in < 0 ? errno : EINVAL;
                if (in >= 0)
                    ::close(in);
                error = kCannotReadStaged + from + ": " + atomic_file::reasonText(err);
                return failed();
            }
            atomic_file::Writer writer;
            std::string why;
            bool ok = writer.open(to, &why);
            char buf[65536];
            while (ok) {
                const ssize_t n = ::read(in, buf, sizeof buf);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    why = from + ": " + atomic_file::reasonText(errno);
                    ok = false;
                    break;
                }
                if (n == 0)
                    break;
                ok = writer.write(std::string_view(buf, static_cast<std::size_t>(n)), &why);
            }
            ::close(in);
            if (ok)
                ok = writer.sync(&why);
            if (!ok) {
                error = kCannotWriteMessage + why;
                return failed();
            }
            writers_.push_back(std::move(writer));
        }
    }
    return true;
}

bool MessageStaging::commit(std::string& error) {
    bool ok = true;
    for (auto& writer : writers_) {
        std::string why;
        if (!writer.commit(&why) && ok) {
            error = kCannotWriteMessage + why;
            ok = false;
        }
    }
    writers_.clear();
    madeFolders_.clear();
    return ok;
}

void MessageStaging::discard() {
    writers_.clear(); // each removes its temporary
    std::for_each(madeFolders_.rbegin(), madeFolders_.rend(),
                  [](const std::string& folder) { ::rmdir(folder.c_str()); });
    madeFolders_.clear();
}

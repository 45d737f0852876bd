#include "serial/utils.h"

#include <filesystem>
#include <system_error>

namespace serial {

namespace fs = std::filesystem;

std::string AddPathSlash(const std::string& Path) {
    if (Path.empty() || Path.back() == '/')
        return Path;
    return Path + '/';
}

std::int64_t GetFileSize(const std::string& FileName) {
    if (FileName.empty())
        return -1;
    std::error_code ec;
    const fs::path full = fs::absolute(FileName, ec);
    if (ec)
        return -1;
    const fs::file_status st = fs::status(full, ec);
    if (ec || !fs::exists(st))
        return -1;
    if (!fs::is_regular_file(st))
        return 0; // a folder or a device has no byte size of its own; it still matches, so it is not
                  // "missing"
    const auto size = fs::file_size(full, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

std::string CreateUniqueFileName(const std::string& FileName) {
    const std::size_t slash = FileName.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : FileName.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
    // The extension is what follows the last dot of the file part; a leading dot (".profile") is a name.
    const std::size_t dot = file.rfind('.');
    const std::string ext = (dot == std::string::npos || dot == 0) ? std::string() : file.substr(dot);
    std::string name = file;
    if (!ext.empty())
        name.erase(name.find(ext), ext.size());

    auto exists = [](const std::string& p) {
        std::error_code ec;
        return fs::exists(fs::symlink_status(p, ec)) && !ec;
    };
    std::string base = folder + name;
    for (unsigned n = 1; exists(base + ext); ++n)
        base = folder + name + "-" + std::to_string(n);
    return base + ext;
}

} // namespace serial

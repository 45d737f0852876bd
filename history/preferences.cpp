#include "history/preferences.h"

#include "model/atomic_file.h"
#include "model/ini_document.h"

#include <cstdlib>

namespace history {

std::string preferencesFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && *config == '/')
        base = config;
    else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/NORDAL/ZIRezid.conf";
}

namespace {
bool readBool(const IniDocument& doc, const char* key, bool fallback) {
    const auto v = doc.value("History", key);
    if (!v)
        return fallback;
    if (*v == "true" || *v == "1")
        return true;
    if (*v == "false" || *v == "0")
        return false;
    return fallback;
}
} // namespace

Preferences readPreferences(const std::string& file) {
    Preferences p;
    std::string bytes;
    if (!atomic_file::readAll(file, bytes, nullptr, 1024 * 1024))
        return p;
    const IniDocument doc = IniDocument::parse(bytes);
    p.downloadMessages = readBool(doc, "DownloadMessages", p.downloadMessages);
    p.preview = readBool(doc, "Preview", p.preview);
    p.allowWithoutHistory = readBool(doc, "AllowWithoutHistory", p.allowWithoutHistory);
    const std::int64_t mib = doc.readInteger("History", "SizeLimitMiB", -1);
    if (mib > 0)
        p.sizeLimit = static_cast<std::uintmax_t>(mib) * 1024 * 1024;
    return p;
}

} // namespace history

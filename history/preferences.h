// The history's preferences, kept in the program's preferences file (section [History]) so the window and
// zirezid-cli follow the same choices.
#pragma once

#include <cstdint>
#include <string>

namespace history {

struct Preferences {
    // The pre-write read also downloads every recorded message the write would replace or delete.
    bool downloadMessages = true;
    // The window shows the preview before a write (conflicts are always shown).
    bool preview = true;
    // The most the history folder may hold; the oldest snapshots go beyond it.
    std::uintmax_t sizeLimit = std::uintmax_t{1} << 30;
    // A write may go on without history after the technician agreed to it (the folder cannot take a
    // snapshot).
    bool allowWithoutHistory = false;
};

// $XDG_CONFIG_HOME/NORDAL/ZIRezid.conf, or ~/.config/NORDAL/ZIRezid.conf.
std::string preferencesFile();

// Reads the [History] keys DownloadMessages, Preview, AllowWithoutHistory (true/false) and SizeLimitMiB; a
// missing or unreadable value keeps its default.
Preferences readPreferences(const std::string& file = preferencesFile());

} // namespace history

// Message files a read brought from the unit wait in a staging folder until the read is applied; then they go
// into the database's messages folder all together or not at all, so that a failed or abandoned read never
// leaves some menus with the unit's recordings and others with the technician's, or a half-written file.
#pragma once

#include "model/atomic_file.h"

#include <string>
#include <vector>

class MessageStaging {
public:
    MessageStaging() = default;
    ~MessageStaging() { discard(); }
    MessageStaging(const MessageStaging&) = delete;
    MessageStaging& operator=(const MessageStaging&) = delete;

    // Copies every staged file (staging/<menu folder>/<file>) into a temporary beside its place in the messages
    // folder, making the folders that are missing, and flushes them to disk. Nothing in the messages folder is
    // replaced yet. On the first failure everything made so far is removed and `error` says what failed, where
    // and why. A staging folder that does not exist or is empty has nothing to apply.
    bool prepare(const std::string& staging, const std::string& messagesFolder, std::string& error);
    // Puts the prepared files in their places (renames only: no space is needed any more).
    bool commit(std::string& error);
    // Removes what prepare made; the messages folder is as it was before.
    void discard();
    std::size_t fileCount() const { return writers_.size(); }

private:
    bool makeFolder(const std::string& folder, std::string& error);
    std::vector<atomic_file::Writer> writers_;
    std::vector<std::string> madeFolders_;
};

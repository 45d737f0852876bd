// The history folder: one folder per unit, in it one folder per snapshot, named by its UTC time and kind
// ("20261208T175421.123Z-before-write"). A snapshot holds a complete settings file (unit.qor), its messages
// folder (unit.messages/) and a small index. A snapshot is written into a hidden folder beside its place and
// renamed into place only when whole, so the history never lists a half-written one.
#pragma once

#include "history/unit_identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SettingsDatabase;

namespace history {

inline constexpr const char* kKindRead = "read";
inline constexpr const char* kKindBeforeWrite = "before-write";
inline constexpr const char* kKindAfterWrite = "after-write";

inline constexpr const char* kDatabaseFile = "unit.qor";
inline constexpr const char* kMessagesFolder = "unit.messages/";
inline constexpr const char* kIndexFile = "index";

// The default size limit of the history folder.
inline constexpr std::uintmax_t kDefaultSizeLimit = std::uintmax_t{1} << 30;

struct SnapshotIndex {
    std::string time; // UTC, 2026-12-08T17:54:21.123Z
    std::string kind;
    std::string unit; // the unit's folder name
    std::string softVersion;
    std::vector<std::string> objects;  // object names whose values are the unit's
    std::vector<std::string> messages; // "MENU(0):hi.wav" for each recorded message held
    std::string summary;               // one line
    std::string database;              // the settings file this state was read into or written from
    // A before-write of a restore: the snapshot the restore puts back (its folder), and whether every object
    // of it reached the unit. A restore cut short is finished, not undone, by the next restore without a name.
    std::string restores;
    bool complete = false;
};

struct Snapshot {
    std::string path; // the snapshot's folder, ending in "/"
    std::string name; // its folder name
    SnapshotIndex index;
    bool holds(const std::string& objectName) const;
    std::string databaseFile() const { return path + kDatabaseFile; }
    std::string messagesFolder() const { return path + kMessagesFolder; }
};

class SnapshotStore;

// A snapshot being written: its hidden folder, removed unless committed.
class PendingSnapshot {
public:
    PendingSnapshot() = default;
    ~PendingSnapshot();
    PendingSnapshot(PendingSnapshot&& other) noexcept;
    PendingSnapshot& operator=(PendingSnapshot&& other) noexcept;
    PendingSnapshot(const PendingSnapshot&) = delete;
    PendingSnapshot& operator=(const PendingSnapshot&) = delete;

    bool valid() const { return !dir_.empty(); }
    const std::string& dir() const { return dir_; }
    std::string messagesFolder() const { return dir_ + kMessagesFolder; }
    // The settings file of the database, crash-safe. The database is only read.
    bool writeDatabase(SettingsDatabase& db, std::string& error);
    // Copies a message file into the snapshot's messages folder under <menu folder>/<name>.
    bool addMessage(const std::string& source, const std::string& menuFolder, const std::string& name,
                    std::string& error);
    // Writes the index and renames the folder into place; the snapshot as listed afterwards.
    std::optional<Snapshot> commit(SnapshotIndex index, std::string& error);
    // Removes what was written.
    void discard();

private:
    friend class SnapshotStore;
    std::string dir_;
    std::string unitFolder_;
    std::string kind_;
};

class SnapshotStore {
public:
    explicit SnapshotStore(std::string root);
    // $XDG_DATA_HOME/zirezid/units, or ~/.local/share/zirezid/units.
    static std::string defaultRoot();
    const std::string& root() const { return root_; }

    // Whether a snapshot can be written: the folder is made when missing and a probe file written in it. On
    // failure `error` names the folder and says why.
    bool ready(std::string& error) const;
    // A new snapshot of the unit; invalid (and `error` set) when its folder cannot be made.
    PendingSnapshot begin(const UnitIdentity& unit, const std::string& kind, std::string& error) const;

    std::vector<std::string> units() const;
    // The snapshots of a unit (its folder name), newest first.
    std::vector<Snapshot> list(const std::string& unit) const;
    std::optional<Snapshot> newest(const std::string& unit, const std::string& kind) const;
    // What "undo the last write" puts back on the unit: the newest before-write, unless it was taken by a
    // restore that did not reach the unit whole; then the snapshot that restore was putting back. nullopt when
    // there is none (`error` then says why when the history names a snapshot that is gone).
    std::optional<Snapshot> undoTarget(const std::string& unit, std::string& error) const;
    // A snapshot named by its folder path, by "UNIT/NAME", or by its NAME within the unit.
    std::optional<Snapshot> find(const std::string& spec, const std::string& unit = {}) const;
    // Records that the snapshot's state was taken into the settings file (a read applied and saved).
    bool noteDatabase(const Snapshot& snapshot, const std::string& databasePath, std::string& error) const;
    // Records that the restore whose before-write this is reached the unit whole.
    bool noteComplete(const Snapshot& snapshot, std::string& error) const;

    // The bytes the history folder holds.
    std::uintmax_t size() const;
    // Removes the oldest snapshots until the folder holds at most `limit` bytes; never the newest
    // before-write of a unit, its undoTarget, nor the snapshot at `keep`. The names of the removed snapshots.
    std::vector<std::string> prune(std::uintmax_t limit, const std::string& keep = {}) const;

private:
    std::string root_;
};

// Loads a snapshot's settings file into the database, its messages folder the snapshot's; false after the
// model's usual messages.
bool loadSnapshot(const Snapshot& snapshot, SettingsDatabase& db);

// Reads an index file; nullopt when it cannot be read.
std::optional<SnapshotIndex> readIndex(const std::string& path);

} // namespace history

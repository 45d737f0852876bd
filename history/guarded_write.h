// A write to the unit that keeps what it destroys: before anything is sent it reads from the unit every
// object it is about to write (and, by preference, downloads every recorded message the write would replace
// or delete) into a before-write snapshot, works out the preview and the conflicts with changes made on the
// unit since the database was read from it, and only when the technician goes on does it write; after the
// write an after-write snapshot records what the unit holds. Reads leave read snapshots the same way.
#pragma once

#include "history/preferences.h"
#include "history/preview.h"
#include "history/snapshot_store.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class KT_TABLE;
class SettingsDatabase;

namespace devlink {
class DeviceLink;
class LinkUi;
} // namespace devlink

namespace history {

using ObjectList = std::vector<std::pair<std::string, KT_TABLE*>>;

namespace text {
inline constexpr const char* preRead = "Чтение перед записью: ";
inline constexpr const char* preReadMessage = "Сохранение сообщения перед записью: ";
inline constexpr const char* nothingSent = "Запись не выполнена: на устройство ничего не передано.";
inline constexpr const char* cancelled = "Запись отменена: на устройство ничего не передано.";
inline constexpr const char* statusRead = "Прочитано";
inline constexpr const char* statusNotRead = "Не прочитано";
} // namespace text

struct WriteOutcome {
    enum class Status {
        Written,     // the write ran (see written for how far)
        Unchanged,   // a dry run: the unit already matches
        WouldChange, // a dry run: the write would change the unit
        Cancelled,   // the technician cancelled at the preview
        Refused,     // the history cannot take the snapshot, or conflicts without a choice
        Stopped,     // the pre-write read was stopped or failed
    };
    Status status = Status::Refused;
    int written = 0;     // objects the link reports written
    std::string message; // why it was refused
    Preview preview;
    std::optional<Snapshot> before;
    std::optional<Snapshot> after;
};

class GuardedWrite {
public:
    // The link must be connected; its database is the one written (link.database). ui is the link's own.
    GuardedWrite(devlink::DeviceLink& link, devlink::LinkUi& ui, SnapshotStore& store, Preferences preferences);

    ObjectList objects; // (caption, object of the link's database), as the link's job lists them
    bool dryRun = false;
    // For a restore: the snapshot being put back (its folder). The before-write records it, and whether the
    // restore reached the unit whole, for SnapshotStore::undoTarget.
    std::string restoring;
    // Shown the preview before anything is sent; may change the choices of its conflicts and unit changes.
    // False cancels. Without it the write goes on (conflicts then refuse the write).
    std::function<bool(Preview&)> approve;
    // Asked when the history folder cannot take the snapshot and the preferences allow writing without it.
    std::function<bool(const std::string& question)> askWithoutHistory;

    WriteOutcome run();

private:
    bool preRead(SettingsDatabase& unitNow, PendingSnapshot& pending, Preview& preview, WriteOutcome& outcome);
    void findConflicts(SettingsDatabase& unitNow, Preview& preview);
    void buildChanges(SettingsDatabase& unitNow, Preview& preview);
    std::optional<Snapshot> afterWrite(SettingsDatabase& unitNow, const std::optional<Snapshot>& before,
                                       const std::vector<std::string>& names);
    devlink::DeviceLink& link_;
    devlink::LinkUi& ui_;
    SnapshotStore& store_;
    Preferences preferences_;
    UnitIdentity unit_;
};

// Leaves a read snapshot of what a read brought (the link's pending answers for its listed objects and, when
// downloaded, the messages in downloadFolder). nullopt when nothing was read or the snapshot could not be
// written (error says why; the read itself is not affected).
std::optional<Snapshot> recordRead(SnapshotStore& store, const Preferences& preferences,
                                   const devlink::DeviceLink& link, std::string& error);

// Prepares a restore of the snapshot: the database is loaded from it and objects lists the objects it holds,
// ready for a GuardedWrite. Refused (false, error says why) when the snapshot does not load or a message it
// names is missing from it: a snapshot is never written to a unit partially.
bool prepareRestore(const Snapshot& snapshot, SettingsDatabase& db, ObjectList& objects, std::string& error);

} // namespace history

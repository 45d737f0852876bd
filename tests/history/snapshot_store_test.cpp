#include "history/preferences.h"
#include "history/snapshot_store.h"
#include "model/unit_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace history;

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string t = (fs::temp_directory_path() / "history-test-XXXXXX").string();
        if (!mkdtemp(t.data()))
            throw std::runtime_error("mkdtemp");
        path = t;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

// A snapshot of the unit holding a file of `bytes` bytes besides its settings file.
// `restores` names the snapshot a restore puts back, for the before-write of a restore.
Snapshot take(const SnapshotStore& store, const UnitIdentity& unit, const char* kind, std::size_t bytes,
              const std::string& restores = {}) {
    std::string error;
    PendingSnapshot pending = store.begin(unit, kind, error);
    EXPECT_TRUE(pending.valid()) << error;
    SettingsDatabase db;
    db.buildNewBase(pending.dir() + kDatabaseFile);
    EXPECT_TRUE(pending.writeDatabase(db, error)) << error;
    const fs::path payload = fs::path(pending.dir()) / "payload";
    std::ofstream(payload, std::ios::binary) << std::string(bytes, 'x');
    EXPECT_TRUE(pending.addMessage(payload.string(), "50001", "m.wav", error)) << error;
    fs::remove(payload);
    SnapshotIndex index;
    index.unit = unit.folderName();
    index.objects = {"SYSPARAM", "MENU(0)"};
    index.messages = {"MENU(0):m.wav"};
    index.summary = "одна строка\nбез переноса";
    index.restores = restores;
    auto s = pending.commit(index, error);
    EXPECT_TRUE(s.has_value()) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    return s.value_or(Snapshot{});
}

} // namespace

TEST(SnapshotStore, ASnapshotAppearsWholeOnlyWhenCommittedAndItsIndexReadsBack) {
    TempFolder dir;
    const SnapshotStore store(dir.path.string());
    std::string error;
    ASSERT_TRUE(store.ready(error)) << error;
    const UnitIdentity unit{"QOR22", "100001", "1.00.00"};
    {
        PendingSnapshot abandoned = store.begin(unit, kKindBeforeWrite, error);
        ASSERT_TRUE(abandoned.valid());
        std::ofstream(abandoned.dir() + kDatabaseFile) << "half";
        EXPECT_TRUE(store.list("QOR22-100001").empty()); // never listed while being written
    }                                                    // an unfinished snapshot goes with its writer
    EXPECT_TRUE(fs::is_empty(dir.path / "QOR22-100001"));

    const Snapshot s = take(store, unit, kKindRead, 10);
    const auto listed = store.list("QOR22-100001");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].index.kind, "read");
    EXPECT_EQ(listed[0].index.objects, (std::vector<std::string>{"SYSPARAM", "MENU(0)"}));
    EXPECT_EQ(listed[0].index.summary, "одна строка без переноса");
    EXPECT_TRUE(listed[0].holds("MENU(0)"));
    EXPECT_TRUE(fs::exists(listed[0].messagesFolder() + "50001/m.wav"));
    EXPECT_EQ(store.find("QOR22-100001/" + s.name)->path, s.path);
    EXPECT_EQ(store.find(s.name, "QOR22-100001")->path, s.path);
    EXPECT_FALSE(store.find("nothing", "QOR22-100001"));
    SettingsDatabase db;
    EXPECT_TRUE(loadSnapshot(listed[0], db));
    EXPECT_EQ(db.messagesFolder, listed[0].messagesFolder());
    ASSERT_TRUE(store.noteDatabase(listed[0], "/sites/a.qor", error)) << error;
    EXPECT_EQ(store.list("QOR22-100001")[0].index.database, "/sites/a.qor");
}

TEST(SnapshotStore, UnitsWithoutASerialNumberAndFolderNames) {
    SettingsDatabase db;
    db.buildNewBase("x.qor");
    UnitIdentity unit = identify(db);
    EXPECT_FALSE(unit.identified());
    EXPECT_EQ(unit.folderName(), "QOR22-unknown");
    ASSERT_TRUE(db.deviceInfo->findChild("SerialNum")->setText("4711"));
    ASSERT_TRUE(db.deviceInfo->findChild("ConfigID")->setText("19"));
    unit = identify(db);
    EXPECT_EQ(unit.folderName(), "QOR11-4711");
    UnitIdentity parsed;
    EXPECT_TRUE(parseFolderName("QOR22-unknown", parsed));
    EXPECT_FALSE(parsed.identified());
    EXPECT_FALSE(parseFolderName("QOR22-12a", parsed));
    EXPECT_FALSE(parseFolderName("-12", parsed));
}

TEST(SnapshotStore, TheSizeLimitRemovesTheOldestButNeverTheNewestBeforeWriteOfAUnit) {
    TempFolder dir;
    const SnapshotStore store(dir.path.string());
    const UnitIdentity a{"QOR22", "1", ""}, b{"QOR11", "2", ""};
    const Snapshot oldBefore = take(store, a, kKindBeforeWrite, 100000);
    const Snapshot newestBefore = take(store, a, kKindBeforeWrite, 100000);
    const Snapshot readA = take(store, a, kKindRead, 100000);
    const Snapshot onlyBeforeOfB = take(store, b, kKindBeforeWrite, 100000);
    const Snapshot readB = take(store, b, kKindRead, 100000);
    const auto removed = store.prune(250000, readB.path);
    // Oldest first until it fits: the old before-write of A, then A's read; B's only before-write and the
    // snapshot just taken stay.
    EXPECT_EQ(removed, (std::vector<std::string>{"QOR22-1/" + oldBefore.name, "QOR22-1/" + readA.name}));
    EXPECT_TRUE(fs::exists(newestBefore.path));
    EXPECT_TRUE(fs::exists(onlyBeforeOfB.path));
    EXPECT_TRUE(fs::exists(readB.path));
    // A limit the protected snapshots alone exceed removes the rest and no more.
    EXPECT_TRUE(store.prune(1, readB.path).empty());
    EXPECT_EQ(store.list("QOR22-1").size(), 1u);
}

TEST(SnapshotStore, AnUndoAfterARestoreCutShortFinishesThatRestoreInsteadOfUndoingIt) {
    TempFolder dir;
    const SnapshotStore store(dir.path.string());
    const UnitIdentity a{"QOR22", "1", ""};
    std::string error;
    EXPECT_FALSE(store.undoTarget("QOR22-1", error).has_value());
    EXPECT_EQ(error, "");
    const Snapshot write = take(store, a, kKindBeforeWrite, 1000);
    take(store, a, kKindAfterWrite, 1000);
    const auto target = [&] {
        error.clear();
        const auto t = store.undoTarget("QOR22-1", error);
        return t ? t->path : "none: " + error;
    };
    EXPECT_EQ(target(), write.path);
    // Restores of it cut short, once and again: each newer before-write holds a half-way state.
    take(store, a, kKindBeforeWrite, 1000, write.path);
    take(store, a, kKindAfterWrite, 1000);
    EXPECT_EQ(target(), write.path);
    const Snapshot cutAgain = take(store, a, kKindBeforeWrite, 1000, write.path);
    EXPECT_EQ(target(), write.path);
    // The size limit keeps what the undo needs, though it is no longer the newest before-write.
    store.prune(1);
    EXPECT_TRUE(fs::exists(write.path));
    EXPECT_TRUE(fs::exists(cutAgain.path));
    // A restore that reached the unit whole is undone like any write.
    const Snapshot whole = take(store, a, kKindBeforeWrite, 1000, write.path);
    ASSERT_TRUE(store.noteComplete(whole, error)) << error;
    EXPECT_EQ(target(), whole.path);
    // A cut restore whose snapshot has been removed by hand: said, not guessed.
    take(store, a, kKindBeforeWrite, 1000, (dir.path / "QOR22-1" / "20200101T000000.000Z-before-write").string());
    EXPECT_EQ(store.undoTarget("QOR22-1", error), std::nullopt);
    EXPECT_NE(error.find("20200101T000000.000Z-before-write"), std::string::npos) << error;
}

TEST(SnapshotStore, AFolderThatCannotBeMadeIsNamedInTheRefusal) {
    TempFolder dir;
    std::ofstream(dir.path / "file") << "x";
    const SnapshotStore store((dir.path / "file" / "units").string());
    std::string error;
    EXPECT_FALSE(store.ready(error));
    EXPECT_NE(error.find((dir.path / "file" / "units").string()), std::string::npos) << error;
    EXPECT_FALSE(store.begin({"QOR22", "1", ""}, kKindRead, error).valid());
}

TEST(Preferences, ReadFromTheHistorySectionWithDefaultsForWhatIsMissingOrBad) {
    TempFolder dir;
    const std::string file = (dir.path / "ZIRezid.conf").string();
    Preferences p = readPreferences(file);
    EXPECT_TRUE(p.downloadMessages);
    EXPECT_TRUE(p.preview);
    EXPECT_EQ(p.sizeLimit, std::uintmax_t{1} << 30);
    std::ofstream(file) << "[History]\r\nDownloadMessages=false\r\nPreview=maybe\r\nSizeLimitMiB=5\r\n";
    p = readPreferences(file);
    EXPECT_FALSE(p.downloadMessages);
    EXPECT_TRUE(p.preview);
    EXPECT_EQ(p.sizeLimit, 5u * 1024 * 1024);
}

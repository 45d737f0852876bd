// The crash-safe writer, the edit lock and the all-or-nothing put-in-place of a read's message files, on real
// files: concurrent writers, a second editor, folders that are files, read-only places.
#include "model/atomic_file.h"
#include "model/message_staging.h"
#include "model/unit_config.h"

#include "fake_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& p) {
    std::string bytes;
    EXPECT_TRUE(atomic_file::readAll(p.string(), bytes)) << p;
    return bytes;
}

void writeBytes(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    ASSERT_TRUE(atomic_file::writeAll(p.string(), bytes));
}

std::size_t entriesIn(const fs::path& folder) {
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

class FileSafety : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-safety-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    fake::Host host;
    fs::path dir;
};

TEST_F(FileSafety, ConcurrentSavesOfOneFileAllSucceedAndLeaveNoTemporary) {
    // Each save's clean-up of abandoned temporaries must never take another running save's temporary.
    const std::string target = (dir / "site.qor").string();
    writeBytes(target, "start");
    std::atomic<int> failures{0};
    std::string firstError;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                std::string error;
                if (!atomic_file::writeAll(target, "writer " + std::to_string(t) + " save " + std::to_string(i),
                                           &error) &&
                    failures++ == 0)
                    firstError = error;
            }
        });
    for (auto& w : writers)
        w.join();
    EXPECT_EQ(failures.load(), 0) << firstError;
    EXPECT_EQ(readBytes(target).rfind("writer ", 0), 0u);
    EXPECT_EQ(entriesIn(dir), 1u) << "a temporary was left beside the file";
}

TEST_F(FileSafety, WriterLeavesTheOldFileUntilCommitAndRemovesAnAbandonedTemporary) {
    const fs::path target = dir / "tone.ktm";
    writeBytes(target, "old");
    {
        atomic_file::Writer w;
        ASSERT_TRUE(w.open(target.string()));
        ASSERT_TRUE(w.write("new, half"));
        EXPECT_EQ(readBytes(target), "old");
        EXPECT_EQ(entriesIn(dir), 2u);
    } // dropped without commit: as if the conversion failed
    EXPECT_EQ(readBytes(target), "old");
    EXPECT_EQ(entriesIn(dir), 1u);

    // A temporary whose writer was killed (nobody holds its lock) goes with the next write of the target.
    writeBytes(dir / ".tone.ktm.saving-AbCdEf", "left by a killed conversion");
    atomic_file::Writer w;
    ASSERT_TRUE(w.open(target.string()));
    ASSERT_TRUE(w.write("new"));
    ASSERT_TRUE(w.commit());
    EXPECT_EQ(readBytes(target), "new");
    EXPECT_EQ(entriesIn(dir), 1u);

    // A failure names the file and says why in Russian.
    std::string error;
    EXPECT_FALSE(atomic_file::writeAll((dir / "no" / "x.ktm").string(), "x", &error));
    EXPECT_EQ(error, (dir / "no" / "x.ktm").string() + ": нет такого файла или папки");
}

TEST_F(FileSafety, EditLockMakesASecondEditorWaitAndFollowsTheRenameOfASave) {
    const std::string path = (dir / "site.qor").string();
    writeBytes(path, "v1");
    atomic_file::EditLock first;
    ASSERT_TRUE(first.acquire(path, 0));

    // While the first editor holds the file a second one is refused after its wait.
    atomic_file::EditLock second;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(second.acquire(path, 100, &error));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(error, path + ": файл изменяет другая программа");

    // The first saves (a new file renamed over the locked one) and ends; the waiting editor gets the new file.
    std::thread waiter([&] { EXPECT_TRUE(second.acquire(path, 5000)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(second.held());
    ASSERT_TRUE(atomic_file::writeAll(path, "v2"));
    first.release();
    waiter.join();
    EXPECT_TRUE(second.held());
    // And it holds the file the name has now: a third editor must wait for it.
    atomic_file::EditLock third;
    EXPECT_FALSE(third.acquire(path, 0));

    // A file that does not exist yet has nothing to lose.
    atomic_file::EditLock fresh;
    EXPECT_TRUE(fresh.acquire((dir / "new.qor").string(), 0));
}

TEST_F(FileSafety, StagedMessagesArrivePutTogetherOrNotAtAll) {
    const fs::path staging = dir / "staging";
    const fs::path messages = dir / "site.messages";
    writeBytes(staging / "50001" / "greeting.wav", "unit 0");
    writeBytes(staging / "50101" / "hello.wav", "unit 1");
    writeBytes(messages / "50001" / "greeting.wav", "technician 0");
    writeBytes(messages / "50001" / "other.wav", "kept");

    // Prepared but not committed (the read was closed, or saving the file failed): nothing changed.
    {
        MessageStaging staged;
        std::string error;
        ASSERT_TRUE(staged.prepare(staging.string(), messages.string() + "/", error)) << error;
        EXPECT_EQ(staged.fileCount(), 2u);
        EXPECT_EQ(readBytes(messages / "50001" / "greeting.wav"), "technician 0");
        EXPECT_FALSE(fs::exists(messages / "50101" / "hello.wav"));
    }
    EXPECT_EQ(readBytes(messages / "50001" / "greeting.wav"), "technician 0");
    EXPECT_FALSE(fs::exists(messages / "50101")) << "a folder made for a discarded read stayed";
    EXPECT_EQ(entriesIn(messages), 3u);

    // The place of the second menu's message is taken by a file: the first menu keeps its old message too.
    writeBytes(messages / "50101", "not a folder");
    {
        MessageStaging staged;
        std::string error;
        EXPECT_FALSE(staged.prepare(staging.string(), messages.string() + "/", error));
        EXPECT_EQ(error,
                  "Невозможно создать папку сообщений " + (messages / "50101").string() + "/: файл уже существует");
    }
    EXPECT_EQ(readBytes(messages / "50001" / "greeting.wav"), "technician 0");
    EXPECT_EQ(entriesIn(messages), 4u);
    fs::remove(messages / "50101");

    // A messages folder that is a link to itself.
    const fs::path loop = dir / "loop.messages";
    fs::create_symlink(loop, loop);
    {
        MessageStaging staged;
        std::string error;
        EXPECT_FALSE(staged.prepare(staging.string(), loop.string() + "/", error));
        EXPECT_NE(error.find("символических ссылок"), std::string::npos) << error;
    }

    // Applied: both arrive, the other file of the menu stays, no temporaries are left.
    MessageStaging staged;
    std::string error;
    ASSERT_TRUE(staged.prepare(staging.string(), messages.string() + "/", error)) << error;
    ASSERT_TRUE(staged.commit(error)) << error;
    EXPECT_EQ(readBytes(messages / "50001" / "greeting.wav"), "unit 0");
    EXPECT_EQ(readBytes(messages / "50101" / "hello.wav"), "unit 1");
    EXPECT_EQ(readBytes(messages / "50001" / "other.wav"), "kept");
    EXPECT_EQ(entriesIn(messages), 5u);

    // Nothing staged: nothing to do, nothing made.
    MessageStaging empty;
    EXPECT_TRUE(empty.prepare((dir / "nothing").string(), (dir / "absent.messages/").string(), error));
    EXPECT_FALSE(fs::exists(dir / "absent.messages"));
}

TEST_F(FileSafety, AMessageThatCannotBeReplacedFailsThePrepareAndKeepsTheOthers) {
    const fs::path staging = dir / "staging";
    const fs::path messages = dir / "site.messages";
    writeBytes(staging / "50001" / "a.wav", "unit a");
    writeBytes(staging / "50002" / "b.wav", "unit b");
    writeBytes(messages / "50001" / "a.wav", "old a");
    fs::create_directories(messages / "50002" / "b.wav" / "inside"); // a folder where the file goes
    MessageStaging staged;
    std::string error;
    EXPECT_FALSE(staged.prepare(staging.string(), messages.string(), error));
    EXPECT_EQ(error, "Невозможно записать файл сообщения " + (messages / "50002" / "b.wav").string() +
                         ": это папка, а не файл");
    EXPECT_EQ(readBytes(messages / "50001" / "a.wav"), "old a");
    EXPECT_EQ(entriesIn(messages), 5u);
}

TEST_F(FileSafety, ADatabaseNoticesAnotherProgramsSaveOfItsFile) {
    SettingsDatabase db;
    const std::string path = (dir / "site.qor").string();
    db.buildNewBase(path);
    EXPECT_FALSE(db.changedOnDisk()); // never saved: nothing to compare with
    ASSERT_TRUE(db.saveBase(path));
    EXPECT_FALSE(db.changedOnDisk());

    // Another program saves the file (same size, and it may be within the same clock tick).
    SettingsDatabase other;
    ASSERT_TRUE(other.loadBase(path));
    ASSERT_TRUE(other.saveBase(path));
    EXPECT_TRUE(db.changedOnDisk());
    ASSERT_TRUE(db.saveBase(path));
    EXPECT_FALSE(db.changedOnDisk());

    // Loaded, then changed by someone else; removed: nothing left to overwrite.
    ASSERT_TRUE(db.loadBase(path));
    EXPECT_FALSE(db.changedOnDisk());
    ASSERT_TRUE(atomic_file::writeAll(path, readBytes(path) + "[OTHER]\r\nKey=1\r\n"));
    EXPECT_TRUE(db.changedOnDisk());
    fs::remove(path);
    EXPECT_FALSE(db.changedOnDisk());
}

} // namespace

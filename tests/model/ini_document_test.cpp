#include "model/atomic_file.h"
#include "model/ini_document.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string readBytes(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(atomic_file::readAll(path, bytes));
    return bytes;
}

const std::string dataDir = TEST_DATA_DIR;

TEST(IniDocument, ReadsWindows1251WithCrLfAndWritesItBackByteForByte) {
    IniDocument doc;
    ASSERT_TRUE(readIniFile(dataDir + "/crlf_basic.ini", doc));
    EXPECT_EQ(doc.value("SYSPARAM", "Password"), "7316");
    EXPECT_EQ(doc.value("MENU(0)", "Desc"), "'Главное'");
    EXPECT_EQ(doc.value("Foreign", "Keep"), "me please");
    EXPECT_EQ(doc.readInteger("SYSPARAM", "isVisible", 0), 1);
    EXPECT_EQ(doc.sections(), (std::vector<std::string>{"SYSPARAM", "Foreign", "MENU(0)"}));

    std::string out;
    ASSERT_TRUE(doc.serialize(out));
    EXPECT_EQ(out, readBytes(dataDir + "/crlf_basic.ini"));

    // Writing the same values again changes nothing; a changed value changes only its own line.
    doc.writeString("SYSPARAM", "Password", "7316");
    ASSERT_TRUE(doc.serialize(out));
    EXPECT_EQ(out, readBytes(dataDir + "/crlf_basic.ini"));
    doc.writeString("MENU(0)", "Desc", "'Ночное'");
    doc.writeString("SYSPARAM", "NewKey", "5");
    ASSERT_TRUE(doc.serialize(out));
    const IniDocument again = IniDocument::parse(out);
    EXPECT_EQ(again.value("MENU(0)", "Desc"), "'Ночное'");
    EXPECT_EQ(again.keys("SYSPARAM"), (std::vector<std::string>{"isVisible", "Password", "NewKey"}));
    EXPECT_NE(out.find("Password=7316\r\nNewKey=5\r\n\r\n[Foreign]"), std::string::npos);
    EXPECT_NE(out.find("; comment stays\r\n"), std::string::npos);
    EXPECT_NE(out.find("Desc='\xCD\xEE\xF7\xED\xEE\xE5'\r\n"), std::string::npos);
}

TEST(IniDocument, NamesIgnoreLetterCaseAndFirstDuplicateWins) {
    IniDocument doc;
    ASSERT_TRUE(readIniFile(dataDir + "/lf_duplicates.ini", doc));
    // "[sysparam]" and "[SYSPARAM]" are one name: the first section is read, the second kept but ignored.
    EXPECT_EQ(doc.value("SYSPARAM", "password"), "1234");
    EXPECT_EQ(doc.sections().size(), 1u);
    EXPECT_EQ(doc.value("SysParam", "Key"), "=a=b"); // the value is everything after the first "="
    EXPECT_FALSE(doc.hasKey("SYSPARAM", "noequals line"));
    EXPECT_FALSE(doc.hasKey("SYSPARAM", ""));
    EXPECT_EQ(doc.readInteger("SYSPARAM", "Key", -7), -7); // not a number

    doc.writeString("sysPARAM", "PassWord", "4321");
    std::string out;
    ASSERT_TRUE(doc.serialize(out));
    // LF input comes back with CR LF; the duplicates survive untouched.
    EXPECT_EQ(out, "[sysparam]\r\nPASSWORD=4321\r\nnoequals line\r\n=novalue\r\nKey==a=b\r\n"
                   "[SYSPARAM]\r\nPassword=9999\r\nPassword=5555\r\n");

    IniDocument cyr;
    cyr.writeString("Меню", "Ключ", "1");
    EXPECT_EQ(cyr.value("мЕНЮ", "КЛЮЧ"), "1");
    EXPECT_EQ(cyr.value("Ёж", "x"), std::nullopt);
    cyr.writeString("ЁЖ", "x", "2");
    EXPECT_EQ(cyr.value("ёж", "X"), "2");
}

TEST(IniDocument, NewDocumentKeepsOrderOfFirstWriting) {
    IniDocument doc;
    doc.writeString("B", "k2", "2");
    doc.writeString("A", "k1", "1");
    doc.writeString("B", "k1", "3");
    doc.writeString("b", "K2", "4");
    doc.writeInteger("A", "n", -12);
    std::string out;
    ASSERT_TRUE(doc.serialize(out));
    EXPECT_EQ(out, "[B]\r\nk2=4\r\nk1=3\r\n[A]\r\nk1=1\r\nn=-12\r\n");
    EXPECT_EQ(IniDocument::parse(out).readInteger("A", "n", 0), -12);
}

TEST(IniDocument, RefusesToWriteWhatTheFileCannotHold) {
    IniDocument doc;
    doc.writeString("MENU(1)", "Desc", "'中文'");
    std::string out = "untouched";
    std::string error;
    EXPECT_FALSE(doc.serialize(out, &error));
    EXPECT_EQ(out, "untouched");
    EXPECT_NE(error.find("Desc"), std::string::npos);

    IniDocument inject;
    inject.writeString("S", "Desc", "'a'\r\n[SYSPARAM]\r\nPassword=00");
    EXPECT_FALSE(inject.serialize(out));
    IniDocument badKey;
    badKey.writeString("S", "a=b", "1");
    EXPECT_FALSE(badKey.serialize(out));
    IniDocument badSection;
    badSection.writeString("a]b", "k", "1");
    EXPECT_FALSE(badSection.serialize(out));
}

TEST(IniDocument, GarbageAndHugeLinesNeverBreakTheParser) {
    IniDocument doc;
    ASSERT_TRUE(readIniFile(dataDir + "/garbage.bin", doc));
    std::string out;
    EXPECT_TRUE(doc.serialize(out));

    std::mt19937 rng(1251);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(static_cast<std::size_t>(rng() % 4000), '\0');
        for (auto& c : bytes) {
            const unsigned r = rng() % 16;
            c = r == 0 ? '\n' : r == 1 ? '[' : r == 2 ? ']' : r == 3 ? '=' : r == 4 ? '\r' : static_cast<char>(rng());
        }
        const IniDocument d = IniDocument::parse(bytes);
        ASSERT_TRUE(d.serialize(out));
        // A document we wrote reads back to the same document.
        std::string twice;
        ASSERT_TRUE(IniDocument::parse(out).serialize(twice));
        EXPECT_EQ(out, twice);
    }

    const std::string longValue(3'000'000, 'x');
    const IniDocument big = IniDocument::parse("[S]\r\nK=" + longValue + "\r\n[" + std::string(100000, '[') + "\n");
    EXPECT_EQ(big.value("S", "K")->size(), longValue.size());
}

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-atomic-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    fs::path dir;
};

TEST_F(AtomicFile, ReplacesTheFileAndLeavesNoTemporaryBehind) {
    const std::string path = (dir / "site.qor").string();
    ASSERT_TRUE(atomic_file::writeAll(path, "first"));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(atomic_file::writeAll(path, "second"));
    EXPECT_EQ(readBytes(path), "second");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // A link keeps pointing at the saved file.
    const std::string link = (dir / "link.qor").string();
    fs::create_symlink("site.qor", link);
    ASSERT_TRUE(atomic_file::writeAll(link, "third"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readBytes(path), "third");
}

TEST_F(AtomicFile, SaveRemovesTemporariesOfKilledSavesOnly) {
    const std::string path = (dir / "site.qor").string();
    auto put = [&](const std::string& name) {
        std::FILE* f = std::fopen((dir / name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("half a file", f);
        std::fclose(f);
    };
    put(".site.qor.saving-Ab12Cd"); // left by a save that was killed
    put(".site.qor.saving-Zz99Yy"); // held by a save still running (the lock below)
    put("site.qor.backup");         // the user's own files beside it
    put(".site.qor.saving-longer1");
    put(".other.qor.saving-Ab12Cd");
    const int running = ::open((dir / ".site.qor.saving-Zz99Yy").c_str(), O_RDONLY);
    ASSERT_GE(running, 0);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);

    ASSERT_TRUE(atomic_file::writeAll(path, "saved"));
    EXPECT_EQ(readBytes(path), "saved");
    EXPECT_FALSE(fs::exists(dir / ".site.qor.saving-Ab12Cd"));
    EXPECT_TRUE(fs::exists(dir / ".site.qor.saving-Zz99Yy"));
    EXPECT_TRUE(fs::exists(dir / "site.qor.backup"));
    EXPECT_TRUE(fs::exists(dir / ".site.qor.saving-longer1"));
    EXPECT_TRUE(fs::exists(dir / ".other.qor.saving-Ab12Cd"));
    ::close(running);
    ASSERT_TRUE(atomic_file::writeAll(path, "again"));
    EXPECT_FALSE(fs::exists(dir / ".site.qor.saving-Zz99Yy"));
}

TEST_F(AtomicFile, FailedSaveLeavesTheOldFileAndReportsWhy) {
    const std::string path = (dir / "site.qor").string();
    ASSERT_TRUE(atomic_file::writeAll(path, "old content"));
    std::string error;
    // A missing folder and a target that is a folder both fail without touching anything.
    EXPECT_FALSE(atomic_file::writeAll((dir / "nowhere" / "x.qor").string(), "x", &error));
    EXPECT_FALSE(error.empty());
    fs::create_directory(dir / "folder.qor");
    EXPECT_FALSE(atomic_file::writeAll((dir / "folder.qor").string(), "x", &error));
    EXPECT_TRUE(fs::is_directory(dir / "folder.qor"));
    if (::geteuid() != 0) { // root writes into read-only folders and files anyway
        fs::permissions(path, fs::perms::owner_read);
        EXPECT_FALSE(atomic_file::writeAll(path, "new", &error));
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(atomic_file::writeAll(path, "new", &error));
        fs::permissions(dir, fs::perms::owner_all);
    }
    EXPECT_EQ(readBytes(path), "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    std::string bytes = "kept";
    EXPECT_FALSE(atomic_file::readAll((dir / "missing").string(), bytes, &error));
    EXPECT_EQ(bytes, "kept");
    EXPECT_FALSE(atomic_file::readAll(dir.string(), bytes, &error));
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(atomic_file::readAll((dir / "pipe").string(), bytes, &error)); // refused, not waited on
    fs::remove(dir / "pipe");
    EXPECT_FALSE(atomic_file::readAll(path, bytes, &error, 4)); // larger than allowed
    EXPECT_EQ(bytes, "kept");
}

} // namespace

namespace {

TEST(IniDocument, Utf8FileWithByteOrderMarkIsReadAsUtf8) {
    const IniDocument doc = IniDocument::parse("\xEF\xBB\xBF[MENU(0)]\r\nDesc='Главное'\r\n");
    EXPECT_EQ(doc.value("MENU(0)", "Desc"), "'Главное'");
    std::string out;
    ASSERT_TRUE(doc.serialize(out));
    EXPECT_EQ(out, "[MENU(0)]\r\nDesc='\xC3\xEB\xE0\xE2\xED\xEE\xE5'\r\n");
    // A mark followed by bytes that are not UTF-8 still loses no section.
    EXPECT_TRUE(IniDocument::parse("\xEF\xBB\xBF[S]\r\nK=\xFF\r\n").hasKey("S", "K"));
}

} // namespace

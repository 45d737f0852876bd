#include "model/atomic_file.h"
#include "model/cp1251.h"
#include "model/ini_document.h"
#include "model/unit_config.h"

#include "fake_host.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

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

class DatabaseFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-db-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A file of the given configuration as a fresh save writes it.
    std::string newFile(const std::string& name, int configId) {
        SettingsDatabase db;
        EXPECT_TRUE(db.selectUnitConfig(configId));
        const std::string path = (dir / name).string();
        db.buildNewBase(path);
        EXPECT_TRUE(db.saveBase(path));
        return path;
    }

    static KT_RECORD& fieldOf(SettingsDatabase& db, const char* object, const char* key) {
        KT_TABLE* t = db.findObject(object);
        EXPECT_NE(t, nullptr) << object;
        return *t->findChild(key);
    }

    fake::Host host;
    fs::path dir;
};

TEST_F(DatabaseFiles, ConfigurationTableAndSelection) {
    SettingsDatabase db;
    EXPECT_EQ(db.currentConfig.id, 29);
    EXPECT_TRUE(db.selectUnitConfig(19));
    EXPECT_EQ(db.currentConfig.name, "QOR11");
    EXPECT_EQ(db.currentConfig.lines, 1);
    EXPECT_EQ(db.currentConfig.menus, 50);
    EXPECT_EQ(db.currentConfig.mailboxes, 2);
    EXPECT_FALSE(db.selectUnitConfig(42));
    EXPECT_EQ(db.currentConfig.id, 19);
    EXPECT_EQ(messagesFolderFor("/a/site.qor"), "/a/site.messages/");
    EXPECT_EQ(messagesFolderFor("/a.b/site"), "/a.b/site.messages/");
}

TEST_F(DatabaseFiles, NewDatabaseHasTheObjectsOfItsConfiguration) {
    SettingsDatabase db;
    int unbound = 0;
    db.unbindEditors = [&] { ++unbound; };
    db.buildNewBase((dir / "site.qor").string());
    EXPECT_EQ(unbound, 1);
    EXPECT_EQ(db.root->getDescription(), "База настроек: site.qor");
    EXPECT_EQ(db.root->getText(), "29");
    auto codes = [&](const char* list) {
        std::string out;
        KT_TABLE* t = db.root->findTable(list);
        for (int i = 0; i < t->childCount(); ++i)
            out += t->tableAt(i)->getText() + " ";
        return out;
    };
    EXPECT_EQ(codes("TRKS"), "11 12 ");
    EXPECT_EQ(codes("SLPS"), "21 22 ");
    EXPECT_EQ(codes("MAILBOXES"), "61 62 ");
    KT_TABLE* menus = db.root->findTable("MENUS");
    ASSERT_EQ(menus->childCount(), 50);
    EXPECT_EQ(menus->tableAt(0)->getText(), "500");
    EXPECT_EQ(menus->tableAt(49)->getText(), "549");
    EXPECT_EQ(menus->tableAt(49)->name, "MENU(49)");
    EXPECT_EQ(db.findObject("SLP(2)")->getDescription(), "оператор 2");
    EXPECT_EQ(db.findObject("MAILBOX(2)")->getDescription(), "ящик 2");
    EXPECT_EQ(kt_cast<KT_TABLE_MAILBOX>(db.findObject("MAILBOX(2)"))->mailboxIndex, 1);
    EXPECT_EQ(db.deviceInfo->findChild("ConfigID")->getText(), "29");
    EXPECT_EQ(db.deviceInfo->getText(), "90");
    EXPECT_EQ(db.clock->getText(), "91");
    EXPECT_EQ(db.findObject("menu(3)"), menus->tableAt(3));
}

TEST_F(DatabaseFiles, LoadSelectsTheFilesConfigurationAndSavesByteIdentically) {
    const std::string path = newFile("small.qor", 19);
    SettingsDatabase db;
    ASSERT_EQ(db.currentConfig.id, 29);
    ASSERT_TRUE(db.loadBase(path));
    EXPECT_EQ(db.currentConfig.name, "QOR11");
    EXPECT_EQ(db.root->findTable("TRKS")->childCount(), 1);
    EXPECT_EQ(db.root->findTable("SLPS")->childCount(), 1);
    EXPECT_EQ(db.basePath, path);
    EXPECT_EQ(db.messagesFolder, (dir / "small.messages/").string());
    EXPECT_TRUE(host.messages.empty());

    const std::string before = readBytes(path);
    ASSERT_TRUE(db.saveBase(path));
    EXPECT_EQ(readBytes(path), before);
    ASSERT_TRUE(fieldOf(db, "MENU(4)", "Desc").setText("Приёмная"));
    ASSERT_TRUE(db.saveBase(path));
    const std::string once = readBytes(path);
    ASSERT_TRUE(db.saveBase(path));
    EXPECT_EQ(readBytes(path), once);
    EXPECT_NE(once.find(*cp1251::fromUtf8("Desc='Приёмная'\r\n")), std::string::npos);
    EXPECT_EQ(once.substr(0, 12), "[SYSPARAM]\r\n");
}

TEST_F(DatabaseFiles, UnknownConfigurationIsRefusedAndTheOpenDatabaseStays) {
    SettingsDatabase db;
    db.buildNewBase((dir / "open.qor").string());
    ASSERT_TRUE(fieldOf(db, "SYSPARAM", "NRingsToPickup").setText("7"));
    KT_BASE* root = db.root.get();
    for (const char* text :
         {"[SYSPARAM]\r\nisVisible=1\r\n", "[DEVICEINFO]\r\nConfigID=42\r\n", "[DEVICEINFO]\r\nConfigID=abc\r\n",
          "[DEVICEINFO]\r\nConfigID=19x\r\n", "[DEVICEINFO]\r\nConfigID=\r\n", ""}) {
        writeBytes(dir / "bad.qor", text);
        host.clear();
        EXPECT_FALSE(db.loadBase((dir / "bad.qor").string())) << text;
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0], "Неизвестная конфигурация базы данных. Загрузка невозможна");
        EXPECT_EQ(host.icons[0], host::MessageIcon::Error);
        EXPECT_EQ(readBytes(dir / "bad.qor"), text);
    }
    host.clear();
    EXPECT_FALSE(db.loadBase((dir / "missing.qor").string()));
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(db.loadBase(dir.string())); // a folder
    EXPECT_EQ(db.root.get(), root);
    EXPECT_EQ(db.currentConfig.id, 29);
    EXPECT_EQ(db.basePath, (dir / "open.qor").string());
    EXPECT_EQ(fieldOf(db, "SYSPARAM", "NRingsToPickup").getText(), "7");
}

TEST_F(DatabaseFiles, RefusedFieldKeepsTheOpenDatabaseAndTheFile) {
    SettingsDatabase db;
    db.buildNewBase((dir / "open.qor").string());
    KT_BASE* root = db.root.get();
    const std::string text = "[SYSPARAM]\r\nNRingsToPickup=100\r\n[DEVICEINFO]\r\nConfigID=19\r\n";
    writeBytes(dir / "bad.qor", text);
    EXPECT_FALSE(db.loadBase((dir / "bad.qor").string()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("NRingsToPickup (Число звонков до ответа на вызов) : 100"), std::string::npos);
    EXPECT_NE(host.messages[0].find("[1...99]"), std::string::npos);
    EXPECT_EQ(db.root.get(), root);
    EXPECT_EQ(db.currentConfig.id, 29); // not left at the refused file's configuration
    EXPECT_EQ(readBytes(dir / "bad.qor"), text);
}

TEST_F(DatabaseFiles, SaveKeepsForeignSectionsAndFailsCleanly) {
    const std::string path = newFile("site.qor", 29);
    std::string bytes = readBytes(path) + "[MENU(77)]\r\nisVisible=1\r\nDesc='left over'\r\n";
    writeBytes(path, bytes);
    SettingsDatabase db;
    ASSERT_TRUE(db.loadBase(path));
    ASSERT_TRUE(db.saveBase(path));
    EXPECT_EQ(readBytes(path), bytes);

    // A text the file cannot hold, slipped past the value's checks, fails the save and leaves the old file.
    db.findObject("MENU(1)")->findChild("Desc")->value->valueText = "'中'";
    host.clear();
    EXPECT_FALSE(db.saveBase(path));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("Desc"), std::string::npos);
    EXPECT_EQ(readBytes(path), bytes);

    // A folder that does not exist: the save is refused with a message, nothing is written.
    host.clear();
    EXPECT_FALSE(db.saveBase((dir / "no" / "such.qor").string()));
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "no"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              2); // site.qor, site.messages
}

TEST_F(DatabaseFiles, SaveUnderANewNameCopiesTheMessagesFolder) {
    const std::string path = newFile("site.qor", 29);
    writeBytes(dir / "site.messages" / "MENU(1)" / "hello.wav", "RIFF1");
    writeBytes(dir / "site.messages" / "top.wav", "RIFF2");
    writeBytes(dir / "copy.messages" / "stale.wav", "old");
    SettingsDatabase db;
    ASSERT_TRUE(db.loadBase(path));
    const std::string copy = (dir / "copy.qor").string();
    ASSERT_TRUE(db.saveBase(copy));
    EXPECT_EQ(db.messagesFolder, (dir / "copy.messages/").string());
    EXPECT_EQ(readBytes(dir / "copy.messages" / "MENU(1)" / "hello.wav"), "RIFF1");
    EXPECT_EQ(readBytes(dir / "copy.messages" / "top.wav"), "RIFF2");
    EXPECT_FALSE(fs::exists(dir / "copy.messages" / "stale.wav")); // the new folder was emptied first
    EXPECT_TRUE(fs::exists(dir / "site.messages" / "MENU(1)" / "hello.wav"));

    // Saving again under the same name copies nothing.
    writeBytes(dir / "site.messages" / "later.wav", "x");
    ASSERT_TRUE(db.saveBase(copy));
    EXPECT_FALSE(fs::exists(dir / "copy.messages" / "later.wav"));
    EXPECT_TRUE(fs::exists(dir / "copy.messages" / "top.wav"));
}

TEST_F(DatabaseFiles, MessagesFolderSurvivesSavesThatWouldEmptyIt) {
    const std::string path = newFile("site.qor", 29);
    writeBytes(dir / "site.messages" / "MENU(0)" / "m.wav", "RIFF");
    SettingsDatabase db;
    ASSERT_TRUE(db.loadBase(path));
    // The same file under another spelling is the same messages folder: it must not be emptied.
    ASSERT_TRUE(db.saveBase((dir / "." / "site.qor").string()));
    EXPECT_EQ(readBytes(dir / "site.messages" / "MENU(0)" / "m.wav"), "RIFF");

    // A file saved inside its own messages folder copies the messages beside it without looping.
    ASSERT_TRUE(db.saveBase((dir / "site.messages" / "inner.qor").string()));
    EXPECT_EQ(readBytes(dir / "site.messages" / "inner.messages" / "MENU(0)" / "m.wav"), "RIFF");
    EXPECT_FALSE(fs::exists(dir / "site.messages" / "inner.messages" / "inner.messages"));

    // A messages folder that cannot be made: nothing is written, the message names the folder.
    writeBytes(dir / "blocked.messages", "a file where the folder should be");
    host.clear();
    EXPECT_FALSE(db.saveBase((dir / "blocked.qor").string()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("Невозможно создать папку: " + (dir / "blocked.messages/").string(), 0), 0u)
        << host.messages[0];
    EXPECT_FALSE(fs::exists(dir / "blocked.qor"));
}

TEST_F(DatabaseFiles, FailedSaveUnderANewNameKeepsNameFolderAndMessages) {
    const std::string path = newFile("site.qor", 29);
    writeBytes(dir / "site.messages" / "50001" / "privet.wav", "RIFF-technician");
    SettingsDatabase db;
    ASSERT_TRUE(db.loadBase(path));
    const std::string folder = db.messagesFolder;

    // The new name's messages folder is taken by a plain file.
    writeBytes(dir / "other.messages", "not a folder");
    host.clear();
    EXPECT_FALSE(db.saveBase((dir / "other.qor").string()));
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(db.messagesFolder, folder);
    EXPECT_FALSE(fs::exists(dir / "other.qor"));

    // The following plain save must find the messages where they were.
    ASSERT_TRUE(db.saveBase(path));
    EXPECT_EQ(readBytes(dir / "site.messages" / "50001" / "privet.wav"), "RIFF-technician");

    // A message that cannot be copied (a named pipe where a file should be) fails the save as a whole: no file
    // under the new name, and the message names what could not be copied.
    ASSERT_EQ(::mkfifo((dir / "site.messages" / "50001" / "stuck.wav").c_str(), 0600), 0);
    host.clear();
    EXPECT_FALSE(db.saveBase((dir / "third.qor").string()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].rfind("Невозможно скопировать файл сообщения: " +
                                         (dir / "third.messages" / "50001" / "stuck.wav").string(),
                                     0),
              0u)
        << host.messages[0];
    EXPECT_EQ(db.messagesFolder, folder);
    EXPECT_FALSE(fs::exists(dir / "third.qor"));
}

TEST_F(DatabaseFiles, ConvertRemovesAndAddsLinesAndKeepsTheRest) {
    SettingsDatabase db;
    db.buildNewBase((dir / "site.qor").string());
    ASSERT_TRUE(fieldOf(db, "TRK(1)", "DayMenu").setText("4"));
    ASSERT_TRUE(fieldOf(db, "TRK(2)", "DayMenu").setText("5"));
    ASSERT_TRUE(fieldOf(db, "SLP(2)", "Passthrough").setText("1"));
    ASSERT_TRUE(fieldOf(db, "MENU(3)", "SLPIndex").setText("2"));
    ASSERT_TRUE(fieldOf(db, "MENU(4)", "SLPIndex").setText("1"));
    const std::string path = (dir / "site.qor").string();
    ASSERT_TRUE(db.saveBase(path));

    ASSERT_TRUE(db.selectUnitConfig(19));
    db.convertBase();
    EXPECT_EQ(db.findObject("TRK(2)"), nullptr);
    EXPECT_EQ(db.findObject("SLP(2)"), nullptr);
    EXPECT_EQ(fieldOf(db, "TRK(1)", "DayMenu").getText(), "4");
    EXPECT_EQ(db.deviceInfo->findChild("ConfigID")->getText(), "19");
    // Operator line 2 is gone, so the menu that called it falls back to no line; the file stays loadable.
    EXPECT_EQ(fieldOf(db, "MENU(3)", "SLPIndex").getText(), "0");
    EXPECT_EQ(fieldOf(db, "MENU(4)", "SLPIndex").getText(), "1");
    EXPECT_EQ(db.findObject("MENU(3)")->markState, kMarkChanged);
    ASSERT_TRUE(db.saveBase(path));
    SettingsDatabase reread;
    ASSERT_TRUE(reread.loadBase(path));
    EXPECT_EQ(reread.currentConfig.id, 19);
    // Saving over the larger file leaves the removed line's section in it.
    EXPECT_TRUE(IniDocument::parse(readBytes(path)).hasSection("TRK(2)"));

    ASSERT_TRUE(db.selectUnitConfig(29));
    db.convertBase();
    KT_TABLE* trk2 = db.findObject("TRK(2)");
    ASSERT_NE(trk2, nullptr);
    EXPECT_EQ(trk2->getText(), "12");
    EXPECT_EQ(trk2->getDescription(), "линия 2");
    EXPECT_EQ(fieldOf(db, "TRK(2)", "DayMenu").getText(), "0"); // back with defaults
    EXPECT_EQ(fieldOf(db, "SLP(2)", "Passthrough").getText(), "0");
    EXPECT_EQ(db.findObject("SLP(2)")->getText(), "22");
    EXPECT_TRUE(fieldOf(db, "MENU(4)", "SLPIndex").setText("2")); // the bound is back too
}

} // namespace

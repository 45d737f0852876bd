#include "model/atomic_file.h"
#include "model/compare.h"
#include "model/unit_config.h"

#include "fake_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string hex(std::uint32_t n) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(n));
    return text;
}

class Compare : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zirezid-compare-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Saves a fresh database of the type after `edit` and loads it back, as a file from disk is compared.
    template <class Edit> void make(SettingsDatabase& db, const char* name, int configId, Edit edit) {
        SettingsDatabase fresh;
        ASSERT_TRUE(fresh.selectUnitConfig(configId));
        const std::string path = (dir / name).string();
        fresh.buildNewBase(path);
        edit(fresh);
        ASSERT_TRUE(fresh.saveBase(path));
        ASSERT_TRUE(db.loadBase(path));
    }
    void make(SettingsDatabase& db, const char* name, int configId = 29) {
        make(db, name, configId, [](SettingsDatabase&) {});
    }
    static void set(SettingsDatabase& db, const char* object, const char* key, const std::string& editText) {
        KT_TABLE* t = db.findObject(object);
        ASSERT_NE(t, nullptr) << object;
        ASSERT_TRUE(t->findChild(key)->setEditText(editText)) << key;
    }
    void recording(const char* messages, const char* menuFolder, const char* file, const std::string& bytes) {
        const fs::path folder = dir / messages / menuFolder;
        fs::create_directories(folder);
        ASSERT_TRUE(atomic_file::writeAll((folder / file).string(), bytes));
    }

    fake::Host host;
    fs::path dir;
};

TEST_F(Compare, EqualFilesHaveNoDifferenceAndDifferentFieldsShowTheEditorsText) {
    SettingsDatabase a, b, c;
    make(a, "a.qor");
    make(b, "b.qor");
    EXPECT_TRUE(compare::compareDatabases(a, b).equal());

    make(c, "c.qor", 29, [](SettingsDatabase& db) {
        set(db, "TIMETABLE", "DayStart[2]", "08:30");
        set(db, "MENU(4)", "Desc", "Касса");
        db.findObject("MENU(7)")->isVisible = false;
    });
    const compare::Comparison r = compare::compareDatabases(a, c);
    EXPECT_FALSE(r.equal());
    EXPECT_EQ(r.unitTypeA, "QOR22");
    ASSERT_EQ(r.objects.size(), 3u);

    // Tree order: the timetable comes before the menus, menu 4 before menu 7.
    const compare::ObjectDifference& t = r.objects[0];
    EXPECT_EQ(t.objectName, "TIMETABLE");
    EXPECT_EQ(t.presence, compare::Presence::Both);
    EXPECT_EQ(t.captionA, "расписание работы");
    ASSERT_EQ(t.fields.size(), 1u);
    EXPECT_EQ(t.fields[0].key, "DayStart[2]");
    EXPECT_EQ(t.fields[0].description, "Время начала рабочего дня, [Вторник]");
    EXPECT_EQ(t.fields[0].valueA, "00:00"); // the edit form, not the stored 0000
    EXPECT_EQ(t.fields[0].valueB, "08:30");

    const compare::ObjectDifference& m = r.objects[1];
    EXPECT_EQ(m.objectName, "MENU(4)");
    EXPECT_EQ(m.captionA, "меню 4");
    EXPECT_EQ(m.captionB, "меню 4 : Касса"); // each side's own caption
    ASSERT_EQ(m.fields.size(), 1u);
    EXPECT_EQ(m.fields[0].valueB, "Касса");
    EXPECT_FALSE(m.hasMessageDifference);

    // A hidden object is in the file all the same; its visibility is a difference of its own.
    EXPECT_EQ(r.objects[2].objectName, "MENU(7)");
    ASSERT_EQ(r.objects[2].fields.size(), 1u);
    EXPECT_EQ(r.objects[2].fields[0].key, "isVisible");

    // The comparison only reads: nothing in either database is marked changed.
    EXPECT_FALSE(a.findObject("TIMETABLE")->findChild("DayStart[2]")->changed);
    EXPECT_EQ(compare::compareDatabases(c, a).objects[0].fields[0].valueA, "08:30");
}

TEST_F(Compare, RecordingsCompareByNameAndBytes) {
    auto withGreeting = [](SettingsDatabase& db) {
        set(db, "MENU(1)", "Message", "greeting.wav");
        set(db, "MENU(2)", "Message", "menu.wav");
    };
    SettingsDatabase a, b;
    make(a, "a.qor", 29, withGreeting);
    make(b, "b.qor", 29, withGreeting);
    recording("a.messages", "50101", "greeting.wav", "RIFF-same-length-1");
    recording("b.messages", "50101", "greeting.wav", "RIFF-same-length-2");
    recording("a.messages", "50201", "menu.wav", std::string(200000, 'x')); // longer than one chunk read
    recording("b.messages", "50201", "menu.wav", std::string(200000, 'x'));

    compare::Comparison r = compare::compareDatabases(a, b);
    ASSERT_EQ(r.objects.size(), 1u) << "the equal recording of menu 2 is no difference";
    const compare::ObjectDifference& d = r.objects[0];
    EXPECT_EQ(d.objectName, "MENU(1)");
    EXPECT_TRUE(d.fields.empty());
    ASSERT_TRUE(d.hasMessageDifference);
    EXPECT_TRUE(d.message.sameName);
    EXPECT_FALSE(d.message.sameBytes);
    EXPECT_EQ(d.message.a.size, 18u);
    EXPECT_EQ(d.message.a.path, (dir / "a.messages/50101/greeting.wav").string());
    EXPECT_NE(d.message.a.crc32, d.message.b.crc32);
    EXPECT_EQ(compare::describeMessage(d.message.a), "greeting.wav (18 байт, CRC32 " + hex(d.message.a.crc32) + ")");

    // The same bytes again: equal. A folder in the recording's place is no recording.
    recording("b.messages", "50101", "greeting.wav", "RIFF-same-length-1");
    EXPECT_TRUE(compare::compareDatabases(a, b).equal());
    fs::remove(dir / "b.messages/50101/greeting.wav");
    fs::create_directories(dir / "b.messages/50101/greeting.wav");
    r = compare::compareDatabases(a, b);
    ASSERT_EQ(r.objects.size(), 1u);
    EXPECT_FALSE(r.objects[0].message.b.present);
    EXPECT_EQ(compare::describeMessage(r.objects[0].message.b), "greeting.wav (нет файла)");

    // A renamed message is a field difference and a message difference; the row stands once, with the files.
    SettingsDatabase c;
    make(c, "c.qor", 29, [](SettingsDatabase& db) { set(db, "MENU(2)", "Message", "other.wav"); });
    r = compare::compareDatabases(a, c);
    const auto rows = compare::rowsOf(r);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].objectName, "MENU(1)");
    EXPECT_EQ(rows[0].valueB, "-");
    EXPECT_EQ(rows[1].objectName, "MENU(2)");
    EXPECT_EQ(rows[1].key, "Message");
    EXPECT_EQ(rows[1].valueA, "menu.wav (200000 байт, CRC32 " + hex(r.objects[1].message.a.crc32) + ")");
    EXPECT_EQ(rows[1].valueB, "other.wav (нет файла)");
    EXPECT_FALSE(r.objects[1].message.sameName);
}

TEST_F(Compare, ObjectsOfOneUnitTypeOnlyAreListedInTreeOrder) {
    SettingsDatabase small, large;
    make(small, "small.qor", 19);
    make(large, "large.qor", 29);
    const compare::Comparison r = compare::compareDatabases(small, large);
    EXPECT_EQ(r.unitTypeA, "QOR11");
    EXPECT_EQ(r.unitTypeB, "QOR22");
    const auto rows = compare::rowsOf(r);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(r.objects[0].objectName, "TRK(2)");
    EXPECT_EQ(r.objects[0].presence, compare::Presence::OnlyB);
    EXPECT_EQ(r.objects[0].captionA, "");
    EXPECT_EQ(r.objects[0].captionB, "линия 2");
    EXPECT_TRUE(r.objects[0].fields.empty());
    EXPECT_EQ(rows[1].objectName, "SLP(2)");
    EXPECT_EQ(rows[1].key, "");
    EXPECT_EQ(rows[1].valueA, compare::kNoObject);
    EXPECT_EQ(rows[1].valueB, "оператор 2");
    // The unit type itself shows where the unit tells it, last as in the dump.
    EXPECT_EQ(rows[2].objectName, "DEVICEINFO");
    EXPECT_EQ(rows[2].key, "ConfigID");
    EXPECT_EQ(rows[2].valueA, "19");
    EXPECT_EQ(rows[2].valueB, "29");

    const compare::Comparison back = compare::compareDatabases(large, small);
    EXPECT_EQ(back.objects[0].presence, compare::Presence::OnlyA);
    EXPECT_EQ(compare::rowsOf(back)[0].valueB, compare::kNoObject);
}

} // namespace

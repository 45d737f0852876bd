#include "model/cp1251.h"
#include "model/schema.h"
#include "model/settings_file.h"

#include "fake_host.h"
#include "sample_base.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string field(KT_TABLE& t, const char* key) { return t.findChild(key)->getText(); }

IniDocument parseUtf8(const std::string& utf8) { return IniDocument::parse(*cp1251::fromUtf8(utf8)); }

TEST(SettingsFile, NewDatabaseWritesEveryObjectInTreeOrder) {
    fake::Host host;
    auto b = sample::build(1, 2, 1);
    auto info = buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, 29);
    IniDocument doc;
    saveTo(*b.root, doc);
    saveTo(*info, doc);
    EXPECT_EQ(doc.sections(),
              (std::vector<std::string>{"SYSPARAM", "TRKS", "TRK(1)", "SLPS", "SLP(1)", "TIMETABLE", "MENUS", "MENU(0)",
                                        "MENU(1)", "MAILBOXES", "MAILBOX(1)", "DEVICEINFO"}));
    for (const auto& s : doc.sections())
        if (s != "DEVICEINFO") {
            EXPECT_EQ(doc.keys(s).front(), "isVisible") << s;
        }
    EXPECT_FALSE(doc.hasKey("DEVICEINFO", "isVisible"));
    EXPECT_EQ(doc.keys("SYSPARAM").size(), 11u);
    EXPECT_EQ(doc.keys("TIMETABLE").size(), 45u);
    EXPECT_EQ(doc.keys("MENU(0)").size(), 16u);
    EXPECT_EQ(doc.value("MAILBOX(1)", "Pwd"),
              kDefaultMailboxPassword); // the password's key, not its list name
    EXPECT_FALSE(doc.hasKey("MAILBOX(1)", "Password"));
    EXPECT_EQ(doc.value("DEVICEINFO", "SoftVer"), "'?.?"
                                                  "?.?"
                                                  "?'");
    EXPECT_EQ(doc.value("DEVICEINFO", "ConfigID"), "29");
    EXPECT_EQ(doc.value("TIMETABLE", "DayEnd[1]"), "2359");
    EXPECT_EQ(doc.value("TIMETABLE", "HolidayStart[0]"), "0101");
    EXPECT_EQ(doc.value("MENU(1)", "Desc"), "''");
    EXPECT_EQ(doc.value("MENU(1)", "Message"), "-");
    EXPECT_EQ(doc.value("MENU(1)", "ActionTO"), "00");
    EXPECT_GT(host.eventRounds, 0); // long saves keep the window responsive
}

TEST(SettingsFile, ValuesReadBackAsWritten) {
    fake::Host host;
    auto b = sample::build(2, 3, 2);
    KT_TABLE& menu1 = *b.menus->findTable("MENU(1)");
    ASSERT_TRUE(menu1.findChild("Desc")->setText("Главное"));
    ASSERT_TRUE(menu1.findChild("ActionDTMF[5]")->setText("0102"));
    ASSERT_TRUE(b.timetable->findChild("DayStart[3]")->setText("0830"));
    ASSERT_TRUE(b.mailboxes->findTable("MAILBOX(2)")->findChild("Password")->setText("4321"));
    b.menus->findChild("MENU(2)")->table()->isVisible = false;
    IniDocument doc;
    saveTo(*b.root, doc);
    std::string bytes;
    ASSERT_TRUE(doc.serialize(bytes));
    EXPECT_NE(bytes.find(*cp1251::fromUtf8("Desc='Главное'\r\n")), std::string::npos);
    EXPECT_NE(bytes.find("[MENU(2)]\r\nisVisible=0\r\n"), std::string::npos);

    auto fresh = sample::build(2, 3, 2);
    loadFrom(*fresh.root, IniDocument::parse(bytes));
    KT_TABLE& m1 = *fresh.menus->findTable("MENU(1)");
    EXPECT_EQ(m1.findChild("Desc")->getEditText(), "Главное");
    EXPECT_EQ(m1.getDescription(), "меню 1 : Главное");
    auto* action = kt_cast<KT_ACTION>(m1.findChild("ActionDTMF[5]")->value.get());
    ASSERT_NE(action, nullptr);
    ASSERT_NE(action->kindRecord(), nullptr);
    EXPECT_EQ(action->kindRecord()->key, kActionToMenu);
    EXPECT_EQ(action->getEditText(), "02");
    EXPECT_EQ(field(*fresh.timetable, "DayStart[3]"), "0830");
    EXPECT_EQ(fresh.mailboxes->findTable("MAILBOX(2)")->findChild("Password")->getText(), "4321");
    EXPECT_FALSE(fresh.menus->findTable("MENU(2)")->isVisible);
    EXPECT_TRUE(fresh.menus->findTable("MENU(1)")->isVisible);
    // Loading sets values directly: no change marks.
    EXPECT_EQ(m1.markState, kMarkNone);
    EXPECT_TRUE(host.messages.empty());

    // And a second save of what was loaded gives the same bytes.
    IniDocument again;
    saveTo(*fresh.root, again);
    std::string twice;
    ASSERT_TRUE(again.serialize(twice));
    EXPECT_EQ(twice, bytes);
}

TEST(SettingsFile, MissingEntriesKeepDefaultsAndMissingVisibilityHides) {
    fake::Host host;
    auto b = sample::build(1, 2, 1);
    loadFrom(*b.root, parseUtf8("[SYSPARAM]\nNRingsToPickup=5\n[MENU(0)]\nisVisible=1\n[MENU(1)]\nDesc='x'\n"
                                "[MENUS]\nisVisible=1\n"));
    EXPECT_EQ(field(*b.sysparam, "NRingsToPickup"), "5");
    EXPECT_EQ(field(*b.sysparam, "Password"), "7316");
    EXPECT_FALSE(b.sysparam->isVisible); // no isVisible in SYSPARAM
    EXPECT_TRUE(b.menus->isVisible);
    EXPECT_TRUE(b.menus->findTable("MENU(0)")->isVisible);
    EXPECT_FALSE(b.menus->findTable("MENU(1)")->isVisible);
    EXPECT_EQ(b.menus->findTable("MENU(1)")->findChild("Desc")->getEditText(), "x"); // loaded, though hidden
}

TEST(SettingsFile, BadTimeShowsItsMessageAndLoadingGoesOn) {
    fake::Host host;
    auto b = sample::build(1, 1, 1);
    loadFrom(*b.root, parseUtf8("[TIMETABLE]\nDayStart[1]=2500\nDayStart[2]=0715\nHolidayEnd[3]=3102\n"
                                "HolidayEnd[4]=2902\n"));
    EXPECT_EQ(field(*b.timetable, "DayStart[1]"), "0000");
    EXPECT_EQ(field(*b.timetable, "DayStart[2]"), "0715");
    EXPECT_EQ(field(*b.timetable, "HolidayEnd[3]"), "0101");
    EXPECT_EQ(field(*b.timetable, "HolidayEnd[4]"), "2902");
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_NE(host.messages[0].find("Недопустимый формат времени"), std::string::npos);
    EXPECT_NE(host.messages[1].find("Недопустимый формат даты"), std::string::npos);
}

TEST(SettingsFile, BadIntegerStopsTheLoadAtThatField) {
    fake::Host host;
    auto b = sample::build(1, 1, 1);
    try {
        loadFrom(*b.root, parseUtf8("[SYSPARAM]\nPassword=1234\nGainRxdB12=3\nNRingsToPickup=100\n"
                                    "WaitAfterPickupMs=10\n[TIMETABLE]\nDayStart[1]=0900\n"));
        FAIL() << "no error raised";
    } catch (const KT_LOAD_ERROR& e) {
        EXPECT_EQ(e.section, "SYSPARAM");
        EXPECT_EQ(e.key, "NRingsToPickup");
        EXPECT_NE(e.valueMessage.find("[1...99]"), std::string::npos);
        EXPECT_EQ(std::string(e.what()),
                  "[SYSPARAM] NRingsToPickup (Число звонков до ответа на вызов) : " + e.valueMessage);
    }
    EXPECT_EQ(field(*b.sysparam, "Password"), "1234"); // read before the bad field
    EXPECT_EQ(field(*b.sysparam, "GainRxdB12"), "3");
    EXPECT_EQ(field(*b.sysparam, "WaitAfterPickupMs"), "2000"); // after it: default
    EXPECT_EQ(field(*b.timetable, "DayStart[1]"), "0000");

    for (const char* bad : {"[SYSPARAM]\nPassword=12a4\n", "[SYSPARAM]\nPulseDialing=-0\n",
                            "[MENU(0)]\nDesc='"
                            "abcdefghijabcdefghijabcdefghijXY'\n",
                            "[MENU(0)]\nActionTO=77\n", "[SYSPARAM]\nFlashLenMs=99999999999999999999999\n"}) {
        auto fresh = sample::build(1, 1, 1);
        EXPECT_THROW(loadFrom(*fresh.root, parseUtf8(bad)), KT_LOAD_ERROR) << bad;
    }
}

TEST(SettingsFile, MessageFileNameKeepsOnlyItsFileNamePart) {
    fake::Host host;
    auto b = sample::build(1, 2, 1);
    try {
        loadFrom(*b.root, parseUtf8("[MENU(0)]\nMessage=../../etc/passwd.wav\n[MENU(1)]\nMessage=C:\\vida\\m1.wav\n"));
    } catch (const KT_ERROR&) {
        // A kind may refuse such a name outright; it must never keep the folders.
    }
    for (const char* menu : {"MENU(0)", "MENU(1)"}) {
        const std::string name = field(*b.menus->findTable(menu), "Message");
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
        EXPECT_EQ(name.find('\\'), std::string::npos) << name;
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
    }
    EXPECT_EQ(field(*b.menus->findTable("MENU(0)"), "Message"), "passwd.wav");
}

TEST(SettingsFile, KeepsWhatTheDatabaseDoesNotWrite) {
    fake::Host host;
    auto b = sample::build(1, 2, 1);
    IniDocument doc = parseUtf8("[MENU(7)]\nisVisible=1\nDesc='старое'\n[SYSPARAM]\nPassword=1111\nOther=yes\n");
    saveTo(*b.root, doc);
    EXPECT_EQ(doc.value("MENU(7)", "Desc"), "'старое'");
    EXPECT_EQ(doc.value("SYSPARAM", "Other"), "yes");
    EXPECT_EQ(doc.value("SYSPARAM", "Password"), "7316");
    EXPECT_EQ(doc.sections().front(), "MENU(7)"); // sections stay where they were first written
    auto fresh = sample::build(1, 2, 1);
    loadFrom(*fresh.root, doc); // the extra menu is ignored
    EXPECT_EQ(fresh.menus->childCount(), 2);
}

} // namespace

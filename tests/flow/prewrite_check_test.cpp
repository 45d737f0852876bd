#include "flow/message_probe.h"
#include "flow/prewrite_check.h"
#include "tests/flow/flow_fixture.h"

#include <algorithm>

using namespace flow;
using flowtest::FlowBase;

namespace {

class PreWriteCheck : public FlowBase {
protected:
    // A tidy starting point: both lines enter menu 0, which has a recording and hands the caller to an
    // operator.
    void SetUp() override {
        FlowBase::SetUp();
        set("SYSPARAM", "Password", "5555");
        record(0, "main.wav", 3.0);
        set("MENU(0)", "ActionTO", "02002000");
    }
    std::vector<Finding> check(std::optional<unsigned long long> freeBytes = std::nullopt) {
        return checkCallFlow(read(freeBytes));
    }
    // The findings about one field.
    static std::vector<Finding> about(const std::vector<Finding>& all, const std::string& object,
                                      const std::string& key) {
        std::vector<Finding> r;
        for (const auto& f : all)
            if (f.object == object && f.key == key)
                r.push_back(f);
        return r;
    }
    static bool has(const std::vector<Finding>& all, Grade g, const std::string& object, const std::string& key,
                    const std::string& words = {}) {
        return std::any_of(all.begin(), all.end(), [&](const Finding& f) {
            return f.grade == g && f.object == object && f.key == key && f.text.find(words) != std::string::npos;
        });
    }
};

TEST_F(PreWriteCheck, ATidyDatabaseHasNoFindings) {
    const auto all = check(100000);
    for (const auto& f : all)
        ADD_FAILURE() << gradeName(f.grade) << ' ' << f.object << ' ' << f.key << ' ' << f.text;
}

TEST_F(PreWriteCheck, TargetsThatDoNotExistInThisUnitTypeAreErrors) {
    set("MENU(0)", "ActionDTMF[1]", "0160");     // beyond 50 menus
    set("MENU(0)", "ActionDTMF[2]", "0107");     // hidden below
    set("MENU(0)", "ActionDTMF[3]", "02032001"); // operator line 3 on a two-line unit
    set("MENU(0)", "ActionDTMF[4]", "02012055"); // operator 1, fall-back menu 55
    set("MENU(0)", "ActionDTMF[5]", "0302");     // mailbox 3 of 2
    set("MENU(0)", "ActionDTMF[6]", "02022001"); // operator line 2, hidden below
    set("TRK(2)", "NightMenu", "7");
    hide("MENU(7)");
    hide("SLP(2)");
    const auto all = check();
    EXPECT_TRUE(has(all, Grade::Error, "MENU(0)", "ActionDTMF[1]", "меню 60 нет"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(0)", "ActionDTMF[2]", "меню 7 скрыто"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(0)", "ActionDTMF[3]", "оператора линии 3 нет"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(0)", "ActionDTMF[4]", "меню 55 нет"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(0)", "ActionDTMF[5]", "ящика 3 нет"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(0)", "ActionDTMF[6]", "оператор линии 2 скрыт"));
    EXPECT_TRUE(has(all, Grade::Error, "TRK(2)", "NightMenu", "меню 7 скрыто"));
    EXPECT_TRUE(hasErrors(all));
    // Errors come first, and every finding says what to do.
    EXPECT_EQ(all.front().grade, Grade::Error);
    EXPECT_TRUE(
        std::is_sorted(all.begin(), all.end(), [](const Finding& a, const Finding& b) { return a.grade < b.grade; }));
    for (const auto& f : all)
        EXPECT_NE(f.text.find(". "), std::string::npos) << f.text;
}

TEST_F(PreWriteCheck, AMenuNothingReachesIsReportedOnlyWhenItHoldsSomething) {
    set("MENU(9)", "Desc", "'Склад'");
    const auto all = check();
    EXPECT_TRUE(has(all, Grade::Note, "MENU(9)", "", "ни одна линия"));
    // Forty-eight untouched menus are not worth a word.
    EXPECT_TRUE(about(all, "MENU(10)", "").empty());
    set("MENU(0)", "ActionDTMF[9]", "0109");
    EXPECT_TRUE(about(check(), "MENU(9)", "").empty());
}

TEST_F(PreWriteCheck, RecordingsOfReachableMenusMustBeThereAndPlayable) {
    set("MENU(0)", "ActionDTMF[1]", "0101");
    set("MENU(0)", "ActionDTMF[2]", "0102");
    set("MENU(0)", "ActionDTMF[3]", "0103");
    set("MENU(0)", "ActionDTMF[4]", "0104");
    for (int k = 1; k <= 4; ++k)
        set("MENU(" + std::to_string(k) + ")", "ActionTO", "04");
    // 1: none recorded; 2: named but missing; 3: not a WAV; 4: a WAV the conversion cannot take.
    set("MENU(2)", "Message", "gone.wav");
    std::filesystem::create_directories(messageFile(3, "x").parent_path());
    { std::ofstream(messageFile(3, "noise.wav")) << "this is certainly not a sound file"; }
    set("MENU(3)", "Message", "noise.wav");
    flowtest::writeWav(messageFile(4, "float.wav"), 1.0, 8000, 32, 1, 3);
    set("MENU(4)", "Message", "float.wav");
    // Unreached menu 5 with a missing file: only a note.
    set("MENU(5)", "Message", "other.wav");
    const auto all = check();
    EXPECT_TRUE(has(all, Grade::Warning, "MENU(1)", "Message", "не записано"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(2)", "Message", "файла нет"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(3)", "Message", "не файл WAV"));
    EXPECT_TRUE(has(all, Grade::Error, "MENU(4)", "Message", "PCM"));
    EXPECT_TRUE(has(all, Grade::Note, "MENU(5)", "Message", "файла нет"));
    EXPECT_TRUE(about(all, "MENU(0)", "Message").empty());
}

TEST_F(PreWriteCheck, ALoopWithoutAWayOutIsFoundAndOneWayOutClearsIt) {
    set("MENU(0)", "ActionDTMF[1]", "0101");
    record(1, "a.wav", 1);
    record(2, "b.wav", 1);
    set("MENU(1)", "ActionTO", "0102");
    set("MENU(2)", "ActionTO", "0101");
    set("MENU(2)", "ActionDTMF[1]", "0102"); // repeat: still inside
    auto all = check();
    EXPECT_TRUE(has(all, Grade::Warning, "MENU(1)", "ActionTO", "по кругу через меню 1, 2:"));
    // Only one finding for the whole loop.
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const Finding& f) { return f.text.find("по кругу") != std::string::npos; }),
              1);
    // A return leads out.
    set("MENU(2)", "ActionDTMF[9]", "04");
    EXPECT_FALSE(has(check(), Grade::Warning, "MENU(1)", "ActionTO", "по кругу"));
    // So does a mailbox one menu further on: the loop can be left through menu 3.
    set("MENU(2)", "ActionDTMF[9]", "0103");
    record(3, "c.wav", 1);
    set("MENU(3)", "ActionTO", "0300");
    EXPECT_FALSE(has(check(), Grade::Warning, "MENU(1)", "ActionTO", "по кругу"));
    // A mailbox that does not exist is no way out.
    set("MENU(3)", "ActionTO", "0307");
    EXPECT_TRUE(has(check(), Grade::Warning, "MENU(1)", "ActionTO", "по кругу"));
}

TEST_F(PreWriteCheck, AMenuThatRepeatsItselfOnTimeOutIsALoopToo) {
    set("MENU(0)", "ActionTO", "0100");
    EXPECT_TRUE(has(check(), Grade::Warning, "MENU(0)", "ActionTO", "по кругу через меню 0:"));
}

TEST_F(PreWriteCheck, AnOperatorWithNoTimeToAnswer) {
    set("MENU(0)", "ActionTO", "02010000"); // no answer: this same menu, at once
    set("MENU(0)", "ActionDTMF[1]", "02010001");
    record(1, "a.wav", 1);
    const auto all = check();
    EXPECT_TRUE(has(all, Grade::Warning, "MENU(0)", "ActionTO", "0 с"));
    EXPECT_TRUE(has(all, Grade::Note, "MENU(0)", "ActionDTMF[1]", "сразу уйдёт в меню 1"));
}

TEST_F(PreWriteCheck, TimetableMistakes) {
    set("TIMETABLE", "DayStart[3]", "1700");
    set("TIMETABLE", "DayEnd[3]", "0800");
    // 0: over the new year, short: a note; 1: over the new year and ten months long: a warning.
    set("TIMETABLE", "UseHoliday[0]", "1");
    set("TIMETABLE", "HolidayStart[0]", "3012");
    set("TIMETABLE", "HolidayEnd[0]", "0801");
    set("TIMETABLE", "UseHoliday[1]", "1");
    set("TIMETABLE", "HolidayStart[1]", "0903");
    set("TIMETABLE", "HolidayEnd[1]", "0103");
    // 2 and 3 overlap on 05.05; 4 would overlap but is not in use.
    set("TIMETABLE", "UseHoliday[2]", "1");
    set("TIMETABLE", "HolidayStart[2]", "0105");
    set("TIMETABLE", "HolidayEnd[2]", "0505");
    set("TIMETABLE", "UseHoliday[3]", "1");
    set("TIMETABLE", "HolidayStart[3]", "0505");
    set("TIMETABLE", "HolidayEnd[3]", "1005");
    set("TIMETABLE", "HolidayStart[4]", "0105");
    set("TIMETABLE", "HolidayEnd[4]", "3105");
    set("TIMETABLE", "UseHoliday[5]", "1");
    set("TIMETABLE", "HolidayStart[5]", "2902");
    set("TIMETABLE", "HolidayEnd[5]", "2902");
    const auto all = check();
    EXPECT_TRUE(has(all, Grade::Warning, "TIMETABLE", "DayEnd[3]", "Среда"));
    EXPECT_TRUE(has(all, Grade::Note, "TIMETABLE", "HolidayEnd[0]", "через Новый год"));
    EXPECT_TRUE(has(all, Grade::Warning, "TIMETABLE", "HolidayEnd[1]", "перепутаны"));
    EXPECT_TRUE(has(all, Grade::Note, "TIMETABLE", "HolidayStart[3]", "Праздник[2] и Праздник[3] пересекаются"));
    EXPECT_TRUE(has(all, Grade::Note, "TIMETABLE", "HolidayStart[5]", "високосные"));
    EXPECT_TRUE(about(all, "TIMETABLE", "HolidayStart[4]").empty());
    EXPECT_TRUE(about(all, "TIMETABLE", "DayEnd[1]").empty());
    // The long one over the new year also overlaps the short one.
    EXPECT_TRUE(has(all, Grade::Note, "TIMETABLE", "HolidayStart[1]", "Праздник[0] и Праздник[1]"));
}

TEST_F(PreWriteCheck, MessagesMustFitTheUnitsFreeMemoryWhenItIsKnown) {
    record(1, "long.wav", 10.0); // unreached, but it is written all the same
    // 3 s + 10 s at 4000 bytes a second = 52000 bytes.
    EXPECT_TRUE(has(check(51999), Grade::Warning, "DEVICEINFO", "FreeSpaceBytes", "52000"));
    EXPECT_TRUE(about(check(52000), "DEVICEINFO", "FreeSpaceBytes").empty());
    EXPECT_TRUE(about(check(), "DEVICEINFO", "FreeSpaceBytes").empty());
}

TEST_F(PreWriteCheck, MenusFarApartInLoudnessAndClippedRecordingsAreWarnedOfOnceMeasured) {
    record(1, "quiet.wav", 3.0);
    record(2, "near.wav", 3.0);
    record(3, "clipped.wav", 3.0);
    record(4, "silent.wav", 3.0);
    set("MENU(5)", "Message", "gone.wav");
    std::vector<std::string> measured;
    const LevelMeter meter = [&](const std::string& path, double& lufs, double& peak) {
        const std::string file = std::filesystem::path(path).filename().string();
        measured.push_back(file);
        peak = file == "clipped.wav" ? 0.4 : -3.0;
        lufs = file == "quiet.wav" ? -26.5 : file == "near.wav" ? -25.5 : -20.0;
        return file != "silent.wav"; // silence has no level
    };
    CallFlow f = read();
    // Unmeasured levels say nothing: the picture never decodes the recordings.
    EXPECT_TRUE(about(checkCallFlow(f), "MENU(1)", "Message").empty());

    measureLevels(f, meter);
    std::sort(measured.begin(), measured.end());
    EXPECT_EQ(measured, (std::vector<std::string>{"clipped.wav", "main.wav", "near.wav", "quiet.wav", "silent.wav"}))
        << "a missing file is not decoded";
    const auto all = checkCallFlow(f);
    // Menu 1 is 6.5 LU below the menus' usual level (menus 0 and 3 at -20), menu 2 only 5.5: within what a
    // caller takes.
    const auto quiet = about(all, "MENU(1)", "Message");
    ASSERT_EQ(quiet.size(), 1u);
    EXPECT_EQ(quiet[0].grade, Grade::Warning);
    EXPECT_NE(quiet[0].text.find("на 6,5 LU"), std::string::npos) << quiet[0].text;
    EXPECT_NE(quiet[0].text.find("меню 0"), std::string::npos) << quiet[0].text;
    EXPECT_TRUE(about(all, "MENU(2)", "Message").empty());
    EXPECT_TRUE(has(all, Grade::Warning, "MENU(3)", "Message", "пик +0,4 dBTP"));
    EXPECT_TRUE(about(all, "MENU(4)", "Message").empty());
    EXPECT_FALSE(hasErrors(all));
}

TEST_F(PreWriteCheck, OneOverLoudRecordingIsTheOneNamedNotEveryOtherMenu) {
    record(1, "one.wav", 3.0);
    record(2, "two.wav", 3.0);
    record(3, "loud.wav", 3.0);
    CallFlow f = read();
    measureLevels(f, [](const std::string& path, double& lufs, double& peak) {
        const std::string file = std::filesystem::path(path).filename().string();
        peak = -3.0;
        lufs = file == "loud.wav" ? -8.0 : file == "one.wav" ? -21.0 : file == "two.wav" ? -22.0 : -20.0;
        return true;
    });
    const auto all = checkCallFlow(f);
    for (const char* menu : {"MENU(0)", "MENU(1)", "MENU(2)"})
        EXPECT_TRUE(about(all, menu, "Message").empty()) << menu;
    const auto loud = about(all, "MENU(3)", "Message");
    ASSERT_EQ(loud.size(), 1u);
    EXPECT_NE(loud[0].text.find("громче сообщения меню 0 на 12,0 LU"), std::string::npos) << loud[0].text;
}

TEST_F(PreWriteCheck, PasswordsATechnicianWouldChange) {
    set("MAILBOX(2)", "Password", "5555");
    EXPECT_TRUE(has(check(), Grade::Warning, "MAILBOX(2)", "Pwd", "совпадает"));
    set("SYSPARAM", "Password", "7316");
    EXPECT_TRUE(has(check(), Grade::Note, "SYSPARAM", "Password", "заводской"));
    // A mailbox callers leave messages in, still with the factory password.
    set("MENU(0)", "ActionDTMF[1]", "0300");
    EXPECT_TRUE(has(check(), Grade::Note, "MAILBOX(1)", "Pwd", "заводской"));
}

TEST_F(PreWriteCheck, AReturnFromTheFirstMenuAndAMenuThatEndsTheCall) {
    set("MENU(0)", "ActionDTMF[0]", "04");
    set("MENU(0)", "ActionDTMF[1]", "0101");
    record(1, "closed.wav", 2);
    const auto all = check();
    EXPECT_TRUE(has(all, Grade::Note, "MENU(0)", "ActionDTMF[0]", "предыдущего меню нет"));
    EXPECT_TRUE(has(all, Grade::Note, "MENU(1)", "ActionTO", "положить трубку"));
    // A menu that another menu leads to does have a previous menu.
    set("MENU(1)", "ActionDTMF[0]", "04");
    EXPECT_TRUE(about(check(), "MENU(1)", "ActionDTMF[0]").empty());
}

TEST_F(PreWriteCheck, AMenuCallingAnOperatorThatIsNotThere) {
    set("MENU(0)", "CallSLPOnStart", "1");
    set("MENU(0)", "SLPIndex", "2");
    hide("SLP(2)");
    EXPECT_TRUE(has(check(), Grade::Error, "MENU(0)", "SLPIndex", "скрыт"));
}

TEST(PreWriteCheckGrades, NamesAndCounts) {
    EXPECT_EQ(gradeName(Grade::Error), "ошибка");
    EXPECT_EQ(gradeName(Grade::Warning), "предупреждение");
    EXPECT_EQ(gradeName(Grade::Note), "замечание");
    std::vector<Finding> f{{Grade::Note, "A", "", "x", -1}, {Grade::Warning, "B", "", "y", -1}};
    EXPECT_FALSE(hasErrors(f));
    EXPECT_EQ(countGrade(f, Grade::Note), 1);
}

} // namespace

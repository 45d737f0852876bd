#include "flow/answering_menu.h"

#include <gtest/gtest.h>

using namespace flow;

namespace {

CallTime at(const char* text) {
    const auto t = parseCallTime(text);
    EXPECT_TRUE(t.has_value()) << text;
    return t.value_or(CallTime{});
}

CallFlow oneLine() {
    CallFlow f;
    f.lineCount = 1;
    f.menuCount = 50;
    Line l;
    l.number = 1;
    l.exists = true;
    l.dayMenu = 1;
    l.nightMenu = 2;
    l.holidayMenu = 3;
    f.lines.push_back(l);
    return f;
}

Holiday holiday(int index, int sd, int sm, int ed, int em, bool used = true) {
    Holiday h;
    h.index = index;
    h.used = used;
    h.startDay = sd;
    h.startMonth = sm;
    h.endDay = ed;
    h.endMonth = em;
    return h;
}

TEST(AnsweringMenu, WeekdaysWorkingHoursIncludeBothEndsAndMidnightBelongsToTheNewDay) {
    CallFlow f = oneLine();
    for (auto& d : f.timetable.days)
        d = WorkingDay{9 * 60, 18 * 60};
    f.timetable.days[5] = WorkingDay{10 * 60, 14 * 60}; // Saturday
    EXPECT_EQ(weekdayOf(2026, 12, 7), 1);               // a Monday
    EXPECT_EQ(weekdayOf(2026, 12, 13), 7);
    EXPECT_EQ(weekdayOf(2000, 2, 29), 2);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 08:59"))->menu, 2);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 09:00"))->menu, 1);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 18:00"))->menu, 1);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 18:01"))->menu, 2);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-12 09:30"))->menu, 2); // Saturday starts later
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-12 13:59"))->menu, 1);
    // Midnight is the first minute of the next day, judged by that day's hours.
    f.timetable.days[1] = WorkingDay{0, 60}; // Tuesday from 00:00
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-08 00:00"))->period, Period::Day);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 23:59"))->period, Period::Night);
    // The default day 00:00 to 23:59 is day all day long.
    CallFlow g = oneLine();
    EXPECT_EQ(answeringMenu(g, 1, at("2026-12-13 23:59"))->period, Period::Day);
    EXPECT_EQ(answeringMenu(g, 1, at("2026-12-13 00:00"))->period, Period::Day);
}

TEST(AnsweringMenu, ADayWhoseEndIsBeforeItsStartIsNightAllDayAndDoesNotSpillIntoTheNext) {
    CallFlow f = oneLine();
    f.timetable.days[0] = WorkingDay{22 * 60, 6 * 60}; // Monday 22:00 to 06:00
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 23:00"))->period, Period::Night);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 03:00"))->period, Period::Night);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-07 12:00"))->period, Period::Night);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-08 03:00"))->period,
              Period::Day); // Tuesday keeps its own hours
}

TEST(AnsweringMenu, HolidaysWinOverWorkingHoursAndMayRunOverTheNewYear) {
    CallFlow f = oneLine();
    f.timetable.holidays[0] = holiday(0, 8, 3, 8, 3);
    f.timetable.holidays[4] = holiday(4, 30, 12, 8, 1);       // over the new year
    f.timetable.holidays[5] = holiday(5, 1, 5, 31, 5, false); // not in use
    const auto womensDay = answeringMenu(f, 1, at("2027-03-08 12:00"));
    EXPECT_EQ(womensDay->period, Period::Holiday);
    EXPECT_EQ(womensDay->holiday, 0);
    EXPECT_EQ(womensDay->menu, 3);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-03-09 12:00"))->period, Period::Day);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-29 12:00"))->period, Period::Day);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-30 00:00"))->holiday, 4);
    EXPECT_EQ(answeringMenu(f, 1, at("2026-12-31 23:59"))->holiday, 4);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-01-01 00:00"))->holiday, 4);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-01-08 23:59"))->holiday, 4);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-01-09 00:00"))->period, Period::Day);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-05-15 12:00"))->period, Period::Day);
}

TEST(AnsweringMenu, TheTwentyNinthOfFebruaryComesOnlyInLeapYears) {
    CallFlow f = oneLine();
    f.timetable.holidays[1] = holiday(1, 29, 2, 29, 2);
    EXPECT_EQ(answeringMenu(f, 1, at("2028-02-29 10:00"))->period, Period::Holiday);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-02-28 10:00"))->period, Period::Day);
    EXPECT_EQ(answeringMenu(f, 1, at("2027-03-01 10:00"))->period, Period::Day);
    EXPECT_FALSE(parseCallTime("2027-02-29 10:00"));
}

TEST(AnsweringMenu, AMissingLineHasNoAnswer) {
    CallFlow f = oneLine();
    EXPECT_FALSE(answeringMenu(f, 2, at("2026-12-07 10:00")));
    EXPECT_FALSE(answeringMenu(f, 0, at("2026-12-07 10:00")));
    f.lines[0].exists = false;
    EXPECT_FALSE(answeringMenu(f, 1, at("2026-12-07 10:00")));
}

TEST(CallTimeText, AcceptsOnlyRealDatesAndTimes) {
    const auto t = parseCallTime("2026-12-08 14:05");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2026);
    EXPECT_EQ(t->minute, 5);
    EXPECT_EQ(formatCallTime(*t), "2026-12-08 14:05");
    EXPECT_EQ(parseCallTime("2026-12-08")->hour, 0);
    for (const char* bad : {"2026-02-30 10:00", "2026-1-1 10:00", "2026-12-08 24:00", "2026-12-08 10:60",
                            "2026-12-08T10:00", "", "2026-12-08 10:00x", "abcd-12-08 10:00", "2026-12-08 +1:00"})
        EXPECT_FALSE(parseCallTime(bad)) << bad;
}

} // namespace

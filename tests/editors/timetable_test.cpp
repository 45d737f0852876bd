#include "editor_fixture.h"

#include "editors/ted_timetable.h"
#include "model/tables.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QTimeEdit>
#include <QtTest/QTest>

using namespace zirezid;

namespace {
class TimetableTest : public test::EditorTest {
protected:
    Ted_timetable* ed() { return static_cast<Ted_timetable*>(frames.ed_timetable.get()); }
};
} // namespace

TEST_F(TimetableTest, TimePickerStoresHoursAndMinutesWhenLeft) {
    show(ed(), object("TIMETABLE"));
    ASSERT_EQ(ed()->dayStart.size(), 7u);
    QTimeEdit* monday = ed()->dayStart[0];
    EXPECT_EQ(monday->objectName(), QStringLiteral("me_21"));
    EXPECT_EQ(ed()->dayEnd[6]->time(), QTime(23, 59));
    monday->setTime(QTime(8, 30, 45));
    EXPECT_EQ(field("TIMETABLE", "DayStart[1]"), "0000"); // nothing before the picker is left
    leave(monday);
    EXPECT_EQ(field("TIMETABLE", "DayStart[1]"), "0830");
    EXPECT_EQ(monday->time(), QTime(8, 30)); // seconds are not kept
    EXPECT_EQ(object("TIMETABLE")->markState, kMarkChanged);
    QTimeEdit* sunday = ed()->dayEnd[6];
    sunday->setTime(QTime(17, 45));
    leave(sunday);
    EXPECT_EQ(field("TIMETABLE", "DayEnd[7]"), "1745");
    EXPECT_TRUE(sunday->toolTip().startsWith(QStringLiteral("Время")));
}

TEST_F(TimetableTest, HolidayRowsAreBoundByPositionAndAcceptTheTwentyNinthOfFebruary) {
    ASSERT_TRUE(object("TIMETABLE")->findChild("HolidayEnd[9]")->setText("3112"));
    show(ed(), object("TIMETABLE"));
    ASSERT_EQ(ed()->holidayStart.size(), 10u);
    EXPECT_EQ(ed()->holidayEnd[9]->date(), QDate(2000, 12, 31));
    EXPECT_EQ(ed()->holidayStart[0]->minimumDate(), QDate(2000, 1, 1));
    EXPECT_EQ(ed()->holidayStart[0]->maximumDate(), QDate(2000, 12, 31));

    QDateEdit* start = ed()->holidayStart[9];
    EXPECT_EQ(start->objectName(), QStringLiteral("me_59"));
    start->setDate(QDate(2000, 2, 29));
    leave(start);
    EXPECT_EQ(field("TIMETABLE", "HolidayStart[9]"), "2902");
    EXPECT_EQ(start->date(), QDate(2000, 2, 29));
    EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();

    QDateEdit* end = ed()->holidayEnd[3];
    end->setDate(QDate(2000, 5, 9));
    leave(end);
    EXPECT_EQ(field("TIMETABLE", "HolidayEnd[3]"), "0905");
    EXPECT_EQ(field("TIMETABLE", "HolidayStart[3]"), "0101");
}

TEST_F(TimetableTest, HolidayBoxStoresAtOnce) {
    show(ed(), object("TIMETABLE"));
    QCheckBox* box = ed()->useHoliday[3];
    EXPECT_EQ(box->text(), QStringLiteral("Праздник[3]"));
    box->click();
    EXPECT_EQ(field("TIMETABLE", "UseHoliday[3]"), "1");
    box->click();
    EXPECT_EQ(field("TIMETABLE", "UseHoliday[3]"), "0");
    ed()->useHoliday[9]->click();
    EXPECT_EQ(field("TIMETABLE", "UseHoliday[9]"), "1");
    EXPECT_EQ(field("TIMETABLE", "UseHoliday[8]"), "0");
}

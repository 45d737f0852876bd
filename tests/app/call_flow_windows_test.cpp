// The call-flow windows offscreen: the check before a write, the week view, the trial call and the picture.
#include "app/flow_windows.h"
#include "app/main_window.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cmath>

using namespace zirezid;
using test::ModalScript;

namespace {

// A 16-bit mono PCM WAV of a tone.
void writeTone(const QString& path, double seconds) {
    QByteArray data;
    const int frames = static_cast<int>(seconds * 8000);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<qint16>(8000 * std::sin(2 * 3.14159265 * 440 * i / 8000.0));
        data.append(static_cast<char>(v & 0xff));
        data.append(static_cast<char>((v >> 8) & 0xff));
    }
    const auto le = [](quint32 v, int bytes) {
        QByteArray b(bytes, '\0');
        for (int i = 0; i < bytes; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF" + le(36 + static_cast<quint32>(data.size()), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
               le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(static_cast<quint32>(data.size()), 4) +
               data);
}

class CallFlowWindows : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<Tfrm_main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window->shellState = Tfrm_main::stSaved;
        window.reset();
    }
    void set(const char* object, const char* key, const char* stored) {
        ASSERT_TRUE(window->db.findObject(object)->findChild(key)->value->setText(stored)) << object << key;
    }
    void record(int menu, double seconds) {
        KT_TABLE* m = window->db.findObject("MENU(" + std::to_string(menu) + ")");
        const QString folder = QString::fromStdString(menuMessageFolder(window->db.messagesFolder, *m));
        ASSERT_TRUE(QDir().mkpath(folder));
        writeTone(folder + QStringLiteral("tone.wav"), seconds);
        ASSERT_TRUE(m->findChild("Message")->value->setText("tone.wav"));
    }
    test::TestEnvironment env;
    std::unique_ptr<Tfrm_main> window;
};

TEST_F(CallFlowWindows, TheCheckBeforeAWriteStopsOnErrorsUnlessWrittenAnyway) {
    record(0, 1.0);
    set("MENU(0)", "ActionTO", "02002000");
    set("SYSPARAM", "Password", "5555");
    // Nothing but notes about what goes: no question at all.
    {
        ModalScript script;
        EXPECT_TRUE(preWriteCheckAllows(*window, {"SYSPARAM", "MENU(0)"}));
        EXPECT_EQ(script.handled() + script.unexpected(), 0);
    }
    set("MENU(0)", "ActionDTMF[1]", "0160");
    QString writeText, summary;
    int rows = 0;
    {
        ModalScript script;
        script.then([&](QDialog* d) {
            auto* list = d->findChild<QTreeWidget*>(QStringLiteral("lv_Findings"));
            rows = list->topLevelItemCount();
            EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("ошибка"));
            EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("меню 0"));
            EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("Действие - ввод цифры 1"));
            summary = d->findChild<QLabel*>(QStringLiteral("lbl_Summary"))->text();
            auto* write = d->findChild<QPushButton*>(QStringLiteral("bt_Write"));
            writeText = write->text();
            write->click();
        });
        EXPECT_TRUE(preWriteCheckAllows(*window, {"MENU(0)"}));
        EXPECT_EQ(script.handled(), 1);
    }
    EXPECT_EQ(writeText, QStringLiteral("Записать всё равно"));
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Ошибок: 1")));
    {
        ModalScript script;
        script.click(QStringLiteral("bt_Cancel"));
        EXPECT_FALSE(preWriteCheckAllows(*window, {"MENU(0)"}));
    }
    // A write that does not send the broken menu is not stopped by it.
    {
        ModalScript script;
        EXPECT_TRUE(preWriteCheckAllows(*window, {"SYSPARAM"}));
        EXPECT_EQ(script.handled() + script.unexpected(), 0);
    }
}

TEST(CallFlowWriteFilter, KeepsTheWrittenObjectsAndLeavesMemoryToTheWritesOwnQuestion) {
    std::vector<flow::Finding> all{{flow::Grade::Error, "MENU(1)", "ActionTO", "a", 1},
                                   {flow::Grade::Warning, "TIMETABLE", "DayEnd[1]", "b", -1},
                                   {flow::Grade::Warning, "DEVICEINFO", "FreeSpaceBytes", "c", -1}};
    EXPECT_EQ(findingsForWrite(all, {"TIMETABLE"}).size(), 1u);
    // The write has asked whether its messages fit before the list: the list does not ask it again.
    const auto menus = findingsForWrite(all, {"MENU(1)"});
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].object, "MENU(1)");
    EXPECT_TRUE(findingsForWrite(all, {"SYSPARAM"}).empty());
}

TEST_F(CallFlowWindows, TheWeekViewColoursEachHourAndListsTheHolidays) {
    set("TIMETABLE", "DayStart[1]", "0930");
    set("TIMETABLE", "DayEnd[1]", "1759");
    set("TIMETABLE", "DayStart[2]", "2000");
    set("TIMETABLE", "DayEnd[2]", "0600");
    set("TIMETABLE", "UseHoliday[2]", "1");
    set("TIMETABLE", "HolidayStart[2]", "3012");
    set("TIMETABLE", "HolidayEnd[2]", "0801");
    const flow::CallFlow f = currentCallFlow(*window);
    EXPECT_DOUBLE_EQ(WeekGrid::dayShare(f.timetable, 1, 8), 0.0);
    EXPECT_DOUBLE_EQ(WeekGrid::dayShare(f.timetable, 1, 9), 0.5);
    EXPECT_DOUBLE_EQ(WeekGrid::dayShare(f.timetable, 1, 17), 1.0);
    EXPECT_DOUBLE_EQ(WeekGrid::dayShare(f.timetable, 1, 18), 0.0);
    for (int h = 0; h < 24; ++h)
        EXPECT_DOUBLE_EQ(WeekGrid::dayShare(f.timetable, 2, h), 0.0) << h; // end before start: night all day
    EXPECT_DOUBLE_EQ(WeekGrid::dayShare(f.timetable, 3, 23), 1.0);

    Tfrm_week week(*window);
    week.refresh();
    ASSERT_EQ(week.lst_Holidays->count(), 1);
    EXPECT_EQ(week.lst_Holidays->item(0)->text(), QStringLiteral("Праздник[2]: 30.12 – 08.01 (через Новый год)"));
    EXPECT_EQ(week.grid->sizeHint().height(), 2 * week.grid->sizeHint().height() / 2); // two lines drawn
    // The picture itself: Monday 08:00 is night blue, 12:00 day yellow.
    week.grid->resize(week.grid->sizeHint());
    const QImage img = week.grid->grab().toImage();
    const int rowY = 22 + 16 + 9; // first line's title, hour heads, middle of Monday's row
    const QColor night = img.pixelColor(34 + 8 * 22 + 11, rowY), day = img.pixelColor(34 + 12 * 22 + 11, rowY);
    EXPECT_EQ(night, QColor(0x2f, 0x3e, 0x5c));
    EXPECT_EQ(day, QColor(0xf7, 0xd7, 0x74));
}

TEST_F(CallFlowWindows, TheTrialCallsKeypadFollowsTheActionsAndPlaysWhatTheCallerHears) {
    record(0, 2.0);
    set("MENU(0)", "ActionDTMF[1]", "0102");
    set("MENU(2)", "ActionDTMF[5]", "02022003");
    set("MENU(3)", "ActionTO", "0301");
    Tfrm_trial trial(*window);
    trial.refresh();
    ASSERT_EQ(trial.cb_Line->count(), 2);
    trial.cb_Line->setCurrentIndex(1);
    trial.de_At->setDateTime(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    trial.startCall();
    EXPECT_EQ(trial.lbl_End->text(), QStringLiteral("Звонящий в меню 0: нажмите цифру или «Таймаут»"));
    // The caller's sound went through the unit's coding: a WAV of the same length at 8000 samples a second.
    ASSERT_FALSE(trial.callerSoundPath.isEmpty()) << trial.callerSoundError.toStdString();
    EXPECT_NEAR(QFileInfo(trial.callerSoundPath).size(), 44 + 2.0 * 8000 * 2, 200);

    QTest::mouseClick(trial.findChild<QPushButton*>(QStringLiteral("key_1")), Qt::LeftButton);
    EXPECT_TRUE(trial.callerSoundPath.isEmpty()); // menu 2 has no recording
    QTest::mouseClick(trial.findChild<QPushButton*>(QStringLiteral("key_5")), Qt::LeftButton);
    EXPECT_EQ(trial.lbl_End->text(), QStringLiteral("Вызов переведён на оператора линии 2, ждать 20 с, затем меню 3"));
    EXPECT_FALSE(trial.findChild<QPushButton*>(QStringLiteral("key_1"))->isEnabled());
    ASSERT_TRUE(trial.bt_NoAnswer->isEnabled());
    QTest::mouseClick(trial.bt_NoAnswer, Qt::LeftButton);
    QTest::mouseClick(trial.findChild<QPushButton*>(QStringLiteral("key_T")), Qt::LeftButton);
    EXPECT_EQ(trial.lbl_End->text(), QStringLiteral("Сообщение в ящик 2"));
    EXPECT_EQ(trial.lst_Steps->item(0)->text(), QStringLiteral("линия 2, 2026-12-07 10:00 (день): отвечает меню 0"));
    // The path is drawn in the picture.
    EXPECT_FALSE(trial.canvas->menuRect(3).isEmpty());
}

TEST_F(CallFlowWindows, AClickOnAMenuBoxReportsThatMenu) {
    set("MENU(0)", "ActionDTMF[1]", "0104");
    FlowCanvas canvas;
    flow::PictureOptions o;
    canvas.setSvg(QByteArray::fromStdString(flow::drawCallFlow(currentCallFlow(*window), o, "svg").data));
    canvas.show();
    QSignalSpy clicked(&canvas, &FlowCanvas::menuClicked);
    const QRectF box = canvas.menuRect(4);
    ASSERT_FALSE(box.isEmpty());
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, box.center().toPoint());
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked.at(0).at(0).toInt(), 4);
    // Zoomed in, the box moves and grows with the picture.
    canvas.setZoom(2.0);
    EXPECT_NEAR(canvas.menuRect(4).width(), 2 * box.width(), 1.0);
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(1, 1)); // empty paper: nothing
    EXPECT_EQ(clicked.count(), 1);
}

} // namespace

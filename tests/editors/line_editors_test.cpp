#include "editor_fixture.h"

#include "editors/ted_lines.h"
#include "model/tables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

using namespace zirezid;

namespace {
class LineEditorTest : public test::EditorTest {
protected:
    Ted_trk* trk() { return static_cast<Ted_trk*>(frames.ed_trk.get()); }
    Ted_slp* slp() { return static_cast<Ted_slp*>(frames.ed_slp.get()); }
};
} // namespace

TEST_F(LineEditorTest, TrunkLineListsTheMenusAndStoresThePickedPosition) {
    ASSERT_TRUE(object("MENU(4)")->findChild("Desc")->setText("Ночь"));
    ASSERT_TRUE(object("TRK(2)")->findChild("NightMenu")->setText("4"));
    show(trk(), object("TRK(2)"));
    Ted_trk* ed = trk();
    EXPECT_EQ(ed->stCaption->text(), QStringLiteral("линия 2"));
    for (QComboBox* combo : {ed->cb_DayMenu, ed->cb_NightMenu, ed->cb_HolidayMenu}) {
        EXPECT_EQ(combo->count(), 50);
        EXPECT_EQ(combo->maxVisibleItems(), 20);
    }
    EXPECT_EQ(ed->cb_NightMenu->currentText(), QStringLiteral("меню 4 : Ночь"));
    EXPECT_EQ(ed->cb_DayMenu->currentIndex(), 0);

    ed->cb_HolidayMenu->setCurrentIndex(12);
    emit ed->cb_HolidayMenu->activated(12);
    EXPECT_EQ(field("TRK(2)", "HolidayMenu"), "12");
    EXPECT_EQ(object("TRK(2)")->markState, kMarkChanged);
    ed->ch_MBAccessAllowed->click();
    EXPECT_EQ(field("TRK(2)", "MBAccessAllowed"), "1");

    // The one frame serves the other line with that line's values.
    show(ed, object("TRK(1)"));
    EXPECT_EQ(ed->cb_HolidayMenu->currentIndex(), 0);
    EXPECT_FALSE(ed->ch_MBAccessAllowed->isChecked());
    EXPECT_TRUE(recorder.messages.isEmpty());
}

TEST_F(LineEditorTest, MenuNumberBeyondTheListShowsNoSelectionAndSurvivesLeaving) {
    // A database for fewer menus than the file's numbers: the field's own range allows it, the list does not.
    KT_TABLE* line = object("TRK(1)");
    KT_TABLE* menus = db.root->findTable("MENUS");
    ASSERT_NE(menus, nullptr);
    while (menus->childCount() > 10)
        menus->removeChildAt(menus->childCount() - 1);
    ASSERT_TRUE(line->findChild("DayMenu")->setText("30"));
    show(trk(), line);
    EXPECT_EQ(trk()->cb_DayMenu->count(), 10);
    EXPECT_EQ(trk()->cb_DayMenu->currentIndex(), -1);
    leave(trk()->cb_DayMenu);
    EXPECT_EQ(field("TRK(1)", "DayMenu"), "30");
    EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
}

TEST_F(LineEditorTest, PassthroughGreysThePermissionsWhileTicked) {
    show(slp(), object("SLP(1)"));
    Ted_slp* ed = slp();
    ed->ch_SetupAllowed->click();
    ASSERT_EQ(field("SLP(1)", "SetupAllowed"), "1");
    EXPECT_TRUE(ed->ch_SetupAllowed->isEnabled());
    ed->ch_Passthrough->click();
    EXPECT_EQ(field("SLP(1)", "Passthrough"), "1");
    EXPECT_FALSE(ed->ch_SetupAllowed->isEnabled());
    EXPECT_FALSE(ed->ch_MBAccessAllowed->isEnabled());
    EXPECT_EQ(field("SLP(1)", "SetupAllowed"), "1");
    // Shown again, the line keeps the greying.
    show(ed, object("SLP(2)"));
    EXPECT_TRUE(ed->ch_SetupAllowed->isEnabled());
    show(ed, object("SLP(1)"));
    EXPECT_FALSE(ed->ch_SetupAllowed->isEnabled());
    EXPECT_TRUE(ed->ch_SetupAllowed->isChecked());
    ed->ch_Passthrough->click();
    EXPECT_EQ(field("SLP(1)", "Passthrough"), "0");
    EXPECT_TRUE(ed->ch_SetupAllowed->isEnabled());
    EXPECT_TRUE(ed->ch_MBAccessAllowed->isEnabled());
    EXPECT_EQ(field("SLP(1)", "SetupAllowed"), "1");
}

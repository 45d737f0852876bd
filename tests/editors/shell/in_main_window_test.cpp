// The editors inside the real main window: the copy question is the window's own warning query, and digit
// strings open the window's dial-string editor.
#include "app/main_window.h"
#include "editors/ted_menu.h"
#include "editors/ted_timetable.h"
#include "model/actions.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QTimeEdit>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;

namespace {
class InMainWindowTest : public ::testing::Test {
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
    test::TestEnvironment env;
    std::unique_ptr<Tfrm_main> window;
};
} // namespace

TEST_F(InMainWindowTest, CopyAsksWithTheWarningQueryAndCopiesOnlyOnYes) {
    KT_TABLE* source = window->db.findObject("MENU(2)");
    ASSERT_TRUE(source->findChild("Desc")->setText("Склад"));
    KT_TABLE* target = window->db.findObject("MENU(5)");
    window->selectObjectNode(*target);
    auto* ed = static_cast<Ted_menu*>(window->frames.ed_menu.get());
    ASSERT_EQ(ed->boundObject, target);
    EXPECT_FALSE(ed->messageFolder().isEmpty());
    {
        test::ModalScript script;
        script.click(QStringLiteral("btn_No"));
        ed->cb_Copy->setCurrentIndex(2);
        emit ed->cb_Copy->activated(2);
        EXPECT_EQ(script.handled(), 1);
        ASSERT_EQ(script.texts.size(), 1);
        EXPECT_EQ(script.texts[0], QStringLiteral("Копировать данные из меню 2 : Склад в меню 5?"));
    }
    EXPECT_EQ(target->findChild("Desc")->getText(), "''");
    {
        test::ModalScript script;
        script.click(QStringLiteral("btn_Yes"));
        emit ed->cb_Copy->activated(2);
        EXPECT_EQ(script.handled(), 1);
    }
    EXPECT_EQ(target->findChild("Desc")->getText(), "'Склад'");
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
}

TEST_F(InMainWindowTest, SavingWithAPickerFocusedStoresThePickerFirst) {
    KT_TABLE* timetable = window->db.findObject("TIMETABLE");
    window->selectObjectNode(*timetable);
    auto* ed = static_cast<Ted_timetable*>(window->frames.ed_timetable.get());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ed->dayStart[4]->setFocus();
    ASSERT_TRUE(ed->dayStart[4]->hasFocus());
    ed->dayStart[4]->setTime(QTime(9, 15));
    window->askFileName = [this](Tfrm_main::FileDialogKind, const QString&, const QString&) {
        return env.path(QStringLiteral("week.qor"));
    };
    window->mn_SaveAsClick();
    EXPECT_EQ(timetable->findChild("DayStart[5]")->getText(), "0915");
}

TEST_F(InMainWindowTest, DigitStringsOfTheWindowOpenItsDialStringEditor) {
    EXPECT_EQ(window->dialStringEditor(), static_cast<host::EditorWindow*>(window->frames.frm_spec.get()));
    auto* action = dynamic_cast<KT_ACTION*>(window->db.findObject("MENU(0)")->findChild("ActionTO")->value.get());
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->setText("0103"));
    EXPECT_EQ(action->param->editor, window->dialStringEditor());
}

// A technician at the real main window with the simulated unit on the line.

#include "app/main_window.h"
#include "model/tables.h"
#include "ui_helpers.h"
#include "window_with_unit.h"

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {

class TechnicianAtTheUnitTest : public WindowWithUnit {
protected:
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }
    void clickNode(KT_TABLE* table) {
        auto* node = static_cast<TreeNodeItem*>(table->node);
        ASSERT_NE(node, nullptr);
        window->allowExpand = true;
        for (QTreeWidgetItem* up = node->QTreeWidgetItem::parent(); up != nullptr; up = up->parent())
            up->setExpanded(true);
        window->allowExpand = false;
        window->kt_treeview->scrollToItem(node);
        const QRect rect = window->kt_treeview->visualItemRect(node);
        QTest::mouseClick(window->kt_treeview->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_EQ(window->kt_treeview->currentItem(), node);
    }
    void activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QStringList visibleFrames() const {
        QStringList shown;
        for (TKT_EDITOR* frame : window->frames.all())
            if (frame->isVisible())
                shown << frame->objectName();
        return shown;
    }
};

} // namespace

TEST_F(TechnicianAtTheUnitTest, ClosingTheReadAndWriteDialogsLeavesExactlyOneEditorShown) {
    ASSERT_NO_FATAL_FAILURE(clickNode(object("SYSPARAM")));
    QTest::keyClick(window->kt_treeview, Qt::Key_Space); // marked for the read
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    ASSERT_NO_FATAL_FAILURE(activate());
    EXPECT_EQ(visibleFrames(), QStringList{QStringLiteral("ed_sysparam")});

    // Read, then close the dialog without reading; then the same with a read that ran.
    for (const bool run : {false, true}) {
        ModalScript script;
        script.then([run](QDialog* dialog) {
            if (run) {
                dialog->findChild<QPushButton*>(QStringLiteral("bt_Read"))->click();
                EXPECT_TRUE(QTest::qWaitFor(
                    [dialog] { return dialog->findChild<QPushButton*>(QStringLiteral("bt_Close"))->isEnabled(); },
                    20000));
            }
            dialog->findChild<QPushButton*>(QStringLiteral("bt_Close"))->click();
        });
        QTest::keyClick(window.get(), Qt::Key_F5);
        EXPECT_EQ(script.handled(), 1);
        ASSERT_NO_FATAL_FAILURE(activate());
        EXPECT_EQ(visibleFrames(), QStringList{QStringLiteral("ed_sysparam")}) << run;
        EXPECT_EQ(window->kt_treeview->currentItem(), static_cast<TreeNodeItem*>(object("SYSPARAM")->node));
        ASSERT_NO_FATAL_FAILURE(clickNode(object("TRKS")->tableAt(0)));
        EXPECT_EQ(visibleFrames(), QStringList{QStringLiteral("ed_trk")}) << run;
        ASSERT_NO_FATAL_FAILURE(clickNode(object("SYSPARAM")));
        EXPECT_EQ(visibleFrames(), QStringList{QStringLiteral("ed_sysparam")}) << run;
    }

    // The write dialog closed unused leaves the frame alone too.
    ModalScript script;
    script.click(QStringLiteral("bt_Close"));
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(script.handled(), 1);
    ASSERT_NO_FATAL_FAILURE(activate());
    EXPECT_EQ(visibleFrames(), QStringList{QStringLiteral("ed_sysparam")});
    ASSERT_NO_FATAL_FAILURE(clickNode(object("TRKS")->tableAt(0)));
    EXPECT_EQ(visibleFrames(), QStringList{QStringLiteral("ed_trk")});
}

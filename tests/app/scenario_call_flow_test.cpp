// A technician looks at the call flow in the real main window: the View menu, the picture, the check list and
// the trial call, with mouse clicks on the real widgets.
#include "app/flow_windows.h"
#include "app/main_window.h"
#include "audio/decode.h"
#include "editors/editor_base.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "ui_helpers.h"
#include "window_with_unit.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cmath>

using namespace zirezid;

namespace {

class TechnicianAndTheCallFlow : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<Tfrm_main>();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        set("MENU(0)", "ActionDTMF[1]", "0103");
        set("MENU(0)", "ActionDTMF[2]", "0177");
        set("MENU(3)", "ActionTO", "02012004");
    }
    void TearDown() override {
        window->shellState = Tfrm_main::stSaved;
        window.reset();
    }
    void set(const char* object, const char* key, const char* stored) {
        ASSERT_TRUE(window->db.findObject(object)->findChild(key)->value->setText(stored));
    }
    // Opens "Вид" in the menu bar and clicks the entry, with the mouse.
    void chooseFromView(const QString& entry) {
        QMenu* view = window->findChild<QMenu*>(QStringLiteral("mn_View"));
        ASSERT_NE(view, nullptr);
        QTest::mouseClick(window->menuBar(), Qt::LeftButton, {},
                          window->menuBar()->actionGeometry(view->menuAction()).center());
        ASSERT_TRUE(QTest::qWaitFor([view] { return view->isVisible(); }, 5000));
        QAction* action = nullptr;
        for (QAction* a : view->actions())
            if (a->text() == entry)
                action = a;
        ASSERT_NE(action, nullptr) << entry.toStdString();
        QTest::mouseClick(view, Qt::LeftButton, {}, view->actionGeometry(action).center());
    }
    QTreeWidgetItem* nodeOf(const char* object) {
        return dynamic_cast<QTreeWidgetItem*>(static_cast<TreeNodeItem*>(window->db.findObject(object)->node));
    }
    test::TestEnvironment env;
    std::unique_ptr<Tfrm_main> window;
};

TEST_F(TechnicianAndTheCallFlow, AClickOnAMenuInThePictureSelectsItInTheTree) {
    ASSERT_NO_FATAL_FAILURE(chooseFromView(QStringLiteral("Схема вызова")));
    auto* dialog = window->findChild<Tfrm_flow*>(QStringLiteral("frm_flow"));
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    const QRectF box = dialog->canvas->menuRect(3);
    ASSERT_FALSE(box.isEmpty());
    dialog->scroll->ensureVisible(static_cast<int>(box.center().x()), static_cast<int>(box.center().y()));
    QTest::mouseClick(dialog->canvas, Qt::LeftButton, {}, box.center().toPoint());
    EXPECT_EQ(window->kt_treeview->currentItem(), nodeOf("MENU(3)"));
    EXPECT_TRUE(window->frames.ed_menu->isVisible());
    // Zoom in with the button: the box grows.
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("bt_ZoomIn")), Qt::LeftButton);
    EXPECT_GT(dialog->canvas->menuRect(3).width(), box.width());
    dialog->close();
}

TEST_F(TechnicianAndTheCallFlow, ADoubleClickOnAFindingOpensTheMenuAtItsAction) {
    ASSERT_NO_FATAL_FAILURE(chooseFromView(QStringLiteral("Проверка настроек")));
    auto* dialog = window->findChild<Tfrm_check*>(QStringLiteral("frm_check"));
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    QTreeWidgetItem* error = dialog->lv_Findings->topLevelItem(0);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->text(0), QStringLiteral("ошибка"));
    EXPECT_FALSE(dialog->bt_Write->isVisible()); // looking, not writing
    const QRect row = dialog->lv_Findings->visualItemRect(error);
    // A double click as the mouse makes it: press and release, then the second press comes as a double click.
    QTest::mouseClick(dialog->lv_Findings->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(dialog->lv_Findings->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(window->kt_treeview->currentItem(), nodeOf("MENU(0)"));
    QWidget* focused = window->focusWidget(); // the window's focus, whether or not it is active yet
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(TKT_EDITOR::tag(focused), window->db.findObject("MENU(0)")->findChild("ActionDTMF[2]"));
}

TEST_F(TechnicianAndTheCallFlow, TheCheckMeasuresTheRecordingsAndWarnsOfAClippedOne) {
    // Menu 3, which menu 0's digit 1 leads to, gets a tone driven into clipping, as a careless studio sends it.
    audio::Sound tone;
    tone.rate = 8000;
    for (int i = 0; i < 3 * 8000; ++i)
        tone.samples.push_back(static_cast<float>(std::clamp(2.0 * std::sin(2 * M_PI * 997 * i / 8000.0), -1.0, 1.0)));
    KT_TABLE* menu = window->db.findObject("MENU(3)");
    const std::string folder = menuMessageFolder(window->db.messagesFolder, *menu);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const std::string file = folder + "loud.wav";
    ASSERT_TRUE(audio::writeWav16(file, tone));
    set("MENU(3)", "Message", "loud.wav");

    ASSERT_NO_FATAL_FAILURE(chooseFromView(QStringLiteral("Проверка настроек")));
    auto* dialog = window->findChild<Tfrm_check*>(QStringLiteral("frm_check"));
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    QStringList aboutMenu3;
    for (int i = 0; i < dialog->lv_Findings->topLevelItemCount(); ++i)
        if (dialog->lv_Findings->topLevelItem(i)->text(1).contains(QStringLiteral("3")))
            aboutMenu3 << dialog->lv_Findings->topLevelItem(i)->text(0) + QLatin1Char(' ') +
                              dialog->lv_Findings->topLevelItem(i)->text(3);
    EXPECT_TRUE(aboutMenu3.filter(QStringLiteral("предупреждение Меню 3: сообщение перегружено")).size() == 1)
        << aboutMenu3.join(QLatin1Char('|')).toStdString();
    dialog->close();
}

TEST_F(TechnicianAndTheCallFlow, ATrialCallByKeypadEndsAtTheOperatorInWords) {
    ASSERT_NO_FATAL_FAILURE(chooseFromView(QStringLiteral("Пробный звонок")));
    auto* dialog = window->findChild<Tfrm_trial*>(QStringLiteral("frm_trial"));
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    QTest::mouseClick(dialog->bt_Call, Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("key_1")), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("key_T")), Qt::LeftButton);
    EXPECT_EQ(dialog->lbl_End->text(),
              QStringLiteral("Вызов переведён на оператора линии 1, ждать 20 с, затем меню 4"));
    dialog->close();
}

} // namespace

#include <QFile>
#include <QProcess>

namespace {

// The same technician with the simulated unit on the line.
class TechnicianWritesTheCallFlow : public WindowWithUnit {};

} // namespace

TEST_F(TechnicianWritesTheCallFlow, AWriteOfAMenuLeadingNowhereStopsAtTheCheckUntilWrittenAnyway) {
    // A changed menu goes without a mark; its digit 4 leads to a menu a QOR22 does not have.
    ASSERT_TRUE(window->db.findObject("MENU(0)")->findChild("ActionDTMF[4]")->setText("0155"));
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    QString shown, writeButton;
    {
        test::ModalScript script;
        script.then([&](QDialog* d) {
            shown = d->objectName();
            writeButton = d->findChild<QPushButton*>(QStringLiteral("bt_Write"))->text();
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("bt_Cancel")), Qt::LeftButton);
        });
        QTest::keyClick(window.get(), Qt::Key_F6);
        EXPECT_EQ(script.handled(), 1);
        EXPECT_EQ(script.unexpected(), 0); // the write dialog never opened
    }
    EXPECT_EQ(shown, QStringLiteral("frm_check"));
    EXPECT_EQ(writeButton, QStringLiteral("Записать всё равно"));

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    {
        test::ModalScript script;
        script.then([](QDialog* d) {
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("bt_Write")), Qt::LeftButton);
        });
        script.then([&](QDialog* d) {
            shown = d->objectName();
            d->findChild<QPushButton*>(QStringLiteral("bt_Close"))->click();
        });
        QTest::keyClick(window.get(), Qt::Key_F6);
        EXPECT_EQ(script.handled(), 2);
    }
    EXPECT_EQ(shown, window->frm_read->objectName()); // on to the write dialog
}

#include "app/main_window.h"
#include "editors/simple_editors.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QListWidget>
#include <QRadioButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<Tfrm_main>();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void TearDown() override {
        window->shellState = Tfrm_main::stSaved;
        window.reset();
    }
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }
    std::string field(const char* objectName, const char* key) const {
        return object(objectName)->findChild(key)->getText();
    }
    Ted_sysparam* showSysparam() {
        window->selectObjectNode(*object("SYSPARAM"));
        return static_cast<Ted_sysparam*>(window->frames.ed_sysparam.get());
    }

    test::TestEnvironment env;
    std::unique_ptr<Tfrm_main> window;
};

} // namespace

TEST_F(EditorTest, SystemParametersShowTheirFieldsAndFilterKeys) {
    Ted_sysparam* ed = showSysparam();
    ASSERT_TRUE(ed->isVisible());
    EXPECT_EQ(ed->stCaption->text(), QStringLiteral("системные параметры"));
    EXPECT_EQ(ed->ed_password->text(), QStringLiteral("7316")); // the default password, in plain text
    EXPECT_EQ(ed->ed_NRingsToPickup->text(), QString::fromStdString(field("SYSPARAM", "NRingsToPickup")));
    EXPECT_FALSE(ed->ed_NRingsToPickup->toolTip().isEmpty());
    // Loading the controls stored nothing back.
    EXPECT_EQ(object("SYSPARAM")->markState, 1);

    ed->ed_NRingsToPickup->setFocus();
    ed->ed_NRingsToPickup->selectAll();
    QTest::keyClicks(ed->ed_NRingsToPickup, QStringLiteral("a"));
    EXPECT_EQ(ed->ed_NRingsToPickup->text(), QString::fromStdString(field("SYSPARAM", "NRingsToPickup")));
    QTest::keyClicks(ed->ed_NRingsToPickup, QStringLiteral("3"));
    EXPECT_EQ(ed->ed_NRingsToPickup->text(), QStringLiteral("3"));
    QTest::keyClick(ed->ed_NRingsToPickup, Qt::Key_Backspace);
    EXPECT_TRUE(ed->ed_NRingsToPickup->text().isEmpty());

    // A paste goes through the same filter, character by character.
    QApplication::clipboard()->setText(QStringLiteral("1x2"));
    QTest::keySequence(ed->ed_NRingsToPickup, QKeySequence::Paste);
    EXPECT_EQ(ed->ed_NRingsToPickup->text(), QStringLiteral("12"));
}

TEST_F(EditorTest, LeavingAnEditStoresAndMarksTheObjectChanged) {
    Ted_sysparam* ed = showSysparam();
    ed->ed_NRingsToPickup->setFocus();
    ed->ed_NRingsToPickup->setText(QStringLiteral("3"));
    QTest::keyClick(ed->ed_NRingsToPickup, Qt::Key_Tab);
    EXPECT_EQ(field("SYSPARAM", "NRingsToPickup"), "3");
    EXPECT_EQ(object("SYSPARAM")->markState, 4);
    EXPECT_EQ(window->db.root->markState, 3);
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
}

TEST_F(EditorTest, ARefusedEntryShowsTheMessageRevertsAndKeepsTheFocus) {
    Ted_sysparam* ed = showSysparam();
    const std::string before = field("SYSPARAM", "NRingsToPickup");
    ed->ed_NRingsToPickup->setFocus();
    ed->ed_NRingsToPickup->setText(QStringLiteral("150"));
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); });
    QTest::keyClick(ed->ed_NRingsToPickup, Qt::Key_Tab);
    QTest::qWait(1);
    EXPECT_EQ(script.handled(), 1);
    EXPECT_TRUE(script.texts.value(0).startsWith(QStringLiteral("NRingsToPickup (")));
    EXPECT_EQ(field("SYSPARAM", "NRingsToPickup"), before);
    EXPECT_EQ(ed->ed_NRingsToPickup->text(), QString::fromStdString(before));
    EXPECT_EQ(window->focusWidget(), ed->ed_NRingsToPickup); // the window gives it back once active again
    EXPECT_EQ(object("SYSPARAM")->markState, 1);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
}

TEST_F(EditorTest, RadioAndCheckBoxStoreAtOnce) {
    Ted_sysparam* ed = showSysparam();
    auto* off = static_cast<QRadioButton*>(ed->rg_AGCDisabled->buttons()->button(1));
    off->click();
    EXPECT_EQ(field("SYSPARAM", "AGCDisabled"), "1");
    EXPECT_EQ(object("SYSPARAM")->markState, 4);
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);

    const std::string flash = field("SYSPARAM", "FlashPassthrough");
    ed->ch_FlashPassthrough->click();
    EXPECT_NE(field("SYSPARAM", "FlashPassthrough"), flash);
    const std::string clicked = field("SYSPARAM", "FlashPassthrough");
    ed->ch_FlashPassthrough->setFocus();
    QTest::keyClick(ed->ch_FlashPassthrough, Qt::Key_Tab); // leaving stores the same value: no change
    EXPECT_EQ(field("SYSPARAM", "FlashPassthrough"), clicked);
}

TEST_F(EditorTest, ACommandFromTheMenuSeesWhatWasTypedLast) {
    Ted_sysparam* ed = showSysparam();
    ed->ed_FlashLenMs->setFocus();
    ed->ed_FlashLenMs->setText(QStringLiteral("300"));
    const QString path = env.path(QStringLiteral("typed.qor"));
    window->askFileName = [&](Tfrm_main::FileDialogKind, const QString&, const QString&) { return path; };
    window->mn_SaveAsClick(); // the tool bar and menu take no focus, so the edit was never left
    EXPECT_EQ(field("SYSPARAM", "FlashLenMs"), "300");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("FlashLenMs=300"));
}

TEST_F(EditorTest, OneFrameServesEveryMailbox) {
    object("MAILBOX(2)")->findChild("MaxMsgs")->setText("77");
    window->selectObjectNode(*object("MAILBOX(1)"));
    auto* ed = static_cast<Ted_mailbox*>(window->frames.ed_mailbox.get());
    ASSERT_TRUE(ed->isVisible());
    const QString first = ed->me_MaxMsgs->text();
    window->selectObjectNode(*object("MAILBOX(2)"));
    EXPECT_TRUE(ed->isVisible());
    EXPECT_EQ(ed->boundObject, object("MAILBOX(2)"));
    EXPECT_EQ(ed->me_MaxMsgs->text(), QStringLiteral("77"));
    EXPECT_NE(first, QStringLiteral("77"));
    EXPECT_EQ(ed->stCaption->text(), QString::fromStdString(object("MAILBOX(2)")->getDescription()));
    ed->rg_ReverseOrder->buttons()->button(1)->click();
    EXPECT_EQ(field("MAILBOX(2)", "ReverseOrder"), "1");
    EXPECT_EQ(field("MAILBOX(1)", "ReverseOrder"), "0");
}

TEST_F(EditorTest, ListEditorShowsTheChildrenAndJumpsOnDoubleClick) {
    auto* ed = static_cast<Ted_base*>(window->frames.ed_base.get());
    ASSERT_TRUE(ed->isVisible()); // the root is selected at start
    ASSERT_EQ(ed->lb->count(), 6);
    EXPECT_EQ(ed->lb->item(0)->text(), QStringLiteral("системные параметры"));
    EXPECT_EQ(ed->lb->item(5)->text(), QStringLiteral("почтовые ящики"));

    window->selectObjectNode(*object("TRKS"));
    ASSERT_EQ(ed->lb->count(), 2);
    ASSERT_FALSE(object("TRKS")->node == nullptr);
    emit ed->lb->itemDoubleClicked(ed->lb->item(1));
    QTreeWidgetItem* current = window->kt_treeview->currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(static_cast<TreeNodeItem*>(current)->data(), object("TRK(2)"));
    EXPECT_TRUE(current->parent()->isExpanded());
    EXPECT_FALSE(window->allowExpand);
    EXPECT_FALSE(ed->isVisible()); // the line's own frame replaced the list
    EXPECT_TRUE(window->frames.ed_trk->isVisible());
}

TEST_F(EditorTest, ReplacingTheDatabaseUnbindsEveryFrame) {
    Ted_sysparam* ed = showSysparam();
    window->askFileName = [&](Tfrm_main::FileDialogKind, const QString&, const QString&) {
        return env.path(QStringLiteral("new.qor"));
    };
    window->mn_NewClick();
    EXPECT_EQ(ed->boundObject, nullptr);
    EXPECT_EQ(TKT_EDITOR::tag(ed->ed_NRingsToPickup), nullptr);
    EXPECT_FALSE(ed->isVisible());
    EXPECT_TRUE(window->frames.ed_base->isVisible());
}

namespace {
// A frame of the kind the line and menu editors build: a choice list bound to a field.
class ChoiceFrame : public TKT_FIELD_EDITOR {
public:
    ChoiceFrame() {
        auto* layout = new QVBoxLayout(pnl_middle);
        cb_PulseDialing = new QComboBox(pnl_middle);
        cb_PulseDialing->addItems({QStringLiteral("тональный"), QStringLiteral("импульсный")});
        layout->addWidget(cb_PulseDialing);
        bindings = {{cb_PulseDialing, "PulseDialing"}};
    }
    QComboBox* cb_PulseDialing;
};
} // namespace

TEST(EditorBase, AChoiceListIsChangedOnlyByChoosing) {
    SettingsDatabase db;
    db.buildNewBase("/nonexistent/x.qor");
    KT_TABLE* sys = db.findObject("SYSPARAM");
    ChoiceFrame frame;
    frame.show();
    frame.bindObject(sys);
    EXPECT_EQ(frame.cb_PulseDialing->currentIndex(), 0);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("и"));
    QApplication::sendEvent(frame.cb_PulseDialing, &letter); // typed letters are dropped
    EXPECT_EQ(frame.cb_PulseDialing->currentIndex(), 0);
    EXPECT_FALSE(frame.controlKeyPress(frame.cb_PulseDialing, U'и'));
    EXPECT_TRUE(frame.controlKeyPress(frame.cb_PulseDialing, 13));
    EXPECT_TRUE(frame.controlKeyPress(frame.cb_PulseDialing, 27));
    frame.cb_PulseDialing->setCurrentIndex(1);
    emit frame.cb_PulseDialing->activated(1); // chosen from the list: stored at once
    EXPECT_EQ(sys->findChild("PulseDialing")->getText(), "1");
    EXPECT_EQ(sys->markState, 4);
    // Unbound, the frame stores nothing.
    frame.unbind();
    frame.cb_PulseDialing->setCurrentIndex(0);
    emit frame.cb_PulseDialing->activated(0);
    EXPECT_EQ(sys->findChild("PulseDialing")->getText(), "1");
}

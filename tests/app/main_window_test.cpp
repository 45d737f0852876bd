#include "app/main_window.h"
#include "app/message_boxes.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QFileInfo>
#include <QSettings>
#include <QStatusTipEvent>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = std::make_unique<Tfrm_main>(commandLineFile); }
    void TearDown() override {
        window->shellState = Tfrm_main::stSaved; // no close question when the test ends
        window.reset();
    }
    void start() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }
    TreeNodeItem* node(const char* name) const {
        KT_TABLE* t = object(name);
        return t != nullptr ? dynamic_cast<TreeNodeItem*>(t->node) : nullptr;
    }
    // The file dialogs answer these paths in turn; an empty entry cancels.
    void answerFileDialogs(QStringList paths) {
        dialogTitles.clear();
        dialogNames.clear();
        dialogKinds.clear();
        window->askFileName = [this, list = std::move(paths)](Tfrm_main::FileDialogKind kind, const QString& title,
                                                              const QString& name) mutable {
            dialogTitles << title;
            dialogNames << name;
            dialogKinds.push_back(kind);
            return list.isEmpty() ? QString() : list.takeFirst();
        };
    }
    QString preference(const char* key) const {
        QSettings prefs(env.preferences(), QSettings::IniFormat);
        return prefs.value(QString::fromLatin1(key)).toString();
    }
    // Writes a settings file for configuration `id` through the model itself.
    QString writeBase(const QString& name, int id) {
        SettingsDatabase other;
        EXPECT_TRUE(other.selectUnitConfig(id));
        const QString path = env.path(name);
        other.buildNewBase(path.toStdString());
        EXPECT_TRUE(other.saveBase(path.toStdString()));
        return path;
    }

    test::TestEnvironment env;
    QString commandLineFile;
    std::unique_ptr<Tfrm_main> window;
    QStringList dialogTitles, dialogNames;
    std::vector<Tfrm_main::FileDialogKind> dialogKinds;
};

} // namespace

TEST_F(MainWindowTest, FirstStartBuildsTheUnnamedDatabaseInTheScratchFolder) {
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("noname.qor — ZIRezid"));
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_TRUE(window->isUnnamed);
    EXPECT_EQ(window->stStatus[1]->text(), QStringLiteral("COM1"));
    EXPECT_EQ(window->stStatus[2]->text(), QStringLiteral("QOR22"));
    EXPECT_EQ(preference("ComPort"), QStringLiteral("1"));
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("29"));
    EXPECT_EQ(QString::fromStdString(window->db.basePath), env.scratch() + QStringLiteral("noname.qor"));
    EXPECT_TRUE(QFileInfo(env.scratch() + QStringLiteral("noname.messages")).isDir());
    EXPECT_FALSE(QFile::exists(env.scratch() + QStringLiteral("noname.qor"))); // nothing written yet
    TreeNodeItem* root = window->kt_treeview->rootNode();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("База настроек: noname.qor"));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(window->kt_treeview->currentItem(), root);
    EXPECT_EQ(root->childCount(), 6);
    EXPECT_EQ(node("TRKS")->childCount(), 2);
    EXPECT_EQ(root->stateImage(), 1);
    // The root's list editor is on view; the device box says only that nothing is connected.
    EXPECT_TRUE(window->frames.ed_base->isVisible());
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_TRUE(window->lbl_nType->isHidden());
    EXPECT_TRUE(window->lbl_vFreeSpace->isHidden());
}

TEST_F(MainWindowTest, StateTableInEveryStateWithAndWithoutConnection) {
    start();
    struct Expect {
        host::ShellState state;
        bool conn;
        bool btConnect, btRead, mnConnect, mnDisconnect, mnRead, mnDeviceConfig, mnNew, mnSave, btSave, mnSaveAs, shown;
    };
    const Expect expected[] = {
        {host::stSaved, false, true, false, true, false, false, true, true, false, false, true, true},
        {host::stSaved, true, true, true, false, true, true, false, true, false, false, true, true},
        {host::stModified, false, true, false, true, false, false, true, true, true, true, true, true},
        {host::stModified, true, true, true, false, true, true, false, true, true, true, true, true},
        {host::stNoBase, false, true, false, true, false, false, true, true, false, false, false, false},
        {host::stNoBase, true, true, false, false, true, false, false, true, false, false, false, false},
        {host::stBusy, false, false, false, false, false, false, false, false, false, false, false, false},
        {host::stBusy, true, false, false, false, false, false, false, false, false, false, false, false},
    };
    window->isUnnamed = false;
    for (const Expect& e : expected) {
        SCOPED_TRACE(testing::Message() << "state " << e.state << " connected " << e.conn);
        window->setShellState(e.state, e.conn);
        EXPECT_EQ(window->bt_Connect->isEnabled(), e.btConnect);
        EXPECT_EQ(window->bt_Connect->isChecked(), e.conn);
        EXPECT_EQ(window->bt_Read->isEnabled(), e.btRead);
        EXPECT_EQ(window->bt_Write->isEnabled(), e.btRead);
        EXPECT_EQ(window->mn_Connect->isEnabled(), e.mnConnect);
        EXPECT_EQ(window->mn_Disconnect->isEnabled(), e.mnDisconnect);
        EXPECT_EQ(window->mn_Read->isEnabled(), e.mnRead);
        EXPECT_EQ(window->mn_DateTime->isEnabled(), e.mnRead);
        EXPECT_EQ(window->mn_DeviceConfig->isEnabled(), e.mnDeviceConfig);
        EXPECT_EQ(window->mn_New->isEnabled(), e.mnNew);
        EXPECT_EQ(window->bt_Open->isEnabled(), e.mnNew);
        EXPECT_EQ(window->mn_Exit->isEnabled(), e.mnNew);
        EXPECT_EQ(window->mn_Save->isEnabled(), e.mnSave);
        EXPECT_EQ(window->bt_Save->isEnabled(), e.btSave);
        EXPECT_EQ(window->mn_SaveAs->isEnabled(), e.mnSaveAs);
        EXPECT_EQ(window->mn_Compare->isEnabled(), e.mnSaveAs); // there must be a database to compare
        EXPECT_EQ(window->pnl_meedle->isVisible(), e.shown);
        EXPECT_EQ(QApplication::overrideCursor() != nullptr, e.state == 3);
        EXPECT_EQ(window->bt_Connect->toolTip(),
                  e.conn ? QStringLiteral("Отключиться от устройства") : QStringLiteral("Подключиться к устройству"));
        EXPECT_EQ(window->lbl_nDisc->isHidden(), e.conn);
        EXPECT_TRUE(window->mnCOM->isEnabled());
        EXPECT_FALSE(window->bt_Terminal->isVisible());
    }
    // Modified and still unnamed: Save is only reachable as Save As through the tool button.
    window->isUnnamed = true;
    window->setShellState(host::stModified, false);
    EXPECT_FALSE(window->mn_Save->isEnabled());
    EXPECT_TRUE(window->bt_Save->isEnabled());
    window->setShellState(host::stSaved, false);
}

TEST_F(MainWindowTest, ConnectedBoxShowsTypeVersionAndFreeMinutes) {
    start();
    window->db.deviceInfo->findChild("SoftVer")->value->setText("1.02.03");
    window->db.deviceInfo->findChild("FreeSpaceBytes")->value->setText("4800000");
    window->setShellState(host::stSaved, true);
    EXPECT_EQ(window->lbl_vType->text(), QStringLiteral("QOR22"));
    EXPECT_EQ(window->lbl_vSoftVer->text(), QStringLiteral("1.02.03"));
    EXPECT_EQ(window->lbl_vFreeSpace->text(), QStringLiteral("20 мин."));
    EXPECT_FALSE(window->lbl_vType->isHidden());
    EXPECT_TRUE(window->lbl_nDisc->isHidden());
    window->setShellState(host::stSaved, false);
}

TEST_F(MainWindowTest, MarksFollowSpaceAndStateImageAndModifyTheWindow) {
    start();
    window->activateWindow();
    window->kt_treeview->setFocus();
    TreeNodeItem* trk1 = node("TRK(1)");
    TreeNodeItem* trk2 = node("TRK(2)");
    ASSERT_NE(trk1, nullptr);
    window->selectObjectNode(*object("TRK(1)"));
    QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    EXPECT_EQ(object("TRK(1)")->markState, 2);
    EXPECT_EQ(trk1->stateImage(), 2);
    EXPECT_EQ(object("TRKS")->markState, 3);
    EXPECT_EQ(window->db.root->markState, 3);
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);

    // A click on the state image of the second line marks it too.
    QTreeWidget* tree = window->kt_treeview;
    const QRect row = tree->visualItemRect(trk2);
    QPoint onImage;
    for (int x = row.left(); x < row.left() + 40 && onImage.isNull(); ++x)
        if (window->kt_treeview->onStateImage(trk2, QPoint(x, row.center().y())))
            onImage = QPoint(x, row.center().y());
    ASSERT_FALSE(onImage.isNull());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, onImage);
    EXPECT_EQ(object("TRK(2)")->markState, 2);
    EXPECT_EQ(object("TRKS")->markState, 2);
    EXPECT_EQ(window->db.root->markState, 3); // its other children are not marked

    LinkObjectList list;
    fillMarkList(*window->db.root, list);
    ASSERT_EQ(list.size(), 2u); // the lines, never the list node
    EXPECT_EQ(list[0].second, object("TRK(1)"));
    EXPECT_EQ(list[1].second, object("TRK(2)"));

    // Marking the list node marks all lines; unmarking it clears them.
    window->selectObjectNode(*object("TRKS"));
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(object("TRKS")->markState, 1);
    EXPECT_EQ(object("TRK(1)")->markState, 1);
    EXPECT_EQ(object("TRK(2)")->markState, 1);
}

TEST_F(MainWindowTest, NodesOpenOnlyByTheirButtonOrArrowKeys) {
    start();
    QTreeWidget* tree = window->kt_treeview;
    TreeNodeItem* menus = node("MENUS");
    window->selectObjectNode(*object("MENUS"));
    ASSERT_FALSE(menus->isExpanded());
    const QRect row = tree->visualItemRect(menus);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, QPoint(row.right() - 5, row.center().y()));
    EXPECT_FALSE(menus->isExpanded());
    QTest::keyClick(tree, Qt::Key_Plus);
    EXPECT_FALSE(menus->isExpanded());
    QTest::keyClick(tree, Qt::Key_Left); // either arrow toggles
    EXPECT_TRUE(menus->isExpanded());
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_FALSE(menus->isExpanded());
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {},
                      QPoint(row.left() - tree->indentation() / 2, row.center().y()));
    EXPECT_TRUE(menus->isExpanded());
    EXPECT_FALSE(window->allowExpand);
}

TEST_F(MainWindowTest, ReadAndWriteWithNothingMarkedOnlyTellSo) {
    start();
    window->setShellState(host::stSaved, true);
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); }).then([](QDialog* d) { d->accept(); });
    window->mn_ReadClick();
    window->mn_WriteClick();
    EXPECT_EQ(script.handled(), 2);
    EXPECT_EQ(script.unexpected(), 0); // the read/write dialog was never shown
    EXPECT_EQ(script.texts.value(0), QStringLiteral("Выберите объекты для чтения в панели слева."));
    EXPECT_EQ(script.texts.value(1), QStringLiteral("Выберите объекты для записи в панели слева."));
    EXPECT_TRUE(window->frames.ed_base->isVisible()); // the selected node's editor is back
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    window->setShellState(host::stSaved, false);
}

TEST_F(MainWindowTest, AChangedFieldIsOfferedForWritingWithoutMarking) {
    start();
    ASSERT_TRUE(object("TRK(2)")->findChild("NRingsToPickup") != nullptr || object("TRK(2)")->childCount() > 0);
    KT_RECORD* field = object("TRK(2)")->childAt(0);
    const std::string before = field->getText();
    // Any accepted change of a field: try the texts the kinds commonly accept.
    for (const char* text : {"2", "1", "3", "0"})
        if (field->setText(text) && field->getText() != before)
            break;
    ASSERT_NE(field->getText(), before);
    EXPECT_EQ(object("TRK(2)")->markState, 4);
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
    LinkObjectList list;
    fillMarkList(*window->db.root, list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].second, object("TRK(2)"));
}

TEST_F(MainWindowTest, NewAsksAboutUnsavedChangesAndSavesTheNewFile) {
    start();
    window->db.root->markState = 3;
    window->db.root->refreshNode();
    ASSERT_EQ(window->shellState, Tfrm_main::stModified);
    const QString saved = env.path(QStringLiteral("first.qor"));
    const QString fresh = env.path(QStringLiteral("fresh.qor"));
    answerFileDialogs({saved, fresh});
    {
        ModalScript script;
        script.click(QStringLiteral("btn_Yes"));
        window->mn_NewClick();
        EXPECT_EQ(script.texts.value(0), QStringLiteral("База настроек не сохранена. Сохранить?"));
    }
    ASSERT_EQ(dialogTitles.size(), 2);
    EXPECT_EQ(dialogTitles[0], QStringLiteral("Сохранить конфигурацию")); // Save As of the unnamed database
    EXPECT_EQ(dialogTitles[1], QStringLiteral("Новая база настроек"));
    EXPECT_TRUE(QFile::exists(saved));
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_FALSE(window->isUnnamed);
    EXPECT_EQ(window->kt_treeview->rootNode()->text(0), QStringLiteral("База настроек: fresh.qor"));
    EXPECT_TRUE(window->mn_Save->isEnabled() == false); // saved: nothing to save

    // Cancel in the question ends the command; Cancel in the dialog too.
    window->db.root->markState = 3;
    window->db.root->refreshNode();
    answerFileDialogs({});
    ModalScript cancel;
    cancel.click(QStringLiteral("btn_Cancel")).click(QStringLiteral("btn_No"));
    window->mn_NewClick();
    EXPECT_TRUE(dialogTitles.isEmpty());
    window->mn_NewClick();
    EXPECT_EQ(dialogTitles.size(), 1);
    EXPECT_EQ(QString::fromStdString(window->db.basePath), fresh);
    EXPECT_EQ(cancel.unexpected(), 0);
}

TEST_F(MainWindowTest, OpenSelectsTheFilesConfigurationWithoutTouchingThePreference) {
    start();
    const QString path = writeBase(QStringLiteral("small.qor"), 19);
    answerFileDialogs({path});
    window->mn_OpenClick();
    EXPECT_EQ(dialogTitles.value(0), QStringLiteral("Открыть конфигурацию"));
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_FALSE(window->isUnnamed);
    EXPECT_EQ(node("TRKS")->childCount(), 1);
    EXPECT_EQ(node("SLPS")->childCount(), 1);
    EXPECT_EQ(window->stStatus[2]->text(), QStringLiteral("QOR11"));
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("29"));
    EXPECT_EQ(window->kt_treeview->rootNode()->text(0), QStringLiteral("База настроек: small.qor"));
}

TEST_F(MainWindowTest, FailedOpenShowsTheMessageAndLeavesNoDatabaseShown) {
    start();
    const QString bad = env.path(QStringLiteral("bad.qor"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[DEVICEINFO]\r\nConfigID=77\r\n");
    file.close();
    answerFileDialogs({bad});
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); });
    window->mn_OpenClick();
    EXPECT_EQ(script.texts.value(0), QStringLiteral("Неизвестная конфигурация базы данных. Загрузка невозможна"));
    EXPECT_EQ(window->shellState, Tfrm_main::stNoBase);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(window->mn_Open->isEnabled());
    EXPECT_TRUE(window->mn_New->isEnabled());
    EXPECT_FALSE(window->pnl_meedle->isVisible());
    EXPECT_EQ(window->kt_treeview->topLevelItemCount(), 0);
}

TEST_F(MainWindowTest, SaveAsMovesTheMessagesOfTheUnnamedDatabase) {
    start();
    const QString messages = env.scratch() + QStringLiteral("noname.messages/menu0/");
    QDir().mkpath(messages);
    QFile(messages + QStringLiteral("hello.wav")).open(QIODevice::WriteOnly);
    const QString path = env.path(QStringLiteral("site.qor"));
    answerFileDialogs({path});
    window->mn_SaveAsClick();
    EXPECT_EQ(dialogNames.value(0), env.scratch() + QStringLiteral("noname.qor"));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(env.path(QStringLiteral("site.messages/menu0/hello.wav"))));
    EXPECT_EQ(window->kt_treeview->rootNode()->text(0), QStringLiteral("База настроек: site.qor"));
    EXPECT_FALSE(window->isUnnamed);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_TRUE(window->mn_Save->isEnabled() == false);

    // Save writes the same file again, with no dialog.
    window->db.root->markState = 3;
    window->db.root->refreshNode();
    EXPECT_TRUE(window->mn_Save->isEnabled());
    QFile::remove(path);
    window->mn_SaveClick();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(dialogNames.size(), 1);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
}

TEST_F(MainWindowTest, FailedSaveKeepsTheChangesUnsaved) {
    start();
    window->db.root->markState = 3;
    window->db.root->refreshNode();
    answerFileDialogs({env.path(QStringLiteral("no/such/folder/x.qor"))});
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); });
    window->mn_SaveAsClick();
    EXPECT_EQ(script.handled(), 1); // the failure was shown
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
    EXPECT_TRUE(window->isUnnamed);
    EXPECT_EQ(QString::fromStdString(window->db.basePath), env.scratch() + QStringLiteral("noname.qor"));
    EXPECT_EQ(window->kt_treeview->rootNode()->text(0), QStringLiteral("База настроек: noname.qor"));
}

TEST_F(MainWindowTest, UnitTypeConversionAsksAndReshapesBothWays) {
    start();
    // QOR22 -> QOR11 loses the second lines and says so.
    auto script = std::make_unique<ModalScript>();
    script
        ->then([](QDialog* d) {
            auto* list = d->findChild<QListWidget*>(QStringLiteral("ListBox1"));
            list->setCurrentRow(0);
            d->accept();
        })
        .click(QStringLiteral("btn_Yes"));
    window->mn_DeviceConfigClick();
    EXPECT_EQ(script->texts.value(0),
              QStringLiteral("База настроек будет преобразована. Часть информации может быть утеряна. Продолжить?"));
    EXPECT_EQ(node("TRKS")->childCount(), 1);
    EXPECT_EQ(node("SLPS")->childCount(), 1);
    EXPECT_EQ(window->stStatus[2]->text(), QStringLiteral("QOR11"));
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("19"));
    EXPECT_TRUE(window->frames.ed_base->isVisible()); // the root's editor, with no node selected
    EXPECT_EQ(window->frames.ed_base->boundObject, window->db.root.get());

    script.reset();
    // Back with No: nothing changes. Then with Yes: the short question, the lines come back.
    ModalScript back;
    auto chooseSecond = [](QDialog* d) {
        d->findChild<QListWidget*>(QStringLiteral("ListBox1"))->setCurrentRow(1);
        d->accept();
    };
    back.then(chooseSecond).click(QStringLiteral("btn_No")).then(chooseSecond).click(QStringLiteral("btn_Yes"));
    window->mn_DeviceConfigClick();
    EXPECT_EQ(node("TRKS")->childCount(), 1);
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("19"));
    window->mn_DeviceConfigClick();
    EXPECT_EQ(back.texts.value(1), QStringLiteral("База настроек будет преобразована. Продолжить?"));
    EXPECT_EQ(node("TRKS")->childCount(), 2);
    EXPECT_EQ(object("TRK(2)")->valueText, "12");
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("29"));
    EXPECT_EQ(back.unexpected(), 0);
}

TEST_F(MainWindowTest, SameUnitTypeWritesNothingAndNoDatabaseOnlySelects) {
    start();
    {
        QSettings prefs(env.preferences(), QSettings::IniFormat);
        prefs.setValue(QStringLiteral("ConfigID"), 55); // a marker: a write would overwrite it
    }
    auto same = std::make_unique<ModalScript>();
    same->then([](QDialog* d) {
        d->findChild<QListWidget*>(QStringLiteral("ListBox1"))->setCurrentRow(1);
        d->accept();
    });
    window->mn_DeviceConfigClick();
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("55"));
    EXPECT_EQ(same->unexpected(), 0);
    same.reset();

    window->applyShellState(Tfrm_main::stNoBase);
    ModalScript none;
    none.then([](QDialog* d) {
        d->findChild<QListWidget*>(QStringLiteral("ListBox1"))->setCurrentRow(0);
        d->accept();
    });
    window->mn_DeviceConfigClick();
    EXPECT_EQ(none.unexpected(), 0); // no conversion question
    EXPECT_EQ(window->db.currentConfig.id, 19);
    EXPECT_EQ(preference("ConfigID"), QStringLiteral("19"));
    EXPECT_EQ(window->stStatus[2]->text(), QStringLiteral("QOR11"));
}

TEST_F(MainWindowTest, PortDialogWritesThePreferenceEvenOnCancel) {
    start();
    {
        QSettings prefs(env.preferences(), QSettings::IniFormat);
        prefs.setValue(QStringLiteral("ComPort"), 7); // changed behind the window's back
    }
    ModalScript script;
    script.click(QStringLiteral("btn_Cancel")).then([](QDialog* d) {
        d->findChild<QComboBox*>(QStringLiteral("cb_PortNum"))->setCurrentIndex(3);
        d->findChild<QPushButton*>(QStringLiteral("btn_Ok"))->click();
    });
    window->mnCOMClick();
    EXPECT_EQ(preference("ComPort"), QStringLiteral("1"));
    window->mnCOMClick();
    EXPECT_EQ(preference("ComPort"), QStringLiteral("4"));
    EXPECT_EQ(window->comPortNumber, 4);
    EXPECT_EQ(window->stStatus[1]->text(), QStringLiteral("COM4"));
}

TEST_F(MainWindowTest, CloseQueryKeepsTheWindowOnCancel) {
    start();
    window->db.root->markState = 3;
    window->db.root->refreshNode();
    ModalScript script;
    script.click(QStringLiteral("btn_Cancel")).click(QStringLiteral("btn_No"));
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->close());
    EXPECT_EQ(script.unexpected(), 0);
}

class CommandLineTest : public MainWindowTest {
protected:
    void SetUp() override {
        commandLineFile = env.path(QStringLiteral("missing-config.qor"));
        QFile file(commandLineFile);
        file.open(QIODevice::WriteOnly);
        file.write("[KT_BASE]\r\n");
        file.close();
        MainWindowTest::SetUp();
    }
};

TEST_F(CommandLineTest, AFileThatFailsToLoadLeavesANewUnnamedDatabase) {
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); });
    start();
    QTest::qWait(1);
    EXPECT_EQ(script.handled(), 1);
    EXPECT_EQ(script.unexpected(), 0);
    EXPECT_TRUE(window->isUnnamed);
    EXPECT_EQ(window->kt_treeview->rootNode()->text(0), QStringLiteral("База настроек: noname.qor"));
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
}

TEST_F(MainWindowTest, HintsOfMenusAndFieldsShowInTheFirstPanel) {
    start();
    QStatusTipEvent menuTip(window->mn_SaveAs->statusTip());
    QApplication::sendEvent(window.get(), &menuTip);
    EXPECT_EQ(window->stStatus[0]->text(), QStringLiteral("Сохранить под другим именем"));
    // A field's hint is its value's rule, and it travels up from the editor like any status tip.
    window->selectObjectNode(*object("SYSPARAM"));
    QWidget* edit = window->frames.ed_sysparam->findChild<QWidget*>(QStringLiteral("ed_NRingsToPickup"));
    ASSERT_NE(edit, nullptr);
    ASSERT_FALSE(edit->statusTip().isEmpty());
    QStatusTipEvent fieldTip(edit->statusTip());
    QApplication::sendEvent(edit, &fieldTip);
    EXPECT_EQ(window->stStatus[0]->text(), edit->statusTip());
    EXPECT_EQ(window->stStatus[0]->width(), 640);
}

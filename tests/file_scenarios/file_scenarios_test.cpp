// A technician's files in the real main window, with real mouse and keyboard input: a Save As that fails, a file
// another program changed while it was open, a read with messages that is closed or applied. Modal dialogs are
// answered by the script that polls the active modal widget.
#include "app/main_window.h"
#include "model/atomic_file.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <filesystem>

using namespace zirezid;
using test::ModalScript;
namespace fs = std::filesystem;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    fs::create_directories(fs::path(path.toStdString()).parent_path());
    ASSERT_TRUE(atomic_file::writeAll(path.toStdString(), std::string_view(bytes.constData(), bytes.size())));
}

int runCli(const QStringList& args) {
    QProcess cli;
    cli.setProcessChannelMode(QProcess::ForwardedChannels);
    cli.start(QStringLiteral(ZIREZID_CLI_BINARY), args);
    if (!cli.waitForFinished(60000))
        return -1;
    return cli.exitCode();
}

QString plain(QString text) { return text.remove(QLatin1Char('&')); }

class FileScenario : public ::testing::Test {
protected:
    void TearDown() override {
        if (window) {
            window->shellState = Tfrm_main::stSaved;
            window->close();
            window.reset();
        }
    }
    // A database on disk with a recording of the technician's for menu 0, opened from the command line.
    void openSite() {
        site = env.path(QStringLiteral("site.qor"));
        ASSERT_EQ(runCli({QStringLiteral("new"), site}), 0);
        ASSERT_EQ(runCli({QStringLiteral("set"), QStringLiteral("--stored"), site, QStringLiteral("MENU(0)"),
                          QStringLiteral("Message"), QStringLiteral("privet.wav")}),
                  0);
        recording = env.path(QStringLiteral("site.messages/50001/privet.wav"));
        ASSERT_NO_FATAL_FAILURE(writeFile(recording, "RIFF, the technician's own 22 kHz recording"));
        window = std::make_unique<Tfrm_main>(site);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Clicks the tree node whose caption starts with the text.
    void clickNode(const QString& caption) {
        QTreeWidget* tree = window->kt_treeview;
        const auto found = tree->findItems(caption, Qt::MatchStartsWith | Qt::MatchRecursive);
        ASSERT_FALSE(found.isEmpty()) << caption.toStdString();
        tree->scrollToItem(found.first());
        const QRect r = tree->visualItemRect(found.first());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
        ASSERT_EQ(tree->currentItem(), found.first());
    }
    // Types a new number of rings in the system parameters' editor and leaves the field (which commits it).
    void editRings(const char* text) {
        // After a dialog the window is the active one again, as on a desktop.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_NO_FATAL_FAILURE(clickNode(QStringLiteral("системные параметры")));
        auto* edit = window->findChild<QLineEdit*>(QStringLiteral("ed_NRingsToPickup"));
        ASSERT_NE(edit, nullptr);
        ASSERT_TRUE(edit->isVisible());
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, QString::fromLatin1(text));
        QTest::mouseClick(window->kt_treeview->viewport(), Qt::LeftButton, {},
                          window->kt_treeview->visualItemRect(window->kt_treeview->currentItem()).center());
        ASSERT_EQ(window->shellState, Tfrm_main::stModified) << edit->text().toStdString();
    }
    // Opens a menu of the menu bar with the mouse and clicks one of its items.
    void chooseMenu(const QString& menuTitle, QAction* item) {
        QMenuBar* bar = window->menuBar();
        QAction* menuAction = nullptr;
        for (QAction* a : bar->actions())
            if (plain(a->text()) == menuTitle)
                menuAction = a;
        ASSERT_NE(menuAction, nullptr) << menuTitle.toStdString();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menuAction).center());
        QMenu* menu = menuAction->menu();
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
        ASSERT_TRUE(item->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    }
    // Clicks the tool bar's button of an action.
    void clickTool(QAction* action) {
        QWidget* button = nullptr;
        for (QToolBar* bar : window->findChildren<QToolBar*>())
            if (QWidget* w = bar->widgetForAction(action))
                button = w;
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(action->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // A step that types the path into the file dialog and presses Enter.
    static ModalScript::Step typePath(const QString& path) {
        return [path](QDialog* dialog) {
            auto* fileDialog = qobject_cast<QFileDialog*>(dialog);
            ASSERT_NE(fileDialog, nullptr) << dialog->metaObject()->className();
            auto* name = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setFocus();
            QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(name, path);
            QTest::keyClick(name, Qt::Key_Return);
        };
    }
    // A step that clicks the message box's only button (its OK).
    static ModalScript::Step acknowledge() {
        return [](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            ASSERT_NE(box, nullptr) << dialog->metaObject()->className();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        };
    }
    static ModalScript::Step clickButton(const char* name) {
        return [name](QDialog* dialog) {
            auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
            ASSERT_NE(button, nullptr) << name;
            QTest::mouseClick(button, Qt::LeftButton);
        };
    }

    test::TestEnvironment env;
    QString site, recording;
    std::unique_ptr<Tfrm_main> window;
};

} // namespace

TEST_F(FileScenario, AFailedSaveAsThenSaveKeepsTheRecordingsAndTheName) {
    ASSERT_NO_FATAL_FAILURE(openSite());
    const QByteArray recorded = contents(recording);
    ASSERT_NO_FATAL_FAILURE(editRings("7"));
    // The new name's messages folder is taken by a plain file.
    ASSERT_NO_FATAL_FAILURE(writeFile(env.path(QStringLiteral("copy.messages")), "a plain file"));
    {
        ModalScript script;
        script.then(typePath(env.path(QStringLiteral("copy.qor")))).then(acknowledge());
        chooseMenu(QStringLiteral("Файл"), window->mn_SaveAs);
        ASSERT_TRUE(QTest::qWaitFor([&] { return script.handled() == 2; }, 10000));
        EXPECT_EQ(script.unexpected(), 0);
        ASSERT_EQ(script.texts.size(), 1);
        EXPECT_TRUE(script.texts[0].startsWith(QStringLiteral("Невозможно создать папку: "))) << script.texts[0].toStdString();
    }
    EXPECT_FALSE(QFile::exists(env.path(QStringLiteral("copy.qor"))));
    EXPECT_EQ(window->db.basePath, site.toStdString());
    EXPECT_EQ(window->db.messagesFolder, env.path(QStringLiteral("site.messages/")).toStdString());
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);

    // Save under the old name: the edit is written and the recordings are where they were.
    {
        ModalScript script;
        clickTool(window->bt_Save);
        QTest::qWait(50);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_EQ(contents(recording), recorded);
    SettingsDatabase onDisk;
    ASSERT_TRUE(onDisk.loadBase(site.toStdString()));
    EXPECT_EQ(onDisk.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "7");
}

TEST_F(FileScenario, SavingOverAFileAnotherProgramChangedAsksFirst) {
    ASSERT_NO_FATAL_FAILURE(openSite());
    // While the file is open here, the command-line tool changes it.
    ASSERT_EQ(runCli({QStringLiteral("set"), site, QStringLiteral("MENU(3)"), QStringLiteral("Desc"),
                      QStringLiteral("из командной строки")}),
              0);
    ASSERT_NO_FATAL_FAILURE(editRings("5"));

    // Answered "No": nothing is written, the window's edit stays unsaved.
    {
        ModalScript script;
        script.then(clickButton("btn_No"));
        clickTool(window->bt_Save);
        ASSERT_TRUE(QTest::qWaitFor([&] { return script.handled() == 1; }, 10000));
        EXPECT_EQ(script.unexpected(), 0);
        ASSERT_EQ(script.texts.size(), 1);
        EXPECT_TRUE(script.texts[0].contains(QStringLiteral("изменён другой программой"))) << script.texts[0].toStdString();
    }
    SettingsDatabase onDisk;
    ASSERT_TRUE(onDisk.loadBase(site.toStdString()));
    EXPECT_EQ(onDisk.findObject("MENU(3)")->findChild("Desc")->getText(), "'из командной строки'");
    EXPECT_NE(onDisk.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "5");
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);

    // Answered "Yes": the window's database is written, and the next save asks nothing.
    {
        ModalScript script;
        script.then(clickButton("btn_Yes"));
        clickTool(window->bt_Save);
        ASSERT_TRUE(QTest::qWaitFor([&] { return script.handled() == 1; }, 10000));
    }
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    ASSERT_TRUE(onDisk.loadBase(site.toStdString()));
    EXPECT_EQ(onDisk.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "5");
    ASSERT_NO_FATAL_FAILURE(editRings("6"));
    {
        ModalScript script;
        clickTool(window->bt_Save);
        QTest::qWait(50);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
}

TEST_F(FileScenario, ClosingTheAppWithADeclinedOverwriteKeepsTheEdits) {
    ASSERT_NO_FATAL_FAILURE(openSite());
    ASSERT_EQ(runCli({QStringLiteral("set"), site, QStringLiteral("SYSPARAM"), QStringLiteral("NRingsToPickup"),
                      QStringLiteral("9")}),
              0);
    ASSERT_NO_FATAL_FAILURE(editRings("4"));
    ModalScript script;
    // "Save?" - yes; "changed by another program, overwrite?" - no: the window stays open with its edit.
    script.then(clickButton("btn_Yes")).then(clickButton("btn_No"));
    chooseMenu(QStringLiteral("Файл"), window->mn_Exit);
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.handled() == 2; }, 10000));
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
    EXPECT_EQ(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "4");
}

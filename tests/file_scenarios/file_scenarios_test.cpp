// A technician's files in the real main window, with real mouse and keyboard input: a Save As that fails, a file
// another program changed while it was open, a read with messages that is closed or applied. Modal dialogs are
// answered by the script that polls the active modal widget.
#include "app/compare_dialog.h"
#include "app/main_window.h"
#include "model/atomic_file.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
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

// A 16-bit mono PCM WAV of a saw tone.
QByteArray wavBytes(quint32 rate, int frames) {
    QByteArray s("RIFF");
    const auto u32 = [&](quint32 v) { s.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](quint16 v) { s.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + 2 * static_cast<quint32>(frames));
    s += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    s += "data";
    u32(2 * static_cast<quint32>(frames));
    for (int i = 0; i < frames; ++i)
        u16(static_cast<quint16>(((i * 53) % 3000 - 1500) * 6));
    return s;
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
        ASSERT_NO_FATAL_FAILURE(writeFile(recording, wavBytes(22050, 22050)) /* the technician's own recording */);
        window = std::make_unique<Tfrm_main>(site);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Clicks the tree node whose caption starts with the text.
    void clickNode(const QString& caption) {
        QTreeWidget* tree = window->kt_treeview;
        const auto found = tree->findItems(caption, Qt::MatchStartsWith | Qt::MatchRecursive);
        ASSERT_FALSE(found.isEmpty()) << caption.toStdString();
        // Closed branches above it are opened as a technician does: select, then the right arrow.
        std::vector<QTreeWidgetItem*> closed;
        for (QTreeWidgetItem* p = found.first()->parent(); p != nullptr; p = p->parent())
            if (!p->isExpanded())
                closed.insert(closed.begin(), p);
        for (QTreeWidgetItem* p : closed) {
            tree->scrollToItem(p);
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(p).center());
            QTest::keyClick(tree, Qt::Key_Right);
            ASSERT_TRUE(p->isExpanded());
        }
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
        EXPECT_TRUE(script.texts[0].startsWith(QStringLiteral("Невозможно создать папку: ")))
            << script.texts[0].toStdString();
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
        EXPECT_TRUE(script.texts[0].contains(QStringLiteral("изменён другой программой")))
            << script.texts[0].toStdString();
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

TEST_F(FileScenario, ComparingWithAnotherFileShowsItsDifferencesAndLeadsToTheObject) {
    ASSERT_NO_FATAL_FAILURE(openSite());
    // The other file: the site as it was, with another timetable, a named menu and another recording.
    const QString other = env.path(QStringLiteral("other.qor"));
    ASSERT_TRUE(QFile::copy(site, other));
    ASSERT_EQ(runCli({QStringLiteral("set"), other, QStringLiteral("TIMETABLE"), QStringLiteral("DayStart[1]"),
                      QStringLiteral("08:00")}),
              0);
    ASSERT_EQ(runCli({QStringLiteral("set"), other, QStringLiteral("MENU(5)"), QStringLiteral("Desc"),
                      QStringLiteral("Касса")}),
              0);
    ASSERT_NO_FATAL_FAILURE(
        writeFile(env.path(QStringLiteral("other.messages/50001/privet.wav")), wavBytes(22050, 22051)));
    const QByteArray otherBytes = contents(other);
    ASSERT_NO_FATAL_FAILURE(editRings("7")); // not saved yet: the comparison takes it all the same

    ModalScript script;
    script.then(typePath(other));
    chooseMenu(QStringLiteral("Файл"), window->mn_Compare);
    auto* dialog = window->findChild<Tfrm_compare*>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }, 10000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    EXPECT_EQ(script.handled(), 1);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();

    // One group per object in tree order, each with its rows: description, key, here, there.
    QTreeWidget* table = dialog->tv_Differences;
    QStringList groups;
    for (int i = 0; i < table->topLevelItemCount(); ++i)
        groups << table->topLevelItem(i)->text(1);
    EXPECT_EQ(groups, (QStringList{QStringLiteral("SYSPARAM"), QStringLiteral("TIMETABLE"), QStringLiteral("MENU(0)"),
                                   QStringLiteral("MENU(5)")}));
    ASSERT_EQ(table->topLevelItemCount(), 4);
    QTreeWidgetItem* rings = table->topLevelItem(0)->child(0);
    EXPECT_EQ(rings->text(1), QStringLiteral("NRingsToPickup"));
    EXPECT_EQ(rings->text(2), QStringLiteral("7"));
    EXPECT_EQ(table->topLevelItem(1)->child(0)->text(3), QStringLiteral("08:00"));
    QTreeWidgetItem* recordingRow = table->topLevelItem(2)->child(0);
    EXPECT_EQ(recordingRow->text(1), QStringLiteral("Message"));
    EXPECT_TRUE(recordingRow->text(2).startsWith(QStringLiteral("privet.wav (44144 байт")))
        << recordingRow->text(2).toStdString();
    EXPECT_TRUE(recordingRow->text(3).startsWith(QStringLiteral("privet.wav (44146 байт")))
        << recordingRow->text(3).toStdString();
    EXPECT_EQ(table->headerItem()->text(3), QStringLiteral("other.qor"));

    // A double-click on the menu's row selects the menu in the tree, its editor beside it.
    QTreeWidgetItem* menuRow = table->topLevelItem(3)->child(0);
    table->scrollToItem(menuRow);
    // A double click as the windowing system delivers it: press and release, then the double-click event.
    const QPoint where = table->visualItemRect(menuRow).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, where);
    auto* current = dynamic_cast<TreeNodeItem*>(window->kt_treeview->currentItem());
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->data(), window->db.findObject("MENU(5)")) << current->data()->name;
    auto* editor = dynamic_cast<QWidget*>(window->db.findObject("MENU(5)")->editorFrame);
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_TRUE(table->topLevelItem(3)->isExpanded());

    // The other file was only read; the open database keeps its edit.
    EXPECT_EQ(contents(other), otherBytes);
    EXPECT_EQ(window->shellState, Tfrm_main::stModified);
    QTest::mouseClick(dialog->btn_Close, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());

    // A file that does not load says why, and no comparison is shown.
    const QString bad = env.path(QStringLiteral("bad.qor"));
    ASSERT_NO_FATAL_FAILURE(writeFile(bad, QByteArray("[SYSPARAM]\r\nNRingsToPickup=3\r\n")));
    ModalScript failing;
    failing.then(typePath(bad)).then(acknowledge());
    chooseMenu(QStringLiteral("Файл"), window->mn_Compare);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failing.handled() == 2; }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(failing.unexpected(), 0);
    EXPECT_TRUE(failing.texts.join(QLatin1Char('|')).contains(QStringLiteral("Неизвестная конфигурация")))
        << failing.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(dialog->isVisible());
}

namespace {

// The same with a simulated unit on COM1 whose menu 0 holds a message of its own.
class ReadScenario : public FileScenario {
protected:
    void SetUp() override {
        port = env.path(QStringLiteral("port"));
        state = env.path(QStringLiteral("unit"));
        const QString unitMessage = state + QStringLiteral("/messages/50001/privet.ktm");
        ASSERT_NO_FATAL_FAILURE(writeFile(unitMessage, QByteArray(3000, '\x37')));
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments({QStringLiteral("--state"), state, QStringLiteral("--link"), port});
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
        qputenv("ZIREZID_COM1", port.toLocal8Bit());
    }
    void TearDown() override {
        FileScenario::TearDown();
        qunsetenv("ZIREZID_COM1");
        unit.terminate();
        unit.waitForFinished();
    }
    // Connects with the tool bar, marks menu 0 with the space bar and starts a read with messages; `finish`
    // ends the dialog after the read.
    void readMenu0WithMessages(const char* finishButton, bool markFirst) {
        {
            ModalScript connecting; // a question while connecting is a failure, never a hang
            if (!window->isConnected)
                clickTool(window->bt_Connect);
            ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected; }, 20000))
                << connecting.texts.join(QLatin1Char('|')).toStdString();
        }
        if (markFirst) {
            ASSERT_NO_FATAL_FAILURE(clickNode(QStringLiteral("меню 0")));
            QTest::keyClick(window->kt_treeview, Qt::Key_Space);
        }
        ModalScript script;
        int stateAfterRead = -1;
        script.then([&, finishButton](QDialog* dialog) {
            auto* r = qobject_cast<Tfrm_read*>(dialog);
            ASSERT_NE(r, nullptr);
            if (!r->cb_isLoadMsg->isChecked())
                QTest::mouseClick(r->cb_isLoadMsg, Qt::LeftButton);
            ASSERT_TRUE(r->cb_isLoadMsg->isChecked());
            QTest::mouseClick(r->bt_Read, Qt::LeftButton); // runs the read to its end
            stateAfterRead = r->dialogState;
            QTest::mouseClick(r->findChild<QPushButton*>(QString::fromLatin1(finishButton)), Qt::LeftButton);
        });
        clickTool(window->bt_Read);
        ASSERT_TRUE(QTest::qWaitFor([&] { return script.handled() == 1 && !window->frm_read->isVisible(); }, 60000));
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(stateAfterRead, devlink::dsAllRead) << "the read did not end well";
    }

    QString port, state;
    QProcess unit;
};

} // namespace

TEST_F(ReadScenario, ClosingAReadWithMessagesKeepsTheRecordingsAndApplyingBringsTheUnits) {
    ASSERT_NO_FATAL_FAILURE(openSite());
    const QByteArray recorded = contents(recording);
    const QString folder = env.path(QStringLiteral("site.messages/50001"));

    ASSERT_NO_FATAL_FAILURE(readMenu0WithMessages("bt_Close", true));
    EXPECT_EQ(contents(recording), recorded) << "a read that was closed replaced the recording";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("privet.wav")});
    EXPECT_EQ(window->db.findObject("MENU(0)")->findChild("Message")->getText(), "privet.wav");

    ASSERT_NO_FATAL_FAILURE(readMenu0WithMessages("bt_Save", false));
    const QByteArray unitsCopy = contents(recording);
    EXPECT_TRUE(unitsCopy.startsWith("RIFF"));
    EXPECT_EQ(unitsCopy.size(), 44 + 4 * 3000);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("privet.wav")});
    // Nothing is left waiting in the scratch folder.
    EXPECT_FALSE(QDir(env.scratch() + QStringLiteral("read-messages/50001")).exists());
}

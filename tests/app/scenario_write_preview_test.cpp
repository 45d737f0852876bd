// A technician writes to the unit from the real main window: the preview comes before anything is sent;
// cancelling it leaves the unit as it was, going on writes, the history keeps what the write replaced, and a
// change made on the unit since the read is written over only by the technician's choice.

#include "app/main_window.h"
#include "app/write_preview_dialog.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "tests/support/wav_bytes.h"
#include "ui_helpers.h"
#include "window_with_unit.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTableWidget>
#include <QToolBar>
#include <QFileInfo>
#include <QStatusBar>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {

class WriteWithPreviewTest : public WindowWithUnit {
protected:
    void SetUp() override {
        QSettings(env.preferences(), QSettings::IniFormat).setValue(QStringLiteral("History/Preview"), true);
        WindowWithUnit::SetUp();
    }
    QStringList extraUnitArguments() const override { return {QStringLiteral("--serial"), QStringLiteral("5150")}; }
    QString unitObject(const QString& name) const {
        QFile f(env.path(QStringLiteral("unit/objects/") + name + QStringLiteral(".txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QStringList snapshots() const {
        return QDir(env.path(QStringLiteral("data/zirezid/units/QOR22-5150")))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }
    void clickNode(KT_TABLE* table) {
        auto* node = static_cast<TreeNodeItem*>(table->node);
        ASSERT_NE(node, nullptr);
        // Its parents opened, as the technician opens them before clicking it.
        window->allowExpand = true;
        for (QTreeWidgetItem* up = static_cast<QTreeWidgetItem*>(node)->parent(); up != nullptr; up = up->parent())
            up->setExpanded(true);
        window->allowExpand = false;
        window->kt_treeview->scrollToItem(node);
        const QRect rect = window->kt_treeview->visualItemRect(node);
        QTest::mouseClick(window->kt_treeview->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_EQ(window->kt_treeview->currentItem(), node);
    }

    // Opens a menu of the menu bar with the mouse and clicks its item of that object name.
    void chooseMenu(const QString& menuTitle, const QString& itemName) {
        QMenuBar* bar = window->menuBar();
        QAction* menuAction = nullptr;
        for (QAction* a : bar->actions())
            if (QString(a->text()).remove(QLatin1Char('&')) == menuTitle)
                menuAction = a;
        ASSERT_NE(menuAction, nullptr) << menuTitle.toStdString();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menuAction).center());
        QMenu* menu = menuAction->menu();
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
        QAction* item = nullptr;
        for (QAction* a : menu->actions())
            if (a->objectName() == itemName)
                item = a;
        ASSERT_NE(item, nullptr) << itemName.toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    }
    // The write dialog's step: start the write, wait until it is over, close.
    static void writeAndClose(QDialog* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("bt_Write")), Qt::LeftButton);
        auto* close = dialog->findChild<QPushButton*>(QStringLiteral("bt_Close"));
        EXPECT_TRUE(QTest::qWaitFor([close] { return close->isEnabled(); }, 20000));
        QTest::mouseClick(close, Qt::LeftButton);
    }
};

} // namespace

TEST_F(WriteWithPreviewTest, TheTechnicianSeesTheChangeCancelsThenWrites) {
    ASSERT_NO_FATAL_FAILURE(clickNode(window->db.findObject("SYSPARAM")));
    QTest::keyClick(window->kt_treeview, Qt::Key_Space); // marked for the write
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    ASSERT_TRUE(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText("7"));

    QStringList previewRows;
    QString afterCancel;
    ModalScript script;
    script
        .then([&](QDialog* dialog) {
            auto* write = dialog->findChild<QPushButton*>(QStringLiteral("bt_Write"));
            QTest::mouseClick(write, Qt::LeftButton); // the preview comes and is cancelled inside
            afterCancel = unitObject(QStringLiteral("SYSPARAM"));
            EXPECT_TRUE(write->isEnabled());
            QTest::mouseClick(write, Qt::LeftButton); // again: this time the technician goes on
            EXPECT_TRUE(QTest::qWaitFor(
                [dialog] { return dialog->findChild<QPushButton*>(QStringLiteral("bt_Close"))->isEnabled(); }, 20000));
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("bt_Close")), Qt::LeftButton);
        })
        .then([&](QDialog* dialog) {
            auto* preview = qobject_cast<WritePreviewDialog*>(dialog);
            ASSERT_NE(preview, nullptr);
            for (int i = 0; i < preview->tv_Changes->topLevelItemCount(); ++i) {
                QTreeWidgetItem* g = preview->tv_Changes->topLevelItem(i);
                for (int k = 0; k < g->childCount(); ++k)
                    previewRows << g->child(k)->text(1) + QStringLiteral("->") + g->child(k)->text(2);
            }
            QTest::mouseClick(preview->bt_Cancel, Qt::LeftButton);
        })
        .then([&](QDialog* dialog) {
            auto* preview = qobject_cast<WritePreviewDialog*>(dialog);
            ASSERT_NE(preview, nullptr);
            QTest::mouseClick(preview->bt_Go, Qt::LeftButton);
        });
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(script.handled(), 3);
    EXPECT_EQ(previewRows, QStringList{QStringLiteral("1->7")});
    EXPECT_TRUE(afterCancel.contains(QStringLiteral("NRingsToPickup=1"))) << afterCancel.toStdString();
    EXPECT_TRUE(unitObject(QStringLiteral("SYSPARAM")).contains(QStringLiteral("NRingsToPickup=7")));
    // The write that went on kept what the unit had and what it has now; the cancelled one left nothing.
    const QStringList names = snapshots();
    EXPECT_EQ(names.filter(QStringLiteral("-before-write")).size(), 1) << names.join('|').toStdString();
    EXPECT_EQ(names.filter(QStringLiteral("-after-write")).size(), 1) << names.join('|').toStdString();
}

TEST_F(WriteWithPreviewTest, TheTechnicianRollsTheLastWriteBackFromTheConnectionMenu) {
    ASSERT_NO_FATAL_FAILURE(clickNode(window->db.findObject("SYSPARAM")));
    QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    const QString before = unitObject(QStringLiteral("SYSPARAM"));
    ASSERT_TRUE(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText("7"));
    {
        ModalScript script;
        script.then(writeAndClose).then([](QDialog* dialog) {
            QTest::mouseClick(qobject_cast<WritePreviewDialog*>(dialog)->bt_Go, Qt::LeftButton);
        });
        QTest::keyClick(window.get(), Qt::Key_F6);
        EXPECT_EQ(script.handled(), 2);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_TRUE(unitObject(QStringLiteral("SYSPARAM")).contains(QStringLiteral("NRingsToPickup=7")));

    QStringList previewRows;
    {
        ModalScript script;
        script.then(writeAndClose).then([&](QDialog* dialog) {
            auto* preview = qobject_cast<WritePreviewDialog*>(dialog);
            ASSERT_NE(preview, nullptr);
            for (int i = 0; i < preview->tv_Changes->topLevelItemCount(); ++i)
                for (int k = 0; k < preview->tv_Changes->topLevelItem(i)->childCount(); ++k) {
                    QTreeWidgetItem* row = preview->tv_Changes->topLevelItem(i)->child(k);
                    previewRows << row->text(1) + QStringLiteral("->") + row->text(2);
                }
            QTest::mouseClick(preview->bt_Go, Qt::LeftButton);
        });
        ASSERT_NO_FATAL_FAILURE(chooseMenu(QStringLiteral("Связь"), QStringLiteral("mn_Rollback")));
        EXPECT_EQ(script.handled(), 2);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(previewRows, QStringList{QStringLiteral("7->1")});
    EXPECT_EQ(unitObject(QStringLiteral("SYSPARAM")), before);
    // The technician's database keeps its edit; only the unit went back.
    EXPECT_EQ(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "7");
}

TEST_F(WriteWithPreviewTest, TheTechnicianOpensWhatTheUnitHadBeforeAWriteAndKeepsItUnderANewName) {
    ASSERT_NO_FATAL_FAILURE(clickNode(window->db.findObject("SYSPARAM")));
    QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    ASSERT_TRUE(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText("7"));
    {
        ModalScript script;
        script.then(writeAndClose).then([](QDialog* dialog) {
            QTest::mouseClick(qobject_cast<WritePreviewDialog*>(dialog)->bt_Go, Qt::LeftButton);
        });
        QTest::keyClick(window.get(), Qt::Key_F6);
        ASSERT_EQ(script.handled(), 2);
    }
    const QStringList before = snapshots().filter(QStringLiteral("-before-write"));
    ASSERT_EQ(before.size(), 1);
    const QString snapshotFile =
        env.path(QStringLiteral("data/zirezid/units/QOR22-5150/") + before[0] + QStringLiteral("/unit.qor"));
    QFile original(snapshotFile);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray snapshotBytes = original.readAll();
    original.close();

    // The history window, the before-write row, "Открыть (только чтение)"; then the window asks about the edit
    // the write did not save, and the technician lets it go.
    ModalScript script;
    script.then([&](QDialog* dialog) {
        auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("tbl_Snapshots"));
        ASSERT_NE(table, nullptr);
        int row = -1;
        for (int r = 0; r < table->rowCount(); ++r)
            if (table->item(r, 1)->text() == QStringLiteral("before-write"))
                row = r;
        ASSERT_GE(row, 0);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("bt_Open")), Qt::LeftButton);
    });
    script.click(QStringLiteral("btn_No"));
    ASSERT_NO_FATAL_FAILURE(chooseMenu(QStringLiteral("Связь"), QStringLiteral("mn_UnitHistory")));
    EXPECT_EQ(script.handled(), 2);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "1") << "what the unit had";
    EXPECT_TRUE(
        window->windowTitle().contains(QStringLiteral("QOR22-5150-") + before[0] + QStringLiteral(" (только чтение)")))
        << window->windowTitle().toStdString();

    // An edit, then the tool bar's Save: it asks for a new name, and the snapshot stays as it was.
    ASSERT_TRUE(window->db.findObject("SYSPARAM")->findChild("NRingsToPickup")->setText("5"));
    const QString kept = env.path(QStringLiteral("kept.qor"));
    QString askedFor;
    window->askFileName = [&](Tfrm_main::FileDialogKind, const QString&, const QString& fileName) {
        askedFor = fileName;
        return kept;
    };
    QWidget* save = window->findChild<QToolBar*>()->widgetForAction(window->bt_Save);
    ASSERT_TRUE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(QFileInfo(askedFor).fileName().startsWith(QStringLiteral("QOR22-5150-"))) << askedFor.toStdString();
    EXPECT_EQ(QString::fromStdString(window->db.basePath), kept);
    EXPECT_FALSE(window->windowTitle().contains(QStringLiteral("только чтение")));
    SettingsDatabase reread;
    ASSERT_TRUE(reread.loadBase(kept.toStdString()));
    EXPECT_EQ(reread.findObject("SYSPARAM")->findChild("NRingsToPickup")->getText(), "5");
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), snapshotBytes) << "the history is never written by an edit";
}

TEST_F(WriteWithPreviewTest, AMessageReplacementSeenInThePreviewIsNotAskedAgain) {
    KT_TABLE* menu = window->db.findObject("MENU(0)");
    const QString folder = QString::fromStdString(menuMessageFolder(window->db.messagesFolder, *menu));
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto record = [&](int frames) {
        const std::string wav = testwav::pcm16Mono(frames, [](int i) { return (i % 40 < 20) ? 3000 : -3000; });
        QFile f(folder + QStringLiteral("hello.wav"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(wav.data(), static_cast<qint64>(wav.size()));
    };
    ASSERT_NO_FATAL_FAILURE(record(4000));
    ASSERT_TRUE(menu->findChild("Message")->setText("hello.wav"));
    ASSERT_TRUE(menu->findChild("ActionTO")->value->setText("02002000")); // a way on for the caller: a tidy menu
    ASSERT_EQ(menu->markState, kMarkChanged) << "a changed menu goes without a mark";
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    const auto writeThroughThePreview = [&](QStringList& previewRows) {
        ModalScript script;
        script.then([](QDialog* dialog) {
            ASSERT_NE(dialog->findChild<QPushButton*>(QStringLiteral("bt_Write")), nullptr)
                << dialog->metaObject()->className();
            writeAndClose(dialog);
        });
        script.then([&](QDialog* dialog) {
            auto* preview = qobject_cast<WritePreviewDialog*>(dialog);
            ASSERT_NE(preview, nullptr);
            QTreeWidget* tv = preview->tv_Changes;
            for (int i = 0; i < tv->topLevelItemCount(); ++i) {
                QTreeWidgetItem* g = tv->topLevelItem(i);
                previewRows << g->text(0);
                for (int k = 0; k < g->childCount(); ++k)
                    for (int c = 0; c < tv->columnCount(); ++c)
                        previewRows << g->child(k)->text(c);
            }
            QTest::mouseClick(preview->bt_Go, Qt::LeftButton);
        });
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_F6);
        EXPECT_EQ(script.handled(), 2);
        EXPECT_EQ(script.unexpected(), 0)
            << "asked after the preview: " << script.texts.join(QLatin1Char('|')).toStdString();
    };
    QStringList first, second;
    writeThroughThePreview(first);
    const QString onUnit = env.path(QStringLiteral("unit/messages/50001"));
    ASSERT_EQ(QDir(onUnit).entryList(QDir::Files).size(), 1) << first.join('|').toStdString();
    const qint64 firstSize = QFileInfo(onUnit + QLatin1Char('/') + QDir(onUnit).entryList(QDir::Files)[0]).size();

    // A longer recording of the same menu: the preview says the unit's message is replaced, and that is all.
    ASSERT_NO_FATAL_FAILURE(record(12000));
    ASSERT_EQ(menu->markState, kMarkChanged) << "the database is not saved: the menu is still to be written";
    writeThroughThePreview(second);
    EXPECT_TRUE(second.join('|').contains(QStringLiteral("заменено"))) << second.join('|').toStdString();
    const QStringList files = QDir(onUnit).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_GT(QFileInfo(onUnit + QLatin1Char('/') + files[0]).size(), firstSize) << "the new recording is on the unit";
}

TEST_F(WriteWithPreviewTest, AChangeMadeOnTheUnitSinceTheReadWaitsForTheTechniciansChoice) {
    // The database is a file, and it comes from a read of this unit.
    const QString site = env.path(QStringLiteral("site.qor"));
    window->askFileName = [&](Tfrm_main::FileDialogKind, const QString&, const QString&) { return site; };
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(QString::fromStdString(window->db.basePath), site);
    ASSERT_NO_FATAL_FAILURE(clickNode(window->db.findObject("SYSPARAM")));
    QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    {
        ModalScript script;
        script.then([](QDialog* dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("bt_Read")), Qt::LeftButton);
            auto* save = dialog->findChild<QPushButton*>(QStringLiteral("bt_Save"));
            EXPECT_TRUE(QTest::qWaitFor([save] { return save->isEnabled(); }, 20000));
            QTest::mouseClick(save, Qt::LeftButton);
        });
        QTest::keyClick(window.get(), Qt::Key_F5);
        ASSERT_EQ(script.handled(), 1);
        ASSERT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }

    // Behind the database, the unit is set up anew through its own port: two fields the technician then
    // changes too, one the technician leaves alone.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F2, Qt::ShiftModifier);
    ASSERT_FALSE(window->isConnected);
    unit.terminate();
    ASSERT_TRUE(unit.waitForFinished());
    {
        QString text = unitObject(QStringLiteral("SYSPARAM"));
        const auto set = [&](const QString& key, const QString& value) {
            const QRegularExpression line(QStringLiteral("^%1=.*$").arg(key), QRegularExpression::MultilineOption);
            ASSERT_TRUE(text.contains(line)) << key.toStdString();
            text.replace(line, key + QLatin1Char('=') + value);
        };
        ASSERT_NO_FATAL_FAILURE(set(QStringLiteral("NRingsToPickup"), QStringLiteral("8")));
        ASSERT_NO_FATAL_FAILURE(set(QStringLiteral("WaitAfterPickupMs"), QStringLiteral("3000")));
        ASSERT_NO_FATAL_FAILURE(set(QStringLiteral("PulseDialing"), QStringLiteral("1")));
        QFile f(env.path(QStringLiteral("unit/objects/SYSPARAM.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }
    unit.start();
    ASSERT_TRUE(unit.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
    QTest::keyClick(window.get(), Qt::Key_F2);
    ASSERT_TRUE(window->isConnected);
    KT_TABLE* sysparam = window->db.findObject("SYSPARAM");
    ASSERT_TRUE(sysparam->findChild("NRingsToPickup")->setText("6"));
    ASSERT_TRUE(sysparam->findChild("WaitAfterPickupMs")->setText("2500"));

    QString whileUndecided, afterOneChoice;
    bool goWhileUndecided = true, goAfterOneChoice = true;
    QStringList conflictRows;
    ModalScript script;
    script.then(writeAndClose).then([&](QDialog* dialog) {
        auto* preview = qobject_cast<WritePreviewDialog*>(dialog);
        ASSERT_NE(preview, nullptr);
        QTreeWidgetItem* conflicts = preview->tv_Changes->topLevelItem(0);
        ASSERT_EQ(conflicts->childCount(), 2);
        goWhileUndecided = preview->bt_Go->isEnabled();
        whileUndecided = preview->lbl_Choose->isVisible() ? preview->lbl_Choose->text() : QString();
        QTest::mouseClick(preview->bt_Go, Qt::LeftButton);
        ASSERT_TRUE(preview->isVisible()) << "the write went on without a choice";
        // The rings: the unit's value stays; the pause: the database's is written.
        for (int k = 0; k < conflicts->childCount(); ++k) {
            QTreeWidgetItem* row = conflicts->child(k);
            conflictRows << row->text(1) + QStringLiteral("->") + row->text(2);
            const bool rings = row->text(2) == QStringLiteral("6");
            QTest::mouseClick(rings ? preview->unitChoice(k) : preview->databaseChoice(k), Qt::LeftButton);
            if (k == 0)
                goAfterOneChoice = preview->bt_Go->isEnabled();
        }
        QTest::mouseClick(preview->bt_Go, Qt::LeftButton);
    });
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(script.handled(), 2);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(goWhileUndecided);
    EXPECT_FALSE(goAfterOneChoice);
    EXPECT_TRUE(whileUndecided.contains(QStringLiteral("«Записать» станет доступна"))) << whileUndecided.toStdString();
    conflictRows.sort();
    EXPECT_EQ(conflictRows, (QStringList{QStringLiteral("3000->2500"), QStringLiteral("8->6")}));
    const QString onUnit = unitObject(QStringLiteral("SYSPARAM"));
    EXPECT_TRUE(onUnit.contains(QStringLiteral("NRingsToPickup=8\n"))) << onUnit.toStdString();
    EXPECT_TRUE(onUnit.contains(QStringLiteral("WaitAfterPickupMs=2500\n"))) << onUnit.toStdString();
    EXPECT_TRUE(onUnit.contains(QStringLiteral("PulseDialing=1\n"))) << "only the unit changed it: it stays";
    // The database now says what the unit holds.
    EXPECT_EQ(sysparam->findChild("NRingsToPickup")->getText(), "8");
    EXPECT_EQ(sysparam->findChild("PulseDialing")->getText(), "1");
}

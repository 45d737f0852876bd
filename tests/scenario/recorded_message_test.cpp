// A technician makes a menu's message from a studio MP3 in the real main window, evens its loudness, hears it
// as the caller will, and is warned before a write whose messages would not fit the unit's memory.
#include "app/main_window.h"
#include "app/read_dialog.h"
#include "editors/message_audio.h"
#include "editors/ted_menu.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "tests/support/wav_bytes.h"
#include "ui_helpers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cmath>

using namespace zirezid;
using test::ModalScript;

namespace {

class RecordedMessageScenario : public ::testing::Test {
protected:
    void SetUp() override {
        port = env.path(QStringLiteral("port"));
        state = env.path(QStringLiteral("unit"));
        qputenv("ZIREZID_COM1", port.toLocal8Bit());
        window = std::make_unique<Tfrm_main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        if (window) {
            window->shellState = Tfrm_main::stSaved;
            window->close();
            window.reset();
        }
        qunsetenv("ZIREZID_COM1");
        if (unit.state() != QProcess::NotRunning) {
            unit.terminate();
            unit.waitForFinished();
        }
    }
    void startUnit(const QStringList& options) {
        QFile::remove(port);
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments(QStringList{QStringLiteral("--state"), state, QStringLiteral("--link"), port} + options);
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
    }
    void press(QAction* action) {
        QToolBar* bar = window->findChild<QToolBar*>();
        ASSERT_NE(bar, nullptr);
        QWidget* button = bar->widgetForAction(action);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << action->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void clickNode(KT_TABLE* table) {
        auto* node = dynamic_cast<QTreeWidgetItem*>(static_cast<TreeNodeItem*>(table->node));
        ASSERT_NE(node, nullptr);
        window->allowExpand = true;
        for (QTreeWidgetItem* up = node->parent(); up != nullptr; up = up->parent())
            up->setExpanded(true);
        window->allowExpand = false;
        window->kt_treeview->scrollToItem(node);
        const QRect rect = window->kt_treeview->visualItemRect(node);
        ASSERT_TRUE(rect.isValid());
        QTest::mouseClick(window->kt_treeview->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_EQ(window->kt_treeview->currentItem(), node);
    }
    // Two seconds of silence and ten of a voice-like sound from the studio, as an MP3 made by lame.
    QString studioMp3() {
        const QString wav = env.path(QStringLiteral("studio.wav"));
        const QString mp3 = env.path(QStringLiteral("Приветствие.mp3"));
        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                   QStringLiteral("2"), wav, QStringLiteral("synth"), QStringLiteral("10"), QStringLiteral("sine"),
                   QStringLiteral("300-900"), QStringLiteral("tremolo"), QStringLiteral("4"), QStringLiteral("80"),
                   QStringLiteral("vol"), QStringLiteral("0.05"), QStringLiteral("pad"), QStringLiteral("2"),
                   QStringLiteral("0")});
        EXPECT_TRUE(sox.waitForFinished(30000));
        QProcess lame;
        lame.start(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3});
        EXPECT_TRUE(lame.waitForFinished(30000));
        EXPECT_TRUE(QFile::exists(mp3));
        return mp3;
    }

    test::TestEnvironment env;
    QString port, state;
    QProcess unit;
    std::unique_ptr<Tfrm_main> window;
};

} // namespace

TEST_F(RecordedMessageScenario, AStudioMp3IsEvenedHeardAsTheCallerAndAWriteThatWouldNotFitIsQuestioned) {
    // 20 kB of message memory: five seconds in the unit's format.
    ASSERT_NO_FATAL_FAILURE(startUnit({QStringLiteral("--capacity"), QStringLiteral("20000")}));
    {
        ModalScript quiet;
        press(window->bt_Connect);
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_TRUE(window->isConnected);
    EXPECT_TRUE(window->lbl_vMessages->text().contains(QStringLiteral("из 19 КБ свободных")))
        << window->lbl_vMessages->text().toStdString();

    KT_TABLE* menu = window->db.findObject("MENU(1)");
    ASSERT_NO_FATAL_FAILURE(clickNode(menu));
    auto* editor = static_cast<Ted_menu*>(window->frames.ed_menu.get());
    ASSERT_TRUE(editor->isVisible());
    const QString mp3 = studioMp3();
    // The open dialog is the desktop's; the technician's choice is what it hands back.
    editor->chooseMessageFile = [&](const QString&) { return mp3; };
    {
        ModalScript quiet;
        QTest::mouseClick(editor->btOpen, Qt::LeftButton);
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(menu->findChild("Message")->getEditText(), "Приветствие.wav");
    MessageAudioPanel* panel = editor->pnl_Audio;
    EXPECT_TRUE(window->lbl_vMessages->text().contains(QStringLiteral("Сообщения: 1, 0:12")))
        << window->lbl_vMessages->text().toStdString();
    QTest::mouseClick(panel->btTrim, Qt::LeftButton);
    EXPECT_TRUE(window->lbl_vMessages->text().contains(QStringLiteral("Сообщения: 1, 0:10")))
        << window->lbl_vMessages->text().toStdString();
    ASSERT_TRUE(panel->btNormalize->isEnabled());
    const double before = panel->loudness().integratedLufs;
    QTest::mouseClick(panel->btNormalize, Qt::LeftButton);
    EXPECT_NEAR(panel->loudness().integratedLufs, MessageAudioPanel::targetLufs(), 0.2) << "from " << before;
    EXPECT_LE(panel->loudness().truePeakDbtp, audio::kPeakCeilingDbtp + 0.01);
    QTest::mouseClick(panel->btCaller, Qt::LeftButton);
    EXPECT_TRUE(QFile::exists(panel->callerFile()));
    EXPECT_TRUE(panel->lbl_Info->text().contains(QStringLiteral("Длительность 0:10,")))
        << panel->lbl_Info->text().toStdString();

    // Ten seconds are 40 kB on the unit: the box says so, and a write asks first. Menu 1 was never read from
    // this unit, so what its recording there would free is not known, and the box says that too.
    EXPECT_TRUE(window->lbl_vMessages->text().contains(QStringLiteral("— может не хватить ")))
        << window->lbl_vMessages->text().toStdString();
    EXPECT_TRUE(window->lbl_vMessages->text().contains(QStringLiteral("записи меню 1 в устройстве, неизвестно")))
        << window->lbl_vMessages->text().toStdString();
    {
        ModalScript script;
        script.click(QStringLiteral("btn_No"));
        press(window->bt_Write);
        ASSERT_EQ(script.handled(), 1);
        ASSERT_FALSE(script.texts.isEmpty());
        EXPECT_TRUE(script.texts[0].contains(QStringLiteral("места может не хватить")))
            << script.texts[0].toStdString();
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    // Declined: nothing went to the unit, and the window is usable.
    EXPECT_FALSE(QDir(state + QStringLiteral("/messages/50101")).exists() &&
                 !QDir(state + QStringLiteral("/messages/50101")).isEmpty());
    EXPECT_TRUE(window->isConnected);
    EXPECT_TRUE(editor->btOpen->isEnabled());
}

TEST_F(RecordedMessageScenario, AUnitReadWithItsMessagesHasRoomForThemAgain) {
    // 40000 bytes of memory, 32000 of them taken by the recordings of menus 1 and 2 (four seconds each).
    ASSERT_NO_FATAL_FAILURE(startUnit({QStringLiteral("--capacity"), QStringLiteral("40000")}));
    for (const QString& menu : {QStringLiteral("50101"), QStringLiteral("50201")}) {
        ASSERT_TRUE(QDir().mkpath(state + QStringLiteral("/messages/") + menu));
        QFile ktm(state + QStringLiteral("/messages/") + menu + QStringLiteral("/HELLO.ktm"));
        ASSERT_TRUE(ktm.open(QIODevice::WriteOnly));
        QByteArray codes(16000, '\0');
        for (int i = 0; i < codes.size(); ++i)
            codes[i] = static_cast<char>((i % 8 < 4) ? 0x77 : 0xff);
        ktm.write(codes);
    }
    {
        ModalScript quiet;
        press(window->bt_Connect);
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_TRUE(window->isConnected);

    // Everything read, the recordings with it.
    const QRect root = window->kt_treeview->visualItemRect(window->kt_treeview->rootNode());
    QTest::mouseClick(window->kt_treeview->viewport(), Qt::LeftButton, {}, root.center());
    QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            QTest::mouseClick(r->cb_isLoadMsg, Qt::LeftButton);
            QTest::mouseClick(r->bt_Read, Qt::LeftButton);
            ASSERT_TRUE(QTest::qWaitFor([r] { return r->bt_Save->isEnabled(); }, 60000));
            QTest::mouseClick(r->bt_Save, Qt::LeftButton);
        });
        press(window->bt_Read);
        EXPECT_EQ(script.handled(), 1);
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_EQ(window->db.findObject("MENU(2)")->findChild("Message")->getText(), "HELLO.wav");

    // The unit's 8 kB free leave out the 32 kB its recordings take; writing the same two back fits.
    const QString box = window->lbl_vMessages->text();
    EXPECT_TRUE(box.contains(QStringLiteral("Сообщения: 2, 0:08, 32 КБ из 7 КБ свободных"))) << box.toStdString();
    EXPECT_FALSE(box.contains(QStringLiteral("поместятся"))) << box.toStdString();
    EXPECT_FALSE(box.contains(QStringLiteral("не хватить"))) << box.toStdString();
}

TEST_F(RecordedMessageScenario, AWriteThatMayNotFitIsAskedAboutOnceAndGoesOnAtYes) {
    ASSERT_NO_FATAL_FAILURE(startUnit({QStringLiteral("--capacity"), QStringLiteral("20000")}));
    {
        ModalScript quiet;
        press(window->bt_Connect);
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_TRUE(window->isConnected);
    // Ten seconds for menu 1: 40 kB against 19 kB free.
    KT_TABLE* menu = window->db.findObject("MENU(1)");
    const QString folder = QString::fromStdString(menuMessageFolder(window->db.messagesFolder, *menu));
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        const std::string wav = testwav::pcm16Mono(80000, [](int i) { return (i % 40 < 20) ? 3000 : -3000; });
        QFile f(folder + QStringLiteral("long.wav"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(wav.data(), static_cast<qint64>(wav.size()));
    }
    ASSERT_NO_FATAL_FAILURE(clickNode(menu));
    ASSERT_TRUE(menu->findChild("Message")->setText("long.wav"));
    ASSERT_EQ(menu->markState, kMarkChanged);

    bool writeDialog = false;
    ModalScript script;
    script.then(
        [](QDialog* dialog) {
            auto* yes = dialog->findChild<QAbstractButton*>(QStringLiteral("btn_Yes"));
            ASSERT_NE(yes, nullptr);
            QTest::mouseClick(yes, Qt::LeftButton);
        },
        QStringLiteral("the question whether the messages fit"));
    script.then(
        [&](QDialog* dialog) {
            writeDialog = qobject_cast<Tfrm_read*>(dialog) != nullptr;
            dialog->reject();
        },
        QStringLiteral("the write dialog"));
    press(window->bt_Write);
    EXPECT_EQ(script.handled(), 2);
    EXPECT_TRUE(writeDialog) << "after «Да» came another question instead of the write";
    ASSERT_EQ(script.texts.size(), 1) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(script.texts[0].contains(QStringLiteral("места может не хватить"))) << script.texts[0].toStdString();
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
}

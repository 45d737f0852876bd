// A technician at the real main window when the line to the unit dies or a write is stopped: real mouse and key
// events on the real widgets, the real simulated unit with its fault options.
#include "app/main_window.h"
#include "app/read_dialog.h"
#include "model/tables.h"
#include "tests/support/wav_bytes.h"
#include "ui_helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <csignal>

using namespace zirezid;
using test::ModalScript;

namespace {

// A 16-bit mono PCM WAV of Frames samples at 8000 per second: half as many bytes on the unit.
void writeWav(const QString& path, int frames) {
    const std::string wav =
        testwav::pcm16Mono(frames, [](int i) { return static_cast<qint16>(((i * 37) % 2000 - 1000) * 8); });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav.data(), static_cast<qint64>(wav.size()));
}

class LineScenario : public ::testing::Test {
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
        stopUnit();
    }
    void startUnit(const QStringList& options) {
        // A unit that was killed leaves its link behind, pointing at a line that is gone.
        QFile::remove(port);
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments(QStringList{QStringLiteral("--state"), state, QStringLiteral("--link"), port} + options);
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
    }
    void stopUnit() {
        if (unit.state() != QProcess::NotRunning) {
            unit.terminate();
            unit.waitForFinished();
        }
    }
    // The line as the unit's cable coming out: the unit is gone at once, without a word.
    void pullTheLine() {
        ::kill(static_cast<pid_t>(unit.processId()), SIGKILL);
        unit.waitForFinished();
        // The link would point at a freed terminal number that a unit of another test may be given next.
        QFile::remove(port);
    }
    QString unitMessages(const QString& menuCode) const {
        return state + QStringLiteral("/messages/") + menuCode + QStringLiteral("01");
    }
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }

    // A press of a tool bar button, as the technician makes it.
    void press(QAction* action) {
        QToolBar* bar = window->findChild<QToolBar*>();
        ASSERT_NE(bar, nullptr);
        QWidget* button = bar->widgetForAction(action);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << action->objectName().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // Gives a menu a message of Frames samples in the database's messages folder.
    void giveMessage(const char* menuName, const QString& code, int frames) {
        const QString folder = QString::fromStdString(window->db.messagesFolder) + QLatin1Char('/') + code;
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_NO_FATAL_FAILURE(writeWav(folder + QStringLiteral("/long.wav"), frames));
        ASSERT_TRUE(object(menuName)->findChild("Message")->setText("long.wav"));
    }
    void connectToUnit() {
        ModalScript quiet;
        press(window->bt_Connect);
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
        ASSERT_TRUE(window->isConnected);
    }
    QString status(Tfrm_read* r, int row) const {
        QTableWidgetItem* item = r->grd->item(row, 2);
        return item ? item->text() : QString();
    }

    test::TestEnvironment env;
    QString port, state;
    QProcess unit;
    std::unique_ptr<Tfrm_main> window;
};

} // namespace

TEST_F(LineScenario, ALineThatDiesDuringAnUploadIsSaidOnceAndConnectWorksAgain) {
    ASSERT_NO_FATAL_FAILURE(startUnit({QStringLiteral("--baud"), QStringLiteral("38400"),
                                       QStringLiteral("--hangup-after"), QStringLiteral("20000")}));
    ASSERT_NO_FATAL_FAILURE(giveMessage("MENU(1)", QStringLiteral("50101"), 80000)); // 40000 bytes on the line
    ASSERT_TRUE(object("SYSPARAM")->findChild("NRingsToPickup")->setText("7"));      // an edit not yet saved
    const int shellBefore = window->shellState;
    ASSERT_NO_FATAL_FAILURE(connectToUnit());
    const QString firstLine = QFileInfo(port).symLinkTarget(); // the changed menu goes without a mark

    int stateAfter = -1;
    QString row, summary;
    bool closeEnabled = false, writeEnabled = true;
    ModalScript script;
    script.then([&](QDialog* d) {
        auto* r = static_cast<Tfrm_read*>(d);
        QTest::mouseClick(r->bt_Write, Qt::LeftButton); // the job runs until the line dies
        stateAfter = r->dialogState;
        for (int k = 0; k < r->grd->rowCount(); ++k)
            if (r->grd->item(k, 1)->text() == QString::fromStdString(object("MENU(1)")->getDescription()))
                row = status(r, k);
        summary = r->sb1Panels[1]->text();
        closeEnabled = r->bt_Close->isEnabled();
        writeEnabled = r->bt_Write->isEnabled();
        QTest::mouseClick(r->bt_Close, Qt::LeftButton);
    });
    bool connectedWhileSaid = true;
    script.then([&](QDialog* d) { // the one message about the line
        connectedWhileSaid = window->isConnected || window->lbl_nDisc->isHidden();
        d->accept();
    });
    press(window->bt_Write);
    QTest::qWait(1500); // time for a late second message to show up
    EXPECT_EQ(script.handled(), 2);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(script.texts.value(0).startsWith(QStringLiteral("Связь с устройством потеряна")))
        << script.texts.value(0).toStdString();
    EXPECT_FALSE(connectedWhileSaid) << "the window shows the loss while it is said";
    EXPECT_EQ(stateAfter, devlink::dsNotConnected) << "the dialog is not connected any more";
    EXPECT_TRUE(closeEnabled);
    EXPECT_FALSE(writeEnabled);
    EXPECT_EQ(row, QStringLiteral("Нет связи"));
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Связь с устройством потеряна. Ошибок при записи: 1")))
        << summary.toStdString();

    // The window: not connected, the database and the unsaved edit as they were, nothing busy.
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_FALSE(window->bt_Connect->isChecked());
    EXPECT_EQ(window->shellState, shellBefore);
    EXPECT_EQ(object("SYSPARAM")->findChild("NRingsToPickup")->getText(), "7");
    EXPECT_EQ(object("MENU(1)")->findChild("Message")->getText(), "long.wav");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(QDir(unitMessages(QStringLiteral("501"))).entryList(QDir::Files).isEmpty()) << "no half message";

    // The unit is back on a new line (the link moved to it): Connect works again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(port).symLinkTarget() != firstLine; }, 10000));
    ASSERT_NO_FATAL_FAILURE(connectToUnit());
    EXPECT_TRUE(window->lbl_nDisc->isHidden());
}

TEST_F(LineScenario, ALineThatDiesWhileTheWindowIsIdleIsNoticedAndSaidOnce) {
    ASSERT_NO_FATAL_FAILURE(startUnit({}));
    ASSERT_NO_FATAL_FAILURE(connectToUnit());
    ModalScript script;
    bool connectedWhileSaid = true;
    script.then([&](QDialog* d) {
        connectedWhileSaid = window->isConnected || window->lbl_nDisc->isHidden();
        d->accept();
    });
    pullTheLine();
    EXPECT_TRUE(QTest::qWaitFor([&] { return script.handled() == 1; }, 10000)) << "the dead line is noticed";
    QTest::qWait(1500);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(script.texts.value(0).startsWith(QStringLiteral("Связь с устройством потеряна")))
        << script.texts.value(0).toStdString();
    EXPECT_FALSE(connectedWhileSaid) << "the window shows the loss while it is said";
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_FALSE(window->bt_Read->isEnabled()) << "nothing to read from without a line";

    // The unit back on the same port: Connect works.
    ASSERT_NO_FATAL_FAILURE(startUnit({}));
    ASSERT_NO_FATAL_FAILURE(connectToUnit());
}

TEST_F(LineScenario, ALineThatDiesAfterAReadStillLetsTheTechnicianKeepWhatWasRead) {
    ASSERT_NO_FATAL_FAILURE(startUnit({}));
    ASSERT_TRUE(object("SYSPARAM")->findChild("NRingsToPickup")->setText("7")); // marked by the edit
    ASSERT_NO_FATAL_FAILURE(connectToUnit());

    bool saveEnabledAfterLoss = false, readEnabledAfterLoss = true;
    int handledWhileOpen = 0;
    ModalScript script;
    script.then([&](QDialog* d) {
        auto* r = static_cast<Tfrm_read*>(d);
        QTest::mouseClick(r->bt_Read, Qt::LeftButton);
        pullTheLine();
        (void)QTest::qWaitFor([&] { return script.handled() == 2; }, 10000);
        handledWhileOpen = script.handled();
        saveEnabledAfterLoss = r->bt_Save->isEnabled();
        readEnabledAfterLoss = r->bt_Read->isEnabled();
        QTest::mouseClick(saveEnabledAfterLoss ? r->bt_Save : r->bt_Close, Qt::LeftButton);
    });
    script.then([&](QDialog* d) { d->accept(); }); // the one message about the line
    press(window->bt_Read);
    EXPECT_EQ(handledWhileOpen, 2) << "the dead line is noticed while the dialog is open";
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(saveEnabledAfterLoss) << "what was read before the line died can still be kept";
    EXPECT_FALSE(readEnabledAfterLoss);
    EXPECT_NE(object("SYSPARAM")->findChild("NRingsToPickup")->getText(), "7") << "the unit's value was applied";
    EXPECT_FALSE(window->isConnected);
}

TEST_F(LineScenario, StoppingAReplacingUploadSaysTheMenuIsLeftWithoutAMessage) {
    ASSERT_TRUE(QDir().mkpath(unitMessages(QStringLiteral("501"))));
    {
        QFile old(unitMessages(QStringLiteral("501")) + QStringLiteral("/old.ktm"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(3000, '\x22'));
    }
    ASSERT_NO_FATAL_FAILURE(startUnit({QStringLiteral("--baud"), QStringLiteral("38400")}));
    ASSERT_NO_FATAL_FAILURE(giveMessage("MENU(1)", QStringLiteral("50101"), 80000)); // about 11 s on the line
    ASSERT_NO_FATAL_FAILURE(connectToUnit()); // the changed menu goes without a mark

    QString row, summary;
    int stateAfter = -1;
    bool rowFits = false, summaryShown = false;
    Tfrm_read* dialog = nullptr;
    // Stop once the upload is under way, as the technician would on seeing the percentage move.
    QTimer stopper;
    stopper.setInterval(50);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        // The unit's old recording is first kept in the history (its download shows a percentage too).
        if (dialog && dialog->bt_Stop->isEnabled() && dialog->sb1Panels[1]->text().contains(QLatin1Char('%')) &&
            !dialog->sb1Panels[1]->text().contains(QStringLiteral("old.ktm")) &&
            !dialog->sb1Panels[1]->text().endsWith(QStringLiteral(" 0%"))) {
            stopper.stop();
            QTest::mouseClick(dialog->bt_Stop, Qt::LeftButton);
        }
    });
    ModalScript script;
    script.then([&](QDialog* d) {
        dialog = static_cast<Tfrm_read*>(d);
        stopper.start();
        QTest::mouseClick(dialog->bt_Write, Qt::LeftButton);
        stateAfter = dialog->dialogState;
        row = status(dialog, 0);
        summary = dialog->sb1Panels[1]->text();
        // Both can be read whole: the status column makes room, the summary the panel cannot hold is shown
        // under the buttons.
        rowFits = dialog->grd->fontMetrics().horizontalAdvance(row) < dialog->grd->columnWidth(2);
        summaryShown = dialog->lbl_Summary->isVisible() && dialog->lbl_Summary->text() == summary;
        QTest::mouseClick(dialog->bt_Close, Qt::LeftButton);
    });
    script.then([](QDialog* d) { d->findChild<QPushButton*>(QStringLiteral("btn_Yes"))->click(); }); // "Заменить?"
    script.then([](QDialog* d) { d->accept(); }); // "Передача прервана пользователем"
    press(window->bt_Write);
    EXPECT_EQ(script.handled(), 3);
    EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(script.texts.value(0).endsWith(QStringLiteral("Заменить?"))) << script.texts.value(0).toStdString();
    EXPECT_EQ(script.texts.value(1), QStringLiteral("Передача прервана пользователем"));
    EXPECT_EQ(row, QStringLiteral("Прервано, сообщение на блоке удалено"));
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Запись прервана."))) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith(QStringLiteral("Без сообщения на блоке: ") +
                                 QString::fromStdString(object("MENU(1)")->getDescription())))
        << summary.toStdString();
    EXPECT_TRUE(rowFits);
    EXPECT_TRUE(summaryShown);
    EXPECT_EQ(stateAfter, devlink::dsReady) << "ready to write again";
    EXPECT_TRUE(QDir(unitMessages(QStringLiteral("501"))).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(window->isConnected) << "a stop is no lost line";
}

// The real main window against the simulated unit on a pseudo-terminal.
#ifdef UNITSIM_BINARY

#include "app/main_window.h"
#include "model/tables.h"
#include "ui_helpers.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

namespace {

class EndToEndTest : public ::testing::Test {
protected:
    // Options of the simulated unit for one test.
    virtual QStringList unitOptions() const { return {}; }
    void SetUp() override {
        port = env.path(QStringLiteral("port"));
        state = env.path(QStringLiteral("unit"));
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments(QStringList{QStringLiteral("--state"), state, QStringLiteral("--link"), port} +
                          unitOptions());
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
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
        unit.terminate();
        unit.waitForFinished();
    }
    KT_TABLE* object(const char* name) const { return window->db.findObject(name); }
    QString unitObject(const QString& name) const {
        QFile file(state + QStringLiteral("/objects/") + name + QStringLiteral(".txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void mark(const char* name) {
        window->selectObjectNode(*object(name));
        QTest::keyClick(window->kt_treeview, Qt::Key_Space);
    }

    test::TestEnvironment env;
    QString port, state;
    QProcess unit;
    std::unique_ptr<Tfrm_main> window;
};

} // namespace

TEST_F(EndToEndTest, ConnectWriteReadAndDisconnect) {
    {
        ModalScript quiet; // any message here is a failure
        window->mn_ConnectClick();
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }
    ASSERT_TRUE(window->isConnected);
    EXPECT_TRUE(window->bt_Connect->isChecked());
    EXPECT_FALSE(window->mn_DeviceConfig->isEnabled());
    EXPECT_TRUE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(window->lbl_vType->text(), QStringLiteral("QOR22"));
    EXPECT_EQ(window->lbl_vSoftVer->text(), QStringLiteral("1.00.00"));
    EXPECT_EQ(window->lbl_vFreeSpace->text(), QStringLiteral("17 мин.")); // 4194304 bytes of the default unit
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);

    // Write: a changed field needs no mark.
    ASSERT_TRUE(object("SYSPARAM")->findChild("NRingsToPickup")->setText("7"));
    int writeState = -1;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            EXPECT_EQ(r->grd->rowCount(), 1);
            EXPECT_TRUE(r->bt_Write->isEnabled());
            r->bt_Write->click(); // runs the job inside the dialog's loop
            writeState = r->dialogState;
            EXPECT_FALSE(r->bt_Write->isEnabled());
            r->bt_Close->click();
        });
        window->mn_WriteClick();
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(writeState, 5);
    EXPECT_TRUE(unitObject(QStringLiteral("SYSPARAM")).contains(QStringLiteral("NRingsToPickup=7")));

    // Read a trunk line the unit holds with another value; "Записать в БД" applies it.
    QFile trk(state + QStringLiteral("/objects/TRK(1).txt"));
    const QString before = unitObject(QStringLiteral("TRK(1)"));
    ASSERT_FALSE(before.isEmpty());
    object("TRK(1)")->childAt(0)->setText(object("TRK(1)")->childAt(0)->getText()); // no change
    mark("TRK(1)");
    int readState = -1;
    {
        ModalScript script;
        script.then([&](QDialog*) {
            Tfrm_read* r = window->frm_read;
            EXPECT_TRUE(r->cb_isLoadMsg->isVisible());
            r->bt_Read->click();
            readState = r->dialogState;
            EXPECT_FALSE(r->bt_Read->isEnabled());
            EXPECT_TRUE(r->bt_Save->isEnabled());
            r->bt_Save->click();
        });
        window->mn_ReadClick();
        EXPECT_EQ(script.unexpected(), 0) << script.texts.join(QLatin1Char('|')).toStdString();
    }
    EXPECT_EQ(readState, 4);
    EXPECT_EQ(window->kt_treeview->currentItem(), nullptr); // the tree was rebuilt
    EXPECT_NE(window->kt_treeview->rootNode(), nullptr);

    window->mn_DisconnectClick();
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_TRUE(window->mn_DeviceConfig->isEnabled());
}

TEST_F(EndToEndTest, AMissingPortLeavesTheWindowDisconnected) {
    qputenv("ZIREZID_COM1", env.path(QStringLiteral("no-such-port")).toLocal8Bit());
    ModalScript script;
    script.then([](QDialog* d) { d->accept(); });
    window->mn_ConnectClick();
    EXPECT_EQ(script.handled(), 1);
    EXPECT_TRUE(script.texts.value(0).contains(QStringLiteral("не найден")));
    EXPECT_FALSE(window->isConnected);
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(EndToEndTest, ClockDialogFollowsTheUnitAndCancelWritesNothing) {
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);
    ModalScript script;
    script.then([&](QDialog* d) {
        auto* date = d->findChild<QWidget*>(QStringLiteral("dtDate"));
        EXPECT_FALSE(date->isEnabled());
        QMetaObject::invokeMethod(d, "tmr_ClockTimer");
        EXPECT_TRUE(date->isEnabled()); // the unit's clock was read
        d->findChild<QPushButton*>(QStringLiteral("btn_Cancel"))->click();
    });
    window->mn_DateTimeClick();
    EXPECT_EQ(script.handled(), 1);
    EXPECT_EQ(script.unexpected(), 0);
    window->mn_DisconnectClick();
}

class SilentUnitTest : public EndToEndTest {
protected:
    QStringList unitOptions() const override { return {QStringLiteral("--mute")}; }
};

TEST_F(SilentUnitTest, AUnitThatDoesNotAnswerLeavesTheWindowDisconnected) {
    ModalScript script;
    for (int i = 0; i < 5; ++i) // every question is answered "Остановить"
        script.then([](QDialog* d) {
            if (auto* abort = d->findChild<QPushButton*>(QStringLiteral("btn_Abort")))
                abort->click();
            else
                d->accept();
        });
    window->mn_ConnectClick();
    EXPECT_GE(script.handled(), 1);
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->bt_Connect->isChecked());
    EXPECT_FALSE(window->lbl_nDisc->isHidden());
    EXPECT_EQ(window->shellState, Tfrm_main::stSaved);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

class SlowUnitTest : public EndToEndTest {
protected:
    QStringList unitOptions() const override { return {QStringLiteral("--delay-ms"), QStringLiteral("400")}; }
};

TEST_F(SlowUnitTest, StopEndsARunningRead) {
    window->mn_ConnectClick();
    ASSERT_TRUE(window->isConnected);
    mark("TRKS"); // both lines
    int endState = -1;
    bool stopEnabledWhileBusy = false;
    ModalScript script;
    script.then([&](QDialog*) {
        Tfrm_read* r = window->frm_read;
        // Pressed while the first answer is still on its way: the wait loop serves the button.
        QTimer::singleShot(50, r, [&, r] {
            stopEnabledWhileBusy = r->bt_Stop->isEnabled() && r->dialogState == 2;
            r->bt_Stop->click();
        });
        r->bt_Read->click();
        endState = r->dialogState;
        r->bt_Close->click();
    });
    for (int i = 0; i < 4; ++i) // a question after the stop, if any, is answered "Остановить"
        script.then([](QDialog* d) {
            if (auto* abort = d->findChild<QPushButton*>(QStringLiteral("btn_Abort")))
                abort->click();
            else
                d->accept();
        });
    window->mn_ReadClick();
    EXPECT_TRUE(stopEnabledWhileBusy);
    EXPECT_TRUE(endState == 1 || endState == 3) << endState; // not every object was read
    EXPECT_FALSE(window->frm_read->isVisible());
    window->mn_DisconnectClick();
}

#endif

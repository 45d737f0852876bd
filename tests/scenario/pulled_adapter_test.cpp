// A technician's USB adapter pulled out while connected and plugged back in: the window says so once, is not
// connected, refuses to connect to the missing adapter with a plain word, and connects again once it is back
// under the same stable name (its /dev/serial/by-id link), with no restart.
#include "app/main_window.h"
#include "ui_helpers.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QToolBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <csignal>

using namespace zirezid;
using test::ModalScript;

namespace {

class PulledAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(env.path(QStringLiteral("serial/by-id")));
        byId = env.path(QStringLiteral("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
        state = env.path(QStringLiteral("unit"));
        {
            // COM1 was assigned to the adapter in the port dialog, which keeps its stable name.
            QSettings prefs(env.preferences(), QSettings::IniFormat);
            prefs.setValue(QStringLiteral("Ports/COM1"), byId);
        }
        window = std::make_unique<Tfrm_main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window->shellState = Tfrm_main::stSaved;
        window->close();
        window.reset();
        if (unit.state() != QProcess::NotRunning) {
            unit.terminate();
            unit.waitForFinished();
        }
    }
    // The adapter plugged in: a unit on a fresh pseudo-terminal, so a new device node behind the same name.
    void plugIn() {
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments({QStringLiteral("--state"), state, QStringLiteral("--link"), byId});
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(byId).exists(); }, 20000));
    }
    // Pulled out: the device is gone at once, and udev takes its stable name away with it. The name must not be
    // left pointing at the freed terminal number: a unit of another test may get that number next and be opened.
    void pullOut() {
        ::kill(static_cast<pid_t>(unit.processId()), SIGKILL);
        unit.waitForFinished();
        QFile::remove(byId);
    }
    void pressConnect() {
        QWidget* button = window->findChild<QToolBar*>()->widgetForAction(window->bt_Connect);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    test::TestEnvironment env;
    QString byId, state;
    QProcess unit;
    std::unique_ptr<Tfrm_main> window;
};

} // namespace

TEST_F(PulledAdapter, APulledAdapterIsSaidOnceAndTheSameAdapterBackConnectsWithoutRestart) {
    ASSERT_NO_FATAL_FAILURE(plugIn());
    {
        ModalScript quiet;
        ASSERT_NO_FATAL_FAILURE(pressConnect());
        ASSERT_TRUE(window->isConnected) << quiet.texts.join(QLatin1Char('|')).toStdString();
    }

    ModalScript pulled;
    pulled.then([](QDialog* d) { d->accept(); });
    pullOut();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pulled.handled() == 1; }, 10000)) << "the pulled adapter is noticed";
    QTest::qWait(1000);
    EXPECT_EQ(pulled.unexpected(), 0) << pulled.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(pulled.texts.value(0).startsWith(QStringLiteral("Связь с устройством потеряна")));
    EXPECT_FALSE(window->isConnected);
    EXPECT_FALSE(window->lbl_nDisc->isHidden());

    // Connect while it is still out: said plainly, nothing else happens.
    {
        ModalScript missing;
        missing.then([](QDialog* d) { d->accept(); });
        ASSERT_NO_FATAL_FAILURE(pressConnect());
        ASSERT_TRUE(QTest::qWaitFor([&] { return missing.handled() == 1; }, 10000));
        EXPECT_TRUE(missing.texts.value(0).contains(QStringLiteral("не найден")))
            << missing.texts.value(0).toStdString();
        EXPECT_EQ(missing.unexpected(), 0);
        EXPECT_FALSE(window->isConnected);
    }

    // Back in, on a new device node under the same stable name: Connect works in the same window.
    ASSERT_NO_FATAL_FAILURE(plugIn());
    {
        ModalScript quiet;
        ASSERT_NO_FATAL_FAILURE(pressConnect());
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(window->isConnected);
        EXPECT_TRUE(window->lbl_nDisc->isHidden());
    }
}

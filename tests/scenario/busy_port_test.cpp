// A technician presses Connect while another program holds the unit's port: the window's message names that
// program, and once it lets go the same window connects.
#include "app/main_window.h"
#include "ui_helpers.h"

#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QToolBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zirezid;
using test::ModalScript;

TEST(BusyPort, ConnectToAPortAnotherProgramHoldsNamesThatProgramAndConnectsOnceItLetsGo) {
    test::TestEnvironment env;
    const QString link = env.path(QStringLiteral("unit-port"));
    {
        QSettings prefs(env.preferences(), QSettings::IniFormat);
        prefs.setValue(QStringLiteral("Ports/COM1"), link);
    }
    QProcess unit;
    unit.setProgram(QStringLiteral(UNITSIM_BINARY));
    unit.setArguments({QStringLiteral("--state"), env.path(QStringLiteral("unit")), QStringLiteral("--link"), link});
    unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    unit.start();
    ASSERT_TRUE(unit.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(link).exists(); }, 20000));
    const QString device = QFileInfo(link).canonicalFilePath();

    // Another program holds the port under an exclusive lock, as terminal programs and the link itself do.
    QProcess holder;
    // Its command reads standard input, so closing that lets it go.
    holder.start(QStringLiteral("flock"),
                 {QStringLiteral("--exclusive"), QStringLiteral("--close"), device, QStringLiteral("cat")});
    ASSERT_TRUE(holder.waitForStarted());
    // flock(1) holds the lock once it has started its command.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QProcess probe;
            probe.start(QStringLiteral("flock"), {QStringLiteral("--nonblock"), device, QStringLiteral("true")});
            return probe.waitForFinished() && probe.exitCode() != 0;
        },
        10000));

    auto window = std::make_unique<Tfrm_main>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QWidget* connect = window->findChild<QToolBar*>()->widgetForAction(window->bt_Connect);
    ASSERT_NE(connect, nullptr);
    {
        ModalScript busy;
        busy.then([](QDialog* d) { d->accept(); });
        QTest::mouseClick(connect, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return busy.handled() == 1; }, 10000));
        const QString text = busy.texts.value(0);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Не удалось открыть COM порт."))) << text.toStdString();
        EXPECT_TRUE(
            text.contains(QStringLiteral("занят: его держит открытым «flock» (PID %1)").arg(holder.processId())))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("закройте эту программу"))) << text.toStdString();
        EXPECT_EQ(busy.unexpected(), 0);
        EXPECT_FALSE(window->isConnected);
    }

    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(10000));
    {
        ModalScript quiet;
        QTest::mouseClick(connect, Qt::LeftButton);
        EXPECT_EQ(quiet.unexpected(), 0) << quiet.texts.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(window->isConnected);
    }
    window->shellState = Tfrm_main::stSaved;
    window->close();
    window.reset();
    unit.terminate();
    unit.waitForFinished();
}

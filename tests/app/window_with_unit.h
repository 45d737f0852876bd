// The real main window with the simulated unit on COM1: the set-up the window's device scenarios share.
#pragma once

#include "app/main_window.h"
#include "ui_helpers.h"

#include <QFile>
#include <QProcess>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

class WindowWithUnit : public ::testing::Test {
protected:
    // unitsim's options besides its state folder and link.
    virtual QStringList extraUnitArguments() const { return {}; }

    void SetUp() override {
        port = env.path(QStringLiteral("port"));
        unit.setProgram(QStringLiteral(UNITSIM_BINARY));
        unit.setArguments(
            QStringList{QStringLiteral("--state"), env.path(QStringLiteral("unit")), QStringLiteral("--link"), port} +
            extraUnitArguments());
        unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unit.start();
        ASSERT_TRUE(unit.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(port); }, 20000));
        qputenv("ZIREZID_COM1", port.toLocal8Bit());
        window = std::make_unique<zirezid::Tfrm_main>();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void TearDown() override {
        if (window) {
            window->shellState = zirezid::Tfrm_main::stSaved;
            window->close();
            window.reset();
        }
        qunsetenv("ZIREZID_COM1");
        unit.terminate();
        unit.waitForFinished();
    }

    zirezid::test::TestEnvironment env;
    QString port;
    QProcess unit;
    std::unique_ptr<zirezid::Tfrm_main> window;
};

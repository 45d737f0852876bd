#include "app/qt_hosts.h"

#include <QApplication>
#include <gtest/gtest.h>

zirezid::SerialHostsGuard* g_serialHosts = nullptr;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIRezid"));
    zirezid::SerialHostsGuard serialHosts;
    g_serialHosts = &serialHosts;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "tests/terminal/test_host.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace zirezid::test {
RecordingMainThread& mainThread() {
    static RecordingMainThread host;
    return host;
}
} // namespace zirezid::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIRezid"));
    serial::SetMainThreadHost(&zirezid::test::mainThread());
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    serial::SetMainThreadHost(nullptr);
    return result;
}

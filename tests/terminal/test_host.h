// The main-thread host of the window tests: the shell's, with escaped exceptions recorded instead of shown.
#pragma once

#include "app/qt_hosts.h"

#include <QString>
#include <QStringList>

namespace zirezid::test {

class RecordingMainThread : public QtMainThread {
public:
    void HandleException(std::exception_ptr Error) override {
        try {
            std::rethrow_exception(Error);
        } catch (const std::exception& e) {
            errors << QString::fromStdString(e.what());
        } catch (...) {
            errors << QStringLiteral("?");
        }
    }
    QStringList errors;
};

RecordingMainThread& mainThread();

} // namespace zirezid::test

// The shell's main-thread host for the serial layer: the port and transfer threads' hand-overs become queued
// calls on the application object, so they run in every event loop of the program, the nested loops of modal
// dialogs and of the link's waits included.
#pragma once

#include "serial/main_thread.h"

#include <QString>
#include <functional>

namespace zirezid {

class QtMainThreadHost : public serial::IVaMainThread {
public:
    void Post(std::function<void()> Call) override;
    bool IsMainThread() const override;
    // The application's exception handler: a message box with the exception's text.
    void HandleException(std::exception_ptr Error) override;

    // Replaces the message box (tests).
    std::function<void(const QString& text)> onException;
};

// The one host of the program, installed for the serial layer on the first call. Call on the main thread once
// the QApplication exists.
QtMainThreadHost& installQtMainThreadHost();

} // namespace zirezid

// The Qt side of the serial layer's seams: notifications of the port's threads run on the main thread inside
// every event processing (nested loops included), and COMn resolves through the preferences.
#pragma once

#include "serial/main_thread.h"

#include <QString>
#include <functional>

namespace zirezid {

class QtMainThread : public serial::IVaMainThread {
public:
    void Post(std::function<void()> Call) override;
    bool IsMainThread() const override;
    void HandleException(std::exception_ptr Error) override;

    // Replaces the message box of HandleException (tests).
    std::function<void(const QString& text)> onException;
};

// Installs the main-thread host and the port resolver for the life of the object.
class SerialHostsGuard {
public:
    SerialHostsGuard();
    ~SerialHostsGuard();
    SerialHostsGuard(const SerialHostsGuard&) = delete;
    SerialHostsGuard& operator=(const SerialHostsGuard&) = delete;

    QtMainThread& host() { return host_; }

private:
    QtMainThread host_;
};

} // namespace zirezid

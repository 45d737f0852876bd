// The Qt side of the serial layer's seams: notifications of the port's threads run on the main thread inside
// every event processing (nested loops included), and COMn resolves through the preferences.
#pragma once

#include "serial/main_thread.h"

namespace zirezid {

class QtMainThread : public serial::IVaMainThread {
public:
    void Post(std::function<void()> Call) override;
    bool IsMainThread() const override;
    void HandleException(std::exception_ptr Error) override;
};

// Installs the main-thread host and the port resolver for the life of the object.
class SerialHostsGuard {
public:
    SerialHostsGuard();
    ~SerialHostsGuard();
    SerialHostsGuard(const SerialHostsGuard&) = delete;
    SerialHostsGuard& operator=(const SerialHostsGuard&) = delete;

private:
    QtMainThread host_;
};

} // namespace zirezid

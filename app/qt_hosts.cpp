#include "app/qt_hosts.h"

#include "app/message_boxes.h"
#include "app/startup.h"
#include "serial/device_name.h"

#include <QApplication>
#include <QThread>
#include <exception>

namespace zirezid {

void QtMainThread::Post(std::function<void()> Call) {
    // A queued call on the application object: delivered by whatever event loop the main thread runs next,
    // the wait loop of the link included.
    QMetaObject::invokeMethod(qApp, std::move(Call), Qt::QueuedConnection);
}

bool QtMainThread::IsMainThread() const { return QThread::currentThread() == qApp->thread(); }

void QtMainThread::HandleException(std::exception_ptr Error) {
    QString text;
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        text = QString::fromStdString(e.what());
    } catch (...) {
        text = QStringLiteral("?");
    }
    showMessage(QApplication::activeWindow(), text, true);
}

SerialHostsGuard::SerialHostsGuard() {
    serial::SetMainThreadHost(&host_);
    serial::SetDeviceResolver([](int n) { return Preferences::portOverride(n).toStdString(); });
}

SerialHostsGuard::~SerialHostsGuard() {
    serial::SetDeviceResolver({});
    serial::SetMainThreadHost(nullptr);
}

} // namespace zirezid

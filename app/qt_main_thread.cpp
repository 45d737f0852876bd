#include "app/qt_main_thread.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <exception>

namespace zirezid {

void QtMainThreadHost::Post(std::function<void()> Call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    // An exception must not unwind through Qt's event dispatch.
    QMetaObject::invokeMethod(
        app,
        [this, call = std::move(Call)] {
            try {
                call();
            } catch (...) {
                HandleException(std::current_exception());
            }
        },
        Qt::QueuedConnection);
}

bool QtMainThreadHost::IsMainThread() const {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void QtMainThreadHost::HandleException(std::exception_ptr Error) {
    QString text;
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        text = QString::fromStdString(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown exception");
    }
    if (onException) {
        onException(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(), text);
}

QtMainThreadHost& installQtMainThreadHost() {
    static QtMainThreadHost host;
    static const bool installed = [] {
        serial::SetMainThreadHost(&host);
        return true;
    }();
    (void)installed;
    return host;
}

} // namespace zirezid

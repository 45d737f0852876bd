// ZIRezid: the configurator of the auto-attendant units.
#include "app/main_window.h"
#include "app/qt_hosts.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIRezid"));
    // No display name: the window system would append " — ZIRezid" to every dialog's own caption.
    zirezid::installQtTranslations();
    zirezid::SerialHostsGuard serialHosts; // before any port exists, after the application object
    const QStringList arguments = QApplication::arguments();
    zirezid::Tfrm_main window(arguments.size() > 1 ? arguments.at(1) : QString());
    window.show();
    return QApplication::exec();
}

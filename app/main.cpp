// ZIRezid: the configurator of the auto-attendant units.
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/qt_hosts.h"
#include "app/startup.h"

#include <QApplication>
#include <iostream>

int main(int argc, char* argv[]) {
    if (const auto done = zirezid::handleCommandLine(argc, argv, std::cout, std::cerr))
        return *done;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIRezid"));
    QApplication::setApplicationVersion(QString::fromLatin1(zirezid::programVersion()));
    // The desktop entry's name: the window system finds the icon and groups the windows by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.nordal.ZIRezid"));
    // No display name: the window system would append " — ZIRezid" to every dialog's own caption.
    zirezid::installQtTranslations();
    zirezid::SerialHostsGuard serialHosts; // before any port exists, after the application object
    QStringList arguments = QApplication::arguments();
    arguments.removeAll(QStringLiteral("--"));
    zirezid::Tfrm_main window(arguments.size() > 1 ? arguments.at(1) : QString());
    window.show();
    return QApplication::exec();
}

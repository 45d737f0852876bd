#include "app/command_line.h"

#include <cstring>
#include <ostream>

#ifndef ZIREZID_VERSION
#define ZIREZID_VERSION "0"
#endif

namespace zirezid {

namespace {
const char* const kUsage =
    "Использование: zirezid [ФАЙЛ.qor]\n"
    "ZIRezid — настройка автоответчиков: открывает базу настроек ФАЙЛ (или новую безымянную), читает её из\n"
    "устройства и записывает в устройство через COM-порт.\n"
    "\n"
    "  -h, --help     показать эту справку и выйти\n"
    "  -v, --version  показать версию и выйти\n"
    "\n"
    "Каждый запуск — отдельное окно со своей папкой временных файлов; файл, изменённый на диске другим "
    "окном\n"
    "или программой, перед сохранением вызывает вопрос. Настройки окна: "
    "$XDG_CONFIG_HOME/NORDAL/ZIRezid.conf.\n"
    "Без окон: zirezid-cli --help; порты компьютера и их проблемы: zirezid-cli ports.\n";
} // namespace

const char* programVersion() { return ZIREZID_VERSION; }

std::optional<int> handleCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            out << kUsage;
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0) {
            out << "zirezid " << programVersion() << '\n';
            return 0;
        }
        // Qt's own options (-platform, -style, -display...) take a single dash and are Qt's to judge.
        if (std::strncmp(arg, "--", 2) == 0) {
            err << "zirezid: неизвестный ключ " << arg << "\n" << kUsage;
            return 2;
        }
    }
    return std::nullopt;
}

} // namespace zirezid

// The serial ports of this machine: the list, and why a port cannot be opened with what to do about it.
#include "cli/commands.h"
#include "cli/options.h"

#include "model/ini_document.h"
#include "serial/device_name.h"
#include "serial/port_survey.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace cli {
namespace {

// The window keeps its port choices in its preferences file; the command line reads the same choices so that
// COM3 means the same adapter in both.
std::string preferencesPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = config != nullptr && *config != '\0' ? config : "";
    if (base.empty()) {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0')
            return {};
        base = std::string(home) + "/.config";
    }
    return base + "/NORDAL/ZIRezid.conf";
}

std::string preferredComDevice(int n) {
    const std::string path = preferencesPath();
    if (path.empty())
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string value = IniDocument::parse(bytes.str()).readString("Ports", "COM" + std::to_string(n), "");
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

const Command& portsCommand();

int runPorts(const Args& args) {
    ParsedOptions parsed;
    // --root: a copy of sysfs, /dev and /proc to look at instead of the running system's.
    std::string problem = parseOptions(args, {{"--check", "порт"}, {"--root", "папка"}}, parsed);
    if (problem.empty() && !parsed.plain.empty())
        problem = "unexpected argument \"" + parsed.plain[0] + "\"";
    if (!problem.empty())
        return usageError(portsCommand(), problem);
    serial::SurveyPlace place;
    place.Root = parsed.value("--root").value_or(place.Root);
    if (const auto check = parsed.value("--check")) {
        const serial::PortDiagnosis diagnosis = serial::DiagnosePort(place, *check);
        std::cout << diagnosis.Text << '\n';
        return diagnosis.Opens() ? kOk : kRefused;
    }
    const auto devices = serial::ListSerialDevices(place);
    if (devices.empty())
        std::cout << "Последовательных портов не найдено.\n";
    for (const serial::SerialDevice& device : devices) {
        std::cout << device.Describe() << '\n';
        for (const std::string& byId : device.ByIdPaths)
            std::cout << "    " << byId << '\n';
    }
    return kOk;
}

const Command& portsCommand() {
    static const Command command{"ports", "[--check PORT] [--root DIR]", runPorts};
    return command;
}

} // namespace

void installPortPreferences() { serial::SetDeviceResolver(preferredComDevice); }

std::vector<Command> portCommands() { return {portsCommand()}; }

} // namespace cli

// The command table of zirezid-cli. Each group of commands (offline file commands, device commands) lives in
// a file of its own and hands its rows to main.cpp.
#pragma once

#include "model/host.h"

#include <string>
#include <vector>

class SettingsDatabase;
namespace atomic_file {
class EditLock;
}

namespace cli {

// Exit codes shared by every command.
enum ExitCode : int { kOk = 0, kRefused = 1, kUsage = 2 };

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;            // the arguments after the command name, for the usage text
    int (*run)(const Args& args); // args without the program and command names
};

// The host of the command-line tool: every message the model shows goes to standard error, one per line, in
// UTF-8; there is no window, so event processing and shell states do nothing.
class CliHost : public host::Host {
public:
    void showMessage(const std::string& text, host::MessageIcon icon) override;
    void processEvents() override {}
    void applyShellState(host::ShellState) override {}
    int messageCount = 0;
};

// Loads a file that the command will change and save: the edit lock is held from here until the lock object
// goes, so two programs changing one file take turns instead of one saving over the other's edit; after a wait
// the later one is refused. A load that had to show messages (a field out of range left at its default) is
// refused too: saving would silently put defaults in place of what the file holds. False after saying why.
bool loadForEdit(SettingsDatabase& db, atomic_file::EditLock& lock, const std::string& path);

// Reports wrong usage of one command on standard error and answers kUsage.
int usageError(const Command& command, const std::string& problem);
// The row of a command by name (for usageError), or nullptr.
const Command* findCommand(const std::string& name);

// The command groups. A new group declares its function here, defines it in a file of its own
// (cli/device_commands.cpp, say) and is added in allCommands() of main.cpp.
std::vector<Command> offlineCommands();
std::vector<Command> deviceCommands();
std::vector<Command> transferCommands();
std::vector<Command> portCommands();
// Makes COMn mean the device the window's preferences chose for it (Ports/COMn), as in the window.
void installPortPreferences();
// lint, call and flow: the call flow of a settings file (cli/flow_commands.cpp).
std::vector<Command> flowCommands();
// report: the site report as PDF; built with Qt Gui where the shell is built (app/report/report_command.cpp).
std::vector<Command> reportCommands();
std::vector<Command> audioCommands();
// "sound import": any audio file in as a message (the other "sound" directions are device commands).
int soundImport(const Args& args);

} // namespace cli

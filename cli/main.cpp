// zirezid-cli: the configurator without windows, for scripts and tests.
#include "cli/commands.h"

#include <csignal>
#include <iostream>

#ifndef ZIREZID_VERSION
#define ZIREZID_VERSION "0"
#endif

namespace cli {
namespace {

std::vector<Command> allCommands() {
    std::vector<Command> all;
    // One line per command group; device commands join here from a file of their own.
    for (auto& c : offlineCommands())
        all.push_back(c);
    for (auto& c : deviceCommands())
        all.push_back(c);
    for (auto& c : transferCommands())
        all.push_back(c);
    for (auto& c : portCommands())
        all.push_back(c);
    for (auto& c : flowCommands())
        all.push_back(c);
#ifdef ZIREZID_HAVE_REPORT
    for (auto& c : reportCommands())
        all.push_back(c);
#endif
    for (auto& c : audioCommands())
        all.push_back(c);
    return all;
}

void printUsage(std::ostream& out) {
    out << "usage: zirezid-cli COMMAND ARGS\n       zirezid-cli --version\n";
    for (const auto& c : allCommands())
        out << "  zirezid-cli " << c.name << ' ' << c.usage << '\n';
    out << "OBJECT is an object name (SYSPARAM, TRK(1), MENU(3), MAILBOX(2), TIMETABLE, DEVICEINFO), KEY a "
           "field's\n"
           "list name (a mailbox's password is Password). set takes the text as an editor does (08:30, "
           "31.12),\n"
           "set --stored the stored form (0830, 3112, 0107). dump prints one line per object in tree order:\n"
           "object name, caption, object code and device text, separated by tabs. diff prints one line per\n"
           "difference in tree order: object name, key, value in FILE_A, value in FILE_B, separated by tabs\n"
           "(an object only one file has: an empty key; a menu's recording: key Message, name, size, CRC32).\n"
           "Exit status: 0 done, 1 a value refused or a file not loaded or saved, 2 wrong usage.\n"
           "diff, like diff(1): 0 equal, 1 different, 2 wrong usage or a file that does not load.\n"
           "lint prints grade, object, key and text per finding (tabs); 1 when there are errors. call prints one\n"
           "line per step (T = time-out, N = the operator did not answer); 0 when the call ends at an operator\n"
           "or a mailbox, 1 when it ends nowhere. Both, and flow, answer 2 for a file that does not load.\n";
}

} // namespace

void CliHost::showMessage(const std::string& text, host::MessageIcon) {
    ++messageCount;
    std::cerr << text << '\n';
}

const Command* findCommand(const std::string& name) {
    static const std::vector<Command> commands = allCommands();
    for (const auto& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

int usageError(const Command& command, const std::string& problem) {
    std::cerr << "zirezid-cli " << command.name << ": " << problem << "\nusage: zirezid-cli " << command.name << ' '
              << command.usage << '\n';
    return kUsage;
}

} // namespace cli

int main(int argc, char** argv) {
    if (argc < 2) {
        cli::printUsage(std::cerr);
        return cli::kUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        cli::printUsage(std::cout);
        return cli::kOk;
    }
    if (name == "--version") {
        std::cout << "zirezid-cli " << ZIREZID_VERSION << '\n';
        return cli::kOk;
    }
    const cli::Command* command = cli::findCommand(name);
    if (!command) {
        std::cerr << "zirezid-cli: unknown command \"" << name << "\"\n";
        cli::printUsage(std::cerr);
        return cli::kUsage;
    }
    // A file-size limit (ulimit -f) must end a write with an error the command reports, not kill the process
    // half-way through with its temporary files left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    cli::installPortPreferences();
    cli::CliHost host;
    host::ScopedHost scoped(host);
    try {
        return command->run(cli::Args(argv + 2, argv + argc));
    } catch (const std::exception& e) {
        // Nothing the model raises should get here; if it does, the message is shown and nothing was saved.
        std::cerr << e.what() << '\n';
        return cli::kRefused;
    }
}

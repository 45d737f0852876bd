// zirezid-cli ymodem / xmodem: the threaded file-transfer components run on a serial line from the command
// line, for service work and for testing them against other implementations of the protocols.
#include "cli/commands.h"
#include "cli/options.h"

#include "link/device_link.h"
#include "link/va_xymodem.h"
#include "serial/comm.h"
#include "serial/device_name.h"
#include "serial/main_thread.h"

#include <iostream>

namespace cli {
namespace {

struct TransferArgs {
    std::string direction; // send | receive
    std::string port;
    std::string protocol;
    Args operands;
};

// "send|receive --port PORT [--protocol NAME] OPERAND..."; an empty problem means the arguments were good.
std::string parseTransferArgs(const Args& args, TransferArgs& out) {
    ParsedOptions parsed;
    if (std::string problem = parseOptions(args, {{"--port"}, {"--protocol"}}, parsed); !problem.empty())
        return problem;
    if (parsed.plain.empty() || (parsed.plain[0] != "send" && parsed.plain[0] != "receive"))
        return "send or receive expected";
    out.direction = parsed.plain[0];
    out.port = parsed.value("--port").value_or("");
    out.protocol = parsed.value("--protocol").value_or("");
    out.operands.assign(parsed.plain.begin() + 1, parsed.plain.end());
    if (out.port.empty())
        return "--port is required";
    return {};
}

// Runs one transfer to its end; kOk when it ended with exit code 0.
int runTransfer(serial::TVaXYModem& component, const std::string& portName) {
    serial::TVaEventQueue queue;
    serial::SetMainThreadHost(&queue);
    queue.OnException = [](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            std::cerr << x.what() << '\n';
        } catch (...) {
            std::cerr << "unknown exception\n";
        }
    };
    int result = kRefused;
    {
        serial::TVaComm port;
        // The line as the service terminal sets it up for the same transfers.
        devlink::configureUnitLine(port);
        // Attached before the port opens, so that what the other side sends at once (a receiver's start
        // character) reaches the transfer: the port hands it over only in the event processing after Execute.
        component.SetComm(&port);
        try {
            const serial::PortName chosen = serial::ParsePortName(portName);
            devlink::selectUnitPort(port, chosen.Number, chosen.Path);
            port.Open();
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            component.SetComm(nullptr);
            serial::SetMainThreadHost(nullptr);
            return kRefused;
        }
        bool done = false;
        int exitCode = 0;
        component.OnTransferEnd = [&](serial::TVaProtocol*, int code) {
            done = true;
            exitCode = code;
        };
        // The line is ready for the other side from here on: what it sent before is purged by the start.
        component.OnTransferStart = [&](serial::TVaProtocol*) {
            std::cerr << (component.Mode() == serial::tmUpload ? "sending on " : "receiving on ") << portName << '\n';
        };
        component.OnError = [](serial::TVaProtocol*, int code, int count) {
            std::cerr << "transfer error " << code << " (" << count << ")\n";
        };
        component.OnFileInfo = [](serial::TVaXYModem*, const std::string& name, std::int64_t size) {
            std::cerr << name;
            if (size != serial::kUnknownFileSize)
                std::cerr << ' ' << size;
            std::cerr << '\n';
        };
        try {
            component.Execute();
            while (!done)
                queue.ProcessEvents(100);
            if (exitCode == 0)
                result = kOk;
            else
                std::cerr << "transfer failed with code " << exitCode << '\n';
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
        }
        component.SetComm(nullptr);
        port.Close();
        queue.ProcessEvents(0);
    }
    serial::SetMainThreadHost(nullptr);
    return result;
}

int ymodemCommand(const Args& args) {
    const Command& self = *findCommand("ymodem");
    TransferArgs a;
    if (std::string problem = parseTransferArgs(args, a); !problem.empty())
        return usageError(self, problem);
    serial::TVaYModem component;
    if (a.protocol.empty() || a.protocol == "ymodem")
        component.SetProtocol(serial::YModem);
    else if (a.protocol == "ymodem-g")
        component.SetProtocol(serial::YModemG);
    else
        return usageError(self, "unknown protocol \"" + a.protocol + "\"");
    if (a.direction == "send") {
        if (a.operands.empty())
            return usageError(self, "no file to send");
        component.SetMode(serial::tmUpload);
        component.SetFiles(a.operands);
    } else {
        if (a.operands.size() != 1)
            return usageError(self, "one target folder expected");
        component.SetMode(serial::tmDownload);
        component.SetTargetFolder(a.operands[0]);
    }
    const int result = runTransfer(component, a.port);
    if (component.Mode() == serial::tmDownload)
        for (const std::string& file : component.Files())
            std::cout << file << '\n';
    return result;
}

int xmodemCommand(const Args& args) {
    const Command& self = *findCommand("xmodem");
    TransferArgs a;
    if (std::string problem = parseTransferArgs(args, a); !problem.empty())
        return usageError(self, problem);
    serial::TVaXModem component;
    if (a.protocol.empty() || a.protocol == "xmodem")
        component.SetProtocol(serial::XModem);
    else if (a.protocol == "xmodem1k")
        component.SetProtocol(serial::XModem1K);
    else if (a.protocol == "xmodemg")
        component.SetProtocol(serial::XModemG);
    else
        return usageError(self, "unknown protocol \"" + a.protocol + "\"");
    if (a.operands.size() != 1)
        return usageError(self, "one file expected");
    component.SetMode(a.direction == "send" ? serial::tmUpload : serial::tmDownload);
    component.SetFileName(a.operands[0]);
    return runTransfer(component, a.port);
}

} // namespace

std::vector<Command> transferCommands() {
    return {
        {"ymodem", "send|receive --port PORT [--protocol ymodem|ymodem-g] FILE...|DIR", ymodemCommand},
        {"xmodem", "send|receive --port PORT [--protocol xmodem|xmodem1k|xmodemg] FILE", xmodemCommand},
    };
}

} // namespace cli

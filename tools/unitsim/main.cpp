// unitsim: the simulated unit on a pseudo-terminal. Prints the slave path on its first line and serves peers
// until it is stopped. Options: see usage() or README.md.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <stdexcept>
#include <string>

#include "tools/unitsim/line.h"
#include "tools/unitsim/unit.h"

#ifndef ZIREZID_VERSION
#define ZIREZID_VERSION "0"
#endif

namespace fs = std::filesystem;
using namespace unitsim;

namespace {

const char* kUsage = R"(usage: unitsim [options]

Opens a pseudo-terminal, prints its slave path on the first line of standard output and answers there as a QOR
unit until SIGTERM or SIGINT. When a peer closes the slave, the unit waits for the next one.

  --type QOR11|QOR22     unit type: objects, line count, configuration identifier (default QOR22)
  --state DIR            folder of the unit's objects and message files (default ./unitsim-state);
                         a fresh folder starts with the defaults
  --link PATH            also place a symbolic link to the slave at PATH (replaced if it exists)
  --once                 end when the first peer hangs up
  --log FILE             append a transcript of every byte in both directions with time stamps
  --baud N               throttle both directions to N bit/s at 11 bits per byte (8N2); default off
  --busy                 answer every password with "BUSY"
  --mute                 never answer anything
  --delay-ms N           wait N ms before every answer
  --drop P               lose a share P (0..1) of the bytes
  --corrupt P            change a share P (0..1) of the bytes
  --fault-dir in|out|both  which direction --drop and --corrupt hit (default both)
  --fault-scope all|transfer  faults everywhere or only inside block transfers (default all)
  --seed N               seed of the fault choice (default 1): the same seed repeats the same faults
  --hangup-after N       drop the line after N bytes (both directions) of a block transfer: the pty is
                         closed and a new one opened, whose path is printed as a new line of output
  --capacity BYTES       message memory (default 4194304); the free space shrinks as files are stored
  --model-code N         device information: model code (default 11 or 22 by type)
  --serial N             device information: serial number (default 100001)
  --soft-ver TEXT        device information: software version (default 1.00.00)
  --config-id N          device information: configuration identifier (default 19 or 29 by type)
  --config-key N         device information: configuration key (default 305419896)
  --clock "DDMMYY HHMM SS"  start the clock at this value (default: the host's local time)
  --help                 this text
  --version              the version of the program
)";

void onSignal(int) { g_stopRequested = 1; }

[[noreturn]] void die(const std::string& what) {
    std::cerr << "unitsim: " << what << "\n";
    std::exit(2);
}

struct Pty {
    int master = -1;
    std::string slavePath;
};

Pty openPty() {
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0)
        die(std::string("pty: ") + std::strerror(errno));
    char name[128];
    if (ptsname_r(p.master, name, sizeof name) != 0)
        die("ptsname failed");
    p.slavePath = name;
    // Raw from the start, so a peer that does not set the line up gets neither echo nor line editing.
    int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
        ::close(slave);
    }
    return p;
}

void placeLink(const std::string& link, const std::string& target) {
    if (link.empty())
        return;
    std::error_code ec;
    if (fs::is_symlink(link, ec) || fs::exists(link, ec))
        fs::remove(link, ec);
    fs::create_symlink(target, link, ec);
    if (ec)
        die("cannot place link " + link + ": " + ec.message());
}

// While nobody holds the slave, the master reports a hang-up: poll for the end of that state.
bool waitForPeer(int master) {
    while (!g_stopRequested) {
        pollfd p{master, POLLIN, 0};
        int r = poll(&p, 1, 0);
        if (r >= 0 && !(p.revents & POLLHUP))
            return true;
        sleepUntil(Clock::now() + std::chrono::milliseconds(20));
    }
    return false;
}

long toLong(const std::string& opt, const char* v) {
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(v, &end, 10);
    if (errno || !end || *end || n < 0)
        die(opt + " wants a number, got \"" + v + "\"");
    return n;
}

double toShare(const std::string& opt, const char* v) {
    char* end = nullptr;
    double d = std::strtod(v, &end);
    if (!end || *end || d < 0 || d > 1)
        die(opt + " wants a share between 0 and 1, got \"" + v + "\"");
    return d;
}

} // namespace

int main(int argc, char** argv) {
    UnitOptions unit;
    unit.stateDir = "unitsim-state";
    LineOptions lineOptions;
    std::string linkPath, logPath;
    bool once = false;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                die(a + " wants a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "unitsim " << ZIREZID_VERSION << '\n';
            return 0;
        } else if (a == "--type") {
            std::string t = value();
            if (t == "QOR11")
                unit.type = UnitType::QOR11;
            else if (t == "QOR22")
                unit.type = UnitType::QOR22;
            else
                die("--type wants QOR11 or QOR22");
        } else if (a == "--state")
            unit.stateDir = value();
        else if (a == "--link")
            linkPath = value();
        else if (a == "--once")
            once = true;
        else if (a == "--log")
            logPath = value();
        else if (a == "--baud")
            lineOptions.baud = toLong(a, value());
        else if (a == "--busy")
            unit.busy = true;
        else if (a == "--mute")
            unit.mute = true;
        else if (a == "--delay-ms")
            unit.delayMs = static_cast<int>(toLong(a, value()));
        else if (a == "--drop")
            lineOptions.dropRate = toShare(a, value());
        else if (a == "--corrupt")
            lineOptions.corruptRate = toShare(a, value());
        else if (a == "--fault-dir") {
            std::string d = value();
            if (d == "in")
                lineOptions.faultDirection = FaultDirection::In;
            else if (d == "out")
                lineOptions.faultDirection = FaultDirection::Out;
            else if (d == "both")
                lineOptions.faultDirection = FaultDirection::Both;
            else
                die("--fault-dir wants in, out or both");
        } else if (a == "--fault-scope") {
            std::string s = value();
            if (s != "all" && s != "transfer")
                die("--fault-scope wants all or transfer");
            lineOptions.faultsOnlyInTransfer = s == "transfer";
        } else if (a == "--seed")
            lineOptions.seed = static_cast<std::uint64_t>(toLong(a, value()));
        else if (a == "--hangup-after")
            lineOptions.hangupAfter = toLong(a, value());
        else if (a == "--capacity")
            unit.capacity = static_cast<std::uint64_t>(toLong(a, value()));
        else if (a == "--model-code")
            unit.modelCode = static_cast<int>(toLong(a, value()));
        else if (a == "--serial")
            unit.serialNumber = static_cast<std::uint32_t>(toLong(a, value()));
        else if (a == "--soft-ver")
            unit.softwareVersion = value();
        else if (a == "--config-id")
            unit.configId = static_cast<int>(toLong(a, value()));
        else if (a == "--config-key")
            unit.configKey = static_cast<std::uint32_t>(toLong(a, value()));
        else if (a == "--clock")
            unit.clock = value();
        else
            die("unknown option " + a + " (see --help)");
    }

    // The stop signals are taken only inside the unit's waits (ppoll), never between a test and a wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr); // a closed terminal stops the unit as SIGTERM does, link removed
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<Unit> simulated;
    try {
        simulated = std::make_unique<Unit>(unit);
    } catch (const std::exception& e) {
        die(e.what());
    }
    Transcript transcript(logPath);
    if (!logPath.empty() && !transcript.isOpen())
        die("cannot open the log " + logPath);

    Pty pty = openPty();
    placeLink(linkPath, pty.slavePath);
    std::cout << pty.slavePath << std::endl;
    transcript.note("unitsim on " + pty.slavePath);

    while (!g_stopRequested) {
        if (!waitForPeer(pty.master))
            break;
        transcript.note("peer on the line");
        Line line(pty.master, lineOptions, &transcript);
        simulated->serve(line);
        if (g_stopRequested)
            break;
        if (line.unitHungUp()) {
            transcript.note("the unit drops the line");
            ::close(pty.master);
            pty = openPty();
            placeLink(linkPath, pty.slavePath);
            std::cout << pty.slavePath << std::endl;
            transcript.note("unitsim on " + pty.slavePath);
        } else {
            transcript.note("peer hung up");
            tcflush(pty.master, TCIOFLUSH);
        }
        if (once)
            break;
    }
    transcript.note("unitsim ends");
    if (!linkPath.empty()) {
        std::error_code ec;
        if (fs::is_symlink(linkPath, ec) && fs::read_symlink(linkPath, ec) == pty.slavePath)
            fs::remove(linkPath, ec);
    }
    ::close(pty.master);
    return 0;
}

// The machine's serial devices and, for a port that cannot be opened, what stands in the way and what to do,
// in Russian words a technician can act on. Everything is read from sysfs, /dev and /proc below a root
// folder, so tests pass a tree of their own; "" is the running system.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace serial {

// One serial device: the kernel's name, the stable names that point at it and what the adapter says it is.
struct SerialDevice {
    std::string Path;                                // "/dev/ttyUSB0"
    std::vector<std::string> ByIdPaths;              // "/dev/serial/by-id/usb-FTDI_..." that lead to it
    std::string Driver;                              // "ftdi_sio", "cdc_acm", "serial8250"; empty when unknown
    std::string Manufacturer, Product, SerialNumber; // from the USB device; empty when it does not say
    std::string VendorId, ProductId;                 // "1a86", "7523"; empty for a device without USB
    bool HasUart = true;                             // false for a ttyS the kernel reserves with no UART behind it
    std::vector<int> ComNumbers;                     // the COMn that resolve to this device now
    // The name to remember for this device: its first by-id name (it survives renumbering), else Path.
    std::string StableName() const { return ByIdPaths.empty() ? Path : ByIdPaths.front(); }
    // What the adapter is, for a person: maker and model, "порт на плате (UART)" for a built-in port, else
    // the driver, else "не удалось определить".
    std::string Adapter() const;
    // One line for a person: "/dev/ttyUSB0 — FTDI FT232R USB UART (A50285BI) — COM3".
    std::string Describe() const;
};

// Where to look. Root is prefixed to every absolute path read; ComDevice answers the device a COMn names
// (ResolveDevicePath by default); ComCount is how many COMn are considered.
struct SurveyPlace {
    std::string Root;
    std::function<std::string(int)> ComDevice;
    int ComCount = 9;
};

// Every ttyS with a UART, ttyUSB and ttyACM, sorted by kind and number. Never throws: what cannot be read is
// left empty. A ttyS without a UART is listed only when a COMn points at it, so the mapping can be seen.
std::vector<SerialDevice> ListSerialDevices(const SurveyPlace& place);

// The device a COMn or path leads to now, below the root ("" when nothing is there). A by-id name resolves to
// whatever ttyUSBn the adapter has today.
std::string CurrentDevicePath(const SurveyPlace& place, const std::string& path);

// The process that holds a device open.
struct PortHolder {
    int Pid = 0;
    std::string Name; // /proc/PID/comm
};

// What the check found, most important first; Problem is kNone when the port opens.
struct PortDiagnosis {
    enum Cause {
        kNone,
        kMissing,      // nothing at the path (adapter pulled, wrong name)
        kNotSerial,    // a file or device that is not a terminal
        kNoUart,       // a ttyS with no UART behind it
        kNoPermission, // the user may not open it
        kBusy,         // another process holds it
        kBrltty,       // a CH340 adapter whose port the braille daemon took
        kUnknown       // it does not open and the reason cannot be told
    } Problem = kUnknown;
    std::string Device;              // the device path checked (after following COMn and by-id names)
    std::vector<PortHolder> Holders; // the processes that hold it, where /proc lets us see them
    std::string Text;                // the Russian explanation with what to do, several lines
    bool Opens() const { return Problem == kNone; }
};

// The facts about the user that a permission advice needs. Defaults describe the running process.
struct UserFacts {
    std::string Name;             // the login name
    std::vector<unsigned> Groups; // the group ids this process has now
};
UserFacts CurrentUser();

// Checks `port` (COMn, a path or a bare name below /dev/): opens it the way the link does, and when that
// fails says why. `open` opens a device and answers 0 or the errno (the real open by default; tests can stand
// in for what a root user cannot see, such as a refused permission).
PortDiagnosis DiagnosePort(const SurveyPlace& place, const std::string& port,
                           const std::function<int(const std::string&)>& open = {},
                           const UserFacts& user = CurrentUser());

} // namespace serial

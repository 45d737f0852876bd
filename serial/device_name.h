// Which file a port name stands for on this system.
#pragma once

#include <functional>
#include <string>

namespace serial {

// Returns the device path chosen for COM<PortNumber> in the application's preferences, or "" for none.
using TVaDeviceResolver = std::function<std::string(int PortNumber)>;

// Installs the preferences look-up (an empty function removes it). Call on the main thread before opening
// ports.
void SetDeviceResolver(TVaDeviceResolver Resolver);

// The file to open for a formatted device name: an absolute path as it is; "COMn", with or without the "\\.\"
// prefix, through $ZIREZID_COMn, then the resolver, then /dev/ttyS{n-1}; any other name below /dev/.
std::string ResolveDevicePath(const std::string& Name);

// What a port name typed by a person stands for, the same for every command and the window: "COMn" in any
// case, with or without the "\\.\" prefix, is port n (resolved as above); anything else is a device file,
// an absolute path as it is, a relative one from the current folder, or, when no such file is there, the
// name below /dev/ ("ttyUSB0").
struct PortName {
    int Number = 0;   // > 0 for COMn
    std::string Path; // otherwise the absolute path of the device file
};
PortName ParsePortName(const std::string& Name);

} // namespace serial

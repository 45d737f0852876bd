#include "serial/device_name.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {
std::mutex gResolverMutex;
TVaDeviceResolver gResolver;

// The port number of "COMn" (any case), or 0.
int ComNumber(const std::string& Name) {
    if (Name.size() < 4 || std::toupper(static_cast<unsigned char>(Name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(Name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(Name[2])) != 'M' || Name.size() > 13)
        return 0;
    long n = 0;
    for (std::size_t i = 3; i < Name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(Name[i])))
            return 0;
        n = n * 10 + (Name[i] - '0');
    }
    return n > 0 && n <= 0x7FFFFFFF ? static_cast<int>(n) : 0;
}
} // namespace

void SetDeviceResolver(TVaDeviceResolver Resolver) {
    std::lock_guard<std::mutex> lock(gResolverMutex);
    gResolver = std::move(Resolver);
}

std::string ResolveDevicePath(const std::string& Name) {
    if (!Name.empty() && Name[0] == '/')
        return Name;
    std::string bare = Name;
    if (bare.rfind(R"(\\.\)", 0) == 0)
        bare.erase(0, 4);
    if (const int n = ComNumber(bare); n > 0) {
        const std::string var = "ZIREZID_COM" + std::to_string(n);
        if (const char* env = std::getenv(var.c_str()); env != nullptr && *env != '\0')
            return env;
        TVaDeviceResolver resolver;
        {
            std::lock_guard<std::mutex> lock(gResolverMutex);
            resolver = gResolver;
        }
        if (resolver) {
            std::string chosen = resolver(n);
            if (!chosen.empty())
                return chosen;
        }
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    // COM0 has no device; it and any other name is looked for below /dev/, where it is not found.
    return "/dev/" + bare;
}

PortName ParsePortName(const std::string& Name) {
    PortName result;
    std::string bare = Name;
    if (bare.rfind(R"(\\.\)", 0) == 0)
        bare.erase(0, 4);
    if (const int n = ComNumber(bare); n > 0) {
        result.Number = n;
        return result;
    }
    if (!Name.empty() && Name[0] == '/') {
        result.Path = Name;
        return result;
    }
    std::string cwd;
    if (char buf[PATH_MAX]; ::getcwd(buf, sizeof buf) != nullptr)
        cwd = buf;
    const std::string here = (cwd.empty() || cwd.back() == '/' ? cwd : cwd + "/") + Name;
    struct stat st {};
    if (Name.find('/') == std::string::npos && !Name.empty() && ::stat(here.c_str(), &st) != 0 &&
        ::stat(("/dev/" + Name).c_str(), &st) == 0)
        result.Path = "/dev/" + Name;
    else
        result.Path = here;
    return result;
}

} // namespace serial

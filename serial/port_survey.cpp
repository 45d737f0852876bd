#include "serial/port_survey.h"

#include "serial/device_name.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace fs = std::filesystem;

namespace {

// The words of the diagnosis. %1, %2 are filled in order.
const char* const kOpens = "Порт %1 свободен и открывается.";
const char* const kMissing = "Устройства %1 сейчас нет: адаптер отключён, ещё не опознан системой или назван "
                             "иначе.\nЧто сделать: подключите адаптер и выберите порт из списка заново.";
const char* const kNotSerial = "%1 — не последовательный порт (это не терминальное устройство).\nЧто сделать: "
                               "выберите порт из списка.";
const char* const kNoUart = "За %1 нет микросхемы последовательного порта (UART): ядро держит это имя про "
                            "запас.\nЧто сделать: выберите другой порт или подключите USB-адаптер (ttyUSB, ttyACM).";
const char* const kNoPermission = "Нет прав на %1: он принадлежит группе «%2», а вашего пользователя в ней нет.\n"
                                  "Что сделать: выполните в терминале\n  sudo usermod -aG %2 %3\nи войдите в "
                                  "систему заново (выйдите из сеанса и войдите или перезагрузите компьютер): "
                                  "новая группа действует только с нового входа.";
const char* const kNeedsNewLogin = "Нет прав на %1 в этом сеансе: пользователь %3 уже в группе «%2», но сеанс "
                                   "начат раньше.\nЧто сделать: выйдите из сеанса и войдите заново (или "
                                   "перезагрузите компьютер).";
const char* const kBusyBy = "%1 занят: его держит открытым %2.\nЧто сделать: закройте эту программу (или "
                            "отключитесь в ней) и подключитесь снова.";
const char* const kBusyUnknown = "%1 занят другой программой; какой — определить не удалось (её сведения в /proc "
                                 "недоступны).\nЧто сделать: закройте программы терминала и другие окна ZIRezid "
                                 "и подключитесь снова.";
// What stops ModemManager probing a device; follows both ModemManager texts.
const char* const kModemManagerRule =
    "Что сделать: запретите ему это устройство правилом udev:\n"
    "  echo 'ATTRS{idVendor}==\"%2\", ATTRS{idProduct}==\"%3\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee "
    "/etc/udev/rules.d/99-zirezid-modemmanager.rules\n"
    "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
    "и подключите адаптер заново.";
const char* const kModemManager = "%1 открывает ModemManager: он проверяет каждый ttyACM, не модем ли это, и "
                                  "мешает обмену.\n";
// ModemManager runs as root, so an ordinary user cannot see which devices it has open; a busy USB port with
// nobody visible holding it is then most likely its probe.
const char* const kModemManagerLikely =
    "%1 занят, а какой программой — не видно (сведения чужих программ в /proc недоступны). Вероятнее всего, это "
    "ModemManager: он работает в системе и открывает порты ttyACM и ttyUSB, проверяя, не модем ли за ними.\n";
const char* const kModemManagerElse = "\nЕсли порт и после этого занят, закройте программы терминала и другие окна "
                                      "ZIRezid.";
const char* const kModemManagerNote = "Внимание: работает ModemManager, он может открывать %1 и мешать обмену; "
                                      "если связь рвётся, запретите ему это устройство правилом udev "
                                      "(ENV{ID_MM_DEVICE_IGNORE}=\"1\").";
const char* const kBrltty = "Адаптер CH340 подключён, но порт %1 забрала служба brltty (дисплеи Брайля): она "
                            "принимает этот адаптер за свой.\nЧто сделать, если дисплея Брайля нет:\n"
                            "  sudo apt remove brltty\n(или sudo systemctl mask brltty-udev.service) и "
                            "подключите адаптер заново.";
const char* const kUnknownError = "%1 не открывается: %2.\nПричину определить не удалось.";
const char* const kCannotTell = "не удалось определить";
const char* const kBuiltIn = "порт на плате (UART)";

std::string fill(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + args[i].size()))
            text.replace(at, mark.size(), args[i]);
    }
    return text;
}

std::string readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (in)
        std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

fs::path under(const std::string& root, const std::string& path) {
    return root.empty() ? fs::path(path) : fs::path(root + path);
}

// "ttyUSB12" -> kind "ttyUSB", number 12; false for every other name (ptys, consoles, odd names).
bool serialName(const std::string& name, std::string& kind, long& number) {
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        const std::size_t n = std::strlen(prefix);
        if (name.size() > n && name.size() <= n + 6 && name.compare(0, n, prefix) == 0 &&
            std::all_of(name.begin() + static_cast<long>(n), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            kind = prefix;
            number = std::stol(name.substr(n));
            return true;
        }
    }
    return false;
}

int kindOrder(const std::string& kind) { return kind == "ttyS" ? 0 : kind == "ttyUSB" ? 1 : 2; }

// The names in a folder; nothing when it cannot be read.
std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

// Where a link inside the root leads, as a path of the system below the root; `path` itself when not a link.
std::string followOnce(const std::string& root, const std::string& path) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(under(root, path), ec);
    if (ec)
        return path;
    if (target.is_absolute())
        return target.lexically_normal().string();
    return (fs::path(path).parent_path() / target).lexically_normal().string();
}

// The USB device a tty belongs to: the nearest folder above its sysfs device that has idVendor.
fs::path usbDeviceOf(const fs::path& ttyDir) {
    std::error_code ec;
    fs::path dir = fs::canonical(ttyDir / "device", ec);
    if (ec)
        return {};
    for (int up = 0; up < 6 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path())
        if (fs::exists(dir / "idVendor", ec))
            return dir;
    return {};
}

std::string driverOf(const fs::path& ttyDir) {
    std::error_code ec;
    const fs::path driver = fs::read_symlink(ttyDir / "device" / "driver", ec);
    return ec ? std::string() : driver.filename().string();
}

bool hasUart(const fs::path& ttyDir) {
    // The 8250 driver makes every ttyS it reserves; "type" 0 is the port without a chip.
    const std::string type = readLine(ttyDir / "type");
    return type.empty() || type != "0";
}

// Every process that has `names` open, from /proc below the root; processes we may not look into are skipped.
std::vector<PortHolder> holdersOf(const std::string& root, const std::set<std::string>& names) {
    std::vector<PortHolder> holders;
    const fs::path proc = under(root, "/proc");
    for (const std::string& pid : entries(proc)) {
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        for (const std::string& fd : entries(proc / pid / "fd")) {
            std::error_code ec;
            const fs::path target = fs::read_symlink(proc / pid / "fd" / fd, ec);
            if (!ec && names.count(target.string()) != 0) {
                holders.push_back({std::stoi(pid), readLine(proc / pid / "comm")});
                break;
            }
        }
    }
    return holders;
}

bool processRuns(const std::string& root, const std::string& comm) {
    const fs::path proc = under(root, "/proc");
    for (const std::string& pid : entries(proc))
        if (!pid.empty() && pid[0] >= '0' && pid[0] <= '9' && readLine(proc / pid / "comm") == comm)
            return true;
    return false;
}

// A CH340 on the USB bus with no ttyUSB of its own: the braille daemon claimed its interface.
bool ch340WithoutPort(const std::string& root) {
    const fs::path bus = under(root, "/sys/bus/usb/devices");
    for (const std::string& name : entries(bus)) {
        const fs::path dev = bus / name;
        if (readLine(dev / "idVendor") != "1a86" || readLine(dev / "idProduct") != "7523")
            continue;
        bool hasTty = false;
        std::error_code ec;
        fs::recursive_directory_iterator it(dev, fs::directory_options::none, ec), end;
        for (int seen = 0; !ec && it != end && seen < 200 && !hasTty; it.increment(ec), ++seen)
            if (it->path().filename().string().rfind("ttyUSB", 0) == 0)
                hasTty = true;
        if (!hasTty)
            return true;
    }
    return false;
}

bool brlttyPresent(const std::string& root) {
    std::error_code ec;
    return processRuns(root, "brltty") || fs::exists(under(root, "/usr/bin/brltty"), ec) ||
           fs::exists(under(root, "/usr/sbin/brltty"), ec);
}

// The group a gid has in the root's /etc/group, with its member list.
bool groupEntry(const std::string& root, unsigned gid, std::string& name, std::vector<std::string>& members) {
    std::ifstream in(under(root, "/etc/group"));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, ':');)
            fields.push_back(field);
        if (fields.size() < 3 || fields[2] != std::to_string(gid))
            continue;
        name = fields[0];
        members.clear();
        if (fields.size() > 3) {
            std::stringstream list(fields[3]);
            for (std::string member; std::getline(list, member, ',');)
                members.push_back(member);
        }
        return true;
    }
    return false;
}

int realOpen(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int result = 0;
    if (!::isatty(fd))
        result = ENOTTY;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = errno == EWOULDBLOCK ? EBUSY : 0;
    ::close(fd);
    return result;
}

std::string holderWords(const std::vector<PortHolder>& holders) {
    std::string words;
    for (const PortHolder& h : holders) {
        if (!words.empty())
            words += ", ";
        words += "«" + (h.Name.empty() ? std::string("?") : h.Name) + "» (PID " + std::to_string(h.Pid) + ")";
    }
    return words;
}

} // namespace

std::string SerialDevice::Adapter() const {
    std::string what = Manufacturer;
    if (!Product.empty())
        what += (what.empty() ? "" : " ") + Product;
    // The built-in ports say nothing of themselves; their driver's name ("port", "serial8250") helps nobody.
    if (what.empty() && Path.rfind("/dev/ttyS", 0) == 0 && HasUart)
        what = kBuiltIn;
    else if (what.empty())
        what = Driver;
    return what.empty() ? std::string(kCannotTell) : what;
}

std::string SerialDevice::Describe() const {
    std::string line = Path + " — " + Adapter();
    if (!SerialNumber.empty())
        line += " (№ " + SerialNumber + ")";
    if (!HasUart)
        line += " — без UART";
    for (std::size_t i = 0; i < ComNumbers.size(); ++i)
        line += (i == 0 ? " — COM" : ", COM") + std::to_string(ComNumbers[i]);
    return line;
}

namespace {
// Only the stable names below /dev/serial are followed: a device node itself may be a link elsewhere (a
// pseudo-terminal standing in for a port), and that is the device.
std::string followStableNames(const std::string& root, const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 8 && current.rfind("/dev/serial/", 0) == 0; ++hop) {
        const std::string next = followOnce(root, current);
        if (next == current)
            break;
        current = next;
    }
    return current;
}
} // namespace

std::string CurrentDevicePath(const SurveyPlace& place, const std::string& path) {
    const std::string current = followStableNames(place.Root, path);
    std::error_code ec;
    return fs::exists(under(place.Root, current), ec) ? current : std::string();
}

std::vector<SerialDevice> ListSerialDevices(const SurveyPlace& place) {
    struct Found {
        std::string kind;
        long number;
        SerialDevice device;
    };
    std::vector<Found> found;
    std::set<std::string> seen;
    const fs::path classTty = under(place.Root, "/sys/class/tty");
    auto add = [&](const std::string& name, bool fromSysfs) {
        std::string kind;
        long number = 0;
        if (!serialName(name, kind, number) || !seen.insert(name).second)
            return;
        SerialDevice d;
        d.Path = "/dev/" + name;
        if (fromSysfs) {
            const fs::path dir = classTty / name;
            d.Driver = driverOf(dir);
            if (kind == "ttyS")
                d.HasUart = hasUart(dir);
            if (const fs::path usb = usbDeviceOf(dir); !usb.empty()) {
                d.Manufacturer = readLine(usb / "manufacturer");
                d.Product = readLine(usb / "product");
                d.SerialNumber = readLine(usb / "serial");
                d.VendorId = readLine(usb / "idVendor");
                d.ProductId = readLine(usb / "idProduct");
            }
        } else if (kind == "ttyS") {
            // Without sysfs nothing tells a real ttyS from the thirty-odd reserved ones.
            d.HasUart = false;
        }
        found.push_back({kind, number, d});
    };
    for (const std::string& name : entries(classTty))
        add(name, true);
    for (const std::string& name : entries(under(place.Root, "/dev")))
        add(name, false);

    const std::string byIdDir = "/dev/serial/by-id";
    std::vector<std::string> byIds = entries(under(place.Root, byIdDir));
    std::sort(byIds.begin(), byIds.end());
    for (const std::string& link : byIds) {
        std::string path = byIdDir;
        path += "/";
        path += link;
        const std::string target = followOnce(place.Root, path);
        for (Found& f : found)
            if (f.device.Path == target)
                f.device.ByIdPaths.push_back(path);
    }
    const auto comDevice =
        place.ComDevice ? place.ComDevice : [](int n) { return ResolveDevicePath("COM" + std::to_string(n)); };
    for (int n = 1; n <= place.ComCount; ++n) {
        const std::string device = followStableNames(place.Root, comDevice(n));
        for (Found& f : found)
            if (!device.empty() && f.device.Path == device)
                f.device.ComNumbers.push_back(n);
    }
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const Found& f) { return !f.device.HasUart && f.device.ComNumbers.empty(); }),
                found.end());
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return kindOrder(a.kind) != kindOrder(b.kind) ? kindOrder(a.kind) < kindOrder(b.kind) : a.number < b.number;
    });
    std::vector<SerialDevice> devices;
    devices.reserve(found.size());
    for (Found& f : found)
        devices.push_back(std::move(f.device));
    return devices;
}

UserFacts CurrentUser() {
    UserFacts user;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr)
        user.Name = pw->pw_name;
    else if (const char* name = std::getenv("USER"))
        user.Name = name;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        user.Groups.assign(groups.begin(), groups.end());
    user.Groups.push_back(::getgid());
    return user;
}

PortDiagnosis DiagnosePort(const SurveyPlace& place, const std::string& port,
                           const std::function<int(const std::string&)>& open, const UserFacts& user) {
    PortDiagnosis result;
    const PortName parsed = ParsePortName(port);
    std::string asked = parsed.Path;
    std::error_code ec;
    // A bare name ("ttyUSB0") is the device below /dev of the system looked at.
    if (parsed.Number == 0 && !port.empty() && port.find('/') == std::string::npos &&
        fs::exists(under(place.Root, "/dev/" + port), ec))
        asked = "/dev/" + port;
    if (parsed.Number > 0)
        asked = place.ComDevice ? place.ComDevice(parsed.Number) : ResolveDevicePath(port);
    const std::string device = CurrentDevicePath(place, asked);
    result.Device = device.empty() ? asked : device;
    const std::string shown = result.Device;
    auto finish = [&](PortDiagnosis::Cause problem, std::string text) {
        result.Problem = problem;
        result.Text = std::move(text);
        return result;
    };

    const fs::path full = under(place.Root, result.Device);
    struct stat st {};
    if (device.empty() || ::stat(full.c_str(), &st) != 0) {
        if (ch340WithoutPort(place.Root) && brlttyPresent(place.Root))
            return finish(PortDiagnosis::kBrltty, fill(kBrltty, {shown}));
        return finish(PortDiagnosis::kMissing, fill(kMissing, {shown}));
    }
    if (!S_ISCHR(st.st_mode))
        return finish(PortDiagnosis::kNotSerial, fill(kNotSerial, {shown}));

    const std::string name = fs::path(result.Device).filename().string();
    const fs::path sysDir = under(place.Root, "/sys/class/tty") / name;
    std::string kind;
    long number = 0;
    const bool known = serialName(name, kind, number);
    if (known && kind == "ttyS" && fs::exists(sysDir, ec) && !hasUart(sysDir))
        return finish(PortDiagnosis::kNoUart, fill(kNoUart, {shown}));

    // Who has it open, under every name it may have been opened by.
    std::set<std::string> names{result.Device, asked};
    if (const fs::path real = fs::canonical(full, ec); !ec) {
        const std::string realText = real.string();
        names.insert(place.Root.empty() || realText.rfind(place.Root, 0) != 0 ? realText
                                                                              : realText.substr(place.Root.size()));
    }
    result.Holders = holdersOf(place.Root, names);
    const bool modemManagerHolds = std::any_of(result.Holders.begin(), result.Holders.end(),
                                               [](const PortHolder& h) { return h.Name == "ModemManager"; });
    std::string vendor, product;
    if (const fs::path usb = usbDeviceOf(sysDir); !usb.empty()) {
        vendor = readLine(usb / "idVendor");
        product = readLine(usb / "idProduct");
    }
    const std::string vendorWord = vendor.empty() ? "xxxx" : vendor;
    const std::string productWord = product.empty() ? "xxxx" : product;

    const int error = open ? open(full.string()) : realOpen(full.string());
    if (error == 0) {
        std::string text = fill(kOpens, {shown});
        if (known && kind == "ttyACM" && (modemManagerHolds || processRuns(place.Root, "ModemManager")))
            text += "\n" + fill(kModemManagerNote, {shown});
        return finish(PortDiagnosis::kNone, text);
    }
    switch (error) {
    case EACCES:
    case EPERM: {
        std::string group, userName = user.Name.empty() ? std::string("$USER") : user.Name;
        std::vector<std::string> members;
        if (!groupEntry(place.Root, st.st_gid, group, members))
            group = st.st_gid == 0 ? std::string("root") : std::to_string(st.st_gid);
        const bool listed = std::find(members.begin(), members.end(), user.Name) != members.end();
        const bool active = std::find(user.Groups.begin(), user.Groups.end(), st.st_gid) != user.Groups.end();
        if (listed && !active)
            return finish(PortDiagnosis::kNoPermission, fill(kNeedsNewLogin, {shown, group, userName}));
        return finish(PortDiagnosis::kNoPermission, fill(kNoPermission, {shown, group, userName}));
    }
    case EBUSY:
    case EWOULDBLOCK:
        if (modemManagerHolds && known && kind == "ttyACM")
            return finish(PortDiagnosis::kBusy,
                          fill(std::string(kModemManager) + kModemManagerRule, {shown, vendorWord, productWord}));
        if (!result.Holders.empty())
            return finish(PortDiagnosis::kBusy, fill(kBusyBy, {shown, holderWords(result.Holders)}));
        if (known && (kind == "ttyACM" || kind == "ttyUSB") && processRuns(place.Root, "ModemManager"))
            return finish(PortDiagnosis::kBusy,
                          fill(std::string(kModemManagerLikely) + kModemManagerRule + kModemManagerElse,
                               {shown, vendorWord, productWord}));
        return finish(PortDiagnosis::kBusy, fill(kBusyUnknown, {shown}));
    case EIO:
        if (known && kind == "ttyS")
            return finish(PortDiagnosis::kNoUart, fill(kNoUart, {shown}));
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        // Gone between the look and the open: the adapter was pulled just now.
        return finish(PortDiagnosis::kMissing, fill(kMissing, {shown}));
    case ENOTTY:
        return finish(PortDiagnosis::kNotSerial, fill(kNotSerial, {shown}));
    default:
        break;
    }
    return finish(PortDiagnosis::kUnknown, fill(kUnknownError, {shown, std::strerror(error)}));
}

} // namespace serial

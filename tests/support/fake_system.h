// A sysfs, /dev and /proc tree laid out the way the kernel lays them out, below a fresh folder, for the port
// survey to look at; and a pseudo-terminal to stand in for a device node that must really open.
#pragma once

#include "serial/port_survey.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <pty.h>
#include <string>
#include <unistd.h>

namespace port_test {

namespace fs = std::filesystem;

class FakeSystem {
public:
    FakeSystem() {
        std::string tmpl = (fs::temp_directory_path() / "ports-XXXXXX").string();
        root_ = mkdtemp(tmpl.data());
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_directories(root_ / "proc");
        fs::create_directories(root_ / "etc");
    }
    ~FakeSystem() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string root() const { return root_.string(); }
    fs::path operator/(const std::string& rel) const { return root_ / rel; }

    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << '\n';
    }

    // A USB adapter: the USB device with its strings, an interface, the tty below it, the class link, the
    // device node (a link to `node`, a pty slave, or a plain file) and its by-id name.
    void usbAdapter(const std::string& tty, const std::string& vendor, const std::string& product,
                    const std::string& maker, const std::string& model, const std::string& serialNo,
                    const std::string& driver, const std::string& node, const std::string& byId = {}) {
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1/1-1";
        const fs::path usbDev = usb.parent_path() / ("1-" + tty);
        write(usbDev / "idVendor", vendor);
        write(usbDev / "idProduct", product);
        if (!maker.empty())
            write(usbDev / "manufacturer", maker);
        if (!model.empty())
            write(usbDev / "product", model);
        if (!serialNo.empty())
            write(usbDev / "serial", serialNo);
        const fs::path port = usbDev / "1-1:1.0" / tty;
        fs::create_directories(port / "tty" / tty);
        fs::create_directories(root_ / "sys/bus/usb-serial/drivers" / driver);
        fs::create_symlink(fs::relative(root_ / "sys/bus/usb-serial/drivers" / driver, port), port / "driver");
        fs::create_symlink(fs::relative(port, port / "tty" / tty), port / "tty" / tty / "device");
        fs::create_symlink(fs::relative(port / "tty" / tty, root_ / "sys/class/tty"), root_ / "sys/class/tty" / tty);
        fs::create_directories(root_ / "sys/bus/usb/devices");
        fs::create_symlink(fs::relative(usbDev, root_ / "sys/bus/usb/devices"),
                           root_ / "sys/bus/usb/devices" / usbDev.filename());
        if (!node.empty())
            fs::create_symlink(node, root_ / "dev" / tty);
        if (!byId.empty())
            fs::create_symlink("../../" + tty, root_ / "dev/serial/by-id" / byId);
    }

    void ttyS(int n, bool uart, const std::string& node = {}) {
        const fs::path dir = root_ / "sys/devices/platform/serial8250/tty" / ("ttyS" + std::to_string(n));
        write(dir / "type", uart ? "4" : "0");
        fs::create_symlink(fs::relative(dir, root_ / "sys/class/tty"),
                           root_ / "sys/class/tty" / ("ttyS" + std::to_string(n)));
        if (!node.empty())
            fs::create_symlink(node, root_ / "dev" / ("ttyS" + std::to_string(n)));
    }

    void process(int pid, const std::string& comm, const std::string& openDevice = {}) {
        write(root_ / "proc" / std::to_string(pid) / "comm", comm);
        fs::create_directories(root_ / "proc" / std::to_string(pid) / "fd");
        if (!openDevice.empty())
            fs::create_symlink(openDevice, root_ / "proc" / std::to_string(pid) / "fd" / "3");
    }

    serial::SurveyPlace place(std::map<int, std::string> coms = {}) const {
        serial::SurveyPlace p;
        p.Root = root();
        p.ComDevice = [coms](int n) {
            auto it = coms.find(n);
            return it != coms.end() ? it->second : "/dev/ttyS" + std::to_string(n - 1);
        };
        return p;
    }

private:
    fs::path root_;
};

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty() {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
    }
};

} // namespace port_test

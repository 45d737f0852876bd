// The port list and the diagnosis, against sysfs, /dev and /proc trees built here the way the kernel lays
// them out, with pseudo-terminals standing in for the device nodes that must really open.
#include "serial/port_survey.h"
#include "tests/support/fake_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using port_test::FakeSystem;
using port_test::Pty;
using serial::PortDiagnosis;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(PortSurvey, ListsEveryAdapterWithItsMakerByIdNameAndComNumber) {
    FakeSystem sys;
    sys.ttyS(0, true);
    sys.ttyS(1, false);
    sys.ttyS(2, false);
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio", "/dev/null",
                   "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    sys.usbAdapter("ttyACM0", "2341", "0043", "", "", "", "cdc_acm", "/dev/null");
    // Thousands of ptys and consoles beside them are not serial ports.
    for (int i = 0; i < 2000; ++i)
        fs::create_directories(sys / ("sys/class/tty/pty" + std::to_string(i)));
    fs::create_directories(sys / "sys/class/tty/ttyUSBx");
    fs::create_directories(sys / "sys/class/tty/tty0");

    const auto devices = ListSerialDevices(
        sys.place({{3, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}, {2, "/dev/ttyS1"}}));
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].Path, "/dev/ttyS0");
    EXPECT_EQ(devices[0].ComNumbers, std::vector<int>{1});
    // A ttyS without a chip appears only because COM2 points at it, and says so.
    EXPECT_EQ(devices[1].Path, "/dev/ttyS1");
    EXPECT_FALSE(devices[1].HasUart);
    EXPECT_TRUE(contains(devices[1].Describe(), "без UART"));
    EXPECT_EQ(devices[2].Path, "/dev/ttyUSB0");
    EXPECT_EQ(devices[2].Manufacturer, "FTDI");
    EXPECT_EQ(devices[2].Product, "FT232R USB UART");
    EXPECT_EQ(devices[2].SerialNumber, "A50285BI");
    EXPECT_EQ(devices[2].Driver, "ftdi_sio");
    EXPECT_EQ(devices[2].ComNumbers, std::vector<int>{3});
    EXPECT_EQ(devices[2].StableName(), "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(devices[2].Describe(), "/dev/ttyUSB0 — FTDI FT232R USB UART (№ A50285BI) — COM3");
    // An adapter whose USB strings are missing is still listed, and the list says it cannot tell.
    EXPECT_EQ(devices[3].Path, "/dev/ttyACM0");
    EXPECT_EQ(devices[3].VendorId, "2341");
    EXPECT_EQ(devices[3].Describe(), "/dev/ttyACM0 — cdc_acm");
}

TEST(PortSurvey, ComNumberMappedToTheByIdNameFollowsTheAdapterWhenRenumbered) {
    FakeSystem sys;
    const std::string byId = "usb-1a86_USB_Serial-if00-port0";
    sys.usbAdapter("ttyUSB0", "1a86", "7523", "", "USB Serial", "", "ch341-uart", "/dev/null", byId);
    const auto coms = std::map<int, std::string>{{4, "/dev/serial/by-id/" + byId}};
    EXPECT_EQ(CurrentDevicePath(sys.place(coms), "/dev/serial/by-id/" + byId), "/dev/ttyUSB0");

    // Pulled and plugged back in while ttyUSB0 was taken by another adapter: now it is ttyUSB1.
    fs::remove_all(sys / "sys");
    fs::remove_all(sys / "dev");
    fs::create_directories(sys / "sys/class/tty");
    fs::create_directories(sys / "dev/serial/by-id");
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "Other", "", "ftdi_sio", "/dev/null");
    sys.usbAdapter("ttyUSB1", "1a86", "7523", "", "USB Serial", "", "ch341-uart", "/dev/null", byId);
    const auto devices = ListSerialDevices(sys.place(coms));
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(devices[0].ComNumbers.empty());
    EXPECT_EQ(devices[1].Path, "/dev/ttyUSB1");
    EXPECT_EQ(devices[1].ComNumbers, std::vector<int>{4});
    EXPECT_EQ(DiagnosePort(sys.place(coms), "COM4", [](const std::string&) { return 0; }).Device, "/dev/ttyUSB1");
}

TEST(PortSurvey, ListSurvivesMissingSysfsAndOddNames) {
    FakeSystem sys;
    fs::remove_all(sys / "sys");
    // Only /dev: the adapters are still listed, the reserved ttyS are not guessed at.
    fs::create_symlink("/dev/null", sys / "dev/ttyUSB3");
    fs::create_symlink("/dev/null", sys / "dev/ttyS0");
    fs::create_symlink("/dev/null", sys / "dev/ttyUSB 1");
    fs::create_symlink("../../ttyUSB3", sys / "dev/serial/by-id/usb-Prolific_\"odd\" name\tтест");
    fs::create_symlink("../../nowhere", sys / "dev/serial/by-id/usb-gone");
    auto devices = ListSerialDevices(sys.place({{1, "/dev/ttyUSB3"}}));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].Path, "/dev/ttyUSB3");
    EXPECT_EQ(devices[0].ComNumbers, std::vector<int>{1});
    ASSERT_EQ(devices[0].ByIdPaths.size(), 1u);
    EXPECT_TRUE(contains(devices[0].Describe(), "не удалось определить"));

    // Nothing at all below the root: an empty list, no exception.
    serial::SurveyPlace nowhere;
    nowhere.Root = (sys / "absent").string();
    EXPECT_TRUE(ListSerialDevices(nowhere).empty());
    EXPECT_EQ(DiagnosePort(nowhere, "/dev/ttyUSB0").Problem, PortDiagnosis::kMissing);
}

TEST(PortDiagnosis, FreePortOpensAndBusyPortNamesItsHolder) {
    FakeSystem sys;
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "FT232R", "X1", "ftdi_sio", pty.path, "usb-FTDI-port0");
    sys.process(1, "systemd");
    sys.process(4242, "picocom", "/dev/ttyUSB0");

    // Free: the real open succeeds (an open without a lock does not stand in the way).
    PortDiagnosis free = DiagnosePort(sys.place(), "/dev/serial/by-id/usb-FTDI-port0");
    EXPECT_TRUE(free.Opens()) << free.Text;
    EXPECT_EQ(free.Device, "/dev/ttyUSB0");
    EXPECT_TRUE(contains(free.Text, "свободен"));

    // Another program holds it the way the link does (an exclusive lock): busy, and /proc tells which.
    const int holder = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    PortDiagnosis busy = DiagnosePort(sys.place(), "ttyUSB0");
    EXPECT_EQ(busy.Problem, PortDiagnosis::kBusy);
    ASSERT_EQ(busy.Holders.size(), 1u);
    EXPECT_EQ(busy.Holders[0].Pid, 4242);
    EXPECT_TRUE(contains(busy.Text, "«picocom» (PID 4242)")) << busy.Text;

    // The holder cannot be seen: the diagnosis says it cannot tell which program.
    fs::remove_all(sys / "proc/4242");
    busy = DiagnosePort(sys.place(), "ttyUSB0");
    EXPECT_EQ(busy.Problem, PortDiagnosis::kBusy);
    EXPECT_TRUE(contains(busy.Text, "определить не удалось")) << busy.Text;
    ::close(holder);
}

TEST(PortDiagnosis, RefusedPermissionGivesTheGroupCommandAndTheNewLogin) {
    FakeSystem sys;
    Pty pty;
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "FT232R", "", "ftdi_sio", pty.path);
    struct stat st {};
    ASSERT_EQ(::stat(pty.path.c_str(), &st), 0);
    // Whatever group the node has here, the fake system calls it dialout.
    FakeSystem::write(sys / "etc/group", "wheel:x:" + std::to_string(st.st_gid + 1) +
                                             ":tech\ndialout:x:" + std::to_string(st.st_gid) + ":someone\n");
    const auto refuse = [](const std::string&) { return EACCES; };

    serial::UserFacts tech{"tech", {1000}};
    PortDiagnosis d = DiagnosePort(sys.place(), "/dev/ttyUSB0", refuse, tech);
    EXPECT_EQ(d.Problem, PortDiagnosis::kNoPermission);
    EXPECT_TRUE(contains(d.Text, "sudo usermod -aG dialout tech")) << d.Text;
    EXPECT_TRUE(contains(d.Text, "войдите в систему заново"));

    // Already added to the group, but this session began before that.
    FakeSystem::write(sys / "etc/group", "dialout:x:" + std::to_string(st.st_gid) + ":someone,tech\n");
    d = DiagnosePort(sys.place(), "/dev/ttyUSB0", refuse, tech);
    EXPECT_EQ(d.Problem, PortDiagnosis::kNoPermission);
    EXPECT_FALSE(contains(d.Text, "usermod"));
    EXPECT_TRUE(contains(d.Text, "уже в группе «dialout»")) << d.Text;
}

TEST(PortDiagnosis, ModemManagerBrlttyAndTheReservedTtyS) {
    FakeSystem sys;
    Pty pty;
    sys.usbAdapter("ttyACM0", "2341", "0043", "Arduino", "Uno", "", "cdc_acm", pty.path);
    sys.process(700, "ModemManager", "/dev/ttyACM0");
    const auto busy = [](const std::string&) { return EBUSY; };
    PortDiagnosis d = DiagnosePort(sys.place(), "/dev/ttyACM0", busy);
    EXPECT_EQ(d.Problem, PortDiagnosis::kBusy);
    EXPECT_TRUE(contains(d.Text, "ModemManager")) << d.Text;
    EXPECT_TRUE(contains(d.Text, "ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", "
                                 "ENV{ID_MM_DEVICE_IGNORE}=\"1\""))
        << d.Text;
    // It opens, but ModemManager runs: a warning beside the good news.
    d = DiagnosePort(sys.place(), "/dev/ttyACM0");
    EXPECT_TRUE(d.Opens()) << d.Text;
    EXPECT_TRUE(contains(d.Text, "ID_MM_DEVICE_IGNORE"));

    // A CH340 on the bus whose ttyUSB is gone, and brltty running: brltty took it.
    FakeSystem ch;
    FakeSystem::write(ch / "sys/devices/usb1/1-2/idVendor", "1a86");
    FakeSystem::write(ch / "sys/devices/usb1/1-2/idProduct", "7523");
    fs::create_directories(ch / "sys/bus/usb/devices");
    fs::create_symlink("../../../devices/usb1/1-2", ch / "sys/bus/usb/devices/1-2");
    ch.process(300, "brltty");
    d = DiagnosePort(ch.place(), "/dev/ttyUSB0");
    EXPECT_EQ(d.Problem, PortDiagnosis::kBrltty);
    EXPECT_TRUE(contains(d.Text, "sudo apt remove brltty")) << d.Text;
    // Without brltty the port is simply missing.
    fs::remove_all(ch / "proc/300");
    EXPECT_EQ(DiagnosePort(ch.place(), "/dev/ttyUSB0").Problem, PortDiagnosis::kMissing);

    // COM2 on a ttyS with no chip behind it.
    FakeSystem s;
    s.ttyS(1, false, "/dev/null");
    d = DiagnosePort(s.place(), "COM2");
    EXPECT_EQ(d.Problem, PortDiagnosis::kNoUart);
    EXPECT_TRUE(contains(d.Text, "UART")) << d.Text;
}

TEST(PortDiagnosis, BusyUsbPortNobodyIsSeenHoldingWhileModemManagerRunsGetsItsUdevRuleAsTheLikelyCause) {
    FakeSystem sys;
    Pty acm, usb, uart;
    sys.usbAdapter("ttyACM0", "2341", "0043", "Arduino", "Uno", "", "cdc_acm", acm.path);
    sys.usbAdapter("ttyUSB0", "1a86", "7523", "", "USB Serial", "", "ch341", usb.path);
    sys.ttyS(0, true, uart.path);
    // ModemManager runs as root: its name can be read, its open files cannot.
    sys.process(700, "ModemManager");
    fs::remove_all(sys / "proc/700/fd");
    const auto busy = [](const std::string&) { return EBUSY; };

    PortDiagnosis d = DiagnosePort(sys.place(), "/dev/ttyACM0", busy);
    EXPECT_EQ(d.Problem, PortDiagnosis::kBusy);
    EXPECT_TRUE(d.Holders.empty());
    EXPECT_TRUE(contains(d.Text, "Вероятнее всего, это ModemManager")) << d.Text;
    EXPECT_TRUE(contains(d.Text, "ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", "
                                 "ENV{ID_MM_DEVICE_IGNORE}=\"1\""))
        << d.Text;
    d = DiagnosePort(sys.place(), "/dev/ttyUSB0", busy);
    EXPECT_EQ(d.Problem, PortDiagnosis::kBusy);
    EXPECT_TRUE(contains(d.Text, "ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"7523\"")) << d.Text;

    // ModemManager leaves built-in ports alone: no guess there.
    d = DiagnosePort(sys.place(), "/dev/ttyS0", busy);
    EXPECT_EQ(d.Problem, PortDiagnosis::kBusy);
    EXPECT_FALSE(contains(d.Text, "ModemManager")) << d.Text;
    EXPECT_TRUE(contains(d.Text, "определить не удалось")) << d.Text;

    // A holder that can be seen is named, not guessed at.
    sys.process(4242, "picocom", "/dev/ttyUSB0");
    d = DiagnosePort(sys.place(), "/dev/ttyUSB0", busy);
    EXPECT_TRUE(contains(d.Text, "«picocom» (PID 4242)")) << d.Text;
    EXPECT_FALSE(contains(d.Text, "ModemManager")) << d.Text;

    // Without ModemManager running there is nothing to suspect.
    fs::remove_all(sys / "proc/700");
    d = DiagnosePort(sys.place(), "/dev/ttyACM0", busy);
    EXPECT_EQ(d.Problem, PortDiagnosis::kBusy);
    EXPECT_FALSE(contains(d.Text, "ModemManager")) << d.Text;
    EXPECT_TRUE(contains(d.Text, "определить не удалось")) << d.Text;
}

TEST(PortDiagnosis, PortGoneBetweenListingAndOpeningAndThingsThatAreNoPorts) {
    FakeSystem sys;
    sys.usbAdapter("ttyUSB0", "0403", "6001", "FTDI", "FT232R", "", "ftdi_sio", "/dev/null");
    ASSERT_EQ(ListSerialDevices(sys.place()).size(), 1u);
    // The device went between the look and the open.
    const auto gone = [](const std::string&) { return ENODEV; };
    EXPECT_EQ(DiagnosePort(sys.place(), "/dev/ttyUSB0", gone).Problem, PortDiagnosis::kMissing);
    fs::remove(sys / "dev/ttyUSB0");
    PortDiagnosis d = DiagnosePort(sys.place(), "/dev/ttyUSB0");
    EXPECT_EQ(d.Problem, PortDiagnosis::kMissing);
    EXPECT_TRUE(contains(d.Text, "подключите адаптер")) << d.Text;
    // /dev/null is a character device but no terminal; a plain file is no device at all.
    fs::create_symlink("/dev/null", sys / "dev/ttyUSB0");
    EXPECT_EQ(DiagnosePort(sys.place(), "/dev/ttyUSB0").Problem, PortDiagnosis::kNotSerial);
    FakeSystem::write(sys / "dev/ttyUSB9", "x");
    EXPECT_EQ(DiagnosePort(sys.place(), "/dev/ttyUSB9").Problem, PortDiagnosis::kNotSerial);
    // An error nobody planned for: said plainly, with the system's words.
    d = DiagnosePort(sys.place(), "/dev/ttyUSB0", [](const std::string&) { return EMFILE; });
    EXPECT_EQ(d.Problem, PortDiagnosis::kUnknown);
    EXPECT_TRUE(contains(d.Text, "Причину определить не удалось"));
}

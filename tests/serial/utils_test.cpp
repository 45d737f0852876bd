// File helpers, the tick timer, the write-queue array, device names and the main-thread hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "serial/comm_buffer.h"
#include "serial/device_name.h"
#include "serial/main_thread.h"
#include "serial/sync.h"
#include "serial/utils.h"

using namespace serial;
namespace fs = std::filesystem;

namespace {

class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/serial_utils_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    void Touch(const std::string& name, const std::string& content = "") { std::ofstream(dir + "/" + name) << content; }
    std::string dir;
};

TEST_F(Folder, UniqueNamesCountUpBesideTheExistingFile) {
    EXPECT_EQ(CreateUniqueFileName(dir + "/report.txt"), dir + "/report.txt");
    Touch("report.txt");
    EXPECT_EQ(CreateUniqueFileName(dir + "/report.txt"), dir + "/report-1.txt");
    Touch("report-1.txt");
    EXPECT_EQ(CreateUniqueFileName(dir + "/report.txt"), dir + "/report-2.txt");

    Touch("README");
    EXPECT_EQ(CreateUniqueFileName(dir + "/README"), dir + "/README-1");
    // Only the last dot starts the extension.
    Touch("a.tar.gz");
    EXPECT_EQ(CreateUniqueFileName(dir + "/a.tar.gz"), dir + "/a.tar-1.gz");
}

TEST_F(Folder, FileSizeOfMissingEmptyAndFilledFiles) {
    EXPECT_EQ(GetFileSize(dir + "/none"), -1);
    Touch("empty");
    EXPECT_EQ(GetFileSize(dir + "/empty"), 0);
    Touch("five", "12345");
    EXPECT_EQ(GetFileSize(dir + "/five"), 5);
    EXPECT_EQ(GetFileSize(""), -1);
}

TEST(SerialUtils, SmallHelpers) {
    EXPECT_EQ(AddPathSlash(""), "");
    EXPECT_EQ(AddPathSlash("/"), "/");
    EXPECT_EQ(AddPathSlash("/tmp"), "/tmp/");
    EXPECT_EQ(AddPathSlash("/tmp/"), "/tmp/");
    EXPECT_EQ(MinInteger(-3, 2), -3);
    EXPECT_EQ(CN('\0'), ' ');
    EXPECT_EQ(CN('A'), 'A');
    EXPECT_TRUE(BitOn(0x81, 0x80));
    EXPECT_FALSE(BitOff(0x81, 0x80));
    EXPECT_TRUE(BitOff(0x01, 0x80));
}

TEST(SerialTimer, ExpiresStrictlyAfterItsDurationAcrossTheWrap) {
    TVaTimeEvent t{100, 50};
    EXPECT_FALSE(TimerExpiredAt(t, 150));
    EXPECT_TRUE(TimerExpiredAt(t, 151));

    TVaTimeEvent w{0xFFFFFFF0u, 40};
    EXPECT_FALSE(TimerExpiredAt(w, 0xFFFFFFFFu));
    EXPECT_FALSE(TimerExpiredAt(w, 25)); // (0xFFFFFFFF - start) + now = 40
    EXPECT_TRUE(TimerExpiredAt(w, 26));

    TVaTimeEvent now;
    InitTimer(now, 60000);
    EXPECT_FALSE(TimerExpired(now));
}

TEST(SerialCommBuffer, QueueOperationsKeepOrderAndNeverRunPastTheEnd) {
    TVaCommBuffer b(8);
    EXPECT_EQ(b.Write("abcdef", 6), 6);
    EXPECT_EQ(b.Write("ghij", 4), 2); // only the room there is
    char out[8] = {};
    EXPECT_EQ(b.Peek(out, 3), 3);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_EQ(b.Count(), 8);
    b.Remove(2);
    EXPECT_EQ(b.Read(out, 8), 6);
    EXPECT_EQ(std::string(out, 6), "cdefgh");
    b.Write("x", 1);
    b.Clear();
    EXPECT_EQ(b.Count(), 0);
    EXPECT_EQ(b.Capacity(), 8);
}

TEST(SerialDeviceName, ComNamesResolveThroughEnvironmentPreferencesAndDefault) {
    unsetenv("ZIREZID_COM7");
    SetDeviceResolver(nullptr);
    EXPECT_EQ(ResolveDevicePath("\\\\.\\COM7"), "/dev/ttyS6");
    SetDeviceResolver([](int n) { return n == 7 ? std::string("/dev/ttyUSB0") : std::string(); });
    EXPECT_EQ(ResolveDevicePath("COM7"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveDevicePath("COM2"), "/dev/ttyS1");
    setenv("ZIREZID_COM7", "/tmp/unit", 1);
    EXPECT_EQ(ResolveDevicePath("\\\\.\\COM7"), "/tmp/unit");
    unsetenv("ZIREZID_COM7");
    SetDeviceResolver(nullptr);
    EXPECT_EQ(ResolveDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(ResolveDevicePath("ttyACM0"), "/dev/ttyACM0");
}

TEST(SerialDeviceName, OnePortNameRuleForEveryCommand) {
    // COMn in any case, with or without the "\\.\" prefix, is a port number.
    EXPECT_EQ(ParsePortName("COM1").Number, 1);
    EXPECT_EQ(ParsePortName("com1").Number, 1);
    EXPECT_EQ(ParsePortName("Com12").Number, 12);
    EXPECT_EQ(ParsePortName("\\\\.\\COM3").Number, 3);
    // Everything else is a device file: absolute as given, relative from the current folder.
    EXPECT_EQ(ParsePortName("COM0").Number, 0);
    EXPECT_EQ(ParsePortName("/dev/pts/3").Path, "/dev/pts/3");
    EXPECT_EQ(ParsePortName("/dev/pts/3").Number, 0);
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(ParsePortName("unit/tty").Path, cwd + "/unit/tty");
    EXPECT_EQ(ParsePortName("com1x").Path, cwd + "/com1x");
    // A bare name that is not in the current folder but is a device is the device ("ttyUSB0").
    EXPECT_EQ(ParsePortName("null").Path, std::filesystem::exists("null") ? cwd + "/null" : "/dev/null");
}

TEST(SerialMainThread, HandOverRunsInProcessEventsAndReleaseEndsTheWait) {
    TVaEventQueue queue;
    TVaSynchronizer sync(queue);
    std::atomic<int> ranOn{0};
    std::atomic<bool> returned{false};
    bool result = false;
    std::thread worker([&] {
        result = sync.Run([&] { ranOn = queue.IsMainThread() ? 1 : 2; });
        returned = true;
    });
    while (!returned)
        queue.ProcessEvents(10);
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(ranOn, 1);

    // A call queued and then released never runs, and its thread is let go without the main thread.
    std::atomic<bool> lateRan{false};
    std::thread late([&] { result = sync.Run([&] { lateRan = true; }); });
    while (queue.Pending() == 0)
        std::this_thread::yield();
    sync.Release();
    late.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(queue.ProcessEvents(0), 1);
    EXPECT_FALSE(lateRan);
    EXPECT_EQ(queue.ProcessEvents(0), 0);
}

TEST(SerialMainThread, NestedProcessingServesHandOversAndExceptionsReachTheHandler) {
    TVaEventQueue queue;
    std::string caught;
    queue.OnException = [&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            caught = x.what();
        }
    };
    TVaSynchronizer outer(queue), inner(queue);
    std::atomic<bool> innerDone{false};
    std::thread a([&] {
        outer.Run([&] {
            // Inside one hand-over the main thread waits for another, as a reply-waiting handler would.
            std::thread b([&] {
                inner.Run([&] { throw std::runtime_error("handler failed"); });
                innerDone = true;
            });
            while (!innerDone)
                queue.ProcessEvents(10);
            b.join();
        });
    });
    queue.ProcessEvents(2000);
    a.join();
    EXPECT_TRUE(innerDone);
    EXPECT_EQ(caught, "handler failed");
    EXPECT_EQ(queue.LastExceptionText(), "handler failed");
}

} // namespace

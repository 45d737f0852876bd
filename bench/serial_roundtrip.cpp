// Round trip of one byte through a port to an echoing peer on a pseudo-terminal and back to OnRxChar on the
// main thread, and the CPU an idle open port costs. Run by hand: bench_serial_roundtrip [trips] [idle
// seconds]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "serial/comm.h"
#include "serial/main_thread.h"

using namespace serial;
using Clock = std::chrono::steady_clock;

static double CpuSeconds(int Who = RUSAGE_SELF) {
    rusage u{};
    getrusage(Who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
    const int trips = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;

    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char buf[256];
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0 && write(master, buf, static_cast<size_t>(n)) != n)
                    return;
            }
        }
    });

    TVaEventQueue queue;
    SetMainThreadHost(&queue);
    TVaComm port;
    port.SetDeviceName(name);
    port.SetBaudrate(br38400);
    port.SetStopbits(sb2);
    port.SetMonitorEvents({ceRxChar, ceRxFlag});
    bool got = false;
    port.OnRxChar = [&](TVaCustomComm*, int) { got = !port.ReadText().empty(); };
    port.Open();

    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(trips));
    for (int i = 0; i < trips; ++i) {
        got = false;
        const auto start = Clock::now();
        port.WriteChar('x');
        while (!got)
            queue.ProcessEvents(5);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("round trip of one byte, %d trips: median %.1f us, 99th percentile %.1f us, max %.1f us\n", trips,
                us[us.size() / 2], us[us.size() * 99 / 100], us.back());

    stop = true;
    echo.join();
    const double cpu0 = CpuSeconds();
    const double main0 = CpuSeconds(RUSAGE_THREAD);
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(idleSeconds))
        queue.ProcessEvents(100);
    const double cpu = CpuSeconds() - cpu0;
    const double mainCpu = CpuSeconds(RUSAGE_THREAD) - main0;
    std::printf("idle open port over %d s: %.3f ms CPU in all (%.4f %%), of which the port's threads %.3f ms "
                "(the rest is the main thread waking every 100 ms in ProcessEvents)\n",
                idleSeconds, cpu * 1000, cpu * 100 / idleSeconds, std::max(0.0, cpu - mainCpu) * 1000);
    port.Close();
    SetMainThreadHost(nullptr);
    close(master);
    close(slave);
    return 0;
}

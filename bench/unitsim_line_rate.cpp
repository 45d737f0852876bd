// How closely unitsim's --baud throttle follows the line rate: downloads a prepared message file at 38400
// bit/s and reports bytes per second against the 3490.9 of 8N2, and the largest run of bytes read at once (a
// burst shows as a run much longer than the bytes one poll interval can carry). Usage:
// bench_unitsim_line_rate [path of unitsim] [file size]
#include <cstdio>
#include <fstream>

#include "tests/support/unitsim_process.h"
#include "tests/unitsim/block_peer.h"

using namespace unitsim_test;

int main(int argc, char** argv) {
    std::string binary = argc > 1 ? argv[1] : "build/tools/unitsim/unitsim";
    std::size_t size = argc > 2 ? std::stoul(argv[2]) : 20000;
    TempDir state;
    std::filesystem::create_directories(state.path() / "messages" / "50001");
    std::ofstream(state.path() / "messages" / "50001" / "bench.ktm", std::ios::binary) << std::string(size, 'x');
    UnitsimProcess unit({"--state", state.str(), "--baud", "38400"}, binary);
    auto path = unit.readLine();
    if (!path) {
        std::fprintf(stderr, "unitsim did not start\n");
        return 1;
    }
    PtyPeer peer(*path);
    if (!peer.login())
        return 1;
    peer.send(" dl 50001 ");
    if (!peer.expect("START"))
        return 1;
    peer.send("C");
    auto start = std::chrono::steady_clock::now();
    std::size_t total = 0, largest = 0;
    // Acknowledge everything; count what arrives until the closing answer.
    while (true) {
        std::size_t before = peer.received().size();
        peer.pump(200ms);
        std::size_t got = peer.received().size() - before;
        largest = std::max(largest, got);
        total += got;
        std::string& r = peer.received();
        if (r.find("OK\r\n#") != std::string::npos)
            break;
        if (got == 0 && std::chrono::steady_clock::now() - start > 120s)
            return 1;
        // Every complete block gets its ACK (and the "C" wanted after block 0 and after EOT).
        if (r.size() >= 133 && r[0] == SOH) {
            r.erase(0, 133);
            peer.send(std::string(1, ACK) + "C");
        } else if (r.size() >= 1029 && r[0] == STX) {
            r.erase(0, 1029);
            peer.send(std::string(1, ACK));
        } else if (!r.empty() && r[0] == EOT) {
            r.erase(0, 1);
            peer.send(std::string(1, ACK) + "C");
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu bytes in %.3f s: %.1f bytes/s (line: %.1f), largest single read %zu bytes\n", total, seconds,
                total / seconds, 38400.0 / 11.0, largest);
    return 0;
}

#include "model/host.h"

#include <atomic>
#include <iostream>

namespace host {
namespace {

// Serves until the shell or a test installs its own host; keeps messages visible instead of dropping them.
class DefaultHost final : public Host {
public:
    void showMessage(const std::string& text, MessageIcon) override {
        std::cerr << applicationTitle << ": " << text << '\n';
    }
    void processEvents() override {}
    void applyShellState(ShellState) override {}
};

DefaultHost defaultHost;
std::atomic<Host*> installed{nullptr};

} // namespace

Host& current() {
    Host* h = installed.load();
    return h ? *h : defaultHost;
}

Host* install(Host* h) { return installed.exchange(h); }

} // namespace host

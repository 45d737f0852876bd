#include "cli/headless_ui.h"

#include "link/device_link.h"
#include "serial/main_thread.h"

#include <atomic>
#include <iostream>
#include <unistd.h>

namespace cli {
namespace {
std::atomic<bool> g_interrupted{false};
} // namespace

void HeadlessUi::onInterrupt(int) { g_interrupted = true; }

void HeadlessUi::processEvents(int maxWaitMs) {
    serial::DefaultEventQueue().ProcessEvents(maxWaitMs);
    // Ctrl+C is the Stop button.
    if (g_interrupted.exchange(false) && link)
        link->bt_StopClick();
}

void HeadlessUi::setRowStatus(int row, const std::string& status) {
    // One row per listed object, as in the dialog's grid: any other number names nothing, and growing the
    // table to it could take all the memory there is.
    if (row < 1 || static_cast<std::size_t>(row) > names.size())
        return;
    if (rows.size() <= static_cast<std::size_t>(row))
        rows.resize(static_cast<std::size_t>(row) + 1);
    rows[static_cast<std::size_t>(row)] = status;
    endProgress();
    const std::size_t k = static_cast<std::size_t>(row - 1);
    std::cerr << (k < names.size() ? names[k] : std::to_string(row)) << ": " << status << '\n';
}

void HeadlessUi::setStatusPanel(int panel, const std::string& text) {
    if (panel != 1 || !isatty(STDERR_FILENO))
        return;
    std::cerr << '\r' << text << "\x1b[K" << std::flush;
    progressShown = true;
}

void HeadlessUi::showMessage(const std::string& text, const std::string&) {
    ++shown;
    endProgress();
    std::cerr << text << '\n';
}

int HeadlessUi::askAbortRetryIgnore(const std::string& text, bool allowSkip) {
    ++shown;
    endProgress();
    std::cerr << text << '\n';
    // Without a skip button the only other answer is retrying for ever: a script is better served by a stop.
    return allowSkip && skipOnError ? devlink::mrIgnore : devlink::mrAbort;
}

int HeadlessUi::askYesNoAll(const std::string& text) {
    endProgress();
    std::cerr << text << (replaceAll ? " Да - для всех\n" : " Нет - для всех\n");
    return replaceAll ? devlink::mrYesToAll : devlink::mrNoToAll;
}

bool HeadlessUi::editText(const std::string& caption, const std::string&, std::string& text) {
    endProgress();
    if (!passwordCandidates.empty()) {
        text = passwordCandidates.front();
        passwordCandidates.erase(passwordCandidates.begin());
        return true;
    }
    std::cerr << caption << '\n';
    return false;
}

bool HeadlessUi::allOk(std::size_t count) const {
    if (rows.size() < count + 1)
        return false;
    for (std::size_t k = 1; k <= count; ++k)
        if (rows[k] != "OK")
            return false;
    return true;
}

void HeadlessUi::endProgress() {
    if (progressShown)
        std::cerr << '\n';
    progressShown = false;
}

} // namespace cli

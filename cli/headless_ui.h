// The device link's user interface of zirezid-cli: no window, messages and questions on standard error, the
// answers given beforehand on the command line.
#pragma once

#include "link/link_ui.h"

#include <cstddef>
#include <string>
#include <vector>

namespace devlink {
class DeviceLink;
}

namespace cli {

// Messages and questions on standard error; progress only where a person watches.
class HeadlessUi : public devlink::LinkUi {
public:
    // The SIGINT handler: the next event processing presses Stop.
    static void onInterrupt(int);

    bool skipOnError = false;
    bool replaceAll = false;
    devlink::DeviceLink* link = nullptr;
    std::vector<std::string> rows; // status per grid row
    std::vector<std::string> names;

    void processEvents(int maxWaitMs) override;
    void selectRow(int) override {}
    void setRowStatus(int row, const std::string& status) override;
    void setStatusPanel(int panel, const std::string& text) override;
    void setDialogState(devlink::DialogState) override {}
    void deviceInfoChanged() override {}
    std::size_t shown = 0; // messages and questions written so far
    void showMessage(const std::string& text, const std::string&) override;
    int askAbortRetryIgnore(const std::string& text, bool allowSkip) override;
    int askYesNoAll(const std::string& text) override;
    // Passwords to try when the unit refuses the one given (a restore after a write that changed it).
    std::vector<std::string> passwordCandidates;
    bool editText(const std::string& caption, const std::string&, std::string& text) override;
    // True when every listed object ended with "OK".
    bool allOk(std::size_t count) const;

private:
    void endProgress();
    bool progressShown = false;
};

} // namespace cli

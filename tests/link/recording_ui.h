// A user interface for the device link that records what it was shown and answers its questions from a script.
#pragma once

#include "link/link_ui.h"
#include "serial/main_thread.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class RecordingUi : public devlink::LinkUi {
public:
    explicit RecordingUi(serial::TVaEventQueue& queue) : queue_(queue) {}
    void processEvents(int maxWaitMs) override {
        queue_.ProcessEvents(maxWaitMs);
        if (onEvents)
            onEvents();
    }
    void selectRow(int row) override { selected.push_back(row); }
    void setRowStatus(int row, const std::string& status) override {
        if (rows.size() <= static_cast<std::size_t>(row))
            rows.resize(static_cast<std::size_t>(row) + 1);
        rows[static_cast<std::size_t>(row)] = status;
    }
    void setStatusPanel(int panel, const std::string& text) override {
        panels[panel] = text;
        panelHistory.push_back(text);
    }
    void setDialogState(devlink::DialogState state) override { dialogStates.push_back(state); }
    void deviceInfoChanged() override { ++deviceInfoChanges; }
    void lineLost() override { ++lineLosses; }
    void showMessage(const std::string& text, const std::string&) override { messages.push_back(text); }
    int askAbortRetryIgnore(const std::string& text, bool allowSkip) override {
        questions.push_back(text);
        skipAllowed.push_back(allowSkip);
        return next(abortRetryIgnore, devlink::mrAbort);
    }
    int askYesNoAll(const std::string& text) override {
        questions.push_back(text);
        return next(yesNoAll, devlink::mrNo);
    }
    bool editText(const std::string& caption, const std::string& label, std::string& text) override {
        editCaptions.push_back(caption + "|" + label + "|" + text);
        if (passwords.empty())
            return false;
        text = passwords.front();
        passwords.pop_front();
        return true;
    }

    std::deque<int> abortRetryIgnore, yesNoAll;
    std::deque<std::string> passwords;
    std::function<void()> onEvents;

    std::vector<int> selected, dialogStates;
    std::vector<std::string> rows, messages, questions, editCaptions, panelHistory;
    std::vector<bool> skipAllowed;
    std::string panels[3];
    int deviceInfoChanges = 0;
    int lineLosses = 0;

private:
    static int next(std::deque<int>& script, int fallback) {
        if (script.empty())
            return fallback;
        const int r = script.front();
        script.pop_front();
        return r;
    }
    serial::TVaEventQueue& queue_;
};

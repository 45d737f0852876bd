// What the device link shows and asks while it works. The read/write dialog implements it with its grid, status
// bar and the shared message boxes; zirezid-cli and the tests implement it without windows.
#pragma once

#include <string>

namespace devlink {

// Modal results of the message boxes and the edit box, the same for the link and the shell's windows.
enum ModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrNoToAll = 9,
    mrYesToAll = 10
};

// The read/write dialog's states. The link puts the dialog into dsBusy while it logs in; the dialog sets the
// others from how its jobs ended.
enum DialogState : int {
    dsNotConnected = 0,
    dsReady = 1,
    dsBusy = 2,
    dsReadWithErrors = 3, // some objects read
    dsAllRead = 4,
    dsAllWritten = 5,
    // The line went after objects were read: what arrived can still be kept, nothing more can be asked.
    dsLostReadKept = 6,
};

class LinkUi {
public:
    virtual ~LinkUi() = default;

    // Lets the user interface run its pending events (the Stop button, the port's notifications). When nothing is
    // pending it may block for at most maxWaitMs for the next event; it returns early when one arrives.
    virtual void processEvents(int maxWaitMs) = 0;

    // Status grid: row k + 1 belongs to object k (row 0 is the header). Column 2 is the status.
    virtual void selectRow(int row) = 0;
    virtual void setRowStatus(int row, const std::string& status) = 0;
    // Status bar panels: 0 port, 1 current object, transfer progress or summary, 2 progress "k/total".
    virtual void setStatusPanel(int panel, const std::string& text) = 0;
    // The dialog's state table; dsBusy also sets the busy cursor, every other state the normal one.
    virtual void setDialogState(DialogState state) = 0;
    // The device-information object has new values; the main window refreshes what it shows of them.
    virtual void deviceInfoChanged() = 0;
    // The port's device is gone (the adapter was pulled, the unit dropped the line): nothing passes any more
    // until a new session is opened. Told once per session, from inside event processing, also while no job
    // runs; a running job besides ends with rcLineLost, and the link shows text::lineLost once. The state
    // stays readable as DeviceLink::lineLost() until the session is closed.
    virtual void lineLost() {}

    // A plain message box with an OK button. An empty caption shows no caption at all.
    virtual void showMessage(const std::string& text, const std::string& caption) = 0;
    // The error box "Ошибка": "Остановить" (mrAbort), "Повторить" (mrRetry), "Пропустить" (mrIgnore); any other
    // way of closing gives mrCancel. With allowSkip false "Пропустить" is shown but disabled.
    virtual int askAbortRetryIgnore(const std::string& text, bool allowSkip) = 0;
    // The warning box with "Да", "Нет", "Да - для всех", "Нет - для всех", "Отмена"; focus on "Нет".
    virtual int askYesNoAll(const std::string& text) = 0;
    // The one-line edit box with the given caption and label, filled with text. On OK answers true with the
    // edited text, trimmed of blanks at both ends, in text; on Cancel answers false and leaves text alone.
    virtual bool editText(const std::string& caption, const std::string& label, std::string& text) = 0;
};

} // namespace devlink

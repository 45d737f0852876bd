// A call placed through the settings on the desk: the answering menu for a line and a time, then each digit
// or time-out follows the menu's action, as the unit would, until the call reaches an operator or a mailbox
// or stops where nothing leads on.
#pragma once

#include "flow/answering_menu.h"
#include "flow/call_flow.h"

#include <string>
#include <vector>

namespace flow {

enum class CallEnd {
    None,     // still in a menu
    Operator, // handed to an operator
    Mailbox,  // a message is being left
    Nowhere,  // a menu, operator or mailbox that does not exist, or a time-out that does nothing
    Loop,     // time-outs alone go round menus for ever
};

struct CallStep {
    int menu = -1;  // the menu the step happens in (-1: the line answers)
    int event = -1; // the event taken, or -1 for entering a menu
    std::string text;
};

class TrialCall {
public:
    TrialCall(const CallFlow& flow, int line, const CallTime& at);

    // The line answers with its menu for the time. False (and ended Nowhere) when the line or its menu is
    // missing.
    bool start();
    // A digit (its event index) or the time-out (kTimeoutEvent) in the current menu.
    void press(int event);
    // At an operator: nobody answered, so the call goes on in the operator's fall-back menu.
    void operatorNoAnswer();
    // Nothing more is pressed: an operator called during the message takes the call, otherwise time-outs are
    // followed until the call ends or goes round for ever.
    void finish();

    CallEnd end() const { return end_; }
    bool ended() const { return end_ != CallEnd::None; }
    int currentMenu() const { return current_; }
    const Answer& answer() const { return answer_; }
    const std::vector<CallStep>& steps() const { return steps_; }
    // The caller's words for how the call ended ("Вызов переведён на оператора линии 2, ждать 20 с, затем
    // меню 5").
    const std::string& ending() const { return ending_; }
    // The (menu, event) pairs taken, for the picture.
    const std::vector<std::pair<int, int>>& path() const { return path_; }
    // The menus entered, in order.
    const std::vector<int>& menusEntered() const { return entered_; }

    // A safety limit on steps for a script of digits that never ends.
    static constexpr int kMaxSteps = 1000;

private:
    void enter(int menu);
    void stop(CallEnd how, const std::string& words, int menu);

    const CallFlow& flow_;
    int line_;
    CallTime at_;
    Answer answer_;
    int current_ = -1;
    std::vector<int> history_;
    std::vector<CallStep> steps_;
    std::vector<std::pair<int, int>> path_;
    std::vector<int> entered_;
    CallEnd end_ = CallEnd::None;
    std::string ending_;
    int fallback_ = -1; // the menu taken when the operator does not answer
};

// Parses "1,2,T" (T = time-out, N = the operator did not answer) into events; -2 stands for N. False for
// anything else, with `bad` set to the item that is wrong.
bool parseDigits(const std::string& text, std::vector<int>& events, std::string& bad);
inline constexpr int kNoAnswerEvent = -2;

} // namespace flow

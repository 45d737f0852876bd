#include "flow/trial_call.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace flow {
namespace {

std::string operatorName(int line) { return line == 0 ? "всех операторов" : "оператора линии " + std::to_string(line); }

} // namespace

TrialCall::TrialCall(const CallFlow& flow, int line, const CallTime& at) : flow_(flow), line_(line), at_(at) {}

void TrialCall::stop(CallEnd how, const std::string& words, int menu) {
    end_ = how;
    ending_ = words;
    steps_.push_back(CallStep{menu, -1, "итог: " + words});
}

bool TrialCall::start() {
    const auto a = answeringMenu(flow_, line_, at_);
    if (!a) {
        stop(CallEnd::Nowhere, "Линии " + std::to_string(line_) + " нет в этом типе устройства", -1);
        return false;
    }
    answer_ = *a;
    std::string why = periodName(a->period);
    if (a->period == Period::Holiday)
        why += " " + std::to_string(a->holiday);
    steps_.push_back(CallStep{-1, -1,
                              "линия " + std::to_string(line_) + ", " + formatCallTime(at_) + " (" + why +
                                  "): отвечает меню " + std::to_string(a->menu)});
    enter(a->menu);
    return !ended();
}

void TrialCall::enter(int menu) {
    const Menu* m = flow_.menu(menu);
    if (!m) {
        current_ = -1;
        const bool beyond = menu >= flow_.menuCount;
        stop(CallEnd::Nowhere,
             "Меню " + std::to_string(menu) +
                 (beyond ? " нет в этом типе устройства" : " скрыто в этом типе устройства") +
                 ": вызов никуда не ведёт",
             menu);
        return;
    }
    current_ = menu;
    fallback_ = -1;
    entered_.push_back(menu);
    std::string text = "меню " + std::to_string(menu);
    if (!m->description.empty())
        text += " «" + m->description + "»";
    if (!m->message.named())
        text += ": сообщения нет (тишина)";
    else if (m->message.decodable)
        text += ": сообщение " + m->message.fileName + ", " + oneDecimal(m->message.seconds) + " с";
    else
        text += ": сообщение " + m->message.fileName + " (" + m->message.problem + ")";
    if (m->callOperatorOnStart)
        text += "; во время сообщения звонок на " + operatorName(m->operatorOnStart);
    steps_.push_back(CallStep{menu, -1, text});
}

void TrialCall::press(int event) {
    if (ended() || current_ < 0 || event < 0 || event >= kEventCount)
        return;
    if (static_cast<int>(steps_.size()) >= kMaxSteps) {
        stop(CallEnd::Loop, "Слишком много шагов: вызов ходит по кругу", current_);
        return;
    }
    const Menu& m = *flow_.menu(current_);
    const Action& a = m.actions[static_cast<std::size_t>(event)];
    const std::string label = "  " + eventName(event) + ": ";
    path_.push_back({current_, event});
    switch (a.kind) {
    case Action::Kind::None:
        if (event == kTimeoutEvent) {
            steps_.push_back(CallStep{current_, event, label + "действие не задано"});
            stop(CallEnd::Nowhere,
                 "Таймаут в меню " + std::to_string(current_) + " ничего не делает: звонящий слышит тишину", current_);
        } else {
            steps_.push_back(CallStep{current_, event, label + "действие не задано, меню ждёт дальше"});
        }
        return;
    case Action::Kind::ToMenu:
        steps_.push_back(CallStep{current_, event, label + "переход в меню " + std::to_string(a.menu)});
        history_.push_back(current_);
        enter(a.menu);
        return;
    case Action::Kind::ToOperator: {
        steps_.push_back(CallStep{current_, event, label + describeAction(a)});
        if (!flow_.operatorExists(a.operatorLine)) {
            stop(CallEnd::Nowhere,
                 (a.operatorLine == 0 ? std::string("Операторов")
                                      : "Оператора линии " + std::to_string(a.operatorLine)) +
                     " нет в этом типе устройства: вызов никуда не ведёт",
                 current_);
            return;
        }
        const int from = current_;
        stop(CallEnd::Operator, describeAction(a), from);
        fallback_ = a.menu;
        history_.push_back(from);
        return;
    }
    case Action::Kind::Mailbox:
        steps_.push_back(CallStep{current_, event, label + describeAction(a)});
        if (!flow_.mailboxExists(a.mailbox))
            stop(CallEnd::Nowhere,
                 "Ящика " + std::to_string(a.mailbox + 1) + " нет в этом типе устройства: вызов никуда не ведёт",
                 current_);
        else
            stop(CallEnd::Mailbox, describeAction(a), current_);
        return;
    case Action::Kind::Back:
        if (history_.empty()) {
            // The unit has nowhere to return to: the caller hears this menu again.
            steps_.push_back(CallStep{current_, event, label + "возврат, но предыдущего меню нет: меню звучит снова"});
            enter(current_);
        } else {
            const int previous = history_.back();
            history_.pop_back();
            steps_.push_back(CallStep{current_, event, label + "возврат в меню " + std::to_string(previous)});
            enter(previous);
        }
        return;
    }
}

void TrialCall::operatorNoAnswer() {
    if (end_ != CallEnd::Operator || fallback_ < 0)
        return;
    const int menu = fallback_;
    end_ = CallEnd::None;
    ending_.clear();
    steps_.push_back(CallStep{current_, -1, "  оператор не ответил: переход в меню " + std::to_string(menu)});
    enter(menu);
}

void TrialCall::finish() {
    // Only a return reads the history, and it reads the top: the menu with the top of the history says what
    // the time-outs do next closely enough; the step limit catches the rest (returns that unwind a long
    // history).
    std::set<std::pair<int, int>> seen;
    int budget = 4 * static_cast<int>(flow_.menus.size()) + 20;
    while (!ended()) {
        const Menu* m = flow_.menu(current_);
        if (!m)
            return;
        if (m->callOperatorOnStart && flow_.operatorExists(m->operatorOnStart)) {
            stop(CallEnd::Operator,
                 "Вызов переведён на " + operatorName(m->operatorOnStart) + " во время сообщения меню " +
                     std::to_string(current_),
                 current_);
            return;
        }
        if (!seen.insert({current_, history_.empty() ? -1 : history_.back()}).second || --budget < 0) {
            // The round runs from the menu's previous entry to this one.
            std::string round;
            std::size_t from = entered_.size() - 1;
            while (from > 0 && entered_[from - 1] != current_)
                --from;
            for (std::size_t i = from > 0 ? from - 1 : 0; i + 1 < entered_.size(); ++i)
                round += std::to_string(entered_[i]) + " → ";
            stop(CallEnd::Loop, "Без нажатий вызов ходит по кругу: меню " + round + std::to_string(current_), current_);
            return;
        }
        press(kTimeoutEvent);
    }
}

bool parseDigits(const std::string& text, std::vector<int>& events, std::string& bad) {
    events.clear();
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = text.find(',', pos);
        std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        if (item.size() == 1 && item[0] >= '0' && item[0] <= '9')
            events.push_back(eventOfDigit(item[0] - '0'));
        else if (item == "T" || item == "t")
            events.push_back(kTimeoutEvent);
        else if (item == "N" || item == "n")
            events.push_back(kNoAnswerEvent);
        else if (!(item.empty() && text.empty())) {
            bad = item;
            return false;
        }
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return true;
}

} // namespace flow

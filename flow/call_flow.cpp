#include "flow/call_flow.h"

#include "flow/message_probe.h"
#include "model/actions.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>

namespace flow {
namespace {

int toInt(const std::string& text, int fallback = 0) {
    int v = fallback;
    const auto* end = text.data() + text.size();
    auto r = std::from_chars(text.data(), end, v);
    return r.ec == std::errc() ? v : fallback;
}

// "hhmm" as minutes after midnight.
int minutesOf(const std::string& hhmm, int fallback) {
    if (hhmm.size() != 4)
        return fallback;
    return toInt(hhmm.substr(0, 2)) * 60 + toInt(hhmm.substr(2, 2));
}

std::string fieldText(KT_TABLE* object, const std::string& key) {
    if (!object)
        return {};
    KT_RECORD* r = object->findChild(key);
    return r ? r->getText() : std::string();
}

// An object is there for a call when it is visible and so is the list it belongs to.
bool shown(KT_TABLE* object, KT_TABLE* list) { return object && object->isVisible && (!list || list->isVisible); }

Action actionOf(KT_RECORD* record) {
    Action a;
    auto* act = record ? kt_cast<KT_ACTION>(record->value.get()) : nullptr;
    if (!act)
        return a;
    const std::string p = act->param ? act->param->getText() : std::string();
    if (act->name == kActionToMenu) {
        a.kind = Action::Kind::ToMenu;
        a.menu = toInt(p.substr(0, 2));
    } else if (act->name == kActionToSlp) {
        a.kind = Action::Kind::ToOperator;
        a.operatorLine = toInt(p.substr(0, 2));
        a.waitSeconds = p.size() >= 4 ? toInt(p.substr(2, 2)) : 0;
        a.menu = p.size() >= 6 ? toInt(p.substr(4, 2)) : 0;
    } else if (act->name == kActionLvMsg) {
        a.kind = Action::Kind::Mailbox;
        a.mailbox = toInt(p.substr(0, 2));
    } else if (act->name == kActionBack) {
        a.kind = Action::Kind::Back;
    }
    return a;
}

} // namespace

std::string eventKey(int event) {
    if (event == kTimeoutEvent)
        return "ActionTO";
    return "ActionDTMF[" + std::to_string(event == 10 ? 0 : event) + "]";
}

std::string eventName(int event) {
    return event == kTimeoutEvent ? "таймаут" : std::to_string(event == 10 ? 0 : event);
}

std::string eventLabel(int event) { return event == kTimeoutEvent ? "T" : std::to_string(event == 10 ? 0 : event); }

std::string oneDecimal(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", value);
    std::string t = buf;
    std::replace(t.begin(), t.end(), '.', ',');
    return t;
}

bool Menu::isBlank() const {
    if (!description.empty() || message.named() || callOperatorOnStart)
        return false;
    return std::all_of(actions.begin(), actions.end(), [](const Action& a) { return a.kind == Action::Kind::None; });
}

const Menu* CallFlow::menu(int number) const {
    if (number < 0 || number >= static_cast<int>(menus.size()))
        return nullptr;
    const Menu& m = menus[static_cast<std::size_t>(number)];
    return m.exists ? &m : nullptr;
}

bool CallFlow::mailboxExists(int position) const {
    return position >= 0 && position < static_cast<int>(mailboxes.size()) &&
           mailboxes[static_cast<std::size_t>(position)].exists;
}

bool CallFlow::operatorExists(int line) const {
    if (line == 0)
        return std::find(operatorLines.begin(), operatorLines.end(), true) != operatorLines.end();
    return line >= 1 && line <= static_cast<int>(operatorLines.size()) &&
           operatorLines[static_cast<std::size_t>(line - 1)];
}

CallFlow readCallFlow(SettingsDatabase& db, std::optional<unsigned long long> freeSpaceBytes) {
    CallFlow f;
    f.unitName = db.currentConfig.name;
    f.lineCount = db.currentConfig.lines;
    f.menuCount = db.currentConfig.menus;
    f.mailboxCount = db.currentConfig.mailboxes;
    f.messagesFolder = db.messagesFolder;
    f.freeSpaceBytes = freeSpaceBytes;
    f.setupPassword = fieldText(db.findObject("SYSPARAM"), "Password");

    KT_TABLE* trks = db.findObject("TRKS");
    for (int i = 1; i <= f.lineCount; ++i) {
        KT_TABLE* t = db.findObject("TRK(" + std::to_string(i) + ")");
        Line l;
        l.number = i;
        l.exists = shown(t, trks);
        l.dayMenu = toInt(fieldText(t, "DayMenu"));
        l.nightMenu = toInt(fieldText(t, "NightMenu"));
        l.holidayMenu = toInt(fieldText(t, "HolidayMenu"));
        f.lines.push_back(l);
    }
    KT_TABLE* slps = db.findObject("SLPS");
    for (int i = 1; i <= f.lineCount; ++i)
        f.operatorLines.push_back(shown(db.findObject("SLP(" + std::to_string(i) + ")"), slps));

    KT_TABLE* menus = db.findObject("MENUS");
    for (int k = 0; k < f.menuCount; ++k) {
        Menu m;
        m.number = k;
        m.objectName = "MENU(" + std::to_string(k) + ")";
        KT_TABLE* t = db.findObject(m.objectName);
        m.exists = shown(t, menus);
        if (t) {
            if (KT_RECORD* d = t->findChild("Desc"))
                m.description = d->getEditText();
            m.message.fileName = fieldText(t, "Message");
            m.message.path = menuMessageFolder(db.messagesFolder, *t) + m.message.fileName;
            m.callOperatorOnStart = toInt(fieldText(t, "CallSLPOnStart")) != 0;
            m.operatorOnStart = toInt(fieldText(t, "SLPIndex"));
            for (int e = 0; e < kEventCount; ++e)
                m.actions[static_cast<std::size_t>(e)] = actionOf(t->findChild(eventKey(e)));
            if (m.exists)
                probeMessage(m.message);
        }
        f.menus.push_back(std::move(m));
    }

    KT_TABLE* boxes = db.findObject("MAILBOXES");
    for (int i = 0; i < f.mailboxCount; ++i) {
        Mailbox b;
        b.position = i;
        b.objectName = "MAILBOX(" + std::to_string(i + 1) + ")";
        KT_TABLE* t = db.findObject(b.objectName);
        b.exists = shown(t, boxes);
        b.password = fieldText(t, "Password");
        f.mailboxes.push_back(b);
    }

    KT_TABLE* tt = db.findObject("TIMETABLE");
    for (int d = 1; d <= 7; ++d) {
        WorkingDay& w = f.timetable.days[static_cast<std::size_t>(d - 1)];
        w.start = minutesOf(fieldText(tt, "DayStart[" + std::to_string(d) + "]"), 0);
        w.end = minutesOf(fieldText(tt, "DayEnd[" + std::to_string(d) + "]"), 23 * 60 + 59);
    }
    for (int h = 0; h < 10; ++h) {
        Holiday& hd = f.timetable.holidays[static_cast<std::size_t>(h)];
        hd.index = h;
        hd.used = toInt(fieldText(tt, "UseHoliday[" + std::to_string(h) + "]")) != 0;
        const std::string s = fieldText(tt, "HolidayStart[" + std::to_string(h) + "]");
        const std::string e = fieldText(tt, "HolidayEnd[" + std::to_string(h) + "]");
        if (s.size() == 4) {
            hd.startDay = toInt(s.substr(0, 2), 1);
            hd.startMonth = toInt(s.substr(2, 2), 1);
        }
        if (e.size() == 4) {
            hd.endDay = toInt(e.substr(0, 2), 1);
            hd.endMonth = toInt(e.substr(2, 2), 1);
        }
    }
    return f;
}

std::vector<Edge> flowEdges(const CallFlow& flow) {
    std::vector<Edge> edges;
    for (const Line& l : flow.lines) {
        if (!l.exists)
            continue;
        const std::pair<Edge::Kind, int> entries[] = {{Edge::Kind::LineDay, l.dayMenu},
                                                      {Edge::Kind::LineNight, l.nightMenu},
                                                      {Edge::Kind::LineHoliday, l.holidayMenu}};
        for (const auto& [kind, menu] : entries) {
            Edge e;
            e.kind = kind;
            e.fromLine = l.number;
            e.action.kind = Action::Kind::ToMenu;
            e.action.menu = menu;
            edges.push_back(e);
        }
    }
    for (const Menu& m : flow.menus) {
        if (!m.exists)
            continue;
        for (int ev = 0; ev < kEventCount; ++ev) {
            const Action& a = m.actions[static_cast<std::size_t>(ev)];
            if (a.kind == Action::Kind::None)
                continue;
            Edge e;
            e.fromMenu = m.number;
            e.event = ev;
            e.action = a;
            edges.push_back(e);
            if (a.kind == Action::Kind::ToOperator) {
                e.kind = Edge::Kind::OperatorNoAnswer;
                edges.push_back(e);
            }
        }
    }
    return edges;
}

std::vector<bool> reachableMenus(const CallFlow& flow) {
    int top = static_cast<int>(flow.menus.size());
    auto grow = [&](int menu) { top = std::max(top, menu + 1); };
    for (const Line& l : flow.lines) {
        grow(l.dayMenu);
        grow(l.nightMenu);
        grow(l.holidayMenu);
    }
    for (const Menu& m : flow.menus)
        for (const Action& a : m.actions)
            if (a.kind == Action::Kind::ToMenu || a.kind == Action::Kind::ToOperator)
                grow(a.menu);
    std::vector<bool> seen(static_cast<std::size_t>(top), false);
    std::deque<int> todo;
    auto visit = [&](int menu) {
        if (menu >= 0 && menu < top && !seen[static_cast<std::size_t>(menu)]) {
            seen[static_cast<std::size_t>(menu)] = true;
            todo.push_back(menu);
        }
    };
    for (const Line& l : flow.lines)
        if (l.exists) {
            visit(l.dayMenu);
            visit(l.nightMenu);
            visit(l.holidayMenu);
        }
    while (!todo.empty()) {
        const int k = todo.front();
        todo.pop_front();
        // A menu that does not exist leads nowhere: the call stops there.
        const Menu* m = flow.menu(k);
        if (!m)
            continue;
        for (const Action& a : m->actions)
            if (a.kind == Action::Kind::ToMenu || a.kind == Action::Kind::ToOperator)
                visit(a.menu);
    }
    return seen;
}

std::string describeAction(const Action& a) {
    switch (a.kind) {
    case Action::Kind::None:
        return "действие не задано";
    case Action::Kind::ToMenu:
        return "переход в меню " + std::to_string(a.menu);
    case Action::Kind::ToOperator:
        return std::string("Вызов переведён на ") +
               (a.operatorLine == 0 ? std::string("всех операторов")
                                    : "оператора линии " + std::to_string(a.operatorLine)) +
               ", ждать " + std::to_string(a.waitSeconds) + " с, затем меню " + std::to_string(a.menu);
    case Action::Kind::Mailbox:
        return "Сообщение в ящик " + std::to_string(a.mailbox + 1);
    case Action::Kind::Back:
        return "возврат к предыдущему меню";
    }
    return {};
}

} // namespace flow

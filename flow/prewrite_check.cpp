#include "flow/prewrite_check.h"

#include "flow/answering_menu.h"
#include "flow/message_fit.h"
#include "flow/message_probe.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <bitset>
#include <cstdio>
#include <functional>

namespace flow {
namespace {

const char* const kDayNames[7] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресенье"};

std::string hhmm(int minutes) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", (minutes / 60) % 100, minutes % 60);
    return buf;
}

std::string ddmm(int day, int month) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d.%02d", day % 100, month % 100);
    return buf;
}

// Day of the leap year 2000 (0..365) of a day and month.
int dayOfYear(int month, int day) {
    static const int before[] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
    return before[std::clamp(month, 1, 12) - 1] + day - 1;
}

std::bitset<366> daysOf(const Holiday& h) {
    std::bitset<366> days;
    const int s = dayOfYear(h.startMonth, h.startDay), e = dayOfYear(h.endMonth, h.endDay);
    if (s <= e) {
        for (int d = s; d <= e; ++d)
            days.set(static_cast<std::size_t>(d));
    } else {
        for (int d = s; d < 366; ++d)
            days.set(static_cast<std::size_t>(d));
        for (int d = 0; d <= e; ++d)
            days.set(static_cast<std::size_t>(d));
    }
    return days;
}

// The largest difference of loudness between two menus' recordings that a caller takes in stride.
constexpr double kMaxLevelSpreadLu = 6.0;

class Checker {
public:
    explicit Checker(const CallFlow& f) : flow(f), reachable(reachableMenus(f)) {}

    std::vector<Finding> run() {
        checkSysParam();
        checkLines();
        checkMenus();
        checkLoops();
        checkTimetable();
        checkMailboxes();
        checkMemory();
        checkLevels();
        std::stable_sort(out.begin(), out.end(), [](const Finding& a, const Finding& b) { return a.grade < b.grade; });
        return out;
    }

private:
    const CallFlow& flow;
    std::vector<bool> reachable;
    std::vector<Finding> out;

    void add(Grade g, std::string object, std::string key, std::string text, int menu = -1) {
        out.push_back(Finding{g, std::move(object), std::move(key), std::move(text), menu});
    }

    bool isReachable(int menu) const {
        return menu >= 0 && menu < static_cast<int>(reachable.size()) && reachable[static_cast<std::size_t>(menu)];
    }

    // Why a menu number leads nowhere in this unit type.
    std::string missingMenu(int number) const {
        if (number >= flow.menuCount)
            return "меню " + std::to_string(number) + " нет: у " + flow.unitName + " меню с 0 по " +
                   std::to_string(flow.menuCount - 1);
        return "меню " + std::to_string(number) + " скрыто в этом типе устройства";
    }
    std::string missingOperator(int line) const {
        if (line > flow.lineCount)
            return "оператора линии " + std::to_string(line) + " нет: у " + flow.unitName + " линий " +
                   std::to_string(flow.lineCount);
        if (line == 0)
            return "у этого типа устройства нет ни одной линии оператора";
        return "оператор линии " + std::to_string(line) + " скрыт в этом типе устройства";
    }
    std::string missingMailbox(int position) const {
        if (position >= flow.mailboxCount)
            return "ящика " + std::to_string(position + 1) + " нет: у " + flow.unitName + " ящиков " +
                   std::to_string(flow.mailboxCount);
        return "ящик " + std::to_string(position + 1) + " скрыт в этом типе устройства";
    }

    void checkSysParam() {
        if (flow.setupPassword == "7316")
            add(Grade::Note, "SYSPARAM", "Password",
                "Пароль настройки заводской (7316): любой, кто его знает, может перенастроить устройство по "
                "линии. Задайте свой пароль.");
    }

    void checkLines() {
        for (const Line& l : flow.lines) {
            if (!l.exists)
                continue;
            const std::string obj = "TRK(" + std::to_string(l.number) + ")";
            const std::tuple<const char*, const char*, int> fields[] = {
                {"DayMenu", "Дневное меню", l.dayMenu},
                {"NightMenu", "Ночное меню", l.nightMenu},
                {"HolidayMenu", "Праздничное меню", l.holidayMenu}};
            for (const auto& [key, caption, menu] : fields)
                if (!flow.menu(menu))
                    add(Grade::Error, obj, key,
                        std::string(caption) + " линии " + std::to_string(l.number) + ": " + missingMenu(menu) +
                            ". Выберите существующее меню.",
                        menu);
        }
    }

    void checkMenus() {
        // Menus that a line enters directly, and menus that some other menu leads to.
        std::vector<bool> entry(flow.menus.size()), ledTo(flow.menus.size());
        for (const Line& l : flow.lines)
            if (l.exists)
                for (int k : {l.dayMenu, l.nightMenu, l.holidayMenu})
                    if (k >= 0 && k < static_cast<int>(entry.size()))
                        entry[static_cast<std::size_t>(k)] = true;
        for (const Menu& m : flow.menus)
            if (m.exists && isReachable(m.number))
                for (const Action& a : m.actions)
                    if ((a.kind == Action::Kind::ToMenu || a.kind == Action::Kind::ToOperator) && a.menu != m.number &&
                        a.menu >= 0 && a.menu < static_cast<int>(ledTo.size()))
                        ledTo[static_cast<std::size_t>(a.menu)] = true;

        for (const Menu& m : flow.menus) {
            if (!m.exists)
                continue;
            const bool reached = isReachable(m.number);
            const std::string& obj = m.objectName;
            const std::string name = "Меню " + std::to_string(m.number);
            // A menu nobody reaches harms no caller: worth a word, not a stop before the write.
            if (!reached && !m.isBlank())
                add(Grade::Note, obj, "",
                    name + " заполнено, но ни одна линия и ни одно действие к нему не ведут: звонящий его не "
                           "услышит. Назначьте его линии или действию другого меню либо очистите.",
                    m.number);

            if (m.message.named() && !m.message.decodable) {
                add(reached ? Grade::Error : Grade::Note, obj, "Message",
                    name + ": файл сообщения «" + m.message.fileName + "» — " + m.message.problem +
                        ". Выберите файл заново в редакторе меню (" + m.message.path + ").",
                    m.number);
            } else if (!m.message.named() && reached) {
                add(Grade::Warning, obj, "Message",
                    name + " звучит у звонящего, но сообщение не записано: он услышит тишину. Выберите файл "
                           "сообщения.",
                    m.number);
            } else if (m.message.decodable && m.message.seconds < 0.5 && reached) {
                add(Grade::Note, obj, "Message",
                    name + ": сообщение короче полусекунды (" + oneDecimal(m.message.seconds) +
                        " с). Проверьте, та ли это запись.",
                    m.number);
            }

            if (m.callOperatorOnStart && !flow.operatorExists(m.operatorOnStart))
                add(Grade::Error, obj, "SLPIndex",
                    name + ": звонок на оператора во время сообщения — " + missingOperator(m.operatorOnStart) +
                        ". Выберите существующего оператора.",
                    m.number);

            bool anyAction = m.callOperatorOnStart;
            for (int ev = 0; ev < kEventCount; ++ev) {
                const Action& a = m.actions[static_cast<std::size_t>(ev)];
                const std::string key = eventKey(ev);
                const std::string what = name + ", " + (ev == kTimeoutEvent ? "таймаут" : "цифра " + eventName(ev));
                if (a.kind != Action::Kind::None)
                    anyAction = true;
                switch (a.kind) {
                case Action::Kind::ToMenu:
                    if (!flow.menu(a.menu))
                        add(Grade::Error, obj, key,
                            what + ": переход, но " + missingMenu(a.menu) + ". Выберите существующее меню.", m.number);
                    break;
                case Action::Kind::ToOperator:
                    if (!flow.operatorExists(a.operatorLine))
                        add(Grade::Error, obj, key,
                            what + ": звонок на оператора — " + missingOperator(a.operatorLine) +
                                ". Выберите существующего оператора.",
                            m.number);
                    if (!flow.menu(a.menu))
                        add(Grade::Error, obj, key,
                            what + ": если оператор не ответит — " + missingMenu(a.menu) +
                                ". Выберите существующее меню.",
                            m.number);
                    if (a.menu == m.number && a.waitSeconds == 0)
                        add(Grade::Warning, obj, key,
                            what + ": оператору дано 0 с, а без ответа вызов возвращается в это же меню — "
                                   "звонящий будет слушать его снова и снова. Задайте время ожидания.",
                            m.number);
                    else if (a.waitSeconds == 0)
                        add(Grade::Note, obj, key,
                            what + ": оператору дано 0 с на ответ, вызов сразу уйдёт в меню " + std::to_string(a.menu) +
                                ". Задайте время ожидания.",
                            m.number);
                    break;
                case Action::Kind::Mailbox:
                    if (!flow.mailboxExists(a.mailbox))
                        add(Grade::Error, obj, key,
                            what + ": сообщение в ящик — " + missingMailbox(a.mailbox) +
                                ". Выберите существующий ящик.",
                            m.number);
                    break;
                case Action::Kind::Back:
                    if (reached && static_cast<std::size_t>(m.number) < entry.size() &&
                        entry[static_cast<std::size_t>(m.number)] && !ledTo[static_cast<std::size_t>(m.number)])
                        add(Grade::Note, obj, key,
                            what + ": возврат к предыдущему меню, но в это меню вызов приходит прямо с линии — "
                                   "предыдущего меню нет. Задайте переход в нужное меню.",
                            m.number);
                    break;
                case Action::Kind::None:
                    break;
                }
            }
            if (reached && !anyAction)
                add(Grade::Note, obj, "ActionTO",
                    name + ": ни цифры, ни таймаут ничего не делают — после сообщения звонящему остаётся только "
                           "положить трубку. Если так задумано, всё в порядке.",
                    m.number);
        }
    }

    // Menus the call moves between (the operator's fall-back included) and whether a menu itself lets the
    // caller out: a call to an operator, a mailbox, a return to the previous menu.
    std::vector<int> next(const Menu& m) const {
        std::vector<int> n;
        for (const Action& a : m.actions)
            if ((a.kind == Action::Kind::ToMenu || a.kind == Action::Kind::ToOperator) && flow.menu(a.menu))
                n.push_back(a.menu);
        return n;
    }
    bool letsOut(const Menu& m) const {
        if (m.callOperatorOnStart && flow.operatorExists(m.operatorOnStart))
            return true;
        for (const Action& a : m.actions)
            if ((a.kind == Action::Kind::ToOperator && flow.operatorExists(a.operatorLine)) ||
                (a.kind == Action::Kind::Mailbox && flow.mailboxExists(a.mailbox)) || a.kind == Action::Kind::Back)
                return true;
        return false;
    }

    void checkLoops() {
        const int n = static_cast<int>(flow.menus.size());
        // Strongly connected groups of menus (Tarjan), iteratively so fifty menus in a chain cannot overflow.
        std::vector<int> index(n, -1), low(n, 0), comp(n, -1);
        std::vector<bool> onStack(n, false);
        std::vector<int> stack;
        int counter = 0, comps = 0;
        for (int s = 0; s < n; ++s) {
            if (!flow.menu(s) || index[s] >= 0)
                continue;
            std::vector<std::pair<int, std::size_t>> work{{s, 0}};
            while (!work.empty()) {
                auto& [v, i] = work.back();
                if (i == 0 && index[v] < 0) {
                    index[v] = low[v] = counter++;
                    stack.push_back(v);
                    onStack[v] = true;
                }
                const auto succ = next(flow.menus[static_cast<std::size_t>(v)]);
                if (i < succ.size()) {
                    const int w = succ[i++];
                    if (index[w] < 0)
                        work.push_back({w, 0});
                    else if (onStack[w])
                        low[v] = std::min(low[v], index[w]);
                    continue;
                }
                if (low[v] == index[v]) {
                    int w;
                    do {
                        w = stack.back();
                        stack.pop_back();
                        onStack[w] = false;
                        comp[w] = comps;
                    } while (w != v);
                    ++comps;
                }
                const int done = v;
                work.pop_back();
                if (!work.empty())
                    low[work.back().first] = std::min(low[work.back().first], low[done]);
            }
        }
        // Can a caller in this menu reach a way out? Fixed point over the menus.
        std::vector<bool> exits(n, false);
        for (int k = 0; k < n; ++k)
            if (flow.menu(k))
                exits[k] = letsOut(flow.menus[static_cast<std::size_t>(k)]);
        for (bool changed = true; changed;) {
            changed = false;
            for (int k = 0; k < n; ++k)
                if (flow.menu(k) && !exits[k])
                    for (int w : next(flow.menus[static_cast<std::size_t>(k)]))
                        if (exits[w]) {
                            exits[k] = changed = true;
                            break;
                        }
        }
        std::vector<bool> reported(comps, false);
        for (int k = 0; k < n; ++k) {
            if (!flow.menu(k) || exits[k] || !isReachable(k) || reported[comp[k]])
                continue;
            std::vector<int> members;
            for (int j = 0; j < n; ++j)
                if (comp[j] == comp[k])
                    members.push_back(j);
            const auto succ = next(flow.menus[static_cast<std::size_t>(k)]);
            const bool cycle = members.size() > 1 || std::find(succ.begin(), succ.end(), k) != succ.end();
            if (!cycle)
                continue;
            reported[comp[k]] = true;
            std::string path;
            for (int j : members)
                path += (path.empty() ? "" : ", ") + std::to_string(j);
            add(Grade::Warning, flow.menus[static_cast<std::size_t>(k)].objectName, "ActionTO",
                "Вызов ходит по кругу через меню " + path +
                    ": ни оператора, ни ящика, ни возврата — выйти из них можно, только положив "
                    "трубку. Добавьте в одно из них звонок на оператора, сообщение в ящик или возврат.",
                k);
        }
    }

    void checkTimetable() {
        for (int d = 0; d < 7; ++d) {
            const WorkingDay& w = flow.timetable.days[static_cast<std::size_t>(d)];
            if (w.end < w.start)
                add(Grade::Warning, "TIMETABLE", "DayEnd[" + std::to_string(d + 1) + "]",
                    std::string(kDayNames[d]) + ": конец рабочего дня (" + hhmm(w.end) + ") раньше начала (" +
                        hhmm(w.start) + ") — рабочих часов нет, весь день отвечает ночное меню. Поправьте время.");
        }
        const auto& hs = flow.timetable.holidays;
        for (const Holiday& h : hs) {
            if (!h.used)
                continue;
            const std::string range = "с " + ddmm(h.startDay, h.startMonth) + " по " + ddmm(h.endDay, h.endMonth);
            const std::string name = "Праздник[" + std::to_string(h.index) + "]";
            const int s = dayOfYear(h.startMonth, h.startDay), e = dayOfYear(h.endMonth, h.endDay);
            if (e < s) {
                const int length = 366 - s + e + 1;
                if (length > 62)
                    add(Grade::Warning, "TIMETABLE", "HolidayEnd[" + std::to_string(h.index) + "]",
                        name + " " + range + ": конец раньше начала, праздник идёт через Новый год и длится " +
                            std::to_string(length) + " дней. Похоже, даты перепутаны — поправьте их.");
                else
                    add(Grade::Note, "TIMETABLE", "HolidayEnd[" + std::to_string(h.index) + "]",
                        name + " " + range + " переходит через Новый год: действует с " +
                            ddmm(h.startDay, h.startMonth) + " по 31.12 и с 01.01 по " + ddmm(h.endDay, h.endMonth) +
                            ". Если так задумано, всё в порядке.");
            }
            if (h.startDay == 29 && h.startMonth == 2 && h.endDay == 29 && h.endMonth == 2)
                add(Grade::Note, "TIMETABLE", "HolidayStart[" + std::to_string(h.index) + "]",
                    name + " приходится на 29.02 и наступает только в високосные годы. Проверьте дату.");
        }
        for (std::size_t i = 0; i < hs.size(); ++i)
            for (std::size_t j = i + 1; j < hs.size(); ++j)
                if (hs[i].used && hs[j].used && (daysOf(hs[i]) & daysOf(hs[j])).any())
                    add(Grade::Note, "TIMETABLE", "HolidayStart[" + std::to_string(hs[j].index) + "]",
                        "Праздник[" + std::to_string(hs[i].index) + "] и Праздник[" + std::to_string(hs[j].index) +
                            "] пересекаются (" + ddmm(hs[i].startDay, hs[i].startMonth) + "–" +
                            ddmm(hs[i].endDay, hs[i].endMonth) + " и " + ddmm(hs[j].startDay, hs[j].startMonth) + "–" +
                            ddmm(hs[j].endDay, hs[j].endMonth) + "). Объедините их или поправьте даты.");
    }

    void checkMailboxes() {
        std::vector<bool> used(flow.mailboxes.size(), false);
        for (const Menu& m : flow.menus)
            if (m.exists && isReachable(m.number))
                for (const Action& a : m.actions)
                    if (a.kind == Action::Kind::Mailbox && flow.mailboxExists(a.mailbox))
                        used[static_cast<std::size_t>(a.mailbox)] = true;
        for (const Mailbox& b : flow.mailboxes) {
            if (!b.exists)
                continue;
            const std::string name = "Ящик " + std::to_string(b.position + 1);
            if (!b.password.empty() && b.password == flow.setupPassword)
                add(Grade::Warning, b.objectName, "Pwd",
                    name + ": пароль ящика совпадает с паролем настройки — кто слушает ящик, тот может и "
                           "перенастроить устройство. Задайте другой пароль.");
            else if (b.password == "00" && used[static_cast<std::size_t>(b.position)])
                add(Grade::Note, b.objectName, "Pwd",
                    name + " принимает сообщения, а пароль у него заводской (00). Задайте свой пароль.");
        }
    }

    // Levels, where they were measured. A caller going from menu to menu hears the difference of their
    // loudness at once; beyond 6 LU one of them is either strained to hear or too loud. A clipped recording
    // crackles on the line, and the unit's coding makes it worse.
    void checkLevels() {
        // The level the menus keep to is their median, not the loudest: one over-loud recording is the one to
        // mend, not every other one. With an even count the louder of the middle two, so that of two menus the
        // quieter is the one named.
        std::vector<const Menu*> measured;
        for (const Menu& m : flow.menus)
            if (m.exists && m.message.levelMeasured)
                measured.push_back(&m);
        if (measured.empty())
            return;
        std::stable_sort(measured.begin(), measured.end(), [](const Menu* a, const Menu* b) {
            return a->message.loudnessLufs > b->message.loudnessLufs;
        });
        std::size_t middle = (measured.size() - 1) / 2;
        // Of menus equally loud, the first in the tree is the one named.
        while (middle > 0 && measured[middle - 1]->message.loudnessLufs == measured[middle]->message.loudnessLufs)
            --middle;
        const Menu& usual = *measured[middle];
        for (const Menu* menu : measured) {
            const Menu& m = *menu;
            const std::string name = "Меню " + std::to_string(m.number);
            const double apart = usual.message.loudnessLufs - m.message.loudnessLufs;
            const std::string levels = " на " + oneDecimal(std::abs(apart)) + " LU (" +
                                       oneDecimal(m.message.loudnessLufs) + " и " +
                                       oneDecimal(usual.message.loudnessLufs) + " LUFS)";
            if (apart > kMaxLevelSpreadLu)
                add(Grade::Warning, m.objectName, "Message",
                    name + ": сообщение тише сообщения меню " + std::to_string(usual.number) + levels +
                        ": звонящий будет прислушиваться. Выровняйте громкость сообщений в редакторе меню.",
                    m.number);
            else if (-apart > kMaxLevelSpreadLu)
                add(Grade::Warning, m.objectName, "Message",
                    name + ": сообщение громче сообщения меню " + std::to_string(usual.number) + levels +
                        ": после тихих меню оно оглушит звонящего. Выровняйте громкость сообщений в редакторе "
                        "меню.",
                    m.number);
            if (m.message.truePeakDbtp > 0.0)
                add(Grade::Warning, m.objectName, "Message",
                    name + ": сообщение перегружено (пик +" + oneDecimal(m.message.truePeakDbtp) +
                        " dBTP): звонящий услышит треск. Выровняйте громкость в редакторе меню.",
                    m.number);
        }
    }

    void checkMemory() {
        const MessagesFit fit = messagesFit(flow);
        if (!fit.questionable())
            return;
        const std::string whole = "Сообщения вместе (" + oneDecimal(fit.seconds) + " с, " +
                                  std::to_string(fit.sendBytes) + " байт в устройстве)";
        const std::string room =
            std::to_string(*fit.freeBytes) + " байт свободно по последнему чтению" +
            (fit.freedBytes > 0 ? ", ещё " + std::to_string(fit.freedBytes) + " байт освободят заменяемые записи"
                                : std::string());
        if (fit.verdict == MessagesFit::Verdict::DoesNotFit)
            add(Grade::Warning, "DEVICEINFO", "FreeSpaceBytes",
                whole + " не помещаются в память устройства (" + room + "). Укоротите или уберите часть сообщений.");
        else
            add(Grade::Warning, "DEVICEINFO", "FreeSpaceBytes",
                whole + " на " + std::to_string(fit.shortBytes()) + " байт больше, чем есть места (" + room +
                    "). Сколько места освободят записи меню " + menuList(fit.unknownMenus) +
                    ", уже лежащие в устройстве, неизвестно: прочитайте эти меню из устройства, чтобы узнать, "
                    "поместятся ли сообщения.");
    }
};

} // namespace

std::string gradeName(Grade g) {
    switch (g) {
    case Grade::Error:
        return "ошибка";
    case Grade::Warning:
        return "предупреждение";
    case Grade::Note:
        return "замечание";
    }
    return {};
}

std::vector<Finding> checkCallFlow(const CallFlow& flow) { return Checker(flow).run(); }

bool hasErrors(const std::vector<Finding>& findings) { return countGrade(findings, Grade::Error) > 0; }

int countGrade(const std::vector<Finding>& findings, Grade g) {
    return static_cast<int>(
        std::count_if(findings.begin(), findings.end(), [g](const Finding& f) { return f.grade == g; }));
}

} // namespace flow

#include "flow/answering_menu.h"

#include <cstdio>
#include <ctime>

namespace flow {

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool isValidDate(int y, int m, int d) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    const int len = lengths[m - 1] + (m == 2 && isLeapYear(y) ? 1 : 0);
    return d <= len;
}

int weekdayOf(int y, int m, int d) {
    // Sakamoto's method gives 0 = Sunday.
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3)
        y -= 1;
    const int w = (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
    return w == 0 ? 7 : w;
}

std::optional<CallTime> parseCallTime(const std::string& text) {
    CallTime t;
    char tail = 0;
    int n = 0;
    if (text.size() == 10) {
        n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &t.year, &t.month, &t.day, &tail);
        if (n != 3 || text[4] != '-' || text[7] != '-')
            return std::nullopt;
    } else if (text.size() == 16) {
        n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &t.year, &t.month, &t.day, &t.hour, &t.minute, &tail);
        if (n != 5 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':')
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    for (char c : text)
        if (c != '-' && c != ' ' && c != ':' && (c < '0' || c > '9'))
            return std::nullopt;
    if (!isValidDate(t.year, t.month, t.day) || t.hour > 23 || t.minute > 59 || t.hour < 0 || t.minute < 0)
        return std::nullopt;
    return t;
}

std::string formatCallTime(const CallTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year % 10000, t.month % 100, t.day % 100, t.hour % 100,
                  t.minute % 100);
    return buf;
}

CallTime callTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return CallTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

std::string periodName(Period p) {
    switch (p) {
    case Period::Day:
        return "день";
    case Period::Night:
        return "ночь";
    case Period::Holiday:
        return "праздник";
    }
    return {};
}

bool holidayCovers(const Holiday& h, int year, int month, int day) {
    (void)year;
    const int start = h.startMonth * 100 + h.startDay;
    const int end = h.endMonth * 100 + h.endDay;
    const int date = month * 100 + day;
    if (start <= end)
        return start <= date && date <= end;
    return date >= start || date <= end; // over the new year
}

Answer periodAt(const Timetable& tt, const CallTime& at) {
    Answer a;
    for (const Holiday& h : tt.holidays)
        if (h.used && holidayCovers(h, at.year, at.month, at.day)) {
            a.period = Period::Holiday;
            a.holiday = h.index;
            return a;
        }
    const WorkingDay& w = tt.days[static_cast<std::size_t>(weekdayOf(at.year, at.month, at.day) - 1)];
    const int minute = at.hour * 60 + at.minute;
    a.period = w.start <= minute && minute <= w.end ? Period::Day : Period::Night;
    return a;
}

std::optional<Answer> answeringMenu(const CallFlow& flow, int line, const CallTime& at) {
    if (line < 1 || line > static_cast<int>(flow.lines.size()) ||
        !flow.lines[static_cast<std::size_t>(line - 1)].exists)
        return std::nullopt;
    const Line& l = flow.lines[static_cast<std::size_t>(line - 1)];
    Answer a = periodAt(flow.timetable, at);
    a.menu = a.period == Period::Day ? l.dayMenu : a.period == Period::Night ? l.nightMenu : l.holidayMenu;
    return a;
}

} // namespace flow

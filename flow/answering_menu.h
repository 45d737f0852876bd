// Which menu answers a trunk line at a date and time.
//
// The timetable's rules, as this program reads them:
// - A holiday in use covers every date from its first to its last day, both included, the whole day long.
// When
//   its last day comes before its first in the calendar (25.12 to 08.01), the holiday runs over the new year:
//   it covers the first day to 31.12 and 01.01 to the last day of every year. A holiday on 29.02 exists only
//   in leap years.
// - Otherwise the weekday's working hours decide: from DayStart to DayEnd, both minutes included (the default
//   00:00 to 23:59 is the whole day). A working day is one day: hours never run over midnight into the next
//   day, so a day whose end comes before its start has no working hours and answers with the night menu all
//   day long (the check warns about such a day).
// - Every other time of day is night.
#pragma once

#include "flow/call_flow.h"

#include <optional>
#include <string>

namespace flow {

struct CallTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0;
};

// "YYYY-MM-DD HH:MM" (or "YYYY-MM-DD", meaning 00:00); nullopt for anything else, impossible dates included.
std::optional<CallTime> parseCallTime(const std::string& text);
std::string formatCallTime(const CallTime& t);
// The computer's local time now.
CallTime callTimeNow();

// 1 = Monday ... 7 = Sunday.
int weekdayOf(int year, int month, int day);
bool isLeapYear(int year);
bool isValidDate(int year, int month, int day);

enum class Period { Day, Night, Holiday };
// "день", "ночь", "праздник".
std::string periodName(Period p);

// True when the holiday (whether in use or not) covers that date.
bool holidayCovers(const Holiday& holiday, int year, int month, int day);

struct Answer {
    Period period = Period::Night;
    int holiday = -1; // the holiday that decided, or -1
    int menu = 0;     // the line's menu for the period
};

// The period at that time by the timetable alone.
Answer periodAt(const Timetable& timetable, const CallTime& at);
// The menu that answers the line (1..L) at that time; nullopt when the line does not exist.
std::optional<Answer> answeringMenu(const CallFlow& flow, int line, const CallTime& at);

} // namespace flow

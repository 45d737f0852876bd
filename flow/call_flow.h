// The call flow of a settings database as plain data: what each trunk line enters, what each menu plays and
// does on every digit and on time-out, the timetable, and what the checks need beside it (passwords, the
// unit's free memory, the messages folder). Everything the check, the trial call and the picture work on is
// copied out of the database once, so they neither touch the model's tables nor depend on its lifetime.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

class SettingsDatabase;

namespace flow {

// What a menu does for one event.
struct Action {
    enum class Kind { None, ToMenu, ToOperator, Mailbox, Back };
    Kind kind = Kind::None;
    int menu = 0;         // ToMenu: the menu number; ToOperator: the menu taken when nobody answers
    int operatorLine = 0; // ToOperator: 0 = all operators, k = operator line k
    int waitSeconds = 0;  // ToOperator
    int mailbox = 0;      // Mailbox: zero-based position in the list of mailboxes
};

// Events in the order of the menu's action fields: time-out, then the digits 1..9, then 0.
inline constexpr int kEventCount = 11;
inline constexpr int kTimeoutEvent = 0;
// The event index of a digit 0..9.
inline constexpr int eventOfDigit(int digit) { return digit == 0 ? 10 : digit; }
// The settings key of an event ("ActionTO", "ActionDTMF[3]").
std::string eventKey(int event);
// The caller's name of an event ("таймаут", "1" ... "0").
std::string eventName(int event);
// The short label of an event on an arrow ("T", "1" ... "0").
std::string eventLabel(int event);
// A number of seconds or decibels as the technician reads it: one decimal, with a decimal comma ("2,5").
std::string oneDecimal(double value);

// The recorded message of a menu as found in the messages folder.
struct Message {
    std::string fileName; // "-" or empty: none recorded
    std::string path;     // where the file should be
    bool named() const { return !fileName.empty() && fileName != "-"; }
    bool exists = false;
    bool readable = false;  // opened and its header understood
    bool decodable = false; // a layout the sound conversion takes (PCM, 8 or 16 bits, mono or stereo)
    double seconds = 0;     // duration, 0 when unknown
    std::string problem;    // why it is not usable, in Russian
    // What the unit holds for this menu as last heard from it in this session: 0 = no recording, else its
    // size in bytes; nullopt when not known. The database does not know it: whoever talks to the unit fills it
    // in (the window from its link), readCallFlow leaves it unknown.
    std::optional<unsigned long long> onUnitBytes;
    // Its level, once measured (measureLevels): decoding every recording is too slow for the picture, so only
    // the check before a write and the check on demand measure.
    bool levelMeasured = false;
    double loudnessLufs = 0; // integrated loudness after EBU R128
    double truePeakDbtp = 0;
};

struct Menu {
    int number = 0;
    bool exists = false;    // within the unit's menus and not hidden by the unit type
    std::string objectName; // "MENU(3)"
    std::string description;
    Message message;
    bool callOperatorOnStart = false;
    int operatorOnStart = 0; // 0 = all operators, k = line k
    std::array<Action, kEventCount> actions{};
    // A menu nobody has touched: no description, no message, no action, no operator call.
    bool isBlank() const;
};

struct Line {
    int number = 0; // 1..L
    bool exists = false;
    int dayMenu = 0, nightMenu = 0, holidayMenu = 0;
};

struct Mailbox {
    int position = 0; // zero-based
    bool exists = false;
    std::string objectName; // "MAILBOX(1)"
    std::string password;
};

// Hours and minutes as minutes after midnight.
struct WorkingDay {
    int start = 0;          // DayStart[d]
    int end = 23 * 60 + 59; // DayEnd[d]
};

struct Holiday {
    int index = 0; // 0..9
    bool used = false;
    int startDay = 1, startMonth = 1, endDay = 1, endMonth = 1;
};

struct Timetable {
    std::array<WorkingDay, 7> days{}; // Monday first
    std::array<Holiday, 10> holidays{};
};

struct CallFlow {
    std::string unitName;
    int lineCount = 0, menuCount = 0, mailboxCount = 0;
    std::vector<Line> lines;         // index i = line i+1
    std::vector<Menu> menus;         // index k = menu k, every menu of the unit type (hidden ones too)
    std::vector<Mailbox> mailboxes;  // index i = mailbox position i
    std::vector<bool> operatorLines; // index k-1 = operator line k exists
    Timetable timetable;
    std::string setupPassword;
    // The unit's free memory from the last device information; nullopt when none was read.
    std::optional<unsigned long long> freeSpaceBytes;
    std::string messagesFolder;

    // The menu when it exists in this unit type, else nullptr.
    const Menu* menu(int number) const;
    bool mailboxExists(int position) const;
    // 0 (all operators) exists whenever the unit has an operator line.
    bool operatorExists(int line) const;
};

// Copies the call flow out of the database. The messages' files are looked at (size, header) but not decoded.
// `freeSpaceBytes` is the unit's free memory when a device information was read in this session.
CallFlow readCallFlow(SettingsDatabase& db, std::optional<unsigned long long> freeSpaceBytes = std::nullopt);

// One directed step a call can take.
struct Edge {
    enum class Kind { LineDay, LineNight, LineHoliday, Digit, OperatorNoAnswer };
    Kind kind = Kind::Digit;
    int fromLine = 0;  // the line number for the three line kinds
    int fromMenu = -1; // the menu otherwise
    int event = 0;     // Digit and OperatorNoAnswer: the event index
    Action action;     // what the event does (for the line kinds: ToMenu)
};

// Every step of the flow: each line's three menus, each existing menu's actions that are not "ignore", and
// the fall-back of every operator call. Targets may be menus, operators or mailboxes that do not exist.
std::vector<Edge> flowEdges(const CallFlow& flow);

// The menus a caller can reach from any line (the three menus of each line, then every action and fall-back),
// indexed by menu number over the whole range of menu numbers that occur.
std::vector<bool> reachableMenus(const CallFlow& flow);

// The caller-facing sentence for an action's end ("Вызов переведён на оператора линии 2, ждать 20 с, затем
// меню 5", "Сообщение в ящик 3"); for other kinds a short description.
std::string describeAction(const Action& action);

} // namespace flow

// The check run before the settings go to the unit: what would break a call or the write, in three grades,
// each finding naming the object and the field and saying what to do.
#pragma once

#include "flow/call_flow.h"

#include <string>
#include <vector>

namespace flow {

enum class Grade { Error, Warning, Note };
// "ошибка", "предупреждение", "замечание".
std::string gradeName(Grade g);

struct Finding {
    Grade grade = Grade::Note;
    std::string object; // the settings-file section: "MENU(3)", "TRK(1)", "TIMETABLE", "MAILBOX(2)", "SYSPARAM"
    std::string key;    // the settings-file key, or empty when the finding is about the whole object
    std::string text;   // what is wrong and what to do, in Russian
    int menu = -1;      // the menu the finding is about, for the picture
};

// Findings in grade order (errors first), within a grade in the order of the tree.
std::vector<Finding> checkCallFlow(const CallFlow& flow);

bool hasErrors(const std::vector<Finding>& findings);
int countGrade(const std::vector<Finding>& findings, Grade g);

} // namespace flow

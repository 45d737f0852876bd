// A settings database assembled from the object builders the way a new database is, for tests of the tree.
#pragma once

#include "model/schema.h"

#include <memory>
#include <string>

namespace sample {

struct Base {
    std::unique_ptr<KT_ACTIONS> actions;
    std::unique_ptr<KT_BASE> root;
    KT_TABLE_SYSPARAM* sysparam = nullptr;
    KT_TABLE_TRKS* trks = nullptr;
    KT_TABLE_SLPS* slps = nullptr;
    KT_TABLE_TIMETABLE* timetable = nullptr;
    KT_TABLE_MENUS* menus = nullptr;
    KT_TABLE_MAILBOXES* mailboxes = nullptr;
};

inline Base build(int lines, int menuCount, int boxes, int configId = 29) {
    Base b;
    b.actions = buildActions();
    b.root = buildBase({"KT_BASE", "База настроек: noname.qor", std::to_string(configId), nullptr});
    b.sysparam = b.root->addTable(buildSysParam({"SYSPARAM", "системные параметры", "0", nullptr}));
    b.trks = b.root->addTable(buildTrks({"TRKS", "параметры внешних линий", "1X", nullptr}));
    for (int i = 1; i <= lines; ++i)
        b.trks->addTable(
            buildTrk({"TRK(" + std::to_string(i) + ")", "линия " + std::to_string(i), std::to_string(10 + i), nullptr},
                     menuCount));
    b.slps = b.root->addTable(buildSlps({"SLPS", "параметры операторов", "2X", nullptr}));
    for (int i = 1; i <= lines; ++i)
        b.slps->addTable(buildSlp(
            {"SLP(" + std::to_string(i) + ")", "оператор " + std::to_string(i), std::to_string(20 + i), nullptr}));
    b.timetable = b.root->addTable(buildTimetable({"TIMETABLE", "расписание работы", "3", nullptr}));
    b.menus = b.root->addTable(buildMenus({"MENUS", "голосовые меню", "5XX", nullptr}));
    for (int k = 0; k < menuCount; ++k)
        b.menus->addTable(buildMenu(
            {"MENU(" + std::to_string(k) + ")", "меню " + std::to_string(k), std::to_string(500 + k), nullptr}, lines,
            *b.actions));
    b.mailboxes = b.root->addTable(buildMailboxes({"MAILBOXES", "почтовые ящики", "6X", nullptr}));
    for (int i = 1; i <= boxes; ++i)
        b.mailboxes->addTable(buildMailbox(
            {"MAILBOX(" + std::to_string(i) + ")", "ящик " + std::to_string(i), std::to_string(60 + i), nullptr},
            i - 1));
    return b;
}

} // namespace sample

// The object builders: each makes one object of the settings database with all its fields (key, code,
// description, value kind with limits, default) in their binding order. The order is that of the device text,
// of the keys in the settings file and of the pairing when one menu is copied onto another.
//
// Numbers that depend on the unit configuration (lines, menus, the identifier) are arguments, taken when the
// object is built. A null editor frame gives the host's empty frame.
#pragma once

#include "model/actions.h"
#include "model/host.h"
#include "model/tables.h"

#include <memory>
#include <string>

// The name, caption, object code and editor frame every builder takes.
struct KT_OBJECT_ARGS {
    std::string name;
    std::string caption;
    std::string code;
    host::EditorWindow* frame = nullptr;
};

// Ten system parameters.
std::unique_ptr<KT_TABLE_SYSPARAM> buildSysParam(const KT_OBJECT_ARGS& args);
// A trunk line; its menu fields run 0..menuCount-1.
std::unique_ptr<KT_TABLE_TRK> buildTrk(const KT_OBJECT_ARGS& args, int menuCount);
// An operator line.
std::unique_ptr<KT_TABLE_SLP> buildSlp(const KT_OBJECT_ARGS& args);
// The weekly timetable with ten holidays (44 fields).
std::unique_ptr<KT_TABLE_TIMETABLE> buildTimetable(const KT_OBJECT_ARGS& args);
// A voice menu; its operator line field runs 0..lineCount, its actions start at the kinds table's default.
std::unique_ptr<KT_TABLE_MENU> buildMenu(const KT_OBJECT_ARGS& args, int lineCount, KT_ACTIONS& actions);
// A mailbox with its zero-based index.
std::unique_ptr<KT_TABLE_MAILBOX> buildMailbox(const KT_OBJECT_ARGS& args, int index);
// The unit's device information; "ConfigID" defaults to the configuration identifier.
std::unique_ptr<KT_TABLE_DEVICEINFO> buildDeviceInfo(const KT_OBJECT_ARGS& args, int configId);
// The unit's clock.
std::unique_ptr<KT_TABLE_CLOCK> buildClock(const KT_OBJECT_ARGS& args);

// List objects and the root: no fields of their own.
std::unique_ptr<KT_BASE> buildBase(const KT_OBJECT_ARGS& args);
std::unique_ptr<KT_TABLE_TRKS> buildTrks(const KT_OBJECT_ARGS& args);
std::unique_ptr<KT_TABLE_SLPS> buildSlps(const KT_OBJECT_ARGS& args);
std::unique_ptr<KT_TABLE_MENUS> buildMenus(const KT_OBJECT_ARGS& args);
std::unique_ptr<KT_TABLE_MAILBOXES> buildMailboxes(const KT_OBJECT_ARGS& args);

// The fixed two-digit password of a new mailbox.
inline constexpr const char* kDefaultMailboxPassword = "00";

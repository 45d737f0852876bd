// The file commands of zirezid-cli: they work on settings files alone, without a unit.
#include "cli/commands.h"
#include "cli/options.h"

#include "model/atomic_file.h"
#include "model/compare.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <filesystem>
#include <iostream>
#include <optional>

namespace cli {
namespace {

// "--type NAME" and "--stored" split off the arguments.
struct Options {
    std::optional<std::string> type;
    bool stored = false;
    Args rest;
};

std::optional<int> configIdByName(const std::string& name) {
    for (const auto& row : unitConfigTable)
        if (row.name == name)
            return row.id;
    return std::nullopt;
}

std::string fullPath(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// Parses the options and checks the number of plain arguments; nullopt after reporting wrong usage.
std::optional<Options> prepare(const char* name, const Args& args, std::size_t count, bool allowType, bool allowStored,
                               int& exitCode) {
    std::vector<OptionSpec> allowed;
    if (allowType)
        allowed.push_back({"--type", "тип устройства: QOR11 или QOR22"});
    if (allowStored)
        allowed.push_back({"--stored", nullptr});
    ParsedOptions parsed;
    std::string problem = parseOptions(args, allowed, parsed);
    std::optional<Options> o;
    if (problem.empty())
        o = Options{parsed.value("--type"), parsed.has("--stored"), std::move(parsed.plain)};
    if (o && o->rest.size() != count)
        problem = "expected " + std::to_string(count) + " argument(s)";
    if (o && o->type && !configIdByName(*o->type))
        problem = "unknown unit type " + *o->type + " (QOR11 or QOR22)";
    if (!problem.empty()) {
        exitCode = usageError(*findCommand(name), problem);
        return std::nullopt;
    }
    return o;
}

KT_RECORD* findField(KT_TABLE& object, const std::string& key) { return object.findChild(key); }

int cmdNew(const Args& args) {
    int rc = kOk;
    const auto o = prepare("new", args, 1, true, false, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    db.selectUnitConfig(o->type ? *configIdByName(*o->type) : kDefaultConfigId);
    const std::string path = fullPath(o->rest[0]);
    // A new database over a file another command is changing waits for that command, as an edit does.
    atomic_file::EditLock lock;
    std::string error;
    if (!lock.acquire(path, 20000, &error)) {
        std::cerr << "Файл не изменён: " << error << '\n';
        return kRefused;
    }
    db.buildNewBase(path);
    return db.saveBase(path) ? kOk : kRefused;
}

int cmdCheck(const Args& args) {
    int rc = kOk;
    const auto o = prepare("check", args, 1, false, false, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    // A field out of range is shown and loading goes on with its default: the file is still not good.
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    return db.loadBase(fullPath(o->rest[0])) && h.messageCount == shownBefore ? kOk : kRefused;
}

// Loads the file and finds the object and, when a key is given, its field; reports what is missing.
struct Target {
    KT_TABLE* object = nullptr;
    KT_RECORD* field = nullptr;
};

std::optional<Target> locate(const char* command, SettingsDatabase& db, const std::string& objectName,
                             const std::string* key, int& exitCode) {
    Target t;
    t.object = db.findObject(objectName);
    if (!t.object) {
        exitCode = usageError(*findCommand(command), "no object " + objectName + " in this database");
        return std::nullopt;
    }
    if (key) {
        t.field = findField(*t.object, *key);
        if (!t.field || t.field->table()) {
            exitCode = usageError(*findCommand(command), "no field " + *key + " in " + objectName);
            return std::nullopt;
        }
    }
    return t;
}

int cmdGet(const Args& args) {
    int rc = kOk;
    const auto o = prepare("get", args, 3, false, false, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    if (!db.loadBase(fullPath(o->rest[0])))
        return kRefused;
    const auto t = locate("get", db, o->rest[1], &o->rest[2], rc);
    if (!t)
        return rc;
    std::cout << t->field->getEditText() << '\n';
    return kOk;
}

int cmdSet(const Args& args) {
    int rc = kOk;
    const auto o = prepare("set", args, 4, false, true, rc);
    if (!o)
        return rc;
    const std::string path = fullPath(o->rest[0]);
    SettingsDatabase db;
    atomic_file::EditLock lock;
    if (!loadForEdit(db, lock, path))
        return kRefused;
    const auto t = locate("set", db, o->rest[1], &o->rest[2], rc);
    if (!t)
        return rc;
    // The device information is the unit's and is never loaded from the file; a ConfigID written here would
    // make the file open as another unit type. convert is the way to change the type.
    if (t->object == db.deviceInfo.get())
        return usageError(*findCommand("set"), "DEVICEINFO comes from the unit and cannot be set (see convert)");
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    const bool ok = o->stored ? t->field->setText(o->rest[3]) : t->field->setEditText(o->rest[3]);
    if (!ok) {
        // The record or the value has shown why; a refusal without a message (an action kind that takes no
        // parameter, say) still needs one here.
        if (h.messageCount == shownBefore)
            std::cerr << "Значение не принято: " << o->rest[3] << '\n';
        return kRefused;
    }
    return db.saveBase(path) ? kOk : kRefused;
}

int cmdConvert(const Args& args) {
    int rc = kOk;
    const auto o = prepare("convert", args, 1, true, false, rc);
    if (!o)
        return rc;
    if (!o->type)
        return usageError(*findCommand("convert"), "--type is required");
    const std::string path = fullPath(o->rest[0]);
    SettingsDatabase db;
    atomic_file::EditLock lock;
    if (!loadForEdit(db, lock, path))
        return kRefused;
    const int id = *configIdByName(*o->type);
    if (id != db.currentConfig.id) {
        db.selectUnitConfig(id);
        db.convertBase();
    }
    return db.saveBase(path) ? kOk : kRefused;
}

// The objects as the tree shows them: visible object and list tables, depth first in order of addition.
void dumpTree(KT_TABLE& table, std::ostream& out) {
    out << table.name << '\t' << table.getDescription() << '\t' << table.getText() << '\t' << table.buildDeviceText()
        << '\n';
    for (auto& child : table.children) {
        KT_TABLE* sub = child.second->table();
        if (sub && sub->isVisible && isTreeTable(*sub))
            dumpTree(*sub, out);
    }
}

int cmdDump(const Args& args) {
    int rc = kOk;
    const auto o = prepare("dump", args, 1, false, false, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    if (!db.loadBase(fullPath(o->rest[0])))
        return kRefused;
    dumpTree(*db.root, std::cout);
    // The device information is not in the tree; it ends the dump as the window shows it beside the tree.
    KT_TABLE& info = *db.deviceInfo;
    std::cout << info.name << '\t' << info.getDescription() << '\t' << info.getText() << '\t' << info.buildDeviceText()
              << '\n';
    return kOk;
}

// A value with a tab or a line end would split its row for a script; such characters show as blanks.
std::string oneCell(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// Exit status as diff(1) has it: 0 equal, 1 different, 2 trouble. A file whose load showed messages (a value
// out of range taken as its default) is still compared, so the technician sees what can be seen, but the
// status is trouble: the comparison is not of what that file holds.
int cmdDiff(const Args& args) {
    int rc = kOk;
    const auto o = prepare("diff", args, 2, false, false, rc);
    if (!o)
        return rc;
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    SettingsDatabase a, b;
    if (!a.loadBase(fullPath(o->rest[0])) || !b.loadBase(fullPath(o->rest[1])))
        return kUsage;
    const bool troubled = h.messageCount != shownBefore;
    const compare::Comparison comparison = compare::compareDatabases(a, b);
    for (const compare::Row& row : compare::rowsOf(comparison))
        std::cout << oneCell(row.objectName) << '\t' << oneCell(row.key) << '\t' << oneCell(row.valueA) << '\t'
                  << oneCell(row.valueB) << '\n';
    std::cout.flush();
    if (troubled || !std::cout)
        return kUsage;
    return comparison.equal() ? kOk : kRefused;
}

} // namespace

bool loadForEdit(SettingsDatabase& db, atomic_file::EditLock& lock, const std::string& path) {
    // Long enough for another command's whole edit, short enough that a script is not stuck behind a read.
    constexpr int kEditWaitMs = 20000;
    std::string error;
    if (!lock.acquire(path, kEditWaitMs, &error)) {
        std::cerr << "Файл не изменён: " << error << '\n';
        return false;
    }
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    if (!db.loadBase(path))
        return false;
    if (h.messageCount != shownBefore) {
        std::cerr << "Файл не изменён: " << path << ": в нём есть неверные значения (см. выше)\n";
        return false;
    }
    return true;
}

std::vector<Command> offlineCommands() {
    return {
        {"new", "[--type QOR11|QOR22] FILE", cmdNew},
        {"check", "FILE", cmdCheck},
        {"get", "FILE OBJECT KEY", cmdGet},
        {"set", "[--stored] FILE OBJECT KEY TEXT", cmdSet},
        {"convert", "--type QOR11|QOR22 FILE", cmdConvert},
        {"dump", "FILE", cmdDump},
        {"diff", "FILE_A FILE_B", cmdDiff},
    };
}

} // namespace cli

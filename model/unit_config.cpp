#include "model/unit_config.h"

#include "model/atomic_file.h"
#include "model/ini_document.h"
#include "model/schema.h"
#include "model/settings_file.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

const std::array<UnitConfig, 2> unitConfigTable = {{
    {19, "QOR11", 1, 50, 2},
    {29, "QOR22", 2, 50, 2},
}};

namespace {

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A strict decimal integer: the identifier of a file is refused unless it is one.
bool parseId(const std::string& text, int& id) {
    if (text.empty())
        return false;
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, id);
    return ec == std::errc() && ptr == last;
}

// Comparable form of a folder path; folders that do not exist yet compare by their normalised text.
fs::path canonicalFolder(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(fs::path(folder), ec), ec);
    if (ec)
        p = fs::path(folder).lexically_normal();
    if (!p.has_filename())
        p = p.parent_path();
    return p;
}

bool isWithin(const fs::path& inner, const fs::path& outer) {
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i)
        if (i == inner.end() || *i != *o)
            return false;
    return true;
}

// Copies the folder's content into the target, sub-folders created where missing, files over existing ones.
// `skip` is left out: the target itself when it lies inside the source, so the copy never feeds on itself.
// False at the first file or folder that cannot be copied, with its name and the reason in `failed`: a copy
// that lost a recording must not pass for the database's messages.
bool copyFolder(const fs::path& from, const fs::path& to, const fs::path& skip, std::string& failed) {
    std::error_code ec;
    fs::directory_iterator it(from, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path src = it->path();
        if (canonicalFolder(src.string()) == skip)
            continue;
        const fs::path dst = to / src.filename();
        std::error_code e;
        if (it->is_directory(e)) {
            if (!fs::is_directory(dst, e) && !fs::create_directory(dst, e)) {
                failed = dst.string() + ": " + atomic_file::reasonText(e.value());
                return false;
            }
            if (!copyFolder(src, dst, skip, failed))
                return false;
        } else if (!fs::copy_file(src, dst, fs::copy_options::overwrite_existing, e)) {
            failed = dst.string() + ": " + atomic_file::reasonText(e.value());
            return false;
        }
    }
    if (ec) {
        failed = from.string() + ": " + atomic_file::reasonText(ec.value());
        return false;
    }
    return true;
}

std::string withDelimiter(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

KT_TABLE* findByName(KT_TABLE& table, const std::string& name) {
    auto same = [](const std::string& a, const std::string& b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
            if (lower(a[i]) != lower(b[i]))
                return false;
        }
        return true;
    };
    if (same(table.name, name))
        return &table;
    for (auto& child : table.children)
        if (KT_TABLE* sub = child.second->table())
            if (KT_TABLE* found = findByName(*sub, name))
                return found;
    return nullptr;
}

// Gives an integer field new bounds. The kind takes its bounds, lengths and messages at construction, so the
// value is rebuilt; a value outside the new bounds falls back to the field's default.
void rebound(KT_RECORD& record, std::int64_t maxValue) {
    auto* old = kt_cast<KT_INT>(record.value.get());
    if (!old || old->maxValue == maxValue)
        return;
    std::int64_t def = 0;
    std::from_chars(old->defaultText.data(), old->defaultText.data() + old->defaultText.size(), def);
    auto fresh = std::make_unique<KT_INT>(old->minValue, maxValue, def);
    const std::string oldText = old->getText();
    bool kept = false;
    try {
        kept = fresh->setText(oldText);
    } catch (const KT_ERROR&) {
        kept = false;
    }
    fresh->ownerRecord = &record;
    record.value = std::move(fresh);
    if (!kept && record.value->getText() != oldText) {
        record.changed = true;
        if (record.ownerTable)
            record.ownerTable->markState = kMarkChanged;
    }
}

} // namespace

std::string messagesFolderFor(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + ".messages/";
}

void emptyFolder(const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e;
        if (it->is_directory(e) && !it->is_symlink(e)) {
            emptyFolder(it->path().string());
            fs::remove(it->path(), e);
        } else {
            fs::remove(it->path(), e);
        }
    }
}

struct SettingsDatabase::Parts {
    std::unique_ptr<KT_ACTIONS> actions;
    std::unique_ptr<KT_BASE> root;
    std::unique_ptr<KT_TABLE_DEVICEINFO> deviceInfo;
    std::unique_ptr<KT_TABLE_CLOCK> clock;
};

SettingsDatabase::SettingsDatabase() { selectUnitConfig(kDefaultConfigId); }

SettingsDatabase::~SettingsDatabase() {
    // Menus refer to the action kinds; the tree goes first.
    root.reset();
    actions.reset();
}

bool SettingsDatabase::selectUnitConfig(int id) {
    for (const auto& row : unitConfigTable) {
        if (row.id == id) {
            currentConfig = row;
            return true;
        }
    }
    return false;
}

SettingsDatabase::Parts SettingsDatabase::buildParts(const std::string& path) const {
    const UnitConfig& c = currentConfig;
    Parts p;
    p.actions = buildActions();
    p.root = buildBase({"KT_BASE", "База настроек: " + fileNameOf(path), std::to_string(c.id), frames.ed_base});
    p.root->addTable(buildSysParam({"SYSPARAM", "системные параметры", "0", frames.ed_sysparam}));
    auto* trks = p.root->addTable(buildTrks({"TRKS", "параметры внешних линий", "1X", frames.ed_base}));
    for (int i = 1; i <= c.lines; ++i) {
        const std::string n = std::to_string(i);
        trks->addTable(buildTrk({"TRK(" + n + ")", "линия " + n, std::to_string(10 + i), frames.ed_trk}, c.menus));
    }
    auto* slps = p.root->addTable(buildSlps({"SLPS", "параметры операторов", "2X", frames.ed_base}));
    for (int i = 1; i <= c.lines; ++i) {
        const std::string n = std::to_string(i);
        slps->addTable(buildSlp({"SLP(" + n + ")", "оператор " + n, std::to_string(20 + i), frames.ed_slp}));
    }
    p.root->addTable(buildTimetable({"TIMETABLE", "расписание работы", "3", frames.ed_timetable}));
    auto* menus = p.root->addTable(buildMenus({"MENUS", "голосовые меню", "5XX", frames.ed_base}));
    for (int k = 0; k < c.menus; ++k) {
        const std::string n = std::to_string(k);
        menus->addTable(
            buildMenu({"MENU(" + n + ")", "меню " + n, std::to_string(500 + k), frames.ed_menu}, c.lines, *p.actions));
    }
    auto* boxes = p.root->addTable(buildMailboxes({"MAILBOXES", "почтовые ящики", "6X", frames.ed_base}));
    for (int i = 1; i <= c.mailboxes; ++i) {
        const std::string n = std::to_string(i);
        boxes->addTable(
            buildMailbox({"MAILBOX(" + n + ")", "ящик " + n, std::to_string(60 + i), frames.ed_mailbox}, i - 1));
    }
    p.deviceInfo = buildDeviceInfo({"DEVICEINFO", "данные о системе", "90", nullptr}, c.id);
    p.clock = buildClock({"CLOCK", "часы", "91", nullptr});
    return p;
}

void SettingsDatabase::adopt(Parts&& parts) {
    if (unbindEditors)
        unbindEditors();
    root.reset(); // before the action kinds its menus refer to
    actions = std::move(parts.actions);
    root = std::move(parts.root);
    deviceInfo = std::move(parts.deviceInfo);
    clock = std::move(parts.clock);
}

void SettingsDatabase::buildNewBase(const std::string& path) {
    disk_ = DiskState{};
    basePath = path;
    adopt(buildParts(path));
}

bool SettingsDatabase::loadBase(const std::string& path) {
    IniDocument doc;
    std::string error;
    if (!readIniFile(path, doc, &error)) {
        host::current().showMessage(kt_text::cannotReadFileMessage + error, host::MessageIcon::Error);
        return false;
    }
    int id = 0;
    const UnitConfig previous = currentConfig;
    if (!parseId(doc.readString("DEVICEINFO", "ConfigID", "?"), id) || !selectUnitConfig(id)) {
        host::current().showMessage(kt_text::unknownConfigMessage, host::MessageIcon::Error);
        return false;
    }
    // The file is read into a database of its own, which replaces the open one only once it has been read
    // whole: a field refused half-way must not leave a database that is half the file's and half defaults,
    // which a later save would write over the file.
    Parts parts = buildParts(path);
    try {
        loadFrom(*parts.root, doc);
    } catch (const KT_ERROR& e) {
        currentConfig = previous;
        parts.root.reset();
        host::current().showMessage(e.what(), host::MessageIcon::Error);
        return false;
    }
    basePath = path;
    adopt(std::move(parts));
    messagesFolder = messagesFolderFor(path);
    rememberDiskState(path);
    return true;
}

void SettingsDatabase::rememberDiskState(const std::string& path) {
    struct stat st {};
    disk_ = DiskState{};
    if (::stat(path.c_str(), &st) != 0)
        return;
    disk_.known = true;
    disk_.path = path;
    disk_.device = st.st_dev;
    disk_.inode = st.st_ino;
    disk_.size = st.st_size;
    disk_.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

std::string menuMessageFolderName(KT_TABLE& menu) { return menu.getText() + "01"; }

std::string menuMessageFolder(const std::string& messagesFolder, KT_TABLE& menu) {
    std::string folder = messagesFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder + menuMessageFolderName(menu) + "/";
}

bool SettingsDatabase::changedOnDisk() const {
    if (!disk_.known || disk_.path != basePath)
        return false;
    // A file someone removed holds nothing a save could overwrite.
    struct stat st {};
    if (::stat(basePath.c_str(), &st) != 0)
        return false;
    const long long modified = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return st.st_dev != disk_.device || st.st_ino != disk_.inode || st.st_size != disk_.size ||
           modified != disk_.modifiedNs;
}

bool SettingsDatabase::saveBase(const std::string& path) {
    if (!root || !deviceInfo)
        return false;
    // Saving over a file starts from its content, so sections and keys this database does not write (menus
    // beyond the configuration, another program's entries) stay in the file.
    IniDocument doc;
    std::string error;
    std::error_code ec;
    if (fs::exists(path, ec) && !readIniFile(path, doc, &error)) {
        host::current().showMessage(kt_text::cannotWriteFileMessage + error, host::MessageIcon::Error);
        return false;
    }
    saveTo(*root, doc);
    saveTo(*deviceInfo, doc);
    std::string bytes;
    if (!doc.serialize(bytes, &error)) {
        host::current().showMessage(kt_text::cannotWriteFileMessage + path + "\n" + kt_text::notCp1251Message + error,
                                    host::MessageIcon::Error);
        return false;
    }
    // The messages go beside the new name before the file is written, and the database takes the new folder
    // only once both are done: a save that fails half-way leaves the database's name, its folder and the
    // messages where they were, so the next plain save cannot empty the old folder into a missing one.
    const std::string newFolder = messagesFolderFor(path);
    if (newFolder != messagesFolder && !copyMessagesTo(newFolder))
        return false;
    if (!atomic_file::writeAll(path, bytes, &error)) {
        host::current().showMessage(kt_text::cannotWriteFileMessage + error, host::MessageIcon::Error);
        return false;
    }
    messagesFolder = newFolder;
    rememberDiskState(path);
    return true;
}

bool SettingsDatabase::copyMessagesTo(const std::string& newFolder) const {
    const std::string& previous = messagesFolder;
    const fs::path from = canonicalFolder(previous);
    const fs::path to = canonicalFolder(newFolder);
    // The same folder under another spelling (a relative path, a link) must not be emptied before the copy.
    if (!previous.empty() && from == to)
        return true;
    std::error_code ec;
    if (!fs::is_directory(newFolder, ec) && !fs::create_directory(newFolder, ec)) {
        // A plain file in the folder's place gives no error code from the check; it is what stands there.
        const int err = ec ? ec.value() : EEXIST;
        host::current().showMessage(kt_text::cannotCreateFolderMessage + withDelimiter(newFolder) + " (" +
                                        atomic_file::reasonText(err) + ")",
                                    host::MessageIcon::Error);
        return false;
    }
    // Emptying a folder that holds the previous one would delete the messages about to be copied.
    if (previous.empty() || !isWithin(from, to))
        emptyFolder(newFolder);
    std::string failed;
    if (!previous.empty() && fs::is_directory(previous, ec) && !copyFolder(from, to, to, failed)) {
        host::current().showMessage(kt_text::cannotCopyMessageMessage + failed, host::MessageIcon::Error);
        return false;
    }
    return true;
}

void SettingsDatabase::convertBase() {
    if (!root)
        return;
    if (unbindEditors)
        unbindEditors();
    const UnitConfig& c = currentConfig;
    auto reshape = [](KT_TABLE* list, int target, const auto& make) {
        if (!list)
            return;
        while (list->childCount() > target)
            list->removeChildAt(target);
        for (int n = list->childCount(); n < target; ++n)
            list->addTable(make(n));
    };
    reshape(root->findTable("TRKS"), c.lines, [&](int n) {
        const std::string i = std::to_string(n + 1);
        return buildTrk({"TRK(" + i + ")", "линия " + i, std::to_string(11 + n), frames.ed_trk}, c.menus);
    });
    reshape(root->findTable("SLPS"), c.lines, [&](int n) {
        const std::string i = std::to_string(n + 1);
        return buildSlp({"SLP(" + i + ")", "оператор " + i, std::to_string(21 + n), frames.ed_slp});
    });
    // Menus and mailboxes added by a conversion get the names a new database gives them.
    reshape(root->findTable("MENUS"), c.menus, [&](int n) {
        const std::string k = std::to_string(n);
        return buildMenu({"MENU(" + k + ")", "меню " + k, std::to_string(500 + n), frames.ed_menu}, c.lines, *actions);
    });
    reshape(root->findTable("MAILBOXES"), c.mailboxes, [&](int n) {
        const std::string i = std::to_string(n + 1);
        return buildMailbox({"MAILBOX(" + i + ")", "ящик " + i, std::to_string(61 + n), frames.ed_mailbox}, n);
    });

    // Fields that name a line or a menu take the new bounds: an operator line that is gone would otherwise
    // stay in its menus, and the saved file could no longer be opened (its value would be out of range).
    if (KT_TABLE* menus = root->findTable("MENUS"))
        for (int k = 0; k < menus->childCount(); ++k)
            if (KT_TABLE* menu = menus->tableAt(k))
                if (KT_RECORD* r = menu->findChild("SLPIndex"))
                    rebound(*r, c.lines);
    if (KT_TABLE* trks = root->findTable("TRKS"))
        for (int i = 0; i < trks->childCount(); ++i)
            if (KT_TABLE* trk = trks->tableAt(i))
                for (const char* key : {"DayMenu", "NightMenu", "HolidayMenu"})
                    if (KT_RECORD* r = trk->findChild(key))
                        rebound(*r, c.menus - 1);

    root->valueText = std::to_string(c.id);
    if (deviceInfo)
        if (KT_RECORD* r = deviceInfo->findChild("ConfigID"))
            r->value->setText(std::to_string(c.id));
}

KT_TABLE* SettingsDatabase::findObject(const std::string& objectName) const {
    if (root)
        if (KT_TABLE* t = findByName(*root, objectName))
            return t;
    if (deviceInfo && findByName(*deviceInfo, objectName))
        return deviceInfo.get();
    if (clock && findByName(*clock, objectName))
        return clock.get();
    return nullptr;
}

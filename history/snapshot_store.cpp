#include "history/snapshot_store.h"

#include "model/atomic_file.h"
#include "model/ini_document.h"
#include "model/settings_file.h"
#include "model/unit_config.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

namespace history {

namespace fs = std::filesystem;

namespace {

// A temporary left by a writer that died is removed once it is this old; a live writer is never that slow.
constexpr auto kAbandonedAge = std::chrono::hours(24);

std::string withSlash(std::string path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::string reasonOf(const std::error_code& ec) { return atomic_file::reasonText(ec.value()); }

std::string folderError(const std::string& folder, const std::string& reason) {
    return "Папка истории устройства " + folder + " недоступна: " + reason;
}

// UTC with milliseconds, once for the folder name and once for people.
struct Stamp {
    std::string name; // 20261208T175421.123Z
    std::string text; // 2026-12-08T17:54:21.123Z
};

Stamp nowStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&secs, &utc);
    char name[80], text[80];
    std::snprintf(name, sizeof name, "%04d%02d%02dT%02d%02d%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
    return {name, text};
}

std::string joinList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : ",") + item;
    return out;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        if (comma > start)
            out.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

// A value on one line: line breaks would start another key.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

std::string indexText(const SnapshotIndex& index) {
    std::string out;
    out += "time=" + oneLine(index.time) + "\n";
    out += "kind=" + oneLine(index.kind) + "\n";
    out += "unit=" + oneLine(index.unit) + "\n";
    out += "softver=" + oneLine(index.softVersion) + "\n";
    out += "objects=" + oneLine(joinList(index.objects)) + "\n";
    out += "messages=" + oneLine(joinList(index.messages)) + "\n";
    out += "summary=" + oneLine(index.summary) + "\n";
    out += "database=" + oneLine(index.database) + "\n";
    // Only a restore's before-write carries these: other indexes stay as they were.
    if (!index.restores.empty()) {
        out += "restores=" + oneLine(index.restores) + "\n";
        out += std::string("complete=") + (index.complete ? "yes" : "no") + "\n";
    }
    return out;
}

std::uintmax_t folderSize(const fs::path& folder) {
    std::uintmax_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code e;
        if (it->is_regular_file(e) && !it->is_symlink(e))
            total += it->file_size(e);
    }
    return total;
}

bool isSnapshotName(const std::string& name) {
    return !name.empty() && name[0] != '.' &&
           (name.ends_with(std::string("-") + kKindRead) || name.ends_with(std::string("-") + kKindBeforeWrite) ||
            name.ends_with(std::string("-") + kKindAfterWrite));
}

void removeAbandoned(const fs::path& unitFolder) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(unitFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code e;
        if (name.rfind(".part-", 0) != 0 || !it->is_directory(e))
            continue;
        const auto age = now - fs::last_write_time(it->path(), e);
        if (!e && age > kAbandonedAge)
            fs::remove_all(it->path(), e);
    }
}

} // namespace

bool Snapshot::holds(const std::string& objectName) const {
    return std::find(index.objects.begin(), index.objects.end(), objectName) != index.objects.end();
}

std::optional<SnapshotIndex> readIndex(const std::string& path) {
    std::string bytes;
    if (!atomic_file::readAll(path, bytes, nullptr, 1024 * 1024))
        return std::nullopt;
    SnapshotIndex index;
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "time")
            index.time = value;
        else if (key == "kind")
            index.kind = value;
        else if (key == "unit")
            index.unit = value;
        else if (key == "softver")
            index.softVersion = value;
        else if (key == "objects")
            index.objects = splitList(value);
        else if (key == "messages")
            index.messages = splitList(value);
        else if (key == "summary")
            index.summary = value;
        else if (key == "database")
            index.database = value;
        else if (key == "restores")
            index.restores = value;
        else if (key == "complete")
            index.complete = value == "yes";
    }
    return index;
}

// ---------------------------------------------------------------------------------------------------------------

PendingSnapshot::~PendingSnapshot() { discard(); }

PendingSnapshot::PendingSnapshot(PendingSnapshot&& other) noexcept
    : dir_(std::move(other.dir_)), unitFolder_(std::move(other.unitFolder_)), kind_(std::move(other.kind_)) {
    other.dir_.clear();
}

PendingSnapshot& PendingSnapshot::operator=(PendingSnapshot&& other) noexcept {
    if (this != &other) {
        discard();
        dir_ = std::move(other.dir_);
        unitFolder_ = std::move(other.unitFolder_);
        kind_ = std::move(other.kind_);
        other.dir_.clear();
    }
    return *this;
}

void PendingSnapshot::discard() {
    if (dir_.empty())
        return;
    std::error_code ec;
    fs::remove_all(dir_, ec);
    dir_.clear();
}

bool PendingSnapshot::writeDatabase(SettingsDatabase& db, std::string& error) {
    if (!db.root || !db.deviceInfo) {
        error = "Нет базы настроек для снимка";
        return false;
    }
    IniDocument doc;
    saveTo(*db.root, doc);
    saveTo(*db.deviceInfo, doc);
    std::string bytes;
    if (!doc.serialize(bytes, &error))
        return false;
    return atomic_file::writeAll(dir_ + kDatabaseFile, bytes, &error);
}

bool PendingSnapshot::addMessage(const std::string& source, const std::string& menuFolder, const std::string& name,
                                 std::string& error) {
    const std::string folder = messagesFolder() + menuFolder;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = kt_text::cannotCreateFolderMessage + folder + " (" + reasonOf(ec) + ")";
        return false;
    }
    std::string bytes;
    if (!atomic_file::readAll(source, bytes, &error, std::size_t{1} << 31))
        return false;
    return atomic_file::writeAll(withSlash(folder) + name, bytes, &error);
}

std::optional<Snapshot> PendingSnapshot::commit(SnapshotIndex index, std::string& error) {
    if (dir_.empty()) {
        error = "Снимок не начат";
        return std::nullopt;
    }
    const Stamp stamp = nowStamp();
    index.time = stamp.text;
    index.kind = kind_;
    if (!atomic_file::writeAll(dir_ + kIndexFile, indexText(index), &error))
        return std::nullopt;
    // Two snapshots of one unit within a millisecond get a number after the time.
    std::string name = stamp.name + "-" + kind_;
    std::error_code ec;
    for (int n = 2; fs::exists(unitFolder_ + name, ec); ++n)
        name = stamp.name + "." + std::to_string(n) + "-" + kind_;
    const std::string final = unitFolder_ + name;
    fs::rename(dir_.substr(0, dir_.size() - 1), final, ec);
    if (ec) {
        error = folderError(unitFolder_, reasonOf(ec));
        return std::nullopt;
    }
    // The rename is what makes the snapshot exist: it must survive a crash like the files inside.
    if (const int fd = ::open(unitFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    dir_.clear();
    Snapshot s;
    s.path = final + "/";
    s.name = name;
    s.index = std::move(index);
    return s;
}

// ---------------------------------------------------------------------------------------------------------------

SnapshotStore::SnapshotStore(std::string root) : root_(withSlash(std::move(root))) {}

std::string SnapshotStore::defaultRoot() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && *data == '/')
        base = data;
    else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return withSlash(base) + "zirezid/units/";
}

bool SnapshotStore::ready(std::string& error) const {
    std::error_code ec;
    fs::create_directories(root_, ec);
    if (ec || !fs::is_directory(root_, ec)) {
        error = folderError(root_, ec ? reasonOf(ec) : atomic_file::reasonText(ENOTDIR));
        return false;
    }
    // Writable and not full: a probe file of one block goes in and out again.
    const std::string probe = root_ + ".probe-" + std::to_string(::getpid());
    std::string why;
    if (!atomic_file::writeAll(probe, std::string(4096, '\0'), &why)) {
        fs::remove(probe, ec);
        error = folderError(root_, why);
        return false;
    }
    fs::remove(probe, ec);
    return true;
}

PendingSnapshot SnapshotStore::begin(const UnitIdentity& unit, const std::string& kind, std::string& error) const {
    PendingSnapshot pending;
    const std::string unitFolder = root_ + unit.folderName() + "/";
    std::error_code ec;
    fs::create_directories(unitFolder, ec);
    if (ec) {
        error = folderError(unitFolder, reasonOf(ec));
        return pending;
    }
    removeAbandoned(unitFolder);
    std::string tmpl = unitFolder + ".part-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        error = folderError(unitFolder, atomic_file::reasonText(errno));
        return pending;
    }
    pending.dir_ = tmpl + "/";
    pending.unitFolder_ = unitFolder;
    pending.kind_ = kind;
    return pending;
}

std::vector<std::string> SnapshotStore::units() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
        UnitIdentity unit;
        std::error_code e;
        if (it->is_directory(e) && parseFolderName(it->path().filename().string(), unit))
            out.push_back(it->path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Snapshot> SnapshotStore::list(const std::string& unit) const {
    std::vector<Snapshot> out;
    const std::string unitFolder = root_ + unit + "/";
    std::error_code ec;
    for (fs::directory_iterator it(unitFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code e;
        if (!isSnapshotName(name) || !it->is_directory(e))
            continue;
        Snapshot s;
        s.path = unitFolder + name + "/";
        s.name = name;
        auto index = readIndex(s.path + kIndexFile);
        if (!index)
            continue; // no index: not a snapshot of ours
        s.index = std::move(*index);
        out.push_back(std::move(s));
    }
    std::sort(out.begin(), out.end(), [](const Snapshot& a, const Snapshot& b) { return a.name > b.name; });
    return out;
}

std::optional<Snapshot> SnapshotStore::newest(const std::string& unit, const std::string& kind) const {
    for (auto& s : list(unit))
        if (s.index.kind == kind)
            return s;
    return std::nullopt;
}

std::optional<Snapshot> SnapshotStore::undoTarget(const std::string& unit, std::string& error) const {
    for (auto& s : list(unit)) {
        if (s.index.kind != kKindBeforeWrite)
            continue;
        // A complete restore is undone like any write; one cut short (or killed before it could say) left the
        // unit half-way, and its own before-write holds that half-way state.
        if (s.index.restores.empty() || s.index.complete)
            return s;
        if (auto target = find(s.index.restores, unit))
            return target;
        error = "Восстановление из снимка " + s.index.restores +
                " не было завершено, но этого снимка больше нет в "
                "истории: укажите снимок, который записать на устройство.";
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Snapshot> SnapshotStore::find(const std::string& spec, const std::string& unit) const {
    std::string path = spec;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const fs::path p(path);
    const std::string name = p.filename().string();
    std::string unitName = p.has_parent_path() ? p.parent_path().filename().string() : unit;
    std::error_code ec;
    if (p.is_absolute() && fs::is_directory(p, ec)) {
        auto index = readIndex(path + "/" + kIndexFile);
        if (!index)
            return std::nullopt;
        Snapshot s;
        s.path = path + "/";
        s.name = name;
        s.index = std::move(*index);
        return s;
    }
    for (auto& s : list(unitName))
        if (s.name == name)
            return s;
    return std::nullopt;
}

bool SnapshotStore::noteDatabase(const Snapshot& snapshot, const std::string& databasePath, std::string& error) const {
    SnapshotIndex index = snapshot.index;
    index.database = databasePath;
    return atomic_file::writeAll(snapshot.path + kIndexFile, indexText(index), &error);
}

bool SnapshotStore::noteComplete(const Snapshot& snapshot, std::string& error) const {
    SnapshotIndex index = snapshot.index;
    index.complete = true;
    return atomic_file::writeAll(snapshot.path + kIndexFile, indexText(index), &error);
}

std::uintmax_t SnapshotStore::size() const { return folderSize(root_); }

std::vector<std::string> SnapshotStore::prune(std::uintmax_t limit, const std::string& keep) const {
    std::vector<std::string> removed;
    std::uintmax_t total = size();
    if (total <= limit)
        return removed;
    struct Entry {
        Snapshot snapshot;
        std::uintmax_t bytes;
    };
    std::vector<Entry> all;
    for (const auto& unit : units()) {
        const auto snapshots = list(unit);
        std::string error;
        const auto target = undoTarget(unit, error);
        bool newestBeforeWriteSeen = false;
        for (const auto& s : snapshots) {
            // The newest before-write of a unit, and what an undo puts back, stay whatever the limit.
            if (s.index.kind == kKindBeforeWrite && !newestBeforeWriteSeen) {
                newestBeforeWriteSeen = true;
                continue;
            }
            if (target && target->path == s.path)
                continue;
            if (!keep.empty() && withSlash(keep) == s.path)
                continue;
            all.push_back({s, folderSize(s.path)});
        }
    }
    // Oldest first across units: the names start with the UTC time.
    std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) { return a.snapshot.name < b.snapshot.name; });
    for (const auto& e : all) {
        if (total <= limit)
            break;
        std::error_code ec;
        fs::remove_all(e.snapshot.path, ec);
        if (ec)
            continue;
        total = total > e.bytes ? total - e.bytes : 0;
        removed.push_back(e.snapshot.index.unit + "/" + e.snapshot.name);
    }
    return removed;
}

bool loadSnapshot(const Snapshot& snapshot, SettingsDatabase& db) {
    if (!db.loadBase(snapshot.databaseFile()))
        return false;
    db.messagesFolder = snapshot.messagesFolder();
    return true;
}

} // namespace history

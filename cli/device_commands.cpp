// The device commands of zirezid-cli: the same device link as the read/write dialog, with a user interface that
// writes to standard error and answers its questions from the command line.
#include "cli/commands.h"
#include "cli/options.h"

#include "cli/headless_ui.h"
#include "cli/history_output.h"
#include "history/guarded_write.h"
#include "link/device_link.h"
#include "link/sound_conversion.h"
#include "model/atomic_file.h"
#include "model/message_staging.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/device_name.h"
#include "serial/main_thread.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {
namespace {

namespace fs = std::filesystem;
using devlink::DeviceLink;

struct Options {
    std::string port;
    std::optional<std::string> password;
    std::optional<std::string> objects;
    std::optional<std::string> set;
    std::string onError = "stop";
    std::string replace = "no";
    bool messages = false;
    bool dryRun = false;
    bool overwriteUnitChanges = false;
    bool withoutHistory = false;
    std::string conflicts; // database or unit: which side wins every conflict
    std::string unit;      // TYPE-SERIAL
    Args rest;
};

// The plain argument count of a command whose one argument may be left out.
constexpr std::size_t kAtMostOne = static_cast<std::size_t>(-1);

// Parses the options a command allows ("--messages" is a flag, the others take a value).
std::optional<Options> parse(const char* name, const Args& args, const std::vector<std::string>& allowed,
                             std::size_t plain, bool needPort, int& rc) {
    std::vector<OptionSpec> specs;
    for (const auto& x : allowed)
        specs.push_back({x.c_str(), x == "--messages" || x == "--dry-run" || x == "--overwrite-unit-changes" ||
                                            x == "--without-history"
                                        ? nullptr
                                        : ""});
    ParsedOptions parsed;
    std::string problem = parseOptions(args, specs, parsed);
    Options o;
    o.port = parsed.value("--port").value_or("");
    o.password = parsed.value("--password");
    o.objects = parsed.value("--objects");
    o.set = parsed.value("--set");
    o.onError = parsed.value("--on-error").value_or(o.onError);
    o.replace = parsed.value("--replace").value_or(o.replace);
    o.messages = parsed.has("--messages");
    o.dryRun = parsed.has("--dry-run");
    o.overwriteUnitChanges = parsed.has("--overwrite-unit-changes");
    o.withoutHistory = parsed.has("--without-history");
    o.conflicts = parsed.value("--conflicts").value_or("");
    o.unit = parsed.value("--unit").value_or("");
    o.rest = std::move(parsed.plain);
    if (problem.empty() && needPort && o.port.empty())
        problem = "--port is required";
    if (problem.empty() && (plain == kAtMostOne ? o.rest.size() > 1 : o.rest.size() != plain))
        problem = plain == kAtMostOne ? "expected at most one argument"
                                      : "expected " + std::to_string(plain) + " argument(s)";
    if (problem.empty() && o.onError != "stop" && o.onError != "skip")
        problem = "--on-error wants stop or skip";
    if (problem.empty() && o.replace != "yes" && o.replace != "no")
        problem = "--replace wants yes or no";
    if (problem.empty() && !o.conflicts.empty() && o.conflicts != "database" && o.conflicts != "unit")
        problem = "--conflicts wants database or unit";
    if (!problem.empty()) {
        rc = usageError(*findCommand(name), problem);
        return std::nullopt;
    }
    return o;
}

// The port as every command and the window read its name (COMn through the port number, anything else a file).
void choosePort(DeviceLink& link, const std::string& port) {
    const serial::PortName chosen = serial::ParsePortName(port);
    if (chosen.Number > 0) {
        link.comPortNumber = chosen.Number;
        link.devicePath.clear();
    } else {
        link.devicePath = chosen.Path;
    }
}

constexpr const char* kScratchPrefix = "zirezid-cli-";
constexpr const char* kScratchLock = ".in-use";

// A killed command cannot remove its scratch folder. Each running command holds a lock on a file in its own
// folder, so a folder whose lock can be taken (or, made by a version without the lock, one older than a
// minute) belongs to nobody and goes.
void removeAbandonedScratch(const std::string& tempRoot) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(tempRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code e;
        if (name.rfind(kScratchPrefix, 0) != 0 || it->is_symlink(e) || !it->is_directory(e))
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || st.st_uid != ::geteuid())
            continue;
        const std::string lock = (it->path() / kScratchLock).string();
        const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
                fs::remove_all(it->path(), e);
            ::close(fd);
            continue;
        }
        const auto age = now - fs::last_write_time(it->path(), e);
        if (!e && age > std::chrono::minutes(1))
            fs::remove_all(it->path(), e);
    }
}

// The folder for temporary files: TMPDIR, or /tmp when it is not set. Empty, after saying why, when it is not a
// usable folder.
std::string tempRoot() {
    const char* env = std::getenv("TMPDIR");
    const std::string root = env != nullptr && *env != '\0' ? env : "/tmp";
    struct stat st {};
    const int err = ::stat(root.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (err != 0) {
        std::cerr << "Временная папка недоступна (TMPDIR): " << root << ": " << atomic_file::reasonText(err) << '\n';
        return {};
    }
    return root;
}

// A scratch folder for the staged message files, removed when the command ends.
class Scratch {
public:
    Scratch() {
        const std::string root = tempRoot();
        if (root.empty())
            return;
        removeAbandonedScratch(root);
        std::string t = root + "/" + kScratchPrefix + "XXXXXX";
        if (!mkdtemp(t.data())) {
            std::cerr << "Невозможно создать временную папку в " << root << ": " << atomic_file::reasonText(errno)
                      << '\n';
            return;
        }
        lockFd_ = ::open((t + "/" + kScratchLock).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (lockFd_ >= 0)
            ::flock(lockFd_, LOCK_EX);
        path_ = t + "/";
    }
    ~Scratch() {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
        if (lockFd_ >= 0)
            ::close(lockFd_);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int lockFd_ = -1;
};

// The device commands share one set-up: a link with its headless user interface.
struct Session {
    HeadlessUi ui;
    DeviceLink link{ui};
    Scratch scratch;
    Session(const Options& o, SettingsDatabase& db) {
        ui.link = &link;
        ui.skipOnError = o.onError == "skip";
        ui.replaceAll = o.replace == "yes";
        link.database = &db;
        link.tempFolder = scratch.path();
        link.passwordOverride = o.password;
        choosePort(link, o.port);
        std::signal(SIGINT, HeadlessUi::onInterrupt);
    }
    ~Session() {
        try {
            link.closeSession();
        } catch (...) {
        }
        std::signal(SIGINT, SIG_DFL);
    }
};

// The objects named on the command line (a list object stands for its leaves), or every leaf in tree order.
bool chooseObjects(const char* name, SettingsDatabase& db, const std::optional<std::string>& names,
                   std::vector<std::pair<std::string, KT_TABLE*>>& out, int& rc) {
    if (!names) {
        fillLeafList(*db.root, out);
        return true;
    }
    std::size_t start = 0;
    while (start <= names->size()) {
        std::size_t comma = names->find(',', start);
        if (comma == std::string::npos)
            comma = names->size();
        const std::string one = names->substr(start, comma - start);
        start = comma + 1;
        if (one.empty())
            continue;
        KT_TABLE* object = db.findObject(one);
        if (!object || !isTreeTable(*object)) {
            rc = usageError(*findCommand(name), "no object " + one + " in this database");
            return false;
        }
        fillLeafList(*object, out);
    }
    return true;
}

std::string fullPath(const std::string& path) {
    std::error_code ec;
    const auto p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

int connect(Session& s) {
    // The link's own text says only that the port could not be opened; say which file and why as well.
    const std::string device = s.link.devicePath.empty()
                                   ? serial::ResolveDevicePath("COM" + std::to_string(s.link.comPortNumber))
                                   : s.link.devicePath;
    const int access = ::access(device.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
    try {
        if (s.link.openSession())
            return kOk;
        if (access != 0)
            std::cerr << "Порт " << device << ": " << atomic_file::reasonText(access) << '\n';
        return kRefused;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return kRefused;
    }
}

int cmdInfo(const Args& args) {
    int rc = kOk;
    const auto o = parse("info", args, {"--port", "--password"}, 0, true, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    db.selectUnitConfig(kDefaultConfigId);
    db.buildNewBase("noname.qor"); // only its device information is used; it is never saved
    Session s(*o, db);
    if (s.scratch.path().empty())
        return kRefused;
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    if (connect(s) != kOk)
        return kRefused;
    for (auto& child : db.deviceInfo->children)
        std::cout << child.second->key << '=' << child.second->getEditText() << '\n';
    // A field of the device information the unit sent and its kind refused has been shown and stands at its
    // default: the lines above are then not the unit's.
    return h.messageCount == shownBefore ? kOk : kRefused;
}

int cmdRead(const Args& args) {
    int rc = kOk;
    const auto o = parse("read", args, {"--port", "--password", "--objects", "--messages", "--on-error"}, 1, true, rc);
    if (!o)
        return rc;
    const std::string path = fullPath(o->rest[0]);
    SettingsDatabase db;
    atomic_file::EditLock lock;
    if (!loadForEdit(db, lock, path))
        return kRefused;
    Session s(*o, db);
    if (s.scratch.path().empty())
        return kRefused;
    if (!chooseObjects("read", db, o->objects, s.link.linkObjects, rc))
        return rc;
    for (auto& [caption, object] : s.link.linkObjects)
        s.ui.names.push_back(object->name);
    if (connect(s) != kOk)
        return kRefused;
    // Downloads wait in the scratch folder; the messages folder changes only together with the saved file.
    const std::string downloaded = s.scratch.path() + "messages/";
    std::error_code ec;
    fs::create_directories(downloaded, ec);
    s.link.downloadFolder = downloaded;
    s.link.isLoadMsg = o->messages;
    try {
        s.link.readAll();
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return kRefused;
    }
    // What was read is kept in the unit's history whether or not it reaches the file.
    std::string historyError;
    history::SnapshotStore store(history::SnapshotStore::defaultRoot());
    const auto readSnapshot = history::recordRead(store, history::readPreferences(), s.link, historyError);
    if (!readSnapshot && !historyError.empty())
        std::cerr << historyError << '\n';
    if (!s.ui.allOk(s.link.linkObjects.size()))
        return kRefused;
    // A field the unit sent that its kind refuses is shown and keeps its old value: saving then would store a mix
    // of read and old values under an exit status that says every object was read.
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    s.link.applyPendingAnswers();
    if (h.messageCount != shownBefore)
        return kRefused;
    // All or nothing: the messages are first put beside their places (this is what can fail on a full disk),
    // then the file is saved, and only then do the messages take their names.
    MessageStaging staged;
    std::string error;
    if (!staged.prepare(downloaded, db.messagesFolder, error)) {
        std::cerr << error << "\nФайл " << path << " и папка сообщений не изменены.\n";
        return kRefused;
    }
    if (!db.saveBase(path))
        return kRefused;
    if (!staged.commit(error)) {
        std::cerr << error << '\n';
        return kRefused;
    }
    // The file now holds what the snapshot holds: a later write compares against it.
    if (readSnapshot && !store.noteDatabase(*readSnapshot, path, historyError))
        std::cerr << historyError << '\n';
    return kOk;
}

// The write of the listed objects through the history: pre-write read, before-write snapshot, the change
// list on standard output, the write, the after-write snapshot. The exit status of write and restore.
int guardedWrite(Session& s, const Options& o, const std::string& restoring = {},
                 history::WriteOutcome* outcome = nullptr) {
    history::Preferences preferences = history::readPreferences();
    preferences.allowWithoutHistory = o.withoutHistory;
    history::SnapshotStore store(history::SnapshotStore::defaultRoot());
    history::GuardedWrite write(s.link, s.ui, store, preferences);
    write.objects = s.link.linkObjects;
    write.dryRun = o.dryRun;
    write.restoring = restoring;
    write.askWithoutHistory = [](const std::string& question) {
        std::cerr << question << " Да (--without-history)\n";
        return true;
    };
    bool conflictsLeft = false;
    write.approve = [&](history::Preview& preview) {
        for (auto& c : preview.conflicts)
            c.keepUnit = o.conflicts == "unit";
        for (auto& u : preview.unitChanges)
            u.overwrite = o.overwriteUnitChanges;
        printPreview(preview, std::cout);
        conflictsLeft = !preview.conflicts.empty() && o.conflicts.empty();
        if (conflictsLeft)
            std::cerr << history::text::conflictsNeedChoice << '\n';
        return !conflictsLeft;
    };
    try {
        const history::WriteOutcome out = write.run();
        if (outcome)
            *outcome = out;
        using Status = history::WriteOutcome::Status;
        switch (out.status) {
        case Status::Unchanged:
        case Status::WouldChange:
            printPreview(out.preview, std::cout);
            return out.status == Status::Unchanged ? kOk : kRefused;
        case Status::Written:
            return out.written == static_cast<int>(s.link.linkObjects.size()) && s.ui.allOk(s.link.linkObjects.size())
                       ? kOk
                       : kRefused;
        default:
            if (!out.message.empty() && out.status != Status::Refused)
                std::cerr << out.message << '\n';
            return kRefused;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return kRefused;
    }
}

// The unit's values the write kept (a field only the unit changed, a conflict decided for the unit) go into
// the file, as the window puts them into the open database: otherwise the next write of the file would send
// the file's old value as a change of its own, with nothing left to say the unit's was newer. The file is
// loaded afresh under its edit lock, so that only these fields change whatever was saved meanwhile.
int saveKeptUnitValues(const std::string& path, const history::Preview& preview) {
    struct Kept {
        std::string objectName, key, stored, shown;
    };
    std::vector<Kept> kept;
    for (const auto& c : preview.conflicts)
        if (c.keepUnit)
            kept.push_back({c.objectName, c.key, c.unitStored, c.unitValue});
    for (const auto& u : preview.unitChanges)
        if (!u.overwrite)
            kept.push_back({u.objectName, u.key, u.unitStored, u.unitValue});
    if (kept.empty())
        return kOk;
    const auto notSaved = [&] {
        std::cerr << "Значения, оставленные на устройстве, не сохранены в файле " << path
                  << ": при следующей записи этого файла они будут записаны поверх без вопроса.\n";
        return kRefused;
    };
    SettingsDatabase fresh;
    atomic_file::EditLock lock;
    if (!loadForEdit(fresh, lock, path))
        return notSaved();
    std::string list;
    for (const auto& k : kept) {
        KT_TABLE* object = fresh.findObject(k.objectName);
        KT_RECORD* field = object ? object->findChild(k.key) : nullptr;
        if (!field || field->table() || !field->setText(k.stored))
            return notSaved();
        list += (list.empty() ? "" : ", ") + k.objectName + " " + k.key + "=" + k.shown;
    }
    if (!fresh.saveBase(path))
        return notSaved();
    std::cout << "Значения устройства сохранены в файле " << path << ": " << list << '\n';
    return kOk;
}

int cmdWrite(const Args& args) {
    int rc = kOk;
    const auto o = parse("write", args,
                         {"--port", "--password", "--objects", "--replace", "--on-error", "--dry-run", "--conflicts",
                          "--overwrite-unit-changes", "--without-history"},
                         1, true, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    atomic_file::EditLock lock; // read once whole, not while another program is half-way through its save
    const std::string path = fullPath(o->rest[0]);
    if (!loadForEdit(db, lock, path))
        return kRefused;
    lock.release();
    Session s(*o, db);
    if (s.scratch.path().empty())
        return kRefused;
    if (!chooseObjects("write", db, o->objects, s.link.linkObjects, rc))
        return rc;
    for (auto& [caption, object] : s.link.linkObjects)
        s.ui.names.push_back(object->name);
    if (connect(s) != kOk)
        return kRefused;
    s.link.writeMode = true;
    history::WriteOutcome outcome;
    const int written = guardedWrite(s, *o, {}, &outcome);
    if (outcome.status != history::WriteOutcome::Status::Written)
        return written;
    const int saved = saveKeptUnitValues(path, outcome.preview);
    return written != kOk ? written : saved;
}

// The unit on the line, or the one named with --unit: its folder name in the history.
std::optional<std::string> chosenUnit(const char* name, const Options& o, int& rc) {
    if (!o.unit.empty()) {
        history::UnitIdentity unit;
        if (!history::parseFolderName(o.unit, unit)) {
            rc = usageError(*findCommand(name), "--unit wants TYPE-SERIAL (QOR22-100001, QOR22-unknown)");
            return std::nullopt;
        }
        return unit.folderName();
    }
    return std::nullopt;
}

int cmdHistory(const Args& args) {
    int rc = kOk;
    const auto o = parse("history", args, {"--port", "--password", "--unit"}, 0, false, rc);
    if (!o)
        return rc;
    if (o->port.empty() == o->unit.empty())
        return usageError(*findCommand("history"), "give either --port or --unit");
    std::optional<std::string> unit = chosenUnit("history", *o, rc);
    if (rc != kOk)
        return rc;
    if (!unit) {
        SettingsDatabase db;
        db.selectUnitConfig(kDefaultConfigId);
        db.buildNewBase("noname.qor");
        Session s(*o, db);
        if (s.scratch.path().empty() || connect(s) != kOk)
            return kRefused;
        unit = history::identify(db).folderName();
    }
    const history::SnapshotStore store(history::SnapshotStore::defaultRoot());
    printHistory(store.list(*unit), std::cout);
    return kOk;
}

int cmdRestore(const Args& args) {
    int rc = kOk;
    const auto o = parse("restore", args, {"--port", "--password", "--on-error", "--conflicts", "--without-history"},
                         kAtMostOne, true, rc);
    if (!o)
        return rc;
    SettingsDatabase connectDb;
    connectDb.selectUnitConfig(kDefaultConfigId);
    connectDb.buildNewBase("noname.qor"); // its device information says which unit answers
    Session s(*o, connectDb);
    if (s.scratch.path().empty())
        return kRefused;
    const history::SnapshotStore store(history::SnapshotStore::defaultRoot());
    s.ui.replaceAll = true; // the snapshot's recordings go back in place of what the unit holds now
    if (!o->password)
        s.ui.passwordCandidates = knownPasswords(store);
    if (connect(s) != kOk)
        return kRefused;
    const history::UnitIdentity unit = history::identify(connectDb);
    std::string error;
    std::optional<history::Snapshot> snapshot =
        o->rest.empty() ? store.undoTarget(unit.folderName(), error) : store.find(o->rest[0], unit.folderName());
    if (!snapshot) {
        std::cerr << (!error.empty() ? error
                      : o->rest.empty()
                          ? "В истории нет снимка перед записью для устройства " + unit.folderName()
                          : "Снимок " + o->rest[0] + " не найден в истории устройства " + unit.folderName())
                  << '\n';
        return kRefused;
    }
    if (snapshot->index.unit != unit.folderName()) {
        std::cerr << "Снимок " << snapshot->name << " относится к устройству " << snapshot->index.unit
                  << ", а подключено " << unit.folderName() << ": восстановление не выполняется.\n";
        return kRefused;
    }
    SettingsDatabase restoreDb;
    if (!history::prepareRestore(*snapshot, restoreDb, s.link.linkObjects, error)) {
        std::cerr << error << '\n';
        return kRefused;
    }
    // The device information is the connected unit's, as the link read it.
    for (auto& [key, record] : connectDb.deviceInfo->children)
        if (KT_RECORD* mine = restoreDb.deviceInfo->findChild(key); mine && !record->table())
            mine->value->setText(record->getText());
    s.link.database = &restoreDb;
    for (auto& [caption, object] : s.link.linkObjects)
        s.ui.names.push_back(object->name);
    if (const auto last = store.newest(unit.folderName(), history::kKindBeforeWrite);
        o->rest.empty() && last && !last->index.restores.empty() && !last->index.complete)
        std::cerr << "Прошлое восстановление не дошло до конца (" << last->name << "): снимок записывается снова.\n";
    std::cerr << "Восстановление из снимка " << snapshot->path << '\n';
    return guardedWrite(s, *o, snapshot->path);
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

std::optional<devlink::DeviceDateTime> parseDateTime(const std::string& text) {
    devlink::DeviceDateTime t;
    if (text == "now") {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        t = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
        return t;
    }
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second,
                    &tail) != 6)
        return std::nullopt;
    if (t.year < 2000 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > daysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 ||
        t.second < 0 || t.second > 59)
        return std::nullopt;
    return t;
}

int cmdClock(const Args& args) {
    int rc = kOk;
    const auto o = parse("clock", args, {"--port", "--password", "--set"}, 0, true, rc);
    if (!o)
        return rc;
    std::optional<devlink::DeviceDateTime> wanted;
    if (o->set && !(wanted = parseDateTime(*o->set)))
        return usageError(*findCommand("clock"),
                          "--set wants now or an existing date and time \"YYYY-MM-DD HH:MM:SS\" (2000 to 2099)");
    SettingsDatabase db;
    db.selectUnitConfig(kDefaultConfigId);
    db.buildNewBase("noname.qor"); // only its clock is used; it is never saved
    Session s(*o, db);
    if (s.scratch.path().empty())
        return kRefused;
    if (connect(s) != kOk)
        return kRefused;
    try {
        if (wanted && !s.link.setDeviceClock(*wanted))
            return kRefused;
        devlink::DeviceDateTime t;
        const std::size_t shownBefore = s.ui.shown;
        if (!s.link.getDeviceClock(t)) {
            // A reading the link took for no clock at all has not been shown anywhere yet.
            if (s.ui.shown == shownBefore)
                std::cerr << "Часы устройства не прочитаны: устройство прислало ответ, который не является датой "
                             "и временем\n";
            return kRefused;
        }
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        std::cout << buf << '\n';
        return kOk;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return kRefused;
    }
}

int cmdSound(const Args& args) {
    if (!args.empty() && args[0] == "import")
        return soundImport(args);
    int rc = kOk;
    const auto o = parse("sound", args, {}, 3, false, rc);
    if (!o)
        return rc;
    const std::string& direction = o->rest[0];
    if (direction != "to-device" && direction != "to-wav")
        return usageError(*findCommand("sound"), "the direction is to-device, to-wav or import");
    std::string error;
    const int r = sound::convertSoundFile(o->rest[1], o->rest[2], direction == "to-wav",
                                          isatty(STDERR_FILENO) ? stderr : nullptr, &error);
    if (r != 0) {
        std::cerr << "Ошибка " << r << ": " << error << '\n';
        return kRefused;
    }
    return kOk;
}

} // namespace

std::vector<Command> deviceCommands() {
    return {
        {"info", "--port PORT [--password P]", cmdInfo},
        {"read", "--port PORT [--password P] [--messages] [--objects NAME,...] [--on-error stop|skip] FILE", cmdRead},
        {"write",
         "--port PORT [--password P] [--objects NAME,...] [--replace yes|no] [--on-error stop|skip] [--dry-run] "
         "[--conflicts database|unit] [--overwrite-unit-changes] [--without-history] FILE",
         cmdWrite},
        {"history", "--port PORT [--password P] | --unit TYPE-SERIAL", cmdHistory},
        {"restore",
         "--port PORT [--password P] [--on-error stop|skip] [--conflicts database|unit] [--without-history] [SNAPSHOT]",
         cmdRestore},
        {"clock", "--port PORT [--password P] [--set now|\"YYYY-MM-DD HH:MM:SS\"]", cmdClock},
        {"sound",
         "to-device IN.wav OUT.ktm | to-wav IN.ktm OUT.wav | import IN OUT.wav [--normalize] [--trim] "
         "[--target LUFS]",
         cmdSound},
    };
}

} // namespace cli

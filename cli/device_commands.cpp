// The device commands of zirezid-cli: the same device link as the read/write dialog, with a user interface that
// writes to standard error and answers its questions from the command line.
#include "cli/commands.h"

#include "link/device_link.h"
#include "link/sound_conversion.h"
#include "model/tables.h"
#include "model/unit_config.h"
#include "serial/main_thread.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace cli {
namespace {

namespace fs = std::filesystem;
using devlink::DeviceLink;

std::atomic<bool> g_interrupted{false};
void onInterrupt(int) { g_interrupted = true; }

// Messages and questions on standard error; progress only where a person watches.
class HeadlessUi : public devlink::LinkUi {
public:
    bool skipOnError = false;
    bool replaceAll = false;
    DeviceLink* link = nullptr;
    std::vector<std::string> rows; // status per grid row
    std::vector<std::string> names;

    void processEvents(int maxWaitMs) override {
        serial::DefaultEventQueue().ProcessEvents(maxWaitMs);
        // Ctrl+C is the Stop button.
        if (g_interrupted.exchange(false) && link)
            link->bt_StopClick();
    }
    void selectRow(int) override {}
    void setRowStatus(int row, const std::string& status) override {
        if (rows.size() <= static_cast<std::size_t>(row))
            rows.resize(static_cast<std::size_t>(row) + 1);
        rows[static_cast<std::size_t>(row)] = status;
        endProgress();
        const std::size_t k = static_cast<std::size_t>(row - 1);
        std::cerr << (k < names.size() ? names[k] : std::to_string(row)) << ": " << status << '\n';
    }
    void setStatusPanel(int panel, const std::string& text) override {
        if (panel != 1 || !isatty(STDERR_FILENO))
            return;
        std::cerr << '\r' << text << "\x1b[K" << std::flush;
        progressShown = true;
    }
    void setDialogState(int) override {}
    void deviceInfoChanged() override {}
    void showMessage(const std::string& text, const std::string&) override {
        endProgress();
        std::cerr << text << '\n';
    }
    int askAbortRetryIgnore(const std::string& text, bool allowSkip) override {
        endProgress();
        std::cerr << text << '\n';
        // Without a skip button the only other answer is retrying for ever: a script is better served by a stop.
        return allowSkip && skipOnError ? devlink::mrIgnore : devlink::mrAbort;
    }
    int askYesNoAll(const std::string& text) override {
        endProgress();
        std::cerr << text << (replaceAll ? " Да - для всех\n" : " Нет - для всех\n");
        return replaceAll ? devlink::mrYesToAll : devlink::mrNoToAll;
    }
    bool editText(const std::string& caption, const std::string&, std::string&) override {
        endProgress();
        std::cerr << caption << '\n';
        return false;
    }
    // True when every listed object ended with "OK".
    bool allOk(std::size_t count) const {
        if (rows.size() < count + 1)
            return false;
        for (std::size_t k = 1; k <= count; ++k)
            if (rows[k] != "OK")
                return false;
        return true;
    }

private:
    void endProgress() {
        if (progressShown)
            std::cerr << '\n';
        progressShown = false;
    }
    bool progressShown = false;
};

struct Options {
    std::string port;
    std::optional<std::string> password;
    std::optional<std::string> objects;
    std::optional<std::string> set;
    std::string onError = "stop";
    std::string replace = "no";
    bool messages = false;
    Args rest;
};

// Parses the options a command allows ("--messages" is a flag, the others take a value).
std::optional<Options> parse(const char* name, const Args& args, const std::vector<std::string>& allowed,
                             std::size_t plain, bool needPort, int& rc) {
    Options o;
    std::string problem;
    auto allowedOption = [&](const std::string& a) {
        for (const auto& x : allowed)
            if (x == a)
                return true;
        return false;
    };
    for (std::size_t i = 0; i < args.size() && problem.empty(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            if (!allowedOption(a)) {
                problem = "unknown option " + a;
                break;
            }
            if (a == "--messages") {
                o.messages = true;
                continue;
            }
            if (i + 1 >= args.size()) {
                problem = a + " needs a value";
                break;
            }
            const std::string& v = args[++i];
            if (a == "--port")
                o.port = v;
            else if (a == "--password")
                o.password = v;
            else if (a == "--objects")
                o.objects = v;
            else if (a == "--set")
                o.set = v;
            else if (a == "--on-error")
                o.onError = v;
            else if (a == "--replace")
                o.replace = v;
        } else {
            o.rest.push_back(a);
        }
    }
    if (problem.empty() && needPort && o.port.empty())
        problem = "--port is required";
    if (problem.empty() && o.rest.size() != plain)
        problem = "expected " + std::to_string(plain) + " argument(s)";
    if (problem.empty() && o.onError != "stop" && o.onError != "skip")
        problem = "--on-error wants stop or skip";
    if (problem.empty() && o.replace != "yes" && o.replace != "no")
        problem = "--replace wants yes or no";
    if (!problem.empty()) {
        rc = usageError(*findCommand(name), problem);
        return std::nullopt;
    }
    return o;
}

// COMn goes through the port number (and so through ZIREZID_COMn and the preferences); anything else is a path.
void choosePort(DeviceLink& link, const std::string& port) {
    if (port.size() > 3 && port.compare(0, 3, "COM") == 0 &&
        port.find_first_not_of("0123456789", 3) == std::string::npos) {
        link.comPortNumber = std::atoi(port.c_str() + 3);
        link.devicePath.clear();
    } else {
        link.devicePath = fs::absolute(port).string();
    }
}

// A scratch folder for the staged message files, removed when the command ends.
class Scratch {
public:
    Scratch() {
        std::string t = (fs::temp_directory_path() / "zirezid-cli-XXXXXX").string();
        if (mkdtemp(t.data()))
            path_ = t + "/";
    }
    ~Scratch() {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
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
        std::signal(SIGINT, onInterrupt);
    }
    ~Session() {
        try {
            link.closeSession();
        } catch (...) {
        }
        std::signal(SIGINT, SIG_DFL);
    }
};

void collectLeaves(KT_TABLE& table, std::vector<std::pair<std::string, KT_TABLE*>>& out) {
    bool hasTreeChildren = false;
    for (auto& child : table.children)
        if (KT_TABLE* sub = child.second->table(); sub && sub->isVisible && isTreeTable(*sub)) {
            hasTreeChildren = true;
            collectLeaves(*sub, out);
        }
    if (!hasTreeChildren && isTreeTable(table) && std::string(table.className()) != "KT_BASE")
        out.emplace_back(table.getDescription(), &table);
}

// The objects named on the command line (a list object stands for its leaves), or every leaf in tree order.
bool chooseObjects(const char* name, SettingsDatabase& db, const std::optional<std::string>& names,
                   std::vector<std::pair<std::string, KT_TABLE*>>& out, int& rc) {
    if (!names) {
        collectLeaves(*db.root, out);
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
        collectLeaves(*object, out);
    }
    return true;
}

std::string fullPath(const std::string& path) {
    std::error_code ec;
    const auto p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

int connect(Session& s) {
    try {
        return s.link.openSession() ? kOk : kRefused;
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
    db.buildNewBase((fs::temp_directory_path() / "noname.qor").string());
    Session s(*o, db);
    if (connect(s) != kOk)
        return kRefused;
    for (auto& child : db.deviceInfo->children)
        std::cout << child.second->key << '=' << child.second->getEditText() << '\n';
    return kOk;
}

// Copies every file of the downloaded message folders over the database's own, folder by folder.
bool mergeMessages(const std::string& from, const std::string& to) {
    std::error_code ec;
    if (!fs::exists(from, ec))
        return true;
    for (const auto& folder : fs::directory_iterator(from, ec)) {
        if (!folder.is_directory())
            continue;
        const fs::path target = fs::path(to) / folder.path().filename();
        fs::create_directories(target, ec);
        for (const auto& file : fs::directory_iterator(folder.path(), ec)) {
            fs::copy_file(file.path(), target / file.path().filename(), fs::copy_options::overwrite_existing, ec);
            if (ec) {
                std::cerr << "Невозможно сохранить файл: " << (target / file.path().filename()).string() << '\n';
                return false;
            }
        }
    }
    return true;
}

int cmdRead(const Args& args) {
    int rc = kOk;
    const auto o =
        parse("read", args, {"--port", "--password", "--objects", "--messages", "--on-error"}, 1, true, rc);
    if (!o)
        return rc;
    const std::string path = fullPath(o->rest[0]);
    SettingsDatabase db;
    if (!db.loadBase(path))
        return kRefused;
    Session s(*o, db);
    if (!chooseObjects("read", db, o->objects, s.link.linkObjects, rc))
        return rc;
    for (auto& [caption, object] : s.link.linkObjects)
        s.ui.names.push_back(object->name);
    if (connect(s) != kOk)
        return kRefused;
    // Downloads land beside the scratch folder first, so a failed run leaves the messages folder as it was.
    const std::string realMessages = db.messagesFolder;
    db.messagesFolder = s.scratch.path() + "messages/";
    fs::create_directories(db.messagesFolder);
    s.link.isLoadMsg = o->messages;
    try {
        s.link.readAll();
    } catch (const std::exception& e) {
        db.messagesFolder = realMessages;
        std::cerr << e.what() << '\n';
        return kRefused;
    }
    const std::string downloaded = db.messagesFolder;
    db.messagesFolder = realMessages;
    if (!s.ui.allOk(s.link.linkObjects.size()))
        return kRefused;
    // A field the unit sent that its kind refuses is shown and keeps its old value: saving then would store a mix
    // of read and old values under an exit status that says every object was read.
    auto& h = static_cast<CliHost&>(host::current());
    const int shownBefore = h.messageCount;
    s.link.applyPendingAnswers();
    if (h.messageCount != shownBefore)
        return kRefused;
    if (!db.saveBase(path) || !mergeMessages(downloaded, db.messagesFolder))
        return kRefused;
    return kOk;
}

int cmdWrite(const Args& args) {
    int rc = kOk;
    const auto o =
        parse("write", args, {"--port", "--password", "--objects", "--replace", "--on-error"}, 1, true, rc);
    if (!o)
        return rc;
    SettingsDatabase db;
    if (!db.loadBase(fullPath(o->rest[0])))
        return kRefused;
    Session s(*o, db);
    if (!chooseObjects("write", db, o->objects, s.link.linkObjects, rc))
        return rc;
    for (auto& [caption, object] : s.link.linkObjects)
        s.ui.names.push_back(object->name);
    if (connect(s) != kOk)
        return kRefused;
    s.link.writeMode = true;
    try {
        const int done = s.link.writeAll();
        return done == static_cast<int>(s.link.linkObjects.size()) && s.ui.allOk(s.link.linkObjects.size())
                   ? kOk
                   : kRefused;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return kRefused;
    }
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
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                    &t.second, &tail) != 6)
        return std::nullopt;
    if (t.year < 2000 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 ||
        t.minute > 59 || t.second > 59)
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
        return usageError(*findCommand("clock"), "--set wants now or \"YYYY-MM-DD HH:MM:SS\" (2000 to 2099)");
    SettingsDatabase db;
    db.selectUnitConfig(kDefaultConfigId);
    db.buildNewBase((fs::temp_directory_path() / "noname.qor").string());
    Session s(*o, db);
    if (connect(s) != kOk)
        return kRefused;
    try {
        if (wanted && !s.link.setDeviceClock(*wanted))
            return kRefused;
        devlink::DeviceDateTime t;
        if (!s.link.getDeviceClock(t))
            return kRefused;
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
    int rc = kOk;
    const auto o = parse("sound", args, {}, 3, false, rc);
    if (!o)
        return rc;
    const std::string& direction = o->rest[0];
    if (direction != "to-device" && direction != "to-wav")
        return usageError(*findCommand("sound"), "the direction is to-device or to-wav");
    const int r = sound::convertSoundFile(o->rest[1], o->rest[2], direction == "to-wav",
                                          isatty(STDERR_FILENO) ? stderr : nullptr);
    if (r != 0) {
        std::cerr << "Ошибка " << r << ": " << o->rest[1] << '\n';
        return kRefused;
    }
    return kOk;
}

} // namespace

std::vector<Command> deviceCommands() {
    return {
        {"info", "--port PORT [--password P]", cmdInfo},
        {"read", "--port PORT [--password P] [--messages] [--objects NAME,...] [--on-error stop|skip] FILE", cmdRead},
        {"write", "--port PORT [--password P] [--objects NAME,...] [--replace yes|no] [--on-error stop|skip] FILE",
         cmdWrite},
        {"clock", "--port PORT [--password P] [--set now|\"YYYY-MM-DD HH:MM:SS\"]", cmdClock},
        {"sound", "to-device IN.wav OUT.ktm | to-wav IN.ktm OUT.wav", cmdSound},
    };
}

} // namespace cli

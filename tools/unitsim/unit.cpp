#include "tools/unitsim/unit.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "tools/unitsim/block_transfer.h"
#include "tools/unitsim/device_text.h"
#include "tools/unitsim/line_codec.h"

namespace fs = std::filesystem;

namespace unitsim {
namespace {

// A command that stops arriving for this long is taken as it stands (a half command is answered "ERR 1").
constexpr int kQuietMs = 500;
// No command of the unit is anywhere near this long; more is garbage and is answered once it stops.
constexpr std::size_t kMaxCommand = 1024;
constexpr std::size_t kMaxPasswordLine = 64;

constexpr const char* kPrompt = "\r\n#";
const char* const kVerbs[] = {"geto", "seto", "getp", "del", "ul", "dl"};

bool knownVerb(const std::string& v) { return std::find(std::begin(kVerbs), std::end(kVerbs), v) != std::end(kVerbs); }

std::string err(int n) { return "ERR " + std::to_string(n) + kPrompt; }

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// Names from block 0 end up in a file field ("{...:name:...}") and on the disk: the characters that would
// break either are replaced.
std::string safeName(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        bool bad = u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '{' || c == '}' || c == '#' || u == 0x7F;
        out += bad ? '_' : c;
    }
    if (!out.empty() && out[0] == '.')
        out[0] = '_';
    if (out.empty())
        out = "message.ktm";
    return out;
}

std::int64_t localNow() {
    std::time_t t = std::time(nullptr);
    std::tm parts{};
    localtime_r(&t, &parts);
    return static_cast<std::int64_t>(timegm(&parts));
}

} // namespace

Unit::Unit(const UnitOptions& options) : options_(options) {
    store_ = makeSchemaStore(options.type, [this](const std::string& code) { return fileField(code); });
    if (!options_.clock.empty()) {
        auto tok = splitDeviceText(options_.clock + " ", 3);
        if (tok.values.size() != 3 || !setClock(tok.values[0].text, tok.values[1].text, tok.values[2].text)) {
            throw std::runtime_error("--clock wants DDMMYY HHMM SS, got \"" + options_.clock + "\"");
        }
    }
    // The device information must be something the configurator can read back: its kinds check the options.
    if (!refreshDynamic()) {
        throw std::runtime_error(
            "--model-code (0..99), --soft-ver (8 characters) or --config-id (0..9999) out of range");
    }
    loadObjects();
}

// ---- state folder ----

std::string Unit::objectPath(const std::string& code) const {
    return (fs::path(options_.stateDir) / "objects" / (store_->objectName(code) + ".txt")).string();
}

std::string Unit::messageDir(const std::string& menuCode) const {
    return (fs::path(options_.stateDir) / "messages" / (menuCode + "01")).string();
}

void Unit::loadObjects() {
    fs::create_directories(fs::path(options_.stateDir) / "objects");
    fs::create_directories(fs::path(options_.stateDir) / "messages");
    for (const auto& code : store_->codes()) {
        if (code == "90" || code == "91")
            continue; // the unit's own, made fresh for every answer
        std::ifstream in(objectPath(code));
        std::string line;
        int number = 0;
        while (in && std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line[0] == '#')
                continue;
            auto eq = line.find('=');
            if (eq == std::string::npos || !store_->setField(code, line.substr(0, eq), line.substr(eq + 1))) {
                std::cerr << "unitsim: " << objectPath(code) << ":" << number << ": ignored \"" << line
                          << "\" (unknown key or refused value)\n";
            }
        }
        saveObject(code);
    }
}

void Unit::saveObject(const std::string& code) const {
    std::string path = objectPath(code);
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << "# " << store_->objectName(code) << ", object code " << code << ": key=value as sent on the line\n";
        for (const auto& [key, value] : store_->fields(code))
            out << key << '=' << value << '\n';
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec)
        std::cerr << "unitsim: cannot write " << path << ": " << ec.message() << "\n";
}

std::optional<MessageFile> Unit::messageOf(const std::string& menuCode) const {
    std::error_code ec;
    fs::path dir = messageDir(menuCode);
    if (!fs::is_directory(dir, ec))
        return std::nullopt;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.is_regular_file(ec) && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    }
    if (files.empty())
        return std::nullopt;
    std::sort(files.begin(), files.end());
    return MessageFile{files[0].string(), files[0].filename().string(), fs::file_size(files[0], ec)};
}

std::uint64_t Unit::freeSpace() const {
    std::uint64_t used = 0;
    for (const auto& code : store_->codes()) {
        if (!store_->isMenu(code))
            continue;
        if (auto m = messageOf(code))
            used += m->size;
    }
    return used >= options_.capacity ? 0 : options_.capacity - used;
}

std::string Unit::fileField(const std::string& menuCode) const {
    auto m = messageOf(menuCode);
    if (!m)
        return "{}";
    return "{" + menuCode + "01:" + m->name + ":" + std::to_string(m->size) + "}";
}

// ---- clock and device information ----

std::string Unit::clockText() const {
    std::time_t t = static_cast<std::time_t>(localNow() + clockOffset_);
    std::tm p{};
    gmtime_r(&t, &p);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d %02d%02d %02d", p.tm_mday, p.tm_mon + 1, p.tm_year % 100, p.tm_hour,
                  p.tm_min, p.tm_sec);
    return buf;
}

bool Unit::setClock(const std::string& date, const std::string& time, const std::string& seconds) {
    auto digits = [](const std::string& s, std::size_t n) {
        return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(date, 6) || !digits(time, 4) || seconds.empty() || seconds.size() > 2 ||
        !digits(seconds, seconds.size())) {
        return false;
    }
    std::tm p{};
    p.tm_mday = std::stoi(date.substr(0, 2));
    p.tm_mon = std::stoi(date.substr(2, 2)) - 1;
    p.tm_year = 100 + std::stoi(date.substr(4, 2));
    p.tm_hour = std::stoi(time.substr(0, 2));
    p.tm_min = std::stoi(time.substr(2, 2));
    p.tm_sec = std::stoi(seconds);
    if (p.tm_mon < 0 || p.tm_mon > 11 || p.tm_mday < 1 || p.tm_mday > 31 || p.tm_hour > 23 || p.tm_min > 59 ||
        p.tm_sec > 59) {
        return false;
    }
    clockOffset_ = static_cast<std::int64_t>(timegm(&p)) - localNow();
    return true;
}

bool Unit::refreshDynamic() {
    UnitCounts counts = countsOf(options_.type);
    int model = options_.modelCode >= 0 ? options_.modelCode : (options_.type == UnitType::QOR11 ? 11 : 22);
    bool ok = store_->setField("90", "ModelCode", std::to_string(model));
    ok = store_->setField("90", "SerialNum", std::to_string(options_.serialNumber)) && ok;
    ok = store_->setField("90", "SoftVer", "'" + options_.softwareVersion + "'") && ok;
    ok = store_->setField("90", "ConfigID",
                          std::to_string(options_.configId >= 0 ? options_.configId : counts.configId)) &&
         ok;
    ok = store_->setField("90", "ConfigKey", std::to_string(options_.configKey)) && ok;
    ok = store_->setField("90", "FreeSpaceBytes", std::to_string(std::min<std::uint64_t>(freeSpace(), 4294967295u))) &&
         ok;
    std::string c = clockText();
    ok = store_->setField("91", "Date", c.substr(0, 6)) && ok;
    ok = store_->setField("91", "Time", c.substr(7, 4)) && ok;
    return store_->setField("91", "Seconds", c.substr(12, 2)) && ok;
}

// ---- the line ----

void Unit::answerRaw(Line& line, const std::string& bytes) {
    if (options_.mute)
        return;
    if (options_.delayMs > 0 && !sleepUntil(Clock::now() + std::chrono::milliseconds(options_.delayMs)))
        return;
    line.write(bytes);
}

void Unit::answer(Line& line, const std::string& utf8) {
    auto bytes = utf8ToLine(utf8);
    if (!bytes) {
        // Only texts prepared by hand in the state folder can get here; the line then shows "?" for them.
        std::string ascii;
        for (char c : utf8) {
            if (static_cast<unsigned char>(c) < 0x80)
                ascii += c;
            else if ((static_cast<unsigned char>(c) & 0xC0) == 0xC0)
                ascii += '?';
        }
        bytes = ascii;
    }
    answerRaw(line, *bytes);
}

void Unit::serve(Line& line) {
    state_ = State::LoggedOut;
    buffer_.clear();
    overlong_ = false;
    for (;;) {
        std::uint8_t b = 0;
        bool pending = !buffer_.empty() || overlong_;
        auto st = line.readByte(b, pending ? kQuietMs : 1000);
        if (st == Line::Status::Closed)
            return;
        if (st == Line::Status::Timeout) {
            if (pending)
                onQuiet(line);
            continue;
        }
        onByte(line, b);
    }
}

void Unit::onByte(Line& line, std::uint8_t b) {
    buffer_ += static_cast<char>(b);
    // " quit\r" ends whatever the unit was doing, a half-typed command included.
    if (buffer_.size() >= 5 && buffer_.compare(buffer_.size() - 5, 5, "quit\r") == 0) {
        bool wasIn = state_ == State::LoggedIn;
        buffer_.clear();
        overlong_ = false;
        state_ = State::AwaitPassword;
        answer(line, wasIn ? "OK\r\nPassword:" : "\r\nPassword:");
        return;
    }
    switch (state_) {
    case State::LoggedOut:
        if (buffer_.size() > 16)
            buffer_.erase(0, buffer_.size() - 8);
        return;
    case State::AwaitPassword: {
        if (b != '\r') {
            if (buffer_.size() > kMaxPasswordLine)
                buffer_.erase(0, buffer_.size() - 8);
            return;
        }
        std::string typed = trimmed(buffer_);
        buffer_.clear();
        if (options_.busy) {
            state_ = State::LoggedOut;
            answer(line, "\r\nBUSY\r\n");
            return;
        }
        std::string password;
        for (const auto& [key, value] : store_->fields("0")) {
            if (key == "Password")
                password = value;
        }
        if (typed == password) {
            state_ = State::LoggedIn;
            answer(line, kPrompt);
        } else {
            answer(line, "\r\nERROR\r\nPassword:");
        }
        return;
    }
    case State::LoggedIn:
        // A line end ends whatever came before it: a command is never split by one, so text before it that
        // is no complete command is answered as if the line had gone quiet, and what follows starts afresh.
        // Otherwise noise and the CR LF after it would swallow the command behind them.
        if (b == '\r' || b == '\n') {
            buffer_.pop_back();
            if (overlong_) {
                buffer_.clear();
                overlong_ = false;
                answer(line, err(4));
            } else {
                tryCommand(line, true);
            }
            buffer_.clear();
            return;
        }
        if (overlong_ || buffer_.size() > kMaxCommand) {
            overlong_ = true;
            if (buffer_.size() > 16)
                buffer_.erase(0, buffer_.size() - 8); // enough to see a quit
            return;
        }
        tryCommand(line, false);
        return;
    }
}

void Unit::onQuiet(Line& line) {
    if (state_ != State::LoggedIn) {
        if (state_ == State::LoggedOut)
            buffer_.clear();
        return; // a half password line waits for its carriage return
    }
    if (overlong_) {
        buffer_.clear();
        overlong_ = false;
        answer(line, err(4));
        return;
    }
    tryCommand(line, true);
}

void Unit::tryCommand(Line& line, bool quiet) {
    std::size_t start = 0;
    while (start < buffer_.size() && static_cast<unsigned char>(buffer_[start]) <= ' ')
        ++start;
    if (start == buffer_.size()) {
        // Blanks and control bytes alone (stray ACK or CAN after a transfer, line ends) are not a command.
        if (quiet || buffer_.size() > 64)
            buffer_.clear();
        return;
    }
    std::string text = lineToUtf8(buffer_.substr(start));
    auto finish = [&](const std::string& reply) {
        buffer_.clear();
        answer(line, reply);
    };
    std::size_t verbEnd = text.find(' ');
    if (verbEnd == std::string::npos) {
        if (quiet)
            finish(knownVerb(text) ? err(1) : err(4));
        return;
    }
    std::string verb = text.substr(0, verbEnd);
    if (!knownVerb(verb)) {
        if (quiet)
            finish(err(4)); // the rest of an unknown command is swallowed with it
        return;
    }
    std::size_t argStart = text.find_first_not_of(' ', verbEnd);
    std::size_t argEnd = argStart == std::string::npos ? std::string::npos : text.find(' ', argStart);
    if (argEnd == std::string::npos) {
        if (quiet)
            finish(err(1));
        return;
    }
    std::string arg = text.substr(argStart, argEnd - argStart);
    if (verb != "seto") {
        buffer_.clear();
        execute(line, verb, arg, {});
        return;
    }
    if (!store_->knows(arg)) {
        if (quiet)
            finish(err(2)); // its values are unknown too: wait until they have all arrived
        return;
    }
    std::string rest = text.substr(argEnd);
    if (quiet || splitDeviceText(rest, *store_->valueCount(arg)).complete) {
        buffer_.clear();
        execute(line, verb, arg, rest);
    }
}

void Unit::execute(Line& line, const std::string& verb, const std::string& arg, const std::string& rest) {
    if (verb == "geto") {
        if (!store_->knows(arg))
            return answer(line, err(2));
        refreshDynamic();
        return answer(line, store_->deviceText(arg) + "OK" + kPrompt);
    }
    if (verb == "seto") {
        if (arg == "90")
            return answer(line, err(3)); // device information is the unit's own
        int r = store_->setFromDeviceText(arg, rest);
        if (r != 0)
            return answer(line, err(r));
        if (arg == "91") {
            std::string date, time, seconds;
            for (const auto& [key, value] : store_->fields("91")) {
                if (key == "Date")
                    date = value;
                if (key == "Time")
                    time = value;
                if (key == "Seconds")
                    seconds = value;
            }
            if (!setClock(date, time, seconds))
                return answer(line, err(3));
        } else {
            saveObject(arg);
        }
        return answer(line, std::string("OK") + kPrompt);
    }
    // The file commands name the menu's message field: menu code followed by "01".
    std::string menu = arg.size() > 2 && arg.compare(arg.size() - 2, 2, "01") == 0 ? arg.substr(0, arg.size() - 2) : "";
    if (menu.empty() || !store_->isMenu(menu))
        return answer(line, err(2));
    if (verb == "getp")
        return answer(line, fileField(menu) + " OK" + kPrompt);
    if (verb == "del") {
        auto m = messageOf(menu);
        if (!m)
            return answer(line, err(16));
        std::error_code ec;
        fs::remove(m->path, ec);
        return answer(line, ec ? err(16) : std::string("OK") + kPrompt);
    }
    if (verb == "ul")
        return upload(line, menu);
    if (verb == "dl")
        return download(line, menu);
}

void Unit::upload(Line& line, const std::string& menu) {
    if (messageOf(menu))
        return answer(line, err(15));
    if (options_.mute)
        return;
    if (options_.delayMs > 0 && !sleepUntil(Clock::now() + std::chrono::milliseconds(options_.delayMs)))
        return;
    fs::path part = fs::path(options_.stateDir) / "messages" / ("." + menu + "01.part");
    ReceivedFile received;
    line.beginTransfer();
    int r = receiveFile(line, part.string(), freeSpace(), received);
    line.endTransfer();
    std::error_code ec;
    if (r == 0 && received.any) {
        // Only a complete file becomes the menu's message.
        fs::path dir = messageDir(menu);
        fs::create_directories(dir, ec);
        fs::rename(part, dir / safeName(lineToUtf8(received.lineName)), ec);
        if (ec)
            r = 14;
    }
    fs::remove(part, ec);
    if (line.transcript())
        line.transcript()->note("upload of " + menu + "01 ended with " + std::to_string(r));
    if (r == kLineClosed)
        return;
    answer(line, r == 0 ? std::string("OK") + kPrompt : err(r));
}

void Unit::download(Line& line, const std::string& menu) {
    auto m = messageOf(menu);
    if (!m)
        return answer(line, "-"); // no prompt: the link stops reading at the "-"
    answer(line, "START");
    if (options_.mute)
        return;
    auto lineName = utf8ToLine(m->name);
    line.beginTransfer();
    int r = sendFile(line, m->path, lineName ? *lineName : std::string("message.ktm"));
    line.endTransfer();
    if (line.transcript())
        line.transcript()->note("download of " + menu + "01 ended with " + std::to_string(r));
    if (r == kLineClosed)
        return;
    answer(line, r == 0 ? std::string("OK") + kPrompt : err(r));
}

} // namespace unitsim

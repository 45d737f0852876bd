// The simulated unit: its objects, message files, device information and clock, kept in a state folder, and
// the command reader that serves one peer on the line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tools/unitsim/line.h"
#include "tools/unitsim/object_store.h"

namespace unitsim {

struct UnitOptions {
    UnitType type = UnitType::QOR22;
    std::string stateDir;
    bool busy = false; // the password is answered "BUSY"
    bool mute = false; // the unit never answers
    int delayMs = 0;   // before every answer
    std::uint64_t capacity = 4u * 1024u * 1024u;
    int modelCode = -1; // -1: by unit type
    std::uint32_t serialNumber = 100001;
    std::string softwareVersion = "1.00.00";
    int configId = -1; // -1: the identifier of the unit type
    std::uint32_t configKey = 305419896;
    std::string clock; // "DDMMYY HHMM SS" to start from; empty: the host's clock
};

struct MessageFile {
    std::string path;
    std::string name; // UTF-8, as shown in the file field
    std::uint64_t size = 0;
};

class Unit {
public:
    explicit Unit(const UnitOptions& options);

    // Serves one peer until the line closes. The unit starts each peer logged out.
    void serve(Line& line);

    ObjectStore& store() { return *store_; }
    std::optional<MessageFile> messageOf(const std::string& menuCode) const;
    std::uint64_t freeSpace() const;
    std::string clockText() const;
    bool setClock(const std::string& date, const std::string& time, const std::string& seconds);

    // The command reader that serve() runs: one byte as the unit hears it, and the line having been quiet for
    // half a second. Public so that the reader can be driven without a pseudo-terminal (the fuzz target).
    void onByte(Line& line, std::uint8_t b);
    void onQuiet(Line& line);

private:
    enum class State { LoggedOut, AwaitPassword, LoggedIn };

    void answer(Line& line, const std::string& utf8);
    void answerRaw(Line& line, const std::string& bytes);
    void tryCommand(Line& line, bool quiet);
    void execute(Line& line, const std::string& verb, const std::string& arg, const std::string& rest);
    bool refreshDynamic();
    std::string fileField(const std::string& menuCode) const;
    std::string messageDir(const std::string& menuCode) const;
    void loadObjects();
    void saveObject(const std::string& code) const;
    std::string objectPath(const std::string& code) const;
    void upload(Line& line, const std::string& menuCode);
    void download(Line& line, const std::string& menuCode);

    UnitOptions options_;
    std::unique_ptr<ObjectStore> store_;
    std::int64_t clockOffset_ = 0; // seconds between the unit's clock and the host's local time
    State state_ = State::LoggedOut;
    std::string buffer_;
    bool overlong_ = false;
};

} // namespace unitsim

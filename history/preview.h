// What a write will change on the unit, as the preview shows it before anything is sent: the fields (unit now
// -> database) object by object, the recorded messages replaced, deleted or added, the conflicts with changes
// made on the unit since the database was read from it, and the unit's own changes that are kept.
#pragma once

#include "history/unit_identity.h"
#include "model/compare.h"

#include <string>
#include <vector>

namespace history {

// A field the unit changed since the database was read from it, and the database changed too.
struct Conflict {
    std::string objectName;
    std::string caption;
    std::string key;
    std::string description;
    std::string readValue; // edit texts: at the read, on the unit now, in the database
    std::string unitValue;
    std::string databaseValue;
    std::string unitStored; // the unit's stored form, put into the database when the unit's value stays
    bool keepUnit = false;  // the technician's choice: the unit's value stays
};

// A field only the unit changed since the read: not written back unless the technician says so.
struct UnitChange {
    std::string objectName;
    std::string caption;
    std::string key;
    std::string description;
    std::string unitValue;
    std::string databaseValue;
    std::string unitStored;
    bool overwrite = false;
};

enum class MessageFate { Replaced, Deleted, Added };

struct MessageChange {
    std::string objectName;
    std::string caption;
    MessageFate fate = MessageFate::Replaced;
    std::string unitMessage;     // describeMessage of the unit's message ("-" without one)
    std::string databaseMessage; // describeMessage of the database's
    bool kept = false;           // the unit's message is in the before-write snapshot
    // False when the unit's recording has the database's name but was not downloaded: the write sends it
    // again, and whether that changes what the unit plays is not known.
    bool compared = true;
};

struct Preview {
    UnitIdentity unit;
    std::string beforeSnapshot;  // the snapshot that holds what the write destroys (path); empty without history
    std::string baseSnapshot;    // the read the database came from, when the history knows it
    compare::Comparison changes; // A = the unit now, B = the database; only the objects to be written
    std::vector<Conflict> conflicts;
    std::vector<UnitChange> unitChanges;
    std::vector<MessageChange> messages;
    std::vector<std::string> notRead; // objects the pre-write read skipped: they are not written
    bool messagesDownloaded = true;
    // Set by whoever showed the preview to the technician: the write then asks nothing more about messages.
    bool shown = false;
    // Nothing would change on the unit (conflicts and unit changes count as changes only when they are
    // written).
    bool unchanged() const;
    int changedObjects() const;
};

// The preview as lines for people and scripts: "object<TAB>key<TAB>unit now<TAB>database", conflicts first
// ("КОНФЛИКТ"), then the changes, then the messages; a head line says which unit.
std::vector<std::string> previewLines(const Preview& preview);

// What becomes of the unit's recording, as the preview says it (without the history suffix).
const char* messageFateText(const MessageChange& change);

// One line: how many objects change, how many messages are replaced and deleted.
std::string previewSummary(const Preview& preview);

namespace text {
inline constexpr const char* unitNotIdentified =
    "Устройство не удалось опознать (серийный номер не получен): история ведётся в папке ";
inline constexpr const char* conflict = "КОНФЛИКТ";
inline constexpr const char* unitChange = "ИЗМЕНЕНО НА УСТРОЙСТВЕ";
inline constexpr const char* messageReplaced = "сообщение будет заменено";
inline constexpr const char* messageDeleted = "сообщение будет удалено";
inline constexpr const char* messageAdded = "сообщение будет записано";
inline constexpr const char* notDownloaded = " (не сохранено в истории)";
inline constexpr const char* messageNotCompared =
    "сообщение будет записано заново; совпадает ли оно с записью на устройстве, неизвестно: запись устройства "
    "не загружалась перед записью";
inline constexpr const char* conflictsNeedChoice =
    "Поля изменены и на устройстве после чтения, и в базе: запись не выполнена, на устройство ничего не "
    "передано. "
    "Укажите, что оставить: --conflicts database (значения базы) или --conflicts unit (значения устройства).";
inline constexpr const char* unchanged = "Устройство уже совпадает с базой: записывать нечего.";
} // namespace text

} // namespace history

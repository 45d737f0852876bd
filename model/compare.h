// What differs between two settings databases, object by object in tree order: the fields as the editors
// show them, the recorded message of each menu (by name and by its bytes), and the objects that only one of
// them has (databases of different unit types). A plain result that the window, zirezid-cli and a report
// read alike; the databases are only read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SettingsDatabase;

namespace compare {

// A field whose stored form differs; the values are the edit texts the editors show.
struct FieldDifference {
    std::string key;         // the field's list name (Message, ActionDTMF[1], Password ...)
    std::string description; // the field's description
    std::string valueA;
    std::string valueB;
};

// The message file of a menu on one side.
struct MessageFile {
    std::string name; // the Message field's stored form; "-" or empty for none
    std::string path; // where the file is expected; empty when the menu names none
    bool present = false;
    std::uintmax_t size = 0;
    std::uint32_t crc32 = 0;
};

// The recorded message of a menu on both sides. Set only where it is not the same file with the same bytes.
struct MessageDifference {
    MessageFile a;
    MessageFile b;
    bool sameName = false;
    bool sameBytes = false; // both present and byte for byte equal, or both without a message
};

enum class Presence { Both, OnlyA, OnlyB };

// One object that differs. An object on one side only carries no fields: everything of it differs.
struct ObjectDifference {
    std::string objectName; // SYSPARAM, TRK(2), MENU(3), DEVICEINFO ...
    std::string captionA;   // the tree's caption on each side (empty on the side without the object)
    std::string captionB;
    Presence presence = Presence::Both;
    std::vector<FieldDifference> fields;
    bool hasMessageDifference = false;
    MessageDifference message;
};

struct Comparison {
    std::string unitTypeA; // QOR11, QOR22
    std::string unitTypeB;
    std::vector<ObjectDifference> objects; // tree order, DEVICEINFO last as the dump shows it
    bool equal() const { return objects.empty(); }
};

// Compares every object of both databases: those of the tree (hidden ones too: the file keeps them), then
// the device information, which carries the unit type. Message files are looked for in each database's
// messages folder, as a write to the unit would take them.
Comparison compareDatabases(const SettingsDatabase& a, const SettingsDatabase& b);

// One line of a message file's state for people and scripts: "greeting.wav (12345 байт, CRC32 1A2B3C4D)",
// "greeting.wav (нет файла)", "-" for no message.
std::string describeMessage(const MessageFile& file);

// One difference as a row: object name, key, value in A, value in B. An object on one side only has an empty
// key and its caption against kNoObject; a menu's recording that differs is one row under the key Message
// (describeMessage on each side), which then stands for the Message field's row.
struct Row {
    std::string objectName;
    std::string key;
    std::string valueA;
    std::string valueB;
};
std::vector<Row> rowsOf(const Comparison& comparison);

// The text of a side without the object.
inline constexpr const char* kNoObject = "(нет объекта)";
inline constexpr const char* kNoField = "(нет поля)";

} // namespace compare

// The unit's objects as the command reader sees them. The reader only needs to know which codes exist, how
// many values a seto text carries, the device text of an object and whether a new text is accepted; the
// schema behind this interface can be exchanged without touching the protocol.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace unitsim {

enum class UnitType { QOR11, QOR22 };

struct UnitCounts {
    int configId;
    int lines;
    int menus;
    int mailboxes;
};
UnitCounts countsOf(UnitType type);

class ObjectStore {
public:
    // Device text of the menu's file field ("{}" or "{...}") for a menu code; the message files live
    // elsewhere.
    using FileField = std::function<std::string(const std::string& menuCode)>;

    virtual ~ObjectStore() = default;

    virtual std::vector<std::string> codes() const = 0; // every object code, in tree order
    virtual bool knows(const std::string& code) const = 0;
    virtual bool isMenu(const std::string& code) const = 0;
    virtual std::string objectName(const std::string& code) const = 0; // SYSPARAM, MENU(0), ...
    // Values in the text a seto carries for the object (file fields are never sent).
    virtual std::optional<std::size_t> valueCount(const std::string& code) const = 0;
    // Field values in field order, each followed by a blank, texts in apostrophes, file fields in braces.
    virtual std::string deviceText(const std::string& code) const = 0;
    // All values checked on a scratch copy first: 0 accepted, 2 unknown code, 3 a value refused (nothing
    // changed).
    virtual int setFromDeviceText(const std::string& code, const std::string& text) = 0;

    // Field access for the state folder and for the unit's own fields (device information, clock, password).
    virtual std::vector<std::pair<std::string, std::string>> fields(const std::string& code) const = 0;
    // false when the key is unknown or the kind refuses the stored form.
    virtual bool setField(const std::string& code, const std::string& key, const std::string& stored) = 0;
};

std::unique_ptr<ObjectStore> makeSchemaStore(UnitType type, ObjectStore::FileField fileField);

} // namespace unitsim

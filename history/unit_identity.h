// Which unit a snapshot belongs to: its type and serial number as the device information says at connect.
#pragma once

#include <string>

class SettingsDatabase;

namespace history {

struct UnitIdentity {
    std::string type;        // QOR11, QOR22
    std::string serial;      // decimal; empty when the unit could not be identified
    std::string softVersion; // the unit's software version, as the device information says
    bool identified() const { return !serial.empty(); }
    // The unit's folder in the history: "QOR22-100001", or "QOR22-unknown" for a unit without a serial
    // number.
    std::string folderName() const;
};

// The unit the database's device information describes (as the link leaves it after connecting). A serial
// number of 0 means the unit did not give one.
UnitIdentity identify(const SettingsDatabase& db);

// "QOR22-100001" back into its parts; false for a name that is no unit folder.
bool parseFolderName(const std::string& name, UnitIdentity& unit);

} // namespace history

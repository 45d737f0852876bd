#include "history/unit_identity.h"

#include "model/tables.h"
#include "model/unit_config.h"

namespace history {

std::string UnitIdentity::folderName() const { return type + "-" + (identified() ? serial : "unknown"); }

UnitIdentity identify(const SettingsDatabase& db) {
    UnitIdentity unit;
    unit.type = db.currentConfig.name;
    if (!db.deviceInfo)
        return unit;
    KT_TABLE& info = *db.deviceInfo;
    if (KT_RECORD* id = info.findChild("ConfigID"))
        for (const auto& row : unitConfigTable)
            if (std::to_string(row.id) == id->getText())
                unit.type = row.name;
    if (KT_RECORD* serial = info.findChild("SerialNum")) {
        const std::string text = serial->getText();
        if (!text.empty() && text.find_first_not_of('0') != std::string::npos)
            unit.serial = text.substr(text.find_first_not_of('0'));
    }
    if (KT_RECORD* version = info.findChild("SoftVer")) {
        unit.softVersion = version->getText();
        // The stored form of a text carries the unit's apostrophes.
        if (unit.softVersion.size() >= 2 && unit.softVersion.front() == '\'' && unit.softVersion.back() == '\'')
            unit.softVersion = unit.softVersion.substr(1, unit.softVersion.size() - 2);
    }
    return unit;
}

bool parseFolderName(const std::string& name, UnitIdentity& unit) {
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == name.size())
        return false;
    const std::string serial = name.substr(dash + 1);
    if (serial != "unknown" && serial.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unit.type = name.substr(0, dash);
    unit.serial = serial == "unknown" ? std::string() : serial;
    return true;
}

} // namespace history

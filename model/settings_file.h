// The settings file form of the tables: every object writes one section named by its object name, with
// "isVisible" for each sub-table and one line per field holding the field's stored form.
#pragma once

#include "model/ini_document.h"
#include "model/tables.h"

// Writes the table's fields into its own section and, for every sub-table, its "isVisible" and its subtree.
void saveTo(KT_TABLE& table, IniDocument& doc);

// Reads the table's fields and subtree back. A missing key leaves the field's current value; values are set
// on the value itself, so no change marks and no record messages. A bad time or date shows the value's own
// message and loading goes on; a bad value of another kind raises its KT_ERROR, which stops the load at that
// field and is passed on as a KT_LOAD_ERROR naming the section and the field.
void loadFrom(KT_TABLE& table, const IniDocument& doc);

// A field the settings file gave a value its kind refuses.
class KT_LOAD_ERROR : public KT_ERROR {
public:
    KT_LOAD_ERROR(std::string section, const KT_RECORD& record, const std::string& message);
    std::string section;
    std::string key;
    std::string fieldDescription;
    std::string valueMessage; // the value's own message
};

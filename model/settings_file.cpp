#include "model/settings_file.h"

namespace {

// The text shown for a refused field. It has the record's form (key, description, message) so that the user
// reads the same text as when editing, with the object name in front, because keys repeat in every menu.
std::string loadErrorText(const std::string& section, const KT_RECORD& record, const std::string& message) {
    return "[" + section + "] " + record.key + " (" + record.description + ") " + ": " + message;
}

} // namespace

KT_LOAD_ERROR::KT_LOAD_ERROR(std::string sectionName, const KT_RECORD& record, const std::string& message)
    : KT_ERROR(loadErrorText(sectionName, record, message)), section(std::move(sectionName)), key(record.key),
      fieldDescription(record.description), valueMessage(message) {}

void saveTo(KT_TABLE& table, IniDocument& doc) {
    for (auto& [listName, record] : table.children) {
        host::current().processEvents();
        if (KT_TABLE* sub = record->table()) {
            doc.writeString(sub->name, "isVisible", sub->isVisible ? "1" : "0");
            saveTo(*sub, doc);
        } else {
            doc.writeString(table.name, record->key, record->value->getText());
        }
    }
}

void loadFrom(KT_TABLE& table, const IniDocument& doc) {
    for (auto& [listName, record] : table.children) {
        host::current().processEvents();
        if (KT_TABLE* sub = record->table()) {
            sub->isVisible = doc.readInteger(sub->name, "isVisible", 0) != 0;
            loadFrom(*sub, doc);
        } else {
            KT_TYPE& value = *record->value;
            const std::string text = doc.readString(table.name, record->key, value.getText());
            try {
                value.setText(text);
            } catch (const KT_LOAD_ERROR&) {
                throw;
            } catch (const std::exception& e) {
                // KT_ERROR is the kinds' way to refuse; anything else a kind lets escape is refused alike
                // rather than ending the program on a bad file.
                throw KT_LOAD_ERROR(table.name, *record, e.what());
            }
        }
    }
}

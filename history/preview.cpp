#include "history/preview.h"

namespace history {

bool Preview::unchanged() const {
    if (!changes.objects.empty() || !messages.empty())
        return false;
    for (const auto& c : conflicts)
        if (!c.keepUnit)
            return false;
    for (const auto& u : unitChanges)
        if (u.overwrite)
            return false;
    return true;
}

int Preview::changedObjects() const { return static_cast<int>(changes.objects.size()); }

const char* messageFateText(const MessageChange& change) {
    switch (change.fate) {
    case MessageFate::Replaced:
        return change.compared ? text::messageReplaced : text::messageNotCompared;
    case MessageFate::Deleted:
        return text::messageDeleted;
    case MessageFate::Added:
        return text::messageAdded;
    }
    return text::messageReplaced;
}

std::string previewSummary(const Preview& preview) {
    int replaced = 0, deleted = 0, added = 0;
    for (const auto& m : preview.messages)
        (m.fate == MessageFate::Replaced ? replaced : m.fate == MessageFate::Deleted ? deleted : added)++;
    std::string s = "изменится объектов: " + std::to_string(preview.changedObjects());
    if (replaced)
        s += ", заменится сообщений: " + std::to_string(replaced);
    if (deleted)
        s += ", удалится сообщений: " + std::to_string(deleted);
    if (added)
        s += ", новых сообщений: " + std::to_string(added);
    if (!preview.conflicts.empty())
        s += ", конфликтов: " + std::to_string(preview.conflicts.size());
    if (!preview.unitChanges.empty())
        s += ", изменений на устройстве сохранится: " + std::to_string(preview.unitChanges.size());
    return s;
}

std::vector<std::string> previewLines(const Preview& preview) {
    std::vector<std::string> lines;
    if (!preview.unit.identified())
        lines.push_back(std::string(text::unitNotIdentified) + preview.unit.folderName());
    for (const auto& c : preview.conflicts)
        lines.push_back(std::string(text::conflict) + "\t" + c.objectName + "\t" + c.key + "\t" + c.unitValue + "\t" +
                        c.databaseValue + "\t(при чтении: " + c.readValue + ")");
    for (const auto& u : preview.unitChanges)
        lines.push_back(std::string(text::unitChange) + "\t" + u.objectName + "\t" + u.key + "\t" + u.unitValue + "\t" +
                        u.databaseValue + (u.overwrite ? "\t(будет перезаписано)" : "\t(сохраняется)"));
    for (const auto& row : compare::rowsOf(preview.changes))
        if (row.key != "Message")
            lines.push_back(row.objectName + "\t" + row.key + "\t" + row.valueA + "\t" + row.valueB);
    for (const auto& m : preview.messages) {
        lines.push_back(m.objectName + "\tMessage\t" + m.unitMessage + "\t" + m.databaseMessage + "\t" +
                        messageFateText(m) + (m.fate != MessageFate::Added && !m.kept ? text::notDownloaded : ""));
    }
    for (const auto& name : preview.notRead)
        lines.push_back(name + "\t\tне прочитано перед записью: не записывается");
    return lines;
}

} // namespace history

// The unit configurations and the one settings database of the program: building a new database for a
// configuration, loading and saving the settings file with its messages folder, and converting an open
// database to another configuration. The windows call these; what they must show goes through the host.
#pragma once

#include "model/actions.h"
#include "model/host.h"
#include "model/tables.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

// One row of the fixed table of unit configurations.
struct UnitConfig {
    int id = 0;
    std::string name; // at most 99 characters
    int lines = 0;    // trunk lines, and equally operator lines
    int menus = 0;
    int mailboxes = 0;
};

extern const std::array<UnitConfig, 2> unitConfigTable;

// The identifier the program starts with when the preferences name none it knows.
inline constexpr int kDefaultConfigId = 29;

namespace kt_text {
inline constexpr const char* unknownConfigMessage = "Неизвестная конфигурация базы данных. Загрузка невозможна";
inline constexpr const char* cannotCreateFolderMessage = "Невозможно создать папку: ";
// Saving and reading failures the original left to the toolkit's exception handler.
inline constexpr const char* cannotWriteFileMessage = "Невозможно сохранить файл: ";
inline constexpr const char* cannotCopyMessageMessage = "Невозможно скопировать файл сообщения: ";
inline constexpr const char* cannotReadFileMessage = "Невозможно прочитать файл: ";
inline constexpr const char* notCp1251Message = "Текст нельзя записать в кодировке Windows-1251: ";
} // namespace kt_text

// The editor frames the objects are built with (any may be nullptr: the host's empty frame is taken then).
struct KT_EDITOR_FRAMES {
    host::EditorWindow* ed_base = nullptr;
    host::EditorWindow* ed_sysparam = nullptr;
    host::EditorWindow* ed_timetable = nullptr;
    host::EditorWindow* ed_trk = nullptr;
    host::EditorWindow* ed_slp = nullptr;
    host::EditorWindow* ed_menu = nullptr;
    host::EditorWindow* ed_mailbox = nullptr;
};

// "site.qor" -> "site.messages/": the file's path with its extension replaced (or added when it has none).
std::string messagesFolderFor(const std::string& path);

// A menu's recording lives in <messages folder><menu code>01/<file>: the folder's name and its whole path
// (with the closing delimiter).
std::string menuMessageFolderName(KT_TABLE& menu);
std::string menuMessageFolder(const std::string& messagesFolder, KT_TABLE& menu);

// Deletes everything inside the folder, sub-folders first emptied and removed; the folder itself stays.
// Failures of single deletions are ignored. A folder that is a symbolic link is emptied, a link inside it is
// removed without following it.
void emptyFolder(const std::string& folder);

class SettingsDatabase {
public:
    SettingsDatabase();
    ~SettingsDatabase();
    SettingsDatabase(const SettingsDatabase&) = delete;
    SettingsDatabase& operator=(const SettingsDatabase&) = delete;

    // Copies the row with that identifier into currentConfig; false and no change when no row has it.
    bool selectUnitConfig(int id);
    // Replaces the database with a new one for currentConfig, every field at its default.
    void buildNewBase(const std::string& path);
    // Loads a settings file; on any failure the message has been shown through the host, the result is false
    // and the database in memory, the configuration and both folders are as they were.
    bool loadBase(const std::string& path);
    // Writes the settings file crash-safely; when the path changes, the messages are first copied into the
    // folder beside the new name. A failure shows why and leaves messagesFolder, the old file and the old
    // messages as they were.
    bool saveBase(const std::string& path);
    // Reshapes the lists of lines, menus and mailboxes to currentConfig.
    void convertBase();

    // True when the file at basePath is no longer the one this database was loaded from or last saved to
    // (another program saved over it). False for a database never loaded or saved, and when the file is gone.
    bool changedOnDisk() const;

    UnitConfig currentConfig;
    std::string basePath;
    std::string messagesFolder;

    // Frames given to new objects, and the call that unbinds them from their objects before objects go.
    KT_EDITOR_FRAMES frames;
    std::function<void()> unbindEditors;

    // The database; root is declared after actions so that it is destroyed first (menus refer to the kinds).
    std::unique_ptr<KT_ACTIONS> actions;
    std::unique_ptr<KT_BASE> root;
    std::unique_ptr<KT_TABLE_DEVICEINFO> deviceInfo;
    std::unique_ptr<KT_TABLE_CLOCK> clock;

    // Lookups by object name (SYSPARAM, TRK(1), MENU(3), MAILBOX(2), TIMETABLE, DEVICEINFO, CLOCK).
    KT_TABLE* findObject(const std::string& objectName) const;

private:
    struct Parts;
    Parts buildParts(const std::string& path) const;
    bool copyMessagesTo(const std::string& newFolder) const;
    void rememberDiskState(const std::string& path);

    // What the file looked like after the last load or save: a save of another program renames a new file
    // over it, so the identity of the file changes even when size and time happen to match.
    struct DiskState {
        bool known = false;
        std::string path;
        unsigned long long device = 0, inode = 0;
        long long size = 0, modifiedNs = 0;
    } disk_;
    void adopt(Parts&& parts);
};

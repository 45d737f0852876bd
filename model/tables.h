// Records and tables: the settings database is a tree of tables whose records hold either fields or further
// tables. Records track changes and show refused values; tables carry the object's name, caption, code, mark
// and tree node, and build and parse the object's device text (one line of field values).
//
// Saving to and loading from the settings file (the tables' saveTo/loadFrom) are in model/settings_file.h.
#pragma once

#include "model/host.h"
#include "model/value_types.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class KT_TABLE;

// Marks of an object in the tree, shown as its node's state image.
enum : int { kMarkNone = 1, kMarkMarked = 2, kMarkMixed = 3, kMarkChanged = 4 };

// A named slot of a table: key, code, description and the owned value. Edits go through the record.
class KT_RECORD {
public:
    KT_RECORD(std::unique_ptr<KT_TYPE> value, std::string key, std::string code, std::string description);
    virtual ~KT_RECORD();
    KT_RECORD(const KT_RECORD&) = delete;
    KT_RECORD& operator=(const KT_RECORD&) = delete;

    virtual std::int32_t getInt();
    virtual std::string getEditText();
    virtual std::string getText();
    virtual std::string getDescription();
    // Set the value, mark the owner changed when the value really changed, and show a refused value's error
    // (key, description and message) in a message box; answer whether the value was accepted.
    virtual bool setText(const std::string& text);
    virtual void setInt(std::int32_t n);
    virtual bool setEditText(const std::string& text);

    // The value as a table, or nullptr for a field.
    KT_TABLE* table() const;

    std::string description;
    std::string key;
    std::string code;
    KT_TABLE* ownerTable = nullptr; // not owned; set by addChild
    std::unique_ptr<KT_TYPE> value;
    bool changed = false;

private:
    // Runs op and tracks the change by comparing what `state` reads before and after it.
    template <class Op, class State> bool changeTracked(Op op, State state);
    void showError(const std::string& message) const;
};

// One line of a choice list: its text and the record it stands for.
struct KT_LIST_LINE {
    std::string text;
    KT_RECORD* record = nullptr;
};
using KT_STRING_LIST = std::vector<KT_LIST_LINE>;

// An object of the settings database: name is the object name (and settings-file section), description the
// caption stem, valueText the object code.
class KT_TABLE : public KT_TYPE {
public:
    using Child = std::pair<std::string, std::unique_ptr<KT_RECORD>>;

    KT_TABLE();
    ~KT_TABLE() override;
    const char* className() const override { return "KT_TABLE"; }

    void hideEditor() override;
    void showEditor(host::WindowHandle parent, host::WindowHandle context) override;
    // The caption: description, plus " : " and the edit text of the "Desc" field when that is not empty.
    std::string getDescription() override;
    // Node state image := markState, image index := nodeImage.
    virtual void refreshNode();
    // The visible sub-tables as (caption, record) lines.
    virtual void fillList(KT_STRING_LIST& list);
    // Sets the fields from the unit's text: values in field order, blanks between, texts in apostrophes, file
    // fields in braces. A bad field shows its own message; the others are still set.
    virtual void parseDeviceText(const std::string& text);
    // The stored forms of every non-file field in order, each followed by one blank.
    virtual std::string buildDeviceText();

    // Child operations. List names compare without regard to letter case.
    KT_RECORD* addChild(const std::string& listName, std::unique_ptr<KT_RECORD> record);
    // Adds a field under a list name (the key unless given otherwise); returns its record.
    KT_RECORD* addField(std::unique_ptr<KT_TYPE> value, const std::string& key, const std::string& code,
                        const std::string& description, const std::string& listName = {});
    // Adds a sub-table as a record with key = its object name, code = its object code, description = its
    // caption.
    template <class T> T* addTable(std::unique_ptr<T> sub) {
        T* raw = sub.get();
        addSubTable(std::unique_ptr<KT_TABLE>(std::move(sub)));
        return raw;
    }
    KT_RECORD* findChild(std::string_view listName) const;
    int indexOfChild(std::string_view listName) const;
    KT_RECORD* childAt(int position) const;
    // The list name at the position; "0" for a position outside the list.
    std::string childNameAt(int position) const;
    int childCount() const { return static_cast<int>(children.size()); }
    // Takes the entry out of the list and hands the record to the caller.
    std::unique_ptr<KT_RECORD> removeChildAt(int position);
    // The child's value as a table (nullptr for a field or an absent child).
    KT_TABLE* findTable(std::string_view listName) const;
    KT_TABLE* tableAt(int position) const;

    host::EditorWindow* editorFrame = nullptr; // not owned; the empty frame initially
    std::vector<Child> children;
    int nodeImage = 0;
    int markState = kMarkNone;
    bool isVisible = true;
    host::TreeNode* node = nullptr; // not owned

private:
    void addSubTable(std::unique_ptr<KT_TABLE> sub);
};

// Tables that the tree shows: single objects and lists of objects.
class KT_TABLE_OBJECT : public KT_TABLE {
public:
    const char* className() const override { return "KT_TABLE_OBJECT"; }
};
class KT_TABLE_LIST : public KT_TABLE {
public:
    const char* className() const override { return "KT_TABLE_LIST"; }
};

// The root of the tree; a refresh while it is mixed or changed tells the shell the database is modified.
class KT_BASE : public KT_TABLE_LIST {
public:
    const char* className() const override { return "KT_BASE"; }
    void refreshNode() override;
};
class KT_TABLE_MENUS : public KT_TABLE_LIST {
public:
    KT_TABLE_MENUS() { nodeImage = -6; }
    const char* className() const override { return "KT_TABLE_MENUS"; }
};
class KT_TABLE_MAILBOXES : public KT_TABLE_LIST {
public:
    KT_TABLE_MAILBOXES() { nodeImage = -7; }
    const char* className() const override { return "KT_TABLE_MAILBOXES"; }
};
class KT_TABLE_SYSPARAM : public KT_TABLE_OBJECT {
public:
    KT_TABLE_SYSPARAM() { nodeImage = -1; }
    const char* className() const override { return "KT_TABLE_SYSPARAM"; }
};
class KT_TABLE_TRKS : public KT_TABLE_OBJECT {
public:
    KT_TABLE_TRKS() { nodeImage = -2; }
    const char* className() const override { return "KT_TABLE_TRKS"; }
};
class KT_TABLE_TRK : public KT_TABLE_OBJECT {
public:
    KT_TABLE_TRK() { nodeImage = -2; }
    const char* className() const override { return "KT_TABLE_TRK"; }
};
class KT_TABLE_SLPS : public KT_TABLE_OBJECT {
public:
    KT_TABLE_SLPS() { nodeImage = -3; }
    const char* className() const override { return "KT_TABLE_SLPS"; }
};
class KT_TABLE_SLP : public KT_TABLE_OBJECT {
public:
    KT_TABLE_SLP() { nodeImage = -3; }
    const char* className() const override { return "KT_TABLE_SLP"; }
};
// Objects whose caption can change with their fields refresh their node text too.
class KT_TABLE_CAPTIONED : public KT_TABLE_OBJECT {
public:
    void refreshNode() override;
};
class KT_TABLE_TIMETABLE : public KT_TABLE_CAPTIONED {
public:
    KT_TABLE_TIMETABLE() { nodeImage = -4; }
    const char* className() const override { return "KT_TABLE_TIMETABLE"; }
};
class KT_TABLE_MENU : public KT_TABLE_CAPTIONED {
public:
    KT_TABLE_MENU() { nodeImage = -6; }
    const char* className() const override { return "KT_TABLE_MENU"; }
};
class KT_TABLE_MAILBOX : public KT_TABLE_CAPTIONED {
public:
    KT_TABLE_MAILBOX() { nodeImage = -7; }
    const char* className() const override { return "KT_TABLE_MAILBOX"; }
    // Zero-based position in the list of mailboxes.
    std::int32_t mailboxIndex = 0;
};
class KT_TABLE_DEVICEINFO : public KT_TABLE_OBJECT {
public:
    KT_TABLE_DEVICEINFO() { nodeImage = -8; }
    const char* className() const override { return "KT_TABLE_DEVICEINFO"; }
};
class KT_TABLE_CLOCK : public KT_TABLE_OBJECT {
public:
    const char* className() const override { return "KT_TABLE_CLOCK"; }
};

// True for the tables that get a tree node (object and list tables).
bool isTreeTable(const KT_TABLE& table);

// Tree operations over the tables' nodes.
// Rebuilds the nodes below the table's node from its visible object and list sub-tables, recursively.
void buildTree(KT_TABLE& table);
// Gives the mark to every descendant of the table's node.
void markDown(KT_TABLE& table, int mark);
// Recomputes the marks of the table's ancestors: the mark where all children share it, else mixed.
void markUp(KT_TABLE& table, int mark);
// -1 without a node; the mark when every child node shows it; else the first differing child's state image.
int uniformMark(const KT_TABLE& table, int mark);

// The objects a device read or write covers, as (caption, object), depth first in tree order: the leaves of the
// tree below the table (the table itself when the tree shows it without children, the root never), every one or
// only those marked or changed (mark above 1). The window, zirezid-cli and the tests all list them here.
using KT_MARK_LIST = std::vector<std::pair<std::string, KT_TABLE*>>;
void fillLeafList(KT_TABLE& table, KT_MARK_LIST& list);
void fillMarkList(KT_TABLE& table, KT_MARK_LIST& list);

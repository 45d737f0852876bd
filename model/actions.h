// Menu actions: what a voice menu does on time-out and on each DTMF digit. An action is a kind taken from the
// table of action kinds plus, for some kinds, a digit-string parameter; its stored form is the kind's
// two-digit code followed by the parameter.
#pragma once

#include "model/tables.h"

#include <memory>
#include <string>

inline constexpr const char* kActionNone = "ACTION_NONE";
inline constexpr const char* kActionToMenu = "ACTION_TO_MENU";
inline constexpr const char* kActionToSlp = "ACTION_TO_SLP";
inline constexpr const char* kActionLvMsg = "ACTION_LVMSG";
inline constexpr const char* kActionBack = "ACTION_BACK";

namespace kt_text {
inline constexpr const char* actionTypeMessage = "Недопустимый тип действия";
} // namespace kt_text

// The table of action kinds: one record per kind (key, code, description, parameter format). The position of
// a kind in the table is its index for an action's setInt/getInt.
class KT_ACTIONS : public KT_TABLE {
public:
    const char* className() const override { return "KT_ACTIONS"; }
    // Every kind in order, without a visibility test: (description, record).
    void fillList(KT_STRING_LIST& list) override;

    // The key of the kind every new action starts with.
    std::string defaultAction;
};

// The five action kinds with "ACTION_NONE" as the default.
std::unique_ptr<KT_ACTIONS> buildActions();

class KT_ACTION : public KT_TYPE {
public:
    // Starts as the table's default kind. The table must outlive the action.
    explicit KT_ACTION(KT_ACTIONS& kinds);
    ~KT_ACTION() override;
    const char* className() const override { return "KT_ACTION"; }

    // Stored form: the kind's code, then the parameter. An empty text selects the default kind.
    bool setText(const std::string& text) override;
    // Selects a kind by key; false when it is already selected; an unknown key raises "Недопустимый тип
    // действия".
    bool setName(const std::string& text) override;
    bool setInt(std::int32_t index) override;
    // Sets the parameter; false for a kind without one.
    bool setEditText(const std::string& text) override;
    std::int32_t getInt() override;
    // The parameter's edit text, or "NULL" for a kind without parameter.
    std::string getEditText() override;
    bool isKeyAllowed(char32_t key, const std::string& current) override;
    // Runs the parameter's editor (the dial-string dialog) modally on this action.
    void showEditor(host::WindowHandle parent, host::WindowHandle context) override;
    std::string getText() override;
    // The parameter format's description ("description" for a kind without parameter).
    virtual std::string getParamDescription();
    // A readable text of the parameter: for a menu jump the target menu's caption.
    virtual std::string getParamCaption();

    // The current kind's record in the table, or nullptr.
    KT_RECORD* kindRecord() const;

    KT_ACTIONS* actions; // not owned
    std::unique_ptr<KT_CODE> param;
};

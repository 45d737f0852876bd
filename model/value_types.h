// Typed field values. Every field of the settings database keeps its value as one text, the stored form,
// which is written to the settings file and exchanged with the unit unchanged. Beside it each kind offers an
// edit text, a validation with fixed messages and a keystroke filter for editors. Texts are UTF-8; lengths
// count characters.
#pragma once

#include "model/dial_specials.h"
#include "model/host.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class KT_RECORD;

// Backspace: part of several character sets so that editors let the user delete.
inline constexpr char32_t kBackspace = 8;

// The error a value raises for a refused text; its message is shown by the record with the field's key.
class KT_ERROR : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace kt_text {
inline constexpr const char* rangeMessage = "Вне допустимого диапазона значений";
inline constexpr const char* lengthMessage = "Недопустимая длина строки";
inline constexpr const char* charMessage = "Недопустимый символ";
inline constexpr const char* timeFormatMessage = "Недопустимый формат времени";
inline constexpr const char* dateFormatMessage = "Недопустимый формат даты";
// Why a description cannot hold "#": the unit ends each of its answers with that sign, so it refuses the text.
inline constexpr const char* hashMessage =
    "Знак \"#\" в описании недопустим: устройство заканчивает им свои ответы и не примет такое описание.";
// The conversion error of a text that is not a decimal integer; %s stands for the text.
std::string notAnInteger(const std::string& text);
} // namespace kt_text

// Base of every value, and of the tables. Owned by the record that holds it.
class KT_TYPE {
public:
    KT_TYPE();
    virtual ~KT_TYPE();
    KT_TYPE(const KT_TYPE&) = delete;
    KT_TYPE& operator=(const KT_TYPE&) = delete;

    // The class name of the most derived kind ("KT_INT", "KT_TABLE_MENU", ...).
    virtual const char* className() const { return "KT_TYPE"; }

    virtual void hideEditor();
    // True when the text is acceptable; a refusal is raised as KT_ERROR or shown as a message box (per kind).
    virtual bool validate(const std::string& text);
    virtual bool isCharAllowed(char32_t ch) const;
    // Empty text stands for defaultText; a refused text leaves the value unchanged and answers false.
    virtual bool setText(const std::string& text);
    virtual bool setName(const std::string& text);
    virtual void setDescription(const std::string& text);
    virtual bool setInt(std::int32_t n);
    virtual bool setEditText(const std::string& text);
    // The decimal value of getText; a text that is not a 32-bit integer raises KT_ERROR.
    virtual std::int32_t getInt();
    virtual std::string getEditText();
    // The editor's keystroke filter: may the key be typed into the current edit text?
    virtual bool isKeyAllowed(char32_t key, const std::string& current);
    // Why the key filter refuses a key, when the reason is worth telling the user; empty otherwise.
    virtual std::string keyRefusal(char32_t key) const;
    virtual void showEditor(host::WindowHandle parent, host::WindowHandle context);
    virtual std::string getName();
    // The stored form.
    virtual std::string getText();
    virtual std::string getDescription();

    std::string name = "name";
    std::string description = "description";
    std::string valueText;
    std::string rangeMessage = kt_text::rangeMessage;
    std::string lengthMessage = kt_text::lengthMessage;
    std::string charMessage = kt_text::charMessage;
    std::string allowedChars; // UTF-8; Backspace alone initially
    int minLength = 0;
    int maxLength = 32;
    host::EditorWindow* editor = nullptr; // not owned
    KT_RECORD* ownerRecord = nullptr;     // not owned
    std::string defaultText;
    std::unique_ptr<KT_SPEC> spec;
};

// Integer: stored as the decimal text as accepted (no sign; leading zeros stay as typed).
class KT_INT : public KT_TYPE {
public:
    KT_INT(std::int64_t minValue, std::int64_t maxValue, std::int64_t defaultValue);
    const char* className() const override { return "KT_INT"; }
    bool validate(const std::string& text) override;
    bool isKeyAllowed(char32_t key, const std::string& current) override;

    std::int64_t minValue;
    std::int64_t maxValue;
};

// Text of at most maxLength characters; stored between two apostrophes, which the text itself never contains.
class KT_STR : public KT_TYPE {
public:
    KT_STR(int maxLen, const std::string& defaultValue);
    const char* className() const override { return "KT_STR"; }
    bool validate(const std::string& text) override;
    bool setText(const std::string& text) override;
    std::string getEditText() override;
    bool isKeyAllowed(char32_t key, const std::string& current) override;
    std::string keyRefusal(char32_t key) const override;
};

// Digit string (passwords, action parameters, dial strings); "-" alone stands for no number.
class KT_CODE : public KT_TYPE {
public:
    // The five flags enable the dial-string specials of groups 0 to 4.
    KT_CODE(const std::string& defaultValue, int minLen, int maxLen, bool group0 = false, bool group1 = false,
            bool group2 = false, bool group3 = false, bool group4 = false);
    // Base initial values with an empty specials list; used before assign.
    KT_CODE();
    const char* className() const override { return "KT_CODE"; }
    bool validate(const std::string& text) override;
    bool isKeyAllowed(char32_t key, const std::string& current) override;
    // Runs the dial-string editor modally.
    void showEditor(host::WindowHandle parent, host::WindowHandle context) override;
    // Takes the other's format (specials, lengths, characters, description, default, editor); the value
    // becomes the default, the other's value is not copied.
    void assign(const KT_CODE& other);
};

// Time of day: stored hhmm, edited hh:mm.
class KT_TIME : public KT_TYPE {
public:
    explicit KT_TIME(const std::string& defaultValue = "0000");
    const char* className() const override { return "KT_TIME"; }
    bool validate(const std::string& text) override;
    bool setText(const std::string& text) override;
    std::string getEditText() override;
    bool isKeyAllowed(char32_t key, const std::string& current) override;
};

// Date: stored ddmmyy, edited dd.mm.20yy.
class KT_DATE : public KT_TYPE {
public:
    KT_DATE();
    const char* className() const override { return "KT_DATE"; }
    bool validate(const std::string& text) override;
    bool setText(const std::string& text) override;
    std::string getEditText() override;
};

// Day and month without a year (checked against the leap year 2000): stored ddmm, edited dd.mm.
class KT_DATE_NOYEAR : public KT_TYPE {
public:
    KT_DATE_NOYEAR();
    const char* className() const override { return "KT_DATE_NOYEAR"; }
    bool validate(const std::string& text) override;
    bool setText(const std::string& text) override;
    std::string getEditText() override;
    bool isKeyAllowed(char32_t key, const std::string& current) override;
};

// Name of a recorded message file, or "-" for none. Only the file-name part is ever kept, so a name taken
// from a settings file or from the unit cannot point outside its menu's folder.
class KT_FILE : public KT_TYPE {
public:
    KT_FILE();
    const char* className() const override { return "KT_FILE"; }
    bool validate(const std::string& text) override;
    bool setText(const std::string& text) override;
};

// Is-a tests by class.
template <class T> T* kt_cast(KT_TYPE* v) { return dynamic_cast<T*>(v); }
template <class T> const T* kt_cast(const KT_TYPE* v) { return dynamic_cast<const T*>(v); }

#include "model/value_types.h"

#include "model/utf8.h"

#include <algorithm>
#include <charconv>

namespace {

const std::string kDigits = "0123456789";
const std::string kDigitsBackspace = "0123456789\b";

bool contains(const std::string& s, char c) { return s.find(c) != std::string::npos; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Characters [pos, pos+n) of s, or what there is of them.
std::string part(const std::string& s, std::size_t pos, std::size_t n) {
    return pos >= s.size() ? std::string() : s.substr(pos, n);
}

// Inserts before the character at pos; past the end the text is appended.
void insertAt(std::string& s, std::size_t pos, const std::string& what) { s.insert(std::min(pos, s.size()), what); }

std::string removeAll(const std::string& s, char c) {
    std::string out;
    for (char ch : s)
        if (ch != c)
            out.push_back(ch);
    return out;
}

// Decimal integer with an optional sign, as the integer conversion accepts it.
bool parseInteger(const std::string& text, std::int64_t& out) {
    std::string_view digits = text;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-'))
        digits.remove_prefix(1);
    if (digits.empty() || !isDigit(digits[0]))
        return false;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const char* last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last;
}

int decimalDigits(std::int64_t n) {
    int d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

bool inSet(char32_t key, const char* set) {
    for (const char* p = set; *p; ++p)
        if (static_cast<char32_t>(static_cast<unsigned char>(*p)) == key)
            return true;
    return false;
}

bool keyIsDigit(char32_t key) { return key >= U'0' && key <= U'9'; }

// Control characters would break the line structure of the settings file and of the unit's command lines.
bool hasControlChar(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool twoDigits(const std::string& s, std::size_t pos, int& value) {
    if (pos + 2 > s.size() || !isDigit(s[pos]) || !isDigit(s[pos + 1]))
        return false;
    value = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
    return true;
}

bool validDate(int day, int month, int year) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int last = days[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= last;
}

// A time or date as typed: where only digits were typed `separate` puts the separators in, the field's own check
// says why a text is refused, and `stored` keeps the digits of the stored form.
template <class Separate, class Stored>
bool setTypedForm(KT_TYPE& field, const std::string& text, char separator, Separate separate, Stored stored) {
    try {
        std::string t = text;
        if (!contains(t, separator))
            separate(t);
        if (!field.validate(t))
            return false;
        field.valueText = stored(t);
        return true;
    } catch (const std::exception& e) {
        host::current().showMessage(e.what());
        return false;
    }
}

// The end of a time's or date's check: a refused text is shown with the field's message.
bool shownIfRefused(const KT_TYPE& field, const std::string& text, bool ok) {
    if (!ok)
        host::current().showMessage(text + " - " + field.rangeMessage);
    return ok;
}

} // namespace

std::string kt_text::notAnInteger(const std::string& text) { return "'" + text + "' is not a valid integer value"; }

// ---- KT_TYPE ----

KT_TYPE::KT_TYPE() : allowedChars("\b") {}

KT_TYPE::~KT_TYPE() = default;

void KT_TYPE::hideEditor() {
    if (editor)
        editor->hideAndDetach();
}

bool KT_TYPE::validate(const std::string&) { return true; }

bool KT_TYPE::isCharAllowed(char32_t ch) const {
    for (char32_t c : utf8::decode(allowedChars))
        if (c == ch)
            return true;
    return false;
}

bool KT_TYPE::setText(const std::string& text) {
    const std::string t = text.empty() ? defaultText : text;
    if (!validate(t))
        return false;
    valueText = t;
    return true;
}

bool KT_TYPE::setName(const std::string& text) {
    name = text;
    return true;
}

void KT_TYPE::setDescription(const std::string& text) { description = text; }

bool KT_TYPE::setInt(std::int32_t n) { return setText(std::to_string(n)); }

bool KT_TYPE::setEditText(const std::string& text) { return setText(text); }

std::int32_t KT_TYPE::getInt() {
    const std::string text = getText();
    std::int64_t v = 0;
    if (!parseInteger(text, v) || v < INT32_MIN || v > INT32_MAX)
        throw KT_ERROR(kt_text::notAnInteger(text));
    return static_cast<std::int32_t>(v);
}

std::string KT_TYPE::getEditText() { return getText(); }

std::string KT_TYPE::keyRefusal(char32_t) const { return {}; }

bool KT_TYPE::isKeyAllowed(char32_t, const std::string&) { return true; }

void KT_TYPE::showEditor(host::WindowHandle parent, host::WindowHandle context) {
    if (!editor)
        return;
    if (parent)
        editor->placeInto(parent);
    editor->bringToFront();
    editor->show();
    editor->takeContext(context);
    editor->editObject(*this);
}

std::string KT_TYPE::getName() { return name; }

std::string KT_TYPE::getText() { return valueText; }

std::string KT_TYPE::getDescription() { return description; }

// ---- KT_INT ----

KT_INT::KT_INT(std::int64_t minV, std::int64_t maxV, std::int64_t defaultValue) : minValue(minV), maxValue(maxV) {
    defaultText = std::to_string(defaultValue);
    allowedChars = kDigitsBackspace;
    // A maximum of 0 (a configuration with one menu) still needs room for one digit.
    maxLength = maxValue < 1 ? 1 : decimalDigits(maxValue);
    minLength = minValue + 1 < 1 ? 1 : decimalDigits(minValue + 1);
    description = "целое число от " + std::to_string(minValue) + " до " + std::to_string(maxValue);
    rangeMessage =
        " - вне диапазона допустимых значений: [" + std::to_string(minValue) + "..." + std::to_string(maxValue) + "]";
    setText(defaultText);
}

bool KT_INT::validate(const std::string& text) {
    std::int64_t v = 0;
    if (!parseInteger(text, v))
        throw KT_ERROR(kt_text::notAnInteger(text));
    if (v > maxValue || v < minValue)
        throw KT_ERROR(text + rangeMessage);
    for (char32_t ch : utf8::decode(text))
        if (!isCharAllowed(ch))
            throw KT_ERROR(charMessage);
    return true;
}

bool KT_INT::isKeyAllowed(char32_t key, const std::string& current) {
    // At or beyond the greatest length only deleting is possible (a longer text can come from a file).
    if (utf8::length(current) >= static_cast<std::size_t>(maxLength))
        return key == kBackspace;
    return isCharAllowed(key);
}

// ---- KT_STR ----

KT_STR::KT_STR(int maxLen, const std::string& defaultValue) {
    minLength = 0;
    maxLength = maxLen;
    defaultText = defaultValue;
    description = "Строка длиной до " + std::to_string(maxLength) + " символов.";
    setText(defaultText);
}

bool KT_STR::validate(const std::string& text) {
    if (contains(text, '\'') || hasControlChar(text) || !utf8::fitsCp1251(text))
        throw KT_ERROR(charMessage);
    const std::size_t len = utf8::length(text);
    if (len > static_cast<std::size_t>(maxLength) || len < static_cast<std::size_t>(minLength))
        throw KT_ERROR(lengthMessage);
    return true;
}

bool KT_STR::setText(const std::string& text) {
    if (!KT_TYPE::setText(removeAll(text, '\'')))
        return false;
    valueText = "'" + valueText + "'";
    return true;
}

std::string KT_STR::getEditText() { return removeAll(valueText, '\''); }

bool KT_STR::isKeyAllowed(char32_t key, const std::string& current) {
    if (key == kBackspace)
        return true;
    if (utf8::length(current) >= static_cast<std::size_t>(maxLength))
        return false;
    // "#" is the unit's prompt: a description holding it would cut the unit's answer short and be refused there.
    return key != U'\'' && key != U'#' && key >= 0x20 && key != 0x7F && utf8::fitsCp1251(key);
}

std::string KT_STR::keyRefusal(char32_t key) const { return key == U'#' ? kt_text::hashMessage : std::string(); }

// ---- KT_CODE ----

KT_CODE::KT_CODE() { spec = std::make_unique<KT_SPEC>(); }

KT_CODE::KT_CODE(const std::string& defaultValue, int minLen, int maxLen, bool group0, bool group1, bool group2,
                 bool group3, bool group4) {
    spec = std::make_unique<KT_SPEC>(group0, group1, group2, group3, group4);
    minLength = minLen;
    maxLength = maxLen;
    const std::string lengths = std::to_string(minLength) + " до " + std::to_string(maxLength) + " символов.";
    if (spec->hasSpecials) {
        allowedChars = "0123456789*\b";
        description = "Строка из цифр и специальных комбинаций. Длина строки -  от " + lengths;
    } else {
        allowedChars = kDigitsBackspace;
        description = "Строка из цифр. Длина строки -  от " + lengths;
    }
    defaultText = defaultValue;
    setText(defaultText);
    editor = host::current().dialStringEditor();
}

bool KT_CODE::validate(const std::string& text) {
    const std::size_t len = utf8::length(text);
    if (contains(text, '-') && len > 1)
        throw KT_ERROR(charMessage);
    if (len > static_cast<std::size_t>(maxLength) || len < static_cast<std::size_t>(minLength))
        throw KT_ERROR(lengthMessage);
    if (text == "-")
        return true;
    for (char32_t ch : utf8::decode(text))
        if (!isCharAllowed(ch) || ch == kBackspace)
            throw KT_ERROR(charMessage);
    return true;
}

bool KT_CODE::isKeyAllowed(char32_t key, const std::string& current) {
    if (utf8::length(current) >= static_cast<std::size_t>(maxLength))
        return key == kBackspace;
    return isCharAllowed(key);
}

void KT_CODE::showEditor(host::WindowHandle parent, host::WindowHandle context) {
    if (!editor)
        return;
    if (parent)
        editor->placeInto(parent);
    editor->bringToFront();
    editor->takeContext(context);
    editor->editObject(*this);
    editor->runModal();
}

void KT_CODE::assign(const KT_CODE& other) {
    spec = other.spec ? std::make_unique<KT_SPEC>(*other.spec) : std::make_unique<KT_SPEC>();
    minLength = other.minLength;
    maxLength = other.maxLength;
    allowedChars = other.allowedChars;
    description = other.description;
    defaultText = other.defaultText;
    setText(defaultText);
    editor = other.editor;
}

// ---- KT_TIME ----

KT_TIME::KT_TIME(const std::string& defaultValue) {
    description = "Время в формате hhmm";
    minLength = maxLength = 4;
    rangeMessage = kt_text::timeFormatMessage;
    allowedChars = kDigitsBackspace;
    defaultText = valueText = defaultValue;
}

bool KT_TIME::validate(const std::string& text) {
    int hh = 0, mm = 0;
    return shownIfRefused(*this, text,
                          text.size() == 5 && twoDigits(text, 0, hh) && text[2] == ':' && twoDigits(text, 3, mm) &&
                              hh <= 23 && mm <= 59);
}

bool KT_TIME::setText(const std::string& text) {
    return setTypedForm(
        *this, text, ':', [](std::string& t) { insertAt(t, 2, ":"); },
        [](const std::string& t) { return part(t, 0, 2) + part(t, 3, 2); });
}

std::string KT_TIME::getEditText() { return part(valueText, 0, 2) + ":" + part(valueText, 2, 2); }

bool KT_TIME::isKeyAllowed(char32_t key, const std::string& current) {
    const std::size_t n = utf8::length(current);
    if (key == kBackspace)
        return n <= 5;
    switch (n) {
    case 0:
        return inSet(key, "012");
    case 1:
        return current[0] == '2' ? inSet(key, "0123") : keyIsDigit(key);
    case 2:
        return key == U':';
    case 3:
        return inSet(key, "012345");
    case 4:
        return keyIsDigit(key);
    default:
        return false;
    }
}

// ---- KT_DATE ----

KT_DATE::KT_DATE() {
    description = "Дата в формате ddmmуу";
    minLength = maxLength = 6;
    rangeMessage = kt_text::dateFormatMessage;
    allowedChars = kDigitsBackspace;
    defaultText = valueText = "010101";
}

bool KT_DATE::validate(const std::string& text) {
    // Only dd.mm.20yy: the stored form keeps two year digits, read as 20yy.
    int dd = 0, mm = 0, yy = 0;
    return shownIfRefused(*this, text,
                          text.size() == 10 && twoDigits(text, 0, dd) && text[2] == '.' && twoDigits(text, 3, mm) &&
                              text[5] == '.' && text.compare(6, 2, "20") == 0 && twoDigits(text, 8, yy) &&
                              validDate(dd, mm, 2000 + yy));
}

bool KT_DATE::setText(const std::string& text) {
    return setTypedForm(
        *this, text, '.',
        [](std::string& t) {
            insertAt(t, 2, ".");
            insertAt(t, 5, ".20");
        },
        [](const std::string& t) { return part(t, 0, 2) + part(t, 3, 2) + part(t, 8, 2); });
}

std::string KT_DATE::getEditText() {
    return part(valueText, 0, 2) + "." + part(valueText, 2, 2) + ".20" + part(valueText, 4, 2);
}

// ---- KT_DATE_NOYEAR ----

KT_DATE_NOYEAR::KT_DATE_NOYEAR() {
    description = "Дата в формате ddmm";
    minLength = maxLength = 4;
    rangeMessage = kt_text::dateFormatMessage;
    allowedChars = kDigitsBackspace;
    defaultText = valueText = "0101";
}

bool KT_DATE_NOYEAR::validate(const std::string& text) {
    // Checked against the leap year 2000, so 29.02 is a valid holiday.
    int dd = 0, mm = 0;
    return shownIfRefused(*this, text,
                          text.size() == 5 && twoDigits(text, 0, dd) && text[2] == '.' && twoDigits(text, 3, mm) &&
                              validDate(dd, mm, 2000));
}

bool KT_DATE_NOYEAR::setText(const std::string& text) {
    return setTypedForm(
        *this, text, '.', [](std::string& t) { insertAt(t, 2, "."); },
        [](const std::string& t) { return part(t, 0, 2) + part(t, 3, 2); });
}

std::string KT_DATE_NOYEAR::getEditText() { return part(valueText, 0, 2) + "." + part(valueText, 2, 2); }

bool KT_DATE_NOYEAR::isKeyAllowed(char32_t key, const std::string& current) {
    const std::size_t n = utf8::length(current);
    if (key == kBackspace)
        return n <= 5;
    switch (n) {
    case 0:
        return inSet(key, "0123");
    case 1:
        if (current[0] == '3')
            return inSet(key, "01");
        if (current[0] == '0')
            return inSet(key, "123456789");
        return keyIsDigit(key);
    case 2:
        return key == U'.';
    case 3:
        return inSet(key, "01");
    case 4:
        if (current[3] == '1')
            return inSet(key, "012");
        if (current[3] == '0')
            return inSet(key, "123456789");
        return keyIsDigit(key);
    default:
        return false;
    }
}

// ---- KT_FILE ----

KT_FILE::KT_FILE() {
    defaultText = valueText = "-";
    description = "имя файла";
}

bool KT_FILE::validate(const std::string& text) {
    // The name travels in the settings file and to the unit in Windows-1251; refuse what would be lost there.
    if (hasControlChar(text) || !utf8::fitsCp1251(text))
        throw KT_ERROR(charMessage);
    return true;
}

bool KT_FILE::setText(const std::string& text) {
    std::string t = text.empty() ? defaultText : text;
    // Keep the file-name part only: a folder or ".." from a file or from the unit must not lead the message
    // path out of its menu's folder.
    const std::size_t slash = t.find_last_of("/\\");
    if (slash != std::string::npos)
        t.erase(0, slash + 1);
    if (t.empty() || t == "." || t == "..")
        t = "-";
    if (!validate(t))
        return false;
    valueText = t;
    return true;
}

#include "model/dial_specials.h"

const std::vector<KT_RECORD_SPEC>& allDialSpecials() {
    static const std::vector<KT_RECORD_SPEC> table = {
        {"ENTRY_STAR", "**", "0", "Вставить *"},
        {"ENTRY_POUND", "*1", "0", "Вставить #"},
        {"ENTRY_FLASH", "*6", "1", "Флэш"},
        {"ENTRY_PAUSE1S", "*7", "1", "Пауза 1с"},
        {"ENTRY_WDIALTONE", "*8XX", "1", "Ждать сигнала готовности XX секунд"},
        {"ENTRY_PAUSE", "*90XX", "1", "Пауза XX секунд"},
        {"ENTRY_WANSWER", "*91XX", "1", "Ждать ответа абонента XX секунд"},
        {"ENTRY_WRINGBACK", "*92XX", "1", "Ждать ответа абонента или сигнала КПВ XX секунд"},
        {"ENTRY_NEWCALL", "*93", "1", "Новый звонок"},
        {"ENTRY_TOMENU", "*94XX", "1", "Перейти к меню XX"},
        {"ENTRY_PLAYMSG", "*95XXX", "1", "Проиграть сообщение XXX из таблицы"},
        {"ENTRY_PUTNUMBER", "*0", "2", "Вставить номер "},
        {"ENTRY_PUTLASTXFER", "*40", "3", "Вставить последний номер, на который был произведен перевод звонка"},
        {"ENTRY_PUTLASTMB", "*41", "3", "Вставить последний номер почтового ящика, к которому был доступ"},
        {"ENTRY_PUTLASTCMDEXT", "*42", "3", "Вставить последний номер внутреннего абонента, полученный от УАТС"},
        {"ENTRY_SKIPDIGITS", "*50X", "4", "Пропустить X цифр, X=1..9"},
        {"ENTRY_EXTDIGITS", "*51X", "4", "Следующие X цифр - цифры номера внутреннего абонента, X=1..9"},
        {"ENTRY_CALLERDIIGITS", "*52X", "4", "Следующие X цифр - цифры номера вызывающего абонента, X=1..9"},
    };
    return table;
}

KT_SPEC::KT_SPEC(bool group0, bool group1, bool group2, bool group3, bool group4) {
    const bool flags[5] = {group0, group1, group2, group3, group4};
    for (int g = 0; g < 5; ++g) {
        if (!flags[g])
            continue;
        const char digit = static_cast<char>('0' + g);
        for (const KT_RECORD_SPEC& e : allDialSpecials())
            if (e.group.size() == 1 && e.group[0] == digit)
                lines.emplace_back(e.description, &e);
        hasSpecials = true;
    }
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t placeholderCount(const std::string& pattern) {
    std::size_t n = 0;
    for (char c : pattern)
        if (c == 'X')
            ++n;
    return n;
}

} // namespace

bool matchDialSpecial(const std::string& pattern, const std::string& rest, std::string& code, std::string& param) {
    if (rest.size() < pattern.size())
        return false;
    const std::size_t firstX = pattern.find('X');
    const std::size_t fixed = firstX == std::string::npos ? pattern.size() : firstX;
    if (rest.compare(0, fixed, pattern, 0, fixed) != 0)
        return false;
    std::string digits;
    for (std::size_t i = fixed; i < pattern.size(); ++i) {
        if (!isDigit(rest[i]))
            return false;
        digits.push_back(rest[i]);
    }
    code = rest.substr(0, pattern.size());
    param = digits;
    return true;
}

std::vector<KT_DIAL_ELEMENT> parseDialString(const std::string& text, const KT_SPEC& specials) {
    std::vector<KT_DIAL_ELEMENT> out;
    const std::size_t first = text.find_first_not_of(' ');
    std::string rest = first == std::string::npos ? std::string() : text.substr(first);
    rest.erase(rest.find_last_not_of(' ') + 1);
    while (!rest.empty()) {
        if (isDigit(rest[0])) {
            std::size_t n = 0;
            while (n < rest.size() && isDigit(rest[n]))
                ++n;
            out.push_back({"", rest.substr(0, n), rest.substr(0, n), nullptr});
            rest.erase(0, n);
            continue;
        }
        if (rest[0] == '*') {
            bool matched = false;
            for (const auto& [description, entry] : specials.lines) {
                KT_DIAL_ELEMENT e;
                if (!matchDialSpecial(entry->pattern, rest, e.code, e.param))
                    continue;
                e.entry = entry;
                e.meaning = entry->description;
                if (!e.param.empty()) {
                    const std::string xs(placeholderCount(entry->pattern), 'X');
                    const std::size_t at = e.meaning.find(xs);
                    if (at != std::string::npos)
                        e.meaning.replace(at, xs.size(), e.param);
                }
                rest.erase(0, e.code.size());
                out.push_back(std::move(e));
                matched = true;
                break;
            }
            if (matched)
                continue;
        }
        rest.erase(0, 1);
    }
    return out;
}

std::string dialSpecialPiece(const std::string& pattern, int number) {
    const std::size_t n = placeholderCount(pattern);
    std::string piece = pattern.substr(0, pattern.find_last_not_of('X') + 1);
    if (n == 0)
        return piece;
    std::string digits = std::to_string(number < 0 ? 0 : number);
    if (digits.size() < n)
        digits.insert(0, n - digits.size(), '0');
    return piece + digits.substr(digits.size() - n);
}

std::pair<int, int> dialSpecialRange(const std::string& pattern, int menuCount) {
    const std::size_t n = placeholderCount(pattern);
    if (n == 0)
        return {0, 0};
    if (pattern == "*94XX")
        return {0, menuCount > 0 ? menuCount - 1 : 0};
    // The size of the unit's message table is not known here; three digits hold any number up to 999.
    if (pattern == "*95XXX")
        return {0, 999};
    int top = 1;
    for (std::size_t i = 0; i < n; ++i)
        top *= 10;
    return {1, top - 1};
}

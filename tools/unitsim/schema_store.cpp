// The unit's own copy of the object schema: field order, kinds, limits and defaults of every object of the two unit
// types, with the checks each kind makes of a stored form.
#include <algorithm>
#include <cstdint>
#include <map>

#include "tools/unitsim/device_text.h"
#include "tools/unitsim/line_codec.h"
#include "tools/unitsim/object_store.h"

namespace unitsim {

UnitCounts countsOf(UnitType type) {
    return type == UnitType::QOR11 ? UnitCounts{19, 1, 50, 2} : UnitCounts{29, 2, 50, 2};
}

namespace {

enum class Kind { Int, Str, Code, Time, Date, DateNoYear, File, Action };

struct Field {
    std::string key;
    Kind kind;
    std::int64_t low = 0;   // Int: least value; Str, Code: least length
    std::int64_t high = 0;  // Int: greatest value; Str, Code: greatest length
    std::string defaultStored;
};

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int num(const std::string& s, std::size_t pos, std::size_t len) { return std::stoi(s.substr(pos, len)); }

bool validDay(int day, int month, int year) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    int limit = days[month - 1];
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && leap) limit = 29;
    return day <= limit;
}

bool validCode(const std::string& s, std::int64_t minLen, std::int64_t maxLen) {
    if (s.find('-') != std::string::npos && s.size() > 1) return false;
    auto len = static_cast<std::int64_t>(s.size());
    if (len > maxLen || len < minLen) return false;
    if (s == "-") return true;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool validInt(const std::string& s, std::int64_t low, std::int64_t high) {
    if (!allDigits(s)) return false;
    std::size_t first = s.find_first_not_of('0');
    if (first != std::string::npos && s.size() - first > 18) return false;  // beyond every bound of the schema
    std::int64_t v = first == std::string::npos ? 0 : std::stoll(s.substr(first));
    return v >= low && v <= high;
}

bool validAction(const std::string& s) {
    if (s.size() < 2 || !allDigits(s)) return false;
    std::string code = s.substr(0, 2);
    std::size_t param = s.size() - 2;
    if (code == "00" || code == "04") return param == 0;
    if (code == "01" || code == "03") return param == 2;
    if (code == "02") return param == 6;
    return false;
}

bool valid(const Field& f, const std::string& stored) {
    switch (f.kind) {
        case Kind::Int: return validInt(stored, f.low, f.high);
        case Kind::Str: {
            if (stored.size() < 2 || stored.front() != '\'' || stored.back() != '\'') return false;
            std::string inner = stored.substr(1, stored.size() - 2);
            // "#" is the unit's prompt: a text holding one could never be read back, so the unit refuses it.
            if (inner.find('\'') != std::string::npos || inner.find('#') != std::string::npos) return false;
            if (!utf8ToLine(inner)) return false;
            auto len = static_cast<std::int64_t>(utf8Length(inner));
            return len >= f.low && len <= f.high;
        }
        case Kind::Code: return validCode(stored, f.low, f.high);
        case Kind::Time:
            return stored.size() == 4 && allDigits(stored) && num(stored, 0, 2) < 24 && num(stored, 2, 2) < 60;
        case Kind::DateNoYear:
            return stored.size() == 4 && allDigits(stored) && validDay(num(stored, 0, 2), num(stored, 2, 2), 2000);
        case Kind::Date:
            return stored.size() == 6 && allDigits(stored) &&
                   validDay(num(stored, 0, 2), num(stored, 2, 2), 2000 + num(stored, 4, 2));
        case Kind::File: return true;
        case Kind::Action: return validAction(stored);
    }
    return false;
}

struct Object {
    std::string code;
    std::string name;
    std::vector<Field> fields;
    std::vector<std::string> values;
};

Field intField(std::string key, std::int64_t low, std::int64_t high, std::int64_t def) {
    return Field{std::move(key), Kind::Int, low, high, std::to_string(def)};
}

class SchemaStore final : public ObjectStore {
public:
    SchemaStore(UnitType type, FileField fileField) : fileField_(std::move(fileField)) { build(countsOf(type)); }

    std::vector<std::string> codes() const override {
        std::vector<std::string> out;
        for (const auto& o : objects_) out.push_back(o.code);
        return out;
    }
    bool knows(const std::string& code) const override { return find(code) != nullptr; }
    bool isMenu(const std::string& code) const override {
        const Object* o = find(code);
        return o && o->name.rfind("MENU(", 0) == 0;
    }
    std::string objectName(const std::string& code) const override {
        const Object* o = find(code);
        return o ? o->name : std::string();
    }
    std::optional<std::size_t> valueCount(const std::string& code) const override {
        const Object* o = find(code);
        if (!o) return std::nullopt;
        return static_cast<std::size_t>(std::count_if(o->fields.begin(), o->fields.end(),
                                                      [](const Field& f) { return f.kind != Kind::File; }));
    }
    std::string deviceText(const std::string& code) const override {
        const Object* o = find(code);
        if (!o) return {};
        std::string out;
        for (std::size_t i = 0; i < o->fields.size(); ++i) {
            out += o->fields[i].kind == Kind::File ? fileField_(code) : o->values[i];
            out += ' ';
        }
        return out;
    }
    int setFromDeviceText(const std::string& code, const std::string& text) override {
        Object* o = find(code);
        if (!o) return 2;
        auto count = *valueCount(code);
        auto tokens = splitDeviceText(text, count);
        if (tokens.values.size() != count) return 3;
        std::vector<std::string> scratch = o->values;
        std::size_t t = 0;
        for (std::size_t i = 0; i < o->fields.size(); ++i) {
            const Field& f = o->fields[i];
            if (f.kind == Kind::File) continue;
            const DeviceToken& tok = tokens.values[t++];
            if ((f.kind == Kind::Str) != tok.quoted) return 3;
            std::string stored = f.kind == Kind::Str ? "'" + tok.text + "'" : tok.text;
            if (!valid(f, stored)) return 3;
            scratch[i] = stored;
        }
        o->values = std::move(scratch);
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> fields(const std::string& code) const override {
        std::vector<std::pair<std::string, std::string>> out;
        if (const Object* o = find(code)) {
            for (std::size_t i = 0; i < o->fields.size(); ++i) {
                if (o->fields[i].kind != Kind::File) out.emplace_back(o->fields[i].key, o->values[i]);
            }
        }
        return out;
    }
    bool setField(const std::string& code, const std::string& key, const std::string& stored) override {
        Object* o = find(code);
        if (!o) return false;
        for (std::size_t i = 0; i < o->fields.size(); ++i) {
            if (o->fields[i].key == key && o->fields[i].kind != Kind::File) {
                if (!valid(o->fields[i], stored)) return false;
                o->values[i] = stored;
                return true;
            }
        }
        return false;
    }

private:
    const Object* find(const std::string& code) const {
        auto it = index_.find(code);
        return it == index_.end() ? nullptr : &objects_[it->second];
    }
    Object* find(const std::string& code) {
        auto it = index_.find(code);
        return it == index_.end() ? nullptr : &objects_[it->second];
    }

    void add(std::string code, std::string name, std::vector<Field> fields) {
        Object o{std::move(code), std::move(name), std::move(fields), {}};
        for (const auto& f : o.fields) o.values.push_back(f.defaultStored);
        index_[o.code] = objects_.size();
        objects_.push_back(std::move(o));
    }

    void build(const UnitCounts& c) {
        add("0", "SYSPARAM",
            {Field{"Password", Kind::Code, 2, 10, "7316"}, intField("PulseDialing", 0, 1, 0),
             intField("GainRxdB12", 0, 24, 12), intField("GainTxdB12", 0, 24, 12), intField("AGCDisabled", 0, 1, 0),
             intField("NRingsToPickup", 1, 99, 1), intField("WaitAfterPickupMs", 0, 10000, 2000),
             intField("InDiscLenMs", 0, 10000, 500), intField("FlashLenMs", 0, 10000, 200),
             intField("FlashPassthrough", 0, 1, 1)});
        for (int i = 1; i <= c.lines; ++i) {
            add(std::to_string(10 + i), "TRK(" + std::to_string(i) + ")",
                {intField("DayMenu", 0, c.menus - 1, 0), intField("NightMenu", 0, c.menus - 1, 0),
                 intField("HolidayMenu", 0, c.menus - 1, 0), intField("SetupAllowed", 0, 1, 0),
                 intField("MBAccessAllowed", 0, 1, 0)});
        }
        for (int i = 1; i <= c.lines; ++i) {
            add(std::to_string(20 + i), "SLP(" + std::to_string(i) + ")",
                {intField("Passthrough", 0, 1, 0), intField("SetupAllowed", 0, 1, 0),
                 intField("MBAccessAllowed", 0, 1, 0)});
        }
        std::vector<Field> timetable;
        for (int d = 1; d <= 7; ++d) timetable.push_back({"DayStart[" + std::to_string(d) + "]", Kind::Time, 0, 0, "0000"});
        for (int d = 1; d <= 7; ++d) timetable.push_back({"DayEnd[" + std::to_string(d) + "]", Kind::Time, 0, 0, "2359"});
        for (int h = 0; h <= 9; ++h) timetable.push_back(intField("UseHoliday[" + std::to_string(h) + "]", 0, 1, 0));
        for (int h = 0; h <= 9; ++h) {
            timetable.push_back({"HolidayStart[" + std::to_string(h) + "]", Kind::DateNoYear, 0, 0, "0101"});
        }
        for (int h = 0; h <= 9; ++h) {
            timetable.push_back({"HolidayEnd[" + std::to_string(h) + "]", Kind::DateNoYear, 0, 0, "0101"});
        }
        add("3", "TIMETABLE", std::move(timetable));
        for (int k = 0; k < c.menus; ++k) {
            std::vector<Field> menu{Field{"Desc", Kind::Str, 0, 31, "''"}, Field{"Message", Kind::File, 0, 0, "-"},
                                    intField("CallSLPOnStart", 0, 1, 0), intField("SLPIndex", 0, c.lines, 0),
                                    Field{"ActionTO", Kind::Action, 0, 0, "00"}};
            for (int d = 1; d <= 9; ++d) menu.push_back({"ActionDTMF[" + std::to_string(d) + "]", Kind::Action, 0, 0, "00"});
            menu.push_back({"ActionDTMF[0]", Kind::Action, 0, 0, "00"});
            add(std::to_string(500 + k), "MENU(" + std::to_string(k) + ")", std::move(menu));
        }
        for (int i = 1; i <= c.mailboxes; ++i) {
            add(std::to_string(60 + i), "MAILBOX(" + std::to_string(i) + ")",
                {Field{"Pwd", Kind::Code, 2, 10, "11"}, intField("MaxSizeMin", 1, 500, 10), intField("MaxMsgs", 1, 500, 40),
                 intField("DaysToKeep", 0, 30, 7), intField("AutoRemoveOld", 0, 1, 0), intField("ReverseOrder", 0, 1, 0)});
        }
        add("90", "DEVICEINFO",
            {intField("ModelCode", 0, 99, 0), intField("SerialNum", 0, 4294967295LL, 0),
             Field{"SoftVer", Kind::Str, 0, 8, "'?.?\?.?\?'"}, intField("ConfigID", 0, 9999, c.configId),
             intField("ConfigKey", 0, 4294967295LL, 0), intField("FreeSpaceBytes", 0, 4294967295LL, 0)});
        add("91", "CLOCK",
            {Field{"Date", Kind::Date, 0, 0, "010101"}, Field{"Time", Kind::Time, 0, 0, "0000"},
             intField("Seconds", 0, 59, 0)});
    }

    FileField fileField_;
    std::vector<Object> objects_;
    std::map<std::string, std::size_t> index_;
};

}  // namespace

std::unique_ptr<ObjectStore> makeSchemaStore(UnitType type, ObjectStore::FileField fileField) {
    return std::make_unique<SchemaStore>(type, std::move(fileField));
}

}  // namespace unitsim

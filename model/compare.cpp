#include "model/compare.h"

#include "model/tables.h"
#include "model/unit_config.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace compare {
namespace {

// The checksum shown beside a message file's size: two recordings of the same length that differ show it.
std::uint32_t crc32Update(std::uint32_t crc, const char* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (crc >> 8);
    return crc;
}

bool namesNoFile(const std::string& name) {
    return name.empty() || name == "-";
}

// Where a write to the unit takes the menu's recording from: <messages folder><menu code>01/<file>.
MessageFile messageFileOf(const SettingsDatabase& db, KT_TABLE& menu) {
    MessageFile f;
    KT_RECORD* field = menu.findChild("Message");
    if (!field || field->table())
        return f;
    f.name = field->getText();
    if (namesNoFile(f.name))
        return f;
    std::string folder = db.messagesFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    f.path = folder + menu.getText() + "01/" + f.name;
    return f;
}

// Reads both files in step: sizes and checksums for the description, equality from the bytes themselves.
bool sameBytes(MessageFile& a, MessageFile& b) {
    // Only a regular file is a recording; a folder of that name must not pass for one.
    auto open = [](const std::string& path, std::ifstream& in) {
        std::error_code ec;
        if (!path.empty() && std::filesystem::is_regular_file(path, ec))
            in.open(path, std::ios::binary);
    };
    std::ifstream fa, fb;
    open(a.path, fa);
    open(b.path, fb);
    a.present = fa.is_open();
    b.present = fb.is_open();
    std::uint32_t ca = 0xFFFFFFFFu, cb = 0xFFFFFFFFu;
    bool same = a.present == b.present;
    constexpr std::size_t kChunk = 64 * 1024;
    auto bufA = std::make_unique<char[]>(kChunk);
    auto bufB = std::make_unique<char[]>(kChunk);
    while (fa.is_open() || fb.is_open()) {
        std::size_t na = 0, nb = 0;
        if (fa.is_open()) {
            fa.read(bufA.get(), kChunk);
            na = static_cast<std::size_t>(fa.gcount());
            ca = crc32Update(ca, bufA.get(), na);
            a.size += na;
            if (na < kChunk) {
                if (fa.bad()) // a file that cannot be read to its end is not the recording
                    a.present = false;
                fa.close();
            }
        }
        if (fb.is_open()) {
            fb.read(bufB.get(), kChunk);
            nb = static_cast<std::size_t>(fb.gcount());
            cb = crc32Update(cb, bufB.get(), nb);
            b.size += nb;
            if (nb < kChunk) {
                if (fb.bad()) // a file that cannot be read to its end is not the recording
                    b.present = false;
                fb.close();
            }
        }
        if (same && (na != nb || !std::equal(bufA.get(), bufA.get() + na, bufB.get())))
            same = false;
    }
    a.crc32 = ca ^ 0xFFFFFFFFu;
    b.crc32 = cb ^ 0xFFFFFFFFu;
    if (!a.present)
        a.size = a.crc32 = 0;
    if (!b.present)
        b.size = b.crc32 = 0;
    return same && a.present == b.present;
}

class Comparer {
public:
    Comparer(const SettingsDatabase& a, const SettingsDatabase& b, Comparison& out)
        : a_(a), b_(b), out_(out) {}

    // The table's own fields, then its sub-tables in A's order, then those only B has. Both trees come from
    // the same builder and differ only in how many lines a level holds, so B's extra objects follow A's at
    // the same level, which is where B's tree shows them.
    void walk(KT_TABLE& ta, KT_TABLE& tb) {
        compareObject(ta, tb);
        for (auto& [listName, record] : ta.children) {
            KT_TABLE* subA = record->table();
            if (!subA)
                continue;
            KT_TABLE* subB = tb.findTable(listName);
            if (subB)
                walk(*subA, *subB);
            else
                onlyOne(*subA, Presence::OnlyA);
        }
        for (auto& [listName, record] : tb.children) {
            KT_TABLE* subB = record->table();
            if (subB && !ta.findTable(listName))
                onlyOne(*subB, Presence::OnlyB);
        }
    }

    void compareObject(KT_TABLE& ta, KT_TABLE& tb) {
        ObjectDifference d;
        d.objectName = ta.name;
        d.captionA = ta.getDescription();
        d.captionB = tb.getDescription();
        if (ta.isVisible != tb.isVisible)
            d.fields.push_back(
                {"isVisible", "показан в дереве", ta.isVisible ? "1" : "0", tb.isVisible ? "1" : "0"});
        for (auto& [listName, record] : ta.children) {
            if (record->table())
                continue;
            KT_RECORD* other = tb.findChild(listName);
            if (!other || other->table()) {
                d.fields.push_back({listName, record->description, record->getEditText(), kNoField});
                continue;
            }
            // Equal stored forms are equal values; the edit text is what a person reads.
            if (record->getText() != other->getText())
                d.fields.push_back(
                    {listName, record->description, record->getEditText(), other->getEditText()});
        }
        for (auto& [listName, record] : tb.children) {
            if (!record->table() && !ta.findChild(listName))
                d.fields.push_back({listName, record->description, kNoField, record->getEditText()});
        }
        if (kt_cast<KT_TABLE_MENU>(&ta) && kt_cast<KT_TABLE_MENU>(&tb)) {
            MessageDifference m;
            m.a = messageFileOf(a_, ta);
            m.b = messageFileOf(b_, tb);
            m.sameName = m.a.name == m.b.name || (namesNoFile(m.a.name) && namesNoFile(m.b.name));
            m.sameBytes = sameBytes(m.a, m.b);
            if (!m.sameName || !m.sameBytes) {
                d.hasMessageDifference = true;
                d.message = std::move(m);
            }
        }
        if (!d.fields.empty() || d.hasMessageDifference)
            out_.objects.push_back(std::move(d));
    }

    void onlyOne(KT_TABLE& t, Presence side) {
        ObjectDifference d;
        d.objectName = t.name;
        (side == Presence::OnlyA ? d.captionA : d.captionB) = t.getDescription();
        d.presence = side;
        out_.objects.push_back(std::move(d));
    }

private:
    const SettingsDatabase& a_;
    const SettingsDatabase& b_;
    Comparison& out_;
};

} // namespace

Comparison compareDatabases(const SettingsDatabase& a, const SettingsDatabase& b) {
    Comparison result;
    result.unitTypeA = a.currentConfig.name;
    result.unitTypeB = b.currentConfig.name;
    Comparer comparer(a, b, result);
    if (a.root && b.root)
        comparer.walk(*a.root, *b.root);
    if (a.deviceInfo && b.deviceInfo)
        comparer.compareObject(*a.deviceInfo, *b.deviceInfo);
    return result;
}

std::string describeMessage(const MessageFile& file) {
    if (namesNoFile(file.name))
        return "-";
    if (!file.present)
        return file.name + " (нет файла)";
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(file.crc32));
    return file.name + " (" + std::to_string(file.size) + " байт, CRC32 " + crc + ")";
}

std::vector<Row> rowsOf(const Comparison& comparison) {
    std::vector<Row> rows;
    for (const ObjectDifference& d : comparison.objects) {
        if (d.presence == Presence::OnlyA) {
            rows.push_back({d.objectName, {}, d.captionA, kNoObject});
            continue;
        }
        if (d.presence == Presence::OnlyB) {
            rows.push_back({d.objectName, {}, kNoObject, d.captionB});
            continue;
        }
        for (const FieldDifference& f : d.fields)
            if (!(d.hasMessageDifference && f.key == "Message"))
                rows.push_back({d.objectName, f.key, f.valueA, f.valueB});
        if (d.hasMessageDifference)
            rows.push_back(
                {d.objectName, "Message", describeMessage(d.message.a), describeMessage(d.message.b)});
    }
    return rows;
}

} // namespace compare

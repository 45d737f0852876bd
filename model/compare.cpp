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

bool namesNoFile(const std::string& name) { return name.empty() || name == "-"; }

// Where a write to the unit takes the menu's recording from: <messages folder><menu code>01/<file>.
MessageFile messageFileOf(const SettingsDatabase& db, KT_TABLE& menu) {
    MessageFile f;
    KT_RECORD* field = menu.findChild("Message");
    if (!field || field->table())
        return f;
    f.name = field->getText();
    if (namesNoFile(f.name))
        return f;
    f.path = menuMessageFolder(db.messagesFolder, menu) + f.name;
    return f;
}

// One side of a comparison read in chunks: its size and checksum for the description, its bytes for equality.
class SideReader {
public:
    static constexpr std::size_t kChunk = std::size_t{64} * 1024;

    explicit SideReader(MessageFile& file) : file_(file), buffer_(std::make_unique<char[]>(kChunk)) {
        // Only a regular file is a recording; a folder of that name must not pass for one.
        std::error_code ec;
        if (!file.path.empty() && std::filesystem::is_regular_file(file.path, ec))
            in_.open(file.path, std::ios::binary);
        file.present = in_.is_open();
    }
    bool open() const { return in_.is_open(); }
    // Reads the next chunk (none once the file is closed) and returns how many bytes it holds.
    std::size_t next() {
        if (!in_.is_open())
            return 0;
        in_.read(buffer_.get(), kChunk);
        const auto n = static_cast<std::size_t>(in_.gcount());
        crc_ = crc32Update(crc_, buffer_.get(), n);
        file_.size += n;
        if (n < kChunk) {
            if (in_.bad()) // a file that cannot be read to its end is not the recording
                file_.present = false;
            in_.close();
        }
        return n;
    }
    const char* data() const { return buffer_.get(); }
    void finish() {
        file_.crc32 = crc_ ^ 0xFFFFFFFFu;
        if (!file_.present)
            file_.size = file_.crc32 = 0;
    }

private:
    MessageFile& file_;
    std::ifstream in_;
    std::unique_ptr<char[]> buffer_;
    std::uint32_t crc_ = 0xFFFFFFFFu;
};

// Reads both files in step: sizes and checksums for the description, equality from the bytes themselves.
bool sameBytes(MessageFile& a, MessageFile& b) {
    SideReader ra(a), rb(b);
    bool same = a.present == b.present;
    while (ra.open() || rb.open()) {
        const std::size_t na = ra.next(), nb = rb.next();
        if (same && (na != nb || !std::equal(ra.data(), ra.data() + na, rb.data())))
            same = false;
    }
    ra.finish();
    rb.finish();
    return same && a.present == b.present;
}

class Comparer {
public:
    Comparer(const SettingsDatabase& a, const SettingsDatabase& b, Comparison& out) : a_(a), b_(b), out_(out) {}

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
            d.fields.push_back({"isVisible", "показан в дереве", ta.isVisible ? "1" : "0", tb.isVisible ? "1" : "0"});
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
                d.fields.push_back({listName, record->description, record->getEditText(), other->getEditText()});
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
            rows.push_back({d.objectName, "Message", describeMessage(d.message.a), describeMessage(d.message.b)});
    }
    return rows;
}

} // namespace compare

#include "model/ini_document.h"

#include "model/atomic_file.h"
#include "model/cp1251.h"

#include <charconv>

namespace {

// Lower case of a Windows-1251 byte: Latin, Cyrillic А..Я, and the extra Cyrillic letters of the upper half.
unsigned char foldByte(unsigned char b) {
    if (b >= 'A' && b <= 'Z')
        return static_cast<unsigned char>(b + 0x20);
    if (b >= 0xC0 && b <= 0xDF)
        return static_cast<unsigned char>(b + 0x20);
    switch (b) {
    case 0x80:
        return 0x90; // Ђ
    case 0x81:
        return 0x83; // Ѓ
    case 0x8A:
        return 0x9A; // Љ
    case 0x8C:
        return 0x9C; // Њ
    case 0x8D:
        return 0x9D; // Ќ
    case 0x8E:
        return 0x9E; // Ћ
    case 0x8F:
        return 0x9F; // Џ
    case 0xA1:
        return 0xA2; // Ў
    case 0xA3:
        return 0xBC; // Ј
    case 0xA5:
        return 0xB4; // Ґ
    case 0xA8:
        return 0xB8; // Ё
    case 0xAA:
        return 0xBA; // Є
    case 0xAF:
        return 0xBF; // Ї
    case 0xB2:
        return 0xB3; // І
    case 0xBD:
        return 0xBE; // Ѕ
    default:
        return b;
    }
}

// The form in which names are compared. Names read from a file always have a Windows-1251 form; a name
// written by the program that has none gets only its Latin letters folded and a prefix no folded
// Windows-1251 text can start with.
std::string foldName(std::string_view name) {
    if (auto enc = cp1251::fromUtf8(name)) {
        for (auto& c : *enc)
            c = static_cast<char>(foldByte(static_cast<unsigned char>(c)));
        return *enc;
    }
    std::string out = "\x98";
    for (const char c : name)
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
    return out;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

IniDocument IniDocument::parse(std::string_view bytes) {
    // A file that a modern editor saved as UTF-8 announces itself with a byte-order mark; it is read as UTF-8
    // (and written back as Windows-1251). Without the mark every file is Windows-1251, as the program writes
    // it.
    static constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (bytes.substr(0, bom.size()) == bom) {
        bytes.remove_prefix(bom.size());
        if (auto converted = cp1251::fromUtf8(bytes))
            return parseCp1251(*converted);
    }
    return parseCp1251(bytes);
}

IniDocument IniDocument::parseCp1251(std::string_view bytes) {
    IniDocument doc;
    doc.sections_.emplace_back(); // lines before the first header
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = next;

        const std::string_view trimmed = trimBlanks(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos) {
            // Anything after the closing bracket (a comment, say) is not part of the name.
            const std::string_view name = trimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
            Section s;
            s.name = cp1251::toUtf8(name);
            s.hasHeader = true;
            s.rawHeader = std::string(line);
            doc.sections_.push_back(std::move(s));
            continue;
        }
        Line l;
        l.raw = std::string(line);
        const auto eq = line.find('=');
        const bool comment = !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
        if (eq != std::string_view::npos && !comment) {
            const std::string_view key = trimBlanks(line.substr(0, eq));
            if (!key.empty()) {
                l.kind = Line::Kind::Entry;
                l.key = cp1251::toUtf8(key);
                // The value is everything after the first "=", blanks included, so that what the program
                // writes reads back unchanged.
                l.value = cp1251::toUtf8(line.substr(eq + 1));
            }
        }
        doc.sections_.back().lines.push_back(std::move(l));
    }
    for (std::size_t i = 0; i < doc.sections_.size(); ++i) {
        auto& sec = doc.sections_[i];
        sec.reindex();
        if (sec.hasHeader)
            doc.index_.emplace(foldName(sec.name), i);
    }
    return doc;
}

void IniDocument::Section::reindex() {
    index.clear();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Line::Kind::Entry)
            index.emplace(foldName(lines[i].key), i);
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const {
    const auto it = index_.find(foldName(name));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

IniDocument::Section* IniDocument::findSection(std::string_view name) {
    const auto it = index_.find(foldName(name));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

const IniDocument::Line* IniDocument::findLine(const Section& section, std::string_view key) {
    const auto it = section.index.find(foldName(key));
    return it == section.index.end() ? nullptr : &section.lines[it->second];
}

bool IniDocument::hasSection(std::string_view section) const { return findSection(section) != nullptr; }

bool IniDocument::hasKey(std::string_view section, std::string_view key) const {
    const Section* s = findSection(section);
    return s && findLine(*s, key);
}

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const {
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    const Line* l = findLine(*s, key);
    if (!l)
        return std::nullopt;
    return l->value;
}

std::string IniDocument::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    auto v = value(section, key);
    return v ? *v : std::string(defaultValue);
}

std::int64_t IniDocument::readInteger(std::string_view section, std::string_view key, std::int64_t defaultValue) const {
    const auto v = value(section, key);
    if (!v || v->empty())
        return defaultValue;
    std::int64_t n = 0;
    const char* first = v->data();
    const char* last = v->data() + v->size();
    if (*first == '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || ptr != last)
        return defaultValue;
    return n;
}

void IniDocument::writeString(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = findSection(section);
    if (!s) {
        if (sections_.empty())
            sections_.emplace_back();
        Section fresh;
        fresh.name = std::string(section);
        fresh.hasHeader = true;
        sections_.push_back(std::move(fresh));
        index_.emplace(foldName(section), sections_.size() - 1);
        s = &sections_.back();
    }
    auto* l = const_cast<Line*>(findLine(*s, key));
    if (!l) {
        // New keys go after the section's last entry, ahead of blank lines and comments that separate it
        // from the next section.
        std::size_t at = s->lines.size();
        while (at > 0 && s->lines[at - 1].kind != Line::Kind::Entry)
            --at;
        Line fresh;
        fresh.kind = Line::Kind::Entry;
        fresh.key = std::string(key);
        s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(fresh));
        if (at + 1 == s->lines.size())
            s->index.emplace(foldName(key), at);
        else
            s->reindex();
        l = &s->lines[at];
    }
    if (l->dirty || l->raw.empty() || l->value != value) {
        l->value = std::string(value);
        l->dirty = true;
    }
}

void IniDocument::writeInteger(std::string_view section, std::string_view key, std::int64_t value) {
    writeString(section, key, std::to_string(value));
}

std::vector<std::string> IniDocument::sections() const {
    std::vector<std::string> out;
    for (const auto& s : sections_)
        if (s.hasHeader && findSection(s.name) == &s)
            out.push_back(s.name);
    return out;
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
    std::vector<std::string> out;
    const Section* s = findSection(section);
    if (!s)
        return out;
    for (const auto& l : s->lines)
        if (l.kind == Line::Kind::Entry && findLine(*s, l.key) == &l)
            out.push_back(l.key);
    return out;
}

bool IniDocument::serialize(std::string& bytes, std::string* error) const {
    std::string out;
    auto encode = [&](const std::string& text, const Section& s,
                      const std::string& what) -> std::optional<std::string> {
        auto enc = cp1251::fromUtf8(text);
        if (!enc || enc->find_first_of("\r\n") != std::string::npos) {
            if (error)
                *error = "[" + s.name + "] " + what;
            return std::nullopt;
        }
        return enc;
    };
    for (const auto& s : sections_) {
        if (s.hasHeader) {
            if (!s.rawHeader.empty()) {
                out += s.rawHeader;
            } else {
                const auto name = encode(s.name, s, s.name);
                if (!name || name->find(']') != std::string::npos) {
                    if (error)
                        *error = "[" + s.name + "]";
                    return false;
                }
                out += "[" + *name + "]";
            }
            out += "\r\n";
        }
        for (const auto& l : s.lines) {
            if (!l.dirty) {
                out += l.raw;
            } else {
                const auto key = encode(l.key, s, l.key);
                if (!key || key->find('=') != std::string::npos) {
                    if (error)
                        *error = "[" + s.name + "] " + l.key;
                    return false;
                }
                const auto value = encode(l.value, s, l.key);
                if (!value)
                    return false;
                out += *key + "=" + *value;
            }
            out += "\r\n";
        }
    }
    bytes = std::move(out);
    return true;
}

bool readIniFile(const std::string& path, IniDocument& doc, std::string* error) {
    std::string bytes;
    if (!atomic_file::readAll(path, bytes, error))
        return false;
    doc = IniDocument::parse(bytes);
    return true;
}

bool writeIniFile(const std::string& path, const IniDocument& doc, std::string* error) {
    std::string bytes;
    if (!doc.serialize(bytes, error))
        return false;
    return atomic_file::writeAll(path, bytes, error);
}

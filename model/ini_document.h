// The INI document behind every settings file: read whole into memory, changed there, written back in one
// step. It keeps what it does not understand (comments, foreign sections and keys, odd lines) so that a save
// changes only the entries that were written. Texts inside are UTF-8; on disk they are Windows-1251 with CR
// LF.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class IniDocument {
public:
    IniDocument() = default;

    // Parses the bytes of a file. Never fails: a line that is neither a section header nor an entry is kept
    // as it is and otherwise ignored. CR LF and LF line ends are both read; a file that starts with a UTF-8
    // byte-order mark is read as UTF-8.
    static IniDocument parse(std::string_view cp1251Bytes);

    // Section and key names are compared without regard to letter case (Latin and Cyrillic).
    // Of a section or key that occurs more than once the first occurrence is the one read and written; later
    // duplicates stay in the file as they are but are never read (the way the Windows profile functions
    // behave).
    bool hasSection(std::string_view section) const;
    bool hasKey(std::string_view section, std::string_view key) const;
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // The value as a decimal integer; the default when the key is missing or its value is not a number.
    std::int64_t readInteger(std::string_view section, std::string_view key, std::int64_t defaultValue) const;

    // Sets a value, adding the key at the end of its section and the section at the end of the document when
    // they are missing.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, std::int64_t value);

    // Names of the sections in file order (first occurrences only) and the keys of one section.
    std::vector<std::string> sections() const;
    std::vector<std::string> keys(std::string_view section) const;

    // The document as Windows-1251 bytes with CR LF line ends. Fails, naming the entry in `error`, when a
    // written text has a character Windows-1251 cannot hold or a line break that would split the line:
    // such a file would silently lose or corrupt the entry.
    bool serialize(std::string& bytes, std::string* error = nullptr) const;

private:
    struct Line {
        enum class Kind { Other, Entry } kind = Kind::Other;
        std::string raw;    // the bytes as read (Windows-1251, no line end); empty for a written entry
        std::string key;    // UTF-8, entries only
        std::string value;  // UTF-8, entries only
        bool dirty = false; // written since parsing: emit key=value instead of raw
    };
    struct Section {
        std::string name; // UTF-8; empty for the lines before the first header
        bool hasHeader = false;
        std::string rawHeader;
        std::vector<Line> lines;
        std::unordered_map<std::string, std::size_t> index; // folded key -> first entry line
        void reindex();
    };

    static IniDocument parseCp1251(std::string_view bytes);
    const Section* findSection(std::string_view name) const;
    Section* findSection(std::string_view name);
    static const Line* findLine(const Section& section, std::string_view key);

    std::vector<Section> sections_;
    std::unordered_map<std::string, std::size_t> index_; // folded name -> first section with a header
};

// Thin file wrappers. readIniFile fails (with a message in `error`) when the file cannot be read or is too
// large to be a settings file; writeIniFile saves crash-safely (model/atomic_file.h).
bool readIniFile(const std::string& path, IniDocument& doc, std::string* error = nullptr);
bool writeIniFile(const std::string& path, const IniDocument& doc, std::string* error = nullptr);

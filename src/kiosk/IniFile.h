#pragma once
// setup.ini, read the way the Windows profile functions read the file the
// site's other programs write:
//
// - a line "[name]" starts a section; a line "key=value" is a key of the
//   section above it; section and key names are matched without regard to
//   (ASCII) letter case and without their surrounding blanks;
// - of two equal keys in a section the first wins; a section named twice
//   adds the keys of its second part after those of the first;
// - the value is everything after the first '=', without surrounding blanks,
//   with one pair of enclosing quotes (double or single) removed, so
//   "  spaced  " keeps its inner blanks; commas, backslashes and ';' inside
//   a value are ordinary characters;
// - a line whose first non-blank character is ';' is a comment; a line
//   without '=' (and not a section) is not a key and is passed over;
// - lines end in CR LF or LF; a UTF-8 byte-order mark is skipped and a file
//   starting with a UTF-16 byte-order mark is read as UTF-16; a file that is
//   not valid UTF-8 is read as Latin-1 (with the Windows-1252 characters in
//   0x80-0x9F, which is what a Windows editor means by them). Values come
//   back as UTF-8.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiosk {

class IniFile {
public:
    IniFile() = default;

    // The file at `path` (found whatever the case of its name); nullopt when
    // it does not exist or cannot be read.
    static std::optional<IniFile> load(const std::string& path);
    // The file's contents as they were read from disk.
    static IniFile parse(std::string_view bytes);

    bool hasSection(std::string_view section) const;
    bool hasKey(std::string_view section, std::string_view key) const;

    // The value of the key, or `fallback` when the section or the key is missing.
    std::string value(std::string_view section, std::string_view key, std::string_view fallback = {}) const;

    // The profile rule for numbers: the leading decimal digits of the value
    // ("12 seconds" is 12), 0 when it does not start with a digit ("abc", "",
    // "0x10" is 0). One leading '+' is allowed. A value with a minus sign
    // ("-5") gives 0: no setting of this program is negative, and a negative
    // time-out must not become a timer. Values past the range of int give
    // INT_MAX. `fallback` only when the section or the key is missing.
    int getInt(std::string_view section, std::string_view key, int fallback = 0) const;

    // Profile-rule conversion of a text, as getInt does it.
    static int profileInt(std::string_view value);

private:
    struct Entry {
        std::string key;    // as written, trimmed
        std::string value;  // as getString gives it
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    const Section* section(std::string_view name) const;
    const Entry* entry(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
};

// The text as UTF-8: unchanged when it is valid UTF-8, otherwise read in
// Windows 1252 (xb::CodePage).
std::string toUtf8(std::string_view bytes);

}  // namespace kiosk

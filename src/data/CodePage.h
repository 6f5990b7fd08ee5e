#pragma once
// The text of the tables, in the code page each table's header names.
//
// A .dbf holds its character fields in the code page of its header's byte
// 29 (0x03 Windows 1252, 0x01 DOS 437, 0x02 DOS 850, ...); the program holds
// text as UTF-8. The engine converts at the table boundary, here and nowhere
// else: Field::text() gives UTF-8, Field::assign() takes it. The tables of a
// code page are those of the C library's iconv, read once per code page into
// a byte table both ways; every code page here is one of a byte a character.
//
// Reading never fails: a byte the code page leaves undefined in 0x80-0x9F
// reads as the control character of that number (U+0081 for 0x81 in 1252,
// as Windows reads it), so it is written back as the same byte; any other
// undefined byte reads as U+FFFD; a NUL reads as a blank. Writing refuses a
// character the code page cannot hold, naming it, and never stores '?'.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xb {

// The mark the program writes into the tables it creates: Windows 1252.
constexpr unsigned char kDefaultCodePageMark = 0x03;
constexpr int kDefaultCodePage = 1252;

// A character a code page cannot hold.
struct Unstorable {
    std::string character;  // the character, UTF-8 ("\xC5\x91" for U+0151)
    char32_t codePoint = 0;
    // "\"ő\" (U+0151)"
    std::string named() const;
};

class CodePage {
public:
    // The code page of a header mark; an unset mark (0) and a mark not known
    // here are Windows 1252, as the site's programs write.
    static const CodePage& ofMark(unsigned char mark);
    // By number (437, 850, 1252, ...): nothing when it is none of those here.
    static const CodePage* ofNumber(int number);
    // The numbers of every code page here, in ascending order.
    static std::vector<int> numbers();
    // Whether a header mark names a code page known here (0 does not).
    static bool knownMark(unsigned char mark);

    int number() const { return number_; }
    unsigned char mark() const { return mark_; }  // the mark a table of it is given
    std::string name() const;                      // "Windows 1252", "DOS 437"

    // The bytes as UTF-8 (see above).
    std::string decode(std::string_view bytes) const;

    struct Encoded {
        std::string bytes;
        std::optional<Unstorable> refused;  // the first character the code page cannot hold
        bool cut = false;                   // the text was longer than maxBytes
    };
    // UTF-8 text as bytes of the code page, at most `maxBytes` of them, cut
    // between characters. Only the characters kept are checked; a byte
    // sequence that is not UTF-8 is refused as U+FFFD.
    Encoded encode(std::string_view text, std::size_t maxBytes = std::string::npos) const;
    // The first character of the text the code page cannot hold, if any.
    std::optional<Unstorable> unstorable(std::string_view text) const;
    // For a device that cannot refuse (the ticket printer): each character
    // the code page cannot hold becomes `substitute`.
    std::string encodeLossy(std::string_view text, char substitute = '?') const;

    // The byte in upper (lower) case within the code page: the character's
    // Unicode case partner when the code page holds it, else the byte.
    unsigned char upper(unsigned char byte) const { return upper_[byte]; }
    unsigned char lower(unsigned char byte) const { return lower_[byte]; }

    CodePage(int number, unsigned char mark, const char* iconvName);

private:
    int number_;
    unsigned char mark_;
    std::array<char32_t, 256> toUnicode_ {};
    std::unordered_map<char32_t, unsigned char> fromUnicode_;
    std::array<unsigned char, 256> upper_ {};
    std::array<unsigned char, 256> lower_ {};
};

// A character appended to UTF-8 text.
void appendUtf8(std::string& out, char32_t c);
// Whether the bytes are UTF-8 throughout (no overlong form, no surrogate).
bool isUtf8(std::string_view bytes);

// Unicode text (UTF-8) in upper case, character by character (simple case
// mapping: "straße" is "STRAßE"); what is not UTF-8 is left as it is.
std::string upperCase(std::string_view text);

// The message of a refused character: "The character \"ő\" (U+0151) in
// Customer Name cannot be stored: Ticket.dbf holds its text in Windows 1252."
std::string unstorableMessage(const Unstorable& u, std::string_view where, std::string_view table,
                              const CodePage& page);

}  // namespace xb

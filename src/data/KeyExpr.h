#pragma once
// Key and FOR expressions of index tags: compiled once against a table's
// fields, then evaluated on record buffers.
//
// The language is the small one found in index tags:
//   field names (case-insensitive, an "alias->" prefix is ignored),
//   "..." '...' [...] strings, numbers, .T. .F.,
//   + - * / on numbers, + joining character values, date + number, date - date,
//   = (left side cut to the length of the right side), == (exact),
//   <> # != < > <= >= $ (contained in), .NOT. ! .AND. .OR., parentheses,
//   UPPER LOWER TRIM RTRIM LTRIM ALLTRIM DTOS STR SUBSTR LEFT RIGHT VAL
//   IIF EMPTY DELETED (names may be shortened to four letters or more).
// UPPER and LOWER change the letters of the table's code page, byte for
// byte: a letter becomes its Unicode case partner where the code page holds
// that (in 1252 0xE9 'é' becomes 0xC9 'É'; 0xDF 'ß' stays), as the site's
// other xBase programs case the same bytes. Keys are built from the bytes
// as stored, so their indexes and these agree.
//
// Compilation never throws; a text that cannot be compiled gives an error
// text. Evaluation never fails once compiled (the record buffer must be the
// table's record length).

#include "data/CodePage.h"
#include "data/FieldDesc.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace xb {

enum class ExprType : char { Char = 'C', Number = 'N', Date = 'D', Logical = 'L' };

struct ExprValue {
    ExprType type = ExprType::Char;
    std::string text;    // Char: the bytes; Date: yyyymmdd, or 8 blanks for a blank date
    double number = 0;   // Number; Date: the Julian day number, 0 for a blank date
    bool logical = false;
};

class KeyExpr {
public:
    KeyExpr();
    ~KeyExpr();
    KeyExpr(KeyExpr&&) noexcept;
    KeyExpr& operator=(KeyExpr&&) noexcept;
    KeyExpr(const KeyExpr&);
    KeyExpr& operator=(const KeyExpr&);

    // Compiles `text` for a table of the code page `page` (Windows 1252 when
    // none is given); false with `error` in plain words when it cannot be
    // compiled (the object is then invalid).
    bool compile(std::string_view text, const FieldList& fields, std::string& error,
                 const CodePage* page = nullptr);
    bool valid() const;
    const std::string& text() const;

    ExprType type() const;
    // Character results: the width of the value (shorter values, e.g. from
    // TRIM, are blank-padded to it in keys). Numbers and dates 8, logicals 1.
    int width() const;

    // The index key this expression gives: 'C' with keyLength() == width(),
    // 'N' 8 bytes (numbers), 'D' 8 bytes (dates), 'L' 1 byte.
    char keyType() const;
    int keyLength() const;

    ExprValue evaluate(RecordPtr rec) const;
    // The logical result (false for any other type): for FOR clauses.
    bool isTrue(RecordPtr rec) const;
    // The key bytes for `rec`, `length` bytes long (character values are
    // blank-padded or cut to it).
    void makeKey(RecordPtr rec, std::string& out, int length) const;
    void makeKey(RecordPtr rec, std::string& out) const { makeKey(rec, out, keyLength()); }

    struct Program;

private:
    std::shared_ptr<const Program> prog_;   // immutable once compiled: copies share it
};

// --- key encodings shared with the index ---

// A number as an 8-byte index key: IEEE double, big-endian, sign bit flipped
// for values >= 0 (-0 taken as 0), all bits inverted for negative values.
std::string encodeNumberKey(double v);
double decodeNumberKey(std::string_view key8);

// Julian day numbers (2024-03-14 is 2460384). julianDay() of an invalid date is 0.
int64_t julianDay(int year, int month, int day);
void civilFromJulian(int64_t jd, int& year, int& month, int& day);
// yyyymmdd text -> Julian day; blank (spaces or zeros) and invalid dates give 0.
int64_t julianFromText(std::string_view yyyymmdd);
// Julian day -> yyyymmdd, 8 blanks for 0 or out of range.
std::string textFromJulian(int64_t jd);
// A day number held as a double (a date key, date arithmetic) -> Julian day;
// 0 for values no date can have.
int64_t julianOf(double day);

// Numeric field text -> value: leading/trailing blanks ignored, blank or
// unreadable text is 0.
double parseNumber(std::string_view text);

// STR(value, width, decimals) as xBase prints it: right-aligned, rounded half
// away from zero, `width` asterisks when it does not fit.
std::string formatNumber(double value, int width, int decimals);

}  // namespace xb

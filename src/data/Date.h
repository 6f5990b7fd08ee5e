#pragma once
// Calendar dates as xBase stores them (yyyymmdd) and as Julian day numbers,
// which date keys of an index use.

#include <optional>
#include <string>
#include <string_view>

namespace xb {

struct Date {
    int year = 0, month = 0, day = 0;

    bool operator==(const Date&) const = default;

    // 2024-03-14 is day 2460384.
    long julianDay() const;
    static Date fromJulianDay(long jd);

    // "yyyymmdd"; nullopt for anything that is not a valid calendar date.
    static std::optional<Date> fromText(std::string_view yyyymmdd);
    std::string text() const;  // yyyymmdd
};

bool isValidDate(int year, int month, int day);

// The engine's date picture: "MM/DD/CCYY" gives 12/08/2026 for 20261208;
// other letters of the picture are copied as they stand. A blank or invalid
// stored date gives an empty text.
std::string formatDate(std::string_view stored, std::string_view picture);

// The three-letter English month name, 1 = "Jan".
const char* monthAbbrev(int month);

}  // namespace xb

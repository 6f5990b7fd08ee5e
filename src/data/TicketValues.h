#pragma once
// The values a ticket carries, in the one form each has on the disk and the
// forms the screens, the printout, the reports and the month end show: texts
// as fields pad them, weights, times of day and dates. Every part of the
// program converts through here, so the kiosk, the station and the reports
// cannot disagree about what "930" or "001234" means.
//
// Stored forms (the ticket tables):
//   weight   a whole number of kilograms in an N(10,0) field
//   time     the number hhmm in an N(4,0) field: 09:30 is 930, 00:05 is 5
//   date     yyyymmdd in a D field
// Shown forms: times hh:mm (the report: h:mm), dates mm/dd/yyyy (the report:
// mm/dd/yy). Month and day names are English whatever the system's language.

#include "data/Clock.h"
#include "data/Date.h"

#include <optional>
#include <string>
#include <string_view>

namespace values {

// ---- text ----

// The text without the blanks, tabs, line ends and NULs around it (what a
// field is padded with, what a line of a file carries).
std::string_view trim(std::string_view s);
std::string trimmed(std::string_view s);
// Equal without regard to the case of the letters A to Z.
bool sameText(std::string_view a, std::string_view b);
// The letters a to z in upper case; every other byte as it is (names may
// carry bytes of any code page, which a locale's upper-casing would garble).
std::string upper(std::string_view s);

// ---- weights ----

// The largest and smallest weight the ten places of a weight field hold.
constexpr long long kMaxWeight = 9999999999LL;
constexpr long long kMinWeight = -999999999LL;

// A weight as the ticket tables can hold it: blanks around it, one optional
// leading '-', then digits ("001234" is 1234), within kMinWeight..kMaxWeight.
// Anything else (empty, a lone "-", "12-3", "1.5", "+7") is no weight.
std::optional<long long> wholeWeight(std::string_view text);
// The weight, or 0 when the text is no weight: the station's arithmetic.
long long weightOrZero(std::string_view text);

// The two weighings of a ticket compared: gross is the heavier, tare the
// other (the out weight when they are equal), both as the texts held
// (trimmed); net is gross minus tare.
struct Weighing {
    std::string gross;
    std::string tare;
    long long net = 0;
};
// Nothing when either weight is no weight: a ticket with a made-up net must
// not be shown, stored or printed.
std::optional<Weighing> weighing(std::string_view inWeight, std::string_view outWeight);
// |in - out|: the net of two weighings, whichever is the heavier.
long long net(long long inWeight, long long outWeight);
// |in - out| with each text taken by weightOrZero: the station's net display.
long long netOf(std::string_view inWeight, std::string_view outWeight);

// ---- times of day ----

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    bool operator==(const TimeOfDay&) const = default;
};

// The stored number of a time: 9:30 is 930.
int storedTime(int hour, int minute);
int storedTime(const xb::LocalTime& t);
// A stored time read back: the last two digits are the minutes, the digits
// before them the hours (0 when there are none): 930 is 09:30, 45 is 00:45,
// 5 is 00:05. Blanks around it are allowed, and a colon before the last two
// digits (the station shows "9:30"). Nothing for a blank text, or one that is
// no time of day (hours past 23, minutes past 59, other characters).
std::optional<TimeOfDay> parseStoredTime(std::string_view stored);
// "09:30"; empty for a blank time or one that is no time of day.
std::string timeText(std::string_view stored);
// "9:35", "14:05", "0:45": the report's form, hours without a leading zero.
std::string shortTimeText(std::string_view stored);
// hh:mm of a moment.
std::string timeText(const xb::LocalTime& t);

// ---- dates ----

// yyyymmdd of a moment.
std::string storedDate(const xb::LocalTime& t);
xb::Date dateOf(const xb::LocalTime& t);
// A date as a ticket holds it, stored (yyyymmdd) or shown (mm/dd/yyyy, also
// m/d/yyyy); nothing for a blank text or one that is no calendar date.
std::optional<xb::Date> parseDate(std::string_view text);
// mm/dd/yyyy; empty for a blank date or one that is no date.
std::string dateText(std::string_view text);
std::string dateText(const xb::Date& d);
// mm/dd/yy: the report's form.
std::string shortDateText(std::string_view text);

// English names: month 1 is January, weekday 0 is Sunday.
const char* monthName(int month);
const char* monthAbbrev(int month);
const char* dayName(int weekday);
int weekday(const xb::Date& d);

// "December 8, 2026"
std::string longDateText(const xb::Date& d);
// "Dec 08, 2026"
std::string mediumDateText(const xb::Date& d);
// "Tuesday December 08, 2026"
std::string fullDateText(const xb::Date& d);
// "Tue, Dec 8, 2026, 9:14 AM": the station's clock.
std::string clockText(const xb::LocalTime& t);

}  // namespace values

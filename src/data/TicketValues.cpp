#include "data/TicketValues.h"

#include <cstdio>

namespace values {

namespace {
bool isPad(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
char upperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

std::string twoDigits(int v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}
}  // namespace

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isPad(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isPad(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string trimmed(std::string_view s) { return std::string(trim(s)); }

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i]))
            return false;
    return true;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = upperAscii(c);
    return out;
}

std::optional<long long> wholeWeight(std::string_view text)
{
    std::string_view t = trim(text);
    const bool negative = !t.empty() && t.front() == '-';
    if (negative)
        t.remove_prefix(1);
    if (t.empty())
        return std::nullopt;
    long long v = 0;
    for (char c : t) {
        if (!isDigit(c))
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > kMaxWeight)
            return std::nullopt;
    }
    if (negative) {
        v = -v;
        if (v < kMinWeight)
            return std::nullopt;
    }
    return v;
}

long long weightOrZero(std::string_view text) { return wholeWeight(text).value_or(0); }

std::optional<Weighing> weighing(std::string_view inWeight, std::string_view outWeight)
{
    const auto in = wholeWeight(inWeight);
    const auto out = wholeWeight(outWeight);
    if (!in || !out)
        return std::nullopt;
    Weighing w;
    const bool inHeavier = *in > *out;
    w.gross = trimmed(inHeavier ? inWeight : outWeight);
    w.tare = trimmed(inHeavier ? outWeight : inWeight);
    w.net = net(*in, *out);
    return w;
}

long long net(long long inWeight, long long outWeight)
{
    return inWeight > outWeight ? inWeight - outWeight : outWeight - inWeight;
}

long long netOf(std::string_view inWeight, std::string_view outWeight)
{
    return net(weightOrZero(inWeight), weightOrZero(outWeight));
}

int storedTime(int hour, int minute) { return hour * 100 + minute; }

int storedTime(const xb::LocalTime& t) { return storedTime(t.hour, t.minute); }

std::optional<TimeOfDay> parseStoredTime(std::string_view stored)
{
    std::string_view t = trim(stored);
    std::string digits;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (isDigit(t[i]))
            digits += t[i];
        else if (t[i] == ':' && i + 3 == t.size() && i > 0)
            continue;  // "9:30", as the station shows a time
        else
            return std::nullopt;
    }
    if (digits.empty() || digits.size() > 4)
        return std::nullopt;
    const int v = std::stoi(digits);
    TimeOfDay r {v / 100, v % 100};
    if (r.hour > 23 || r.minute > 59)
        return std::nullopt;
    return r;
}

std::string timeText(std::string_view stored)
{
    const auto t = parseStoredTime(stored);
    return t ? twoDigits(t->hour) + ":" + twoDigits(t->minute) : std::string();
}

std::string shortTimeText(std::string_view stored)
{
    const auto t = parseStoredTime(stored);
    return t ? std::to_string(t->hour) + ":" + twoDigits(t->minute) : std::string();
}

std::string timeText(const xb::LocalTime& t) { return twoDigits(t.hour) + ":" + twoDigits(t.minute); }

std::string storedDate(const xb::LocalTime& t) { return dateOf(t).text(); }

xb::Date dateOf(const xb::LocalTime& t) { return xb::Date {t.year, t.month, t.day}; }

std::optional<xb::Date> parseDate(std::string_view text)
{
    std::string_view t = trim(text);
    if (t.find('/') == std::string_view::npos)
        return xb::Date::fromText(t);
    // Month, day and year, separated by '/'.
    int part[3] = {0, 0, 0};
    int width[3] = {0, 0, 0};
    int k = 0;
    for (char c : t) {
        if (c == '/') {
            if (++k > 2)
                return std::nullopt;
        } else if (isDigit(c)) {
            if (++width[k] > 4)
                return std::nullopt;
            part[k] = part[k] * 10 + (c - '0');
        } else {
            return std::nullopt;
        }
    }
    if (k != 2 || width[0] == 0 || width[0] > 2 || width[1] == 0 || width[1] > 2 || width[2] != 4)
        return std::nullopt;
    if (!xb::isValidDate(part[2], part[0], part[1]))
        return std::nullopt;
    return xb::Date {part[2], part[0], part[1]};
}

std::string dateText(const xb::Date& d)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.month, d.day, d.year);
    return buf;
}

std::string dateText(std::string_view text)
{
    const auto d = parseDate(text);
    return d ? dateText(*d) : std::string();
}

std::string shortDateText(std::string_view text)
{
    const auto d = parseDate(text);
    if (!d)
        return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", d->month, d->day, d->year % 100);
    return buf;
}

const char* monthName(int month)
{
    static const char* names[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
    return month >= 1 && month <= 12 ? names[month - 1] : "";
}

const char* monthAbbrev(int month) { return xb::monthAbbrev(month); }

const char* dayName(int weekday)
{
    static const char* names[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    return weekday >= 0 && weekday <= 6 ? names[weekday] : "";
}

int weekday(const xb::Date& d)
{
    // Julian day 0 was a Monday.
    return int((d.julianDay() + 1) % 7);
}

std::string longDateText(const xb::Date& d)
{
    return std::string(monthName(d.month)) + " " + std::to_string(d.day) + ", " + std::to_string(d.year);
}

std::string mediumDateText(const xb::Date& d)
{
    return std::string(monthAbbrev(d.month)) + " " + twoDigits(d.day) + ", " + std::to_string(d.year);
}

std::string fullDateText(const xb::Date& d)
{
    return std::string(dayName(weekday(d))) + " " + monthName(d.month) + " " + twoDigits(d.day) + ", " +
           std::to_string(d.year);
}

std::string clockText(const xb::LocalTime& t)
{
    const xb::Date d = dateOf(t);
    const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    return std::string(dayName(weekday(d))).substr(0, 3) + ", " + monthAbbrev(d.month) + " " +
           std::to_string(d.day) + ", " + std::to_string(d.year) + ", " + std::to_string(hour12) + ":" +
           twoDigits(t.minute) + (t.hour < 12 ? " AM" : " PM");
}

}  // namespace values

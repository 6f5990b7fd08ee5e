#include "data/Date.h"

#include <cstdio>

namespace xb {

bool isValidDate(int y, int m, int d)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    int max = days[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        max = 29;
    return d <= max;
}

long Date::julianDay() const
{
    // Proleptic Gregorian calendar to Julian day number.
    long a = (14 - month) / 12;
    long y = year + 4800 - a;
    long m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

Date Date::fromJulianDay(long jd)
{
    long a = jd + 32044;
    long b = (4 * a + 3) / 146097;
    long c = a - 146097 * b / 4;
    long d = (4 * c + 3) / 1461;
    long e = c - 1461 * d / 4;
    long m = (5 * e + 2) / 153;
    Date r;
    r.day = int(e - (153 * m + 2) / 5 + 1);
    r.month = int(m + 3 - 12 * (m / 10));
    r.year = int(100 * b + d - 4800 + m / 10);
    return r;
}

std::optional<Date> Date::fromText(std::string_view t)
{
    if (t.size() != 8)
        return std::nullopt;
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (t[i] < '0' || t[i] > '9')
            return std::nullopt;
        v[i] = t[i] - '0';
    }
    Date d {v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], v[4] * 10 + v[5], v[6] * 10 + v[7]};
    if (!isValidDate(d.year, d.month, d.day))
        return std::nullopt;
    return d;
}

std::string Date::text() const
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", year % 10000, month % 100, day % 100);
    return buf;
}

std::string formatDate(std::string_view stored, std::string_view picture)
{
    auto d = Date::fromText(stored);
    if (!d)
        return {};
    std::string year = d->text().substr(0, 4);
    std::string out;
    int mm = 0, dd = 0, yy = 0;
    for (char c : picture) {
        switch (c) {
        case 'M': out += char('0' + (mm++ == 0 ? d->month / 10 : d->month % 10)); break;
        case 'D': out += char('0' + (dd++ == 0 ? d->day / 10 : d->day % 10)); break;
        case 'C':
        case 'Y': out += year[std::size_t(yy++ % 4)]; break;
        default: out += c;
        }
    }
    return out;
}

const char* monthAbbrev(int month)
{
    static const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return month >= 1 && month <= 12 ? names[month - 1] : "";
}

}  // namespace xb

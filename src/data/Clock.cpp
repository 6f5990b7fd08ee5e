#include "data/Clock.h"

#include <ctime>
#include <utility>

namespace xb {
namespace {
std::function<LocalTime()>& source()
{
    static std::function<LocalTime()> s;
    return s;
}
}  // namespace

LocalTime now()
{
    if (auto& s = source())
        return s();
    std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void setClockSource(std::function<LocalTime()> s) { source() = std::move(s); }

}  // namespace xb

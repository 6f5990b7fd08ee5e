#pragma once
// The one clock of the program. Everything that needs the date or the time of
// day asks here, so tests can put the program at midnight, noon or a new day.

#include <functional>

namespace xb {

struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
};

// The local date and time now, from the installed source (the system clock
// unless a test installed another).
LocalTime now();

// Installs another source; an empty function restores the system clock.
void setClockSource(std::function<LocalTime()> source);

}  // namespace xb

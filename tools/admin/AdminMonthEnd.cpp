// grazulo-admin month-end YEAR MONTH and move-data DIR [--replace]: the same
// month end and data directory move the station's windows run.

#include "AdminCommands.h"

#include "monthend/MonthEndArchive.h"
#include "setup/MoveData.h"

#include <cstdlib>
#include <iostream>

namespace admin {

namespace {
bool wholeNumber(const std::string& s, long lo, long hi, long& out)
{
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::strtol(s.c_str(), nullptr, 10);
    return out >= lo && out <= hi;
}
}  // namespace

int monthEnd(const Args& args)
{
    long year = 0, month = 0;
    if (args.size() != 2)
        return fail("usage: grazulo-admin month-end YEAR MONTH", 2);
    if (!wholeNumber(args[0], 1000, 9999, year))
        return fail("'" + args[0] + "' is not a year (1000 to 9999)", 2);
    if (!wholeNumber(args[1], 1, 12, month))
        return fail("'" + args[1] + "' is not a month (1 to 12)", 2);
    const std::string data = dataDir();
    if (data.empty())
        return fail("setup.dbf in " + programDir() + " names no data directory");
    const monthend::Result r = monthend::closeMonth(data, int(year), int(month));
    if (!r.done)
        return fail(lines(r.message));
    std::cout << lines(r.message) << "\n";
    return 0;
}

int moveData(const Args& args)
{
    bool replace = false;
    std::string dir;
    for (const std::string& a : args) {
        if (a == "--replace")
            replace = true;
        else if (dir.empty())
            dir = a;
        else
            return fail("usage: grazulo-admin move-data DIR [--replace]", 2);
    }
    if (dir.empty())
        return fail("usage: grazulo-admin move-data DIR [--replace]", 2);
    dir = absoluteArgument(dir);
    const setup::PathCheck check = setup::checkPath(dir);
    if (check != setup::PathCheck::kOk) {
        std::string text = setup::pathMessage(check);
        for (char& c : text)
            if (c == '\r')
                c = ' ';
        return fail(dir + ": " + text, 2);
    }
    const setup::MoveResult r = setup::moveData(dir, [&](const std::string& question) {
        std::string q = question;
        for (char& c : q)
            if (c == '\r')
                c = ' ';
        std::cerr << "grazulo-admin: " << q << " " << (replace ? "Yes" : "No") << "\n";
        return replace;
    });
    for (const std::string& n : r.notes)
        std::cerr << "grazulo-admin: " << lines(n) << "\n";
    if (!r.ok)
        return fail(lines(r.message));
    for (const std::string& f : r.moved)
        std::cout << "moved " << f << "\n";
    for (const std::string& f : r.skipped)
        std::cout << "kept " << f << " (already in " << dir << ")\n";
    std::cout << "The data directory is " << r.datapath << ".\n";
    return 0;
}

}  // namespace admin

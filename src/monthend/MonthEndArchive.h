#pragma once
// Closing a month: every ticket of the month's day tables (mmmddyy.dbf in
// the data directory) goes into the month's archive table
// (MonthEnd/ME_yymmm.dbf) and into the month's folder (yymmm/, a day table
// there already receiving the new tickets after its own), and the day tables
// leave the data directory. The window and grazulo-admin share this code.
//
// The kiosk and the station may go on weighing while it runs (a month closed
// on its last day gets late trucks). So each day table is first renamed out
// of their way, into MonthEnd/ME_yymmm.closing/: a ticket completed after
// that goes into a new day table, which the month end takes in its next
// round or leaves for the next month end. A table taken out of the way no
// longer changes; its tickets are added to the archive and to the month's
// folder where they are not there already (compared record by record, as
// the target stores them), and it is removed once both hold all of it.
//
// Safe against a kill or a power cut at any moment: the month end is noted
// first (MonthEnd/ME_yymmm.pending), each table that changes is built beside
// its place and renamed into it, and a run finds what is already done by
// what the tables hold, not by a count taken earlier. Running the month end
// of that month again finishes it, with every ticket of the month once in
// the archive and once in the folder, whatever was written meanwhile.

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace monthend {

// The grid of the window: 22 columns per ticket.
constexpr int kColumns = 22;
using GridRow = std::array<std::string, kColumns>;

struct Listing {
    std::vector<GridRow> rows;
    std::string error;  // a day table that cannot be read, named
};
// Every ticket of the month's day tables, day 1 first, each table in its
// record order: those a month end cut short is closing, and those in the
// data directory.
Listing listMonth(const std::string& dataDir, int year, int month);

struct Result {
    bool done = false;
    long tickets = 0;     // added to the archive by this run
    std::string message;  // the completion message (and what stays), or what failed
};

// Closes the month (or finishes the close a dead process left half done).
Result closeMonth(const std::string& dataDir, int year, int month);

// Whether a close of that month was cut short and waits to be finished.
bool interrupted(const std::string& dataDir, int year, int month);
std::string pendingPath(const std::string& dataDir, int year, int month);

// "Month End procedure completed for January, 2026."
std::string completionMessage(int year, int month);

// Called as a run passes each of its steps: "noted" (the month end is
// noted, nothing moved yet), and in each round "taken" (the day tables are
// out of the way), "filed" (the month's folder holds their tickets),
// "archived" (so does the archive), "removed" (the tables taken are gone).
// For tests that let other writers in between; none by default.
void setStepHook(std::function<void(const std::string& step)> hook);

}  // namespace monthend

#pragma once
// Closing a month: every ticket of the month's day tables (mmmddyy.dbf in
// the data directory) goes into the month's archive table
// (MonthEnd/ME_yymmm.dbf) and into the month's folder (yymmm/, a day table
// there already receiving the new tickets after its own), and the day tables
// leave the data directory. The window and grazulo-admin share this code.
//
// Safe against a kill or a power cut at any moment: the steps are planned
// first and the plan is written, durably, beside the archive
// (MonthEnd/ME_yymmm.pending) before any table changes. Each table that
// changes is built beside its place and renamed into it, so it is either as
// it was or complete; a day table is removed only once the archive and its
// copy in the month's folder are on the disk. Running the month end of that
// month again finishes what the plan says, by the number of tickets each
// table holds, so nothing is lost and nothing is archived twice.

#include "data/Clock.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace monthend {

// Names of the month's files, English month names whatever the language.
std::string dayTablePath(const std::string& dataDir, int year, int month, int day);
std::string archivePath(const std::string& dataDir, int year, int month);
std::string monthFolder(const std::string& dataDir, int year, int month);
std::string pendingPath(const std::string& dataDir, int year, int month);

// The grid of the window: 22 columns per ticket.
constexpr int kColumns = 22;
using GridRow = std::array<std::string, kColumns>;

struct Listing {
    std::vector<GridRow> rows;
    std::string error;  // a day table that cannot be read, named
};
// Every ticket of the month's day tables in the data directory, day 1 first,
// each table in its record order.
Listing listMonth(const std::string& dataDir, int year, int month);

struct Result {
    bool done = false;
    long tickets = 0;     // archived by this run (and by the run it finished)
    std::string message;  // the completion message, or what failed
};

// Closes the month (or finishes the close a dead process left half done).
Result closeMonth(const std::string& dataDir, int year, int month);

// Whether a close of that month was cut short and waits to be finished.
bool interrupted(const std::string& dataDir, int year, int month);

// "Month End procedure completed for January, 2026."
std::string completionMessage(int year, int month);

}  // namespace monthend

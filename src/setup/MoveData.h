#pragma once
// Pointing the program at another data directory: the customer, product,
// open-ticket and user tables move there from the directory the setup table
// names, the ticket counter is carried along, and the setup table then names
// the new one. The Setup window and grazulo-admin share this code.
//
// Safe against a kill or a power cut at any moment: every table is copied
// whole beside its place in the new directory first; a small record of the
// move (move-data.pending in the program directory) is written; the copies
// are renamed into place; the setup table, rebuilt beside itself, is renamed
// over the old one; only then are the old files removed. Whenever it stops,
// every table is whole in one of the two directories and the setup table
// names a directory that holds them all.
//
// A move cut short is settled before any table is used again (the program's
// and the station's start-up, grazulo-admin, the next move): while the setup
// table still names the old directory the kiosk and the station go on
// writing there, so a table that changed since it was copied is copied
// again; once the setup table names the new directory, an old file that no
// longer equals its copy is kept, never deleted unread.

#include <functional>
#include <string>
#include <vector>

namespace setup {

// The tables that move, in their order: the file whose presence in the new
// directory asks the question, the files moved, the question.
struct Group {
    const char* table;
    std::vector<const char*> files;
    const char* question;
};
const std::vector<Group>& groups();

// The data directory the setup table names (with its separator, a relative
// one taken from the program directory), or the program directory when
// there is no table, no record or a blank datapath.
std::string currentDataDir();

enum class PathCheck { kOk, kTooLong, kNoDirectory };
// The text as it is to be stored (a relative one taken from the program
// directory): at most 50 characters (datapath's width), an existing
// directory.
PathCheck checkPath(const std::string& typed);
std::string pathMessage(PathCheck check);

// Asked before a table in the new directory is replaced: true for Yes.
using Ask = std::function<bool(const std::string& question)>;

struct MoveResult {
    bool ok = false;
    std::string message;               // what failed, for the operator
    std::string datapath;              // what the setup table now holds
    std::vector<std::string> moved;    // the files now in the new directory
    std::vector<std::string> skipped;  // the tables answered No
    // Said after a move that succeeded: what was done with the counter, an
    // earlier move settled first, the old files that stay and why.
    std::vector<std::string> notes;
};

// Moves the tables to the directory `text` (absolute, or taken from the
// program directory) and stores it, absolute, in the setup table. Nothing is
// moved when it is the directory the tables are in already (compared as
// directories, not as names). A move that finds none of the tables in the
// old directory, and none in the new one, is refused. On failure the old
// directory and the setup table are as they were. Once the setup table names
// the new directory the move has succeeded, also when an old file could not
// be removed (a note says which).
MoveResult moveData(const std::string& text, const Ask& ask);

struct Settled {
    bool found = false;  // a move had been cut short
    bool ok = true;      // it was finished, or taken back
    std::string message; // what was done, for the operator
};
// Finishes a move a dead process left half done, or takes it back while the
// setup table still names the old directory and it cannot be finished.
Settled settleInterruptedMove();
std::string pendingPath();

// Called as a move passes each of its steps: "copied" (the copies are
// beside their places), "recorded" (the record of the move is written),
// "placed" (the copies are in place), "switched" (the setup table names the
// new directory), "tidied" (the old files are gone). For tests that let
// other writers in between; none by default.
void setStepHook(std::function<void(const std::string& step)> hook);

}  // namespace setup

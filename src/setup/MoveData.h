#pragma once
// Pointing the program at another data directory: the customer, product,
// open-ticket and user tables move there from the directory the setup table
// names, and the setup table then names the new one. The Setup window and
// grazulo-admin share this code.
//
// Safe against a kill or a power cut at any moment: every table is copied
// whole beside its place in the new directory first; a small record of the
// move (move-data.pending in the program directory) is written; the copies
// are renamed into place; the setup table, rebuilt beside itself, is renamed
// over the old one; only then are the old files removed. Whenever it stops,
// every table is whole in one of the two directories and the setup table
// names a directory that holds them all; the next move, or the next start of
// the Setup window, finishes what the record says.

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

// The data directory the setup table names (trimmed, with its separator),
// or the program directory when there is no table, no record or a blank
// datapath.
std::string currentDataDir();

enum class PathCheck { kOk, kTooLong, kNoDirectory };
// The text as typed: at most 50 characters (datapath's width), an existing
// directory.
PathCheck checkPath(const std::string& text);
std::string pathMessage(PathCheck check);

// Asked before a table in the new directory is replaced: true for Yes.
using Ask = std::function<bool(const std::string& question)>;

struct MoveResult {
    bool ok = false;
    std::string message;  // what failed, for the operator
    std::vector<std::string> moved;    // the files now in the new directory
    std::vector<std::string> skipped;  // the tables answered No
};

// Moves the tables to the directory `text` (typed, checked with checkPath)
// and stores `text` in the setup table. Nothing is moved when it is the
// directory the tables are in already (compared as directories, not as
// names). On failure the old directory and the setup table are as they were.
MoveResult moveData(const std::string& text, const Ask& ask);

// Finishes a move a dead process left half done; false (and `error`) when
// it cannot be finished.
bool finishInterruptedMove(std::string& error);
std::string pendingPath();

}  // namespace setup

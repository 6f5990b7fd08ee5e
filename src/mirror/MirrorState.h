#pragma once
// What the mirror keeps at the site between runs (mirror.state in the
// program directory): for each part the identity of its tables when they
// were last read with the signature of their rows, so an unchanged day is
// not read again, and the signature the head office last confirmed holding,
// so --status can say what waits while the database cannot be reached.
//
// The database's own record of what it holds (grazulo.sent) decides what is
// sent; this file only saves reading. Lost, cut short or from another
// program version, it is read as empty and the next run reads every table.

#include <map>
#include <string>

namespace mirror {

struct PartState {
    std::string identity;       // the tables when they were read (partIdentity)
    bool settled = false;       // that identity shows every change (see Identity::settled)
    std::string signature;      // of the rows read then
    long rows = 0;
    std::string sentSignature;  // what the head office holds of the part, as last seen; empty: nothing
    long sentRows = 0;
};

struct LocalState {
    std::string target;  // the site and the database the sent signatures are of
    std::string lastRun;      // "2026-12-08 09:35:02: sent 2 days (400 tickets)" / ": failed: ..."
    std::string lastSent;     // the last run that sent anything, in the same form
    std::map<std::string, PartState> parts;  // by part key
};

LocalState loadState(const std::string& path);
// Replaced whole (never left half written); false (and `error`) when it
// cannot be.
bool saveState(const std::string& path, const LocalState& state, std::string& error);

}  // namespace mirror

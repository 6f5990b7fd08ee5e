#pragma once
// The mirror: the site's tickets and records sent to the head office's
// PostgreSQL database, each part of the site (a day, the open tickets, the
// customers, the products) replaced whole, in one transaction with the
// database's record of what it holds of that part (grazulo.sent). A part is
// sent only when its rows differ from what that record says was sent, so a
// run that dies anywhere (killed, the link lost, the server restarted)
// leaves each part as it was or as it is now, and the next run sends what
// is missing, however long the site was away. Two mirrors of one site never
// run at once: each holds the site's advisory lock in the database.

#include "mirror/MirrorSettings.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace mirror {

class Pg;

struct RunOptions {
    // A site with no day table at all leaves the head office's days alone
    // (a wrong data directory looks like that), unless this says the days
    // are really gone.
    bool allowEmpty = false;
    // Rows a transaction carries at most; a part is never split.
    std::size_t batchRows = 5000;
};

struct RunResult {
    int status = 1;                     // 0 done, 1 failed (what was sent before the failure stays)
    std::string summary;                // what was done, for standard output
    std::vector<std::string> problems;  // what went wrong, for standard error
    int daysSent = 0;
    long ticketsSent = 0;
    int daysRemoved = 0;
    int partsUnchanged = 0;
};

RunResult runMirror(const Settings& settings, const RunOptions& options = {});

struct StatusReport {
    int status = 1;    // 0 when the state could be told (also with the database away)
    std::string text;  // lines for standard output
};

// What was last sent, what the head office holds and what waits to be sent
// (also while the database cannot be reached: then as last seen). Changes
// nothing.
StatusReport mirrorStatus(const Settings& settings);

// The database named by a connection file; null with `error`.
std::unique_ptr<Pg> connectWithFile(const std::string& connectionFile, std::string& error);

// Takes the site's lock for this connection's session; false when another
// session holds it (or the database cannot be asked).
bool tryLockSite(Pg& db, const std::string& site);

}  // namespace mirror

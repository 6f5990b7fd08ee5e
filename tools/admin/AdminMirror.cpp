// grazulo-admin mirror: the site's tickets and records sent to the head
// office's PostgreSQL database.
//
//   grazulo-admin [--home DIR] mirror [--allow-empty] [--batch-rows N]
//                                         send what changed, N rows a transaction at most
//   grazulo-admin [--home DIR] mirror --status          what was sent, what waits
//   grazulo-admin [--home DIR] mirror --init [--connection FILE]
//                                         make or bring up to date the database's tables
//   grazulo-admin [--home DIR] mirror --ready           exit 0 when setup.ini names a
//                                         connection file that exists (the timer's condition)
//
// The connection string is read from the file setup.ini names ([Mirror]
// connection=), or from FILE for --init, which the head office runs with its
// own connection, possibly on a machine that is no site.

#include "AdminCommands.h"

#include "data/Paths.h"
#include "mirror/Mirror.h"
#include "mirror/Pg.h"
#include "mirror/Schema.h"

#include <iostream>

namespace admin {

namespace {

constexpr const char* kUsage =
    "usage: grazulo-admin mirror [--allow-empty] [--batch-rows N] | --status | --init [--connection FILE] | --ready";

int init(const std::string& connectionFile)
{
    if (connectionFile.empty())
        return fail("no connection file: give --connection FILE, or name one in setup.ini ([Mirror] connection=)");
    std::string error;
    auto db = mirror::connectWithFile(connectionFile, error);
    if (!db)
        return fail(error);
    const mirror::InitResult r = mirror::initSchema(*db);
    if (!r.ok)
        return fail(r.message);
    std::cout << r.message << "\n";
    return 0;
}

}  // namespace

int mirrorCommand(const Args& args)
{
    enum class Job { kRun, kStatus, kInit, kReady } job = Job::kRun;
    bool allowEmpty = false;
    long batchRows = 0;
    std::string connection;
    int jobs = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--status" || a == "--init" || a == "--ready") {
            job = a == "--status" ? Job::kStatus : a == "--init" ? Job::kInit : Job::kReady;
            ++jobs;
        } else if (a == "--allow-empty") {
            allowEmpty = true;
        } else if (a == "--batch-rows" && i + 1 < args.size()) {
            const std::string& n = args[++i];
            if (n.empty() || n.size() > 7 || n.find_first_not_of("0123456789") != std::string::npos ||
                (batchRows = std::stol(n)) < 1)
                return fail("'" + n + "' is not a number of rows (1 or more)", 2);
        } else if (a == "--connection" && i + 1 < args.size()) {
            connection = args[++i];
        } else {
            return fail(kUsage, 2);
        }
    }
    if (jobs > 1 || (!connection.empty() && job != Job::kInit) || ((allowEmpty || batchRows) && job != Job::kRun))
        return fail(kUsage, 2);

    std::string problem;
    const mirror::Settings settings = mirror::loadSettings(programDir(), dataDir(), problem);
    if (job == Job::kInit)
        return init(connection.empty() ? settings.connectionFile : connection);
    if (job == Job::kReady) {
        // No connection file yet: the site does not mirror, and the timer's
        // run is skipped (systemd's ExecCondition), not failed.
        if (settings.connectionFile.empty() || !xb::fileExists(settings.connectionFile)) {
            std::cerr << "grazulo-admin: the site does not mirror: "
                      << (settings.connectionFile.empty() ? "setup.ini names no connection file"
                                                          : settings.connectionFile + " does not exist")
                      << "\n";
            return 1;
        }
        return 0;
    }
    if (!problem.empty())
        return fail(problem + " (setup.ini, [Mirror] site=)");
    if (job == Job::kStatus) {
        const mirror::StatusReport s = mirror::mirrorStatus(settings);
        std::cout << s.text;
        return s.status;
    }
    mirror::RunOptions options;
    options.allowEmpty = allowEmpty;
    if (batchRows > 0)
        options.batchRows = std::size_t(batchRows);
    const mirror::RunResult r = mirror::runMirror(settings, options);
    if (!r.summary.empty())
        std::cout << r.summary << "\n";
    for (const std::string& p : r.problems)
        fail(p);
    return r.status;
}

}  // namespace admin

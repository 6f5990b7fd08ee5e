#pragma once
// A site's tables made by hand for the mirror's tests and benchmark: day
// tables of tickets in the data directory or a month's folder, and the
// settings of a site that mirrors into a test server.

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "mirror/MirrorSettings.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testmirror {

struct Ticket {
    long number = 1;
    std::string customer = "ACME HAULING";
    long long in = 14020;
    long long out = 8760;
    std::string remarks;
};

// `count` tickets numbered from `first`, the remarks telling them apart.
inline std::vector<Ticket> tickets(long first, int count, const std::string& remarks = "")
{
    std::vector<Ticket> out;
    for (int i = 0; i < count; ++i)
        out.push_back({first + i, "CUSTOMER " + std::to_string((first + i) % 40), 14000 + i, 8000 + (i % 500), remarks});
    return out;
}

// Writes (overwrites) the ticket table at `path` with these tickets of `day`.
inline bool writeDay(const std::string& path, const xb::Date& day, const std::vector<Ticket>& list)
{
    std::filesystem::create_directories(xb::directoryOf(path));
    std::filesystem::remove(path);  // written anew: tables are never created over another
    if (!catalogue::CreateTable(catalogue::kTicketLayout, path))
        return false;
    xb::Connection c;
    xb::Table* t = c.open(path);
    if (!t)
        return false;
    for (const Ticket& k : list) {
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger(k.number);
        t->field("customer")->assignRaw(k.customer);  // the bytes, as another program stored them
        t->field("product")->assign("PEA GRAVEL");
        t->field("truck")->assign("T-" + std::to_string(k.number));
        t->field("in_time")->assignInteger(730);
        t->field("in_date")->assignDate(day);
        t->field("out_time")->assignInteger(1015);
        t->field("out_date")->assignDate(day);
        t->field("in_wgt")->assignInteger(k.in);
        t->field("out_wgt")->assignInteger(k.out);
        t->field("net_wgt")->assignInteger(k.in > k.out ? k.in - k.out : k.out - k.in);
        t->field("complete")->assignLogical(true);
        t->field("remarks")->assign(k.remarks);
        if (t->append() != xb::kSuccess)
            return false;
    }
    return t->close() == xb::kSuccess;
}

// The day table's path in the data directory, or in its month's folder.
inline std::string dayPath(const std::string& dataDir, const xb::Date& day, bool inFolder = false)
{
    return dataDir + (inFolder ? catalogue::monthDirName(day.year, day.month) + "/" : std::string()) +
           catalogue::dayTableName(day);
}

// Sets one field of every live record of a table, as another program would.
inline bool setEveryRecord(const std::string& path, const std::string& field, const std::string& value)
{
    xb::Connection c;
    xb::Table* t = c.open(path);
    if (!t)
        return false;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        if (!t->field(field)->assign(value))
            return false;
    return t->close() == xb::kSuccess;
}

// A program directory and data directory for `site`, mirroring through
// `connectionFile` (written 0600 with `conninfo`).
inline mirror::Settings siteSettings(const std::string& home, const std::string& site, const std::string& conninfo)
{
    mirror::Settings s;
    s.programDir = xb::addBackslash(home);
    s.dataDir = s.programDir + "database/";
    s.site = site;
    s.connectionFile = s.programDir + "head-office.conn";
    s.statePath = s.programDir + "mirror.state";
    std::filesystem::create_directories(s.dataDir);
    xb::writeFileDurably(s.connectionFile, conninfo + "\n");
    std::filesystem::permissions(s.connectionFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return s;
}

}  // namespace testmirror

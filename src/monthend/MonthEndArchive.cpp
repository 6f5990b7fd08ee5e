#include "monthend/MonthEndArchive.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/StepRecord.h"
#include "data/TicketValues.h"
#include "data/Util.h"

#include <cstdio>
#include <sstream>

namespace monthend {

namespace {

std::string twoDigits(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v % 100);
    return buf;
}

// A table's live tickets, counted; nothing (and `error`) when it cannot be
// read.
std::optional<long> liveCount(const std::string& path, std::string& error)
{
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path);
    if (!t) {
        error = xb::baseName(path) + " cannot be read";
        return std::nullopt;
    }
    long n = 0;
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1))
        ++n;
    if (r == xb::kError || c.errorCode() != 0) {
        error = xb::baseName(path) + " cannot be read to its end";
        return std::nullopt;
    }
    return n;
}

// -1 for a table that is not there.
std::optional<long> countOrAbsent(const std::string& path, std::string& error)
{
    if (!xb::fileExists(path))
        return -1;
    return liveCount(xb::resolvePath(path), error);
}

// Where a table is built before it is renamed into its place.
std::string stagePath(const std::string& path) { return path.substr(0, path.size() - 4) + ".building.dbf"; }

struct DayStep {
    std::string name;  // the day table's file name as found
    long tickets = 0;  // its live tickets
    long before = -1;  // its namesake's tickets in the month's folder, -1: none
};

struct Plan {
    int year = 0, month = 0;
    long archiveBefore = -1;  // -1: no archive table yet
    long archiveAfter = 0;
    std::vector<DayStep> days;
};

std::string textOf(const Plan& p)
{
    xb::StepRecord r;
    r.add("month", std::to_string(p.year) + "-" + twoDigits(p.month));
    r.add("archive_before", p.archiveBefore);
    r.add("archive_after", p.archiveAfter);
    for (const DayStep& d : p.days)
        r.add("day", d.name + " " + std::to_string(d.tickets) + " " + std::to_string(d.before));
    return r.text("a month end in progress: finish it by running the month end of this month again");
}

std::optional<Plan> parsePlan(const std::string& text, int year, int month)
{
    const auto r = xb::StepRecord::parse(text);
    if (!r || r->value("month") != std::to_string(year) + "-" + twoDigits(month))
        return std::nullopt;
    Plan p;
    p.year = year;
    p.month = month;
    const auto before = r->number("archive_before");
    const auto after = r->number("archive_after");
    if (!before || !after)
        return std::nullopt;
    p.archiveBefore = long(*before);
    p.archiveAfter = long(*after);
    for (const auto& [key, value] : r->entries()) {
        if (key != "day")
            continue;
        DayStep d;
        std::istringstream v(value);
        if (!(v >> d.name >> d.tickets >> d.before) || d.name.find('/') != std::string::npos)
            return std::nullopt;
        p.days.push_back(d);
    }
    return p;
}

Result failed(const std::string& what)
{
    Result r;
    r.message = what;
    return r;
}

// Builds `target` as `current` (if any) with `days` appended, beside it,
// and renames it into place once it is on the disk and holds `expected`.
bool buildTable(const std::string& target, bool exists, const std::vector<std::string>& sources, long expected,
                std::string& error)
{
    const std::string stage = stagePath(target);
    ::unlink(stage.c_str());
    xb::removeLeftoverCopies(stage);
    if (exists) {
        if (!xb::copyFile(target, stage, &error))
            return false;
    } else if (!catalogue::CreateTable(catalogue::kTicketLayout, stage)) {
        error = xb::baseName(target) + " cannot be created";
        return false;
    }
    for (const std::string& s : sources)
        if (!util::cbAppendFrom(s, stage)) {
            ::unlink(stage.c_str());
            error = "the tickets of " + xb::baseName(s) + " cannot be written into " + xb::baseName(target);
            return false;
        }
    std::string why;
    const auto n = liveCount(stage, why);
    if (!n || *n != expected) {
        ::unlink(stage.c_str());
        error = xb::baseName(target) + " could not be written whole" + (n ? "" : " (" + why + ")");
        return false;
    }
    if (!xb::syncFile(stage, &error) || !xb::renameDurably(stage, target, &error)) {
        ::unlink(stage.c_str());
        return false;
    }
    return true;
}

// Carries out a plan from wherever a dead run left it.
Result applyPlan(const std::string& dataDir, const Plan& p)
{
    const std::string archive = archivePath(dataDir, p.year, p.month);
    const std::string folder = monthFolder(dataDir, p.year, p.month);
    std::string error;

    // The archive: as it was, or with every ticket of the month.
    const auto archiveNow = countOrAbsent(archive, error);
    if (!archiveNow)
        return failed("The month end stopped: " + error + ".");
    if (*archiveNow != p.archiveAfter) {
        if (*archiveNow != p.archiveBefore)
            return failed("The month end stopped: " + xb::baseName(archive) + " holds " + std::to_string(*archiveNow) +
                          " tickets, where " + std::to_string(std::max(0L, p.archiveBefore)) + " or " +
                          std::to_string(p.archiveAfter) + " were expected. Nothing more was changed.");
        std::vector<std::string> sources;
        for (const DayStep& d : p.days) {
            if (!xb::fileExists(dataDir + d.name))
                return failed("The month end stopped: " + d.name + " is missing from the data directory.");
            sources.push_back(xb::resolvePath(dataDir + d.name));
        }
        if (!buildTable(archive, p.archiveBefore >= 0, sources, p.archiveAfter, error))
            return failed("The month end stopped: " + error + ". No day table was moved.");
    }

    // Each day's copy in the month's folder: as it was, or with its tickets.
    for (const DayStep& d : p.days) {
        const std::string day = dataDir + d.name;
        if (!xb::fileExists(day))
            continue;  // moved by the run this one finishes
        const std::string target = folder + d.name;
        const long want = (d.before < 0 ? 0 : d.before) + d.tickets;
        const auto now = countOrAbsent(target, error);
        if (!now)
            return failed("The month end stopped: " + error + ".");
        if (*now == want)
            continue;
        if (*now != d.before)
            return failed("The month end stopped: " + xb::baseName(folder) + "/" + d.name + " holds " +
                          std::to_string(*now) + " tickets, where " + std::to_string(std::max(0L, d.before)) +
                          " or " + std::to_string(want) + " were expected.");
        if (d.before < 0) {
            xb::removeLeftoverCopies(target);
            if (!xb::copyFile(day, target, &error))
                return failed("The month end stopped: " + error + ".");
        } else if (!buildTable(target, true, {xb::resolvePath(day)}, want, error)) {
            return failed("The month end stopped: " + error + ".");
        }
    }

    // Only now do the day tables leave the data directory.
    for (const DayStep& d : p.days) {
        const std::string day = dataDir + d.name;
        if (xb::fileExists(day) && !xb::removeFile(day))
            return failed("The month end stopped: " + d.name + " could not be removed from the data directory.");
        xb::syncDirectoryOf(day);
    }
    ::unlink(pendingPath(dataDir, p.year, p.month).c_str());
    xb::syncDirectoryOf(pendingPath(dataDir, p.year, p.month));
    Result r;
    r.done = true;
    r.tickets = p.archiveAfter - std::max(0L, p.archiveBefore);
    r.message = completionMessage(p.year, p.month);
    return r;
}

}  // namespace

std::string dayTablePath(const std::string& dataDir, int year, int month, int day)
{
    return dataDir + values::monthAbbrev(month) + twoDigits(day) + twoDigits(year) + ".dbf";
}

std::string archivePath(const std::string& dataDir, int year, int month)
{
    return dataDir + catalogue::monthEndTableName(year, month);
}

std::string monthFolder(const std::string& dataDir, int year, int month)
{
    return dataDir + catalogue::monthDirName(year, month) + "/";
}

std::string pendingPath(const std::string& dataDir, int year, int month)
{
    const std::string a = archivePath(dataDir, year, month);
    return a.substr(0, a.size() - 4) + ".pending";
}

std::string completionMessage(int year, int month)
{
    return std::string("Month End procedure completed for ") + values::monthName(month) + ", " +
           std::to_string(year) + ".";
}

bool interrupted(const std::string& dataDir, int year, int month)
{
    return xb::fileExists(pendingPath(dataDir, year, month));
}

Listing listMonth(const std::string& dataDir, int year, int month)
{
    Listing out;
    for (int d = 1; d <= 31; ++d) {
        const std::string path = dayTablePath(dataDir, year, month, d);
        if (!xb::fileExists(path))
            continue;
        xb::Connection c;
        c.setReadOnly(true);
        xb::Table* t = c.open(xb::resolvePath(path));
        if (!t) {
            out.error = xb::baseName(path) + " cannot be read.";
            out.rows.clear();
            return out;
        }
        const bool userId = t->fieldCount() > 0 && values::sameText(t->fieldAt(1)->name(), "user_id");
        int r = t->top();
        for (; r == xb::kSuccess; r = t->skip(1)) {
            GridRow g;
            const char* text[] = {"ticket", "customer", "carrier", "company", "truck", "product",
                                  "po",     "payment",  "amount",  "gst",     "pst",   "total"};
            for (int i = 0; i < 12; ++i)
                g[std::size_t(i)] = util::fetch(t, text[i]);
            g[12] = util::tfetch(t, "pounds") ? "T" : "F";
            g[13] = values::timeText(util::fetch(t, "in_time"));
            g[14] = values::dateText(util::fetch(t, "in_date"));
            g[15] = values::timeText(util::fetch(t, "out_time"));
            g[16] = values::dateText(util::fetch(t, "out_date"));
            g[17] = util::fetch(t, "in_wgt");
            g[18] = util::fetch(t, "out_wgt");
            g[19] = util::fetch(t, "net_wgt");
            g[20] = util::tfetch(t, "complete") ? "T" : "F";
            g[21] = util::fetch(t, userId ? "user_id" : "id_num");
            out.rows.push_back(g);
        }
        if (r == xb::kError) {
            out.error = xb::baseName(path) + " cannot be read to its end.";
            out.rows.clear();
            return out;
        }
    }
    return out;
}

Result closeMonth(const std::string& dataDir, int year, int month)
{
    if (month < 1 || month > 12 || year < 1000 || year > 9999)
        return failed("There is no month " + std::to_string(month) + " of " + std::to_string(year) + ".");
    if (values::trim(dataDir).empty())
        return failed("No data directory is set up.");
    const std::string pending = pendingPath(dataDir, year, month);
    if (xb::fileExists(pending)) {
        if (auto p = parsePlan(xb::readSmallFile(xb::resolvePath(pending)).value_or(""), year, month))
            return applyPlan(dataDir, *p);
        // Cut short while it was written: the month end it was to record
        // never began (it is on the disk before any table changes).
        xb::removeFile(pending);
    }

    // The plan, from the tables as they are; a day table that cannot be read
    // stops it before anything changes.
    Plan p;
    p.year = year;
    p.month = month;
    std::string error;
    const std::string archive = archivePath(dataDir, year, month);
    const std::string folder = monthFolder(dataDir, year, month);
    const auto before = countOrAbsent(archive, error);
    if (!before)
        return failed("The month end did not start: " + error + ".");
    p.archiveBefore = *before;
    long total = 0;
    for (int d = 1; d <= 31; ++d) {
        const std::string path = dayTablePath(dataDir, year, month, d);
        if (!xb::fileExists(path))
            continue;
        DayStep s;
        s.name = xb::baseName(xb::resolvePath(path));
        const auto n = liveCount(xb::resolvePath(path), error);
        if (!n)
            return failed("The month end did not start: " + error + ". Nothing was moved.");
        s.tickets = *n;
        const auto there = countOrAbsent(folder + s.name, error);
        if (!there)
            return failed("The month end did not start: " + error + ". Nothing was moved.");
        s.before = *there;
        total += s.tickets;
        p.days.push_back(s);
    }
    if (p.days.empty())
        return failed(std::string("No day table of ") + values::monthName(month) + ", " + std::to_string(year) +
                      " is in the data directory: nothing was done.");
    p.archiveAfter = std::max(0L, p.archiveBefore) + total;

    for (const std::string& dir : {dataDir + "MonthEnd", folder.substr(0, folder.size() - 1)}) {
        if (xb::fileExists(dir))
            return failed("The month end did not start: " + dir + " is a file, where a folder is needed.");
        if (!xb::makeDir(dir))
            return failed("The month end did not start: the folder " + dir + " cannot be made.");
    }
    if (!xb::writeFileDurably(pending, textOf(p), &error))
        return failed("The month end did not start: " + error + ".");
    return applyPlan(dataDir, p);
}

}  // namespace monthend

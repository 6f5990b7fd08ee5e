#include "monthend/MonthEndArchive.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/StepRecord.h"
#include "data/TicketValues.h"
#include "data/Util.h"

#include <optional>
#include <set>
#include <unordered_map>
#include <unistd.h>

namespace monthend {

namespace {

// Rounds of one run: each takes the day tables that appeared during the one
// before (a late truck), so a run ends even while trucks keep coming.
constexpr int kRounds = 4;

xb::StepHook step;

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

// Where a table is built before it is renamed into its place.
std::string stagePath(const std::string& path) { return path.substr(0, path.size() - 4) + ".building.dbf"; }

// The month's day tables in `dir`, day 1 first, as their files are named.
std::vector<std::string> dayTablesIn(const std::string& dir, int year, int month)
{
    std::vector<std::string> out;
    for (int d = 1; d <= 31; ++d) {
        const std::string p = catalogue::dayTablePath(dir, xb::Date {year, month, d});
        if (xb::fileExists(p))
            out.push_back(p);
    }
    return out;
}

// The places of one month's close, each found whatever its letter case.
struct Places {
    std::string data, archive, folder, closing, pending;
};

Places placesOf(const std::string& dataDir, int year, int month)
{
    Places p;
    p.data = xb::resolvePath(catalogue::AddBackslash(dataDir));
    p.archive = catalogue::monthEndTablePath(p.data, year, month);
    p.folder = catalogue::monthFolderPath(p.data, year, month);
    p.closing = catalogue::closingFolderPath(p.data, year, month);
    p.pending = xb::replaceExtension(p.archive, ".pending");
    return p;
}

std::string withoutSeparator(const std::string& dir) { return dir.substr(0, dir.size() - 1); }

// A new table with the fields and the code page of `model`: a day table
// keeps its layout and its text's bytes in the month's folder.
bool createLike(const std::string& model, const std::string& path)
{
    std::vector<xb::FieldSpec> fields;
    unsigned char codePage = xb::kDefaultCodePageMark;
    {
        xb::Connection c;
        c.setReadOnly(true);
        xb::Table* t = c.open(model);
        if (!t)
            return false;
        for (int i = 1; i <= t->fieldCount(); ++i) {
            const xb::Field* f = t->fieldAt(i);
            fields.push_back({f->name(), f->type(), f->width(), f->decimals()});
        }
        codePage = t->textCodePage().mark();
    }
    xb::Connection c;
    c.setSafety(false);
    xb::Table* t = c.create(path, fields, {}, codePage);
    return t && t->close() == xb::kSuccess;
}

// A new archive takes the code page of the day tables it gathers, so their
// text keeps its bytes.
unsigned char codePageOf(const std::vector<std::string>& tables)
{
    return tables.empty() ? xb::kDefaultCodePageMark : catalogue::tableCodePage(tables.front()).mark();
}

// Adds to `target` the tickets of `sources` it does not hold, built beside
// it and renamed into place; a target that gains nothing is left alone. A
// missing target is made with the fields of `model`, else the ticket layout.
bool addMissing(const std::string& target, const std::vector<std::string>& sources, long& added,
                std::string& error, const std::string& model = {})
{
    added = 0;
    const std::string stage = stagePath(target);
    ::unlink(stage.c_str());
    xb::removeLeftoverCopies(stage);
    const bool exists = xb::fileExists(target);
    long before = 0;
    if (exists) {
        const auto n = liveCount(target, error);
        if (!n)
            return false;
        before = *n;
        if (!xb::copyFile(target, stage, &error))
            return false;
    } else if (!(model.empty() ? catalogue::CreateTable(catalogue::kTicketLayout, stage, codePageOf(sources))
                               : createLike(model, stage))) {
        ::unlink(stage.c_str());
        error = xb::baseName(target) + " cannot be created";
        return false;
    }
    const auto n = util::cbAppendMissing(sources, stage);
    if (!n) {
        ::unlink(stage.c_str());
        error = "the tickets cannot be written into " + xb::baseName(target);
        return false;
    }
    added = *n;
    if (exists && added == 0) {
        ::unlink(stage.c_str());
        return true;
    }
    std::string why;
    const auto now = liveCount(stage, why);
    if (!now || *now != before + added) {
        ::unlink(stage.c_str());
        error = xb::baseName(target) + " could not be written whole" + (now ? "" : " (" + why + ")");
        return false;
    }
    if (!xb::syncFile(stage, &error) || !xb::renameDurably(stage, target, &error)) {
        ::unlink(stage.c_str());
        return false;
    }
    return true;
}

// A day's copy in the month's folder: the folder's table with the tickets
// it lacks, or a table of the day table's layout with its tickets.
bool fileInFolder(const std::string& table, const std::string& folder, std::string& error)
{
    long added = 0;
    return addMissing(xb::resolvePath(folder + xb::baseName(table)), {table}, added, error, table);
}

// Takes out of `target` one record alike each live record of `sources`, as
// the target stores them, built beside it and renamed into place (a target
// left with nothing is removed): what a run that stops had filed of the
// tables it puts back, where they go on changing.
bool removeAlike(const std::string& target, const std::vector<std::string>& sources, std::string& error)
{
    if (!xb::fileExists(target))
        return true;
    // The sources' records as the target stores them.
    const std::string scratch = target.substr(0, target.size() - 4) + ".taking.dbf";
    ::unlink(scratch.c_str());
    std::unordered_map<std::string, long> taking;
    {
        const bool made = createLike(target, scratch) && util::cbAppendMissing(sources, scratch).has_value();
        xb::Connection c;
        c.setReadOnly(true);
        xb::Table* t = made ? c.open(scratch) : nullptr;
        int r = xb::kError;
        if (t) {
            const std::size_t width = std::size_t(t->recordLength() - 1);
            for (r = t->top(); r == xb::kSuccess; r = t->skip(1))
                ++taking[std::string(t->recordBuffer() + 1, width)];
        }
        c.closeAll();
        ::unlink(scratch.c_str());
        if (r != xb::kEof) {
            error = "what was filed of the tables cannot be taken out of " + xb::baseName(target);
            return false;
        }
    }
    if (taking.empty())
        return true;
    const std::string stage = stagePath(target);
    ::unlink(stage.c_str());
    if (!xb::copyFile(target, stage, &error))
        return false;
    long removed = 0, kept = 0;
    {
        xb::Connection c;
        xb::Table* t = c.open(stage);
        int r = xb::kError;
        if (t) {
            const std::size_t width = std::size_t(t->recordLength() - 1);
            for (r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
                auto it = taking.find(std::string(t->recordBuffer() + 1, width));
                if (it == taking.end() || it->second == 0) {
                    ++kept;
                    continue;
                }
                --it->second;
                if (t->deleteRecord() != xb::kSuccess)
                    break;
                ++removed;
            }
            if (r == xb::kEof && removed > 0 && (t->flush() != xb::kSuccess || t->pack() != xb::kSuccess))
                r = xb::kError;
        }
        if (!t || r != xb::kEof || t->close() != xb::kSuccess) {
            c.closeAll();
            ::unlink(stage.c_str());
            error = "what was filed of the tables cannot be taken out of " + xb::baseName(target);
            return false;
        }
    }
    if (removed == 0 || kept == 0) {
        ::unlink(stage.c_str());
        return removed == 0 || xb::removeFile(target);
    }
    if (!xb::syncFile(stage, &error) || !xb::renameDurably(stage, target, &error)) {
        ::unlink(stage.c_str());
        return false;
    }
    return true;
}

std::string namesOf(const std::vector<std::string>& paths)
{
    std::string out;
    for (std::size_t i = 0; i < paths.size(); ++i)
        out += (i == 0 ? "" : i + 1 == paths.size() ? " and " : ", ") + xb::baseName(paths[i]);
    return out;
}

Result failed(const std::string& what)
{
    Result r;
    r.message = what;
    return r;
}

// A run that stops puts the tables it took back where they were, unless the
// day has a new table there by now. Back there they go on changing (a
// reprint, another program's correction): what the folder and the archive
// took of them is taken out first, so that the next run files them once, as
// they are then. Where that cannot be done they stay out of the way, for
// the next run to finish.
Result stop(const Places& p, int year, int month, const std::string& what)
{
    const std::vector<std::string> taken = dayTablesIn(p.closing, year, month);
    bool undone = true;
    std::string why;
    for (const std::string& t : taken)
        undone = undone && removeAlike(xb::resolvePath(p.folder + xb::baseName(t)), {t}, why);
    undone = undone && removeAlike(p.archive, taken, why);
    for (const std::string& s : undone ? taken : std::vector<std::string> {})
        xb::renameIfFree(s, p.data + xb::baseName(s));
    if (dayTablesIn(p.closing, year, month).empty()) {
        xb::removeFile(p.pending);
        ::rmdir(withoutSeparator(p.closing).c_str());
        return failed("The month end stopped: " + what + ". The day tables are in the data directory.");
    }
    return failed("The month end stopped: " + what + ". Run the month end of this month again to finish it.");
}

}  // namespace

void setStepHook(std::function<void(const std::string& step)> hook) { step.set(std::move(hook)); }

std::string pendingPath(const std::string& dataDir, int year, int month)
{
    return placesOf(dataDir, year, month).pending;
}

std::string completionMessage(int year, int month)
{
    return std::string("Month End procedure completed for ") + values::monthName(month) + ", " +
           std::to_string(year) + ".";
}

bool interrupted(const std::string& dataDir, int year, int month)
{
    const Places p = placesOf(dataDir, year, month);
    return xb::fileExists(p.pending) || !dayTablesIn(p.closing, year, month).empty();
}

Listing listMonth(const std::string& dataDir, int year, int month)
{
    Listing out;
    const Places places = placesOf(dataDir, year, month);
    for (int d = 1; d <= 31; ++d) {
        for (const std::string& dir : {places.closing, places.data}) {
            const std::string path = catalogue::dayTablePath(dir, xb::Date {year, month, d});
            if (!xb::fileExists(path))
                continue;
            xb::Connection c;
            c.setReadOnly(true);
            xb::Table* t = c.open(path);
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
    }
    return out;
}

Result closeMonth(const std::string& dataDir, int year, int month)
{
    if (month < 1 || month > 12 || year < 1000 || year > 9999)
        return failed("There is no month " + std::to_string(month) + " of " + std::to_string(year) + ".");
    if (values::trim(dataDir).empty())
        return failed("No data directory is set up.");
    Places p = placesOf(dataDir, year, month);
    if (!xb::directoryExists(p.data))
        return failed("The data directory " + p.data + " does not exist.");
    const bool resumed = interrupted(p.data, year, month);
    const std::vector<std::string> days = dayTablesIn(p.data, year, month);
    if (days.empty() && !resumed)
        return failed(std::string("No day table of ") + values::monthName(month) + ", " + std::to_string(year) +
                      " is in the data directory: nothing was done.");

    // A table that cannot be read stops the month end before anything
    // changes.
    std::string error;
    std::vector<std::string> reads = dayTablesIn(p.closing, year, month);
    reads.insert(reads.end(), days.begin(), days.end());
    for (const std::string& t : reads)
        if (!liveCount(t, error))
            return failed("The month end did not start: " + error + ". Nothing was moved.");
    for (const std::string& dir : {p.data + "MonthEnd", withoutSeparator(p.folder), withoutSeparator(p.closing)}) {
        if (xb::fileExists(dir))
            return failed("The month end did not start: " + dir + " is a file, where a folder is needed.");
        if (!xb::makeDir(dir))
            return failed("The month end did not start: the folder " + dir + " cannot be made.");
    }
    // Made now: the names found whatever their case are those of the disk.
    p = placesOf(p.data, year, month);
    if (!xb::fileExists(p.pending)) {
        xb::StepRecord note;
        note.add("month", std::to_string(year) + "-" + std::to_string(month));
        for (const std::string& d : days)
            note.add("day", xb::baseName(d));
        if (!xb::writeFileDurably(p.pending,
                                  note.text("a month end in progress: finish it by running the month end of "
                                            "this month again"),
                                  &error))
            return failed("The month end did not start: " + error + ".");
    }
    step("noted");

    long added = 0;
    bool settled = false;
    std::set<std::string> busy;  // held locked by another program
    for (int round = 0; round < kRounds && !settled; ++round) {
        // Out of the way of the tickets completed from now on.
        for (const std::string& d : dayTablesIn(p.data, year, month)) {
            const std::string taken = p.closing + xb::baseName(d);
            if (xb::fileExists(taken) || busy.count(xb::baseName(d)))
                continue;  // its earlier table goes first; this one in the next round
            // Taken under the table's lock: another program that holds it
            // while it appends finishes first; one that still holds it
            // after the wait keeps its table for the next run.
            xb::Connection c;
            xb::Table* t = c.open(d);
            if (!t)
                return stop(p, year, month, xb::baseName(d) + " cannot be opened");
            if (!t->lockTable()) {
                busy.insert(xb::baseName(d));
                continue;
            }
            const bool moved = xb::renameIfFree(d, taken, &error);
            t->unlockTable();
            t->close();
            if (!moved)
                return stop(p, year, month, error);
        }
        const std::vector<std::string> taken = dayTablesIn(p.closing, year, month);
        if (taken.empty())
            break;
        step("taken");
        // A table taken changes no more, but a writer that had it open when
        // it was taken may still finish its write.
        std::vector<std::optional<xb::FileStamp>> stamps;
        for (const std::string& t : taken)
            stamps.push_back(xb::fileStamp(t));

        for (const std::string& t : taken)
            if (!fileInFolder(t, p.folder, error))
                return stop(p, year, month, error);
        step("filed");
        long n = 0;
        if (!addMissing(p.archive, taken, n, error))
            return stop(p, year, month, error);
        added += n;
        step("archived");

        // A table written after it was read is read again in the next
        // round; the others hold nothing the archive and the folder lack.
        settled = true;
        for (std::size_t i = 0; i < taken.size(); ++i) {
            if (xb::fileStamp(taken[i]) != stamps[i]) {
                settled = false;
                continue;
            }
            if (!xb::removeFile(taken[i]))
                return stop(p, year, month, xb::baseName(taken[i]) + " could not be removed");
        }
        xb::syncDirectoryOf(p.closing);
        step("removed");
        if (!dayTablesIn(p.data, year, month).empty())
            settled = false;  // a late truck: its table is taken in the next round
    }
    if (!dayTablesIn(p.closing, year, month).empty())
        return failed("The month end stopped: " + namesOf(dayTablesIn(p.closing, year, month)) +
                      " kept changing while it was closed. Run the month end of this month again to finish it.");
    xb::removeFile(p.pending);
    ::rmdir(withoutSeparator(p.closing).c_str());
    xb::syncDirectoryOf(p.pending);
    if (!busy.empty()) {
        std::vector<std::string> names(busy.begin(), busy.end());
        return failed("The month end stopped: another program keeps " + namesOf(names) +
                      " locked; the other day tables are closed. Run the month end of this month again to "
                      "close " + (names.size() == 1 ? "it." : "them."));
    }

    Result r;
    r.done = true;
    r.tickets = added;
    r.message = completionMessage(year, month);
    const std::vector<std::string> late = dayTablesIn(p.data, year, month);
    if (!late.empty())
        r.message += "\r" + namesOf(late) + (late.size() == 1 ? " was" : " were") +
                     " written while the month end ran and " + (late.size() == 1 ? "stays" : "stay") +
                     " in the data directory for the next month end of this month.";
    return r;
}

}  // namespace monthend

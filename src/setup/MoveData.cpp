#include "setup/MoveData.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/StepRecord.h"
#include "data/TicketValues.h"
#include "data/Util.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace setup {

const std::vector<Group>& groups()
{
    static const std::vector<Group> g = {
        {"customer.dbf", {"customer.dbf", "customer.cdx"},
         "Customer data file exists in the new directory.\rReplace the existing file?"},
        {"product.dbf", {"product.dbf", "product.cdx"},
         "Product data file exists in the new directory.\rReplace the existing file?"},
        {"ticket.dbf", {"ticket.dbf"}, "Inbound data file exists in the new directory.\rReplace the existing file?"},
        {"house.dbf", {"house.dbf", "house.cdx"},
         "Login data file exists in the new directory.\rReplace the existing file?"},
    };
    return g;
}

std::string pendingPath() { return catalogue::programDir() + "move-data.pending"; }

namespace {

constexpr const char* kStaged = ".moving";

// The directory as the file system knows it, to tell two names of one
// directory from two directories.
std::string realDirectory(const std::string& dir)
{
    char buf[PATH_MAX];
    const std::string d = dir.empty() ? "." : dir;
    if (::realpath(xb::resolvePath(d).c_str(), buf))
        return buf;
    return d;
}

// A file of the directory whatever its case: the name it has, or `name`.
std::string fileIn(const std::string& dir, const std::string& name)
{
    const std::string p = xb::resolvePath(dir + name);
    return xb::fileExists(p) ? p : dir + name;
}

struct Entry {
    std::string from;  // the file in the old directory
    std::string to;    // its place in the new directory
};

struct Pending {
    std::string oldDir, newDir, datapath;
    std::vector<Entry> entries;
};

std::string textOf(const Pending& p)
{
    xb::StepRecord r;
    r.add("old", p.oldDir);
    r.add("new", p.newDir);
    r.add("datapath", p.datapath);
    for (const Entry& e : p.entries) {
        r.add("file", e.from);
        r.add("to", e.to);
    }
    return r.text("tables being moved to another data directory: the next move finishes it");
}

std::optional<Pending> parse(const std::string& text)
{
    const auto r = xb::StepRecord::parse(text);
    if (!r || r->value("new").empty())
        return std::nullopt;
    Pending p;
    p.oldDir = r->value("old");
    p.newDir = r->value("new");
    p.datapath = r->value("datapath");
    for (const auto& [key, value] : r->entries()) {
        if (key == "file")
            p.entries.push_back({value, {}});
        else if (key == "to" && !p.entries.empty())
            p.entries.back().to = value;
    }
    return p;
}

// The setup table with `datapath`, rebuilt beside itself and renamed over
// it, so it is the old table or the new one, never half of each.
bool storeDatapath(const std::string& datapath, std::string& error)
{
    const std::string path = xb::resolvePath(catalogue::setupTablePath());
    const std::string stage = catalogue::programDir() + "setup.updating.dbf";
    ::unlink(stage.c_str());
    xb::removeLeftoverCopies(stage);
    if (xb::fileExists(path)) {
        if (!xb::copyFile(path, stage, &error))
            return false;
    } else if (!catalogue::CreateTable(catalogue::kSetupLayout, stage)) {
        error = "setup.dbf cannot be created in " + catalogue::programDir();
        return false;
    }
    {
        xb::Connection c;
        xb::Table* t = c.open(stage);
        bool ok = t != nullptr;
        if (ok && t->top() != xb::kSuccess) {
            // A new record: the scale on port 1, the ticket printer on port
            // 3 (port 2 is the card reader's), the modem on port 4.
            ok = t->appendStart() == xb::kSuccess;
            if (ok) {
                t->blank();
                ok = util::replace(t, "scalport", "1") && util::replace(t, "prtport", "3") &&
                     util::replace(t, "modemport", "4") && util::replace(t, "dialpref", "") &&
                     util::treplace(t, "tone", true) && util::replace(t, "datapath", datapath) &&
                     t->append() == xb::kSuccess;
            }
        } else if (ok) {
            ok = util::replace(t, "datapath", datapath);
        }
        if (!ok || t->close() != xb::kSuccess || c.errorCode() != 0) {
            ::unlink(stage.c_str());
            error = "setup.dbf cannot be written";
            return false;
        }
    }
    if (!xb::syncFile(stage, &error) || !xb::renameDurably(stage, path, &error)) {
        ::unlink(stage.c_str());
        return false;
    }
    return true;
}

// From the record of the move on: the copies into place, the setup table,
// the old files removed, the record removed.
bool complete(const Pending& p, std::string& error)
{
    for (const Entry& e : p.entries) {
        const std::string staged = e.to + kStaged;
        if (::access(staged.c_str(), F_OK) == 0) {
            if (!xb::renameDurably(staged, e.to, &error))
                return false;
        } else if (!xb::fileExists(e.to)) {
            error = e.to + " is missing: the move cannot be finished";
            return false;
        }
    }
    if (realDirectory(catalogue::dataDir()) != realDirectory(p.newDir) &&
        !storeDatapath(p.datapath, error))
        return false;
    for (const Entry& e : p.entries)
        if (xb::fileExists(e.from) && !xb::removeFile(e.from)) {
            error = e.from + " could not be removed from the old directory";
            return false;
        }
    if (!p.entries.empty())
        xb::syncDirectoryOf(p.entries.front().from);
    ::unlink(pendingPath().c_str());
    xb::syncDirectoryOf(pendingPath());
    return true;
}

}  // namespace

std::string currentDataDir()
{
    const std::string d = catalogue::dataDir();
    return d.empty() ? catalogue::programDir() : d;
}

PathCheck checkPath(const std::string& text)
{
    if (text.size() > 50)
        return PathCheck::kTooLong;
    if (!xb::directoryExists(text))
        return PathCheck::kNoDirectory;
    return PathCheck::kOk;
}

std::string pathMessage(PathCheck check)
{
    switch (check) {
    case PathCheck::kTooLong: return "Length of Directory cannot exceed 50.\r\rPlease re-enter.";
    case PathCheck::kNoDirectory: return "Invalid Directory.\r\rPlease re-enter.";
    default: return {};
    }
}

bool finishInterruptedMove(std::string& error)
{
    const std::string file = pendingPath();
    if (::access(file.c_str(), F_OK) != 0)
        return true;
    const auto p = parse(xb::readSmallFile(file).value_or(""));
    if (!p) {
        // Cut short while it was written: nothing was renamed yet.
        ::unlink(file.c_str());
        return true;
    }
    return complete(*p, error);
}

MoveResult moveData(const std::string& text, const Ask& ask)
{
    MoveResult r;
    if (!finishInterruptedMove(r.message)) {
        r.message = "An earlier move of the data directory cannot be finished: " + r.message + ".";
        return r;
    }
    const PathCheck check = checkPath(text);
    if (check != PathCheck::kOk) {
        r.message = pathMessage(check);
        return r;
    }
    const std::string oldDir = currentDataDir();
    const std::string newDir = catalogue::AddBackslash(xb::resolvePath(text));
    std::string error;
    if (realDirectory(oldDir) == realDirectory(newDir)) {
        r.ok = storeDatapath(text, error);
        r.message = error;
        return r;
    }

    Pending p;
    p.oldDir = oldDir;
    p.newDir = newDir;
    p.datapath = text;
    for (const Group& g : groups()) {
        if (xb::fileExists(newDir + g.table) && !(ask && ask(g.question))) {
            r.skipped.push_back(g.table);
            continue;
        }
        for (const char* f : g.files) {
            const std::string from = fileIn(oldDir, f);
            if (!xb::fileExists(from))
                continue;  // nothing of that name to move
            p.entries.push_back({from, fileIn(newDir, xb::baseName(from))});
        }
    }

    // Whole copies beside their places; a failure takes them all back, as
    // the start takes back what a killed move left of them.
    auto takeBack = [&] {
        for (const Entry& e : p.entries) {
            ::unlink((e.to + kStaged).c_str());
            xb::removeLeftoverCopies(e.to + kStaged);
        }
    };
    takeBack();
    for (const Entry& e : p.entries)
        if (!xb::copyFile(e.from, e.to + kStaged, &error)) {
            takeBack();
            r.message = "The tables were not moved: " + error + ". Nothing was changed.";
            return r;
        }
    if (!xb::writeFileDurably(pendingPath(), textOf(p), &error)) {
        takeBack();
        r.message = "The tables were not moved: " + error + ". Nothing was changed.";
        return r;
    }
    if (!complete(p, error)) {
        r.message = "The move was not finished: " + error + ". The next move finishes it.";
        return r;
    }
    for (const Entry& e : p.entries)
        r.moved.push_back(e.to);
    r.ok = true;
    return r;
}

}  // namespace setup

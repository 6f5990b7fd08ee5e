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
#include <cstring>
#include <map>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
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
constexpr const char* kCounter = "Control.dbf";

xb::StepHook step;

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
    std::string from;   // the file in the old directory
    std::string to;     // its place in the new directory
    bool keep = false;  // copied, not moved: the old one stays (the counter)
    bool free = false;  // none was there when the move looked: placed only where none is still
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
        r.add(e.keep ? "copy" : e.free ? "fresh" : "file", e.from);
        r.add("to", e.to);
    }
    return r.text("tables being moved to another data directory: the program's next start finishes it");
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
        if (key == "file" || key == "copy" || key == "fresh")
            p.entries.push_back({value, {}, key == "copy", key == "fresh"});
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

bool namesNewDirectory(const Pending& p) { return realDirectory(currentDataDir()) == realDirectory(p.newDir); }

// What each copy was when it was put in place, by its path; nothing for
// one left out because the new directory's own file came first.
using Placed = std::map<std::string, std::optional<xb::FileStamp>>;

std::optional<long long> counterValue(const std::string& path);

// Whether the new directory's file, written there after the move looked,
// goes before the copy: a counter at or above the copy's, or a file where
// there was none.
bool newerThere(const Entry& e, const std::string& copy)
{
    if (!xb::fileExists(e.to))
        return false;
    if (e.keep) {
        const auto there = counterValue(e.to), ours = counterValue(copy);
        return there && (!ours || *there >= *ours);
    }
    return e.free;
}

// Each copy in place in the new directory, equal to its file in the old one
// as that is now: the kiosk and the station went on writing there until the
// setup table named the new directory.
bool placeCopies(const Pending& p, Placed& placed, std::string& error)
{
    for (const Entry& e : p.entries) {
        const std::string staged = e.to + kStaged;
        const bool hasStaged = ::access(staged.c_str(), F_OK) == 0;
        const bool hasSource = xb::fileExists(e.from);
        if (hasStaged) {
            if (hasSource && !xb::sameContents(e.from, staged) && !xb::copyFile(e.from, staged, &error))
                return false;
            if (newerThere(e, staged)) {
                ::unlink(staged.c_str());
                placed[e.to] = std::nullopt;
                continue;
            }
            // Where none was, none is replaced: one made at this moment stays.
            const bool in = e.free ? xb::renameIfFree(staged, e.to, &error) : xb::renameDurably(staged, e.to, &error);
            if (!in && !(e.free && xb::fileExists(e.to)))
                return false;
            if (!in) {
                ::unlink(staged.c_str());
                placed[e.to] = std::nullopt;
                continue;
            }
        } else if (hasSource && e.keep) {
            if (newerThere(e, e.from)) {
                placed[e.to] = std::nullopt;
                continue;
            }
            if (!xb::sameContents(e.from, e.to) && !xb::copyFile(e.from, e.to, &error))
                return false;
        } else if (hasSource) {
            if (!xb::sameContents(e.from, e.to) && !xb::copyFile(e.from, e.to, &error))
                return false;
        } else if (!xb::fileExists(e.to)) {
            error = e.to + " is missing, and so is " + e.from;
            return false;
        }
        placed[e.to] = xb::fileStamp(e.to);
    }
    return true;
}

// The old files go once their copies are the setup table's. One written
// after it was copied (a writer that had not yet read the setup table) is
// copied again while its copy is as it was placed; else it stays, named in
// `notes`: nothing is deleted unread.
void removeOldFiles(const Pending& p, const Placed& placed, std::vector<std::string>& notes)
{
    for (const Entry& e : p.entries) {
        if (e.keep || !xb::fileExists(e.from))
            continue;
        if (const auto it = placed.find(e.to); it != placed.end() && !it->second) {
            notes.push_back(e.to + " was made in the new directory while the move ran; " + e.from +
                            " was kept beside it");
            continue;
        }
        if (!xb::sameContents(e.from, e.to)) {
            const auto it = placed.find(e.to);
            std::string error;
            if (it == placed.end() || !it->second || xb::fileStamp(e.to) != it->second ||
                !xb::copyFile(e.from, e.to, &error) || !xb::sameContents(e.from, e.to)) {
                notes.push_back(e.from + " changed after it was copied to the new directory; it was kept");
                continue;
            }
        }
        if (!xb::removeFile(e.from))
            notes.push_back(e.from + " could not be removed from the old directory (" + std::strerror(errno) + ")");
    }
    if (!p.entries.empty())
        xb::syncDirectoryOf(p.entries.front().from);
}

void forgetPending()
{
    ::unlink(pendingPath().c_str());
    xb::syncDirectoryOf(pendingPath());
}

// From the record of the move on: the copies into place, the setup table,
// the old files removed, the record removed. False (and `error`) while the
// setup table still names the old directory.
bool complete(const Pending& p, std::vector<std::string>& notes, std::string& error)
{
    Placed placed;
    if (!namesNewDirectory(p)) {
        if (!placeCopies(p, placed, error))
            return false;
        step("placed");
        if (!storeDatapath(p.datapath, error))
            return false;
        step("switched");
    } else {
        // The new directory is in use: what is left of the copies goes in,
        // nothing there is overwritten.
        for (const Entry& e : p.entries) {
            const std::string staged = e.to + kStaged;
            if (::access(staged.c_str(), F_OK) == 0 && !xb::fileExists(e.to))
                xb::renameDurably(staged, e.to, &error);
            ::unlink(staged.c_str());
        }
    }
    removeOldFiles(p, placed, notes);
    step("tidied");
    forgetPending();
    return true;
}

void takeBackCopies(const Pending& p)
{
    for (const Entry& e : p.entries) {
        ::unlink((e.to + kStaged).c_str());
        xb::removeLeftoverCopies(e.to + kStaged);
    }
}

// The counter's last number: company of its first record; nothing when the
// table, its record or a number is missing.
std::optional<long long> counterValue(const std::string& path)
{
    if (!xb::fileExists(path))
        return std::nullopt;
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path);
    xb::Field* f = t ? t->field("company") : nullptr;
    if (!f || t->top() != xb::kSuccess || f->isBlank())
        return std::nullopt;
    return f->integer();
}

}  // namespace

std::string currentDataDir()
{
    const std::string d = catalogue::dataDir();
    return d.empty() ? catalogue::programDir() : d;
}

PathCheck checkPath(const std::string& typed)
{
    // A relative text is the program directory's, whatever directory the
    // program runs in, as it is stored.
    const std::string text = catalogue::absoluteDirectory(typed, catalogue::programDir());
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

void setStepHook(std::function<void(const std::string& step)> hook) { step.set(std::move(hook)); }

Settled settleInterruptedMove()
{
    Settled s;
    // One process at a time: the kiosk's start and a nightly grazulo-admin
    // may find the same record at once, and each would finish or take back
    // the move on its own.
    const std::string lockFile = catalogue::programDir() + "move-data.lock";
    const int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (held >= 0)
        while (::flock(held, LOCK_EX) != 0 && errno == EINTR) {
        }
    struct Release {
        int fd;
        ~Release()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } release {held};
    const std::string file = pendingPath();
    if (::access(file.c_str(), F_OK) != 0)
        return s;
    s.found = true;
    const auto p = parse(xb::readSmallFile(file).value_or(""));
    if (!p) {
        // Cut short while it was written: nothing was renamed yet.
        forgetPending();
        s.found = false;
        return s;
    }
    std::vector<std::string> notes;
    std::string error;
    if (complete(*p, notes, error)) {
        s.message = "A move of the data directory to " + p->newDir + " had been cut short; it was finished.";
        for (const std::string& n : notes)
            s.message += "\r" + n + ".";
        return s;
    }
    // It cannot be finished and the setup table names the old directory,
    // which holds every table whole: the move is taken back.
    takeBackCopies(*p);
    forgetPending();
    s.message = "A move of the data directory to " + p->newDir + " had been cut short and could not be finished (" +
                error + "); it was taken back: the tables stay in " + currentDataDir() + ".";
    return s;
}

MoveResult moveData(const std::string& typed, const Ask& ask)
{
    MoveResult r;
    const Settled earlier = settleInterruptedMove();
    if (earlier.found)
        r.notes.push_back(earlier.message);
    const std::string text = catalogue::absoluteDirectory(typed, catalogue::programDir());
    const PathCheck check = checkPath(text);
    if (text.empty() || check != PathCheck::kOk) {
        r.message = pathMessage(text.empty() ? PathCheck::kNoDirectory : check);
        return r;
    }
    const std::string oldDir = currentDataDir();
    const std::string newDir = catalogue::AddBackslash(xb::resolvePath(text));
    r.datapath = text;
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
    bool anyTable = false;
    for (const Group& g : groups()) {
        if (xb::fileExists(newDir + g.table) && !(ask && ask(g.question))) {
            r.skipped.push_back(g.table);
            continue;
        }
        for (const char* f : g.files) {
            const std::string from = fileIn(oldDir, f);
            if (!xb::fileExists(from))
                continue;  // nothing of that name to move
            anyTable = true;
            const std::string to = fileIn(newDir, xb::baseName(from));
            p.entries.push_back({from, to, false, !xb::fileExists(to)});
        }
    }
    if (!anyTable && r.skipped.empty()) {
        if (!catalogue::TablesExist(newDir)) {
            r.message = "None of the tables to move (customer.dbf, product.dbf, ticket.dbf, house.dbf) is in " +
                        oldDir + ", and " + newDir + " does not hold them either: nothing was moved, and the " +
                        "data directory stays " + oldDir + ".";
            return r;
        }
        r.notes.push_back(oldDir + " holds none of the tables to move; " + newDir + " holds them already.");
    }

    // The ticket counter goes along where the new directory has none, or a
    // lower one: numbers the tickets there already hold are not issued again.
    const std::string counter = fileIn(oldDir, kCounter);
    if (const auto from = counterValue(counter)) {
        const std::string target = fileIn(newDir, xb::baseName(counter));
        const auto there = counterValue(target);
        if (!there || *there < *from) {
            p.entries.push_back({counter, target, true});
            r.notes.push_back("The ticket counter (last number " + std::to_string(*from) + ") was carried to " +
                              newDir + (there ? ", above its counter there (" + std::to_string(*there) + ")" : "") +
                              ".");
        } else {
            r.notes.push_back("The ticket counter of " + newDir + " (last number " + std::to_string(*there) +
                              ") was kept: it is not below the one of " + oldDir + " (" + std::to_string(*from) +
                              ").");
        }
    }

    // Whole copies beside their places; a failure takes them all back, as
    // the start takes back what a killed move left of them.
    takeBackCopies(p);
    for (const Entry& e : p.entries)
        if (!xb::copyFile(e.from, e.to + kStaged, &error)) {
            takeBackCopies(p);
            r.message = "The tables were not moved: " + error + ". Nothing was changed.";
            return r;
        }
    step("copied");
    if (!xb::writeFileDurably(pendingPath(), textOf(p), &error)) {
        takeBackCopies(p);
        r.message = "The tables were not moved: " + error + ". Nothing was changed.";
        return r;
    }
    step("recorded");
    if (!complete(p, r.notes, error)) {
        r.message = "The move was not finished: " + error + ". The program's next start finishes it.";
        return r;
    }
    for (const Entry& e : p.entries)
        if (!e.keep)
            r.moved.push_back(e.to);
    r.ok = true;
    return r;
}

}  // namespace setup

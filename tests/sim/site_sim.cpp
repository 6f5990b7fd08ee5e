// site_sim: a whole weighing site played for simulated days on the real code
// and real files in a scratch directory, seeded and deterministic.
//
//   site_sim [--seed N] [--days N] [--visits N] [--crash PERCENT]
//            [--known-faults] [--keep] [--no-shrink] [--verbose]
//
// The site: a program directory (GRAZULO_HOME) with setup.dbf, the kiosk's
// database/ (directory A) and a second data directory data2/ (B). The
// station's data directory is A (one store for both faces) until a move
// takes it to B and another brings it back. The clock is the program's
// clock seam, moved on by each step, so trucks weigh in before midnight and
// out after it.
//
// The model keeps what every step did: each truck (a plate of its own) weighed
// in is open, completed or archived in one directory, with its number and
// weights; the customers and products written. The steps are drawn from the
// table of operations by weight; after each one the cheap invariants are
// checked, at each day's end (and after a crash) the expensive ones, all
// against the files as the real code left them.
//
// A crash runs a step in a forked child that dies (_exit) at a point drawn
// from the seed: after the n-th write, sync, rename or truncate of the
// kiosk's connection, or at the n-th step of a month end or a data move.
// The parent then runs what start-up runs (the move settled, interrupted
// month ends finished), takes in what the dead step left (each truck must
// still be exactly once somewhere), and runs the step again.
//
// A failure prints the seed and the steps that led to it; the same seed
// replays them exactly. Before printing, the run is shrunk: each kind of
// operation is left out in turn and stays out when the failure remains.

#include "data/Catalogue.h"
#include "data/Clock.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketStore.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/CardLookup.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/TicketPrintout.h"
#include "kiosk/uDB.h"
#include "monthend/MonthEndArchive.h"
#include "records/RecordStore.h"
#include "reports/ReportData.h"
#include "setup/MoveData.h"
#include "station/StationStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Known faults: sequences that find a fault not mended yet. They stay out of
// the runs unless --known-faults is given; the branch that mends one takes it
// off this list. A key is an operation's name (the operation is left out) or
// the name of one variant of an operation (only that variant is left out).
// ---------------------------------------------------------------------------
//
// Seeds known to fail on a fault not yet understood well enough to list its
// sequence here (none of them is a seed of the test run):
//   --seed 11 --visits 20000, step 844: a customer appended through a second
//   engine handle, while the record window holds the customer table open in
//   this process and dbftool appended to it one step before, is refused:
//   "Customer.dbf: the index cannot be written (the index is open for
//   reading only): the new record was not saved".
struct KnownFault {
    const char* key;
    const char* what;
};
const std::vector<KnownFault> kKnownFaults = {
    {"move_kiosk_makes_open_table",
     "a move away from the kiosk's directory when it has no open-ticket table yet, while the kiosk weighs "
     "a truck in before the switch: the table the kiosk makes meanwhile is not in the move's plan and "
     "stays behind, so the station in the new directory never sees that open ticket (seed 7 at "
     "--known-faults --disable kiosk_visit --disable stale_header_count --disable station_inbound "
     "--disable station_outbound, step 14)"},
    {"move_kiosk_after_placed",
     "a move back to the kiosk's directory while the kiosk weighs a truck in after the copies are placed "
     "(before the setup table is switched): the old open-ticket table is kept beside the new one, as it "
     "no longer equals its copy, so every open ticket is then in both directories (seeds 10 and 13 at "
     "--crash 10 --known-faults)"},
};

// ---------------------------------------------------------------------------
// Failures, the random source, the clock
// ---------------------------------------------------------------------------

struct SimFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& what) { throw SimFailure(what); }
#define EXPECT(cond, text)                                        \
    do {                                                          \
        if (!(cond))                                              \
            fail(std::string(text) + " [" #cond "]");             \
    } while (0)

// A 64-bit generator of our own (splitmix64): the same numbers for a seed on
// every machine and library.
struct Rng {
    uint64_t s;
    uint64_t next()
    {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    long below(long n) { return n <= 0 ? 0 : long(next() % uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <class T>
    const T& pick(const std::vector<T>& v) { return v[std::size_t(below(long(v.size())))]; }
};

xb::LocalTime gNow;

// Set by SIGINT or SIGTERM: a long run stops after the step it is in, with
// its final checks and its figures.
volatile std::sig_atomic_t gStop = 0;

xb::Date dateOf(const xb::LocalTime& t) { return {t.year, t.month, t.day}; }
xb::Date addDays(const xb::Date& d, long n) { return xb::Date::fromJulianDay(d.julianDay() + n); }
std::string text(const xb::LocalTime& t)
{
    char b[32];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
    return b;
}

void advanceClock(int minutes)
{
    long total = gNow.hour * 60L + gNow.minute + minutes;
    const long days = total / 1440;
    total %= 1440;
    if (days) {
        const xb::Date d = addDays(dateOf(gNow), days);
        gNow.year = d.year;
        gNow.month = d.month;
        gNow.day = d.day;
    }
    gNow.hour = int(total / 60);
    gNow.minute = int(total % 60);
    gNow.second = 0;
}

// ---------------------------------------------------------------------------
// Dying at a chosen moment (only ever in a forked child)
// ---------------------------------------------------------------------------

constexpr int kKilled = 77;

// The operating system's files, until the n-th write, sync, rename or
// truncate: the process ends there, as under a kill, without a word.
class DyingFiles final : public xb::FileLayer {
public:
    explicit DyingFiles(int n) : left_(n) {}
    int open(const std::string& p, int f, mode_t m) override { return base().open(p, f, m); }
    int close(int fd) override { return base().close(fd); }
    ssize_t pread(int fd, void* b, std::size_t n, uint64_t o) override { return base().pread(fd, b, n, o); }
    ssize_t pwrite(int fd, const void* b, std::size_t n, uint64_t o) override
    {
        tick();
        return base().pwrite(fd, b, n, o);
    }
    int sync(int fd) override
    {
        tick();
        return base().sync(fd);
    }
    int size(int fd, uint64_t& bytes) override { return base().size(fd, bytes); }
    int truncate(int fd, uint64_t bytes) override
    {
        tick();
        return base().truncate(fd, bytes);
    }
    int rename(const std::string& a, const std::string& b) override
    {
        tick();
        return base().rename(a, b);
    }
    int renameNoReplace(const std::string& a, const std::string& b) override
    {
        tick();
        return base().renameNoReplace(a, b);
    }
    int remove(const std::string& p) override
    {
        tick();
        return base().remove(p);
    }
    int makeDirectory(const std::string& p, mode_t m) override { return base().makeDirectory(p, m); }
    int syncDirectory(const std::string& d) override
    {
        tick();
        return base().syncDirectory(d);
    }
    int lock(int fd, uint64_t o, uint64_t l) override { return base().lock(fd, o, l); }
    int unlock(int fd, uint64_t o, uint64_t l) override { return base().unlock(fd, o, l); }

private:
    static xb::FileLayer& base() { return xb::posixFiles(); }
    void tick()
    {
        if (--left_ <= 0)
            ::_exit(kKilled);
    }
    int left_;
};

// ---------------------------------------------------------------------------
// What the files hold
// ---------------------------------------------------------------------------

struct FileTicket {
    long number = 0;
    std::string truck, customer, product, inDate, outDate;
    long long inW = 0, outW = 0, net = 0;
    bool complete = false;
    bool weightsRead = true;
};

std::vector<FileTicket> readTickets(const std::string& path)
{
    std::vector<FileTicket> out;
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path);
    if (!t)
        fail("cannot open " + path);
    auto f = [t, &path](const char* name) {
        xb::Field* x = t->field(name);
        if (!x)
            fail(path + " has no field " + name);
        return x;
    };
    xb::Field *tk = f("ticket"), *tr = f("truck"), *cu = f("customer"), *pr = f("product"), *id = f("in_date"),
              *od = f("out_date"), *iw = f("in_wgt"), *ow = f("out_wgt"), *nw = f("net_wgt"), *co = f("complete");
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
        FileTicket x;
        x.number = long(tk->readInteger().value_or(-1));
        x.truck = tr->text();
        x.customer = cu->text();
        x.product = pr->text();
        x.inDate = id->text();
        x.outDate = od->text();
        const auto a = iw->readInteger(), b = ow->readInteger(), n = nw->readInteger();
        x.weightsRead = a && b && n;
        x.inW = a.value_or(0);
        x.outW = b.value_or(0);
        x.net = n.value_or(0);
        x.complete = co->isTrue();
        out.push_back(x);
    }
    t->close();
    return out;
}

const std::regex kDayName("([A-Za-z]{3})(\\d\\d)(\\d\\d)\\.dbf", std::regex::icase);
const std::regex kMonthDir("(\\d\\d)([A-Za-z]{3})");
const std::regex kArchiveName("ME_(\\d\\d)([A-Za-z]{3})\\.dbf", std::regex::icase);

int monthOf(const std::string& abbrev)
{
    for (int m = 1; m <= 12; ++m)
        if (strcasecmp(abbrev.c_str(), xb::monthAbbrev(m)) == 0)
            return m;
    return 0;
}

std::optional<xb::Date> dayOfName(const std::string& name)
{
    // mmmddyy.dbf: the month's name, the day, the year.
    std::smatch m;
    if (!std::regex_match(name, m, kDayName))
        return std::nullopt;
    const xb::Date day {2000 + std::stoi(m[3]), monthOf(m[1]), std::stoi(m[2])};
    if (!xb::isValidDate(day.year, day.month, day.day))
        return std::nullopt;
    return day;
}

// Where a ticket was found.
enum class Place { kOpen, kDay, kFolder, kArchive, kClosing };
const char* placeName(Place p)
{
    switch (p) {
    case Place::kOpen: return "open table";
    case Place::kDay: return "day table";
    case Place::kFolder: return "month folder";
    case Place::kArchive: return "month archive";
    case Place::kClosing: return "closing folder";
    }
    return "?";
}
struct Found {
    Place place;
    int dir;
    xb::Date day;  // the day of a day table, or the first of the archive's month
    std::string path;
    FileTicket t;
};

// ---------------------------------------------------------------------------
// The model
// ---------------------------------------------------------------------------

enum class State { kOpen, kCompleted, kArchived };
const char* stateName(State s)
{
    return s == State::kOpen ? "open" : s == State::kCompleted ? "completed" : "archived";
}

struct Truck {
    std::string plate, customer, product;
    long number = 0;
    long long inW = 0, outW = 0;
    int dir = 0;  // 0: A (database/), 1: B (data2/)
    State state = State::kOpen;
    xb::Date inDate, outDate;
    long openSeq = 0;  // order of the open table
};

struct Options {
    uint64_t seed = 1;
    int days = 30;
    long visits = 0;  // stop after this many visits (0: after the days)
    int crashPercent = 4;
    bool knownFaults = false;
    bool keep = false;
    bool shrink = true;
    bool verbose = false;
    long maxSteps = 0;  // shrinking: stop after this many steps
    std::set<std::string> disabled;
    std::string scratch;  // where the site is made (/dev/shm, else /tmp)
    // Whether a sequence of the known faults is played.
    bool faultOn(const char* key) const
    {
        if (knownFaults)
            return true;
        for (const KnownFault& k : kKnownFaults)
            if (std::strcmp(k.key, key) == 0)
                return false;
        return true;
    }
};

struct Counts {
    long steps = 0, visits = 0, inbound = 0, outbound = 0, unknownCards = 0, stationIn = 0, stationOut = 0,
         reprints = 0, refusals = 0, records = 0, otherWrites = 0, staleCounts = 0, processes = 0, monthEnds = 0,
         moves = 0, reports = 0, reportRows = 0, crashes = 0, killed = 0, midnights = 0, cheapChecks = 0,
         fullChecks = 0, ticketsChecked = 0, tablesChecked = 0, messages = 0;
};

class Sim;
struct Operation {
    const char* name;
    int weight;
    void (Sim::*run)();
    bool crashable;  // may be run in a child killed part-way
};

struct Invariant {
    const char* name;
    bool expensive;  // at a day's end and after a crash; else after every step
    void (Sim::*check)();
};

class Sim {
public:
    explicit Sim(Options o) : opt_(std::move(o)), rng_ {opt_.seed * 0x2545F4914F6CDD1Dull + 7} {}
    ~Sim();
    // Plays the site; the failure's text, or empty when every invariant held.
    std::string run();
    const Counts& counts() const { return n_; }
    const std::vector<std::string>& trail() const { return trail_; }
    double seconds() const { return seconds_; }
    static const std::vector<Operation>& operations();
    static const std::vector<Invariant>& invariants();

private:
    // Operations.
    void kioskVisit();
    void stationInbound();
    void stationOutbound();
    void stationReprint();
    void recordWindow();
    void otherHandle();
    void staleHeaderCount();
    void otherProcess();
    void monthEnd();
    void moveData();
    void report();

    // Invariants.
    void openTablesMatch();
    void todaysTablesMatch();
    void everyTruckOnce();
    void numbersOnce();
    void mastersThere();
    void reportExact();
    void tablesPass();

    // The site and the step loop.
    void makeSite();
    void step();
    void runOp(const Operation& op);
    void crashOp(const Operation& op);
    void startUp();
    void reconcile(const std::string& op);
    void checkCheap();
    void checkAll();
    void dayEnd();
    void note(const std::string& s);

    std::string dir(int d) const { return d == 0 ? dirA_ : dirB_; }
    std::string dataDir() const { return dir(data_); }
    bool shared() const { return data_ == 0; }
    std::vector<Found> scan(bool everything);
    void checkTicketValues(const Truck& tr, const FileTicket& t, const std::string& where);
    std::vector<Truck*> trucksWhere(std::function<bool(const Truck&)> f);
    std::string newPlate() { return "T" + std::to_string(nextPlate_); }
    void closeRecordWindow() { window_.reset(); }

    Options opt_;
    Rng rng_;
    Counts n_;
    std::vector<std::string> trail_;
    double seconds_ = 0;
    std::string home_, dirA_, dirB_, dbftool_;

    // The model.
    std::map<std::string, Truck> trucks_;
    long nextPlate_ = 1, nextSeq_ = 1, nextCustomer_ = 1, nextProduct_ = 1, nextCard_ = 100001;
    std::map<std::string, std::string> customers_;  // name -> card, in the data directory
    std::set<std::string> products_;
    int data_ = 0;
    xb::Date firstDay_;
    std::set<std::pair<int, int>> monthsSeen_;
    bool repairWindow_ = false;         // a crash or a dead writer since the last check
    std::set<std::string> toRepair_;  // tables showing what the next write repairs

    // The record window, open across steps as an operator leaves it.
    std::unique_ptr<records::MasterTable> window_;
    std::vector<std::string> messages_;
    bool inChild_ = false;
    std::map<std::string, long> writesSeen_;  // file-changing calls of a step run through, by operation
};

const std::vector<Operation>& Sim::operations()
{
    static const std::vector<Operation> ops = {
        {"kiosk_visit", 80, &Sim::kioskVisit, true},
        {"station_inbound", 16, &Sim::stationInbound, true},
        {"station_outbound", 16, &Sim::stationOutbound, true},
        {"station_reprint", 6, &Sim::stationReprint, true},
        {"record_window", 8, &Sim::recordWindow, true},
        {"other_handle", 4, &Sim::otherHandle, false},
        {"stale_header_count", 1, &Sim::staleHeaderCount, false},
        {"other_process", 2, &Sim::otherProcess, false},
        {"month_end", 2, &Sim::monthEnd, true},
        {"move_data", 1, &Sim::moveData, true},
        {"report", 4, &Sim::report, false},
    };
    return ops;
}

const std::vector<Invariant>& Sim::invariants()
{
    static const std::vector<Invariant> inv = {
        {"open tables hold exactly the open trucks", false, &Sim::openTablesMatch},
        {"today's tables hold exactly today's completed trucks", false, &Sim::todaysTablesMatch},
        {"every truck exactly once: open, completed, or in folder and archive", true, &Sim::everyTruckOnce},
        {"no number twice among live tickets", true, &Sim::numbersOnce},
        {"every customer and product written is there", true, &Sim::mastersThere},
        {"the transactions report lists exactly the completed tickets", true, &Sim::reportExact},
        {"every table passes the engine's check", true, &Sim::tablesPass},
    };
    return inv;
}

Sim::~Sim()
{
    window_.reset();
    xb::setClockSource({});
    monthend::setStepHook({});
    setup::setStepHook({});
    dialogs::setMessageHandler({});
    xb::setErrorReport({});
    if (!home_.empty() && !opt_.keep) {
        std::error_code ec;
        fs::remove_all(home_, ec);
    }
}

void Sim::note(const std::string& s)
{
    trail_.push_back(text(gNow) + " " + s);
    if (opt_.verbose && !inChild_)
        std::printf("  %s\n", trail_.back().c_str());
}

// ---------------------------------------------------------------------------
// The site
// ---------------------------------------------------------------------------

void Sim::makeSite()
{
    // In memory where there is /dev/shm: the tables sync after every write,
    // and a disk would set the pace.
    std::string tmpl = (opt_.scratch.empty() ? (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") : opt_.scratch) +
                       "/sim-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        fail("no scratch directory in " + tmpl);
    home_ = tmpl;
    dirA_ = home_ + "/database/";
    dirB_ = home_ + "/data2/";
    fs::create_directories(dirA_);
    fs::create_directories(dirB_);
    ::setenv("GRAZULO_HOME", home_.c_str(), 1);

    const char* bin = std::getenv("GRAZULO_BIN");
    dbftool_ = bin ? std::string(bin) + "/dbftool" : std::string();
    if (!dbftool_.empty() && ::access(dbftool_.c_str(), X_OK) != 0)
        dbftool_.clear();

    gNow = {2026, 1, 1 + int(rng_.below(28)), 6, 0, 0};
    gNow.month = 1 + int(rng_.below(12));
    firstDay_ = dateOf(gNow);
    xb::setClockSource([] { return gNow; });
    dialogs::setMessageHandler([this](const dialogs::Message& m) {
        ++n_.messages;
        messages_.push_back(dialogs::messageText(m));
        return dialogs::firstButton(m.buttons);
    });
    xb::setErrorReport([this](const xb::EngineError& e) { messages_.push_back("engine: " + e.text()); });

    // setup.dbf naming A as the data directory.
    {
        xb::Connection c;
        if (!catalogue::CreateTable(catalogue::kSetupLayout, catalogue::setupTablePath()))
            fail("setup.dbf cannot be made");
        xb::Table* t = c.open(catalogue::setupTablePath());
        EXPECT(t && t->appendStart() == xb::kSuccess, "setup.dbf");
        t->blank();
        t->field("scalport")->assign("1");
        t->field("prtport")->assign("3");
        t->field("modemport")->assign("4");
        t->field("datapath")->assign(dirA_);
        EXPECT(t->append() == xb::kSuccess && t->close() == xb::kSuccess, "setup.dbf record");
    }
    EXPECT(catalogue::CreateTable(catalogue::kCustomerLayout, dirA_ + "Customer.dbf"), "customer table");
    EXPECT(catalogue::CreateTable(catalogue::kProductLayout, dirA_ + "Product.dbf"), "product table");
    EXPECT(catalogue::CreateTable(catalogue::kCompanyLayout, dirA_ + "Company.dbf"), "company table");
    EXPECT(catalogue::dataDir() == dirA_, "the data directory is the kiosk's");

    // A few customers and materials to start with, through the record window.
    records::MasterTable cu(records::Mode::kCustomer, dirA_);
    records::MasterTable pr(records::Mode::kProduct, dirA_);
    for (int i = 0; i < 6; ++i) {
        const std::string name = "C" + std::to_string(nextCustomer_++);
        const std::string card = std::to_string(nextCard_++);
        EXPECT(cu.write({std::to_string(i + 1), name, card}, std::nullopt, {}) == records::Written::kStored,
               "first customers");
        customers_[name] = card;
    }
    for (int i = 0; i < 3; ++i) {
        const std::string name = "P" + std::to_string(nextProduct_++);
        EXPECT(pr.write({std::to_string(i + 1), name, ""}, std::nullopt, {}) == records::Written::kStored,
               "first products");
        products_.insert(name);
    }
}

// What the program's start-up runs before any table is used: a data move
// cut short is settled, and (as the operator's next month end does) every
// month end cut short is finished.
void Sim::startUp()
{
    const setup::Settled s = setup::settleInterruptedMove();
    if (s.found) {
        note("start-up: " + s.message);
        EXPECT(s.ok, "a move cut short is settled: " + s.message);
    }
    // The next operation of any ticket store on a directory finishes a move
    // of a ticket that a dead process left half done (tickets.pending).
    for (int d = 0; d < 2; ++d)
        EXPECT(store::TicketStore(dir(d), store::CounterMeaning::kLastIssued).recoverPending(),
               "the half-done ticket move in " + dir(d) + " is finished");
    const std::string now = catalogue::dataDir();
    EXPECT(now == dirA_ || now == dirB_, "the setup table names one of the two directories: " + now);
    data_ = now == dirA_ ? 0 : 1;
    for (int d = 0; d < 2; ++d)
        for (const auto& [y, m] : monthsSeen_)
            if (monthend::interrupted(dir(d), y, m)) {
                const monthend::Result r = monthend::closeMonth(dir(d), y, m);
                note("start-up: month end " + std::to_string(m) + "/" + std::to_string(y) + " finished: " + r.message);
                EXPECT(r.done, "a month end cut short is finished: " + r.message);
                for (auto& [p, tr] : trucks_)
                    if (tr.dir == d && tr.state == State::kCompleted && tr.outDate.year == y &&
                        tr.outDate.month == m)
                        tr.state = State::kArchived;
            }
}

std::vector<Truck*> Sim::trucksWhere(std::function<bool(const Truck&)> f)
{
    std::vector<Truck*> v;
    for (auto& [p, t] : trucks_)
        if (f(t))
            v.push_back(&t);
    return v;
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------

// A driver at the kiosk: a card swiped; with an open ticket the truck is
// weighed out (completed, the printout made), without one weighed in.
void Sim::kioskVisit()
{
    ++n_.visits;
    std::string card;
    std::optional<std::string> expected;  // the customer the card is to find
    const int kind = int(rng_.below(100));
    if (kind < 8 || customers_.empty()) {
        card = "9" + std::to_string(rng_.below(100000));
    } else {
        auto it = customers_.begin();
        std::advance(it, rng_.below(long(customers_.size())));
        card = it->second;
        expected = it->first;
    }
    const std::optional<std::string> holder = kiosk::FindCardHolder(card);
    EXPECT(holder, "the kiosk's customer table can be read");
    const bool kioskSeesCustomers = shared();
    if (!kioskSeesCustomers || !expected || customers_.at(*expected) != card) {
        // Away from the data directory the kiosk has no customers of its
        // own: nobody, or a name the model knows.
        if (holder->empty()) {
            ++n_.unknownCards;
            note("kiosk: card " + card + " unknown");
            return;
        }
        EXPECT(!kioskSeesCustomers || !expected, "an unknown card found " + *holder);
    }
    if (kioskSeesCustomers && expected)
        EXPECT(*holder == *expected, "card " + card + " finds " + *expected + ", not '" + *holder + "'");
    const std::string customer = *holder;

    kiosk::ClearTicket();
    kiosk::Ticket& cur = kiosk::CurrentTicket();
    cur.customer = customer;
    const kiosk::OpenTicket open = kiosk::LookUpOpenTicket(customer);
    EXPECT(open != kiosk::OpenTicket::kUnreadable, "the open tickets can be read");

    // The model's answer: the customer's first open ticket of the kiosk's directory.
    Truck* first = nullptr;
    for (Truck* t : trucksWhere([&](const Truck& t) {
             return t.state == State::kOpen && t.dir == 0 && t.customer == customer;
         }))
        if (!first || t->openSeq < first->openSeq)
            first = t;

    if (open == kiosk::OpenTicket::kFound) {
        EXPECT(first, "the kiosk found an open ticket the model does not have: " + cur.truck);
        EXPECT(cur.truck == first->plate && cur.ticket == first->number,
               "the kiosk found " + cur.truck + " No. " + std::to_string(cur.ticket) + ", the first open is " +
                   first->plate + " No. " + std::to_string(first->number));
        EXPECT(cur.in_wgt == std::to_string(first->inW), "the open ticket's in weight");
        const long long out = first->inW + 2000 + rng_.below(30000);
        cur.out_wgt = std::to_string(out);
        const kiosk::Completion c = kiosk::CompleteTicket();
        EXPECT(c == kiosk::Completion::Completed, "the kiosk completes " + first->plate);
        first->state = State::kCompleted;
        first->outW = out;
        first->outDate = dateOf(gNow);
        EXPECT(cur.net_wgt == std::to_string(out - first->inW), "the net the kiosk prints");
        const auto bytes = kiosk::KioskTicketBytes(cur, 3, gNow);
        EXPECT(bytes, "the printout is made");
        EXPECT(bytes->find("TICKET  : " + std::to_string(first->number)) != std::string::npos,
               "the printout shows the ticket's number");
        EXPECT(bytes->find(std::to_string(out - first->inW) + "  kg") != std::string::npos,
               "the printout shows the net");
        ++n_.outbound;
        note("kiosk: out " + first->plate + " No. " + std::to_string(first->number) + " " + std::to_string(out));
        return;
    }
    EXPECT(!first, "the kiosk missed the open ticket " + (first ? first->plate : std::string()));
    std::vector<std::string> materials;
    const bool listed = kiosk::LoadProducts(materials);
    if (!listed || materials.empty()) {
        note("kiosk: no material to offer");
        return;
    }
    for (const auto& m : materials)
        EXPECT(products_.count(m), "the material screen offers " + m + ", which nobody wrote");
    if (rng_.chance(5)) {
        note("kiosk: the driver left at the plate screen");
        return;
    }
    Truck t;
    t.plate = newPlate();
    t.customer = customer;
    t.product = rng_.pick(materials);
    t.inW = 8000 + rng_.below(12000);
    t.dir = 0;
    t.inDate = dateOf(gNow);
    const long number = kiosk::IssueTicketNo();
    EXPECT(number > 0, "the kiosk issues a number");
    cur.ticket = number;
    cur.truck = t.plate;
    cur.product = t.product;
    cur.in_wgt = std::to_string(t.inW);
    EXPECT(kiosk::AddInboundTicket(), "the kiosk stores the inbound ticket");
    ++nextPlate_;
    t.number = number;
    t.openSeq = nextSeq_++;
    trucks_[t.plate] = t;
    ++n_.inbound;
    note("kiosk: in " + t.plate + " No. " + std::to_string(number) + " for " + customer);
}

// The operator weighs a truck in: Done on the station's screen.
void Sim::stationInbound()
{
    if (customers_.empty() || products_.empty())
        return;
    ++n_.visits;
    station::StationTickets st(dataDir());
    Truck t;
    t.plate = newPlate();
    auto it = customers_.begin();
    std::advance(it, rng_.below(long(customers_.size())));
    t.customer = it->first;
    t.product = *std::next(products_.begin(), rng_.below(long(products_.size())));
    t.inW = 7000 + rng_.below(15000);
    t.dir = data_;
    t.inDate = dateOf(gNow);
    station::Entry e;
    e.customer = t.customer;
    e.product = t.product;
    e.truck = t.plate;
    e.remarks = rng_.chance(30) ? "by hand" : "";
    e.inWeight = std::to_string(t.inW);
    const station::InboundSaved s = st.UpdateTempTable(e, gNow);
    EXPECT(s.outcome == station::SaveOutcome::kStored, "the station stores the inbound ticket");
    ++nextPlate_;
    t.number = s.number;
    t.openSeq = nextSeq_++;
    trucks_[t.plate] = t;
    ++n_.stationIn;
    note("station: in " + t.plate + " No. " + std::to_string(s.number));
}

// The operator chooses any open ticket, types the out weight (sometimes
// wrongly first) and prints.
void Sim::stationOutbound()
{
    auto open = trucksWhere([&](const Truck& t) { return t.state == State::kOpen && t.dir == data_; });
    if (open.empty())
        return;
    ++n_.visits;
    Truck* tr = open[std::size_t(rng_.below(long(open.size())))];
    station::StationTickets st(dataDir());
    const auto found = st.CheckInRecord(tr->number, false, gNow);
    EXPECT(found && found->truck == tr->plate, "the station finds open ticket No. " + std::to_string(tr->number));
    station::Entry e = station::entryOf(*found);
    station::SaveOutcome outcome {};
    if (rng_.chance(15)) {
        e.outWeight = "12O45";
        st.UpdateTables(e, false, gNow, outcome);
        EXPECT(outcome == station::SaveOutcome::kBadWeight, "a weight typed wrong is refused");
        ++n_.refusals;
    }
    const long long out = std::max(0LL, tr->inW - 6000 + rng_.below(30000));
    e.outWeight = std::to_string(out);
    const store::MoveResult r = st.UpdateTables(e, false, gNow, outcome);
    EXPECT(outcome == station::SaveOutcome::kStored, "the station completes " + tr->plate);
    EXPECT(r.stored.netWeight == std::llabs(out - tr->inW), "the net the station stores");
    tr->state = State::kCompleted;
    tr->outW = out;
    tr->outDate = dateOf(gNow);
    ++n_.stationOut;
    note("station: out " + tr->plate + " No. " + std::to_string(tr->number) + " " + std::to_string(out));
}

// A reprint of one of today's tickets: under its own number, a number the
// counter issues, or a clashing one (refused).
void Sim::stationReprint()
{
    const xb::Date today = dateOf(gNow);
    auto done = trucksWhere(
        [&](const Truck& t) { return t.state == State::kCompleted && t.dir == data_ && t.outDate == today; });
    if (done.empty())
        return;
    Truck* tr = done[std::size_t(rng_.below(long(done.size())))];
    station::StationTickets st(dataDir());
    const auto found = st.CheckInRecord(tr->number, true, gNow);
    EXPECT(found && found->truck == tr->plate, "the reprint finds today's No. " + std::to_string(tr->number));
    station::Entry e = station::entryOf(*found);
    const int how = int(rng_.below(3));
    long newNumber = tr->number;
    station::SaveOutcome expect = station::SaveOutcome::kStored;
    if (how == 1) {
        const auto next = st.GetTicketNo();
        EXPECT(next, "the counter can be read");
        newNumber = *next;
        EXPECT(st.UpdateControlTable(newNumber), "the counter is kept");
    } else if (how == 2) {
        auto others = trucksWhere([&](const Truck& t) {
            return t.dir == data_ && t.number != tr->number &&
                   (t.state == State::kOpen || (t.state == State::kCompleted && t.outDate == today));
        });
        if (others.empty())
            return;
        const Truck* o = others[std::size_t(rng_.below(long(others.size())))];
        newNumber = o->number;
        expect = o->state == State::kOpen ? station::SaveOutcome::kNumberOpen : station::SaveOutcome::kNumberInUse;
    }
    e.newTicket = std::to_string(newNumber);
    station::SaveOutcome outcome {};
    const store::MoveResult r = st.UpdateTables(e, true, gNow, outcome);
    EXPECT(outcome == expect, "the reprint of No. " + std::to_string(tr->number) + " as " + e.newTicket +
                                  " gives outcome " + std::to_string(int(outcome)));
    ++n_.reprints;
    if (outcome != station::SaveOutcome::kStored) {
        ++n_.refusals;
        note("station: reprint " + tr->plate + " as " + e.newTicket + " refused");
        return;
    }
    EXPECT(r.stored.ticket == newNumber && r.stored.truck == tr->plate, "the reprint as stored");
    note("station: reprint " + tr->plate + " No. " + std::to_string(tr->number) + " as " + e.newTicket);
    tr->number = newNumber;
}

// The record window: a customer or a product added, edited or deleted.
// The window stays open across steps, as an operator leaves it, while others
// write the table.
void Sim::recordWindow()
{
    ++n_.records;
    const bool customer = rng_.chance(70);
    if (!window_ || window_->mode() != (customer ? records::Mode::kCustomer : records::Mode::kProduct) ||
        rng_.chance(20))
        window_ = std::make_unique<records::MasterTable>(
            customer ? records::Mode::kCustomer : records::Mode::kProduct, dataDir());
    EXPECT(window_->isOpen(), "the record window opens its table");
    const auto rows = window_->rows();
    const int what = int(rng_.below(10));
    if (what < 6 || rows.empty()) {
        const std::string name =
            customer ? "C" + std::to_string(nextCustomer_) : "P" + std::to_string(nextProduct_);
        const std::string card = customer ? std::to_string(nextCard_) : "";
        // The code as an operator types it: three places at most.
        records::MasterEntry e {std::to_string((rows.size() + 1) % 1000), name, card};
        EXPECT(window_->checkInput(e, std::nullopt) == records::Check::kOk, "a new name is accepted");
        const records::Written w = window_->write(e, std::nullopt, {});
        EXPECT(w == records::Written::kStored, "the record window adds " + name);
        if (customer) {
            customers_[name] = card;
            ++nextCustomer_;
            ++nextCard_;
        } else {
            products_.insert(name);
            ++nextProduct_;
        }
        note("records: added " + name);
        return;
    }
    const int row = int(rng_.below(long(rows.size())));
    const records::MasterRow shown = rows[std::size_t(row)];
    if (what < 8 || !customer) {
        // A customer gets a new card; a product keeps its name (the open
        // tickets name it) and gets its code again.
        records::MasterEntry e {shown.code, shown.name, customer ? std::to_string(nextCard_) : ""};
        const records::Written w = window_->write(e, row, shown);
        EXPECT(w == records::Written::kStored, "the record window edits " + shown.name);
        if (customer) {
            customers_[shown.name] = e.card;
            ++nextCard_;
        }
        note("records: edited " + shown.name);
        return;
    }
    // A customer deleted: only one without tickets open, as an office would.
    for (const auto& [p, t] : trucks_)
        if (t.customer == shown.name && t.state == State::kOpen)
            return;
    bool stale = false;
    EXPECT(window_->remove(row, shown, stale) && !stale, "the record window deletes " + shown.name);
    customers_.erase(shown.name);
    note("records: deleted " + shown.name);
}

// Another xBase program, in this process through a second engine handle:
// a customer appended to the data directory's table.
void Sim::otherHandle()
{
    ++n_.otherWrites;
    const std::string name = "C" + std::to_string(nextCustomer_);
    const std::string card = std::to_string(nextCard_);
    xb::Connection c;
    xb::Table* t = c.open(dataDir() + "Customer.dbf");
    EXPECT(t, "the other program opens the customer table");
    EXPECT(t->appendStart() == xb::kSuccess, "append start");
    t->blank();
    t->field("code_num")->assignInteger(nextCustomer_ % 1000);
    t->field("n_ame")->assign(name);
    t->field("fax_no")->assign(card);
    EXPECT(t->append() == xb::kSuccess && t->close() == xb::kSuccess, "the other program's customer");
    customers_[name] = card;
    ++nextCustomer_;
    ++nextCard_;
    note("other program: customer " + name);
}

// Another program that appended a product and died before it wrote the
// header's record count: the record is in the file, the count one short.
void Sim::staleHeaderCount()
{
    ++n_.staleCounts;
    const std::string path = xb::resolvePath(dataDir() + "Product.dbf");
    const std::string name = "P" + std::to_string(nextProduct_);
    uint32_t before = 0;
    {
        xb::Connection c;
        xb::Table* t = c.open(path);
        EXPECT(t, "the product table opens");
        before = t->headerRecordCount();
        EXPECT(t->appendStart() == xb::kSuccess, "append start");
        t->blank();
        t->field("n_ame")->assign(name);
        EXPECT(t->append() == xb::kSuccess && t->close() == xb::kSuccess, "the product appended");
    }
    const int fd = ::open(path.c_str(), O_RDWR);
    EXPECT(fd >= 0, "the product table opens for the raw write");
    unsigned char count[4] = {uint8_t(before), uint8_t(before >> 8), uint8_t(before >> 16), uint8_t(before >> 24)};
    EXPECT(::pwrite(fd, count, 4, 4) == 4, "the header's count written back");
    ::close(fd);
    products_.insert(name);
    ++nextProduct_;
    repairWindow_ = true;
    note("other program: product " + name + " with the header's count left at " + std::to_string(before));
}

// Another program in a process of its own: dbftool appends a customer.
void Sim::otherProcess()
{
    if (dbftool_.empty())
        return;
    ++n_.processes;
    const std::string name = "C" + std::to_string(nextCustomer_);
    const std::string card = std::to_string(nextCard_);
    const std::string table = dataDir() + "Customer.dbf";
    std::vector<std::string> args = {dbftool_, "append", table, "n_ame=" + name, "fax_no=" + card,
                                     "code_num=" + std::to_string(nextCustomer_ % 1000)};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int r = posix_spawn(&pid, dbftool_.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    EXPECT(r == 0, "dbftool starts");
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT(WIFEXITED(status) && WEXITSTATUS(status) == 0, "dbftool append " + table);
    customers_[name] = card;
    ++nextCustomer_;
    ++nextCard_;
    note("dbftool: customer " + name);
}

// Another writer meanwhile: run at the chosen step of a month end or a
// move (through its step hook), and the hook taken off however the run ends.
class Meanwhile {
public:
    using Install = void (*)(std::function<void(const std::string&)>);
    Meanwhile(Install install, int at, std::function<void(const std::string&)> write) : install_(install)
    {
        install_([this, at, write](const std::string& step) {
            if (++steps_ == at)
                write(step);
        });
    }
    ~Meanwhile() { install_({}); }

private:
    Install install_;
    int steps_ = 0;
};

// The month end of a month: the one before (as on the 1st), the current one
// (early), or an older one with tickets left. Sometimes the kiosk or the
// station weighs a truck while it runs.
void Sim::monthEnd()
{
    closeRecordWindow();
    int y = gNow.year, m = gNow.month;
    const int how = int(rng_.below(10));
    if (how < 6) {
        const xb::Date prev = addDays({gNow.year, gNow.month, 1}, -1);
        y = prev.year;
        m = prev.month;
    } else if (how < 8 && !monthsSeen_.empty()) {
        auto it = monthsSeen_.begin();
        std::advance(it, rng_.below(long(monthsSeen_.size())));
        y = it->first;
        m = it->second;
    }
    monthsSeen_.insert({y, m});
    auto inMonth = [&](const Truck& t) {
        return t.dir == data_ && t.state == State::kCompleted && t.outDate.year == y && t.outDate.month == m;
    };
    std::set<std::string> waiting;
    for (const auto& [p, t] : trucks_)
        if (inMonth(t))
            waiting.insert(p);
    std::optional<Meanwhile> meanwhile;
    if (rng_.chance(30)) {
        const int which = int(rng_.below(3));
        meanwhile.emplace(&monthend::setStepHook, 1 + int(rng_.below(5)), [this, which](const std::string& step) {
            note("meanwhile, the month end " + step + ":");
            which == 0 ? kioskVisit() : which == 1 ? stationOutbound() : stationInbound();
        });
    }
    const monthend::Result r = monthend::closeMonth(dataDir(), y, m);
    meanwhile.reset();
    // A month without a day table in the data directory is refused, with nothing done.
    EXPECT(r.done || waiting.empty(),
           "the month end of " + std::to_string(m) + "/" + std::to_string(y) + ": " + r.message);
    // A truck weighed out while it ran is archived by it, or left for the
    // next month end: where it is tells.
    std::vector<Found> all;
    long archived = 0;
    for (auto& [p, t] : trucks_) {
        if (!inMonth(t))
            continue;
        if (!waiting.count(p)) {
            if (all.empty())
                all = scan(true);
            bool inFolder = false;
            for (const Found& f : all)
                inFolder |= f.t.truck == p && f.place == Place::kFolder;
            note("meanwhile: " + p + (inFolder ? " archived with the month" : " left for the next month end"));
            if (!inFolder)
                continue;
        }
        t.state = State::kArchived;
        ++archived;
    }
    EXPECT(r.tickets == archived, "the month end archived " + std::to_string(r.tickets) + " tickets, the model " +
                                      std::to_string(archived));
    ++n_.monthEnds;
    note("month end " + std::to_string(m) + "/" + std::to_string(y) + ": " + std::to_string(archived) +
         " tickets");
}

// The data directory moved to the other one; its open tickets, customers
// and products go with it. Sometimes the kiosk or another program writes
// the old directory's tables while the setup table still names it.
void Sim::moveData()
{
    closeRecordWindow();
    const int to = 1 - data_;
    std::vector<std::string> asked;
    std::optional<Meanwhile> meanwhile;
    const bool openTable = xb::fileExists(xb::resolvePath(dataDir() + "ticket.dbf"));
    if (rng_.chance(30)) {
        const bool kiosk = rng_.chance(60) && (openTable || opt_.faultOn("move_kiosk_makes_open_table"));
        // The steps "copied", "recorded" and "placed" come before the switch.
        const int steps = opt_.faultOn("move_kiosk_after_placed") ? 3 : 2;
        meanwhile.emplace(&setup::setStepHook, 1 + int(rng_.below(steps)), [this, kiosk](const std::string& step) {
            note("meanwhile, the move " + step + ":");
            kiosk ? kioskVisit() : otherHandle();
        });
    }
    const setup::MoveResult r = setup::moveData(dir(to), [&asked](const std::string& q) {
        asked.push_back(q);
        return true;
    });
    meanwhile.reset();
    EXPECT(r.ok, "the move to " + dir(to) + ": " + r.message);
    EXPECT(asked.empty(), "the move asked: " + (asked.empty() ? std::string() : asked.front()));
    EXPECT(catalogue::dataDir() == dir(to), "the setup table names the new directory");
    for (auto& [p, t] : trucks_)
        if (t.state == State::kOpen && t.dir == data_)
            t.dir = to;
    // A table moved as it is still shows what its next write repairs.
    for (const std::string& f : std::set<std::string>(toRepair_))
        if (f.rfind(dir(data_), 0) == 0)
            toRepair_.insert(dir(to) + f.substr(dir(data_).size()));
    data_ = to;
    ++n_.moves;
    note("move: the data directory is now " + dir(to));
    for (const auto& n : r.notes)
        note("move: " + n);
}

void Sim::report()
{
    ++n_.reports;
    reportExact();
}

// ---------------------------------------------------------------------------
// Invariants
// ---------------------------------------------------------------------------

void Sim::checkTicketValues(const Truck& tr, const FileTicket& t, const std::string& where)
{
    const std::string what = tr.plate + " in " + where;
    EXPECT(t.number == tr.number, what + ": number " + std::to_string(t.number) + ", the model's " +
                                      std::to_string(tr.number));
    EXPECT(t.customer == tr.customer, what + ": customer " + t.customer);
    EXPECT(t.weightsRead, what + ": weights that cannot be read");
    EXPECT(t.inW == tr.inW, what + ": in weight " + std::to_string(t.inW));
    EXPECT(t.inDate == tr.inDate.text(), what + ": in date " + t.inDate);
    if (tr.state == State::kOpen) {
        EXPECT(!t.complete, what + ": open ticket marked complete");
        return;
    }
    EXPECT(t.complete, what + ": completed ticket not marked complete");
    EXPECT(t.outW == tr.outW, what + ": out weight " + std::to_string(t.outW) + ", the model's " +
                                  std::to_string(tr.outW));
    EXPECT(t.net == std::llabs(tr.outW - tr.inW), what + ": net " + std::to_string(t.net));
    EXPECT(t.outDate == tr.outDate.text(), what + ": out date " + t.outDate);
}

// Every ticket table of both directories (everything), or the open tables
// and today's day tables only.
std::vector<Found> Sim::scan(bool everything)
{
    std::vector<Found> all;
    const xb::Date today = dateOf(gNow);
    for (int d = 0; d < 2; ++d) {
        const std::string base = dir(d);
        std::set<std::string> lower;
        for (const auto& e : fs::directory_iterator(base)) {
            const std::string name = e.path().filename().string();
            std::string low = name;
            std::transform(low.begin(), low.end(), low.begin(), ::tolower);
            EXPECT(lower.insert(low).second, base + " holds two files named " + low);
            if (!e.is_regular_file())
                continue;
            if (low == "ticket.dbf") {
                for (const auto& t : readTickets(e.path()))
                    all.push_back({Place::kOpen, d, {}, e.path(), t});
                continue;
            }
            const auto day = dayOfName(name);
            if (day && (everything || *day == today))
                for (const auto& t : readTickets(e.path()))
                    all.push_back({Place::kDay, d, *day, e.path(), t});
        }
        if (!everything)
            continue;
        for (const auto& e : fs::directory_iterator(base)) {
            if (!e.is_directory())
                continue;
            const std::string name = e.path().filename().string();
            if (std::regex_match(name, kMonthDir)) {
                for (const auto& f : fs::directory_iterator(e.path()))
                    if (const auto day = dayOfName(f.path().filename().string()))
                        for (const auto& t : readTickets(f.path()))
                            all.push_back({Place::kFolder, d, *day, f.path(), t});
            } else if (strcasecmp(name.c_str(), "MonthEnd") == 0) {
                for (const auto& f : fs::directory_iterator(e.path())) {
                    const std::string fn = f.path().filename().string();
                    std::smatch m;
                    if (f.is_directory()) {
                        for (const auto& g : fs::directory_iterator(f.path()))
                            if (const auto day = dayOfName(g.path().filename().string()))
                                for (const auto& t : readTickets(g.path()))
                                    all.push_back({Place::kClosing, d, *day, g.path(), t});
                    } else if (std::regex_match(fn, m, kArchiveName)) {
                        const xb::Date first {2000 + std::stoi(m[1]), monthOf(m[2]), 1};
                        for (const auto& t : readTickets(f.path()))
                            all.push_back({Place::kArchive, d, first, f.path(), t});
                    }
                }
            }
        }
    }
    return all;
}

void Sim::openTablesMatch()
{
    std::map<std::string, int> seen;
    for (const Found& f : scan(false)) {
        if (f.place != Place::kOpen)
            continue;
        auto it = trucks_.find(f.t.truck);
        EXPECT(it != trucks_.end(), "an open ticket nobody weighed in: " + f.t.truck + " in " + f.path);
        const Truck& tr = it->second;
        EXPECT(tr.state == State::kOpen && tr.dir == f.dir,
               tr.plate + " (" + stateName(tr.state) + ") is in the open table " + f.path);
        EXPECT(++seen[tr.plate] == 1, tr.plate + " is twice in " + f.path);
        checkTicketValues(tr, f.t, f.path);
        ++n_.ticketsChecked;
    }
    for (const auto& [p, t] : trucks_)
        if (t.state == State::kOpen)
            EXPECT(seen.count(p), p + " is open but in no open table");
}

void Sim::todaysTablesMatch()
{
    const xb::Date today = dateOf(gNow);
    std::map<std::string, int> seen;
    for (const Found& f : scan(false)) {
        if (f.place != Place::kDay)
            continue;
        auto it = trucks_.find(f.t.truck);
        EXPECT(it != trucks_.end(), "a completed ticket nobody weighed: " + f.t.truck + " in " + f.path);
        const Truck& tr = it->second;
        EXPECT(tr.state == State::kCompleted && tr.dir == f.dir && tr.outDate == today,
               tr.plate + " (" + stateName(tr.state) + ") is in today's table " + f.path);
        EXPECT(++seen[tr.plate] == 1, tr.plate + " is twice in " + f.path);
        checkTicketValues(tr, f.t, f.path);
        ++n_.ticketsChecked;
    }
    for (const auto& [p, t] : trucks_)
        if (t.state == State::kCompleted && t.outDate == today)
            EXPECT(seen.count(p), p + " was completed today but is in no table of today");
}

void Sim::everyTruckOnce()
{
    std::map<std::string, std::vector<const Found*>> where;
    const std::vector<Found> all = scan(true);
    for (const Found& f : all) {
        EXPECT(f.place != Place::kClosing, "a ticket left in a month end's closing folder: " + f.path);
        EXPECT(trucks_.count(f.t.truck), "a ticket nobody weighed: '" + f.t.truck + "' in " + f.path);
        where[f.t.truck].push_back(&f);
    }
    for (const auto& [plate, tr] : trucks_) {
        const auto& w = where[plate];
        std::string list;
        for (const Found* f : w)
            list += std::string(" ") + placeName(f->place) + " " + f->path;
        const std::string what = plate + " (" + stateName(tr.state) + " in " + dir(tr.dir) + ") is at:" + list;
        switch (tr.state) {
        case State::kOpen:
            EXPECT(w.size() == 1 && w[0]->place == Place::kOpen && w[0]->dir == tr.dir, what);
            break;
        case State::kCompleted:
            EXPECT(w.size() == 1 && w[0]->place == Place::kDay && w[0]->dir == tr.dir && w[0]->day == tr.outDate,
                   what);
            break;
        case State::kArchived: {
            int folder = 0, archive = 0;
            for (const Found* f : w) {
                EXPECT(f->dir == tr.dir, what);
                if (f->place == Place::kFolder && f->day == tr.outDate)
                    ++folder;
                else if (f->place == Place::kArchive && f->day.year == tr.outDate.year &&
                         f->day.month == tr.outDate.month)
                    ++archive;
                else
                    fail(what);
            }
            EXPECT(folder == 1 && archive == 1, what);
            break;
        }
        }
        for (const Found* f : w)
            checkTicketValues(tr, f->t, f->path);
        n_.ticketsChecked += long(w.size());
    }
}

// Live tickets (open, or in a day table not yet archived) of one directory
// never share a number: neither two open ones, nor two of one day.
void Sim::numbersOnce()
{
    std::map<std::pair<int, long>, std::string> open;
    std::map<std::tuple<int, long, long>, std::string> day;
    for (const auto& [p, t] : trucks_) {
        if (t.state == State::kOpen) {
            auto [it, fresh] = open.insert({{t.dir, t.number}, p});
            EXPECT(fresh, "No. " + std::to_string(t.number) + " is open twice: " + it->second + " and " + p);
        } else if (t.state == State::kCompleted) {
            auto [it, fresh] = day.insert({{t.dir, t.outDate.julianDay(), t.number}, p});
            EXPECT(fresh, "No. " + std::to_string(t.number) + " is twice in the table of " + t.outDate.text() +
                              ": " + it->second + " and " + p);
        }
    }
}

void Sim::mastersThere()
{
    {
        const reports::ListRows c = reports::listRows(reports::ListKind::kCustomers, dataDir());
        EXPECT(c.ok(), "the customer list: " + c.error);
        std::map<std::string, std::string> there;
        for (const auto& l : c.rows)
            EXPECT(there.insert({l[1], l[3]}).second, "customer " + l[1] + " is listed twice");
        for (const auto& [name, card] : customers_) {
            EXPECT(there.count(name), "customer " + name + " is not in the list");
            EXPECT(there[name] == card, "customer " + name + " has card " + there[name] + ", not " + card);
        }
        EXPECT(there.size() == customers_.size(), "the customer list holds customers nobody wrote");
        const auto holder = kiosk::FindCardHolder(customers_.empty() ? "1" : customers_.begin()->second);
        EXPECT(holder, "the card look-up reads its table");
    }
    const reports::ListRows p = reports::listRows(reports::ListKind::kProducts, dataDir());
    EXPECT(p.ok(), "the product list: " + p.error);
    std::set<std::string> there;
    for (const auto& l : p.rows)
        there.insert(l[1]);
    for (const auto& name : products_)
        EXPECT(there.count(name), "product " + name + " is not in the list");
    EXPECT(there.size() == products_.size(), "the product list holds products nobody wrote");
    ++n_.tablesChecked;
}

void Sim::reportExact()
{
    const xb::Date today = dateOf(gNow);
    const long span = today.julianDay() - firstDay_.julianDay();
    const xb::Date from = addDays(firstDay_, rng_.below(span + 1));
    const xb::Date to = addDays(from, rng_.below(45));
    const reports::Transactions tx = reports::gatherTransactions(dataDir(), from, to);
    EXPECT(tx.ok(), "the transactions report " + from.text() + "-" + to.text() + ": " + tx.error);
    std::map<std::string, const reports::TransactionRow*> rows;
    for (const auto& r : tx.rows)
        EXPECT(rows.insert({r.truck, &r}).second, "the report lists " + r.truck + " twice");
    long expected = 0;
    for (const auto& [p, t] : trucks_) {
        if (t.state == State::kOpen || t.dir != data_ || t.outDate.julianDay() < from.julianDay() ||
            t.outDate.julianDay() > to.julianDay())
            continue;
        ++expected;
        auto it = rows.find(p);
        EXPECT(it != rows.end(), "the report " + from.text() + "-" + to.text() + " misses " + p + " of " +
                                     t.outDate.text());
        EXPECT(it->second->ticket == std::to_string(t.number) &&
                   it->second->netWeight == std::to_string(std::llabs(t.outW - t.inW)),
               "the report's line of " + p);
    }
    EXPECT(long(rows.size()) == expected, "the report " + from.text() + "-" + to.text() + " lists " +
                                              std::to_string(rows.size()) + " tickets, the model " +
                                              std::to_string(expected));
    n_.reportRows += expected;
}

void Sim::tablesPass()
{
    for (int d = 0; d < 2; ++d)
        for (const auto& e : fs::recursive_directory_iterator(dir(d))) {
            std::string low = e.path().filename().string();
            std::transform(low.begin(), low.end(), low.begin(), ::tolower);
            if (!e.is_regular_file() || low.size() < 4 || low.substr(low.size() - 4) != ".dbf")
                continue;
            const auto faults = xb::checkTableFile(e.path());
            ++n_.tablesChecked;
            if (faults.empty()) {
                toRepair_.erase(e.path());
                continue;
            }
            // What the next write (or open) repairs, left by a crash or by
            // another program that died: an index marked in the middle of a
            // change, records the header does not count yet. A table that
            // shows it stays allowed to until it is found clean.
            // (An index marked so is rebuilt whole at the next open: what
            // its tags lack or hold wrongly meanwhile goes with it.)
            const bool rebuilt = std::find(faults.begin(), faults.end(),
                                           "the index was left in the middle of a change") != faults.end();
            bool repairable = true;
            std::string all;
            for (const auto& f : faults) {
                all += "\n    " + f;
                repairable = repairable && ((rebuilt && (f.rfind("the index was left", 0) == 0 ||
                                                         f.rfind("tag ", 0) == 0)) ||
                                            f.find("(the next write counts them)") != std::string::npos);
            }
            EXPECT(repairable && (repairWindow_ || toRepair_.count(e.path())), e.path().string() + " fails the check:" + all);
            toRepair_.insert(e.path());
        }
    repairWindow_ = false;
}

void Sim::checkCheap()
{
    ++n_.cheapChecks;
    for (const Invariant& i : invariants())
        if (!i.expensive)
            (this->*i.check)();
}

void Sim::checkAll()
{
    ++n_.fullChecks;
    for (const Invariant& i : invariants())
        (this->*i.check)();
}

// ---------------------------------------------------------------------------
// Crashes
// ---------------------------------------------------------------------------

// What the dead step left is taken in: a truck it weighed in, one it moved
// on (completed, renumbered, archived, carried to the other directory).
// Whatever it did, each truck must be exactly once somewhere, and only
// forward of where it was.
void Sim::reconcile(const std::string& op)
{
    const std::vector<Found> all = scan(true);
    std::map<std::string, std::vector<const Found*>> where;
    for (const Found& f : all)
        where[f.t.truck].push_back(&f);
    const std::string plate = newPlate();
    if (where.count(plate)) {
        const auto& w = where[plate];
        EXPECT(w.size() == 1 && w[0]->place == Place::kOpen, "the dead " + op + " left " + plate + " twice");
        Truck t;
        t.plate = plate;
        t.customer = w[0]->t.customer;
        t.product = w[0]->t.product;
        t.number = w[0]->t.number;
        t.inW = w[0]->t.inW;
        t.dir = w[0]->dir;
        t.inDate = dateOf(gNow);
        t.openSeq = nextSeq_++;
        trucks_[plate] = t;
        ++nextPlate_;
        note("crash: " + plate + " was stored before the end");
    }
    // The record window's work: a customer or a product added, a card
    // changed, a customer deleted, as far as the dead step got.
    const reports::ListRows cu = reports::listRows(reports::ListKind::kCustomers, dataDir());
    EXPECT(cu.ok(), "the customer list after the crash: " + cu.error);
    std::map<std::string, std::string> there;
    for (const auto& l : cu.rows)
        there[l[1]] = l[3];
    for (auto it = customers_.begin(); it != customers_.end();) {
        if (!there.count(it->first)) {
            note("crash: customer " + it->first + " was deleted before the end");
            it = customers_.erase(it);
            continue;
        }
        if (there[it->first] != it->second && there[it->first] == std::to_string(nextCard_)) {
            it->second = there[it->first];
            ++nextCard_;
            note("crash: customer " + it->first + " got card " + it->second + " before the end");
        }
        ++it;
    }
    const std::string customer = "C" + std::to_string(nextCustomer_);
    if (there.count(customer)) {
        customers_[customer] = there[customer];
        ++nextCustomer_;
        if (there[customer] == std::to_string(nextCard_))
            ++nextCard_;
        note("crash: customer " + customer + " was added before the end");
    }
    const reports::ListRows pr = reports::listRows(reports::ListKind::kProducts, dataDir());
    const std::string product = "P" + std::to_string(nextProduct_);
    for (const auto& l : pr.rows)
        if (l[1] == product) {
            products_.insert(product);
            ++nextProduct_;
            note("crash: product " + product + " was added before the end");
            break;
        }

    // Each truck where the files have it, when that is one whole place
    // (open; a day table; the month's folder and its archive) at or ahead
    // of where the model had it; anything else is left to the invariants.
    for (auto& [p, tr] : trucks_) {
        const auto& w = where[p];
        std::optional<State> seen;
        const Found* at = nullptr;
        if (w.size() == 1 && w[0]->place == Place::kOpen) {
            seen = State::kOpen;
            at = w[0];
        } else if (w.size() == 1 && w[0]->place == Place::kDay) {
            seen = State::kCompleted;
            at = w[0];
        } else if (w.size() == 2 && w[0]->dir == w[1]->dir &&
                   ((w[0]->place == Place::kFolder && w[1]->place == Place::kArchive) ||
                    (w[1]->place == Place::kFolder && w[0]->place == Place::kArchive))) {
            seen = State::kArchived;
            at = w[0]->place == Place::kFolder ? w[0] : w[1];
        }
        if (!seen || *seen < tr.state)
            continue;
        if (*seen == tr.state && at->dir == tr.dir && at->t.number == tr.number &&
            (tr.state == State::kOpen || at->day == tr.outDate))
            continue;
        if (tr.state == State::kOpen && *seen != State::kOpen) {
            tr.outW = at->t.outW;
            tr.outDate = at->day;
            EXPECT(tr.outDate == dateOf(gNow), p + " completed on another day by the dead step");
        }
        note(std::string("crash: ") + p + " was " + stateName(*seen) + " in " + at->path + " No. " +
             std::to_string(at->t.number) + " before the end");
        tr.state = *seen;
        tr.dir = at->dir;
        tr.number = at->t.number;
    }
}

// Whether a system call changes files: the calls a kill is placed before.
bool changesFiles(long nr)
{
    switch (nr) {
    case SYS_write: case SYS_pwrite64: case SYS_writev: case SYS_pwritev: case SYS_fsync: case SYS_fdatasync:
    case SYS_rename: case SYS_renameat: case SYS_renameat2: case SYS_unlink: case SYS_unlinkat:
    case SYS_ftruncate: case SYS_truncate: case SYS_mkdir: case SYS_mkdirat:
        return true;
    default:
        return false;
    }
}

// The step in a child that dies part-way; then start-up's recovery, what it
// left taken in, and the step again.
//
// The child is traced (ptrace): it is killed just before its n-th system call
// that changes a file, n drawn from the seed, so the same seed kills at the
// same moment. Where tracing is not allowed, the child dies by itself at the
// n-th write of the kiosk's connection or the n-th step of a month end or a
// move.
void Sim::crashOp(const Operation& op)
{
    ++n_.crashes;
    long& span = writesSeen_[op.name];
    if (span == 0)
        span = 8;
    const int at = 1 + int(rng_.below(span + span / 4));
    closeRecordWindow();
    // The step again makes the same choices as the one that died.
    const Rng again = rng_;
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        inChild_ = true;
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0) {
            ::raise(SIGSTOP);
        } else {
            static DyingFiles dying(at);
            static xb::Connection conn(dying);
            kiosk::KioskSettings().connection = &conn;
            int steps = 0;
            auto hook = [&steps, at](const std::string&) {
                if (++steps >= at)
                    ::_exit(kKilled);
            };
            monthend::setStepHook(hook);
            setup::setStepHook(hook);
        }
        try {
            runOp(op);
        } catch (const SimFailure& f) {
            std::fprintf(stderr, "in the child: %s\n", f.what());
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    bool killed = false;
    if (WIFSTOPPED(status)) {
        ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
        long writes = 0;
        int pass = 0;
        for (;;) {
            ::ptrace(PTRACE_SYSCALL, pid, nullptr, pass);
            pass = 0;
            if (::waitpid(pid, &status, 0) < 0 || WIFEXITED(status) || WIFSIGNALED(status))
                break;
            if (!WIFSTOPPED(status))
                continue;
            if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
                pass = WSTOPSIG(status) == SIGSTOP ? 0 : WSTOPSIG(status);
                continue;
            }
            __ptrace_syscall_info info {};
            if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) > 0 &&
                info.op == PTRACE_SYSCALL_INFO_ENTRY && changesFiles(long(info.entry.nr)) && ++writes >= at) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                killed = true;
                break;
            }
        }
        if (!killed)
            span = std::max(span, writes);
    } else {
        killed = WIFEXITED(status) && WEXITSTATUS(status) == kKilled;
    }
    EXPECT(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0),
           "the child running " + std::string(op.name) + " failed (status " + std::to_string(status) + ")");
    if (killed)
        ++n_.killed;
    note(std::string("crash: ") + op.name + (killed ? " killed at write " : " ran through write ") +
         std::to_string(at));
    repairWindow_ = true;
    startUp();
    reconcile(op.name);
    checkAll();
    // The crashed step's own record of its work died with it; the step again.
    rng_ = again;
    runOp(op);
}

// ---------------------------------------------------------------------------
// The step loop
// ---------------------------------------------------------------------------

void Sim::runOp(const Operation& op) { (this->*op.run)(); }

void Sim::dayEnd()
{
    ++n_.midnights;
    checkAll();
    // The 1st: the month before is closed most times.
    if (gNow.day == 1 && !opt_.disabled.count("month_end") && rng_.chance(70)) {
        closeRecordWindow();
        const xb::Date prev = addDays(dateOf(gNow), -1);
        monthsSeen_.insert({prev.year, prev.month});
        const monthend::Result r = monthend::closeMonth(dataDir(), prev.year, prev.month);
        bool waiting = false;
        for (const auto& [p, t] : trucks_)
            waiting |= t.dir == data_ && t.state == State::kCompleted && t.outDate.year == prev.year &&
                       t.outDate.month == prev.month;
        EXPECT(r.done || !waiting, "the month end on the 1st: " + r.message);
        for (auto& [p, t] : trucks_)
            if (t.dir == data_ && t.state == State::kCompleted && t.outDate.year == prev.year &&
                t.outDate.month == prev.month)
                t.state = State::kArchived;
        ++n_.monthEnds;
        note("month end on the 1st: " + std::to_string(prev.month) + "/" + std::to_string(prev.year));
        checkAll();
    }
}

void Sim::step()
{
    std::vector<const Operation*> live;
    long total = 0;
    // Away from the kiosk's directory the site soon moves back.
    auto weight = [this](const Operation& op) { return op.run == &Sim::moveData && data_ == 1 ? 30 : op.weight; };
    for (const Operation& op : operations())
        if (!opt_.disabled.count(op.name)) {
            live.push_back(&op);
            total += weight(op);
        }
    if (live.empty())
        fail("every operation is disabled");
    long r = rng_.below(total);
    const Operation* op = live.back();
    for (const Operation* o : live) {
        if (r < weight(*o)) {
            op = o;
            break;
        }
        r -= weight(*o);
    }
    ++n_.steps;
    monthsSeen_.insert({gNow.year, gNow.month});
    messages_.clear();
    if (op->crashable && rng_.below(100) < opt_.crashPercent)
        crashOp(*op);
    else
        runOp(*op);
    checkCheap();

    const xb::Date before = dateOf(gNow);
    advanceClock(1 + int(rng_.below(36)));
    if (!(dateOf(gNow) == before))
        dayEnd();
}

std::string Sim::run()
{
    const auto start = std::chrono::steady_clock::now();
    try {
        makeSite();
        checkAll();
        const long lastDay = firstDay_.julianDay() + opt_.days;
        while (true) {
            if (gStop || (opt_.maxSteps && n_.steps >= opt_.maxSteps))
                break;
            if (opt_.visits ? n_.visits >= opt_.visits : dateOf(gNow).julianDay() >= lastDay)
                break;
            const long before = n_.visits;
            step();
            if (opt_.visits && n_.visits / 2000 != before / 2000) {
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::printf("  ... %ld visits, %ld steps, %ld crashes, %ld month ends, %ld moves, %s, %.0f s\n",
                            n_.visits, n_.steps, n_.crashes, n_.monthEnds, n_.moves, text(gNow).c_str(), t);
                std::fflush(stdout);
            }
        }
        startUp();
        checkAll();
    } catch (const SimFailure& f) {
        seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string why = f.what();
        for (const auto& m : messages_)
            why += "\n  message: " + m;
        return why;
    }
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {};
}

// ---------------------------------------------------------------------------
// main
// ---------------------------------------------------------------------------

int usage()
{
    std::fprintf(stderr,
                 "usage: site_sim [--seed N] [--days N] [--visits N] [--crash PERCENT] [--known-faults]\n"
                 "                [--keep] [--no-shrink] [--verbose] [--disable OP]... [--dir DIR]\n");
    return 2;
}

void printCounts(const Sim& s)
{
    const Counts& c = s.counts();
    std::printf("%ld steps, %ld visits in %.1f s (%.0f visits/s)\n", c.steps, c.visits, s.seconds(),
                s.seconds() > 0 ? double(c.visits) / s.seconds() : 0.0);
    std::printf("  kiosk in %ld, out %ld, unknown cards %ld; station in %ld, out %ld, reprints %ld, refusals %ld\n",
                c.inbound, c.outbound, c.unknownCards, c.stationIn, c.stationOut, c.reprints, c.refusals);
    std::printf("  record window %ld, other handle %ld, stale counts %ld, other process %ld\n", c.records,
                c.otherWrites, c.staleCounts, c.processes);
    std::printf("  month ends %ld, moves %ld, reports %ld (%ld lines), midnights %ld\n", c.monthEnds, c.moves,
                c.reports, c.reportRows, c.midnights);
    std::printf("  crashes %ld (killed part-way %ld); checks: %ld after steps, %ld whole, %ld tickets, %ld tables;"
                " %ld messages\n",
                c.crashes, c.killed, c.cheapChecks, c.fullChecks, c.ticketsChecked, c.tablesChecked, c.messages);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--seed")
            o.seed = std::stoull(value());
        else if (a == "--days")
            o.days = std::stoi(value());
        else if (a == "--visits")
            o.visits = std::stol(value());
        else if (a == "--crash")
            o.crashPercent = std::stoi(value());
        else if (a == "--known-faults")
            o.knownFaults = true;
        else if (a == "--keep")
            o.keep = true;
        else if (a == "--no-shrink")
            o.shrink = false;
        else if (a == "--verbose")
            o.verbose = true;
        else if (a == "--dir")
            o.scratch = value();
        else if (a == "--disable")
            o.disabled.insert(value());
        else
            return usage();
    }
    if (!o.knownFaults)
        for (const KnownFault& k : kKnownFaults) {
            for (const Operation& op : Sim::operations())
                if (std::strcmp(op.name, k.key) == 0)
                    o.disabled.insert(k.key);
            std::printf("left out (a known fault; --known-faults plays it): %s\n", k.key);
        }
    if (o.visits && o.days == 30)
        o.days = 1000000;
    std::printf("site_sim --seed %llu --days %d --visits %ld --crash %d\n", (unsigned long long)o.seed, o.days,
                o.visits, o.crashPercent);

    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });
    std::string failure;
    std::vector<std::string> trail;
    long failedAt = 0;
    {
        Sim s(o);
        failure = s.run();
        printCounts(s);
        trail = s.trail();
        failedAt = s.counts().steps;
    }
    if (failure.empty()) {
        std::printf("every invariant held\n");
        return 0;
    }
    std::printf("\nFAILED at step %ld (seed %llu): %s\n", failedAt, (unsigned long long)o.seed, failure.c_str());

    // Shrink: the same seed up to the failing step, leaving out each kind of
    // operation in turn while the failure remains.
    Options shrunk = o;
    shrunk.maxSteps = failedAt;
    shrunk.keep = false;
    // (A failure far into a long run is not shrunk: each try replays it.)
    if (o.shrink && failedAt <= 5000) {
        for (const Operation& op : Sim::operations()) {
            if (shrunk.disabled.count(op.name))
                continue;
            Options t = shrunk;
            t.disabled.insert(op.name);
            Sim s(t);
            const std::string f = s.run();
            if (!f.empty()) {
                shrunk = t;
                shrunk.maxSteps = s.counts().steps;
                trail = s.trail();
                failure = f;
            }
        }
    }
    std::printf("\nReplay: site_sim --seed %llu --days %d%s --crash %d%s", (unsigned long long)o.seed, o.days,
                o.visits ? (" --visits " + std::to_string(o.visits)).c_str() : "", o.crashPercent,
                o.knownFaults ? " --known-faults" : "");
    for (const auto& d : shrunk.disabled)
        std::printf(" --disable %s", d.c_str());
    std::printf("\nFailure: %s\nThe last steps (%zu in all):\n", failure.c_str(), trail.size());
    const std::size_t from = trail.size() > 60 ? trail.size() - 60 : 0;
    for (std::size_t i = from; i < trail.size(); ++i)
        std::printf("  %zu %s\n", i + 1, trail[i].c_str());
    return 1;
}

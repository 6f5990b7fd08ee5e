// bench_mirror: a site's year mirrored into a PostgreSQL server on this
// machine.
//
//   bench_mirror [DIRECTORY]
//
// Makes a site in DIRECTORY (default $TMPDIR, else /tmp) with 365 day tables
// of 200 completed tickets (November and December in their month folders),
// 400 customers and 40 products, starts a PostgreSQL server of its own with
// its durable defaults (fsync on), and times:
//   - the first mirror of the year into an empty database;
//   - a run after one day's table changed (a ticket appended), five times;
//   - a run with nothing changed;
//   - a run that lost what it kept between runs (every table read again,
//     nothing sent).
// Everything is removed at the end.

#include "MirrorSite.h"
#include "PgServer.h"
#include "RunFigures.h"

#include "mirror/Mirror.h"
#include "mirror/Pg.h"
#include "mirror/Schema.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDays = 365;
constexpr int kPerDay = 200;
const xb::Date kFirst {2026, 1, 1};

[[noreturn]] void die(const std::string& why)
{
    std::fprintf(stderr, "bench_mirror: %s\n", why.c_str());
    std::exit(1);
}

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

xb::Date dayAt(int i) { return xb::Date::fromJulianDay(kFirst.julianDay() + i); }

void masters(const std::string& path, int layout, int count, const char* prefix)
{
    if (!catalogue::CreateTable(layout, path))
        die("cannot create " + path);
    xb::Connection c;
    xb::Table* t = c.open(path);
    for (int i = 0; i < count; ++i) {
        t->appendStart();
        t->blank();
        t->field("code_num")->assignInteger(i % 1000);
        t->field("n_ame")->assign(prefix + std::to_string(i));
        if (t->append() != xb::kSuccess)
            die("cannot append to " + path);
    }
    t->close();
}

// The wall time of a run; its processor time (this process's, not the
// server's) in `cpuMs`: on a machine busy with other work the wall time
// overstates what a run costs.
double timedRun(const mirror::Settings& s, const char* expect, double* cpuMs = nullptr)
{
    const auto start = Clock::now();
    const std::clock_t cpu = std::clock();
    const mirror::RunResult r = mirror::runMirror(s);
    const double ms = msSince(start);
    if (cpuMs)
        *cpuMs = 1000.0 * double(std::clock() - cpu) / CLOCKS_PER_SEC;
    if (r.status != 0)
        die("the mirror failed: " + (r.problems.empty() ? r.summary : r.problems[0]));
    if (r.summary.find(expect) == std::string::npos)
        die("the mirror did not do what was expected (" + std::string(expect) + "): " + r.summary);
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const std::string root = base + "/bench_mirror." + std::to_string(::getpid());

    testpg::PgServer server(true);
    if (!server.ok())
        die("no PostgreSQL server: " + server.problem());
    std::string error;
    if (!server.sql("postgres", "CREATE DATABASE hq", &error))
        die(error);
    {
        auto db = mirror::Pg::connect(server.conninfo("hq"), error);
        if (!db || !mirror::initSchema(*db).ok)
            die("the schema cannot be made: " + error);
        if (!db->script("CREATE ROLE site_bench LOGIN IN ROLE grazulo_site;"
                        "INSERT INTO grazulo.site_roles VALUES ('site_bench', 'bench')"))
            die(db->error());
    }
    const mirror::Settings s = testmirror::siteSettings(root, "bench", server.conninfo("hq", "site_bench"));

    auto start = Clock::now();
    for (int d = 0; d < kDays; ++d) {
        const xb::Date day = dayAt(d);
        if (!testmirror::writeDay(testmirror::dayPath(s.dataDir, day, day.month >= 11), day,
                                  testmirror::tickets(long(d) * kPerDay % 90000 + 1, kPerDay)))
            die("cannot write the day tables");
    }
    masters(s.dataDir + "Customer.dbf", catalogue::kCustomerLayout, 400, "CUSTOMER ");
    masters(s.dataDir + "Product.dbf", catalogue::kProductLayout, 40, "PRODUCT ");
    std::printf("made %d day tables of %d tickets (Nov and Dec in their folders) in %.1f s\n", kDays, kPerDay,
                msSince(start) / 1000);
    // A site's tables are older than the moment of a run: ones changed
    // within the last two seconds are always read again.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));

    double firstCpu = 0;
    const double first = timedRun(s, "sent 365 days (73000 tickets)", &firstCpu);
    std::printf("first mirror of the year (365 days, 73,000 tickets, 440 records): wall %.0f ms, cpu %.0f ms\n", first,
                firstCpu);

    std::vector<double> oneDay, oneDayCpu;
    for (int run = 0; run < 5; ++run) {
        const xb::Date day = dayAt(100 + run);
        xb::Connection c;
        xb::Table* t = c.open(testmirror::dayPath(s.dataDir, day));
        if (!t || t->appendStart() != xb::kSuccess)
            die("cannot change a day");
        t->blank();
        t->field("ticket")->assignInteger(99999);
        t->field("out_date")->assignDate(day);
        if (t->append() != xb::kSuccess || t->close() != xb::kSuccess)
            die("cannot change a day");
        double cpu = 0;
        oneDay.push_back(timedRun(s, "sent 1 day (201 tickets)", &cpu));
        oneDayCpu.push_back(cpu);
    }
    printRuns("a run after one day changed, wall", oneDay);
    printRuns("a run after one day changed, cpu", oneDayCpu);

    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    std::vector<double> unchanged;
    for (int run = 0; run < 5; ++run)
        unchanged.push_back(timedRun(s, "nothing to send"));
    printRuns("a run with nothing changed", unchanged);

    std::vector<double> lost;
    for (int run = 0; run < 3; ++run) {
        std::filesystem::remove(s.statePath);
        lost.push_back(timedRun(s, "nothing to send"));
    }
    printRuns("a run without mirror.state (every table read)", lost);

    std::filesystem::remove_all(root);
    return 0;
}

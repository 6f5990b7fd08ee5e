// bench_monthend: the month end and the data directory move on site-sized
// tables, durability included (every table flushed, every rename flushed).
//
//   bench_monthend [DIRECTORY]
//
// In DIRECTORY (default $TMPDIR, else /tmp): a data directory with 31 day
// tables of January 2026 of 500 tickets each, closed with the month end;
// then a customer table of 100,000 customers with its name index, moved to
// another data directory. The directories are removed at the end.

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "monthend/MonthEndArchive.h"
#include "setup/MoveData.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& why)
{
    std::fprintf(stderr, "bench_monthend: %s\n", why.c_str());
    std::exit(1);
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path base = std::filesystem::path(argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp")) /
                                 ("bench_monthend." + std::to_string(::getpid()));
    const std::string data = (base / "data").string() + "/";
    std::filesystem::create_directories(data);

    for (int day = 1; day <= 31; ++day) {
        const std::string path = catalogue::dayTablePath(data, xb::Date {2026, 1, day});
        xb::Connection c;
        xb::Table* t = c.create(path, catalogue::layoutFields(catalogue::kTicketLayout));
        if (!t)
            die("cannot create " + path);
        for (int i = 0; i < 500; ++i) {
            t->appendStart();
            t->blank();
            t->field("ticket")->assignInteger(day * 1000 + i);
            t->field("customer")->assign("CUSTOMER " + std::to_string(i % 300) + " HAULING");
            t->field("truck")->assign("T-" + std::to_string(i));
            t->field("in_time")->assign("930");
            t->field("in_wgt")->assignInteger(14020);
            t->field("complete")->assignLogical(true);
            if (t->append() != xb::kSuccess)
                die("cannot append to " + path);
        }
        if (t->close() != xb::kSuccess)
            die("cannot close " + path);
    }
    auto start = Clock::now();
    const monthend::Result r = monthend::closeMonth(data, 2026, 1);
    const double monthEnd = secondsSince(start);
    if (!r.done)
        die(r.message);
    std::printf("month end of 31 day tables x 500 tickets (%ld tickets)      %8.3f s\n", r.tickets, monthEnd);

    // The move: a program directory whose setup table names `data`.
    ::setenv("GRAZULO_HOME", base.string().c_str(), 1);
    {
        xb::Connection c;
        xb::Table* s = c.create(base.string() + "/setup.dbf", catalogue::layoutFields(catalogue::kSetupLayout));
        s->appendStart();
        s->blank();
        s->field("datapath")->assign(data);
        s->append();
        xb::Table* t = c.create(data + "customer.dbf", catalogue::layoutFields(catalogue::kCustomerLayout),
                                catalogue::layoutTags(catalogue::kCustomerLayout));
        if (!t)
            die("cannot create customer.dbf");
        for (int i = 0; i < 100000; ++i) {
            t->appendStart();
            t->blank();
            t->field("code_num")->assignInteger(i % 1000);
            t->field("n_ame")->assign("CUSTOMER " + std::to_string(i) + " HAULING");
            t->field("fax_no")->assign(std::to_string(4000000000LL + i));
            if (t->append() != xb::kSuccess)
                die("cannot append a customer");
        }
        c.closeAll();
    }
    const std::string target = (base / "moved").string();
    std::filesystem::create_directories(target);
    start = Clock::now();
    const setup::MoveResult m = setup::moveData(target, nullptr);
    const double move = secondsSince(start);
    if (!m.ok)
        die(m.message);
    std::printf("move of a 100,000-customer table with its index (%zu files) %8.3f s\n", m.moved.size(), move);
    std::filesystem::remove_all(base);
    return 0;
}

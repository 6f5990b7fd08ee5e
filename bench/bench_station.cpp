// bench_station: the station's two operations on site-sized tables.
//
//   bench_station [DIRECTORY]
//
// Makes a data directory in DIRECTORY (default $TMPDIR, else /tmp) with a
// Ticket.dbf of 5,000 open tickets and today's table of 2,000 completed
// ones, then times CheckInRecord for the first, the middle and the last open
// ticket and for a completed one of today (a reprint's look-up), and
// UpdateTables for an outbound (the append to today's table, the delete and
// the pack of Ticket.dbf, each flushed) and for a reprint under a new number
// (the append, the delete and the pack of today's table), each on another
// ticket of the middle of the table. The directory is removed at the end.

#include "RunFigures.h"
#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "station/StationStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kOpen = 5000;
constexpr int kDay = 2000;
const xb::LocalTime kAt {2026, 12, 8, 14, 5, 0};

[[noreturn]] void die(const std::string& why)
{
    std::fprintf(stderr, "bench_station: %s\n", why.c_str());
    std::exit(1);
}

void fill(const std::string& path, long first, int count, bool complete)
{
    if (!catalogue::CreateTable(catalogue::kTicketLayout, path))
        die("cannot create " + path);
    xb::Connection c;
    xb::Table* t = c.open(path);
    if (!t)
        die("cannot open " + path);
    for (int i = 0; i < count; ++i) {
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger(first + i);
        t->field("customer")->assign("CUSTOMER " + std::to_string(i % 400) + " HAULING");
        t->field("truck")->assign("T-" + std::to_string(i));
        t->field("product")->assign("PEA GRAVEL");
        t->field("in_time")->assign("730");
        t->field("in_date")->assign("20261208");
        t->field("in_wgt")->assignInteger(14020);
        t->field("complete")->assignLogical(complete);
        if (complete) {
            t->field("out_wgt")->assignInteger(8760);
            t->field("net_wgt")->assignInteger(5260);
        }
        if (t->append() != xb::kSuccess)
            die("cannot append to " + path);
    }
    if (t->close() != xb::kSuccess)
        die("cannot close " + path);
}

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    std::filesystem::path dir = std::filesystem::path(base) / ("bench_station." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string data = dir.string() + "/";
    fill(data + "Ticket.dbf", 1, kOpen, false);
    fill(data + catalogue::dayTableName(xb::Date {2026, 12, 8}), 20001, kDay, true);
    std::printf("Ticket.dbf: %d open tickets; %s: %d completed tickets\n", kOpen,
                catalogue::dayTableName(xb::Date {2026, 12, 8}).c_str(), kDay);

    station::StationTickets tickets(data);
    constexpr int kRuns = 50;
    for (auto [what, number, reprint] : {std::tuple {"CheckInRecord, first open ticket", 1L, false},
                                         std::tuple {"CheckInRecord, middle open ticket", long(kOpen / 2), false},
                                         std::tuple {"CheckInRecord, last open ticket", long(kOpen), false},
                                         std::tuple {"CheckInRecord, no such open ticket", 99999L, false},
                                         std::tuple {"CheckInRecord (reprint), last of today", 20000L + kDay, true}}) {
        std::vector<double> ms;
        for (int i = 0; i < kRuns; ++i) {
            auto start = Clock::now();
            const bool found = tickets.CheckInRecord(number, reprint, kAt).has_value();
            ms.push_back(msSince(start));
            if (found != (number != 99999L))
                die(std::string("unexpected result: ") + what);
        }
        printRuns(what, ms);
    }

    // Outbound: the middle open ticket completed, then put back.
    std::vector<double> outbound, renumber;
    for (int i = 0; i < kRuns; ++i) {
        const long n = kOpen / 2 + i;
        auto t = tickets.CheckInRecord(n, false, kAt);
        if (!t)
            die("open ticket " + std::to_string(n) + " is missing");
        station::Entry e = station::entryOf(*t);
        e.outWeight = "8760";
        station::SaveOutcome outcome {};
        auto start = Clock::now();
        tickets.UpdateTables(e, false, kAt, outcome);
        outbound.push_back(msSince(start));
        if (outcome != station::SaveOutcome::kStored)
            die("the outbound was not stored");
        // A reprint of it under a new number.
        e.newTicket = std::to_string(n + 50000 - 20000);
        start = Clock::now();
        tickets.UpdateTables(e, true, kAt, outcome);
        renumber.push_back(msSince(start));
        if (outcome != station::SaveOutcome::kStored)
            die("the reprint was not stored");
    }
    printRuns("UpdateTables, outbound (append, delete, pack)", outbound);
    printRuns("UpdateTables, reprint (append, delete, pack)", renumber);
    std::filesystem::remove_all(dir);
    return 0;
}

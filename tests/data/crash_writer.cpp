// crash_writer: appends tickets and packs in a loop until it is killed.
//
//   crash_writer TABLE --first SERIAL [--seed N] [--tags] [--max-records N] [--shared]
//
// With --shared another writer works on the same table: a deletion mark
// refused because the other packed the table since the record was read
// ends that walk over the table (the writer goes on), not the writer.
//
// The crash test starts it on a ticket table, kills it at a random moment and
// then checks the table against what it was told. Every line goes to standard
// output with one write(), so a line the test reads was written before the
// kill, whatever moment the kill came at:
//
//   R         the table is open; appends begin
//   B serial  an append of this ticket is about to begin
//   A serial  the append returned success
//   D serial  the record of this ticket is about to be marked deleted
//   P         a pack begins
//   p         the pack returned success
//
// Each record carries its serial in user_id, serial % 100000 in ticket, and
// in remarks a checksum of every other field, so a torn or mixed-up record
// shows. The writer exits 3 (with the engine's report on standard error) as
// soon as an operation of the engine fails.

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Date.h"
#include "data/Paths.h"
#if __has_include("data/Cdx.h")
#include "data/Cdx.h"
#else
#include "data/Cdx.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& why)
{
    std::fprintf(stderr, "crash_writer: %s\n", why.c_str());
    std::exit(3);
}

// One line to the test: a single write, retried only when interrupted.
void say(const std::string& line)
{
    std::string s = line + "\n";
    for (;;) {
        ssize_t w = ::write(STDOUT_FILENO, s.data(), s.size());
        if (w == ssize_t(s.size()))
            return;
        if (w < 0 && errno == EINTR)
            continue;
        die("the report to the test cannot be written");
    }
}

// The table the test works on: the ticket layout, and with `withTags` a
// production index with a numeric and a character tag.
xb::Table* openOrCreateTicketTable(xb::Connection& conn, const std::string& path, bool withTags)
{
    if (xb::fileExists(path))
        return conn.open(path);
    if (!withTags) {
        if (!catalogue::CreateTable(catalogue::kTicketLayout, path))
            return nullptr;
        return conn.open(path);
    }
    std::vector<xb::TagSpec> tags(2);
    tags[0].name = "TICKET";
    tags[0].keyExpr = "STR(ticket,5)";
    tags[1].name = "CUSTOMER";
    tags[1].keyExpr = "customer";
    return conn.create(path, catalogue::layoutFields(catalogue::kTicketLayout), tags);
}

const char* const kCustomers[] = {"ACME GRAVEL LTD", "BLUE RIVER AGGREGATES", "CASCADE CONCRETE",
                                  "ZED HAULING AND EXCAVATING SERVICES", "acme gravel ltd", "North Shore Paving",
                                  "Municipal Works Yard", "Cash Sale"};
const char* const kProducts[] = {"3/4 CRUSH", "PIT RUN", "WASHED SAND", "TOPSOIL", "RIP RAP", "ROAD BASE"};
const char* const kCarriers[] = {"OWN TRUCK", "VALLEY TRANSPORT", "K & R HAULING", ""};

struct Fields {
    xb::Field *userId, *ticket, *company, *carrier, *truck, *customer, *product, *po, *payment, *amount, *gst,
        *pst, *total, *pounds, *inTime, *inDate, *outTime, *outDate, *inWgt, *outWgt, *netWgt, *complete,
        *remarks;
};

Fields resolveFields(xb::Table* t)
{
    auto f = [t](const char* name) {
        xb::Field* p = t->field(name);
        if (!p)
            die(std::string("the table has no field ") + name);
        return p;
    };
    return Fields {f("user_id"), f("ticket"),   f("company"),  f("carrier"), f("truck"),   f("customer"),
                   f("product"), f("po"),       f("payment"),  f("amount"),  f("gst"),     f("pst"),
                   f("total"),   f("pounds"),   f("in_time"),  f("in_date"), f("out_time"), f("out_date"),
                   f("in_wgt"),  f("out_wgt"),  f("net_wgt"),  f("complete"), f("remarks")};
}

// FNV-1a over the record bytes before remarks, as 16 hex digits: what the
// test recomputes from the record it reads back.
std::string recordChecksum(const char* record, int remarksOffset)
{
    uint64_t h = 1469598103934665603ull;
    for (int i = 1; i < remarksOffset; ++i) {
        h ^= (unsigned char)record[i];
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", (unsigned long long)h);
    return buf;
}

void check(bool ok, const char* what, long long serial)
{
    if (!ok)
        die(std::string("filling ticket ") + std::to_string(serial) + ": " + what + " was refused");
}

// Fills the record being appended with ticket `serial`.
void fillTicket(xb::Table* t, const Fields& f, long long serial)
{
    const long long in = 9000 + (serial * 37) % 30000;
    const long long out = in + 4000 + (serial * 53) % 25000;
    const xb::Date inDay = xb::Date::fromJulianDay(2460000 + long(serial % 1500));
    const xb::Date outDay = xb::Date::fromJulianDay(2460000 + long(serial % 1500) + long(serial % 3 == 0));
    const double amount = double((serial * 97) % 200000) / 100.0;
    check(f.userId->assign("W" + std::to_string(serial)), "user_id", serial);
    check(f.ticket->assignInteger(serial % 100000), "ticket", serial);
    check(f.company->assign("Valley Aggregates"), "company", serial);
    check(f.carrier->assign(kCarriers[serial % 4]), "carrier", serial);
    check(f.truck->assign("TR-" + std::to_string(serial % 977)), "truck", serial);
    check(f.customer->assign(kCustomers[serial % 8]), "customer", serial);
    check(f.product->assign(kProducts[serial % 6]), "product", serial);
    check(f.po->assign(serial % 5 == 0 ? std::string() : "PO" + std::to_string(serial % 4513)), "po", serial);
    check(f.payment->assign(serial % 2 ? "ACCOUNT" : "CASH"), "payment", serial);
    check(f.amount->assignNumber(amount), "amount", serial);
    check(f.gst->assignNumber(amount * 0.05), "gst", serial);
    check(f.pst->assignNumber(amount * 0.07), "pst", serial);
    check(f.total->assignNumber(amount * 1.12), "total", serial);
    check(f.pounds->assignLogical(serial % 7 == 0), "pounds", serial);
    check(f.inTime->assignInteger(catalogue::timeToStored(int(serial % 24), int(serial % 60))), "in_time", serial);
    check(f.inDate->assignDate(inDay), "in_date", serial);
    check(f.outTime->assignInteger(catalogue::timeToStored(int((serial + 1) % 24), int((serial + 17) % 60))),
          "out_time", serial);
    check(f.outDate->assignDate(outDay), "out_date", serial);
    check(f.inWgt->assignInteger(in), "in_wgt", serial);
    check(f.outWgt->assignInteger(out), "out_wgt", serial);
    check(f.netWgt->assignInteger(out - in), "net_wgt", serial);
    check(f.complete->assignLogical(true), "complete", serial);
    check(f.remarks->assign(recordChecksum(t->recordBuffer(), f.remarks->desc().offset)), "remarks", serial);
}

long long argNumber(const char* text, const char* what)
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0)
        die(std::string("bad ") + what + ": " + text);
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string path;
    long long next = -1;
    unsigned long long seed = 1;
    bool withTags = false;
    uint32_t maxRecords = 3000;
    bool shared = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--tags")
            withTags = true;
        else if (a == "--shared")
            shared = true;
        else if (a == "--first" && i + 1 < argc)
            next = argNumber(argv[++i], "--first");
        else if (a == "--seed" && i + 1 < argc)
            seed = (unsigned long long)argNumber(argv[++i], "--seed");
        else if (a == "--max-records" && i + 1 < argc)
            maxRecords = uint32_t(argNumber(argv[++i], "--max-records"));
        else if (path.empty() && a[0] != '-')
            path = a;
        else
            die("usage: crash_writer TABLE --first SERIAL [--seed N] [--tags] [--max-records N] [--shared]");
    }
    if (path.empty() || next < 1)
        die("usage: crash_writer TABLE --first SERIAL [--seed N] [--tags] [--max-records N] [--shared]");

    xb::Connection conn;
    xb::Table* t = openOrCreateTicketTable(conn, path, withTags);
    if (!t)
        die("the table cannot be opened or created");
    const Fields f = resolveFields(t);
    std::mt19937_64 rng(seed);
    auto chance = [&rng](int inN) { return rng() % uint64_t(inN) == 0; };
    say("R");

    for (;;) {
        const int batch = 1 + int(rng() % 48);
        for (int i = 0; i < batch; ++i) {
            const long long serial = next++;
            say("B " + std::to_string(serial));
            if (t->appendStart() != xb::kSuccess)
                die("appendStart failed");
            t->blank();
            fillTicket(t, f, serial);
            if (t->append() != xb::kSuccess)
                die("append of ticket " + std::to_string(serial) + " failed");
            say("A " + std::to_string(serial));
            if (chance(20) && t->flush() != xb::kSuccess)
                die("flush failed");
        }
        if (!chance(3) && t->recCount() < maxRecords)
            continue;

        // Mark some records deleted: more of them as the table grows, so it
        // stays small enough for packs to come often.
        const int percent = t->recCount() >= maxRecords ? 50 : 5 + int(rng() % 30);
        for (int r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
            if (int(rng() % 100) >= percent)
                continue;
            say("D " + f.userId->text().substr(1));
            if (t->deleteRecord() != xb::kSuccess)
                die("delete failed");
        }
        if (!t->eof() && !shared)
            die("the walk over the table stopped before its end");
        // Now and then the marks stay unpacked: a later run then packs a
        // table that already held deleted records when it was opened.
        if (chance(4) && t->recCount() < maxRecords) {
            if (t->flush() != xb::kSuccess)
                die("flush failed");
            continue;
        }
        say("P");
        if (t->pack() != xb::kSuccess)
            die("pack failed");
        say("p");
    }
}

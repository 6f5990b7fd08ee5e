// bench_kiosk: the kiosk's two look-ups on site-sized tables.
//
//   bench_kiosk [DIRECTORY]
//
// Makes a program directory in DIRECTORY (default $TMPDIR, else /tmp) with a
// customer.dbf of 50,000 customers (with a fax_no tag when the engine writes
// indexes) and a ticket.dbf of 5,000 open tickets, then times LookupCustomer
// for cards spread over the table and for cards nobody has, and
// FindOpenTicket for the first, the middle and the last customer on site and
// for one without a ticket; and, for scale, one CompleteTicket on that table
// (an append, a delete and a pack, each flushed to the disk). The directory
// is removed at the end.

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Cdx.h"
#include "kiosk/CardLookup.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/uDB.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCustomers = 50000;
constexpr int kOpenTickets = 5000;

[[noreturn]] void die(const std::string& why)
{
    std::fprintf(stderr, "bench_kiosk: %s\n", why.c_str());
    std::exit(1);
}

std::string cardOf(int i) { return std::to_string(4000000000LL + 7919LL * i); }
std::string customerOf(int i) { return "CUSTOMER " + std::to_string(i) + " HAULING"; }

struct Timing {
    double meanMs = 0, maxMs = 0;
};

template <class F>
Timing timeEach(int n, F&& f)
{
    Timing t;
    double total = 0;
    for (int i = 0; i < n; ++i) {
        auto start = Clock::now();
        f(i);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        total += ms;
        t.maxMs = std::max(t.maxMs, ms);
    }
    t.meanMs = total / n;
    return t;
}

void show(const char* what, int n, const Timing& t)
{
    std::printf("%-52s %6d runs  mean %9.3f ms  max %9.3f ms\n", what, n, t.meanMs, t.maxMs);
}

bool makeCustomers(const std::string& path)
{
    std::vector<xb::TagSpec> tags = catalogue::layoutTags(catalogue::kCustomerLayout);
    xb::TagSpec card;
    card.name = "FAX_NO";
    card.keyExpr = "fax_no";
    tags.push_back(card);
    xb::Connection c;
    xb::Table* t = c.create(path, catalogue::layoutFields(catalogue::kCustomerLayout), tags);
    if (!t)
        return false;
    for (int i = 0; i < kCustomers; ++i) {
        t->appendStart();
        t->blank();
        t->field("code_num")->assignInteger(i % 1000);
        t->field("n_ame")->assign(customerOf(i));
        t->field("add_r")->assign("1 Quarry Road");
        t->field("fax_no")->assign(cardOf(i));
        if (t->append() != xb::kSuccess)
            return false;
    }
    bool tagged = t->tagCount() > 0 && t->selectTag("fax_no");
    t->close();
    return tagged;
}

void makeOpenTickets(const std::string& path)
{
    if (!catalogue::CreateTable(catalogue::kTicketLayout, path))
        die("ticket.dbf cannot be created");
    xb::Connection c;
    xb::Table* t = c.open(path);
    if (!t)
        die("ticket.dbf cannot be opened");
    for (int i = 0; i < kOpenTickets; ++i) {
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger(i + 1);
        t->field("truck")->assign("TRK" + std::to_string(i));
        t->field("customer")->assign(customerOf(i));
        t->field("product")->assign("GRAVEL 3/4");
        t->field("in_time")->assignInteger(930);
        t->field("in_date")->assign("20261208");
        t->field("in_wgt")->assignInteger(12000 + i);
        t->field("complete")->assignLogical(false);
        if (t->append() != xb::kSuccess)
            die("ticket.dbf: append failed");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string tmpl = (fs::path(base) / "bench_kiosk-XXXXXX").string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        die("no directory can be made in " + base);
    const std::string home = name.data();
    ::setenv("GRAZULO_HOME", home.c_str(), 1);
    fs::create_directories(fs::path(home) / "database");
    kiosk::OpenKioskData();

    auto start = Clock::now();
    bool tagged = makeCustomers(kiosk::kioskCustomerTablePath());
    std::printf("customer.dbf: %d customers, made in %.2f s; fax_no tag: %s\n", kCustomers,
                std::chrono::duration<double>(Clock::now() - start).count(),
                tagged ? "yes (look-ups seek the index)" : "no (look-ups read the table in record order)");

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> any(0, kCustomers - 1);
    int wrong = 0;
    const int lookups = 2000;
    Timing spread = timeEach(lookups, [&](int) {
        int i = any(rng);
        if (kiosk::LookupCustomer(cardOf(i)) != customerOf(i))
            ++wrong;
    });
    show("LookupCustomer, cards spread over the table", lookups, spread);
    Timing last = timeEach(200, [&](int) {
        if (kiosk::LookupCustomer(cardOf(kCustomers - 1)) != customerOf(kCustomers - 1))
            ++wrong;
    });
    show("LookupCustomer, the last customer's card", 200, last);
    Timing unknown = timeEach(200, [&](int i) {
        if (!kiosk::LookupCustomer("9" + std::to_string(i)).empty())
            ++wrong;
    });
    show("LookupCustomer, a card nobody has", 200, unknown);

    makeOpenTickets(kiosk::kioskTicketTablePath());
    std::printf("ticket.dbf: %d open tickets\n", kOpenTickets);
    struct Case {
        const char* what;
        int customer;
    } cases[] = {
        {"FindOpenTicket, the first customer on site", 0},
        {"FindOpenTicket, the middle customer", kOpenTickets / 2},
        {"FindOpenTicket, the last customer on site", kOpenTickets - 1},
        {"FindOpenTicket, a customer without a ticket", kOpenTickets + 10},
    };
    for (const auto& c : cases) {
        Timing t = timeEach(100, [&](int) {
            bool found = kiosk::FindOpenTicket(customerOf(c.customer));
            if (found != (c.customer < kOpenTickets))
                ++wrong;
        });
        show(c.what, 100, t);
    }

    kiosk::ClearTicket();
    kiosk::CurrentTicket().customer = customerOf(kOpenTickets - 1);
    if (!kiosk::FindOpenTicket(kiosk::CurrentTicket().customer))
        ++wrong;
    kiosk::CurrentTicket().out_wgt = "4000";
    Timing complete = timeEach(1, [&](int) {
        if (kiosk::CompleteTicket() != kiosk::Completion::Completed)
            ++wrong;
    });
    show("CompleteTicket of the last open ticket", 1, complete);

    kiosk::CloseKioskData();
    fs::remove_all(home);
    if (wrong) {
        std::printf("%d wrong answers\n", wrong);
        return 1;
    }
    return 0;
}

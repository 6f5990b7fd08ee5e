#include "kiosk/uDB.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/Util.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"

#include <filesystem>
#include <optional>
#include <system_error>

namespace kiosk {

namespace {

constexpr const char* kErrorCaption = "Ticket Error";
constexpr const char* kSeeOffice = "Please see the scale office.";

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

// A whole number as the weight fields (N(10,0)) can hold it.
std::optional<long long> wholeWeight(std::string_view text)
{
    std::string_view t = trimBlanks(text);
    bool negative = !t.empty() && t.front() == '-';
    if (negative)
        t.remove_prefix(1);
    if (t.empty())
        return std::nullopt;
    long long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > 9999999999LL)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (std::to_string(v).size() > 10)
        return std::nullopt;
    return v;
}

bool validTicketNo(long long n) { return n >= kFirstTicketNo && n <= kLastTicketNo; }

// Whether the record's C field holds `name` as that field would store it:
// cut to the field's width, compared without surrounding blanks, letter case
// counting. An empty name matches nothing.
bool holdsName(xb::Field* f, std::string_view name)
{
    if (!f)
        return false;
    std::string_view want = trimBlanks(name.substr(0, std::size_t(f->width())));
    return !want.empty() && f->trimmedView() == want;
}

// ticket.dbf or a day table: created with the ticket layout when missing (and
// the kiosk database directory with it).
bool ensureTicketTable(const std::string& path)
{
    if (xb::fileExists(path))
        return true;
    std::string dir = xb::directoryOf(path);
    if (!dir.empty() && !xb::directoryExists(dir) && !util::makeDir(dir))
        return false;
    return catalogue::CreateTable(catalogue::kTicketLayout, path);
}

std::string withoutTrailingSeparators(std::string p)
{
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

bool sameDirectory(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    if (a.empty() || b.empty())
        return false;
    fs::path pa = withoutTrailingSeparators(xb::resolvePath(a));
    fs::path pb = withoutTrailingSeparators(xb::resolvePath(b));
    std::error_code e1, e2;
    if (fs::is_directory(pa, e1) && fs::is_directory(pb, e2)) {
        std::error_code e;
        bool same = fs::equivalent(pa, pb, e);
        if (!e)
            return same;
    }
    fs::path ca = fs::weakly_canonical(pa, e1), cb = fs::weakly_canonical(pb, e2);
    if (e1 || e2)
        return false;
    return ca.lexically_normal() == cb.lexically_normal();
}

// The counter's value: nullopt when control.dbf is missing or has no record;
// `unreadable` when it exists but cannot be used.
std::optional<long long> readCounter(bool& unreadable)
{
    unreadable = false;
    std::string path = kioskControlTablePath();
    if (!xb::fileExists(path))
        return std::nullopt;
    KioskConnection conn;
    ScopedTable t(util::mOpen(conn.get(), path));
    xb::Field* f = t ? t->field("company") : nullptr;
    if (!f) {
        if (t)
            xb::reportError(t->path(), "the table has no field company: no ticket number can be issued");
        unreadable = true;
        return std::nullopt;
    }
    int r = t->top();
    if (r == xb::kError) {
        unreadable = true;
        return std::nullopt;
    }
    if (r != xb::kSuccess)
        return std::nullopt;
    return f->integer();
}

}  // namespace

std::string kioskTicketTablePath() { return catalogue::kioskDatabaseDir() + "ticket.dbf"; }

std::string kioskControlTablePath() { return catalogue::kioskDatabaseDir() + "control.dbf"; }

std::string kioskDayTablePath(int year, int month, int day)
{
    return catalogue::kioskDatabaseDir() + catalogue::dayTableName(xb::Date {year, month, day});
}

bool IsWholeWeight(const std::string& weight) { return wholeWeight(weight).has_value(); }

bool SharesStationCounter() { return sameDirectory(catalogue::kioskDatabaseDir(), catalogue::dataDir()); }

long NextTicketNo()
{
    bool unreadable = false;
    std::optional<long long> counter = readCounter(unreadable);
    if (unreadable)
        return -1;
    if (!counter)
        return kFirstTicketNo;
    long long c = *counter;
    if (SharesStationCounter())
        return c >= 0 && c < kLastTicketNo ? long(c + 1) : kFirstTicketNo;
    return validTicketNo(c) ? long(c) : kFirstTicketNo;
}

bool SaveNextTicketNo()
{
    long issued = CurrentTicket().ticket;
    if (!validTicketNo(issued))
        return false;
    long long store = SharesStationCounter() ? issued : (issued == kLastTicketNo ? kFirstTicketNo : issued + 1);

    std::string path = kioskControlTablePath();
    KioskConnection conn;
    ScopedTable t;
    if (xb::fileExists(path)) {
        t.reset(util::mOpen(conn.get(), path));
    } else {
        std::string dir = xb::directoryOf(path);
        if (!xb::directoryExists(dir) && !util::makeDir(dir))
            return false;
        t.reset(conn.get()->create(path, {{"company", 'N', 10, 0}}));
    }
    if (!t)
        return false;
    if (!t->field("company")) {
        xb::reportError(t->path(), "the table has no field company: the ticket number was not kept");
        return false;
    }
    int r = t->top();
    if (r == xb::kError)
        return false;
    if (r == xb::kSuccess) {
        if (!util::ireplace(t.get(), "company", store))
            return false;
    } else {
        if (t->appendStart() != xb::kSuccess)
            return false;
        t->blank();
        if (!util::ireplace(t.get(), "company", store) || t->append() != xb::kSuccess)
            return false;
    }
    return t.close() == xb::kSuccess;
}

bool FindOpenTicket(const std::string& customer)
{
    std::string path = kioskTicketTablePath();
    if (!ensureTicketTable(path))
        return false;
    KioskConnection conn;
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return false;
    xb::Field* name = t->field("customer");
    xb::Field* complete = t->field("complete");
    if (!name)
        return false;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
        if (!holdsName(name, customer) || (complete && complete->isTrue()))
            continue;
        Ticket& cur = CurrentTicket();
        cur.truck = util::fetch(t.get(), "truck");
        cur.ticket = long(util::ifetch(t.get(), "ticket"));
        cur.in_wgt = std::to_string(util::ifetch(t.get(), "in_wgt"));
        return true;
    }
    return false;
}

bool AddInboundTicket()
{
    Ticket& cur = CurrentTicket();
    std::optional<long long> inWeight = wholeWeight(cur.in_wgt);
    if (!inWeight || !validTicketNo(cur.ticket))
        return false;

    auto refuse = [] {
        dialogs::ShowMsgBox(kErrorCaption, "The ticket could not be stored.", kSeeOffice, dialogs::kError,
                            dialogs::kOk);
        return false;
    };
    std::string path = kioskTicketTablePath();
    if (!ensureTicketTable(path))
        return refuse();
    KioskConnection conn;
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return refuse();
    xb::LocalTime at = xb::now();
    if (t->appendStart() != xb::kSuccess)
        return refuse();
    t->blank();
    xb::Table* tt = t.get();
    bool ok = util::ireplace(tt, "ticket", cur.ticket) &&
              util::ireplace(tt, "in_time", catalogue::timeToStored(at.hour, at.minute)) &&
              util::replace(tt, "in_date", xb::Date {at.year, at.month, at.day}.text()) &&
              util::ireplace(tt, "in_wgt", *inWeight) && util::replace(tt, "truck", cur.truck) &&
              util::replace(tt, "customer", cur.customer) && util::replace(tt, "product", cur.product) &&
              util::treplace(tt, "complete", false);
    if (!ok || t->append() != xb::kSuccess)
        return refuse();
    // The record is in the table; a failure to flush it to the disk has been
    // reported by the engine, and the ticket is there for the outbound visit.
    t.close();
    return true;
}

namespace {

// Copies a field of the open ticket into the completed one: byte for byte
// when both fields are alike, so whatever the open ticket holds is kept.
bool copyField(xb::Table* from, xb::Table* to, const char* name)
{
    xb::Field* s = from->field(name);
    xb::Field* d = to->field(name);
    if (!s || !d)
        return true;  // nothing to copy, or nowhere to copy it: stays blank
    if (s->type() == d->type() && s->width() == d->width() && s->decimals() == d->decimals()) {
        d->assignRaw(s->raw());
        return true;
    }
    return d->assign(s->text());
}

// Takes back a record just appended to a day table: marked deleted and on
// the disk. False when even that failed.
bool takeBack(xb::Table* day, uint32_t recno)
{
    return day->go(recno) == xb::kSuccess && day->deleteRecord() == xb::kSuccess && day->flush() == xb::kSuccess;
}

}  // namespace

Completion CompleteTicket()
{
    Ticket& cur = CurrentTicket();
    if (!validTicketNo(cur.ticket) || trimBlanks(cur.customer).empty())
        return Completion::NotFound;
    std::optional<long long> outWeight = wholeWeight(cur.out_wgt);
    if (!outWeight)
        return Completion::BadWeight;

    auto notSaved = [] {
        dialogs::ShowMsgBox(kErrorCaption, "The ticket could not be completed; it stays open.", kSeeOffice,
                            dialogs::kError, dialogs::kOk);
        return Completion::NotSaved;
    };

    // One moment for the whole completion: the time, the date and the day
    // table agree even at midnight.
    const xb::LocalTime at = xb::now();

    std::string openPath = kioskTicketTablePath();
    if (!ensureTicketTable(openPath))
        return Completion::NotFound;
    KioskConnection conn;
    ScopedTable open(util::mOpen(conn.get(), openPath));
    if (!open)
        return Completion::NotFound;
    xb::Field* number = open->field("ticket");
    xb::Field* name = open->field("customer");
    xb::Field* complete = open->field("complete");
    uint32_t found = 0;
    if (number && name) {
        for (int r = open->top(); r == xb::kSuccess; r = open->skip(1))
            if (number->integer() == cur.ticket && holdsName(name, cur.customer) && !(complete && complete->isTrue())) {
                found = open->recNo();
                break;
            }
    }
    if (!found) {
        if (!open->readOnly())
            open->pack();
        return Completion::NotFound;
    }
    if (open->readOnly()) {
        xb::reportError(open->path(), "the table is read-only: the open ticket cannot be removed");
        return notSaved();
    }

    cur.product = util::fetch(open.get(), "product");
    cur.in_time = util::fetch(open.get(), "in_time");
    cur.in_date = util::fetch(open.get(), "in_date");
    cur.out_time = at;
    cur.out_date = at;

    std::optional<long long> inWeight = wholeWeight(cur.in_wgt);
    if (!inWeight)
        inWeight = util::ifetch(open.get(), "in_wgt");
    std::optional<long long> net = wholeWeight(cur.net_wgt);
    if (!net)
        net = *inWeight > *outWeight ? *inWeight - *outWeight : *outWeight - *inWeight;

    // The completed ticket reaches the day table, and the disk, first.
    std::string dayPath = kioskDayTablePath(at.year, at.month, at.day);
    if (!ensureTicketTable(dayPath))
        return notSaved();
    ScopedTable day(util::mOpen(conn.get(), dayPath));
    if (!day || day->appendStart() != xb::kSuccess)
        return notSaved();
    day->blank();
    xb::Table* d = day.get();
    bool ok = util::ireplace(d, "ticket", cur.ticket) && util::replace(d, "truck", cur.truck) &&
              util::replace(d, "customer", cur.customer) && copyField(open.get(), d, "product") &&
              copyField(open.get(), d, "in_time") && copyField(open.get(), d, "in_date") &&
              util::ireplace(d, "out_time", catalogue::timeToStored(at.hour, at.minute)) &&
              util::replace(d, "out_date", xb::Date {at.year, at.month, at.day}.text()) &&
              util::ireplace(d, "in_wgt", *inWeight) && util::ireplace(d, "out_wgt", *outWeight) &&
              util::ireplace(d, "net_wgt", *net) && util::treplace(d, "complete", true);
    if (!ok || day->append() != xb::kSuccess)
        return notSaved();
    const uint32_t appended = day->recNo();
    if (day->flush() != xb::kSuccess) {
        takeBack(d, appended);
        return notSaved();
    }

    // Only then is the open ticket removed.
    if (open->go(found) != xb::kSuccess || open->deleteRecord() != xb::kSuccess || open->flush() != xb::kSuccess) {
        if (takeBack(d, appended))
            return notSaved();
        dialogs::ShowMsgBox(kErrorCaption, "The ticket was completed but is still listed as open.", kSeeOffice,
                            dialogs::kError, dialogs::kOk);
        return Completion::LeftOpen;
    }
    // The deletion is on the disk; a pack that fails leaves the record marked
    // deleted, which every reader passes over, and the next pack removes it.
    open->pack();
    return Completion::Completed;
}

bool LoadProducts(std::vector<std::string>& list)
{
    std::string path = catalogue::kioskDatabaseDir() + "product.dbf";
    if (!xb::fileExists(path))
        return false;
    KioskConnection conn;
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return false;
    xb::Field* name = t->field("n_ame");
    if (!name)
        return false;
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1))
        list.push_back(name->text());
    return r != xb::kError;
}

}  // namespace kiosk

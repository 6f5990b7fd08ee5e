#include "kiosk/uDB.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/Util.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "data/TicketStore.h"
#include "data/TicketValues.h"

#include <optional>

namespace kiosk {

namespace {

constexpr const char* kErrorCaption = "Ticket Error";
constexpr const char* kSeeOffice = "Please see the scale office.";

// The kiosk's store: its database directory, through the kiosk connection.
// The counter holds the next number to issue, unless the directory is the
// station's data directory too: then it holds the last number issued, as the
// station keeps it.
store::TicketStore kioskStore()
{
    return store::TicketStore(catalogue::kioskDatabaseDir(),
                              SharesStationCounter() ? store::CounterMeaning::kLastIssued
                                                     : store::CounterMeaning::kNextToIssue,
                              {"ticket.dbf", "control.dbf"}, KioskSettings().connection);
}

}  // namespace

std::string kioskTicketTablePath() { return catalogue::kioskDatabaseDir() + "ticket.dbf"; }

std::string kioskControlTablePath() { return catalogue::kioskDatabaseDir() + "control.dbf"; }

std::string kioskDayTablePath(int year, int month, int day)
{
    return catalogue::kioskDatabaseDir() + catalogue::dayTableName(xb::Date {year, month, day});
}

bool IsWholeWeight(const std::string& weight) { return values::wholeWeight(weight).has_value(); }

bool SharesStationCounter() { return store::sameDirectory(catalogue::kioskDatabaseDir(), catalogue::dataDir()); }

long NextTicketNo() { return kioskStore().nextNumber().value_or(-1); }

bool SaveNextTicketNo() { return kioskStore().recordIssued(CurrentTicket().ticket); }

long IssueTicketNo() { return kioskStore().issueNumber().value_or(-1); }

bool FindOpenTicket(const std::string& customer) { return LookUpOpenTicket(customer) == OpenTicket::kFound; }

OpenTicket LookUpOpenTicket(const std::string& customer)
{
    const store::TicketStore::OpenLookup open = kioskStore().lookUpOpenFor(customer);
    // A ticket whose first weight cannot be read is no ticket to weigh out:
    // taken for 0 it would show the whole truck as net.
    if (!open.readable || (open.ticket && !open.weightsReadable))
        return OpenTicket::kUnreadable;
    if (!open.ticket)
        return OpenTicket::kNone;
    Ticket& cur = CurrentTicket();
    cur.truck = open.ticket->truck;
    cur.ticket = open.ticket->ticket;
    cur.in_wgt = std::to_string(open.ticket->inWeight);
    return OpenTicket::kFound;
}

bool AddInboundTicket()
{
    Ticket& cur = CurrentTicket();
    std::optional<long long> inWeight = values::wholeWeight(cur.in_wgt);
    if (!inWeight || !store::validTicketNo(cur.ticket) || values::trim(cur.customer).empty() ||
        values::trim(cur.truck).empty())
        return false;
    store::TicketRecord t;
    t.ticket = cur.ticket;
    t.truck = cur.truck;
    t.customer = cur.customer;
    t.product = cur.product;
    t.inWeight = *inWeight;
    return kioskStore().addOpen(t, xb::now(), false).outcome == store::Outcome::kDone;
}

Completion CompleteTicket()
{
    Ticket& cur = CurrentTicket();
    if (!store::validTicketNo(cur.ticket) || values::trim(cur.customer).empty())
        return Completion::NotFound;
    std::optional<long long> outWeight = values::wholeWeight(cur.out_wgt);
    if (!outWeight)
        return Completion::BadWeight;

    // One moment for the whole completion: the time, the date and the day
    // table agree even at midnight.
    const xb::LocalTime at = xb::now();
    store::CompletedValues v;
    v.truck = cur.truck;
    v.customer = cur.customer;
    v.inWeight = values::wholeWeight(cur.in_wgt);  // the open ticket's own when not a weight
    v.outWeight = *outWeight;
    store::MoveResult r = kioskStore().complete(cur.ticket, cur.customer, v, at);
    switch (r.outcome) {
    case store::Outcome::kDone:
    case store::Outcome::kLeftBehind:
        cur.product = r.stored.product;
        cur.in_time = r.stored.inTime;
        cur.in_date = r.stored.inDate;
        cur.net_wgt = std::to_string(r.stored.netWeight);
        cur.out_time = at;
        cur.out_date = at;
        if (r.outcome == store::Outcome::kDone)
            return Completion::Completed;
        dialogs::ShowMsgBox(kErrorCaption, "The ticket was completed but is still listed as open.", kSeeOffice,
                            dialogs::kError, dialogs::kOk);
        return Completion::LeftOpen;
    case store::Outcome::kBadValue: return Completion::BadWeight;
    case store::Outcome::kNotFound: return Completion::NotFound;
    default:
        dialogs::ShowMsgBox(kErrorCaption, "The ticket could not be completed; it stays open.", kSeeOffice,
                            dialogs::kError, dialogs::kOk);
        return Completion::NotSaved;
    }
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

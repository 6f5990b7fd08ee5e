#pragma once
// The kiosk's face of the ticket store (store::TicketStore), in the kiosk
// database directory (catalogue::kioskDatabaseDir()):
//
//   control.dbf   the ticket counter (first record, numeric field company)
//   ticket.dbf    open tickets: first weighing only, complete false
//   mmmddyy.dbf   the tickets completed that day, complete true
//   product.dbf   the materials offered on the material screen
//
// Every operation works through the kiosk connection: it opens its tables,
// works and closes them; nothing stays open between operations. Values come
// from and go to CurrentTicket. Times are stored as the number hhmm (9:30 is
// 930), dates as yyyymmdd; ticket.dbf and the day tables are created with the
// ticket layout when missing.
//
// Numbering. The counter has two meanings:
//   - the kiosk's own directory: company holds the NEXT number to issue;
//   - when the kiosk database directory is the station's data directory (the
//     same directory, however the two paths are written), company holds the
//     LAST number issued, as the station keeps it; the kiosk then issues
//     company + 1 and stores the number it issued, so the two faces never
//     issue one number twice.
// Numbers run from 1 to 99999 (the width of the ticket field); after 99999
// numbering starts again at 1. A missing control.dbf, or one without a
// record, starts numbering at 1; SaveNextTicketNo creates the file or its
// first record.
//
// An inbound visit calls IssueTicketNo, which keeps the number in the
// counter before anything is stored under it, then AddInboundTicket; an
// outbound visit LookUpOpenTicket, then CompleteTicket. (NextTicketNo and
// SaveNextTicketNo are the two halves of IssueTicketNo without the skip of
// numbers in use.)

#include "data/TicketStore.h"

#include <string>
#include <vector>

namespace kiosk {

constexpr long kFirstTicketNo = store::kFirstTicketNo;
constexpr long kLastTicketNo = store::kLastTicketNo;

// The number the next inbound ticket gets (1 to 99999). -1 when control.dbf
// exists but cannot be read or has no company field (reported by the
// engine): no number can be issued without the counter being kept, and
// AddInboundTicket refuses -1.
long NextTicketNo();

// Advances the counter past CurrentTicket.ticket (stores ticket + 1, or the
// ticket itself when the counter is shared with the station). False, with
// nothing stored, when CurrentTicket.ticket is not a ticket number or the
// counter cannot be written (reported).
bool SaveNextTicketNo();

// The number of the inbound ticket about to be stored, kept in the counter
// first: the first number from NextTicketNo on that no open ticket holds
// (the station numbers from the same counter when the directories are one),
// stored as issued, all under the counter's record lock. -1 when the counter
// cannot be read (a number that is no number included) or written, or the
// open tickets cannot be read (reported in the log): no ticket is then
// stored under a number the counter did not keep. A number is used up even
// when the ticket then cannot be stored.
long IssueTicketNo();

// True when the kiosk database directory and the station's data directory
// (datapath of setup.dbf) are one directory, so control.dbf is the station's
// counter.
bool SharesStationCounter();

// Looks for the customer's open ticket: the first record of ticket.dbf, in
// record order, whose customer is `customer` exactly (letter case counts) and
// whose complete is false. When found, sets CurrentTicket truck, ticket and
// in_wgt (as a whole number: "001234" is stored and given as "1234").
bool FindOpenTicket(const std::string& customer);

// The same look-up, telling an open-ticket table that cannot be read (a
// table cut short inside a record, one that is not a table, a move left half
// done that cannot be settled, or the customer's ticket with a weight that
// is not a number) from one without the customer's ticket. Reported in the
// log; the visit must stop, as a new inbound ticket would
// pass over the truck's first weighing.
enum class OpenTicket { kNone, kFound, kUnreadable };
OpenTicket LookUpOpenTicket(const std::string& customer);

// Appends CurrentTicket as an open ticket: ticket, truck, customer, product,
// in_time and in_date (now), in_wgt, complete false.
//
// The in weight must be a whole number ("1234", "001234", "-20"). Anything
// else — empty, a lone "-" or other debris of a garbled scale frame — is
// refused: nothing is stored and the result is false, without a message.
// The caller then treats the touch as it treats an empty weight (the screen
// stays, the counter is not advanced; check IsWholeWeight first to tell the
// two apart). A ticket number outside 1..99999 is refused the same way.
// So is a ticket without a customer or a plate (no visit stores one).
// A table that cannot be written gives false (reported in the log); the
// caller tells the driver, and must not call SaveNextTicketNo then.
bool AddInboundTicket();

// True for a weight text the ticket tables can hold as a whole number:
// blanks around it, one optional leading '-', then digits, whose value fits
// the ten places of the weight fields.
bool IsWholeWeight(const std::string& weight);

enum class Completion {
    Completed,  // appended to the day table and removed from ticket.dbf
    NotFound,   // no open ticket of this customer has that number: nothing stored
    BadWeight,  // the out weight is not a whole number: nothing stored, the ticket stays open
    NotSaved,   // the day table could not take the ticket: it stays open (reported)
    LeftOpen,   // stored in the day table, but it could not be removed from ticket.dbf (reported);
                // the next operation of the store removes it
};

// Completes the open ticket FindOpenTicket found: the first record of
// ticket.dbf, in record order, with number CurrentTicket.ticket, customer
// CurrentTicket.customer and complete false. Fills CurrentTicket product,
// in_time and in_date (as stored) from it, and out_time and out_date with
// now; appends the completed ticket to the day table of now (the table of the
// new day just after midnight; in_date keeps the first weighing's date); then
// removes the open ticket and packs ticket.dbf. The day table's record is
// written to the disk before the open ticket is touched, so a failure at any
// point leaves the ticket in one table or the other, never in neither, and
// a move cut short by a crash is finished by the next operation.
// The caller prints only for Completed and LeftOpen.
Completion CompleteTicket();

// Appends the n_ame of every record of product.dbf, in record order, to
// `list` (trimmed). False when product.dbf is missing or unreadable.
bool LoadProducts(std::vector<std::string>& list);

// File names of the store, in the kiosk database directory.
std::string kioskTicketTablePath();
std::string kioskControlTablePath();
std::string kioskDayTablePath(int year, int month, int day);

}  // namespace kiosk

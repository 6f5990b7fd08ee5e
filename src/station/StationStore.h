#pragma once
// The station's logic without a window: its settings from setup.dbf, its
// face of the ticket store in the data directory, the housekeeping of the
// clock and the company name of the title.
//
// The data directory holds
//   Control.dbf   the counter: the number of the LAST ticket issued
//   Ticket.dbf    open tickets (first weighing only)
//   mmmddyy.dbf   the tickets completed that day
// and the same store code the kiosk uses works on them, so when the kiosk's
// database directory is the data directory both faces number, find and
// complete tickets in one way.

#include "data/Clock.h"
#include "data/TicketStore.h"

#include <optional>
#include <string>
#include <vector>

namespace station {

// ---- settings ----

struct StationSettings {
    int printerPort = 0;  // prtport
    int modemPort = 0;    // modemport (kept; nothing else uses it)
    std::string dataDir;  // datapath with its trailing separator, or empty
    // A datapath that names no directory of this computer (a drive letter
    // of an older installation's setup table), as stored: dataDir is then
    // empty and nothing is stored through it.
    std::string foreignDataPath;
};

struct SettingsResult {
    std::optional<StationSettings> settings;
    std::string error;  // why the settings could not be read, for the operator
};

// The first record of setup.dbf in the program directory: prtport and
// modemport must be whole numbers; datapath may be blank, and one with a
// drive letter is kept apart (foreignDataPath). A missing table or
// record, or a port that is empty or no whole number, gives the error.
SettingsResult readStationSettings();

// ---- the ticket on the screen ----

// The entry area's values as the operator sees them: the weights as typed or
// read, the in time as its stored digits ("930"), the in date as shown
// (mm/dd/yyyy). What the store takes of them is said at each operation;
// the rest is the ticket's own.
struct Entry {
    std::string ticket;
    std::string newTicket;  // reprint only
    std::string customer;
    std::string product;
    std::string truck;
    std::string remarks;
    std::string inTime;
    std::string inDate;
    std::string inWeight;
    std::string outWeight;
};

// A ticket loaded back into the screen.
Entry entryOf(const store::TicketRecord& t);

enum class SaveOutcome {
    kStored,       // stored (a completed ticket then prints)
    kBadNumber,    // the ticket or new ticket number is no ticket number
    kBadWeight,    // a weight is no whole number of kilograms
    kNotFound,     // the ticket to complete or renumber is not there any more
    kNumberInUse,  // reprint: the new number is another ticket's of today
    kNumberOpen,   // reprint: the new number is an open ticket's
    kNoCounter,    // inbound: the counter cannot be read or kept: no number issued
    kOpenCutShort, // the open-ticket table is cut short inside a record: left as it is (reported)
    kNotSaved,     // a table could not take it: nothing changed (reported)
    kLeftBehind,   // stored, but the old record could not be removed yet
};

struct InboundSaved {
    SaveOutcome outcome = SaveOutcome::kNotSaved;
    long number = 0;  // the number the open ticket was stored under
};

// A text of the entry that a ticket table cannot hold: which one, and the
// message naming the character and the table.
enum class EntryText { kCustomer, kProduct, kTruck, kRemarks };
struct RefusedText {
    EntryText text = EntryText::kCustomer;
    std::string message;
};

class StationTickets {
public:
    explicit StationTickets(std::string dataDir);

    store::TicketStore& store() { return store_; }

    // The number the next inbound ticket gets: the counter plus one, passed
    // on to the first number that no open ticket and no ticket of the day of
    // `at` holds (a reprint may have filed one under a number the counter
    // had not issued yet). Nothing when the counter exists but cannot be
    // read.
    std::optional<long> GetTicketNo(const xb::LocalTime& at = xb::now());
    // Keeps the counter after `number` was issued.
    bool UpdateControlTable(long number);
    // Stores the inbound ticket on the screen (customer, product, plate,
    // remarks, in weight) as an open ticket, stamped with `at`, under the
    // number the counter issues now (GetTicketNo: the number on the screen
    // may be out of date), given back. The counter is kept first: no number
    // is issued that the counter does not record (kNoCounter, nothing
    // stored). A weight below zero is no weight (kBadWeight).
    InboundSaved UpdateTempTable(const Entry& e, const xb::LocalTime& at);
    // The open ticket `number`, or in reprint mode the ticket of the day of
    // `at` with that number.
    std::optional<store::TicketRecord> CheckInRecord(long number, bool reprint, const xb::LocalTime& at);
    // Outbound: completes the open ticket `ticket` at `at` with the
    // screen's customer, product, plate, remarks and out weight; its in
    // weight, time and date are the open ticket's own. Reprint: files
    // today's ticket `ticket` under `newTicket`, as it is. The ticket is on
    // the disk before this returns kStored; the result's record is the
    // ticket as stored. An out weight below zero is no weight (kBadWeight).
    // An open-ticket table cut short inside a record is neither written nor
    // numbered from (kOpenCutShort, for inbound and outbound alike).
    store::MoveResult UpdateTables(const Entry& e, bool reprint, const xb::LocalTime& at, SaveOutcome& outcome);
    // The first of the customer, product, plate and remarks with a
    // character the code page of Ticket.dbf cannot hold, or (completing)
    // that of the day table of `at` when it exists: nothing is stored
    // with it, never a '?' in its place. Nothing when each can be stored.
    std::optional<RefusedText> refusedText(const Entry& e, bool completing, const xb::LocalTime& at);

private:
    // False, reported, when the open-ticket table's header counts a record
    // the file holds only in part: writing on would lose that ticket.
    bool openTableWhole();
    store::TicketStore store_;
};

// A ticket number as typed: 1 to 99999, else nothing.
std::optional<long> ticketNumber(const std::string& text);

// ---- the clock's housekeeping ----

// The files the purge of `now` removes: HS_data/HS_<mmmddyy>.dbf of the
// days 14 to 20 before it, in the data directory.
std::vector<std::string> purgeFiles(const std::string& dataDir, const xb::LocalTime& now);
// Removes those of them that exist; gives how many were removed.
int purgeOldFiles(const std::string& dataDir, const xb::LocalTime& now);

// Whether the clock passed 00:00:00 or 12:00:00 between two ticks (after
// `before`, up to and including `now`). A tick that lands on the moment
// itself counts; a clock set back counts nothing.
bool crossesPurgeMoment(const xb::LocalTime& before, const xb::LocalTime& now);

// ---- the title ----

// n_ame of the first record of Company.dbf in the data directory, trimmed;
// empty when there is none.
std::string GetCompanyName(const std::string& dataDir);

}  // namespace station

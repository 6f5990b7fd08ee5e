#pragma once
// The tickets of one directory: their numbers, the open tickets (first
// weighing only) and the day tables of the completed ones. The kiosk keeps
// one store in its database directory, the station one in its data
// directory; when the two directories are one, both faces work on the same
// files through this one piece of code.
//
//   counter table   first record, numeric field company: the ticket counter
//   open table      open tickets, ticket layout, complete false
//   mmmddyy.dbf     the tickets completed that day, complete true
//
// Every operation opens its tables, works and closes them; nothing stays open
// between operations. Nothing here shows a message: failures of the tables
// have been reported by the engine, and each operation gives an outcome for
// its caller to word.
//
// Numbers run from 1 to 99999 (the width of the ticket field); after 99999
// numbering starts again at 1. The counter holds either the next number to
// issue (the kiosk's own directory) or the last number issued (the station's
// data directory, and the kiosk's when it is the same directory).
//
// Moving a ticket between tables (completing it, renumbering it) is recorded
// first in a small file beside the tables (tickets.pending). A process that
// dies in the middle of a move leaves that record behind, and the next
// operation of any store on that directory finishes or undoes the move
// before it does anything else, so a ticket is never in both tables, nor in
// neither.

#include "data/Clock.h"
#include "data/CodeBase.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace store {

constexpr long kFirstTicketNo = 1;
constexpr long kLastTicketNo = 99999;
bool validTicketNo(long long n);
// The number after n: n + 1, and 1 after 99999.
long following(long n);

enum class CounterMeaning {
    kNextToIssue,  // company is the number the next ticket gets
    kLastIssued,   // company is the number of the last ticket issued
};

struct StoreFiles {
    std::string openTable = "ticket.dbf";
    std::string counterTable = "control.dbf";
};

// A ticket as the ticket tables hold it. Texts are the field texts without
// the blanks around them; times the stored number hhmm as text ("930"),
// dates yyyymmdd.
struct TicketRecord {
    long ticket = 0;
    std::string truck;
    std::string customer;
    std::string product;
    std::string remarks;
    std::string inTime;
    std::string inDate;
    std::string outTime;
    std::string outDate;
    long long inWeight = 0;
    long long outWeight = 0;
    long long netWeight = 0;
    bool complete = false;
    uint32_t recno = 0;  // where it was found
};

enum class Outcome {
    kDone,         // stored (and, for a move, removed from where it was)
    kNotFound,     // no such ticket: nothing stored
    kBadValue,     // a weight or number the tables cannot hold: nothing stored
    kNumberInUse,  // another ticket holds the number asked for: nothing stored
    kNotSaved,     // a table could not take the ticket: it stays where it was (reported);
                   // or, for a move, the tables could not even be read to tell: the
                   // next operation of the store finishes or undoes the move
    kLeftBehind,   // stored, but its old record could not be removed (reported);
                   // the next operation of the store removes it
};

// What a completed ticket is to hold. The open ticket's own values are
// taken for every field left empty here. There is no net to give: the store
// writes net_wgt as |in_wgt - out_wgt| of the weights it stores, so no
// ticket can carry a net that disagrees with its weights.
struct CompletedValues {
    std::optional<std::string> truck;
    std::optional<std::string> customer;
    std::optional<std::string> product;
    std::optional<std::string> remarks;
    std::optional<std::string> inTime;  // stored form, "930"
    std::optional<std::string> inDate;  // yyyymmdd
    std::optional<long long> inWeight;
    long long outWeight = 0;
};

struct MoveResult {
    Outcome outcome = Outcome::kNotFound;
    TicketRecord stored;  // the completed ticket as written (for kDone and kLeftBehind)
};

class TicketStore {
public:
    // `directory` with or without its trailing separator. `connection` is
    // the connection to work in; null gives each operation one of its own.
    TicketStore(std::string directory, CounterMeaning meaning, StoreFiles files = {},
                xb::Connection* connection = nullptr);

    const std::string& directory() const { return dir_; }
    std::string openTablePath() const;
    std::string counterTablePath() const;
    std::string dayTablePath(const xb::Date& day) const;
    std::string pendingPath() const;

    // ---- numbering ----

    // The number the next ticket gets: by the counter's meaning, 1 when the
    // counter table or its record is missing, blank or holds no ticket
    // number. Nothing when the counter table exists but cannot be read, or
    // its field holds something that is not a number (reported): no number
    // can be issued without the counter being kept.
    std::optional<long> nextNumber();
    // Issues a number: under the counter's record lock, from its read to its
    // write, the counter is read, the first number from the one it gives
    // that no open ticket holds is taken, and the counter is kept after it
    // (created when missing). Another program that honours the lock never
    // sees the counter go back, and no number is issued twice. Nothing, with
    // the counter as it was, when it cannot be read or written (reported).
    std::optional<long> issueNumber();
    // The first number from `from` on, wrapping after 99999, that no open
    // ticket holds; `from` itself when the open table cannot be read.
    long firstFreeNumber(long from);
    // The same, but nothing when the open table cannot be read.
    std::optional<long> freeNumber(long from);
    // Keeps the counter after `issued` was given out (stores issued, or the
    // number following it); creates the table or its record when missing.
    // False, with nothing stored, for a number that is no ticket number or a
    // counter that cannot be written (reported).
    // A number behind the one the counter holds (another lane issued
    // later ones meanwhile) leaves the counter as it is.
    bool recordIssued(long issued);

    // ---- open tickets ----

    // The first open ticket of `customer` in record order: the customer
    // field equal to the name as the field would hold it (cut to its width,
    // without blanks around it, letter case counting), complete false. The
    // open table is created when missing.
    std::optional<TicketRecord> findOpenFor(const std::string& customer);
    // The same, telling a table that could not be read from one without the
    // customer's ticket: `readable` is false when a move left half done
    // cannot be settled, the open table cannot be created, opened or read to
    // its end, or the table is cut short inside a record its header counts
    // (reported; the table is left as it is, for dbftool check to show).
    // A ticket found whose weights are not numbers (another program's, or
    // damaged) has `weightsReadable` false (reported): its in_wgt is no
    // first weighing to weigh out against.
    struct OpenLookup {
        bool readable = true;
        std::optional<TicketRecord> ticket;
        bool weightsReadable = true;
    };
    OpenLookup lookUpOpenFor(const std::string& customer);
    // Every open ticket in record order; none when the open table is missing.
    std::vector<TicketRecord> openTickets();
    // The first open ticket with this number; nothing when the open table is
    // missing.
    std::optional<TicketRecord> findOpen(long number);
    // The first ticket of the day's table with this number; nothing when the
    // table is missing.
    std::optional<TicketRecord> findCompleted(const xb::Date& day, long number);

    // Appends an open ticket: ticket, truck, customer, product, remarks,
    // in_time and in_date of `at`, in_wgt, complete false. With
    // `avoidNumbersInUse`, a number another open ticket holds is not used
    // twice: the ticket gets the first free number after it. Gives the
    // number stored, or nothing (kBadValue for a number or weight the table
    // cannot hold, kNotSaved for a table that cannot be written).
    struct AddResult {
        Outcome outcome = Outcome::kNotSaved;
        long number = 0;
    };
    AddResult addOpen(const TicketRecord& ticket, const xb::LocalTime& at, bool avoidNumbersInUse);

    // ---- moves ----

    // Completes the open ticket `number` (of `customer` when one is given):
    // appends the completed ticket to the day table of `at` (out_time and
    // out_date of `at`) and removes the open one, then packs the open table.
    // The completed ticket reaches the disk before the open one is touched.
    MoveResult complete(long number, const std::optional<std::string>& customer, const CompletedValues& values,
                        const xb::LocalTime& at);

    // Files a completed ticket of the day of `at` under another number: a
    // copy of it, with every value and both weighings' times as they are
    // (the net written again from its weights), is appended under
    // `newNumber`, the record under `oldNumber` removed, the day table
    // packed. `newNumber` may equal `oldNumber`; a number another ticket of
    // the day or an open ticket holds is refused (kNumberInUse).
    MoveResult renumber(long oldNumber, long newNumber, const xb::LocalTime& at);

    // Finishes a move a dead process left half done (see above). Every
    // operation calls it first; false when a move is pending and could not
    // be finished (reported).
    bool recoverPending();

private:
    std::string path(const std::string& name) const;
    // The number a counter value gives the next ticket, by its meaning.
    long numberAfter(const std::optional<long long>& counter) const;
    // Opens (or creates) the counter, locks its record, reads it and keeps
    // it after the number `issue` gives for what was read; false, with the
    // counter as it was, when it cannot be read or written or `issue` gives
    // nothing.
    bool keepCounter(const std::function<std::optional<long>(const std::optional<long long>&)>& issue);
    std::string dir_;
    CounterMeaning meaning_;
    StoreFiles files_;
    xb::Connection* connection_;
};

// A connection for one operation: the one given, or a new one ended with it.
class OperationConnection {
public:
    explicit OperationConnection(xb::Connection* given);
    ~OperationConnection();
    OperationConnection(const OperationConnection&) = delete;
    OperationConnection& operator=(const OperationConnection&) = delete;
    xb::Connection* get() const { return connection_; }

private:
    xb::Connection* connection_;
    bool own_;
};

// A table opened for one operation, closed when the operation leaves it (on
// every path), so a long-lived connection never keeps a table.
class ScopedTable {
public:
    explicit ScopedTable(xb::Table* table = nullptr) : table_(table) {}
    ~ScopedTable() { close(); }
    ScopedTable(const ScopedTable&) = delete;
    ScopedTable& operator=(const ScopedTable&) = delete;
    void reset(xb::Table* table)
    {
        close();
        table_ = table;
    }
    // Flushes and closes; the engine's result (kSuccess when all reached the disk).
    int close();
    xb::Table* get() const { return table_; }
    xb::Table* operator->() const { return table_; }
    explicit operator bool() const { return table_ != nullptr; }

private:
    xb::Table* table_;
};

// Whether two directory texts name one directory, however they are written
// (letter case of names that exist, '\' for '/', trailing separators, "..",
// symbolic links).
bool sameDirectory(const std::string& a, const std::string& b);

}  // namespace store

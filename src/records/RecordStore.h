#pragma once
// The record window's tables without the window: the customer and product
// records it keeps (open for the window's lifetime in a connection of its
// own, in name order), and the ticket tables it shows.

#include "data/CodeBase.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace records {

enum class Mode { kCustomer, kProduct, kPartial, kTickets };
bool isTicketMode(Mode m);

// ---- customers and products ----

// A record as the grid shows it: texts without the blanks around them.
struct MasterRow {
    std::string code;
    std::string name;
    std::string card;  // customers: fax_no, the swipe card number
    bool operator==(const MasterRow&) const = default;
};

// What the operator typed on the information page.
struct MasterEntry {
    std::string code;
    std::string name;
    std::string card;
};

enum class Check {
    kOk,
    kBlankName,  // "Name" cannot be blank
    kDuplicate,  // another record holds the name (letter case and blanks aside)
    kStale,      // the row being edited no longer shows the record reached
    kUnstorable, // the name or the card holds a character the table's code page cannot (refusal())
};

// Why an entry was refused as kUnstorable.
struct Refusal {
    bool card = false;    // the card number; else the name
    std::string message;  // naming the character, the table and its code page
};

enum class Written {
    kStored,
    kStoredWithoutCard,  // another customer holds the card number: the rest was stored
    kCardTooLong,        // the card number does not fit fax_no: nothing stored
    kStale,              // the row no longer shows the record reached: nothing stored
    kFailed,             // the table could not take it (reported)
};

class MasterTable {
public:
    // Opens Customer.dbf or Product.dbf of the data directory with its
    // name order, in a connection of its own that lives as long as this. A
    // table copied without its index gets one first (indexMessage()).
    MasterTable(Mode mode, const std::string& dataDir);
    ~MasterTable();
    MasterTable(const MasterTable&) = delete;
    MasterTable& operator=(const MasterTable&) = delete;

    bool isOpen() const { return table_ != nullptr; }
    std::string path() const { return path_; }
    // What was done about a missing index at the opening, or empty.
    const std::string& indexMessage() const { return indexMessage_; }
    Mode mode() const { return mode_; }

    // Every record in name order, as the file holds them now.
    std::vector<MasterRow> rows();

    // The entry checked against the table as the file holds it now (another
    // program may have added or changed records since the grid was filled):
    // a blank name, a character its code page cannot hold, or a name another
    // record holds (letter case aside, accented letters too); `editingRow`
    // (0-based) is the record being edited, which never clashes with itself.
    Check checkInput(const MasterEntry& e, std::optional<int> editingRow, const MasterRow& shown = {});
    // What the last checkInput refused as kUnstorable.
    const Refusal& refusal() const { return refusal_; }
    // Whether another customer than `editingRow` holds the card number. An
    // empty number never clashes.
    bool cardUsed(const std::string& card, std::optional<int> editingRow);

    // Writes the entry into the record of `editingRow` (which must still be
    // the record `shown`), or into a new record. A product edited keeps its
    // price and balance; a new one has them blank.
    Written write(const MasterEntry& e, std::optional<int> editingRow, const MasterRow& shown);

    // Deletes the record of `row` (which must still be the record `shown`)
    // and packs the table. False for a stale row or a failure.
    bool remove(int row, const MasterRow& shown, bool& stale);

    // Whether `row` still reaches the record `shown` (another program may
    // have written the table meanwhile).
    bool rowIs(int row, const MasterRow& shown);

private:
    void reopen();
    bool goRow(int row);
    MasterRow current();

    Mode mode_;
    std::string path_;
    std::string indexMessage_;
    Refusal refusal_;
    xb::Connection connection_;
    xb::Table* table_ = nullptr;
};

// ---- tickets ----

constexpr int kTicketColumns = 13;
using TicketRow = std::array<std::string, kTicketColumns>;

// Every record of a ticket table in file order, as the grid shows it; none
// when the file is missing.
std::vector<TicketRow> ticketRows(const std::string& path);

// The tickets of a day: those of its copy in the month's folder first, then
// those of the data directory's day table (a day closed early by the month
// end and written again afterwards has both), each ticket once. Nothing
// when the day has no table.
std::optional<std::vector<TicketRow>> dayTicketRows(const std::string& dataDir, const xb::Date& day);

}  // namespace records

#pragma once
// What the mirror sends of a site, read from its tables without writing to
// them. The site's data is cut into parts, each replaced whole at the head
// office: one part per day (the tickets of the day's table in the data
// directory, of its copy in the month's folder and of one a month end is
// closing), the open tickets, the
// customers and the products.
//
// A part is read into rows: one line a row, its columns as the database's
// COPY text takes them (tab between columns, \N for no value), without the
// site and the row's place, which the sender puts in front. Its signature
// is a hash of those lines: two readings of a part with the same signature
// send the same rows.

#include "data/Date.h"

#include <optional>
#include <string>
#include <vector>

namespace mirror {

enum class PartKind { kDay, kOpenTickets, kCustomers, kProducts };

struct Part {
    PartKind kind = PartKind::kDay;
    xb::Date day;     // kDay: the day
    std::string key;  // "day 2026-12-08", "open tickets", "customers", "products"
    // The tables read, as found on the disk (or as they would be named when
    // missing): for a day its table in the data directory, then its copy in
    // the month's folder, then any a month end is closing (only those that
    // exist); otherwise the one table.
    std::vector<std::string> tables;
};

// The key of a day's part; the day of a key, nothing when it is no day's.
std::string dayKey(const xb::Date& day);
std::optional<xb::Date> dayOfKey(const std::string& key);
// "Dec0826.dbf" for a day part, the key for the others: how messages name a part.
std::string partName(const Part& part);

struct SiteParts {
    std::vector<Part> parts;  // the days in date order, then the open tickets, customers, products
    std::string error;        // the data directory cannot be listed
};

// The parts of the site whose data directory is `dataDir`: a day for every
// day table (mmmddyy.dbf, any letter case) in the data directory, in its
// month's folder (yymmm/) or in a month end's MonthEnd/ME_yymmm.closing/;
// the open tickets (Ticket.dbf), the customers
// (Customer.dbf) and the products (Product.dbf), whether or not they exist.
SiteParts siteParts(const std::string& dataDir);

// The day a day table's name stands for ("Dec0826.dbf" is 2026-12-08); two
// year digits are this century's unless that would be more than a year
// ahead of `thisYear`.
std::optional<xb::Date> dayOfTableName(const std::string& fileName, int thisYear);

// What the part's tables are on the disk now (size, change times and file
// number of each, "-" for a missing one): a part whose identity is the same
// as when it was read holds what it held then, unless it changed within the
// moment of that reading (see `settled`).
struct Identity {
    std::string text;
    // Every table's last change is at least two seconds old: a change made
    // within the same tick of the file system's clock would not show.
    bool settled = true;
};
// `now` is the time of day in seconds since 1970 (the system's clock when 0).
Identity partIdentity(const Part& part, long long now = 0);

struct PartRows {
    std::vector<std::string> lines;
    std::string signature;  // hex SHA-256 of the key and the lines
    std::string error;      // a table that cannot be read, named; no lines then
    bool ok() const { return error.empty(); }
};

// Reads the part. A day's tables all count, the month folder's copy's
// tickets first, then those a month end is closing, then the data
// directory's; a ticket in more than one of them (a month end that has
// copied the day and not yet removed it) counts once. Missing tables give
// no rows.
PartRows readPart(const Part& part);

// The form of the lines. A change to it (a column more, another text
// conversion) makes every part differ from what was sent before.
constexpr const char* kRowsFormat = "grazulo mirror rows 2";

// The signature of a part's lines.
std::string signatureOf(const std::string& key, const std::vector<std::string>& lines);

// The columns each part's rows carry, in their order in the lines, as the
// database's tables name them.
const std::vector<std::string>& columnsOf(PartKind kind);

// One value as COPY text takes it: backslash, tab, line feed and carriage
// return escaped.
void appendCopyText(std::string& line, std::string_view text);

}  // namespace mirror

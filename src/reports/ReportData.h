#pragma once
// What the reports print, without a window or a printer: the transactions of
// a range of days gathered from the day tables, the customer and product
// lists, the texts of each printed line, and those lines as CSV. The report
// windows, the preview's CSV export and grazulo-admin all read them here.

#include "data/Date.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace reports {

// ---- the transactions report ----

// One ticket of a day table, as the report reads it: texts without their
// blanks, dates as mm/dd/yy, times as the stored hhmm digits, weights as
// whole numbers in decimal.
struct TransactionRow {
    std::string ticket;
    std::string customer;
    std::string product;
    std::string truck;
    std::string inDate;
    std::string inTime;
    std::string inWeight;
    std::string outDate;
    std::string outTime;
    std::string outWeight;
    std::string netWeight;
};

constexpr int kTransactionColumns = 11;
using TransactionLine = std::array<std::string, kTransactionColumns>;

// The texts of a detail line in the order of the columns: the row's texts,
// with the times as h:mm (935 is 9:35).
TransactionLine transactionLine(const TransactionRow& row);
// The column headings of the CSV, in the same order.
const TransactionLine& transactionHeadings();

struct Transactions {
    std::vector<TransactionRow> rows;
    int daysRead = 0;   // day tables found and read (a day may have two)
    std::string error;  // the first table that could not be read, "Dec0526.dbf: <fault>"
    bool ok() const { return error.empty(); }
};

// Why a range cannot be reported, or empty: from a day to the same day a
// hundred years on the day tables' names (two digits of the year) repeat.
std::string rangeProblem(const xb::Date& from, const xb::Date& to);

// Every live record of every day from `from` to `to` (both included), in
// date order. A day's tickets are those of its copy in the month's folder
// first, then those of a copy a month end is closing and of the data
// directory's table, each in record order and each ticket once (a day closed
// early by the month end and written again afterwards has two tables). A
// day without a table contributes nothing. A table that cannot be read, or
// a range rangeProblem() refuses, stops the gathering with `error` set.
// Nothing is written to any table.
Transactions gatherTransactions(const std::string& dataDir, const xb::Date& from, const xb::Date& to);

// ---- the customer and product lists ----

enum class ListKind { kCustomers, kProducts };

constexpr int kListColumns = 4;
using ListLine = std::array<std::string, kListColumns>;

struct ListRows {
    std::vector<ListLine> rows;
    std::string error;  // the table is missing or could not be read
    bool ok() const { return error.empty(); }
};

// "CUSTOMER RECORDS", "PRODUCT RECORDS".
std::string listTitle(ListKind kind);
// "CODE NO.", "NAME", "CONTACT" or "PRICE PER TONNAGE", ...
const ListLine& listHeadings(ListKind kind);
// Customer.dbf or Product.dbf of the data directory.
std::string listTablePath(ListKind kind, const std::string& dataDir);

// Every live record of the list's table in record order: customers code_num,
// n_ame, add_r, fax_no; products code_num, n_ame, price_t, Balance; each the
// field's text without its blanks.
ListRows listRows(ListKind kind, const std::string& dataDir);

// ---- CSV ----

// The CSV files are UTF-8 with a byte-order mark, so a spreadsheet reads
// them as UTF-8.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// One field: a text a spreadsheet would take for a formula (starting with
// =, +, -, @, a tab or a CR, and not a plain number) after an apostrophe;
// then quoted when it holds a comma, a quote or a line end, with its quotes
// doubled.
std::string csvField(std::string_view text);
// The byte-order mark, then lines ending in CR LF, as spreadsheets expect.
template <std::size_t N>
std::string csvText(const std::array<std::string, N>& headings, const std::vector<std::array<std::string, N>>& lines)
{
    std::string out(kUtf8Mark);
    auto put = [&out](const std::array<std::string, N>& line) {
        for (std::size_t i = 0; i < N; ++i) {
            if (i)
                out += ',';
            out += csvField(line[i]);
        }
        out += "\r\n";
    };
    put(headings);
    for (const auto& line : lines)
        put(line);
    return out;
}
// The transactions as CSV: the headings, then one line per row.
std::string transactionsCsv(const std::vector<TransactionRow>& rows);

// Writes the text to `path` through a temporary file made beside it
// exclusively (never through a link or over a file planted at its name),
// flushed and renamed over it, so a failed write leaves no half file. False,
// with `error` in plain words, on failure.
bool writeFile(const std::string& path, std::string_view text, std::string& error);

}  // namespace reports

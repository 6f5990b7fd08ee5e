#include "reports/ReportData.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketValues.h"

#include <map>
#include <tuple>

namespace reports {

namespace {

// Collects what the table engine reports while it lives, in place of the
// program's own report: a table the report cannot read is named in the
// report's message, not in a dialog of its own.
class EngineFaults {
public:
    EngineFaults()
        : previous_(xb::setErrorReport([this](const xb::EngineError& e) {
              if (first_.empty())
                  first_ = e.fault;
          }))
    {
    }
    ~EngineFaults() { xb::setErrorReport(std::move(previous_)); }
    std::string first(const char* otherwise) const { return first_.empty() ? otherwise : first_; }

private:
    xb::ErrorReport previous_;
    std::string first_;
};

// The name a message gives a table: its path below the data directory.
std::string shownName(const std::string& dataDir, const std::string& path)
{
    return path.rfind(dataDir, 0) == 0 ? path.substr(dataDir.size()) : path;
}

const char* const kTicketFields[] = {"ticket",   "customer", "product", "truck",   "in_date", "in_time",
                                     "in_wgt",   "out_date", "out_time", "out_wgt", "net_wgt"};

std::string integerText(const xb::Field* f) { return std::to_string(f->integer()); }

// The mm/dd/yy of a stored date field; a day table's dates are nearly all
// the same day, so the last one is kept.
class DateTexts {
public:
    const std::string& of(const xb::Field* f)
    {
        const std::string_view raw = f->raw();
        if (raw != stored_) {
            stored_.assign(raw);
            text_ = values::shortDateText(raw);
        }
        return text_;
    }

private:
    std::string stored_ = "\x01";
    std::string text_;
};

// Appends the live records of one day table; false with `error` set when
// the table cannot be read.
bool readDay(const std::string& dataDir, const std::string& path, std::vector<TransactionRow>& rows,
             std::string& error)
{
    EngineFaults faults;
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path);
    if (!t) {
        error = shownName(dataDir, path) + ": " + faults.first("the table cannot be opened");
        return false;
    }
    xb::Field* f[std::size(kTicketFields)];
    for (std::size_t i = 0; i < std::size(kTicketFields); ++i) {
        f[i] = t->field(kTicketFields[i]);
        if (!f[i]) {
            error = shownName(dataDir, path) + ": not a ticket table (it has no field " + kTicketFields[i] + ")";
            return false;
        }
    }
    const std::size_t before = rows.size();
    DateTexts inDates, outDates;
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1)) {
        TransactionRow& row = rows.emplace_back();
        row.ticket = f[0]->text();
        row.customer = f[1]->text();
        row.product = f[2]->text();
        row.truck = f[3]->text();
        row.inDate = inDates.of(f[4]);
        row.inTime = f[5]->text();
        row.inWeight = integerText(f[6]);
        row.outDate = outDates.of(f[7]);
        row.outTime = f[8]->text();
        row.outWeight = integerText(f[9]);
        row.netWeight = integerText(f[10]);
    }
    if (r != xb::kEof) {
        rows.resize(before);
        error = shownName(dataDir, path) + ": " + faults.first("the table cannot be read");
        return false;
    }
    return true;
}

const TransactionLine kTransactionHeadings = {
    "TICKET",         "CUSTOMER NAME", "PRODUCT",       "LICENSE PLATE",   "INBOUND DATE", "INBOUND TIME",
    "INBOUND WEIGHT", "OUTBOUND DATE", "OUTBOUND TIME", "OUTBOUND WEIGHT", "NET"};

const ListLine kCustomerHeadings = {"CODE NO.", "NAME", "CONTACT", "FAX"};
const ListLine kProductHeadings = {"CODE NO.", "NAME", "PRICE PER TONNAGE", "BALANCE"};

}  // namespace

TransactionLine transactionLine(const TransactionRow& row)
{
    return {row.ticket,
            row.customer,
            row.product,
            row.truck,
            row.inDate,
            values::shortTimeText(row.inTime),
            row.inWeight,
            row.outDate,
            values::shortTimeText(row.outTime),
            row.outWeight,
            row.netWeight};
}

const TransactionLine& transactionHeadings() { return kTransactionHeadings; }

std::string rangeProblem(const xb::Date& from, const xb::Date& to)
{
    // Day tables carry two digits of the year: a day and the same day a
    // hundred years on have one name.
    const bool hundredYears =
        std::tuple(to.year, to.month, to.day) >= std::tuple(from.year + 100, from.month, from.day);
    if (to.julianDay() >= from.julianDay() && hundredYears)
        return "The dates are a hundred years or more apart: day tables are named by two digits of the year, "
               "so their days cannot be told apart. Choose a shorter range.";
    return {};
}

Transactions gatherTransactions(const std::string& dataDir, const xb::Date& from, const xb::Date& to)
{
    Transactions out;
    out.error = rangeProblem(from, to);
    if (!out.ok())
        return out;
    const std::string dir = catalogue::AddBackslash(dataDir);
    catalogue::DayTableFinder days(dir);
    long retriedDay = 0;
    int attempts = 0;
    for (long jd = from.julianDay(), last = to.julianDay(); jd <= last; ++jd) {
        // A day closed early by the month end and written again afterwards
        // has tickets in two tables: each ticket counts once.
        std::map<TransactionLine, int> earlier;
        const std::size_t dayStart = out.rows.size();
        const int daysBefore = out.daysRead;
        for (const std::string& path : days.tables(xb::Date::fromJulianDay(jd))) {
            const std::size_t first = out.rows.size();
            if (!readDay(dir, path, out.rows, out.error)) {
                // A month end moved the table after it was found: the day
                // is read again from where its tables are now.
                if (retriedDay != jd)
                    retriedDay = jd, attempts = 0;
                if (xb::fileExists(path) || ++attempts > 4)
                    return out;
                out.error.clear();
                out.rows.resize(dayStart);
                out.daysRead = daysBefore;
                earlier.clear();
                days.forget();
                --jd;
                break;
            }
            ++out.daysRead;
            std::map<TransactionLine, int> here;
            std::size_t kept = first;
            for (std::size_t i = first; i < out.rows.size(); ++i) {
                const TransactionLine key = transactionLine(out.rows[i]);
                auto it = earlier.find(key);
                if (it != earlier.end() && it->second > 0) {
                    --it->second;
                    continue;
                }
                ++here[key];
                if (kept != i)
                    out.rows[kept] = std::move(out.rows[i]);
                ++kept;
            }
            out.rows.resize(kept);
            for (auto& [key, n] : here)
                earlier[key] += n;
        }
    }
    return out;
}

std::string transactionsCsv(const std::vector<TransactionRow>& rows)
{
    std::vector<TransactionLine> lines;
    lines.reserve(rows.size());
    for (const auto& r : rows)
        lines.push_back(transactionLine(r));
    return csvText(kTransactionHeadings, lines);
}

std::string listTitle(ListKind kind) { return kind == ListKind::kCustomers ? "CUSTOMER RECORDS" : "PRODUCT RECORDS"; }

const ListLine& listHeadings(ListKind kind)
{
    return kind == ListKind::kCustomers ? kCustomerHeadings : kProductHeadings;
}

std::string listTablePath(ListKind kind, const std::string& dataDir)
{
    return catalogue::AddBackslash(dataDir) + (kind == ListKind::kCustomers ? "Customer.dbf" : "Product.dbf");
}

ListRows listRows(ListKind kind, const std::string& dataDir)
{
    ListRows out;
    const std::string path = listTablePath(kind, dataDir);
    const std::string name = xb::baseName(path);
    if (!xb::fileExists(path)) {
        out.error = name + ": the table does not exist in " + catalogue::AddBackslash(dataDir);
        return out;
    }
    const char* const names[2][kListColumns] = {{"code_num", "n_ame", "add_r", "fax_no"},
                                                {"code_num", "n_ame", "price_t", "Balance"}};
    const auto& fields = names[kind == ListKind::kCustomers ? 0 : 1];
    EngineFaults faults;
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path);
    if (!t) {
        out.error = name + ": " + faults.first("the table cannot be opened");
        return out;
    }
    xb::Field* f[kListColumns];
    for (int i = 0; i < kListColumns; ++i)
        f[i] = t->field(fields[i]);
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1)) {
        ListLine line;
        for (int i = 0; i < kListColumns; ++i)
            line[std::size_t(i)] = f[i] ? f[i]->text() : std::string();
        out.rows.push_back(std::move(line));
    }
    if (r != xb::kEof) {
        out.rows.clear();
        out.error = name + ": " + faults.first("the table cannot be read");
    }
    return out;
}

namespace {
// A plain number: an optional sign, digits, an optional point and digits.
bool plainNumber(std::string_view t)
{
    std::size_t i = t.empty() || (t[0] != '-' && t[0] != '+') ? 0 : 1;
    bool digits = false, point = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            digits = true;
        else if (t[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}
}  // namespace

std::string csvField(std::string_view text)
{
    // A spreadsheet takes a cell that starts like this for a formula: it is
    // shown as text, after an apostrophe. A number ("-350") is a number.
    std::string cell;
    if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos && !plainNumber(text))
        cell = "'";
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string out = "\"";
    for (char c : cell) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

bool writeFile(const std::string& path, std::string_view text, std::string& error)
{
    return xb::writeFileDurably(path, text, &error);
}

}  // namespace reports

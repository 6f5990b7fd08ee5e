#include "mirror/SiteTables.h"

#include "data/Catalogue.h"
#include "data/Clock.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketValues.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unordered_map>

namespace mirror {

namespace {

// How a field's value becomes a column's text.
enum class Conv {
    kText,     // C: the text without its blanks, as UTF-8
    kWhole,    // N: a whole number; anything else no value
    kDecimal,  // N, F: a number with an optional fraction; anything else no value
    kDate,     // D: yyyy-mm-dd; blank or no date no value
    kTime,     // N hhmm: hh:mm; blank or no time of day no value
    kLogical,  // L: t or f
    kUserId,   // user_id, or id_num where the table's first field is not user_id
};

struct Column {
    const char* name;   // in the database
    const char* field;  // in the table
    Conv conv;
};

// The ticket layout's fields, in its order.
const Column kTicketColumns[] = {
    {"ticket", "ticket", Conv::kWhole},       {"user_id", "user_id", Conv::kUserId},
    {"company", "company", Conv::kText},      {"carrier", "carrier", Conv::kText},
    {"truck", "truck", Conv::kText},          {"customer", "customer", Conv::kText},
    {"product", "product", Conv::kText},      {"po", "po", Conv::kText},
    {"payment", "payment", Conv::kText},      {"amount", "amount", Conv::kDecimal},
    {"gst", "gst", Conv::kDecimal},           {"pst", "pst", Conv::kDecimal},
    {"total", "total", Conv::kDecimal},       {"pounds", "pounds", Conv::kLogical},
    {"in_time", "in_time", Conv::kTime},      {"in_date", "in_date", Conv::kDate},
    {"out_time", "out_time", Conv::kTime},    {"out_date", "out_date", Conv::kDate},
    {"in_wgt", "in_wgt", Conv::kWhole},       {"out_wgt", "out_wgt", Conv::kWhole},
    {"net_wgt", "net_wgt", Conv::kWhole},     {"complete", "complete", Conv::kLogical},
    {"remarks", "remarks", Conv::kText},
};

const Column kCustomerColumns[] = {
    {"code_num", "code_num", Conv::kWhole},
    {"name", "n_ame", Conv::kText},
    {"address", "add_r", Conv::kText},
    {"card", "fax_no", Conv::kText},
};

const Column kProductColumns[] = {
    {"code_num", "code_num", Conv::kWhole},
    {"name", "n_ame", Conv::kText},
    {"price", "price_t", Conv::kDecimal},
    {"balance", "Balance", Conv::kDecimal},
};

struct Columns {
    const Column* begin;
    const Column* end;
};

Columns columnTable(PartKind kind)
{
    switch (kind) {
    case PartKind::kCustomers:
        return {std::begin(kCustomerColumns), std::end(kCustomerColumns)};
    case PartKind::kProducts:
        return {std::begin(kProductColumns), std::end(kProductColumns)};
    default:
        return {std::begin(kTicketColumns), std::end(kTicketColumns)};
    }
}

// The first fault the table engine reports while this lives, in place of
// the program's report: the mirror names the table in its own message.
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
    EngineFaults(const EngineFaults&) = delete;
    EngineFaults& operator=(const EngineFaults&) = delete;
    std::string first(const char* otherwise) const { return first_.empty() ? otherwise : first_; }

private:
    xb::ErrorReport previous_;
    std::string first_;
};

struct Stat {
    bool exists = false;
    struct stat st {};
};

Stat statOf(const std::string& path)
{
    Stat s;
    s.exists = ::stat(path.c_str(), &s.st) == 0;
    return s;
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

bool digitsOnly(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendWhole(std::string& line, std::string_view v)
{
    const std::string_view digits = !v.empty() && v[0] == '-' ? v.substr(1) : v;
    if (digitsOnly(digits) && digits.size() <= 18)
        line += v;
    else
        line += "\\N";
}

void appendDecimal(std::string& line, std::string_view v)
{
    std::string_view sign, whole = v, fraction;
    if (!whole.empty() && whole[0] == '-') {
        sign = "-";
        whole.remove_prefix(1);
    }
    if (const auto dot = whole.find('.'); dot != std::string_view::npos) {
        fraction = whole.substr(dot + 1);
        whole = whole.substr(0, dot);
    }
    const bool ok = (whole.empty() || digitsOnly(whole)) && (fraction.empty() || digitsOnly(fraction)) &&
                    whole.size() + fraction.size() > 0 && whole.size() <= 30 && fraction.size() <= 30;
    if (!ok) {
        line += "\\N";
        return;
    }
    line += sign;
    line += whole.empty() ? std::string_view("0") : whole;
    if (!fraction.empty()) {
        line += '.';
        line += fraction;
    }
}

// One table's fields bound to the part's columns.
class RowReader {
public:
    RowReader(xb::Table* t, Columns columns)
    {
        const bool userId = t->fieldCount() > 0 && values::sameText(t->fieldAt(1)->name(), "user_id");
        for (const Column* c = columns.begin; c != columns.end; ++c) {
            const char* name = c->conv == Conv::kUserId && !userId ? "id_num" : c->field;
            bound_.push_back({c->conv, t->field(name)});
        }
    }

    // The current record as a line.
    std::string line()
    {
        std::string out;
        out.reserve(256);
        bool first = true;
        for (const Bound& b : bound_) {
            if (!first)
                out += '\t';
            first = false;
            if (!b.field) {
                out += "\\N";
                continue;
            }
            const std::string_view v = b.field->trimmedView();
            switch (b.conv) {
            case Conv::kText:
            case Conv::kUserId:
                appendCopyText(out, b.field->text());
                break;
            case Conv::kWhole:
                appendWhole(out, v);
                break;
            case Conv::kDecimal:
                appendDecimal(out, v);
                break;
            case Conv::kLogical:
                out += b.field->isTrue() ? 't' : 'f';
                break;
            case Conv::kDate:
                if (const auto d = xb::Date::fromText(v))
                    out += dateText(*d);
                else
                    out += "\\N";
                break;
            case Conv::kTime:
                if (const auto t = values::parseStoredTime(v)) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "%02d:%02d", t->hour % 100, t->minute % 100);
                    out += buf;
                } else {
                    out += "\\N";
                }
                break;
            }
        }
        return out;
    }

    static std::string dateText(const xb::Date& d)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year % 10000, d.month % 100, d.day % 100);
        return buf;
    }

private:
    struct Bound {
        Conv conv;
        xb::Field* field;
    };
    std::vector<Bound> bound_;
};

// Appends the live records of a table; a table that is not there adds
// nothing. False, with `error`, when it cannot be read.
bool readTable(const std::string& path, PartKind kind, std::vector<std::string>& lines, std::string& error)
{
    if (!statOf(path).exists)
        return true;
    EngineFaults faults;
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path);
    if (!t) {
        if (!statOf(path).exists)  // gone meanwhile (a month end moved it)
            return true;
        error = path + ": " + faults.first("the table cannot be opened");
        return false;
    }
    RowReader reader(t, columnTable(kind));
    const std::size_t before = lines.size();
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1))
        lines.push_back(reader.line());
    if (r != xb::kEof) {
        lines.resize(before);
        error = path + ": " + faults.first("the table cannot be read to its end");
        return false;
    }
    return true;
}

std::optional<int> monthOfAbbrev(std::string_view abbrev)
{
    for (int m = 1; m <= 12; ++m)
        if (values::sameText(abbrev, values::monthAbbrev(m)))
            return m;
    return std::nullopt;
}

std::optional<int> twoDigitNumber(std::string_view s)
{
    if (s.size() != 2 || !digitsOnly(s))
        return std::nullopt;
    return (s[0] - '0') * 10 + (s[1] - '0');
}

int yearOf(int twoDigits, int thisYear)
{
    const int year = 2000 + twoDigits;
    return year > thisYear + 1 ? year - 100 : year;
}

// The month a folder's name ("26Dec") stands for.
std::optional<std::pair<int, int>> monthOfFolderName(const std::string& name, int thisYear)
{
    if (name.size() != 5)
        return std::nullopt;
    const auto yy = twoDigitNumber(std::string_view(name).substr(0, 2));
    const auto month = monthOfAbbrev(std::string_view(name).substr(2));
    if (!yy || !month)
        return std::nullopt;
    return std::pair {yearOf(*yy, thisYear), *month};
}

}  // namespace

std::string dayKey(const xb::Date& day) { return "day " + RowReader::dateText(day); }

std::optional<xb::Date> dayOfKey(const std::string& key)
{
    if (key.size() != 14 || key.rfind("day ", 0) != 0 || key[8] != '-' || key[11] != '-')
        return std::nullopt;
    return xb::Date::fromText(key.substr(4, 4) + key.substr(9, 2) + key.substr(12, 2));
}

std::string partName(const Part& part)
{
    return part.kind == PartKind::kDay ? catalogue::dayTableName(part.day) : part.key;
}

std::optional<xb::Date> dayOfTableName(const std::string& fileName, int thisYear)
{
    if (fileName.size() != 11 || !values::sameText(std::string_view(fileName).substr(7), ".dbf"))
        return std::nullopt;
    const std::string_view name(fileName);
    const auto month = monthOfAbbrev(name.substr(0, 3));
    const auto day = twoDigitNumber(name.substr(3, 2));
    const auto yy = twoDigitNumber(name.substr(5, 2));
    if (!month || !day || !yy)
        return std::nullopt;
    const int year = yearOf(*yy, thisYear);
    if (!xb::isValidDate(year, *month, *day))
        return std::nullopt;
    return xb::Date {year, *month, *day};
}

SiteParts siteParts(const std::string& dataDir)
{
    namespace fs = std::filesystem;
    SiteParts out;
    const std::string dir = xb::addBackslash(xb::resolvePath(dataDir));
    if (!xb::directoryExists(dir)) {
        out.error = "the data directory " + dir + " does not exist";
        return out;
    }
    const int thisYear = xb::now().year;
    // The tables as the listings name them (whatever their letter case), by
    // day: the data directory's, the month folder's, and those a month end
    // is closing (MonthEnd/ME_26Dec.closing/, or ME_26Dec.closing/ beside
    // them). Listed in the order a month end moves a table (data directory,
    // closing folder, month's folder), so a table moved meanwhile is found.
    struct Found {
        std::string data, folder;
        std::vector<std::string> closing;
    };
    std::map<long, Found> days;
    std::map<std::string, std::string> files;  // by lower-case name: the data directory's other files
    std::vector<std::pair<std::string, std::pair<int, int>>> folders, closings;
    auto closingMonth = [&](const std::string& name) -> std::optional<std::pair<int, int>> {
        if (name.size() != 16 || !values::sameText(name.substr(0, 3), "ME_") ||
            !values::sameText(name.substr(8), ".closing"))
            return std::nullopt;
        return monthOfFolderName(name.substr(3, 5), thisYear);
    };
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (it->is_regular_file(typeError)) {
            if (const auto d = dayOfTableName(name, thisYear))
                days[d->julianDay()].data = dir + name;
            else
                files.emplace(lower(name), dir + name);
            continue;
        }
        if (!it->is_directory(typeError))
            continue;
        if (const auto month = monthOfFolderName(name, thisYear))
            folders.push_back({dir + name, *month});
        else if (const auto closing = closingMonth(name))
            closings.push_back({dir + name, *closing});
        else if (values::sameText(name, "MonthEnd")) {
            std::error_code inner;
            for (fs::directory_iterator f(it->path(), inner), fend; !inner && f != fend; f.increment(inner))
                if (const auto closing = closingMonth(f->path().filename().string()))
                    closings.push_back({dir + name + "/" + f->path().filename().string(), *closing});
        }
    }
    if (ec) {
        out.error = "the data directory " + dir + " cannot be listed: " + ec.message();
        return out;
    }
    for (const auto& [folder, month] : closings) {
        std::error_code inner;
        for (fs::directory_iterator f(folder, inner), fend; !inner && f != fend; f.increment(inner)) {
            const std::string file = f->path().filename().string();
            const auto d = dayOfTableName(file, thisYear);
            std::error_code fileError;
            if (d && d->year == month.first && d->month == month.second && f->is_regular_file(fileError))
                days[d->julianDay()].closing.push_back(folder + "/" + file);
        }
    }
    for (const auto& [folder, month] : folders) {
        std::error_code inner;
        for (fs::directory_iterator f(folder, inner), fend; !inner && f != fend; f.increment(inner)) {
            const std::string file = f->path().filename().string();
            const auto d = dayOfTableName(file, thisYear);
            std::error_code fileError;
            if (d && d->year == month.first && d->month == month.second && f->is_regular_file(fileError))
                days[d->julianDay()].folder = folder + "/" + file;
        }
        if (inner) {
            out.error = "the month folder " + folder + " cannot be listed: " + inner.message();
            return out;
        }
    }
    for (const auto& [jd, found] : days) {
        Part p;
        p.kind = PartKind::kDay;
        p.day = xb::Date::fromJulianDay(jd);
        p.key = dayKey(p.day);
        const std::string name = catalogue::dayTableName(p.day);
        p.tables = {found.data.empty() ? dir + name : found.data,
                    found.folder.empty() ? dir + catalogue::monthDirName(p.day.year, p.day.month) + "/" + name
                                         : found.folder};
        p.tables.insert(p.tables.end(), found.closing.begin(), found.closing.end());
        out.parts.push_back(std::move(p));
    }
    const std::pair<PartKind, const char*> lists[] = {{PartKind::kOpenTickets, "Ticket.dbf"},
                                                      {PartKind::kCustomers, "Customer.dbf"},
                                                      {PartKind::kProducts, "Product.dbf"}};
    for (const auto& [kind, file] : lists) {
        Part p;
        p.kind = kind;
        p.key = kind == PartKind::kOpenTickets ? "open tickets" : kind == PartKind::kCustomers ? "customers" : "products";
        const auto found = files.find(lower(file));
        p.tables = {found != files.end() ? found->second : dir + file};
        out.parts.push_back(std::move(p));
    }
    return out;
}

Identity partIdentity(const Part& part, long long now)
{
    Identity id;
    if (now == 0) {
        timespec t {};
        ::clock_gettime(CLOCK_REALTIME, &t);
        now = t.tv_sec;
    }
    for (const std::string& path : part.tables) {
        const Stat s = statOf(path);
        if (!id.text.empty())
            id.text += ';';
        if (!s.exists) {
            id.text += '-';
            continue;
        }
        const auto& st = s.st;
        id.text += std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
                   std::to_string(st.st_mtim.tv_nsec) + ':' + std::to_string(st.st_ctim.tv_sec) + '.' +
                   std::to_string(st.st_ctim.tv_nsec) + ':' + std::to_string(st.st_ino);
        const time_t latest = std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec);
        if (now - latest < 2)
            id.settled = false;
    }
    return id;
}

PartRows readPart(const Part& part)
{
    PartRows out;
    if (part.kind != PartKind::kDay) {
        if (!readTable(part.tables.at(0), part.kind, out.lines, out.error))
            return out;
    } else {
        // The data directory's table first, then those a month end is
        // closing, then the month folder's copy: read in the order a month
        // end moves a table, the day's tickets are in one of them whatever
        // it does meanwhile. The copy's tickets come first, and a ticket
        // read in more than one of them counts once.
        std::vector<std::string> data, folder;
        std::vector<std::vector<std::string>> closing(part.tables.size() > 2 ? part.tables.size() - 2 : 0);
        if (!readTable(part.tables.at(0), part.kind, data, out.error))
            return out;
        for (std::size_t i = 0; i < closing.size(); ++i)
            if (!readTable(part.tables[i + 2], part.kind, closing[i], out.error))
                return out;
        if (!readTable(part.tables.at(1), part.kind, folder, out.error))
            return out;
        std::map<std::string, int> earlier;
        auto addNew = [&](std::vector<std::string>& lines) {
            std::map<std::string, int> here;
            for (std::string& l : lines) {
                auto it = earlier.find(l);
                if (it != earlier.end() && it->second > 0) {
                    --it->second;
                    continue;
                }
                ++here[l];
                out.lines.push_back(std::move(l));
            }
            for (auto& [l, n] : here)
                earlier[l] += n;
        };
        addNew(folder);
        for (auto& c : closing)
            addNew(c);
        addNew(data);
    }
    out.signature = signatureOf(part.key, out.lines);
    return out;
}

std::string signatureOf(const std::string& key, const std::vector<std::string>& lines)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(kRowsFormat));
    hash.addData(QByteArrayView("\n"));
    hash.addData(QByteArrayView(key.data(), qsizetype(key.size())));
    for (const std::string& l : lines) {
        hash.addData(QByteArrayView("\n"));
        hash.addData(QByteArrayView(l.data(), qsizetype(l.size())));
    }
    return hash.result().toHex().toStdString();
}

const std::vector<std::string>& columnsOf(PartKind kind)
{
    static const auto make = [](PartKind k) {
        std::vector<std::string> names;
        const Columns c = columnTable(k);
        for (const Column* col = c.begin; col != c.end; ++col)
            names.push_back(col->name);
        return names;
    };
    static const std::vector<std::string> tickets = make(PartKind::kDay);
    static const std::vector<std::string> customers = make(PartKind::kCustomers);
    static const std::vector<std::string> products = make(PartKind::kProducts);
    return kind == PartKind::kCustomers ? customers : kind == PartKind::kProducts ? products : tickets;
}

void appendCopyText(std::string& line, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += c;
        }
    }
}

}  // namespace mirror

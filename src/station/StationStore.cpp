#include "station/StationStore.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "data/Util.h"

#include <tuple>

namespace station {

// ---------------------------------------------------------------- settings

namespace {

// A port as the settings hold it: the trimmed text, a whole number.
std::optional<int> portNumber(const std::string& text)
{
    const auto v = values::wholeWeight(text);
    if (!v || *v < 0 || *v > 1000000)
        return std::nullopt;
    return int(*v);
}

}  // namespace

SettingsResult readStationSettings()
{
    SettingsResult r;
    const std::string path = catalogue::setupTablePath();
    const catalogue::SetupTable setup = catalogue::readSetupTable();
    if (!setup.found) {
        r.error = "The settings table " + path + " is missing.";
        return r;
    }
    if (!setup.hasRecord) {
        r.error = "The settings table " + path + " holds no settings.";
        return r;
    }
    StationSettings s;
    for (auto [name, text, target] : {std::tuple<const char*, const std::string&, int*> {"prtport", setup.prtport, &s.printerPort},
                                      {"modemport", setup.modemport, &s.modemPort}}) {
        const auto n = portNumber(text);
        if (!n) {
            r.error = "'" + text + "' is not a valid port number for " + name + " in " + xb::baseName(path) + ".";
            return r;
        }
        *target = *n;
    }
    s.dataDir = catalogue::dataDirFrom(setup.datapath);
    // "C:\\SITE\\DATA" names no directory here: taken as it is, it would
    // make the tables inside the process's working directory.
    if (!s.dataDir.empty() && s.dataDir.front() != '/') {
        s.foreignDataPath = values::trimmed(setup.datapath);
        s.dataDir.clear();
    }
    r.settings = s;
    return r;
}

// ---------------------------------------------------------------- tickets

Entry entryOf(const store::TicketRecord& t)
{
    Entry e;
    e.ticket = std::to_string(t.ticket);
    e.customer = t.customer;
    e.product = t.product;
    e.truck = t.truck;
    e.remarks = t.remarks;
    e.inTime = t.inTime;
    e.inDate = values::dateText(t.inDate);
    e.inWeight = std::to_string(t.inWeight);
    e.outWeight = std::to_string(t.outWeight);
    return e;
}

std::optional<long> ticketNumber(const std::string& text)
{
    const auto v = values::wholeWeight(text);
    if (!v || !store::validTicketNo(*v))
        return std::nullopt;
    return long(*v);
}

StationTickets::StationTickets(std::string dataDir)
    : store_(std::move(dataDir), store::CounterMeaning::kLastIssued, {"Ticket.dbf", "Control.dbf"})
{
}

std::optional<long> StationTickets::GetTicketNo(const xb::LocalTime& at)
{
    const auto next = store_.nextNumber();
    if (!next)
        return std::nullopt;
    const xb::Date day = values::dateOf(at);
    long n = store_.firstFreeNumber(*next);
    for (long tries = 0; tries < store::kLastTicketNo && store_.findCompleted(day, n); ++tries)
        n = store_.firstFreeNumber(store::following(n));
    return n;
}

bool StationTickets::openTableWhole()
{
    const std::string path = store_.openTablePath();
    if (!xb::fileExists(path))
        return true;
    store::OperationConnection conn(nullptr);
    store::ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return true;  // what cannot be opened is refused by the store itself
    if (t->headerRecordCount() <= t->recCount())
        return true;
    xb::reportError(t->path(), "the table is cut short inside record " + std::to_string(t->recCount() + 1) +
                                   ": the header counts " + std::to_string(t->headerRecordCount()) +
                                   " records, the file holds " + std::to_string(t->recCount()) +
                                   " whole ones; it is left as it is");
    return false;
}

bool StationTickets::UpdateControlTable(long number) { return store_.recordIssued(number); }

std::optional<RefusedText> StationTickets::refusedText(const Entry& e, bool completing, const xb::LocalTime& at)
{
    std::vector<std::string> tables = {store_.openTablePath()};
    const std::string day = xb::resolvePath(store_.dayTablePath(values::dateOf(at)));
    if (completing && xb::fileExists(day))
        tables.push_back(day);
    const std::tuple<EntryText, const char*, const std::string*> texts[] = {
        {EntryText::kCustomer, "Customer Name", &e.customer},
        {EntryText::kProduct, "Product Name", &e.product},
        {EntryText::kTruck, "License Plate", &e.truck},
        {EntryText::kRemarks, "Remarks", &e.remarks},
    };
    for (const std::string& table : tables) {
        const xb::CodePage& page = catalogue::tableCodePage(table);
        for (const auto& [text, label, value] : texts)
            if (const auto u = page.unstorable(*value))
                return RefusedText {text, xb::unstorableMessage(*u, label, xb::baseName(xb::resolvePath(table)), page)};
    }
    return std::nullopt;
}

InboundSaved StationTickets::UpdateTempTable(const Entry& e, const xb::LocalTime& at)
{
    InboundSaved r;
    const auto in = values::wholeWeight(e.inWeight);
    if (!in || *in < 0) {
        r.outcome = SaveOutcome::kBadWeight;
        return r;
    }
    if (!openTableWhole()) {
        r.outcome = SaveOutcome::kOpenCutShort;
        return r;
    }
    const std::optional<long> number = GetTicketNo(at);
    if (!number || !UpdateControlTable(*number)) {
        r.outcome = SaveOutcome::kNoCounter;
        return r;
    }
    store::TicketRecord t;
    t.ticket = *number;
    t.truck = e.truck;
    t.customer = e.customer;
    t.product = e.product;
    t.remarks = e.remarks;
    t.inWeight = *in;
    const auto added = store_.addOpen(t, at, false);
    switch (added.outcome) {
    case store::Outcome::kDone: r.outcome = SaveOutcome::kStored; break;
    case store::Outcome::kBadValue: r.outcome = SaveOutcome::kBadWeight; break;
    default: r.outcome = SaveOutcome::kNotSaved; break;
    }
    r.number = added.number;
    return r;
}

std::optional<store::TicketRecord> StationTickets::CheckInRecord(long number, bool reprint, const xb::LocalTime& at)
{
    return reprint ? store_.findCompleted(values::dateOf(at), number) : store_.findOpen(number);
}

store::MoveResult StationTickets::UpdateTables(const Entry& e, bool reprint, const xb::LocalTime& at,
                                               SaveOutcome& outcome)
{
    store::MoveResult result;
    const auto number = ticketNumber(e.ticket);
    const auto newNumber = reprint ? ticketNumber(e.newTicket) : number;
    if (!number || !newNumber) {
        outcome = SaveOutcome::kBadNumber;
        return result;
    }
    if (reprint) {
        result = store_.renumber(*number, *newNumber, at);
    } else {
        const auto out = values::wholeWeight(e.outWeight);
        if (!out || *out < 0) {
            outcome = SaveOutcome::kBadWeight;
            return result;
        }
        if (!openTableWhole()) {
            outcome = SaveOutcome::kOpenCutShort;
            return result;
        }
        store::CompletedValues v;
        v.truck = e.truck;
        v.customer = e.customer;
        v.product = e.product;
        v.remarks = e.remarks;
        v.outWeight = *out;
        result = store_.complete(*number, std::nullopt, v, at);
    }
    switch (result.outcome) {
    case store::Outcome::kDone: outcome = SaveOutcome::kStored; break;
    case store::Outcome::kLeftBehind: outcome = SaveOutcome::kLeftBehind; break;
    case store::Outcome::kNotFound: outcome = SaveOutcome::kNotFound; break;
    case store::Outcome::kNumberInUse:
        outcome = store_.findOpen(*newNumber) ? SaveOutcome::kNumberOpen : SaveOutcome::kNumberInUse;
        break;
    case store::Outcome::kBadValue: outcome = SaveOutcome::kBadWeight; break;
    default: outcome = SaveOutcome::kNotSaved; break;
    }
    return result;
}

// ---------------------------------------------------------------- housekeeping

std::vector<std::string> purgeFiles(const std::string& dataDir, const xb::LocalTime& now)
{
    std::vector<std::string> out;
    const long today = values::dateOf(now).julianDay();
    for (int d = 14; d <= 20; ++d)
        out.push_back(dataDir + catalogue::purgeTableName(xb::Date::fromJulianDay(today - d)));
    return out;
}

int purgeOldFiles(const std::string& dataDir, const xb::LocalTime& now)
{
    // Without a data directory the names would point into the working
    // directory: nothing is removed.
    if (values::trim(dataDir).empty())
        return 0;
    int removed = 0;
    for (const std::string& f : purgeFiles(dataDir, now))
        if (xb::fileExists(f) && xb::removeFile(f))
            ++removed;
    return removed;
}

namespace {
// Seconds since an arbitrary start, on the local calendar.
long long secondsOf(const xb::LocalTime& t)
{
    return values::dateOf(t).julianDay() * 86400LL + t.hour * 3600LL + t.minute * 60LL + t.second;
}
}  // namespace

bool crossesPurgeMoment(const xb::LocalTime& before, const xb::LocalTime& now)
{
    const long long a = secondsOf(before);
    const long long b = secondsOf(now);
    if (b <= a)
        return false;
    // The first half-day boundary after `before`.
    const long long next = (a / 43200 + 1) * 43200;
    return next <= b;
}

// ---------------------------------------------------------------- title

std::string GetCompanyName(const std::string& dataDir)
{
    const std::string path = dataDir + "Company.dbf";
    if (!xb::fileExists(path))
        return {};
    store::OperationConnection conn(nullptr);
    store::ScopedTable t(util::mOpen(conn.get(), path));
    if (!t || t->top() != xb::kSuccess)
        return {};
    return util::fetch(t.get(), "n_ame");
}

}  // namespace station

#include "records/RecordStore.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "data/Util.h"

#include <map>

namespace records {

bool isTicketMode(Mode m) { return m == Mode::kPartial || m == Mode::kTickets; }

// ---------------------------------------------------------------- masters

MasterTable::MasterTable(Mode mode, const std::string& dataDir)
    : mode_(mode), path_(dataDir + (mode == Mode::kCustomer ? "Customer.dbf" : "Product.dbf"))
{
    if (!xb::fileExists(path_))
        return;
    catalogue::ensureProductionIndex(path_, &indexMessage_);
    table_ = util::mOpen(&connection_, path_, "N_ame");
}

MasterTable::~MasterTable() { connection_.closeAll(); }

MasterRow MasterTable::current()
{
    MasterRow r;
    r.code = util::fetch(table_, "code_num");
    r.name = util::fetch(table_, "n_ame");
    if (mode_ == Mode::kCustomer)
        r.card = util::fetch(table_, "fax_no");
    return r;
}

std::vector<MasterRow> MasterTable::rows()
{
    reopen();
    std::vector<MasterRow> out;
    if (!table_)
        return out;
    for (int r = table_->top(); r == xb::kSuccess; r = table_->skip(1))
        out.push_back(current());
    return out;
}

bool MasterTable::goRow(int row)
{
    if (!table_ || row < 0 || table_->top() != xb::kSuccess)
        return false;
    return row == 0 || table_->skip(row) == xb::kSuccess;
}

bool MasterTable::rowIs(int row, const MasterRow& shown)
{
    reopen();
    return goRow(row) && current() == shown;
}

void MasterTable::reopen()
{
    // Another program at the site may have written the table since it was
    // opened: the handle's read-ahead and index pages are dropped with it.
    if (table_)
        table_->close();
    table_ = xb::fileExists(path_) ? util::mOpen(&connection_, path_, "N_ame") : nullptr;
}

Check MasterTable::checkInput(const MasterEntry& e, std::optional<int> editingRow, const MasterRow& shown)
{
    const std::string name = xb::upperCase(values::trim(e.name));
    if (name.empty())
        return Check::kBlankName;
    // Read again: a record another program added meanwhile counts too.
    if (editingRow ? !rowIs(*editingRow, shown) : (reopen(), false))
        return Check::kStale;
    if (!table_)
        return Check::kOk;
    const xb::CodePage& page = table_->textCodePage();
    const std::string table = xb::baseName(path_);
    if (const auto u = page.unstorable(e.name)) {
        refusal_ = {false, xb::unstorableMessage(*u, "Name", table, page)};
        return Check::kUnstorable;
    }
    if (const auto u = mode_ == Mode::kCustomer ? page.unstorable(e.card) : std::nullopt) {
        refusal_ = {true, xb::unstorableMessage(*u, "Swipe Card No.", table, page)};
        return Check::kUnstorable;
    }
    int k = 0;
    for (int r = table_->top(); r == xb::kSuccess; r = table_->skip(1), ++k) {
        if (editingRow && k == *editingRow)
            continue;
        if (xb::upperCase(util::fetch(table_, "n_ame")) == name)
            return Check::kDuplicate;
    }
    return Check::kOk;
}

bool MasterTable::cardUsed(const std::string& card, std::optional<int> editingRow)
{
    if (!table_ || values::trim(card).empty())
        return false;
    int k = 0;
    for (int r = table_->top(); r == xb::kSuccess; r = table_->skip(1), ++k) {
        if (editingRow && k == *editingRow)
            continue;
        if (util::fetch(table_, "fax_no") == values::trim(card))
            return true;
    }
    return false;
}

Written MasterTable::write(const MasterEntry& e, std::optional<int> editingRow, const MasterRow& shown)
{
    // The table as it is now: the row still the record shown, the card
    // numbers of records added meanwhile, the append after the last record.
    if (editingRow ? !rowIs(*editingRow, shown) : (reopen(), false))
        return Written::kStale;
    if (!table_)
        return Written::kFailed;
    bool storeCard = mode_ == Mode::kCustomer;
    bool cardRefused = false;
    if (storeCard) {
        xb::Field* fax = table_->field("fax_no");
        if (fax && table_->textCodePage().encode(e.card).bytes.size() > std::size_t(fax->width()))
            return Written::kCardTooLong;
        if (cardUsed(e.card, editingRow)) {
            storeCard = false;
            cardRefused = true;
        }
    }
    if (editingRow) {
        if (!goRow(*editingRow))
            return Written::kStale;
    } else {
        if (table_->appendStart() != xb::kSuccess)
            return Written::kFailed;
        table_->blank();
    }
    bool ok = true;
    if (!values::trim(e.code).empty())
        ok = util::ireplace(table_, "code_num", values::weightOrZero(e.code));
    ok = ok && util::replace(table_, "n_ame", e.name);
    if (ok && storeCard)
        ok = util::replace(table_, "fax_no", e.card);
    if (!ok)
        return Written::kFailed;
    const int r = editingRow ? table_->flush() : table_->append();
    if (r != xb::kSuccess || (!editingRow && table_->flush() != xb::kSuccess))
        return Written::kFailed;
    return cardRefused ? Written::kStoredWithoutCard : Written::kStored;
}

bool MasterTable::remove(int row, const MasterRow& shown, bool& stale)
{
    stale = false;
    if (!rowIs(row, shown)) {
        stale = true;
        return false;
    }
    if (table_->deleteRecord() != xb::kSuccess || table_->flush() != xb::kSuccess)
        return false;
    return table_->pack() == xb::kSuccess;
}

// ---------------------------------------------------------------- tickets

std::vector<TicketRow> ticketRows(const std::string& path)
{
    std::vector<TicketRow> out;
    if (!xb::fileExists(path))
        return out;
    xb::Connection c;
    xb::Table* t = util::mOpen(&c, path);
    if (!t)
        return out;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
        TicketRow row;
        row[0] = util::fetch(t, "ticket");
        row[1] = util::fetch(t, "customer");
        row[2] = util::fetch(t, "truck");
        row[3] = util::fetch(t, "product");
        row[4] = values::timeText(util::fetch(t, "in_time"));
        row[5] = values::dateText(util::fetch(t, "in_date"));
        row[6] = values::timeText(util::fetch(t, "out_time"));
        row[7] = values::dateText(util::fetch(t, "out_date"));
        row[8] = util::fetch(t, "in_wgt");
        row[9] = util::fetch(t, "out_wgt");
        row[10] = util::fetch(t, "net_wgt");
        row[11] = util::tfetch(t, "complete") ? "T" : "F";
        row[12] = util::fetch(t, "remarks");
        out.push_back(row);
    }
    return out;
}

std::optional<std::vector<TicketRow>> dayTicketRows(const std::string& dataDir, const xb::Date& day)
{
    const std::vector<std::string> tables = catalogue::dayTables(dataDir, day);
    if (tables.empty())
        return std::nullopt;
    std::vector<TicketRow> out;
    std::map<TicketRow, int> earlier;  // rows of the tables read before, not yet matched
    for (const std::string& path : tables) {
        std::map<TicketRow, int> here;
        for (TicketRow& row : ticketRows(path)) {
            auto it = earlier.find(row);
            if (it != earlier.end() && it->second > 0) {
                --it->second;  // the same ticket in an earlier copy
                continue;
            }
            ++here[row];
            out.push_back(std::move(row));
        }
        for (auto& [row, n] : here)
            earlier[row] += n;
    }
    return out;
}

}  // namespace records

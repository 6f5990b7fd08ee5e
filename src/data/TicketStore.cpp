#include "data/TicketStore.h"

#include "data/StepRecord.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "data/Util.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace store {

bool validTicketNo(long long n) { return n >= kFirstTicketNo && n <= kLastTicketNo; }

long following(long n) { return n >= kLastTicketNo || n < kFirstTicketNo ? kFirstTicketNo : n + 1; }

// Whether `issued` lies behind the number the counter already gives as
// issued (within half the range of numbers, counting round past 99999):
// another lane kept later numbers, and keeping this one would put the
// counter back.
bool behindCounter(long issued, std::optional<long long> counter, CounterMeaning meaning)
{
    if (!counter)
        return false;
    const long long last = meaning == CounterMeaning::kLastIssued ? *counter : *counter - 1;
    if (!validTicketNo(last))
        return false;
    const long long range = kLastTicketNo - kFirstTicketNo + 1;
    const long long ahead = ((last - issued) % range + range) % range;
    return ahead > 0 && ahead < range / 2;
}

// ---------------------------------------------------------------- connections

OperationConnection::OperationConnection(xb::Connection* given) : connection_(given), own_(given == nullptr)
{
    if (own_)
        connection_ = util::openData();
}

OperationConnection::~OperationConnection()
{
    if (own_)
        util::closeData(connection_);
}

int ScopedTable::close()
{
    if (!table_)
        return xb::kSuccess;
    int r = table_->close();
    table_ = nullptr;
    return r;
}

namespace {

std::string withoutTrailingSeparators(std::string p)
{
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

}  // namespace

bool sameDirectory(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    if (a.empty() || b.empty())
        return false;
    fs::path pa = withoutTrailingSeparators(xb::resolvePath(a));
    fs::path pb = withoutTrailingSeparators(xb::resolvePath(b));
    std::error_code e1, e2;
    if (fs::is_directory(pa, e1) && fs::is_directory(pb, e2)) {
        std::error_code e;
        bool same = fs::equivalent(pa, pb, e);
        if (!e)
            return same;
    }
    fs::path ca = fs::weakly_canonical(pa, e1), cb = fs::weakly_canonical(pb, e2);
    if (e1 || e2)
        return false;
    return ca.lexically_normal() == cb.lexically_normal();
}

// ---------------------------------------------------------------- helpers

namespace {

// ticket tables are created with the ticket layout when missing (and their
// directory with them); a day table in the code page of the open tickets it
// takes.
bool ensureTicketTable(const std::string& path, unsigned char codePageMark = xb::kDefaultCodePageMark)
{
    if (xb::fileExists(path))
        return true;
    std::string dir = xb::directoryOf(path);
    if (!dir.empty() && !xb::directoryExists(dir) && !util::makeDir(dir))
        return false;
    return catalogue::CreateTable(catalogue::kTicketLayout, path, codePageMark);
}

// Whether the record's C field holds `name` as that field would store it:
// in its table's code page, cut to the field's width, compared without
// surrounding blanks, letter case counting. An empty name, or one the code
// page cannot hold, matches nothing.
bool holdsName(xb::Field* f, std::string_view name)
{
    if (!f)
        return false;
    const xb::CodePage::Encoded stored = f->table().textCodePage().encode(name, std::size_t(f->width()));
    const std::string_view want = values::trim(stored.bytes);
    return !stored.refused && !want.empty() && f->trimmedView() == want;
}

bool isComplete(xb::Table* t)
{
    xb::Field* f = t->field("complete");
    return f && f->isTrue();
}

long long numberOf(xb::Table* t)
{
    xb::Field* f = t->field("ticket");
    return f ? f->integer() : -1;
}

TicketRecord recordOf(xb::Table* t)
{
    TicketRecord r;
    r.ticket = long(util::ifetch(t, "ticket"));
    r.truck = util::fetch(t, "truck");
    r.customer = util::fetch(t, "customer");
    r.product = util::fetch(t, "product");
    r.remarks = util::fetch(t, "remarks");
    r.inTime = util::fetch(t, "in_time");
    r.inDate = util::fetch(t, "in_date");
    r.outTime = util::fetch(t, "out_time");
    r.outDate = util::fetch(t, "out_date");
    r.inWeight = util::ifetch(t, "in_wgt");
    r.outWeight = util::ifetch(t, "out_wgt");
    r.netWeight = util::ifetch(t, "net_wgt");
    r.complete = isComplete(t);
    r.recno = t->recNo();
    return r;
}

// A record's fields as read, kept apart from the table: the source of a
// copy made into the same table (whose one record buffer then holds the
// record being appended) or into another one.
struct Captured {
    std::vector<std::pair<xb::FieldDesc, std::string>> fields;  // description, bytes as stored
    const xb::CodePage* page = nullptr;                          // the code page of those bytes

    static Captured of(xb::Table* t)
    {
        Captured c;
        c.page = &t->textCodePage();
        for (int i = 1; i <= t->fieldCount(); ++i) {
            xb::Field* f = t->fieldAt(i);
            c.fields.emplace_back(f->desc(), std::string(f->raw()));
        }
        return c;
    }
    const std::pair<xb::FieldDesc, std::string>* find(std::string_view name) const
    {
        for (const auto& f : fields)
            if (values::sameText(f.first.name, name))
                return &f;
        return nullptr;
    }
};

// Copies a field of a ticket record into the record being built: byte for
// byte when both fields are alike (and text of one code page), so whatever
// the source holds is kept; else the value, text read in the source's code
// page and stored in the target's.
bool copyField(const Captured& from, xb::Table* to, const char* name)
{
    const auto* s = from.find(name);
    xb::Field* d = to->field(name);
    if (!s || !d)
        return true;  // nothing to copy, or nowhere to copy it: stays blank
    const xb::FieldDesc& sd = s->first;
    if (sd.type == d->type() && sd.width == d->width() && sd.decimals == d->decimals() &&
        (sd.type != 'C' || from.page == &to->textCodePage())) {
        d->assignRaw(s->second);
        return true;
    }
    return d->assign(from.page->decode(values::trim(s->second)));
}

// A text field from the values when given, else copied from the source.
bool putText(const Captured& from, xb::Table* to, const char* name, const std::optional<std::string>& v)
{
    return v ? util::replace(to, name, *v) : copyField(from, to, name);
}

// The first weight of the current record that is not a number, named with
// its record and field; empty when every weight reads. A ticket whose
// weight cannot be read is refused, never taken as 0.
std::string unreadableWeight(xb::Table* t)
{
    std::string fault;
    for (const char* name : {"in_wgt", "out_wgt", "net_wgt"})
        if (!util::ifetchChecked(t, name, &fault))
            return fault;
    return {};
}

// Takes back a record just appended: marked deleted and on the disk. False
// when even that failed.
bool takeBack(xb::Table* t, uint32_t recno)
{
    return t->go(recno) == xb::kSuccess && t->deleteRecord() == xb::kSuccess && t->flush() == xb::kSuccess;
}

// A table cut short inside a record its header counts (reported): that
// record was stored once, its ticket cannot be told, and an append would
// write over what is left of it. The table is left as it is, for dbftool
// check to show.
bool cutShort(xb::Table* t)
{
    if (t->headerRecordCount() <= t->recCount())
        return false;
    xb::reportError(t->path(), "the table is cut short inside record " + std::to_string(t->recCount() + 1) +
                                   ": the header counts " + std::to_string(t->headerRecordCount()) +
                                   " records, the file holds " + std::to_string(t->recCount()) +
                                   " whole ones; it is left as it is");
    return true;
}

// ---- the record of a move in progress ----

// What identifies a ticket record well enough to find it again after a
// crash: its place, its number and the values no later step changes.
struct Key {
    uint32_t recno = 0;
    long ticket = 0;
    std::string customer;
    std::string inDate;
    std::string inTime;
};

Key keyOf(xb::Table* t)
{
    return {t->recNo(), long(numberOf(t)), util::fetch(t, "customer"), util::fetch(t, "in_date"),
            util::fetch(t, "in_time")};
}

// The record at k.recno is the one k names, deleted or not.
bool holdsKey(xb::Table* t, const Key& k)
{
    return t->go(k.recno) == xb::kSuccess && numberOf(t) == k.ticket && util::fetch(t, "customer") == k.customer &&
           util::fetch(t, "in_date") == k.inDate && util::fetch(t, "in_time") == k.inTime;
}

bool matches(xb::Table* t, const Key& k) { return holdsKey(t, k) && !t->deleted(); }

struct Pending {
    std::string source;  // file name in the store's directory
    std::string target;
    Key from;            // the record being moved
    Key copy;            // the copy written for it (its recno: the target's count before + 1)
};

std::string textOf(const Pending& p)
{
    xb::StepRecord r;
    r.add("source", p.source);
    r.add("target", p.target);
    for (auto [prefix, k] : {std::pair<std::string, const Key*> {"from.", &p.from}, {"copy.", &p.copy}}) {
        r.add(prefix + "recno", k->recno);
        r.add(prefix + "ticket", k->ticket);
        r.add(prefix + "customer", k->customer);
        r.add(prefix + "in_date", k->inDate);
        r.add(prefix + "in_time", k->inTime);
    }
    return r.text("a ticket being moved between the tables of this directory");
}

std::optional<Pending> parsePending(const std::string& text)
{
    const auto r = xb::StepRecord::parse(text);
    if (!r)
        return std::nullopt;  // cut short while it was written: no move began
    Pending p;
    p.source = r->value("source");
    p.target = r->value("target");
    for (auto [prefix, k] : {std::pair<std::string, Key*> {"from.", &p.from}, {"copy.", &p.copy}}) {
        const auto rec = r->number(prefix + "recno");
        const auto ticket = r->number(prefix + "ticket");
        if (!rec || !ticket || *rec < 1)
            return std::nullopt;
        k->recno = uint32_t(*rec);
        k->ticket = long(*ticket);
        k->customer = r->value(prefix + "customer");
        k->inDate = r->value(prefix + "in_date");
        k->inTime = r->value(prefix + "in_time");
    }
    if (p.source.empty() || p.target.empty() || p.source.find('/') != std::string::npos ||
        p.target.find('/') != std::string::npos)
        return std::nullopt;
    return p;
}

// The journal's file layer: the connection's when the store works in one.
xb::FileLayer& filesOf(xb::Connection* c) { return c ? c->files() : xb::posixFiles(); }

// Writes the whole file under a temporary name, syncs it and renames it into
// place: the file is there whole, or as it was.
bool writeDurably(xb::FileLayer& files, const std::string& path, const std::string& text, std::string& why)
{
    return xb::writeFileDurably(path, text, &why, files);
}

// The journal's text; nothing when there is no journal. `unreadable` when
// it exists but cannot be read.
std::optional<std::string> readJournal(xb::FileLayer& files, const std::string& path, bool& unreadable)
{
    unreadable = false;
    int fd = files.open(path, O_RDONLY);
    if (fd < 0) {
        unreadable = errno != ENOENT;
        return std::nullopt;
    }
    uint64_t size = 0;
    std::string text;
    bool ok = files.size(fd, size) == 0 && size < (1u << 20);
    if (ok) {
        text.resize(std::size_t(size));
        ok = files.readAll(fd, text.data(), text.size(), 0);
    }
    files.close(fd);
    if (!ok) {
        unreadable = true;
        return std::nullopt;
    }
    return text;
}

// Removes the journal once the tables agree with it; the removal reaches
// the disk before the next move can write a new one.
void removeJournal(xb::FileLayer& files, const std::string& path)
{
    files.remove(path);
    xb::syncDirectoryOf(path, files);
}

}  // namespace

// ---------------------------------------------------------------- the store

TicketStore::TicketStore(std::string directory, CounterMeaning meaning, StoreFiles files, xb::Connection* connection)
    : dir_(xb::addBackslash(directory)), meaning_(meaning), files_(std::move(files)), connection_(connection)
{
    for (char& c : dir_)
        if (c == '\\')
            c = '/';
}

std::string TicketStore::path(const std::string& name) const { return dir_ + name; }
std::string TicketStore::openTablePath() const { return path(files_.openTable); }
std::string TicketStore::counterTablePath() const { return path(files_.counterTable); }
std::string TicketStore::dayTablePath(const xb::Date& day) const { return path(catalogue::dayTableName(day)); }
std::string TicketStore::pendingPath() const { return path("tickets.pending"); }

// ---- numbering ----

namespace {
// The counter's value in the open table: nothing when it has no record or
// the field is blank; `unreadable` when the table cannot be read or the
// field holds something that is not a number (reported), which taken for 0
// would start the numbering again.
std::optional<long long> counterValue(xb::Table* t, xb::Field* f, bool& unreadable)
{
    unreadable = false;
    const int r = t->top();
    if (r == xb::kError) {
        unreadable = true;
        return std::nullopt;
    }
    if (r != xb::kSuccess || f->trimmedView().empty())
        return std::nullopt;
    const std::optional<long long> v = f->readInteger();
    if (!v) {
        xb::reportError(t->path(), f->unreadableText() + ": no ticket number can be issued");
        unreadable = true;
    }
    return v;
}

// The counter's value: nothing when the table is missing or has no record;
// `unreadable` when it exists but cannot be used.
std::optional<long long> readCounter(xb::Connection* c, const std::string& path, bool& unreadable)
{
    unreadable = false;
    if (!xb::fileExists(path))
        return std::nullopt;
    OperationConnection conn(c);
    ScopedTable t(util::mOpen(conn.get(), path));
    xb::Field* f = t ? t->field("company") : nullptr;
    if (!f) {
        if (t)
            xb::reportError(t->path(), "the table has no field company: no ticket number can be issued");
        unreadable = true;
        return std::nullopt;
    }
    return counterValue(t.get(), f, unreadable);
}
}  // namespace

long TicketStore::numberAfter(const std::optional<long long>& counter) const
{
    if (!counter)
        return kFirstTicketNo;
    const long long c = *counter;
    if (meaning_ == CounterMeaning::kLastIssued)
        return c >= 0 && c < kLastTicketNo ? long(c + 1) : kFirstTicketNo;
    return validTicketNo(c) ? long(c) : kFirstTicketNo;
}

std::optional<long> TicketStore::nextNumber()
{
    recoverPending();
    bool unreadable = false;
    std::optional<long long> counter = readCounter(connection_, counterTablePath(), unreadable);
    if (unreadable)
        return std::nullopt;
    return numberAfter(counter);
}

long TicketStore::firstFreeNumber(long from)
{
    if (!validTicketNo(from))
        from = kFirstTicketNo;
    return freeNumber(from).value_or(from);
}

std::optional<long> TicketStore::freeNumber(long from)
{
    if (!validTicketNo(from))
        from = kFirstTicketNo;
    const std::string openPath = openTablePath();
    if (!xb::fileExists(openPath))
        return from;
    OperationConnection conn(connection_);
    ScopedTable t(util::mOpen(conn.get(), openPath));
    if (!t)
        return std::nullopt;
    std::vector<bool> used(std::size_t(kLastTicketNo) + 1, false);
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1)) {
        long long n = numberOf(t.get());
        if (validTicketNo(n) && !isComplete(t.get()))
            used[std::size_t(n)] = true;
    }
    if (r == xb::kError)
        return std::nullopt;
    long n = from;
    for (long tries = 0; tries < kLastTicketNo; ++tries, n = following(n))
        if (!used[std::size_t(n)])
            return n;
    return from;  // every number is open: nothing better to offer
}

bool TicketStore::keepCounter(const std::function<std::optional<long>(const std::optional<long long>&)>& issue)
{
    const std::string path = counterTablePath();
    OperationConnection conn(connection_);
    ScopedTable t;
    if (xb::fileExists(path)) {
        t.reset(util::mOpen(conn.get(), path));
    } else {
        std::string dir = xb::directoryOf(path);
        if (!dir.empty() && !xb::directoryExists(dir) && !util::makeDir(dir))
            return false;
        t.reset(conn.get()->create(path, {{"company", 'N', 10, 0}}));
    }
    if (!t)
        return false;
    xb::Field* f = t->field("company");
    if (!f) {
        xb::reportError(t->path(), "the table has no field company: the ticket number was not kept");
        return false;
    }
    // The counter's record stays locked from its read to its write, so that
    // another program that honours the lock reads the number written, and
    // never has its own number written over.
    if (!t->lockRecord(1))
        return false;
    bool ok = false;
    bool unreadable = false;
    const std::optional<long long> counter = counterValue(t.get(), f, unreadable);
    const std::optional<long> issued = unreadable ? std::nullopt : issue(counter);
    if (issued && validTicketNo(*issued)) {
        const long long store = meaning_ == CounterMeaning::kLastIssued ? *issued : following(*issued);
        int r = t->top();
        if (r == xb::kSuccess && behindCounter(*issued, counter, meaning_)) {
            ok = true;  // another lane issued later numbers meanwhile: the counter keeps them
        } else if (r == xb::kSuccess) {
            ok = util::ireplace(t.get(), "company", store);
        } else if (r != xb::kError && t->appendStart() == xb::kSuccess) {
            t->blank();
            ok = util::ireplace(t.get(), "company", store) && t->append() == xb::kSuccess;
        }
        ok = ok && t->flush() == xb::kSuccess;
    }
    t->unlockRecord(1);
    return t.close() == xb::kSuccess && ok;
}

bool TicketStore::recordIssued(long issued)
{
    if (!validTicketNo(issued))
        return false;
    return keepCounter([issued](const std::optional<long long>&) { return std::optional<long>(issued); });
}

std::optional<long> TicketStore::issueNumber()
{
    recoverPending();
    std::optional<long> issued;
    const bool kept = keepCounter([&](const std::optional<long long>& counter) {
        issued = freeNumber(numberAfter(counter));
        return issued;
    });
    if (!kept)
        return std::nullopt;
    return issued;
}

// ---- open tickets ----

std::optional<TicketRecord> TicketStore::findOpenFor(const std::string& customer)
{
    return lookUpOpenFor(customer).ticket;
}

TicketStore::OpenLookup TicketStore::lookUpOpenFor(const std::string& customer)
{
    OpenLookup found;
    found.readable = false;
    if (!recoverPending())
        return found;
    const std::string openPath = openTablePath();
    if (!ensureTicketTable(openPath))
        return found;
    OperationConnection conn(connection_);
    ScopedTable t(util::mOpen(conn.get(), openPath));
    if (!t)
        return found;
    xb::Field* name = t->field("customer");
    if (!name)
        return found;
    // A record the header counts but the file holds only in part was stored
    // once: its ticket cannot be told, and writing on would lose it.
    if (cutShort(t.get()))
        return found;
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1))
        if (holdsName(name, customer) && !isComplete(t.get())) {
            found.ticket = recordOf(t.get());
            // A weight that is no number would be taken for 0.
            if (const std::string fault = unreadableWeight(t.get()); !fault.empty()) {
                xb::reportError(t->path(), fault + ": the open ticket cannot be weighed out");
                found.weightsReadable = false;
            }
            break;
        }
    found.readable = r != xb::kError;
    if (!found.readable)
        found.ticket.reset();
    return found;
}

namespace {
std::optional<TicketRecord> findNumber(xb::Connection* c, const std::string& path, long number, bool openOnly)
{
    if (!xb::fileExists(path))
        return std::nullopt;
    OperationConnection conn(c);
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return std::nullopt;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        if (numberOf(t.get()) == number && !(openOnly && isComplete(t.get())))
            return recordOf(t.get());
    return std::nullopt;
}
}  // namespace

std::vector<TicketRecord> TicketStore::openTickets()
{
    recoverPending();
    std::vector<TicketRecord> out;
    const std::string path = openTablePath();
    if (!xb::fileExists(path))
        return out;
    OperationConnection conn(connection_);
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return out;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        if (!isComplete(t.get()))
            out.push_back(recordOf(t.get()));
    return out;
}

std::optional<TicketRecord> TicketStore::findOpen(long number)
{
    recoverPending();
    return findNumber(connection_, openTablePath(), number, true);
}

namespace {
// The day's other tables: its copy in the month's folder and the one a
// month end is closing, where a day closed early keeps its first tickets.
std::vector<std::string> archivedDayTables(const std::string& dir, const std::string& dayPath, const xb::Date& day)
{
    std::vector<std::string> out = catalogue::dayTables(dir, day);
    const std::string live = xb::resolvePath(dayPath);
    out.erase(std::remove(out.begin(), out.end(), live), out.end());
    return out;
}
}  // namespace

std::optional<TicketRecord> TicketStore::findCompleted(const xb::Date& day, long number)
{
    recoverPending();
    const std::string dayPath = dayTablePath(day);
    if (auto found = findNumber(connection_, dayPath, number, false))
        return found;
    for (const std::string& p : archivedDayTables(dir_, dayPath, day))
        if (auto found = findNumber(connection_, p, number, false))
            return found;
    return std::nullopt;
}

TicketStore::AddResult TicketStore::addOpen(const TicketRecord& ticket, const xb::LocalTime& at,
                                            bool avoidNumbersInUse)
{
    AddResult result;
    if (!validTicketNo(ticket.ticket) || ticket.inWeight > values::kMaxWeight ||
        ticket.inWeight < values::kMinWeight) {
        result.outcome = Outcome::kBadValue;
        return result;
    }
    recoverPending();
    const long number = avoidNumbersInUse ? firstFreeNumber(ticket.ticket) : ticket.ticket;
    const std::string openPath = openTablePath();
    if (!ensureTicketTable(openPath))
        return result;
    OperationConnection conn(connection_);
    ScopedTable t(util::mOpen(conn.get(), openPath));
    if (!t || cutShort(t.get()) || t->appendStart() != xb::kSuccess)
        return result;
    t->blank();
    xb::Table* tt = t.get();
    bool ok = util::ireplace(tt, "ticket", number) && util::ireplace(tt, "in_time", values::storedTime(at)) &&
              util::replace(tt, "in_date", values::storedDate(at)) &&
              util::ireplace(tt, "in_wgt", ticket.inWeight) && util::replace(tt, "truck", ticket.truck) &&
              util::replace(tt, "customer", ticket.customer) && util::replace(tt, "product", ticket.product) &&
              util::treplace(tt, "complete", false);
    if (ok && !ticket.remarks.empty())
        ok = util::replace(tt, "remarks", ticket.remarks);
    if (!ok || t->append() != xb::kSuccess)
        return result;
    // Stored means on the disk: a ticket that cannot be flushed there is
    // taken back (marked deleted) and reported not saved.
    const uint32_t appended = t->recNo();
    if (t->flush() != xb::kSuccess) {
        takeBack(t.get(), appended);
        return result;
    }
    t.close();
    result.outcome = Outcome::kDone;
    result.number = number;
    return result;
}

// ---- moves ----

namespace {

// Writes the completed ticket into the record being appended to `to`; its
// net is that of the two weights written.
bool writeCompleted(const Captured& from, xb::Table* to, long number, const CompletedValues& v,
                    long long inWeight, const xb::LocalTime& at)
{
    const long long net = values::net(inWeight, v.outWeight);
    bool ok = util::ireplace(to, "ticket", number) && putText(from, to, "truck", v.truck) &&
              putText(from, to, "customer", v.customer) && putText(from, to, "product", v.product) &&
              putText(from, to, "in_time", v.inTime) && putText(from, to, "in_date", v.inDate) &&
              util::ireplace(to, "out_time", values::storedTime(at)) &&
              util::replace(to, "out_date", values::storedDate(at)) && util::ireplace(to, "in_wgt", inWeight) &&
              util::ireplace(to, "out_wgt", v.outWeight) && util::ireplace(to, "net_wgt", net) &&
              util::treplace(to, "complete", true);
    if (ok && (v.remarks || to->field("remarks")))
        ok = putText(from, to, "remarks", v.remarks);
    return ok;
}

// A copy of a completed ticket under another number, into the record being
// appended to the same table: every field as it is, the net written again
// from the ticket's weights.
bool writeRenumbered(const Captured& from, xb::Table* to, long number)
{
    for (const auto& [desc, bytes] : from.fields)
        if (xb::Field* f = to->field(desc.name))
            f->assignRaw(bytes);
    const long long in = util::ifetch(to, "in_wgt");
    const long long out = util::ifetch(to, "out_wgt");
    return util::ireplace(to, "ticket", number) && util::ireplace(to, "net_wgt", values::net(in, out));
}

bool weightFits(long long w) { return w >= values::kMinWeight && w <= values::kMaxWeight; }

bool valuesFit(const CompletedValues& v) { return weightFits(v.outWeight) && (!v.inWeight || weightFits(*v.inWeight)); }

}  // namespace

namespace {

// What a recorded move came to once looked at: the copy is not in its table
// (the ticket is where it was), the move is finished, or the copy is there
// but the old record could not be removed (the record of the move stays).
enum class Settled { kNotMoved, kMoved, kCopiedOnly };

// A move whose tables could not be read to tell where the ticket is counts
// as not saved: nothing is printed for a ticket that may not be stored, and
// the next operation settles the move from its record.
Outcome outcomeOf(Settled s, bool readable)
{
    switch (s) {
    case Settled::kMoved: return Outcome::kDone;
    case Settled::kCopiedOnly: return readable ? Outcome::kLeftBehind : Outcome::kNotSaved;
    default: return Outcome::kNotSaved;
    }
}

// Looks at the tables of a recorded move and finishes it: when the copy is
// in its table, the old record is removed (if it is still there); either way
// the record of the move is removed once the tables agree with it.
Settled settle(const TicketStore& store, xb::Connection* connection, const Pending& p, bool& readable)
{
    readable = true;
    OperationConnection conn(connection);
    const std::string targetPath = store.directory() + p.target;
    bool copied = false;
    if (xb::fileExists(targetPath)) {
        ScopedTable target(util::mOpen(conn.get(), targetPath));
        if (!target) {
            readable = false;
            return Settled::kCopiedOnly;
        }
        // The copy goes after the records the table holds when it is
        // appended: another program's appends between the record of the
        // move and the copy put it further on than recorded.
        Key at = p.copy;
        const uint32_t last = std::min<uint32_t>(target->recCount(), p.copy.recno + 1000);
        for (at.recno = p.copy.recno; at.recno <= last && !copied; ++at.recno)
            copied = matches(target.get(), at);
    }
    if (copied) {
        ScopedTable source(util::mOpen(conn.get(), store.directory() + p.source));
        if (!source) {
            readable = false;
            return Settled::kCopiedOnly;
        }
        if (source->recCount() >= p.from.recno && holdsKey(source.get(), p.from)) {
            if (!source->deleted() && (source->deleteRecord() != xb::kSuccess || source->flush() != xb::kSuccess))
                return Settled::kCopiedOnly;
            // A pack that fails leaves the record marked deleted, which every
            // reader passes over, and the next pack removes it.
            source->pack();
        }
    }
    removeJournal(filesOf(connection), store.pendingPath());
    return copied ? Settled::kMoved : Settled::kNotMoved;
}

}  // namespace

MoveResult TicketStore::complete(long number, const std::optional<std::string>& customer,
                                 const CompletedValues& values, const xb::LocalTime& at)
{
    MoveResult result;
    if (!validTicketNo(number) || (customer && values::trim(*customer).empty()))
        return result;
    if (!valuesFit(values)) {
        result.outcome = Outcome::kBadValue;
        return result;
    }
    if (!recoverPending()) {
        result.outcome = Outcome::kNotSaved;
        return result;
    }
    const std::string openPath = openTablePath();
    if (!ensureTicketTable(openPath))
        return result;
    OperationConnection conn(connection_);
    ScopedTable open(util::mOpen(conn.get(), openPath));
    if (!open)
        return result;
    xb::Field* name = open->field("customer");
    uint32_t found = 0;
    for (int r = open->top(); r == xb::kSuccess; r = open->skip(1))
        if (numberOf(open.get()) == number && !isComplete(open.get()) && (!customer || holdsName(name, *customer))) {
            found = open->recNo();
            break;
        }
    if (!found) {
        if (!open->readOnly())
            open->pack();
        return result;
    }
    result.outcome = Outcome::kNotSaved;
    if (open->readOnly()) {
        xb::reportError(open->path(), "the table is read-only: the open ticket cannot be removed");
        return result;
    }
    open->go(found);
    if (const std::string fault = unreadableWeight(open.get()); !fault.empty()) {
        xb::reportError(open->path(), fault + ": the ticket was not completed");
        result.outcome = Outcome::kBadValue;
        return result;
    }
    const Key from = keyOf(open.get());
    const Captured source = Captured::of(open.get());
    const long long inWeight = values.inWeight ? *values.inWeight : util::ifetch(open.get(), "in_wgt");
    if (!weightFits(values::net(inWeight, values.outWeight))) {
        result.outcome = Outcome::kBadValue;
        return result;
    }

    // The completed ticket reaches the day table, and the disk, first.
    const std::string dayPath = dayTablePath(values::dateOf(at));
    if (!ensureTicketTable(dayPath, open->textCodePage().mark()))
        return result;
    ScopedTable day(util::mOpen(conn.get(), dayPath));
    if (!day || cutShort(day.get()) || day->appendStart() != xb::kSuccess)
        return result;
    day->blank();
    xb::Table* d = day.get();
    if (!writeCompleted(source, d, number, values, inWeight, at))
        return result;

    Pending p;
    p.source = xb::baseName(open->path());
    p.target = xb::baseName(day->path());
    p.from = from;
    p.copy = {day->recCount() + 1, number, util::fetch(d, "customer"), util::fetch(d, "in_date"),
              util::fetch(d, "in_time")};
    std::string why;
    if (!writeDurably(filesOf(connection_), pendingPath(), textOf(p), why)) {
        xb::reportError(pendingPath(), "the ticket was not completed: the move cannot be recorded (" + why + ")");
        return result;
    }
    // From here on a failure is settled by looking at the tables: the
    // outcome says where the ticket is.
    auto fail = [&] {
        day.close();
        open.close();
        bool readable = true;
        const Settled settled = settle(*this, connection_, p, readable);
        result.outcome = outcomeOf(settled, readable);
        return result;
    };

    if (day->append() != xb::kSuccess)
        return fail();
    const uint32_t appended = day->recNo();
    result.stored = recordOf(d);
    if (day->flush() != xb::kSuccess) {
        takeBack(d, appended);
        return fail();
    }
    // Only then is the open ticket removed.
    if (open->go(found) != xb::kSuccess || open->deleteRecord() != xb::kSuccess || open->flush() != xb::kSuccess)
        return fail();
    open->pack();
    day.close();
    open.close();
    removeJournal(filesOf(connection_), pendingPath());
    result.outcome = Outcome::kDone;
    return result;
}

MoveResult TicketStore::renumber(long oldNumber, long newNumber, const xb::LocalTime& at)
{
    MoveResult result;
    if (!validTicketNo(oldNumber))
        return result;
    if (!validTicketNo(newNumber)) {
        result.outcome = Outcome::kBadValue;
        return result;
    }
    if (!recoverPending()) {
        result.outcome = Outcome::kNotSaved;
        return result;
    }
    const std::string dayPath = dayTablePath(values::dateOf(at));
    if (!xb::fileExists(dayPath))
        return result;
    OperationConnection conn(connection_);
    ScopedTable day(util::mOpen(conn.get(), dayPath));
    if (!day)
        return result;
    uint32_t found = 0;
    bool clash = false;
    for (int r = day->top(); r == xb::kSuccess; r = day->skip(1)) {
        const long long n = numberOf(day.get());
        if (n == oldNumber && !found)
            found = day->recNo();
        else if (n == newNumber && newNumber != oldNumber)
            clash = true;
    }
    if (!found)
        return result;
    // An open ticket's number is taken too: the truck weighed in under it
    // would complete into a day that holds it twice.
    if (!clash && newNumber != oldNumber)
        for (const std::string& p : archivedDayTables(dir_, dayPath, values::dateOf(at)))
            clash = clash || findNumber(connection_, p, newNumber, false).has_value();
    if (clash || (newNumber != oldNumber && findNumber(connection_, openTablePath(), newNumber, true))) {
        result.outcome = Outcome::kNumberInUse;
        return result;
    }
    result.outcome = Outcome::kNotSaved;
    if (day->readOnly()) {
        xb::reportError(day->path(), "the table is read-only: the ticket cannot be renumbered");
        return result;
    }
    day->go(found);
    if (const std::string fault = unreadableWeight(day.get()); !fault.empty()) {
        xb::reportError(day->path(), fault + ": the ticket was not renumbered");
        result.outcome = Outcome::kBadValue;
        return result;
    }
    const Key from = keyOf(day.get());
    const Captured source = Captured::of(day.get());
    if (cutShort(day.get()) || day->appendStart() != xb::kSuccess)
        return result;
    day->blank();
    xb::Table* d = day.get();
    if (!writeRenumbered(source, d, newNumber))
        return result;

    Pending p;
    p.source = p.target = xb::baseName(day->path());
    p.from = from;
    p.copy = {day->recCount() + 1, newNumber, util::fetch(d, "customer"), util::fetch(d, "in_date"),
              util::fetch(d, "in_time")};
    std::string why;
    if (!writeDurably(filesOf(connection_), pendingPath(), textOf(p), why)) {
        xb::reportError(pendingPath(), "the ticket was not renumbered: the move cannot be recorded (" + why + ")");
        return result;
    }
    auto fail = [&] {
        day.close();
        bool readable = true;
        const Settled settled = settle(*this, connection_, p, readable);
        result.outcome = outcomeOf(settled, readable);
        return result;
    };
    if (day->append() != xb::kSuccess)
        return fail();
    const uint32_t appended = day->recNo();
    result.stored = recordOf(d);
    if (day->flush() != xb::kSuccess) {
        takeBack(d, appended);
        return fail();
    }
    if (day->go(found) != xb::kSuccess || day->deleteRecord() != xb::kSuccess || day->flush() != xb::kSuccess)
        return fail();
    day->pack();
    day.close();
    removeJournal(filesOf(connection_), pendingPath());
    result.outcome = Outcome::kDone;
    return result;
}

bool TicketStore::recoverPending()
{
    const std::string file = pendingPath();
    bool unreadable = false;
    std::optional<std::string> text = readJournal(filesOf(connection_), file, unreadable);
    if (unreadable) {
        xb::reportError(file, "the record of a ticket move cannot be read: no ticket is moved until it can");
        return false;
    }
    if (!text)
        return true;
    std::optional<Pending> p = parsePending(*text);
    if (!p) {
        // Cut short while it was written: the move it was to record never
        // began (the record is on the disk before the first table write).
        removeJournal(filesOf(connection_), file);
        return true;
    }
    bool readable = true;
    const Settled s = settle(*this, connection_, *p, readable);
    if (s == Settled::kCopiedOnly) {
        xb::reportError(file, std::string("ticket ") + std::to_string(p->from.ticket) +
                                  (readable ? " was moved to " + p->target + " but could not be removed from " + p->source
                                            : ": an interrupted move cannot be finished, a table cannot be read"));
        return false;
    }
    return true;
}

}  // namespace store

#include "data/CodeBase.h"

#include "data/Clock.h"
#include "data/Cdx.h"
#include "data/KeyExpr.h"
#include "data/Paths.h"
#include "data/TableFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xb {

// ---------------------------------------------------------------- error report

namespace {
ErrorReport& errorReport()
{
    static ErrorReport r;
    return r;
}

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
void putLe32(unsigned char* p, uint32_t v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
    p[2] = (v >> 16) & 0xFF;
    p[3] = (v >> 24) & 0xFF;
}
void putLe16(unsigned char* p, uint16_t v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}

bool sameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y)
            return false;
    }
    return true;
}

std::string_view trimView(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\0'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0'))
        --e;
    return s.substr(b, e - b);
}

bool knownVersion(unsigned char v)
{
    switch (v) {
    case 0x02: case 0x03: case 0x30: case 0x31: case 0x32: case 0x43: case 0x63:
    case 0x83: case 0x8B: case 0xCB: case 0xE5: case 0xF5: case 0xFB:
        return true;
    default:
        return false;
    }
}

bool isVisualFoxPro(unsigned char v) { return v == 0x30 || v == 0x31 || v == 0x32; }

// A number as text in a field of this width and these decimals, rounded as
// STR() rounds (halves away from zero); nullopt when it does not fit (it is
// then refused, never stored as another number).
std::optional<std::string> fieldNumberText(double v, int width, int decimals)
{
    if (!std::isfinite(v))
        return std::nullopt;
    std::string s = formatNumber(v, width, decimals);
    if (s.empty() || s.find('*') != std::string::npos)
        return std::nullopt;
    return s;
}

// A strict decimal number: optional sign, digits, optional point and digits.
std::optional<double> strictNumber(std::string_view t)
{
    t = trimView(t);
    if (t.empty())
        return std::nullopt;
    std::size_t i = 0;
    if (t[0] == '+' || t[0] == '-')
        ++i;
    bool digits = false, point = false;
    for (std::size_t j = i; j < t.size(); ++j) {
        if (t[j] >= '0' && t[j] <= '9')
            digits = true;
        else if (t[j] == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (!digits)
        return std::nullopt;
    std::string s(t[0] == '+' ? t.substr(1) : t);
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

}  // namespace

ErrorReport setErrorReport(ErrorReport report)
{
    ErrorReport previous = std::move(errorReport());
    errorReport() = std::move(report);
    return previous;
}

void reportError(const std::string& file, const std::string& fault)
{
    EngineError e {file, fault};
    if (auto& r = errorReport())
        r(e);
    else
        std::cerr << "table engine: " << e.text() << std::endl;
}

// ---------------------------------------------------------------- fields

char* Field::slot() { return table_->rec_.data() + desc_.offset; }

std::string_view Field::raw() const
{
    return std::string_view(table_->rec_.data() + desc_.offset, std::size_t(desc_.width));
}

std::string_view Field::trimmedView() const { return trimView(raw()); }

std::string Field::text() const { return table_->f_->page->decode(trimmedView()); }

bool Field::isBlank() const
{
    std::string_view t = trimmedView();
    if (desc_.type == 'L')
        return t.empty() || t == "?";
    if (desc_.type == 'D')
        return t.empty() || t == "00000000";
    return t.empty();
}

std::optional<double> Field::readNumber() const
{
    std::string_view t = trimmedView();
    if (t.empty())
        return 0.0;
    return strictNumber(t);
}

std::optional<long long> Field::readInteger() const
{
    std::string_view t = trimmedView();
    if (t.empty())
        return 0LL;
    auto d = strictNumber(t);
    if (!d)
        return std::nullopt;
    if (t.find('.') == std::string_view::npos) {
        std::string_view digits = t[0] == '+' ? t.substr(1) : t;
        long long v = 0;
        auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        if (r.ec == std::errc() && r.ptr == digits.data() + digits.size())
            return v;
    }
    if (!std::isfinite(*d) || std::fabs(*d) > 9e18)
        return std::nullopt;
    return (long long)std::trunc(*d);
}

double Field::number() const { return readNumber().value_or(0.0); }

long long Field::integer() const { return readInteger().value_or(0); }

std::string Field::unreadableText() const
{
    return "field " + desc_.name + " holds \"" + text() + "\", which is not a number";
}

bool Field::isTrue() const
{
    std::string_view t = trimmedView();
    if (t.empty())
        return false;
    char c = t[0];
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

std::optional<Date> Field::date() const { return Date::fromText(raw()); }

bool Field::clear()
{
    if (!table_->beginChange(this))
        return false;
    std::memset(slot(), ' ', std::size_t(desc_.width));
    return true;
}

bool Field::assignRaw(std::string_view bytes)
{
    if (!table_->beginChange(this))
        return false;
    std::size_t n = std::min(bytes.size(), std::size_t(desc_.width));
    std::memcpy(slot(), bytes.data(), n);
    std::memset(slot() + n, ' ', std::size_t(desc_.width) - n);
    return true;
}

bool Field::storeNumberText(std::string_view t)
{
    if (!table_->beginChange(this))
        return false;
    std::memcpy(slot(), t.data(), std::size_t(desc_.width));
    return true;
}

bool Field::assign(std::string_view text)
{
    if (!table_->hasRecordToWrite(this))
        return false;
    switch (desc_.type) {
    case 'N':
    case 'F': {
        if (trimView(text).empty())
            return clear();
        auto v = strictNumber(text);
        if (!v) {
            table_->fail("field " + desc_.name + ": \"" + std::string(text) + "\" is not a number");
            return false;
        }
        return assignNumber(*v);
    }
    case 'L': {
        std::string_view t = trimView(text);
        if (t.empty())
            return clear();
        char c = t[0];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
            return assignLogical(true);
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
            return assignLogical(false);
        table_->fail("field " + desc_.name + ": \"" + std::string(text) + "\" is not a logical value");
        return false;
    }
    case 'D': {
        std::string_view t = trimView(text);
        if (t.empty())
            return clear();
        auto d = Date::fromText(t);
        if (!d) {
            table_->fail("field " + desc_.name + ": \"" + std::string(text) + "\" is not a date (yyyymmdd)");
            return false;
        }
        return assignDate(d);
    }
    default: {
        // What the field shows already stays as it is stored: a record the
        // program writes back unchanged keeps its bytes (blanks before the
        // text, a NUL, a byte the code page leaves undefined).
        if (text == this->text())
            return true;
        const CodePage& page = *table_->f_->page;
        const CodePage::Encoded e = page.encode(text, std::size_t(desc_.width));
        if (e.refused) {
            table_->fail("field " + desc_.name + ": the character " + e.refused->named() +
                         " cannot be stored in the table's code page, " + page.name());
            return false;
        }
        if (!table_->beginChange(this))
            return false;
        std::memcpy(slot(), e.bytes.data(), e.bytes.size());
        std::memset(slot() + e.bytes.size(), ' ', std::size_t(desc_.width) - e.bytes.size());
        return true;
    }
    }
}

bool Field::assignNumber(double value)
{
    if (!table_->hasRecordToWrite(this))
        return false;
    if (desc_.type != 'N' && desc_.type != 'F') {
        if (desc_.type == 'C') {
            auto s = fieldNumberText(value, 40, desc_.decimals);
            if (!s) {
                table_->fail("field " + desc_.name + ": the value is not a number it can hold");
                return false;
            }
            return assign(trimView(*s));
        }
        table_->fail("field " + desc_.name + " does not hold numbers");
        return false;
    }
    auto s = fieldNumberText(value, desc_.width, desc_.decimals);
    if (!s) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", std::min(desc_.decimals, 15), value);
        table_->fail("field " + desc_.name + ": the number " + buf + " does not fit its width of " +
                     std::to_string(desc_.width));
        return false;
    }
    return storeNumberText(*s);
}

bool Field::assignInteger(long long value)
{
    if (!table_->hasRecordToWrite(this))
        return false;
    if (desc_.type == 'N' || desc_.type == 'F') {
        std::string s = std::to_string(value);
        if (desc_.decimals > 0)
            s += "." + std::string(std::size_t(desc_.decimals), '0');
        if (int(s.size()) > desc_.width) {
            table_->fail("field " + desc_.name + ": the number " + std::to_string(value) +
                         " does not fit its width of " + std::to_string(desc_.width));
            return false;
        }
        return storeNumberText(std::string(std::size_t(desc_.width) - s.size(), ' ') + s);
    }
    if (desc_.type == 'C')
        return assign(std::to_string(value));
    table_->fail("field " + desc_.name + " does not hold numbers");
    return false;
}

bool Field::assignLogical(bool value)
{
    if (desc_.type != 'L' && desc_.type != 'C') {
        table_->fail("field " + desc_.name + " does not hold logical values");
        return false;
    }
    if (!table_->beginChange(this))
        return false;
    std::memset(slot(), ' ', std::size_t(desc_.width));
    slot()[0] = value ? 'T' : 'F';
    return true;
}

bool Field::assignDate(const std::optional<Date>& value)
{
    if (!table_->hasRecordToWrite(this))
        return false;
    if (desc_.type != 'D' && desc_.type != 'C') {
        table_->fail("field " + desc_.name + " does not hold dates");
        return false;
    }
    if (!value)
        return clear();
    if (!isValidDate(value->year, value->month, value->day)) {
        table_->fail("field " + desc_.name + ": not a valid date");
        return false;
    }
    return assignRaw(value->text());
}

// ---------------------------------------------------------------- tables

// ---------------------------------------------------------------- shared files

namespace {
struct Registry {
    std::mutex mutex;
    std::map<std::tuple<FileLayer*, dev_t, ino_t>, std::weak_ptr<TableFile>> files;
};
Registry& registry()
{
    static Registry r;
    return r;
}
}  // namespace

std::shared_ptr<TableFile> findOpenTable(const std::string& path, FileLayer& files)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.files.find({&files, st.st_dev, st.st_ino});
    return it == r.files.end() ? nullptr : it->second.lock();
}

void registerOpenTable(const std::shared_ptr<TableFile>& file)
{
    struct stat st;
    if (::fstat(file->fd, &st) != 0)
        return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (file->registered)
        r.files.erase({file->files, file->device, file->inode});
    file->device = st.st_dev;
    file->inode = st.st_ino;
    file->registered = true;
    r.files[{file->files, st.st_dev, st.st_ino}] = file;
}

void unregisterOpenTable(TableFile* file)
{
    if (!file->registered)
        return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.files.find({file->files, file->device, file->inode});
    if (it != r.files.end() && (it->second.expired() || it->second.lock().get() == file))
        r.files.erase(it);
    file->registered = false;
}

TableFile::~TableFile()
{
    unregisterOpenTable(this);
    index.reset();
    if (fd >= 0)
        files->close(fd);
}

// ---------------------------------------------------------------- tables

Table::Table(Connection* conn) : f_(std::make_shared<TableFile>()), conn_(conn) { f_->files = conn->files_; }

Table::~Table()
{
    auto& h = f_->handles;
    h.erase(std::remove(h.begin(), h.end(), this), h.end());
}

const std::string& Table::path() const { return f_->path; }
unsigned char Table::version() const { return f_->version; }
int Table::headerLength() const { return f_->hdrLen; }
int Table::recordLength() const { return f_->recLen; }
unsigned char Table::tableFlags() const { return f_->flags; }
unsigned char Table::codePage() const { return f_->codePage; }
const CodePage& Table::textCodePage() const { return *f_->page; }
Date Table::lastUpdate() const { return f_->lastUpdate; }
uint32_t Table::headerRecordCount() const { return f_->headerCount; }
const FieldList& Table::fieldList() const { return f_->desc; }
uint32_t Table::recCount() const { return f_->count; }
bool Table::positioned() const { return recno_ >= 1 && recno_ <= f_->count && !eof_ && !bof_; }
CdxIndex* Table::index() { return f_->index.get(); }
bool Table::needsRepair() const { return f_->headerCount != f_->count; }
uint64_t Table::fileSize() const { return f_->fileSize; }

// A handle on a file opened already (or just now): its own record buffer,
// fields and position.
void Table::attach(std::shared_ptr<TableFile> file, bool readOnly)
{
    f_ = std::move(file);
    f_->handles.push_back(this);
    readOnly_ = readOnly || f_->readOnly;
    fields_.clear();
    fields_.reserve(f_->desc.size());
    for (const auto& f : f_->desc)
        fields_.push_back(Field(this, f));
    rec_.assign(std::size_t(f_->recLen), ' ');
    orig_.assign(std::size_t(f_->recLen), ' ');
    setEof();
}

// Every other handle's change of its current record reaches the file: what
// an operation that renumbers or cuts records (a pack) needs first. A record
// being appended stays begun.
void Table::flushOthers()
{
    for (Table* h : std::vector<Table*>(f_->handles))
        if (h != this && h->changed_ && !h->appending_)
            h->flushRecord();
}

// Record `recno` was written through this handle: the other handles on it
// that hold no change of their own see it as it is now.
void Table::afterRecordWritten(uint32_t recno)
{
    for (Table* h : f_->handles)
        if (h != this && h->recno_ == recno && !h->appending_ && !h->changed_ && (h->positioned() || h->bof_))
            std::memcpy(h->rec_.data(), rec_.data(), rec_.size());
}

// Before this handle writes its changed record: the fields it did not change
// are taken as the file holds them now, so that what another handle or
// another program wrote to them meanwhile is kept. `now` is the record as
// the file holds it; it becomes the record as it was (whose keys the index
// holds).
void Table::mergeOthersChanges(const std::vector<char>& now)
{
    if (rec_[0] == orig_[0])
        rec_[0] = now[0];
    for (const FieldDesc& d : f_->desc) {
        const std::size_t at = std::size_t(d.offset), n = std::size_t(d.width);
        if (std::memcmp(rec_.data() + at, orig_.data() + at, n) == 0)
            std::memcpy(rec_.data() + at, now.data() + at, n);
    }
    orig_ = now;
}

// Closes the file when this is its last handle; false when what was
// pending could not be written.
bool Table::closeFileIfLast()
{
    if (f_->handles.size() > 1)
        return true;
    const int errorBefore = conn_->error_;
    conn_->error_ = 0;
    closeIndex();
    const bool ok = conn_->error_ == 0;
    if (ok)
        conn_->error_ = errorBefore;
    unregisterOpenTable(f_.get());
    if (f_->fd >= 0) {
        f_->files->close(f_->fd);
        f_->fd = -1;
    }
    return ok;
}

int Table::fail(const std::string& fault)
{
    reportError(f_->path, fault);
    conn_->error_ = kError;
    return kError;
}

namespace {
std::string packJournalOf(const std::string& table) { return table + ".packing"; }

// Copies the packed table `journal` over the table open at `fd` and cuts
// the table to its length; on the disk when true.
bool copyPackedInPlace(FileLayer& files, const std::string& journal, int fd, std::string& why)
{
    const int in = files.open(journal, O_RDONLY);
    uint64_t size = 0;
    if (in < 0 || files.size(in, size) != 0) {
        why = std::strerror(errno);
        if (in >= 0)
            files.close(in);
        return false;
    }
    std::vector<char> buf(std::size_t(1) << 20);
    bool ok = true;
    for (uint64_t at = 0; ok && at < size; at += buf.size()) {
        const std::size_t n = std::size_t(std::min<uint64_t>(buf.size(), size - at));
        ok = files.readAll(in, buf.data(), n, at, &why) && files.writeAll(fd, buf.data(), n, at, &why);
    }
    files.close(in);
    if (ok && (files.truncate(fd, size) != 0 || files.sync(fd) != 0)) {
        why = std::strerror(errno);
        ok = false;
    }
    return ok;
}

// Whether the directory holds a file of this name in other letters.
bool otherLetterCaseExists(const std::string& path)
{
    const std::string dir = directoryOf(path);
    const std::string name = baseName(path);
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(d))
        if (name != e->d_name && ::strcasecmp(name.c_str(), e->d_name) == 0) {
            found = true;
            break;
        }
    ::closedir(d);
    return found;
}
}  // namespace

// A pack cut short while it copied the packed table in place left the
// copy under the journal's name: it is copied again, under every lock of
// the table (whatever its layout), before the table is read.
bool Table::packJournalRedone()
{
    const std::string journal = packJournalOf(f_->path);
    struct stat st;
    if (::stat(journal.c_str(), &st) != 0)  // its exact name: one look, no search
        return true;
    constexpr uint64_t kEveryLock = 0x7FFFFFFE;  // bytes 1 .. the header's lock byte
    std::string why;
    if (!waitForLock(f_->fd, 1, kEveryLock, "the table", why)) {
        fail(why + ": a pack cut short cannot be finished");
        return false;
    }
    bool ok = true;
    if (::stat(journal.c_str(), &st) == 0) {  // else another program finished it meanwhile
        ok = copyPackedInPlace(*f_->files, journal, f_->fd, why);
        if (ok) {
            f_->packRedone = true;
            f_->files->remove(journal);
            syncDirectoryOf(journal, *f_->files);
        } else {
            fail("a pack cut short cannot be finished (" + why + ")");
        }
    }
    // Let go of the range but for the locks this process held before.
    std::vector<std::pair<uint64_t, uint64_t>> held;  // [from, end)
    if (f_->tableLocks > 0)
        held.emplace_back(f_->tableLockStart, f_->tableLockStart + f_->tableLockLength);
    for (const auto& [at, holders] : f_->recordLocks)
        held.emplace_back(at, at + 1);
    std::sort(held.begin(), held.end());
    uint64_t from = 1;
    for (const auto& [a, b] : held) {
        if (a > from)
            f_->files->unlock(f_->fd, from, a - from);
        from = std::max(from, b);
    }
    if (from < 1 + kEveryLock)
        f_->files->unlock(f_->fd, from, 1 + kEveryLock - from);
    return ok;
}

bool Table::openFile(const std::string& givenPath)
{
    std::string p = givenPath;
    if (baseName(p).find('.') == std::string::npos)
        p += ".dbf";
    f_->path = resolvePath(p);

    auto bad = [&](const std::string& fault) {
        fail(fault);
        return false;
    };

    FileLayer& files = *f_->files;
    f_->fd = conn_->readOnly_ ? -1 : files.open(f_->path, O_RDWR);
    if (conn_->readOnly_ || (f_->fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))) {
        f_->fd = files.open(f_->path, O_RDONLY);
        f_->readOnly = true;
    }
    if (f_->fd < 0) {
        if (errno == ENOENT)
            return bad("the table does not exist");
        return bad(std::string("the table cannot be opened (") + std::strerror(errno) + ")");
    }
    if (!f_->readOnly && !packJournalRedone())
        return false;
    struct stat st;
    if (::fstat(f_->fd, &st) != 0)
        return bad(std::string("the table cannot be examined (") + std::strerror(errno) + ")");
    if (!S_ISREG(st.st_mode))
        return bad("not a table: not a regular file");
    f_->fileSize = uint64_t(st.st_size);
    f_->seenTime = st.st_mtim;

    if (f_->fileSize == 0)
        return bad("not a table: the file is empty");
    unsigned char h[32];
    if (f_->fileSize < 32 || !files.readAll(f_->fd, h, 32, 0))
        return bad("not a table: the file ends inside its 32-byte header (" + std::to_string(f_->fileSize) +
                   " bytes)");
    f_->version = h[0];
    if (!knownVersion(f_->version)) {
        char b[8];
        std::snprintf(b, sizeof b, "0x%02X", f_->version);
        return bad(std::string("not a table: unknown version byte ") + b);
    }
    // Writers disagree on the year byte: most write year - 1900, some year -
    // 2000. No table predates 1980, so a small value is a year of this century.
    f_->lastUpdate = Date {h[1] < 80 ? 2000 + h[1] : 1900 + h[1], h[2], h[3]};
    f_->headerCount = le32(h + 4);
    f_->hdrLen = le16(h + 8);
    f_->recLen = le16(h + 10);
    f_->flags = h[28];
    f_->codePage = h[29];
    f_->page = &CodePage::ofMark(h[29]);

    const int backlink = isVisualFoxPro(f_->version) ? 263 : 0;
    if (f_->hdrLen < 32 + 32 + 1)
        return bad("damaged header: the header length " + std::to_string(f_->hdrLen) +
                   " is too small to hold one field");
    if (uint64_t(f_->hdrLen) > f_->fileSize)
        return bad("damaged header: the header length " + std::to_string(f_->hdrLen) +
                   " runs past the end of the file (" + std::to_string(f_->fileSize) + " bytes)");
    if (f_->recLen < 2)
        return bad("damaged header: the record length " + std::to_string(f_->recLen) + " is too small");

    f_->header.resize(std::size_t(f_->hdrLen));
    if (!files.readAll(f_->fd, f_->header.data(), f_->header.size(), 0))
        return bad("the header cannot be read");
    const auto* hb = reinterpret_cast<const unsigned char*>(f_->header.data());

    // The header length says where the records start; the descriptors are
    // read up to it (or to their 0x0D terminator), never past it.
    int maxFields = (f_->hdrLen - 32 - 1 - backlink) / 32;
    if (maxFields < 1)
        return bad("damaged header: the header length " + std::to_string(f_->hdrLen) +
                   " is smaller than its field descriptors need");
    std::vector<FieldDesc> fields;
    bool terminated = false;
    for (int i = 0; i < maxFields; ++i) {
        const unsigned char* d = hb + 32 + 32 * i;
        if (d[0] == 0x0D) {
            terminated = true;
            break;
        }
        FieldDesc f;
        int n = 0;
        while (n < 11 && d[n] != 0)
            ++n;
        f.name.assign(reinterpret_cast<const char*>(d), std::size_t(n));
        while (!f.name.empty() && f.name.back() == ' ')
            f.name.pop_back();
        for (char& c : f.name)
            if (c >= 'a' && c <= 'z')
                c = char(c - 32);
        f.type = char(d[11]);
        f.width = d[16];
        f.decimals = d[17];
        if (f.name.empty())
            return bad("damaged header: field " + std::to_string(i + 1) + " has no name");
        fields.push_back(std::move(f));
    }
    if (fields.empty())
        return bad("damaged header: the table has no fields");
    if (!terminated) {
        // The terminator may be missing or replaced (0x0A is seen); then the
        // descriptors fill the header up to its end. A descriptor cut by the
        // header length is a fault the record length check below reports.
        (void)terminated;
    }

    auto layout = [&](bool wideChars) {
        int off = 1;
        for (auto& f : fields) {
            int w = f.width;
            if (wideChars && f.type == 'C')
                w = f.width + 256 * f.decimals;
            f.offset = off;
            off += w;
        }
        return off;
    };
    int total = layout(false);
    if (total != f_->recLen) {
        // Some writers keep the high byte of a long character field's width
        // in its decimals byte.
        int wide = layout(true);
        if (wide == f_->recLen) {
            for (auto& f : fields)
                if (f.type == 'C') {
                    f.width += 256 * f.decimals;
                    f.decimals = 0;
                }
        } else {
            return bad("damaged header: the record length " + std::to_string(f_->recLen) +
                       " disagrees with the fields, which need " + std::to_string(total));
        }
    }
    for (const auto& f : fields)
        if (f.width == 0)
            return bad("damaged header: field " + f.name + " has no width");

    f_->desc = fields;

    // The records are the whole ones the file holds, whatever the header
    // counts: an append cut short before its count was written, or another
    // program's count left behind, must not hide records (the next append
    // would write over them). A trailing partial record is not one. The
    // count is put right by the next write.
    uint64_t whole = (f_->fileSize - uint64_t(f_->hdrLen)) / uint64_t(f_->recLen);
    f_->count = uint32_t(std::min<uint64_t>(whole, UINT32_MAX - 1));

    attach(f_, conn_->readOnly_);
    return true;
}

bool Table::readRecordRaw(uint32_t n, char* out)
{
    if (n >= f_->cacheFirst && n < f_->cacheFirst + f_->cacheCount) {
        std::memcpy(out, f_->cache.data() + std::size_t(n - f_->cacheFirst) * std::size_t(f_->recLen), std::size_t(f_->recLen));
        return true;
    }
    // Read ahead a run of records when the walk goes on from the last run:
    // sequential walks then cost one read per run, while a jump (a seek, a
    // walk in index order) reads a few kilobytes only.
    const bool sequential = f_->cacheCount > 0 && n == f_->cacheFirst + f_->cacheCount;
    const std::size_t bytes = sequential || n == 1 ? 256 * 1024 : 4096;
    uint32_t run = uint32_t(std::max<std::size_t>(1, bytes / std::size_t(f_->recLen)));
    run = std::min<uint32_t>(run, f_->count - n + 1);
    f_->cache.resize(std::size_t(run) * std::size_t(f_->recLen));
    uint64_t off = uint64_t(f_->hdrLen) + uint64_t(n - 1) * uint64_t(f_->recLen);
    if (!f_->files->readAll(f_->fd, f_->cache.data(), f_->cache.size(), off)) {
        f_->cacheCount = 0;
        fail("record " + std::to_string(n) + " cannot be read (" + std::strerror(errno ? errno : EIO) + ")");
        return false;
    }
    f_->cacheFirst = n;
    f_->cacheCount = run;
    std::memcpy(out, f_->cache.data(), std::size_t(f_->recLen));
    return true;
}

bool Table::loadRecord(uint32_t n)
{
    if (!readRecordRaw(n, rec_.data()))
        return false;
    gen_ = f_->generation;
    recno_ = n;
    eof_ = bof_ = false;
    return true;
}

void Table::setEof()
{
    recno_ = f_->count + 1;
    eof_ = true;
    bof_ = false;
    std::memset(rec_.data(), ' ', rec_.size());
}

void Table::setBof()
{
    recno_ = 0;
    bof_ = true;
    eof_ = false;
    std::memset(rec_.data(), ' ', rec_.size());
}

bool Table::liveAt(uint32_t n)
{
    return loadRecord(n) && rec_[0] != '*';
}

bool Table::hasRecordToWrite(const Field* f)
{
    if (appending_ || positioned())
        return true;
    const char* where = f_->count == 0 ? "the table holds no record"
                        : bof_      ? "the pointer is before the first record"
                                    : "the pointer is past the last record";
    fail("field " + (f ? f->name() : std::string("?")) + ": there is no current record (" + where +
         "); the value was not stored");
    return false;
}

bool Table::beginChange(const Field* f)
{
    if (!hasRecordToWrite(f))
        return false;
    beginChange();
    return true;
}

void Table::beginChange()
{
    if (!changed_ && !appending_)
        std::memcpy(orig_.data(), rec_.data(), rec_.size());
    changed_ = true;
}

Field* Table::field(std::string_view name)
{
    std::string_view n = trimView(name);
    for (auto& f : fields_)
        if (sameNoCase(f.name(), n))
            return &f;
    return nullptr;
}

Field* Table::fieldAt(int position)
{
    if (position < 1 || position > int(fields_.size()))
        return nullptr;
    return &fields_[std::size_t(position - 1)];
}

int Table::top()
{
    if (leaveRecord() != kSuccess || !catchUp(true) || !tagStillThere())
        return kError;
    if (tag_ >= 0)
        return navigateTag(0, 0);
    for (uint32_t n = 1; n <= f_->count; ++n) {
        if (!loadRecord(n))
            return kError;
        if (rec_[0] != '*')
            return kSuccess;
    }
    setEof();
    return kEof;
}

int Table::bottom()
{
    if (leaveRecord() != kSuccess || !catchUp(true) || !tagStillThere())
        return kError;
    if (tag_ >= 0)
        return navigateTag(1, 0);
    for (uint32_t n = f_->count; n >= 1; --n) {
        if (!loadRecord(n))
            return kError;
        if (rec_[0] != '*')
            return kSuccess;
    }
    setEof();
    return kEof;
}

int Table::skip(long n)
{
    if (leaveRecord() != kSuccess)
        return kError;
    // In an index's order, what another program wrote is looked at (the
    // index pages may be stale); in record order a walk reads on.
    if ((tag_ >= 0 || !lostTag_.empty()) && (!catchUp(true) || !tagStillThere()))
        return kError;
    if (tag_ >= 0)
        return navigateTag(2, n);
    if (n == 0)
        return positioned() ? kSuccess : (eof_ ? kEof : kBof);
    long step = n > 0 ? 1 : -1;
    long left = n > 0 ? n : -n;
    // Before the start the pointer stays on the first record, as xBase keeps
    // it: a skip forward goes on from there.
    int64_t cur = eof_ ? int64_t(f_->count) + 1 : int64_t(recno_);
    while (left > 0) {
        cur += step;
        if (cur > int64_t(f_->count)) {
            setEof();
            return kEof;
        }
        if (cur < 1) {
            // Before the first record: stay on the first live one, as xBase does.
            int r = top();
            bof_ = true;
            return r == kError ? kError : kBof;
        }
        if (!loadRecord(uint32_t(cur)))
            return kError;
        if (rec_[0] != '*')
            --left;
    }
    return kSuccess;
}

int Table::go(uint32_t record)
{
    if (leaveRecord() != kSuccess)
        return kError;
    if (record > f_->count && !catchUp(true))  // another program may have appended it
        return kError;
    if (record < 1 || record > f_->count)
        return fail("there is no record " + std::to_string(record) + " (the table holds " +
                    std::to_string(f_->count) + ")");
    if (!loadRecord(record))
        return kError;
    if (tag_ >= 0 && f_->index) {
        // Keep the tag position in step with the record.
        tagKey_.clear();
    }
    return kSuccess;
}

bool Table::pwriteAll(const void* data, std::size_t n, uint64_t off, std::string& why)
{
    return f_->files->writeAll(f_->fd, data, n, off, &why);
}

namespace {
bool sameDay(const Date& d, const LocalTime& t) { return d.year == t.year && d.month == t.month && d.day == t.day; }
}  // namespace

bool Table::writeHeaderCount(std::string& why)
{
    Held held(*this);
    if (!held.record(0, why))
        return false;
    // Bytes 1 to 7: date of the last update and the record count, in one write.
    // The day of this write: a table kept open over midnight is stamped
    // with the day it was last written.
    const LocalTime day = now();
    const Date t {day.year, day.month, day.day};
    unsigned char b[7];
    b[0] = (unsigned char)(std::clamp(t.year - 1900, 0, 255));
    b[1] = (unsigned char)t.month;
    b[2] = (unsigned char)t.day;
    putLe32(b + 3, f_->count);
    if (!pwriteAll(b, sizeof b, 1, why))
        return false;
    f_->lastUpdate = t;
    f_->headerCount = f_->count;
    std::memcpy(f_->header.data() + 1, b, sizeof b);
    // The index flag says exactly whether the production index exists.
    unsigned char want = f_->indexFileExists ? (f_->flags | 0x01) : (f_->flags & ~0x01);
    if (want != f_->flags) {
        if (!pwriteAll(&want, 1, 28, why))
            return false;
        f_->flags = want;
        f_->header[28] = char(want);
    }
    f_->dirtyData = true;
    return true;
}

int Table::flushRecord()
{
    if (changed_ && !appending_ && !positioned())
        changed_ = false;  // nothing of it is carried to the record loaded next
    if (!changed_ || appending_ || !positioned())
        return kSuccess;
    const std::string notSaved = "the change to record " + std::to_string(recno_) + " was not saved";
    auto refuse = [&](const std::string& why) {
        std::memcpy(rec_.data(), orig_.data(), rec_.size());
        changed_ = false;
        return fail(why + ": " + notSaved);
    };
    if (readOnly_)
        return refuse("the table is read-only");
    // The record's lock, and the header's while the index is changed with it.
    std::string why;
    Held held(*this);
    if (!held.record(recno_, why) || ((f_->index || f_->indexFileExists) && !held.record(0, why)))
        return refuse(why);
    if (!catchUp()) {
        std::memcpy(rec_.data(), orig_.data(), rec_.size());
        changed_ = false;
        return kError;
    }
    if (!f_->lost.empty())
        return refuse(f_->lost);
    if (recno_ > f_->count)
        return refuse("another program removed the record from the table");
    if (!indexWritable(why) || !markIndexChanging(why))
        return refuse(why);
    std::vector<char> now(rec_.size());
    if (!readRecordFromDisk(recno_, now.data())) {
        std::memcpy(rec_.data(), orig_.data(), rec_.size());
        changed_ = false;
        return kError;
    }
    // After another program packed the table, the record under this number
    // is the one read only when it is unchanged.
    // A pack in place followed by appends leaves the count as it was: the
    // record read then lies under an earlier number.
    if (std::memcmp(now.data(), orig_.data(), now.size()) != 0 &&
        (gen_ != f_->generation || liesEarlier(recno_, orig_.data())))
        return refuse("another program packed the table since the record was read, and it now holds another "
                      "record under that number");
    mergeOthersChanges(now);
    uint64_t off = uint64_t(f_->hdrLen) + uint64_t(recno_ - 1) * uint64_t(f_->recLen);
    if (!pwriteAll(rec_.data(), rec_.size(), off, why)) {
        // Put the old bytes back so the record is as it was.
        std::string ignored;
        pwriteAll(orig_.data(), orig_.size(), off, ignored);
        std::memcpy(rec_.data(), orig_.data(), rec_.size());
        changed_ = false;
        return fail("record " + std::to_string(recno_) + " cannot be written (" + why + ")");
    }
    f_->dirtyData = true;
    gen_ = f_->generation;
    if (recno_ >= f_->cacheFirst && recno_ < f_->cacheFirst + f_->cacheCount)
        std::memcpy(f_->cache.data() + std::size_t(recno_ - f_->cacheFirst) * std::size_t(f_->recLen), rec_.data(),
                    rec_.size());
    changed_ = false;
    afterRecordWritten(recno_);
    int r = kSuccess;
    if ((f_->headerCount != f_->count || !sameDay(f_->lastUpdate, xb::now())) && !writeHeaderCount(why))
        r = fail("the header cannot be written (" + why + ")");
    else if (!updateIndexForChange(orig_.data(), rec_.data(), recno_))
        r = kError;
    noteOwnWrite();
    return r;
}

int Table::leaveRecord()
{
    if (appending_) {
        // A record begun but not appended is given up when the pointer moves.
        appending_ = false;
        changed_ = false;
        return kSuccess;
    }
    return flushRecord();
}

int Table::appendStart()
{
    if (flushRecord() != kSuccess)
        return kError;
    appending_ = true;
    changed_ = false;
    rec_[0] = ' ';
    return kSuccess;
}

void Table::blank()
{
    if (!appending_ && positioned())
        beginChange();
    std::memset(rec_.data() + 1, ' ', rec_.size() - 1);
}

int Table::append()
{
    if (!appending_)
        return fail("append without a record begun");
    if (readOnly_) {
        appending_ = false;
        return fail("the table is read-only: the new record was not saved");
    }
    // The header's lock for the whole append, and the file as it is now:
    // the record goes after the last whole record the file holds, whoever
    // wrote it.
    std::string why;
    Held held(*this);
    if (!held.record(0, why)) {
        appending_ = false;
        return fail(why + ": the new record was not saved");
    }
    if (!catchUp()) {
        appending_ = false;
        return kError;
    }
    if (!f_->lost.empty()) {
        appending_ = false;
        return fail(f_->lost + ": the new record was not saved");
    }
    if (!indexWritable(why)) {
        appending_ = false;
        return fail(why + ": the new record was not saved");
    }
    if (f_->count >= UINT32_MAX - 1) {
        appending_ = false;
        return fail("the table is full");
    }
    // The index is marked as being changed before the table is: a crash
    // between the two then makes the next open rebuild it.
    if (!markIndexChanging(why)) {
        appending_ = false;
        return fail(why + ": the new record was not saved");
    }
    // A count that disagrees with the file is put right first, so that at
    // any moment at most the one record being appended is uncounted.
    if (f_->headerCount != f_->count && !writeHeaderCount(why)) {
        appending_ = false;
        return fail("the header cannot be written (" + why + "): the new record was not saved");
    }
    rec_[0] = ' ';
    // The record, then the end mark, then the count: a crash at any moment
    // leaves the table as it was, with the new record whole but not yet
    // counted (the next open finds it), or with it counted.
    uint64_t off = uint64_t(f_->hdrLen) + uint64_t(f_->count) * uint64_t(f_->recLen);
    std::vector<char>& buf = f_->appendBuf;
    buf.resize(rec_.size() + 1);
    std::memcpy(buf.data(), rec_.data(), rec_.size());
    buf.back() = 0x1A;
    const uint64_t oldSize = f_->fileSize;  // never less than off: the count is of whole records
    auto undo = [&] {
        // Give back what was written and put the end mark back where it was.
        std::string ignored;
        if (f_->files->truncate(f_->fd, oldSize) != 0) {
        }
        if (oldSize > off) {
            char eofMark = 0x1A;
            pwriteAll(&eofMark, 1, off, ignored);
        }
        appending_ = false;
        changed_ = false;
    };
    if (!pwriteAll(buf.data(), buf.size(), off, why)) {
        undo();
        return fail("the new record cannot be written (" + why + ")");
    }
    ++f_->count;
    if (!writeHeaderCount(why)) {
        --f_->count;
        undo();
        return fail("the header cannot be written (" + why + ")");
    }
    // The record went after every whole record the file holds, over at most
    // a partial one, so the file ends at its end mark.
    f_->fileSize = std::max(f_->fileSize, off + buf.size());
    appending_ = false;
    changed_ = false;
    recno_ = f_->count;
    gen_ = f_->generation;
    eof_ = bof_ = false;
    noteOwnAppend(recno_);
    const bool indexed = insertIndexKeys(rec_.data(), recno_);
    noteOwnWrite();
    return indexed ? kSuccess : kError;
}

int Table::discardRecordsAfter(uint32_t keep)
{
    if (leaveRecord() != kSuccess)
        return kError;
    if (keep >= f_->count)
        return kSuccess;
    if (readOnly_)
        return fail("the table is read-only: the records appended could not be taken back");
    // Only while no other program wrote after them: the cut would take
    // what it wrote as well.
    std::string why;
    Held held(*this);
    if (!held.table(why))
        return fail(why + ": the records appended could not be taken back");
    const uint32_t mine = f_->count;
    const uint64_t generation = f_->generation;
    if (!catchUp())
        return kError;
    if (!f_->lost.empty() || f_->count != mine || f_->generation != generation)
        return fail("another program wrote to the table meanwhile: the records appended could not be taken back");
    // Records another program appended before this handle's last ones stay:
    // the cut goes just before this handle's records.
    if (!appendedRuns_.empty() && runsGen_ == f_->generation && appendedRuns_.back().second == f_->count &&
        appendedRuns_.back().first > keep + 1) {
        const uint32_t first = appendedRuns_.back().first;
        for (std::size_t i = 0; i + 1 < appendedRuns_.size(); ++i)
            if (appendedRuns_[i].second > keep && appendedRuns_[i].first < first)
                return fail("another program appended records among these: the records appended could not be taken "
                            "back");
        keep = first - 1;
    }
    if (!markIndexChanging(why))
        return fail(why + ": the records appended could not be taken back");
    // The file is cut first and the count written after: a crash between
    // the two leaves a header counting more than the file holds, which the
    // next open reads as the records the file holds.
    const uint64_t end = uint64_t(f_->hdrLen) + uint64_t(keep) * uint64_t(f_->recLen);
    const char eofMark = 0x1A;
    if (f_->files->truncate(f_->fd, end) != 0 || !pwriteAll(&eofMark, 1, end, why)) {
        if (why.empty())
            why = std::strerror(errno);
        return fail("the records appended could not be taken back (" + why + ")");
    }
    f_->fileSize = end + 1;
    f_->count = keep;
    f_->cacheCount = 0;
    for (Table* h : f_->handles)
        if (h->recno_ > keep && !h->appending_)
            h->setEof();
    setEof();
    if (!writeHeaderCount(why))
        return fail("the header cannot be written (" + why + ")");
    int r = syncToDisk() ? kSuccess : kError;
    if (!rebuildIndex(""))
        r = kError;
    noteOwnWrite();
    return r;
}

// This handle's appends, as runs of consecutive records: what a take-back
// may cut.
void Table::noteOwnAppend(uint32_t recno)
{
    if (runsGen_ != f_->generation)
        appendedRuns_.clear();
    runsGen_ = f_->generation;
    if (!appendedRuns_.empty() && appendedRuns_.back().second + 1 == recno) {
        appendedRuns_.back().second = recno;
        return;
    }
    if (appendedRuns_.size() >= 64)
        appendedRuns_.erase(appendedRuns_.begin());
    appendedRuns_.emplace_back(recno, recno);
}

int Table::appendBlank()
{
    if (appendStart() != kSuccess)
        return kError;
    blank();
    return append();
}

int Table::deleteRecord()
{
    if (!positioned())
        return fail("delete: no current record");
    beginChange();
    rec_[0] = '*';
    return kSuccess;
}

int Table::recall()
{
    if (!positioned())
        return fail("recall: no current record");
    beginChange();
    rec_[0] = ' ';
    return kSuccess;
}

bool Table::syncToDisk()
{
    if (!f_->dirtyData)
        return true;
    if (f_->files->sync(f_->fd) != 0) {
        fail(std::string("the table cannot be flushed to disk (") + std::strerror(errno) + ")");
        return false;
    }
    f_->dirtyData = false;
    return true;
}

int Table::flush()
{
    int r = flushRecord();
    if (!syncToDisk())
        r = kError;
    // The index's mark is taken away below: only once it agrees with the
    // table as the file is now (another program may have died in the
    // middle of a pack or an append, leaving its mark to this one).
    if (f_->index && !readOnly_ && !catchUp())
        r = kError;
    if (!flushIndex())
        r = kError;
    return r;
}

int Table::pack()
{
    if (leaveRecord() != kSuccess)
        return kError;
    if (readOnly_)
        return fail("the table is read-only: it was not packed");
    // What other handles on the table changed is in it before it is packed.
    flushOthers();
    // The table's lock for the whole pack, and the records the file holds
    // then: what another program added or changed is packed with them.
    std::string why;
    Held held(*this);
    if (!held.table(why))
        return fail(why + ": the table was not packed");
    if (!catchUp())
        return kError;
    if (!usableForWrites("the table was not packed"))
        return kError;
    // The records as the file holds them, not as read ahead: another
    // program's change in the clock tick of our last write leaves no later
    // file time to be seen by.
    f_->cacheCount = 0;
    // A program that writes without the locks may still write meanwhile:
    // then the pack starts again from what the file holds.
    for (int attempt = 0;; ++attempt) {
        bool changedMeanwhile = false;
        int r = packOnce(changedMeanwhile);
        if (!changedMeanwhile)
            return r;
        if (attempt == 2)
            return fail("the table was not packed: another program kept writing to it");
        if (!catchUp())
            return kError;
        if (!usableForWrites("the table was not packed"))
            return kError;
    }
}

int Table::packOnce(bool& changedMeanwhile)
{
    std::string why;
    // The packed table is written beside the old one and flushed to disk
    // before any of it is written over the table.
    FileLayer& files = *f_->files;
    std::string tmp;
    int out = files.makeTemporary(f_->path + ".pack-", tmp);
    if (out < 0)
        return fail(std::string("the table was not packed: no file can be made beside it (") +
                    std::strerror(errno) + ")");
    auto abandon = [&](const std::string& fault) {
        files.close(out);
        files.remove(tmp);
        return fail("the table was not packed: " + fault);
    };

    std::vector<char> head = f_->header;
    std::vector<char> buf;
    buf.reserve(std::size_t(1) << 20);
    uint32_t kept = 0;
    uint64_t off = uint64_t(f_->hdrLen);
    auto writeOut = [&](const char* p, std::size_t n, uint64_t at) { return files.writeAll(out, p, n, at, &why); };
    std::vector<char> rec(static_cast<std::size_t>(f_->recLen), 0);
    std::vector<uint32_t> renumbered(std::size_t(f_->count) + 1, 0);  // old record number -> new, 0 when removed
    for (uint32_t n = 1; n <= f_->count; ++n) {
        if (!readRecordRaw(n, rec.data())) {
            files.close(out);
            files.remove(tmp);
            return kError;
        }
        if (rec[0] == '*')
            continue;
        buf.insert(buf.end(), rec.begin(), rec.end());
        ++kept;
        renumbered[n] = kept;
        if (buf.size() >= (std::size_t(1) << 20)) {
            if (!writeOut(buf.data(), buf.size(), off))
                return abandon(why);
            off += buf.size();
            buf.clear();
        }
    }
    buf.push_back(0x1A);
    if (!writeOut(buf.data(), buf.size(), off))
        return abandon(why);
    off += buf.size();
    LocalTime t = now();
    auto* hb = reinterpret_cast<unsigned char*>(head.data());
    hb[1] = (unsigned char)std::clamp(t.year - 1900, 0, 255);
    hb[2] = (unsigned char)t.month;
    hb[3] = (unsigned char)t.day;
    putLe32(hb + 4, kept);
    if (!writeOut(head.data(), head.size(), 0))
        return abandon(why);
    struct stat st;
    if (::fstat(f_->fd, &st) == 0)
        ::fchmod(out, st.st_mode & 07777);
    if (files.sync(out) != 0)
        return abandon(std::string("it cannot be flushed to disk (") + std::strerror(errno) + ")");
    // The file is written over only when it still holds what was packed.
    if (f_->exclusiveHolders == 0 && changedByOthers()) {
        files.close(out);
        files.remove(tmp);
        changedMeanwhile = true;
        return kError;
    }
    files.close(out);
    // The old index no longer matches once the packed records are in
    // place: mark it interrupted first, so a crash before the new index is
    // in place makes the next open rebuild it.
    prepareIndexForPack();
    // The packed table is copied over the table in place, so that programs
    // holding the file open go on writing the table. The copy, whole and on
    // the disk, takes the journal's name first: a crash while it is copied
    // leaves it, and the next open copies it again (packJournalRedone).
    const std::string journal = packJournalOf(f_->path);
    if (files.rename(tmp, journal) != 0) {
        int e = errno;
        files.remove(tmp);
        return fail(std::string("the table was not packed: its copy cannot be kept (") + std::strerror(e) + ")");
    }
    syncDirectoryOf(journal, files);
    if (!copyPackedInPlace(files, journal, f_->fd, why)) {
        // The index keeps its mark (it is let go unwritten), so the next
        // open rebuilds it for the packed table.
        if (f_->index) {
            f_->index->abandon();
            f_->index.reset();
        }
        f_->lost = "a pack was cut short (" + why + "); the table is packed at its next open";
        return fail(f_->lost);
    }
    files.remove(journal);
    syncDirectoryOf(journal, files);
    f_->header = head;
    f_->count = f_->headerCount = kept;
    f_->lastUpdate = Date {t.year, t.month, t.day};
    f_->fileSize = off;
    f_->cacheCount = 0;
    f_->dirtyData = false;
    changed_ = false;
    // The other handles stay on their records under the new numbers; one
    // whose record was removed is past the end.
    for (Table* h : f_->handles) {
        if (h == this || h->appending_)
            continue;
        const uint32_t was = h->recno_;
        const bool onRecord = !h->eof_ && was >= 1 && was < renumbered.size() && renumbered[was] != 0;
        if (onRecord)
            h->recno_ = renumbered[was];
        else
            h->setEof();
    }
    noteOwnWrite();
    const bool indexed = rebuildIndex("");
    noteOwnWrite();
    setEof();
    return indexed ? kSuccess : kError;
}

int Table::close()
{
    int r = leaveRecord();
    if (flush() != kSuccess)
        r = kError;
    if (exclusive_) {
        exclusive_ = false;
        --f_->exclusiveHolders;
        releaseTableLock();
    }
    if (!closeFileIfLast())
        r = kError;
    conn_->forget(this);  // destroys this handle (and the file's state with its last one)
    return r;
}

// ---------------------------------------------------------------- connections

Connection::Connection(FileLayer& files) : files_(&files) {}

Connection::~Connection() { closeAll(); }

void Connection::closeAll()
{
    while (!tables_.empty())
        tables_.back()->close();
}

void Connection::forget(Table* t)
{
    for (auto it = tables_.begin(); it != tables_.end(); ++it)
        if (it->get() == t) {
            std::unique_ptr<Table> gone = std::move(*it);
            tables_.erase(it);
            return;
        }
}

namespace {
// Files a pack, a create or an index rebuild writes beside a table and
// renames into place; one left behind by a process killed in the middle is
// removed once it is old enough that no other program can still be writing it.
void removeStaleTemporaries(const std::string& tablePath, FileLayer& files)
{
    const std::string dir = directoryOf(tablePath);
    const std::string base = baseName(tablePath);
    const std::string indexBase = baseName(replaceExtension(tablePath, ".cdx"));
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return;
    const time_t cutoff = ::time(nullptr) - 3600;
    while (dirent* e = ::readdir(d)) {
        std::string_view n(e->d_name);
        bool ours = false;
        for (const std::string* b : {&base, &indexBase})
            for (const char* mark : {".pack-", ".new-"})
                if (n.size() == b->size() + std::strlen(mark) + 6 && n.substr(0, b->size()) == *b &&
                    n.substr(b->size(), std::strlen(mark)) == mark)
                    ours = true;
        if (!ours)
            continue;
        std::string full = dir + std::string(n);
        struct stat st;
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < cutoff)
            files.remove(full);
    }
    ::closedir(d);
}
}  // namespace

Table* Connection::open(std::string_view path)
{
    auto t = std::unique_ptr<Table>(new Table(this));
    std::string p(path);
    if (baseName(p).find('.') == std::string::npos)
        p += ".dbf";
    // A table open already in the process is the same table here, with
    // what other programs wrote to it since taken in.
    Table* raw = t.get();
    if (auto open = findOpenTable(resolvePath(p), *files_)) {
        t->attach(open, readOnly_);
        tables_.push_back(std::move(t));
        if (!raw->catchUp(true)) {
            raw->close();
            return nullptr;
        }
    } else {
        if (!t->openFile(p))
            return nullptr;
        if (!readOnly_)
            registerOpenTable(t->f_);
        if (!t->readOnly())
            removeStaleTemporaries(t->path(), *files_);
        tables_.push_back(std::move(t));
    }
    if (exclusive_ && !raw->readOnly()) {
        // Held whole from here to its close.
        if (!raw->lockTable()) {
            raw->close();
            return nullptr;
        }
        raw->exclusive_ = true;
        ++raw->f_->exclusiveHolders;
    }
    if (!raw->f_->index && !raw->f_->indexUnreadable && !raw->f_->indexStale && raw->f_->indexPath.empty())
        raw->openIndex();
    return raw;
}

Table* Connection::create(std::string_view path, const std::vector<FieldSpec>& fields)
{
    return create(path, fields, {});
}

namespace {
bool validFieldName(const std::string& n)
{
    if (n.empty() || n.size() > 10)
        return false;
    if (!(std::isalpha((unsigned char)n[0]) || n[0] == '_'))
        return false;
    for (char c : n)
        if (!(std::isalnum((unsigned char)c) || c == '_'))
            return false;
    return true;
}
}  // namespace

Table* Connection::create(std::string_view pathIn, const std::vector<FieldSpec>& fields,
                          const std::vector<TagSpec>& tags, unsigned char codePageMark)
{
    std::string p(pathIn);
    if (baseName(p).find('.') == std::string::npos)
        p += ".dbf";
    const std::string path = resolvePath(p);
    auto bad = [&](const std::string& fault) -> Table* {
        reportError(path, fault);
        error_ = kError;
        return nullptr;
    };
    if (safety_ && fileExists(path))
        return bad("the table was not created: the file exists already");
    if (findOpenTable(path, *files_))
        return bad("the table was not created: the table is open, and replacing it would lose what is written "
                   "through it");
    if (fields.empty() || fields.size() > 255)
        return bad("the table was not created: a table has 1 to 255 fields");
    int recLen = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldSpec& f = fields[i];
        std::string up = f.name;
        for (char& c : up)
            c = char(std::toupper((unsigned char)c));
        if (!validFieldName(up))
            return bad("the table was not created: \"" + f.name + "\" is not a field name");
        for (std::size_t j = 0; j < i; ++j)
            if (sameNoCase(fields[j].name, f.name))
                return bad("the table was not created: field " + up + " is named twice");
        bool ok = true;
        switch (f.type) {
        case 'C': ok = f.width >= 1 && f.width <= 254 && f.decimals == 0; break;
        case 'N':
        case 'F': ok = f.width >= 1 && f.width <= 20 && f.decimals >= 0 && (f.decimals == 0 || f.decimals <= f.width - 2); break;
        case 'L': ok = f.width == 1 && f.decimals == 0; break;
        case 'D': ok = f.width == 8 && f.decimals == 0; break;
        default: return bad("the table was not created: field " + up + " has the unknown type " + f.type);
        }
        if (!ok)
            return bad("the table was not created: field " + up + " has an impossible width or decimals");
        recLen += f.width;
    }
    if (recLen > 65535)
        return bad("the table was not created: its records would be too long");

    int hdrLen = 32 + 32 * int(fields.size()) + 1;
    std::vector<unsigned char> h(std::size_t(hdrLen) + 1, 0);
    LocalTime t = now();
    h[0] = 0x03;
    h[1] = (unsigned char)std::clamp(t.year - 1900, 0, 255);
    h[2] = (unsigned char)t.month;
    h[3] = (unsigned char)t.day;
    putLe32(&h[4], 0);
    putLe16(&h[8], uint16_t(hdrLen));
    putLe16(&h[10], uint16_t(recLen));
    h[28] = tags.empty() ? 0x00 : 0x01;
    h[29] = codePageMark;
    int off = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = &h[32 + 32 * i];
        std::string up = fields[i].name;
        for (char& c : up)
            c = char(std::toupper((unsigned char)c));
        std::memcpy(d, up.data(), up.size());
        d[11] = (unsigned char)fields[i].type;
        putLe32(d + 12, uint32_t(off));
        d[16] = (unsigned char)fields[i].width;
        d[17] = (unsigned char)fields[i].decimals;
        off += fields[i].width;
    }
    h[std::size_t(hdrLen) - 1] = 0x0D;
    h[std::size_t(hdrLen)] = 0x1A;

    // Written under a temporary name and renamed into place, so that
    // overwriting a table (safety off) never leaves half of either. With
    // safety on the rename never replaces a file: one another program made
    // since the check above is kept, and this create refused.
    FileLayer& files = *files_;
    std::string tmp;
    int fd = files.makeTemporary(path + ".new-", tmp);
    if (fd < 0)
        return bad(std::string("the table was not created (") + std::strerror(errno) + ")");
    ::fchmod(fd, 0666 & ~[] { mode_t m = ::umask(0); ::umask(m); return m; }());
    std::string why;
    bool ok = files.writeAll(fd, h.data(), h.size(), 0, &why);
    if (ok && files.sync(fd) != 0) {
        ok = false;
        why = std::strerror(errno);
    }
    if (files.close(fd) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok && (safety_ ? files.renameNoReplace(tmp, path) : files.rename(tmp, path)) != 0) {
        ok = false;
        why = errno == EEXIST ? std::string("another program made a file of that name meanwhile, and it was kept")
                              : std::string(std::strerror(errno));
    }
    if (ok && safety_ && otherLetterCaseExists(path)) {
        // Another program made the table under its name in other letters
        // meanwhile: that is this table to every reader here.
        files.remove(path);
        ok = false;
        why = "another program made a file of that name meanwhile, and it was kept";
    }
    if (!ok) {
        files.remove(tmp);
        return bad("the table was not created (" + why + ")");
    }
    // The index goes in place after the table: a create refused above has
    // touched no index of the table another program made.
    if (!tags.empty() && !Table::createIndexFor(path, tags, fields, files, why)) {
        files.remove(path);
        syncDirectoryOf(path, files);
        return bad("the table was not created (" + why + ")");
    }
    syncDirectoryOf(path, files);
    if (tags.empty()) {
        // A production index left by an earlier table of this name no longer
        // belongs to anything.
        std::string cdx = resolvePath(replaceExtension(path, ".cdx"));
        if (fileExists(cdx))
            files.remove(cdx);
    }
    Table* created = open(path);
    if (created)
        created->setEof();
    return created;
}

}  // namespace xb

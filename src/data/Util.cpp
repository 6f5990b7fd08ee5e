#include "data/Util.h"

#include "data/Paths.h"

#include <sys/stat.h>
#include <unordered_map>

namespace util {

Connection* openData() { return new Connection(); }

void closeData(Connection* connection) { delete connection; }

Table* mOpen(Connection* connection, std::string_view path, std::string_view tag)
{
    if (!connection)
        return nullptr;
    Table* t = connection->open(path);
    if (!t)
        return nullptr;
    if (!tag.empty()) {
        if (!t->selectTag(tag)) {
            xb::reportError(t->path(), "the index has no tag " + std::string(tag));
            t->close();
            return nullptr;
        }
        t->top();
    }
    return t;
}

int seek(Table* table, std::string_view key) { return table ? table->seek(key) : xb::kError; }

std::string fetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f ? f->text() : std::string();
}

bool fetch(Table* table, std::string_view field, std::string& out)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    out = f ? f->text() : std::string();
    return f != nullptr;
}

long long ifetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f ? f->integer() : 0;
}

std::optional<long long> ifetchChecked(Table* table, std::string_view field, std::string* fault)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    if (!f)
        return 0LL;
    auto v = f->readInteger();
    if (!v && fault)
        *fault = "record " + std::to_string(table->recNo()) + ": " + f->unreadableText();
    return v;
}

bool tfetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f && f->isTrue();
}

std::optional<xb::Date> dtfetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f ? f->date() : std::nullopt;
}

namespace {
xb::Field* writable(Table* table, std::string_view field)
{
    if (!table)
        return nullptr;
    xb::Field* f = table->field(field);
    if (!f)
        xb::reportError(table->path(), "the table has no field " + std::string(field));
    return f;
}
}  // namespace

bool replace(Table* table, std::string_view field, std::string_view value)
{
    xb::Field* f = writable(table, field);
    return f && f->assign(value);
}

bool ireplace(Table* table, std::string_view field, long long value)
{
    xb::Field* f = writable(table, field);
    return f && f->assignInteger(value);
}

bool dreplace(Table* table, std::string_view field, double value)
{
    xb::Field* f = writable(table, field);
    return f && f->assignNumber(value);
}

bool treplace(Table* table, std::string_view field, bool value)
{
    xb::Field* f = writable(table, field);
    return f && f->assignLogical(value);
}

bool makeDir(std::string_view path)
{
    if (xb::makeDir(path))
        return true;
    xb::reportError(std::string(path), "the directory cannot be created");
    return false;
}

bool fileCopy(std::string_view source, std::string_view target)
{
    std::string why;
    if (xb::copyFile(source, target, &why))
        return true;
    xb::reportError(std::string(target), "the file was not copied: " + why);
    return false;
}

namespace {
// Puts the source record's values into the record being built in the target:
// the bytes as they are where both fields are alike (of one type, width and
// decimals, and text of one code page), else the value. False
// when a value cannot be read (`unreadable` then names the field) or does
// not fit (reported by the engine, naming the field).
bool copyInto(const std::vector<std::pair<xb::Field*, xb::Field*>>& pairs, std::string& unreadable)
{
    for (auto [tf, sf] : pairs) {
        bool same = tf->type() == sf->type() && tf->width() == sf->width() && tf->decimals() == sf->decimals() &&
                    (tf->type() != 'C' || &tf->table().textCodePage() == &sf->table().textCodePage());
        bool ok = true;
        if (same) {
            ok = tf->assignRaw(sf->raw());
        } else if ((tf->type() == 'N' || tf->type() == 'F') && (sf->type() == 'N' || sf->type() == 'F')) {
            auto v = sf->readNumber();
            if (!v) {
                unreadable = sf->unreadableText();
                return false;
            }
            ok = sf->isBlank() ? tf->clear() : tf->assignNumber(*v);
        } else {
            ok = tf->assign(sf->text());
        }
        if (!ok)
            return false;
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat x, y;
    return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// Holds a table's lock for as long as it lives.
struct TableLock {
    Table* t;
    bool held;
    explicit TableLock(Table* table) : t(table), held(table->lockTable()) {}
    ~TableLock()
    {
        if (held)
            t->unlockTable();
    }
};
// Reports a source record that could not be copied: a value that cannot be
// read (named by `unreadable`), or one the target cannot hold.
void reportNotCopied(xb::Table* src, xb::Table* dst, const std::string& unreadable)
{
    const std::string record = "record " + std::to_string(src->recNo());
    if (!unreadable.empty())
        xb::reportError(src->path(), record + ": " + unreadable + ": nothing was appended to " + dst->path());
    else
        xb::reportError(dst->path(), record + " of " + src->path() + " does not fit the table: nothing was appended");
}

}  // namespace

bool cbAppendFrom(std::string_view sourcePath, std::string_view targetPath)
{
    Connection conn;
    Table* src = conn.open(sourcePath);
    if (!src)
        return false;
    Table* dst = conn.open(targetPath);
    if (!dst)
        return false;
    if (src->sameFile(*dst) || sameFile(src->path(), dst->path())) {
        xb::reportError(dst->path(), "a table cannot be appended to itself: nothing was appended");
        return false;
    }
    // Pairs of (target field, source field) matched by name.
    std::vector<std::pair<xb::Field*, xb::Field*>> pairs;
    for (int i = 1; i <= dst->fieldCount(); ++i) {
        xb::Field* tf = dst->fieldAt(i);
        if (xb::Field* sf = src->field(tf->name()))
            pairs.emplace_back(tf, sf);
    }
    std::string lacking;
    for (int i = 1; i <= src->fieldCount(); ++i)
        if (!dst->field(src->fieldAt(i)->name()))
            lacking += (lacking.empty() ? "" : ", ") + src->fieldAt(i)->name();
    if (dst->readOnly()) {
        xb::reportError(dst->path(), "the table is read-only: nothing was appended from " + src->path());
        return false;
    }
    // No program that honours the locks writes the target meanwhile: the
    // records appended can be taken back should a write fail.
    TableLock lock(dst);
    if (!lock.held)
        return false;

    // Every record is tried first, so that a value that cannot be read, or
    // that the target cannot hold, stops the whole append before anything
    // is written.
    for (int r = src->top(); r != xb::kEof; r = src->skip(1)) {
        if (r != xb::kSuccess)
            return false;
        if (dst->appendStart() != xb::kSuccess)
            return false;
        dst->blank();
        std::string unreadable;
        if (!copyInto(pairs, unreadable)) {
            reportNotCopied(src, dst, unreadable);
            dst->top();  // gives up the record begun
            return false;
        }
    }
    dst->top();
    if (!lacking.empty())
        xb::reportError(dst->path(), "the table has no field " + lacking + " of " + src->path() +
                                         ": those values were not appended");

    const uint32_t before = dst->recCount();
    bool ok = true;
    std::string ignored;
    for (int r = src->top(); ok && r != xb::kEof; r = src->skip(1)) {
        ok = r == xb::kSuccess && dst->appendStart() == xb::kSuccess;
        if (ok) {
            dst->blank();
            ok = copyInto(pairs, ignored) && dst->append() == xb::kSuccess;
        }
    }
    if (ok)
        ok = dst->flush() == xb::kSuccess;
    if (!ok) {
        // A write failed part of the way: the records appended are taken
        // back, so the target is as it was.
        dst->discardRecordsAfter(before);
        if (dst->recCount() == before)
            xb::reportError(dst->path(), "nothing was appended from " + src->path());
        return false;
    }
    return true;
}

std::optional<long> cbAppendMissing(const std::vector<std::string>& sources, std::string_view targetPath)
{
    Connection conn;
    Table* dst = conn.open(targetPath);
    if (!dst)
        return std::nullopt;
    if (dst->readOnly()) {
        xb::reportError(dst->path(), "the table is read-only: nothing was appended");
        return std::nullopt;
    }
    // No program that honours the locks writes the target between the look
    // at what it holds and the appends, and the appends can be taken back.
    TableLock lock(dst);
    if (!lock.held)
        return std::nullopt;
    // What the target holds: its live records' bytes, deletion mark aside.
    const std::size_t width = std::size_t(dst->recordLength() - 1);
    std::unordered_map<std::string, long> held;
    int r = dst->top();
    for (; r == xb::kSuccess; r = dst->skip(1))
        ++held[std::string(dst->recordBuffer() + 1, width)];
    if (r != xb::kEof)
        return std::nullopt;

    const uint32_t before = dst->recCount();
    long appended = 0;
    auto takeBack = [&] {
        dst->discardRecordsAfter(before);
        return std::nullopt;
    };
    for (const std::string& sourcePath : sources) {
        Table* src = conn.open(sourcePath);
        if (!src)
            return takeBack();
        std::vector<std::pair<xb::Field*, xb::Field*>> pairs;
        for (int i = 1; i <= dst->fieldCount(); ++i) {
            xb::Field* tf = dst->fieldAt(i);
            if (xb::Field* sf = src->field(tf->name()))
                pairs.emplace_back(tf, sf);
        }
        for (r = src->top(); r == xb::kSuccess; r = src->skip(1)) {
            if (dst->appendStart() != xb::kSuccess)
                return takeBack();
            dst->blank();
            std::string unreadable;
            if (!copyInto(pairs, unreadable)) {
                reportNotCopied(src, dst, unreadable);
                return takeBack();
            }
            auto it = held.find(std::string(dst->recordBuffer() + 1, width));
            if (it != held.end() && it->second > 0) {
                --it->second;  // held already; the next appendStart drops this one
                continue;
            }
            if (dst->append() != xb::kSuccess)
                return takeBack();
            ++appended;
        }
        if (r != xb::kEof)
            return takeBack();
        src->close();
    }
    dst->top();  // gives up a record begun and not appended
    if (dst->flush() != xb::kSuccess)
        return takeBack();
    return appended;
}

std::string date4format(std::string_view stored, std::string_view picture)
{
    return xb::formatDate(stored, picture);
}

}  // namespace util

// A table shared with the site's other xBase programs: what they wrote since
// this process last looked at the file is taken in before every write, and
// writes take the byte-range locks those programs honour.
//
// The locks: one byte each, above the data of any table the format allows.
// The header is record 0, locked at 0x7FFFFFFE; record n at 0x7FFFFFFE - n.
// The table lock takes the header and every record a table of this layout
// can hold. They are locks of the open file (not of the process), so a
// second open of the table, even in this process, is excluded as another
// program is.

#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TableFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace xb {

namespace {

constexpr uint64_t kHeaderLockAt = 0x7FFFFFFE;

std::atomic<long long>& lockWaitMs()
{
    static std::atomic<long long> ms {5000};
    return ms;
}

bool later(const timespec& a, const timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

// The file as `st` shows it is not as this process last knew it.
bool changedBetween(const TableFile& f, const struct stat& st)
{
    return uint64_t(st.st_size) != f.fileSize || later(st.st_mtim, f.seenTime);
}

uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

std::string lockName(uint32_t record)
{
    return record == 0 ? "its header" : "record " + std::to_string(record);
}

}  // namespace

std::chrono::milliseconds setLockWait(std::chrono::milliseconds wait)
{
    return std::chrono::milliseconds(lockWaitMs().exchange(std::max<long long>(0, wait.count())));
}

std::chrono::milliseconds lockWait() { return std::chrono::milliseconds(lockWaitMs().load()); }

// ---------------------------------------------------------------- locks

bool Table::waitForLock(int fd, uint64_t offset, uint64_t length, const std::string& what, std::string& why)
{
    FileLayer& files = *f_->files;
    const auto deadline = std::chrono::steady_clock::now() + lockWait();
    auto pause = std::chrono::milliseconds(2);
    for (;;) {
        if (files.lock(fd, offset, length) == 0)
            return true;
        const int e = errno;
        // A file system that keeps no locks (some network shares): there is
        // nothing to honour, and the checks before each write still hold.
        if (e == ENOLCK || e == EINVAL || e == EOPNOTSUPP || e == ENOSYS)
            return true;
        if (e != EAGAIN && e != EACCES) {
            why = what + " cannot be locked (" + std::strerror(e) + ")";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            const long long s = (lockWait().count() + 500) / 1000;
            why = "another program keeps " + what + " locked (waited " +
                  (s >= 1 ? std::to_string(s) + " s" : std::to_string(lockWait().count()) + " ms") + ")";
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

bool Table::holdRecordLock(uint32_t record, std::string& why)
{
    TableFile& f = *f_;
    if (f.readOnly || f.fd < 0)
        return true;
    const uint64_t at = kHeaderLockAt - std::min<uint64_t>(record, kHeaderLockAt - 1);
    int& holders = f.recordLocks[at];
    if (holders == 0 && f.tableLocks == 0 && !waitForLock(f.fd, at, 1, "the table's " + lockName(record), why)) {
        f.recordLocks.erase(at);
        return false;
    }
    ++holders;
    return true;
}

void Table::releaseRecordLock(uint32_t record)
{
    TableFile& f = *f_;
    if (f.readOnly || f.fd < 0)
        return;
    const uint64_t at = kHeaderLockAt - std::min<uint64_t>(record, kHeaderLockAt - 1);
    auto it = f.recordLocks.find(at);
    if (it == f.recordLocks.end())
        return;
    if (--it->second > 0)
        return;
    f.recordLocks.erase(it);
    if (f.tableLocks == 0)
        f.files->unlock(f.fd, at, 1);
}

bool Table::holdTableLock(std::string& why)
{
    TableFile& f = *f_;
    if (f.readOnly || f.fd < 0)
        return true;
    if (f.tableLocks == 0) {
        // Every record a table of this layout can hold before its data would
        // reach the locks, and the header.
        uint64_t records = (kHeaderLockAt - std::min<uint64_t>(uint64_t(f.hdrLen), kHeaderLockAt - 1)) /
                           (uint64_t(f.recLen) + 1);
        records = std::min<uint64_t>(std::max<uint64_t>(records, uint64_t(f.count) + 1), kHeaderLockAt - 1);
        f.tableLockStart = kHeaderLockAt - records;
        f.tableLockLength = records + 1;
        if (!waitForLock(f.fd, f.tableLockStart, f.tableLockLength, "the table", why))
            return false;
    }
    ++f.tableLocks;
    return true;
}

void Table::releaseTableLock()
{
    TableFile& f = *f_;
    if (f.readOnly || f.fd < 0 || f.tableLocks == 0)
        return;
    if (--f.tableLocks > 0)
        return;
    // Let go of the range but for the single bytes still held on their own.
    uint64_t from = f.tableLockStart;
    const uint64_t end = f.tableLockStart + f.tableLockLength;
    for (const auto& [at, holders] : f.recordLocks) {
        if (at < from || at >= end)
            continue;
        if (at > from)
            f.files->unlock(f.fd, from, at - from);
        from = at + 1;
    }
    if (from < end)
        f.files->unlock(f.fd, from, end - from);
}

bool Table::lockRecord(uint32_t record)
{
    std::string why;
    if (holdRecordLock(record, why))
        return true;
    fail(why);
    return false;
}

void Table::unlockRecord(uint32_t record) { releaseRecordLock(record); }

bool Table::lockTable()
{
    std::string why;
    if (holdTableLock(why))
        return true;
    fail(why);
    return false;
}

void Table::unlockTable() { releaseTableLock(); }

// ---------------------------------------------------------------- other programs' writes

// After each write: other programs that keep the index's pages learn that
// they changed, and the file's changes up to now are this process's own.
void Table::noteOwnWrite()
{
    if (f_->index) {
        std::string fault;
        if (!f_->index->publish(fault))
            reportError(f_->indexPath, fault);
    }
    if (f_->exclusiveHolders == 0)
        ::clock_gettime(CLOCK_REALTIME, &f_->seenTime);
}

// The record as the file holds it now, past the read-ahead.
bool Table::readRecordFromDisk(uint32_t n, char* out)
{
    const uint64_t off = uint64_t(f_->hdrLen) + uint64_t(n - 1) * uint64_t(f_->recLen);
    if (f_->files->readAll(f_->fd, out, std::size_t(f_->recLen), off))
        return true;
    fail("record " + std::to_string(n) + " cannot be read (" + std::strerror(errno ? errno : EIO) + ")");
    return false;
}

// The file was unlinked: another program packed the table by writing a new
// file and renaming it over this one (or removed it). The table is the file
// now at the path, when it has the same layout; the locks held move to it.
bool Table::followReplacement()
{
    TableFile& f = *f_;
    FileLayer& files = *f.files;
    // Should the file be replaced again while its locks are taken, the one
    // renamed over it last is the table: a few tries.
    for (int tries = 0; tries < 5; ++tries) {
        const int fd = files.open(f.path, f.readOnly ? O_RDONLY : O_RDWR);
        if (fd < 0) {
            f.lost = errno == ENOENT ? "another program removed the table"
                                     : std::string("another program replaced the table, and the new file cannot be "
                                                   "opened (") +
                                           std::strerror(errno) + ")";
            return true;
        }
        std::vector<char> head(f.header.size());
        struct stat st;
        if (::fstat(fd, &st) != 0 || uint64_t(st.st_size) < head.size() ||
            !files.readAll(fd, head.data(), head.size(), 0) ||
            std::memcmp(head.data() + 8, f.header.data() + 8, 4) != 0 ||
            std::memcmp(head.data() + 32, f.header.data() + 32, head.size() - 32) != 0) {
            files.close(fd);
            f.lost = "another program replaced the table with one of another layout";
            return true;
        }
        // The locks held on the old file are taken on the new one before it
        // is used: another program may hold them there meanwhile.
        std::string why;
        bool locked = true;
        if (f.tableLocks > 0)
            locked = waitForLock(fd, f.tableLockStart, f.tableLockLength, "the table", why);
        for (const auto& [at, holders] : f.recordLocks)
            if (locked && f.tableLocks == 0)
                locked = waitForLock(fd, at, 1, "the table's " + lockName(uint32_t(kHeaderLockAt - at)), why);
        if (!locked) {
            files.close(fd);
            fail(why);
            return false;
        }
        // Still the file at the path, now that it is locked?
        struct stat now;
        if (::stat(f.path.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
            files.close(fd);  // its locks go with it
            continue;
        }
        files.close(f.fd);
        f.fd = fd;
        if (f.registered)
            registerOpenTable(f_);
        return true;
    }
    fail("another program keeps replacing the table");
    return false;
}

// Takes in what another program wrote since this process last looked: a
// file renamed over this one, records appended or cut, a changed header.
// The read-ahead is dropped, the count taken from the records the file
// holds, the index opened again when another program changed it, and
// rebuilt when another program changed the number of records without it.
// False (reported) only when the file cannot be examined; a file that is no
// longer the table is noted in `lost`, and every write refuses it. A read
// looks at the table file only (the index is looked at when the table
// changed): an index another program changed alone is read as it was
// when opened until the next write.
bool Table::catchUp(bool reading)
{
    TableFile& f = *f_;
    if (f.exclusiveHolders > 0 || f.fd < 0 || !f.lost.empty())
        return true;
    struct stat st;
    if (::fstat(f.fd, &st) != 0) {
        fail(std::string("the table cannot be examined (") + std::strerror(errno) + ")");
        return false;
    }
    bool replaced = st.st_nlink == 0;
    bool tableChanged = replaced || changedBetween(f, st);
    if (reading && !tableChanged)
        return true;
    // Another program's pack cut short while it copied the packed table in
    // place is finished before anything is written. Looked for before every
    // write: the copy may have changed the file within the clock tick of
    // this process's last write, which its time does not show.
    if (!reading && !replaced && !f.readOnly) {
        if (!packJournalRedone())
            return false;
        if (::fstat(f.fd, &st) != 0) {
            fail(std::string("the table cannot be examined (") + std::strerror(errno) + ")");
            return false;
        }
        tableChanged = tableChanged || f.packRedone;
    }
    const bool indexChanged = f.index && f.index->changedOnDisk();
    if (!tableChanged && !indexChanged)
        return true;

    const uint32_t before = f.count;
    bool renumbered = f.packRedone;
    if (replaced) {
        if (!followReplacement())
            return false;
        if (!f.lost.empty())
            return true;
        if (::fstat(f.fd, &st) != 0) {
            fail(std::string("the table cannot be examined (") + std::strerror(errno) + ")");
            return false;
        }
        renumbered = true;
    }
    unsigned char h[32];
    if (uint64_t(st.st_size) < uint64_t(f.hdrLen) || !f.files->readAll(f.fd, h, sizeof h, 0)) {
        f.lost = "another program cut the table short of its header";
        return true;
    }
    if (le16(h + 8) != f.hdrLen || le16(h + 10) != f.recLen) {
        f.lost = "another program changed the table's layout";
        return true;
    }
    std::memcpy(f.header.data(), h, sizeof h);
    f.headerCount = le32(h + 4);
    f.flags = h[28];
    f.lastUpdate = Date {h[1] < 80 ? 2000 + h[1] : 1900 + h[1], h[2], h[3]};
    f.fileSize = uint64_t(st.st_size);
    const uint64_t whole = (f.fileSize - uint64_t(f.hdrLen)) / uint64_t(f.recLen);
    f.count = uint32_t(std::min<uint64_t>(whole, UINT32_MAX - 1));
    if (f.count < before)
        renumbered = true;
    if (renumbered)
        ++f.generation;
    f.cacheCount = 0;
    if (later(st.st_mtim, f.seenTime))
        f.seenTime = st.st_mtim;
    for (Table* h2 : f.handles)
        if (h2->eof_)
            h2->recno_ = f.count + 1;

    if (f.packRedone) {
        // The index was marked for the pack, but a program still writing
        // may have cleared the mark: it is built for the packed records.
        if (f.index) {
            f.packRedone = false;
            rebuildIndex("another program's pack was cut short; it was finished");
        } else if (fileExists(f.indexPath)) {
            reopenIndex();  // rebuilds it
        }
        f.packRedone = false;
    } else if (indexChanged || replaced || (!f.index && !f.indexStale && fileExists(f.indexPath))) {
        reopenIndex();
        // One program may have appended without the index and another then
        // changed the index: the records appended must be in it.
        if (f.index && !renumbered && f.count > before && !indexHoldsRecords(before + 1, f.count))
            rebuildIndex("another program appended to the table without its index");
    } else if (f.index && f.count != before) {
        // The other program changed the number of records and left the
        // index as it was: its keys are not the table's.
        rebuildIndex("another program changed the table without its index");
    }
    return true;
}

// Whether every tag holds the entries of records first..last (the last 256
// of them at most: what one look after another program's appends needs).
bool Table::indexHoldsRecords(uint32_t first, uint32_t last)
{
    CdxIndex& index = *f_->index;
    std::vector<char> rec(std::size_t(f_->recLen));
    for (uint32_t n = std::max(first, last > 256 ? last - 255 : 1u); n <= last; ++n) {
        if (!f_->files->readAll(f_->fd, rec.data(), rec.size(),
                                uint64_t(f_->hdrLen) + uint64_t(n - 1) * uint64_t(f_->recLen)))
            return false;
        for (int t = 0; t < index.tagCount(); ++t) {
            const auto key = index.recordKey(t, rec.data());
            if (!key || index.tag(t).unique)
                continue;
            IndexEntry e;
            IdxStatus st = index.seek(t, *key, e);
            int steps = 0;
            while (st == IdxStatus::Ok && e.key == *key && e.recno != n && ++steps < 10000) {
                const IndexEntry from = e;
                st = index.next(t, from, e);
            }
            if (st != IdxStatus::Ok || e.key != *key || e.recno != n)
                return false;
        }
    }
    return true;
}

// Whether the record `rec`, read under number n, is now in the file under
// an earlier number (the 4096 before it at most): another program packed
// the table, and what lies under n is another record.
bool Table::liesEarlier(uint32_t n, const char* rec)
{
    const std::size_t len = std::size_t(f_->recLen);
    const uint32_t per = uint32_t(std::max<std::size_t>(1, (std::size_t(1) << 16) / len));
    std::vector<char> buf;
    const uint32_t lowest = n > 4096 ? n - 4096 : 1;
    for (uint32_t hi = n; hi > lowest;) {
        const uint32_t lo = std::max(lowest, hi > per ? hi - per : 1u);
        buf.resize(std::size_t(hi - lo) * len);
        if (!f_->files->readAll(f_->fd, buf.data(), buf.size(), uint64_t(f_->hdrLen) + uint64_t(lo - 1) * len))
            return false;
        for (uint32_t k = 0; k < hi - lo; ++k)
            if (std::memcmp(buf.data() + std::size_t(k) * len, rec, len) == 0)
                return true;
        hi = lo;
    }
    return false;
}

// Whether another program wrote the file since this process last looked
// (or removed it): what a pack asks before it puts its new file in place.
bool Table::changedByOthers()
{
    struct stat st;
    return ::fstat(f_->fd, &st) != 0 || st.st_nlink == 0 || changedBetween(*f_, st);
}

void Table::reopenIndex()
{
    std::vector<std::pair<Table*, std::string>> selected;
    for (Table* h : f_->handles)
        if (f_->index && h->tag_ >= 0)
            selected.emplace_back(h, f_->index->tag(h->tag_).name);
    for (Table* h : f_->handles)
        h->tag_ = -1;
    if (f_->index) {
        std::string fault;
        f_->index->close(fault);
        f_->index.reset();
    }
    f_->indexUnreadable = false;
    f_->indexFault.clear();
    openIndex();
    if (!f_->index) {
        for (auto& [h, name] : selected)
            h->lostTag_ = name;
        return;
    }
    for (auto& [h, name] : selected) {
        h->tag_ = f_->index->findTag(name);
        if (h->tag_ < 0)
            h->lostTag_ = name;
    }
}

// False (reported) when another program wrote the index anew without the
// tag this handle walks by: going on in record order would be a wrong
// answer. Until another tag (or record order) is selected.
bool Table::tagStillThere()
{
    if (lostTag_.empty())
        return true;
    fail("another program wrote the index anew without the tag " + lostTag_ +
         ": the table cannot be read in its order");
    return false;
}

// Whether a write may go ahead: the table is still the file, and its index
// can be kept up to date. Reported (with what was not saved) when not.
bool Table::usableForWrites(const char* what)
{
    if (!f_->lost.empty()) {
        fail(f_->lost + ": " + what);
        return false;
    }
    std::string why;
    if (!indexWritable(why)) {
        fail(why + ": " + what);
        return false;
    }
    return true;
}

}  // namespace xb

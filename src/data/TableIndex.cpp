// A table and its production index: opening it, keeping every tag right as
// records change, navigating and seeking in tag order, and rebuilding an
// index found broken.

#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TableFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xb {

namespace {
FieldList descFromSpecs(const std::vector<FieldSpec>& specs)
{
    FieldList list;
    int off = 1;
    for (const auto& s : specs) {
        FieldDesc d;
        d.name = s.name;
        for (char& c : d.name)
            if (c >= 'a' && c <= 'z')
                c = char(c - 32);
        d.type = s.type;
        d.offset = off;
        d.width = s.width;
        d.decimals = s.decimals;
        off += s.width;
        list.push_back(d);
    }
    return list;
}

// A temporary name beside `path`, for a file renamed into place when whole.
// Readable by the site's other programs as the file it replaces is, or as a
// new file is made under the process's umask.
std::string tempBeside(const std::string& path, FileLayer& files)
{
    std::string name;
    int fd = files.makeTemporary(path + ".new-", name);
    if (fd < 0)
        return {};
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        ::fchmod(fd, st.st_mode & 07777);
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    files.close(fd);
    return name;
}
}  // namespace

bool Table::createIndexFor(const std::string& tablePath, const std::vector<TagSpec>& tags,
                           const std::vector<FieldSpec>& fields, FileLayer& files, std::string& why)
{
    std::string cdx = resolvePath(replaceExtension(tablePath, ".cdx"));
    std::string tmp = tempBeside(cdx, files);
    if (tmp.empty()) {
        why = std::string("the index cannot be written (") + std::strerror(errno) + ")";
        return false;
    }
    std::string fault;
    if (!CdxIndex::build(tmp, tags, descFromSpecs(fields), 0, [](uint32_t) -> RecordPtr { return nullptr; },
                         fault, files)) {
        files.remove(tmp);
        why = "the index cannot be written: " + fault;
        return false;
    }
    if (files.rename(tmp, cdx) != 0) {
        why = std::string("the index cannot be put in place (") + std::strerror(errno) + ")";
        files.remove(tmp);
        return false;
    }
    return true;
}

void Table::openIndex()
{
    f_->indexPath = resolvePath(replaceExtension(f_->path, ".cdx"));
    f_->indexFileExists = fileExists(f_->indexPath);
    if (!f_->indexFileExists)
        return;
    std::string fault;
    f_->index = CdxIndex::open(f_->indexPath, f_->desc, fault, readOnly_, *f_->files, f_->page);
    if (!f_->index) {
        // Without its tag directory the tags are not known, so the index
        // cannot be rebuilt: the table is read in record order, and nothing
        // is written to it (its index would no longer agree with it) until
        // the index can be read. The administrator is told.
        reportError(f_->indexPath, "the index cannot be read (" + fault +
                                    "); the table is read without it, and nothing is written to it until it can be");
        f_->indexUnreadable = true;
        f_->indexFault = fault;
        return;
    }
    f_->indexUnreadable = false;
    f_->indexFault.clear();
    // An index left in the middle of a change is rebuilt; a read-only open
    // (a check) leaves it to be reported.
    if ((f_->index->foundInterrupted() || f_->packRedone) && !readOnly_) {
        f_->packRedone = false;
        rebuildIndex("the index was left in the middle of a change");
    }
}

bool Table::rebuildIndex(const std::string& reason)
{
    if (!f_->index && !f_->indexStale)
        return true;
    std::vector<TagSpec> tags = f_->staleTags;
    std::vector<std::pair<Table*, std::string>> selected;
    if (f_->index) {
        tags.clear();
        for (int i = 0; i < f_->index->tagCount(); ++i)
            tags.push_back(f_->index->tag(i));
        for (Table* h : f_->handles)
            if (h->tag_ >= 0)
                selected.emplace_back(h, f_->index->tag(h->tag_).name);
    }
    if (readOnly_) {
        if (!reason.empty())
            reportError(f_->indexPath, reason + "; the table is read-only, so the index was not rebuilt");
        f_->indexBroken = true;
        return false;
    }
    // No other program appends or changes a record while the keys are
    // read, and what was written to the table is on the disk before an
    // index built from it is.
    std::string fault;
    Held held(*this);
    bool ok = held.table(fault);
    if (ok && !syncToDisk()) {
        ok = false;
        fault = "the table cannot be flushed to disk";
    }
    // The old index is let go with its "interrupted" mark set: should the
    // rebuild not finish, it is not used again, here or by the next open.
    if (f_->index) {
        std::string ignored;
        f_->index->markInterrupted(ignored);
        f_->index->abandon();
        f_->index.reset();
    }
    for (Table* h : f_->handles)
        h->tag_ = -1;

    // The new index is written beside the old one and renamed into place.
    FileLayer& files = *f_->files;
    std::string tmp;
    if (ok) {
        tmp = tempBeside(f_->indexPath, files);
        std::vector<char> rec(static_cast<std::size_t>(f_->recLen), 0);
        ok = !tmp.empty() && CdxIndex::build(tmp, tags, f_->desc, f_->count,
                                             [&](uint32_t n) -> RecordPtr {
                                                 return readRecordRaw(n, rec.data()) ? rec.data() : nullptr;
                                             },
                                             fault, files, f_->page);
        if (tmp.empty())
            fault = std::strerror(errno);
        if (ok && files.rename(tmp, f_->indexPath) != 0) {
            fault = std::strerror(errno);
            ok = false;
        }
    }
    if (!ok) {
        if (!tmp.empty())
            files.remove(tmp);
        f_->indexStale = true;
        f_->staleTags = tags;
        reportError(f_->indexPath, (reason.empty() ? std::string("the index") : reason) +
                                    ": it could not be rebuilt (" + fault +
                                    "); nothing is written to the table until it is");
        conn_->error_ = kError;
        return false;
    }
    syncDirectoryOf(f_->indexPath, files);
    f_->indexStale = false;
    f_->staleTags.clear();
    if (!reason.empty())
        reportError(f_->indexPath, reason + "; it was rebuilt from the table");
    f_->index = CdxIndex::open(f_->indexPath, f_->desc, fault, f_->readOnly, files, f_->page);
    if (!f_->index) {
        f_->indexUnreadable = true;
        f_->indexFault = fault;
        return false;
    }
    f_->indexUnreadable = false;
    f_->indexBroken = false;
    for (auto& [h, name] : selected)
        h->tag_ = f_->index->findTag(name);
    return true;
}

bool Table::indexWritable(std::string& why)
{
    if (f_->indexUnreadable) {
        // Perhaps it can be opened now (it failed for want of a file
        // descriptor, say).
        reopenIndex();
        if (f_->indexUnreadable) {
            why = "the index " + baseName(f_->indexPath) + " cannot be read (" + f_->indexFault + ")";
            return false;
        }
    }
    if (f_->indexStale && !rebuildIndex("the index was left unfinished")) {
        why = "the index " + baseName(f_->indexPath) + " could not be rebuilt";
        return false;
    }
    if (!f_->index)
        return true;
    for (int i = 0; i < f_->index->tagCount(); ++i) {
        std::string reason;
        if (!f_->index->usable(i, &reason)) {
            const TagSpec& t = f_->index->tag(i);
            why = "the index tag " + t.name + " (" + t.keyExpr +
                  (t.forExpr.empty() ? std::string() : " FOR " + t.forExpr) +
                  ") cannot be kept up to date: " + reason;
            return false;
        }
    }
    return true;
}

bool Table::markIndexChanging(std::string& why)
{
    if (!f_->index)
        return true;
    std::string fault;
    if (f_->index->markInterrupted(fault))
        return true;
    why = "the index cannot be written (" + fault + ")";
    return false;
}

bool Table::insertIndexKeys(const char* rec, uint32_t recno)
{
    if (!f_->index)
        return true;
    for (int i = 0; i < f_->index->tagCount(); ++i) {
        auto key = f_->index->recordKey(i, rec);
        if (!key)
            continue;
        std::string fault;
        if (!f_->index->insert(i, *key, recno, fault))
            return rebuildIndex("the index tag " + f_->index->tag(i).name + " is damaged (" + fault + ")");
    }
    return true;
}

bool Table::updateIndexForChange(const char* oldRec, const char* newRec, uint32_t recno)
{
    if (!f_->index)
        return true;
    for (int i = 0; i < f_->index->tagCount(); ++i) {
        auto oldKey = f_->index->recordKey(i, oldRec);
        auto newKey = f_->index->recordKey(i, newRec);
        if (oldKey == newKey)
            continue;
        std::string fault;
        if (oldKey && !f_->index->remove(i, *oldKey, recno, fault))
            return rebuildIndex("the index tag " + f_->index->tag(i).name + " is damaged (" + fault + ")");
        if (newKey && !f_->index->insert(i, *newKey, recno, fault))
            return rebuildIndex("the index tag " + f_->index->tag(i).name + " is damaged (" + fault + ")");
    }
    return true;
}

bool Table::flushIndex()
{
    if (!f_->index)
        return true;
    std::string fault;
    if (!f_->index->flush(fault)) {
        reportError(f_->indexPath, "the index cannot be written (" + fault + ")");
        conn_->error_ = kError;
        return false;
    }
    return true;
}

void Table::prepareIndexForPack()
{
    if (!f_->index)
        return;
    std::string fault;
    f_->index->markInterrupted(fault);
}

void Table::closeIndex()
{
    if (!f_->index)
        return;
    std::string fault;
    if (!f_->index->close(fault)) {
        reportError(f_->indexPath, "the index cannot be written (" + fault + ")");
        conn_->error_ = kError;
    }
    f_->index.reset();
}

int Table::tagCount() const { return f_->index ? f_->index->tagCount() : 0; }

std::vector<std::string> Table::tagNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < tagCount(); ++i)
        names.push_back(f_->index->tag(i).name);
    return names;
}

bool Table::selectTag(std::string_view name)
{
    lostTag_.clear();
    if (name.empty()) {
        tag_ = -1;
        return true;
    }
    if (!f_->index && f_->indexStale && !readOnly_)
        rebuildIndex("the index was left unfinished");
    if (!f_->index)
        return false;
    int t = f_->index->findTag(name);
    if (t < 0)
        return false;
    tag_ = t;
    return true;
}

std::string Table::selectedTag() const { return f_->index && tag_ >= 0 ? f_->index->tag(tag_).name : std::string(); }

// Loads the record of an index entry; false when the entry names a record
// the table does not hold, or one whose key is not the entry's (the index
// is then damaged, or another program changed the table without it):
// entryFault_ says which.
bool Table::loadEntry(const IndexEntry& e, bool& live)
{
    entryFault_.clear();
    if (e.recno >= 1 && e.recno > f_->count && !catchUp(true))
        return false;
    if (!f_->index || e.recno < 1 || e.recno > f_->count) {
        entryFault_ = "an entry names record " + std::to_string(e.recno) + ", but the table holds " +
                      std::to_string(f_->count);
        return false;
    }
    const int t = tag_;
    auto keyMatches = [&] {
        if (!f_->index->usable(t))
            return true;  // a key that cannot be computed cannot be compared
        auto key = f_->index->recordKey(t, rec_.data());
        return key && *key == e.key;
    };
    if (!loadRecord(e.recno))
        return false;
    if (!keyMatches()) {
        // The read-ahead may be older than the record: read it again.
        f_->cacheCount = 0;
        if (!catchUp() || !f_->index || tag_ != t || !loadRecord(e.recno))
            return false;
        if (!keyMatches()) {
            entryFault_ = "tag " + f_->index->tag(t).name + ": the entry of record " + std::to_string(e.recno) +
                          " holds a key the record does not have";
            return false;
        }
    }
    live = rec_[0] != '*';
    return true;
}

// how: 0 top, 1 bottom, 2 skip n. Passes over deleted records. A damaged
// index found on the way is reported, rebuilt, and the move made again.
int Table::navigateTag(int how, long n)
{
    const std::string tagName = selectedTag();
    for (int attempt = 0; attempt < 2; ++attempt) {
        int r = navigateTagOnce(how, n);
        if (r != kBroken)
            return r;
        std::string fault = !entryFault_.empty() ? entryFault_ : f_->index ? f_->index->lastFault() : std::string();
        uint32_t at = recno_;
        bool wasEof = eof_;
        if (!rebuildIndex("the index is damaged (" + fault + ")") || !selectTag(tagName))
            return fail("the index cannot be used");
        // Start again from where the move began.
        if (how == 2 && !wasEof && at >= 1 && at <= f_->count)
            loadRecord(at);
    }
    return fail("the index is damaged and could not be repaired");
}

int Table::navigateTagOnce(int how, long n)
{
    IndexEntry e;
    IdxStatus s;
    long left = 0;
    bool forward = true;
    if (how == 0) {
        s = f_->index->first(tag_, e);
        left = 0;
    } else if (how == 1) {
        s = f_->index->last(tag_, e);
        forward = false;
    } else {
        if (n == 0)
            return positioned() ? kSuccess : (eof_ ? kEof : kBof);
        forward = n > 0;
        left = forward ? n : -n;
        if (eof_) {
            if (forward)
                return kEof;
            s = f_->index->last(tag_, e);
            --left;
        } else if (bof_ && !forward) {
            return kBof;
        } else if (bof_ && (recno_ < 1 || recno_ > f_->count)) {
            s = f_->index->first(tag_, e);
            --left;
        } else {
            // On a record, or before the start (the pointer then stays on
            // the first record in tag order and a skip goes on from it).
            IndexEntry from;
            auto key = f_->index->recordKey(tag_, rec_.data());
            if (!key) {
                // The current record is not in this tag (its FOR clause
                // leaves it out): continue from where its key would be.
                s = forward ? f_->index->first(tag_, e) : f_->index->last(tag_, e);
                --left;
            } else {
                from.key = *key;
                from.recno = recno_;
                s = forward ? f_->index->next(tag_, from, e) : f_->index->prev(tag_, from, e);
                --left;  // the entry reached is the first step
            }
        }
    }
    for (;;) {
        if (s == IdxStatus::Broken)
            return kBroken;
        if (s == IdxStatus::End) {
            if (forward) {
                setEof();
                return kEof;
            }
            int r = navigateTagOnce(0, 0);
            if (r == kSuccess)
                bof_ = true;
            return r == kSuccess ? kBof : r;
        }
        bool live = false;
        if (!loadEntry(e, live))
            return kBroken;
        if (live) {
            if (left <= 0)
                return kSuccess;
            --left;
        }
        IndexEntry from = e;
        s = forward ? f_->index->next(tag_, from, e) : f_->index->prev(tag_, from, e);
    }
}

int Table::seek(std::string_view text)
{
    if (leaveRecord() != kSuccess || !catchUp(true) || !tagStillThere())
        return kError;
    if (!f_->index || tag_ < 0)
        return fail("seek without an index tag selected");
    const std::string tagName = selectedTag();
    // A character key is sought as the table stores it: in its code page. A
    // text the code page cannot hold is no key of the table.
    std::string stored;
    if (f_->index->keyType(tag_) == 'C') {
        CodePage::Encoded e = f_->page->encode(text);
        if (e.refused) {
            setEof();
            return kEof;
        }
        stored = std::move(e.bytes);
        text = stored;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto key = f_->index->seekKey(tag_, text);
        if (!key) {
            setEof();
            return kEof;
        }
        IndexEntry e;
        IdxStatus s = f_->index->seek(tag_, *key, e);
        bool broken = false;
        while (s == IdxStatus::Ok) {
            bool live = false;
            if (!loadEntry(e, live)) {
                broken = true;
                break;
            }
            if (e.key != *key)
                break;
            if (live)
                return kSuccess;
            IndexEntry from = e;
            s = f_->index->next(tag_, from, e);
        }
        if (s == IdxStatus::Broken)
            broken = true;
        if (!broken) {
            // Not found: positioned after where the key would stand.
            IndexEntry near;
            IdxStatus ns = f_->index->seekNear(tag_, *key, near);
            while (ns == IdxStatus::Ok) {
                bool live = false;
                if (!loadEntry(near, live)) {
                    broken = true;
                    break;
                }
                if (live)
                    return kAfter;
                IndexEntry from = near;
                ns = f_->index->next(tag_, from, near);
            }
            if (ns == IdxStatus::Broken)
                broken = true;
            if (!broken) {
                setEof();
                return kEof;
            }
        }
        std::string fault = !entryFault_.empty() ? entryFault_ : f_->index ? f_->index->lastFault() : std::string();
        if (!rebuildIndex("the index is damaged (" + fault + ")") || !selectTag(tagName))
            return fail("the index cannot be used");
    }
    return fail("the index is damaged and could not be repaired");
}

bool Table::reindex()
{
    if (leaveRecord() != kSuccess || !catchUp())
        return false;
    // Taken here first, so that an index that cannot be rebuilt for want
    // of the lock is left as it was.
    std::string why;
    Held held(*this);
    if (!held.table(why))
        return fail(why + ": the index was not rebuilt") == kSuccess;
    if (f_->indexUnreadable)
        reopenIndex();
    if (!f_->index && !f_->indexStale) {
        if (f_->indexUnreadable)
            return fail("the index cannot be read, so its tags are not known: it was not rebuilt") == kSuccess;
        return true;
    }
    return rebuildIndex("");
}

std::vector<std::string> Table::checkIndex()
{
    std::vector<std::string> faults;
    if (f_->indexUnreadable) {
        faults.push_back("the index " + baseName(f_->indexPath) + " cannot be read");
        return faults;
    }
    if (!f_->index)
        return faults;
    if (f_->index->foundInterrupted())
        faults.push_back("the index was left in the middle of a change");
    std::vector<char> rec(static_cast<std::size_t>(f_->recLen), 0);
    for (auto& f : f_->index->check(f_->count, [&](uint32_t n) -> RecordPtr {
             return readRecordRaw(n, rec.data()) ? rec.data() : nullptr;
         }))
        faults.push_back(f);
    return faults;
}

}  // namespace xb

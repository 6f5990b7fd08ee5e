#pragma once
// The compound (production) index of a table: one .cdx file holding several
// tags, each a B-tree of (key, record number) entries.
//
// Reading is defensive: a page offset outside the file or off the 512-byte
// grid, an undecodable page, a loop in the child links or keys out of order
// make the call concerned return IdxStatus::Broken (or false) with
// lastFault() saying why; nothing reads outside the file, nothing hangs.
//
// Writes go to the file as they happen (a write at the end of each insert or
// remove, no sync), through the file layer it was opened with. Before the first change of a session a marker is set in
// the reserved bytes of the file header (and synced); flush() and close()
// sync the data and clear it. An index found with the marker set
// (foundInterrupted()) was left in the middle of a change: rebuild it.
//
// The pages read are kept decoded in memory for as long as the index is
// open. The caller owns the locking: nothing else may change the file while
// it is open here; changedOnDisk() says whether something did, and the
// caller then opens the index again. publish() raises the version counter
// of the file header (bytes 8 to 11) after a change, as other programs that
// keep pages in memory expect.

#include "data/CodePage.h"
#include "data/FieldDesc.h"
#include "data/FileLayer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xb {

struct TagSpec {
    std::string name;       // at most 10 letters, digits or '_'; stored upper case
    std::string keyExpr;    // as typed, e.g. "UPPER(n_ame)"
    std::string forExpr;    // empty: every record
    bool unique = false;    // keeps the first record of each key
    bool descending = false;
};

struct IndexEntry {
    std::string key;        // the stored key bytes, full key length
    uint32_t recno = 0;
};

enum class IdxStatus { Ok, End, Broken };

class CdxIndex {
public:
    ~CdxIndex();   // flushes (see close())
    CdxIndex(const CdxIndex&) = delete;
    CdxIndex& operator=(const CdxIndex&) = delete;

    // Opens an existing index. Null with `fault` in plain words when it cannot
    // be used at all (unreadable file header or tag directory). A tag whose
    // header cannot be read still appears: its navigation reports Broken.
    // A read-only file (or readOnly) opens for reading; changes then fail.
    // Key and FOR expressions are evaluated in the table's code page `page`
    // (Windows 1252 when none is given).
    static std::unique_ptr<CdxIndex> open(const std::string& path, const FieldList& fields, std::string& fault,
                                          bool readOnly = false, FileLayer& files = posixFiles(),
                                          const CodePage* page = nullptr);

    // Writes a complete fresh index at `path` (created or overwritten, then
    // synced) holding `tags` with the keys of records 1..count; recordAt(n)
    // gives record n's buffer. Deleted records are indexed like live ones.
    // Fails when a tag name or expression is not acceptable, or on I/O errors.
    static bool build(const std::string& path, const std::vector<TagSpec>& tags, const FieldList& fields,
                      uint32_t count, const std::function<RecordPtr(uint32_t)>& recordAt, std::string& fault,
                      FileLayer& files = posixFiles(), const CodePage* page = nullptr);

    // Tags in directory order (sorted by name).
    int tagCount() const;
    const TagSpec& tag(int t) const;
    int findTag(std::string_view name) const;   // case-insensitive; -1 when absent
    char keyType(int t) const;                  // 'C', 'N', 'D' or 'L' ('C' when the expression cannot be read)
    int keyLength(int t) const;

    // False (with the reason) when the key or FOR expression cannot be
    // evaluated on this table, or the tag's header is unreadable. Such a tag
    // can still be navigated; the caller must not change the table through it.
    bool usable(int t, std::string* why = nullptr) const;

    // The key record `rec` has in tag t; nullopt when the FOR clause excludes
    // it or the tag is not usable.
    std::optional<std::string> recordKey(int t, RecordPtr rec) const;
    // Typed text -> key: character keys padded with blanks (nullopt when
    // longer than the key), numbers by value, dates from yyyymmdd (blank =
    // the blank date), logicals from T/F/Y/N. Nullopt when unreadable.
    std::optional<std::string> seekKey(int t, std::string_view text) const;

    // Navigation in tag order: ascending keys, equal keys by record number;
    // a descending tag gives exactly the reverse sequence. next() and prev()
    // locate `from` by (key, recno), so they stay right after inserts and
    // removes.
    IdxStatus first(int t, IndexEntry& out);
    IdxStatus last(int t, IndexEntry& out);
    IdxStatus next(int t, const IndexEntry& from, IndexEntry& out);
    IdxStatus prev(int t, const IndexEntry& from, IndexEntry& out);
    // The first entry in tag order whose key equals `key`; End when there is none.
    IdxStatus seek(int t, const std::string& key, IndexEntry& out);
    // The first entry in tag order at or after `key` (ascending: key >= `key`,
    // descending: key <= `key`); End when the tag has none. A shorter
    // character key works as a prefix (it is blank-padded).
    IdxStatus seekNear(int t, const std::string& key, IndexEntry& out);

    // Changes. `key` must be keyLength(t) bytes. Inserting an entry already
    // present, or (unique tag) a key already present, changes nothing.
    // remove() fails when the entry is not in the tag.
    bool insert(int t, const std::string& key, uint32_t recno, std::string& fault);
    bool remove(int t, const std::string& key, uint32_t recno, std::string& fault);

    // The interrupted-change marker was set when the file was opened.
    bool foundInterrupted() const;
    // Raises the version counter of the file header when pages were written
    // since it was last raised: what a caller does once a change is whole
    // (flush() does it too).
    bool publish(std::string& fault);
    // Writes anything pending, syncs, and clears the marker.
    bool flush(std::string& fault);
    // flush() and release the file; the object is unusable afterwards.
    bool close(std::string& fault);
    // Sets the interrupted-change marker now, synced: for a caller about to
    // make the index stale (a pack renumbering the records), so that a
    // crash before the new index is in place makes the next open rebuild.
    bool markInterrupted(std::string& fault);
    // Releases the file without flushing: a marker that is set stays set.
    void abandon();
    // Whether another program changed the file since it was opened or last
    // written here (or removed or replaced it): its modification time, or
    // the first bytes of its header.
    bool changedOnDisk();

    // Full check of the file and of every tag against the table (records
    // 1..count): page offsets, file length, node attributes and key counts,
    // leaf free space and masks, sibling links, branch keys equal to the last
    // key of each child, keys in order, every live record admitted by the FOR
    // clause present once with its key, no key for a record beyond count, the
    // free-page list. Deleted records may or may not have keys. One
    // plain-words line per fault, naming the tag; empty when all is well.
    std::vector<std::string> check(uint32_t count, const std::function<RecordPtr(uint32_t)>& recordAt);

    // Why the last call that returned Broken or false failed.
    const std::string& lastFault() const;

    struct Impl;

private:
    CdxIndex();
    std::unique_ptr<Impl> d;
};

}  // namespace xb

#pragma once
// Inside the table engine: what every handle on one table file shares. One
// TableFile exists per file open for writing in the process, found by the
// file's device and inode, so that a table opened in two places is one
// table: one count, one index, one record cache, writes seen by all.

#include "data/Cdx.h"
#include "data/CodeBase.h"

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace xb {

struct TableFile {
    ~TableFile();

    FileLayer* files = &posixFiles();
    std::string path;
    int fd = -1;
    bool readOnly = false;  // opened only for reading
    // Where the process's registry finds it (registered only when opened
    // for writing by a connection that writes).
    bool registered = false;
    dev_t device = 0;
    ino_t inode = 0;

    unsigned char version = 0x03;
    unsigned char flags = 0;
    unsigned char codePage = 0;
    const CodePage* page = &CodePage::ofMark(0);  // the code page of the mark: its text, its keys' case
    Date lastUpdate {};
    int hdrLen = 0;
    int recLen = 0;
    uint32_t headerCount = 0;  // as the header says
    uint32_t count = 0;        // whole records the table holds
    uint64_t fileSize = 0;
    std::vector<char> header;  // the header as read: kept for pack
    FieldList desc;
    bool dirtyData = false;  // written since the last sync to disk

    std::vector<char> appendBuf;

    std::vector<char> cache;  // a run of records read ahead
    uint32_t cacheFirst = 0;
    uint32_t cacheCount = 0;

    std::unique_ptr<CdxIndex> index;
    std::string indexPath;
    bool indexFileExists = false;  // a .cdx lies beside the table (readable or not)
    bool indexUnreadable = false;  // it does, but it cannot be opened or its tags cannot be read
    std::string indexFault;        // why, when it cannot
    bool indexBroken = false;      // found damaged and not rebuilt (read-only table)
    // A rebuild that failed: the file keeps its "interrupted" mark, the
    // index is not used, and nothing is written to the table until a
    // rebuild with these tags succeeds.
    bool indexStale = false;
    std::vector<TagSpec> staleTags;

    // Other programs writing the file (TableShare.cpp). Changes made to it
    // up to seenTime are known here; a later modification time, another
    // size or an unlinked file means another program wrote it.
    struct timespec seenTime {};
    uint64_t generation = 0;  // counts the times another program renumbered or replaced the records
    std::string lost;         // why the file is no longer this table (removed, another layout): nothing is written
    bool packRedone = false;  // a pack cut short was finished from its journal: the index is built again
    // Byte-range locks held on fd by the process, counted: offset -> holders.
    std::map<uint64_t, int> recordLocks;
    int tableLocks = 0;
    uint64_t tableLockStart = 0, tableLockLength = 0;  // the range the whole-table lock took
    int exclusiveHolders = 0;  // handles that hold the table locked from open to close

    std::vector<Table*> handles;  // every handle open on it
};

// Locks taken for one operation (a record's and the header's at most, or
// the table's), released when it ends.
class Table::Held {
public:
    explicit Held(Table& t) : t_(t) {}
    ~Held()
    {
        for (int i = 0; i < count_; ++i)
            t_.releaseRecordLock(records_[i]);
        if (table_)
            t_.releaseTableLock();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    bool record(uint32_t n, std::string& why)
    {
        if (count_ == 2 || !t_.holdRecordLock(n, why))
            return false;
        records_[count_++] = n;
        return true;
    }
    bool table(std::string& why)
    {
        if (table_ || !t_.holdTableLock(why))
            return false;
        table_ = true;
        return true;
    }

private:
    Table& t_;
    uint32_t records_[2] = {};
    int count_ = 0;
    bool table_ = false;
};

// The file open for writing at this path in the process through this file
// layer, if any.
std::shared_ptr<TableFile> findOpenTable(const std::string& path, FileLayer& files);
// Enters a file just opened for writing, or takes it out (when its last
// handle closes), or enters it again under the inode it has after a pack.
void registerOpenTable(const std::shared_ptr<TableFile>& file);
void unregisterOpenTable(TableFile* file);

}  // namespace xb

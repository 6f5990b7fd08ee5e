#pragma once
// Inside the table engine: what every handle on one table file shares. One
// TableFile exists per file open for writing in the process, found by the
// file's device and inode, so that a table opened in two places is one
// table: one count, one index, one record cache, writes seen by all.

#include "data/Cdx.h"
#include "data/CodeBase.h"

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
    Date updateDate {};  // the date written as the last update, taken at the first write
    bool updateDateTaken = false;

    std::vector<char> cache;  // a run of records read ahead
    uint32_t cacheFirst = 0;
    uint32_t cacheCount = 0;

    std::unique_ptr<CdxIndex> index;
    std::string indexPath;
    bool indexFileExists = false;  // a .cdx lies beside the table (readable or not)
    bool indexUnreadable = false;  // it does, but its tags cannot be read
    bool indexBroken = false;      // found damaged and not rebuilt (read-only table)

    std::vector<Table*> handles;  // every handle open on it
};

// The file open for writing at this path in the process through this file
// layer, if any.
std::shared_ptr<TableFile> findOpenTable(const std::string& path, FileLayer& files);
// Enters a file just opened for writing, or takes it out (when its last
// handle closes), or enters it again under the inode it has after a pack.
void registerOpenTable(const std::shared_ptr<TableFile>& file);
void unregisterOpenTable(TableFile* file);

}  // namespace xb

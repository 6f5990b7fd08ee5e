#pragma once
// The table engine: xBase tables (.dbf) with their production indexes (.cdx).
//
// A Connection owns the tables opened in it; a Table has a current record
// where field reads and writes act. A file open in several places of the
// process (in one connection or in several) is one table: every handle on it
// shares its records, its count and its index, and keeps its own current
// record, record buffer and tag. A pack or an append through one handle is
// seen by all; a record written through one is read again by the others
// positioned on it, and a handle's pending change keeps the fields others
// wrote meanwhile. The record being changed reaches the file
// when the record pointer moves, when the table is flushed or closed, or when
// its connection ends.
//
// Failures are not thrown: an operation that fails reports through the
// engine's one error report (setErrorReport), naming the file and the fault in
// plain words, and returns a negative code, false or null.

#include "data/CodePage.h"
#include "data/Date.h"
#include "data/FieldDesc.h"
#include "data/FileLayer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace xb {

struct TagSpec;
struct IndexEntry;
class CdxIndex;

// Return codes of navigation and writes.
enum Code : int {
    kSuccess = 0,  // positioned on a record / done
    kAfter = 2,    // seek: not found, positioned after where the key would be
    kEof = 3,      // past the last record (also: top of an empty table)
    kBof = 4,      // before the first record
    kError = -1,
};

struct EngineError {
    std::string file;   // the file concerned, as the program named it
    std::string fault;  // what went wrong, in plain words
    std::string text() const { return file.empty() ? fault : file + ": " + fault; }
};

using ErrorReport = std::function<void(const EngineError&)>;
// Installs the function every engine failure is reported to; an empty
// function restores the default, which writes the report to standard error.
// Gives the report that was installed before.
ErrorReport setErrorReport(ErrorReport report);
void reportError(const std::string& file, const std::string& fault);

// How long a write waits for another program's lock on a table (see
// Table::lockRecord) before it gives up with a message naming the table:
// 5 seconds unless set otherwise. Gives the wait that was set before.
std::chrono::milliseconds setLockWait(std::chrono::milliseconds wait);
std::chrono::milliseconds lockWait();

// A field of a table to be created.
struct FieldSpec {
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
};

class Table;
class Connection;
struct TableFile;

class Field {
public:
    const std::string& name() const { return desc_.name; }
    char type() const { return desc_.type; }
    int width() const { return desc_.width; }
    int decimals() const { return desc_.decimals; }
    const FieldDesc& desc() const { return desc_; }
    const Table& table() const { return *table_; }

    // The bytes as stored, blank-padded: for copying a field between tables
    // of one code page, and for what is not text (numbers, dates).
    std::string_view raw() const;
    // The contents without leading and trailing blanks, as UTF-8: a C
    // field's bytes read in the table's code page (see CodePage).
    std::string text() const;
    std::string_view trimmedView() const;  // the bytes of text(), not converted
    double number() const;         // N, F: the value; blank, or not a number (see readNumber): 0
    long long integer() const;     // the value without its fraction
    // The value, for a caller that stores or compares it: nothing when the
    // field holds something that is not a number (another program's
    // overflow "*****", "12,500", "1 250", "nan"). Blank reads 0.
    std::optional<double> readNumber() const;
    std::optional<long long> readInteger() const;  // without its fraction
    // "field IN_WGT holds \"*****\", which is not a number": for a report
    // that names the table and the record beside it.
    std::string unreadableText() const;
    bool isTrue() const;           // L: T, t, Y, y
    std::optional<Date> date() const;  // D: nullopt when blank or not a date
    bool isBlank() const;

    // Writes change the current record (or the record being appended).
    // A value that does not fit is refused with an engine error and the
    // field keeps what it held. Without a current record (past the end,
    // before the start, an empty table) a write is refused with an error
    // naming the table and the field.
    //
    // C: the text, UTF-8, stored in the table's code page and cut to the
    // field's width between characters; a character the code page cannot
    // hold is refused with an error naming it, and the field keeps what it
    // held. The text the field shows already (text()) leaves the field as
    // it is, byte for byte. N, F: a number written as text; L: T/F/Y/N; D:
    // yyyymmdd.
    bool assign(std::string_view text);
    bool assignNumber(double value);
    bool assignInteger(long long value);
    bool assignLogical(bool value);
    bool assignDate(const std::optional<Date>& value);
    bool clear();  // blank
    // The bytes as stored, cut or blank-padded to the width: for copying a
    // value between fields of the same type and size.
    bool assignRaw(std::string_view bytes);

private:
    friend class Table;
    Field(Table* t, FieldDesc d) : table_(t), desc_(std::move(d)) {}
    bool storeNumberText(std::string_view digits);
    char* slot();
    Table* table_;
    FieldDesc desc_;
};

class Table {
public:
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // What the table is.
    const std::string& path() const;
    unsigned char version() const;
    int headerLength() const;
    int recordLength() const;
    unsigned char tableFlags() const;
    unsigned char codePage() const;  // the header's mark, as it is (0 when unset)
    const CodePage& textCodePage() const;  // what the mark stands for: the code page of the text
    Date lastUpdate() const;
    uint32_t headerRecordCount() const;
    bool readOnly() const { return readOnly_; }
    // Whether the two handles are on one table file.
    bool sameFile(const Table& other) const { return f_ == other.f_; }
    Connection& connection() { return *conn_; }

    // Fields: by name without regard to case, or by position (1 = first).
    int fieldCount() const { return int(fields_.size()); }
    Field* field(std::string_view name);
    Field* fieldAt(int position);
    const FieldList& fieldList() const;

    // Navigation. Records marked deleted are passed over by top, bottom and
    // skip; go() reaches any record by number.
    uint32_t recCount() const;
    uint32_t recNo() const { return recno_; }
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    bool deleted() const { return positioned() && rec_[0] == '*'; }
    int top();
    int bottom();
    int skip(long n = 1);
    int go(uint32_t record);
    const char* recordBuffer() const { return rec_.data(); }

    // Index tags of the production index (empty without one).
    int tagCount() const;
    std::vector<std::string> tagNames() const;
    bool selectTag(std::string_view name);  // empty name: record order; false when there is no such tag
    std::string selectedTag() const;
    int seek(std::string_view key);          // kSuccess when found under the selected tag
    CdxIndex* index();
    bool reindex();                          // rebuild the production index from the table
    std::vector<std::string> checkIndex();   // faults of the production index, one line each

    // Writes.
    int appendStart();   // begin a new record (its buffer starts as the current one)
    void blank();        // blank the record being built or the current one
    int append();        // append the record being built
    int appendBlank();   // append a blank record and make it current
    int deleteRecord();  // mark the current record deleted
    int recall();        // remove the mark
    int pack();          // remove the deleted records
    // Takes back the records past `keep`: for a batch of appends that could
    // not be finished. The file is cut after record `keep`, its count and
    // the index put right; the pointer is left past the end.
    int discardRecordsAfter(uint32_t keep);
    int flush();         // the current record and the file reach the disk
    int close();         // flushes, closes and frees the table

    // Sharing the table with other programs. Before every write, append
    // and pack the engine takes in what another program wrote since it
    // last looked (its size, header and identity), and it takes the locks
    // of the byte-range convention the site's other xBase programs honour:
    // record 0 is the header (what an append or a change of the record
    // count needs), record n a record, and the table lock every record and
    // the header. These calls take them for longer than one operation (the
    // counter's read and write); each waits up to lockWait() for another
    // program's lock and gives false (reported, naming the table) when it
    // stays held. Held by the table file for every handle on it in the
    // process, and counted: each lock wants its unlock.
    bool lockRecord(uint32_t record);
    void unlockRecord(uint32_t record);
    bool lockTable();
    void unlockTable();

    // True when the file on disk holds more whole records than the header
    // counts, or fewer, or lacks its end mark: what the next write repairs.
    bool needsRepair() const;
    uint64_t fileSize() const;

private:
    friend class Connection;
    friend class Field;
    Table(Connection* conn);
    bool openFile(const std::string& path);
    bool loadRecord(uint32_t n);
    bool readRecordRaw(uint32_t n, char* out);
    void setEof();
    void setBof();
    bool positioned() const;
    void beginChange();
    bool beginChange(const Field* f);
    bool hasRecordToWrite(const Field* f);
    int flushRecord();
    int leaveRecord();
    int fail(const std::string& fault);
    // Sharing with other programs (TableShare.cpp).
    class Held;
    bool catchUp(bool reading = false);
    bool changedByOthers();
    bool followReplacement();
    void noteOwnWrite();
    bool holdRecordLock(uint32_t record, std::string& why);
    void releaseRecordLock(uint32_t record);
    bool holdTableLock(std::string& why);
    void releaseTableLock();
    bool waitForLock(int fd, uint64_t offset, uint64_t length, const std::string& what, std::string& why);
    bool readRecordFromDisk(uint32_t n, char* out);
    void reopenIndex();
    bool usableForWrites(const char* what);
    int packOnce(bool& changedMeanwhile);
    bool pwriteAll(const void* data, std::size_t n, uint64_t offset, std::string& why);
    bool writeHeaderCount(std::string& why);
    bool syncToDisk();
    void openIndex();
    bool indexWritable(std::string& why);
    bool markIndexChanging(std::string& why);
    bool updateIndexForChange(const char* oldRec, const char* newRec, uint32_t recno);
    bool insertIndexKeys(const char* rec, uint32_t recno);
    bool rebuildIndex(const std::string& reason);
    int navigateTag(int how, long n);
    int navigateTagOnce(int how, long n);
    bool loadEntry(const IndexEntry& e, bool& live);
    static constexpr int kBroken = -100;  // inside the index code: the index was found damaged
    bool flushIndex();
    void prepareIndexForPack();
    void closeIndex();
    static bool createIndexFor(const std::string& tablePath, const std::vector<TagSpec>& tags,
                               const std::vector<FieldSpec>& fields, FileLayer& files, std::string& why);
    bool liveAt(uint32_t n);
    void attach(std::shared_ptr<TableFile> file, bool readOnly);
    void flushOthers();
    void afterRecordWritten(uint32_t recno);
    void mergeOthersChanges(const std::vector<char>& now);
    bool closeFileIfLast();
    void noteOwnAppend(uint32_t recno);
    bool tagStillThere();
    bool indexHoldsRecords(uint32_t first, uint32_t last);
    bool liesEarlier(uint32_t n, const char* rec);
    bool packJournalRedone();

    // What every handle on one file shares (see TableFile below).
    std::shared_ptr<TableFile> f_;
    Connection* conn_;
    bool readOnly_ = false;  // this handle only reads (its connection's choice, or the file's)
    std::vector<Field> fields_;

    std::vector<char> rec_;   // the current record, or the one being appended
    std::vector<char> orig_;  // the current record as it was read, while changed
    uint32_t recno_ = 0;
    bool eof_ = true;
    bool bof_ = false;
    bool changed_ = false;
    bool appending_ = false;
    int tag_ = -1;  // selected tag, -1 for record order
    std::string tagKey_;  // key of the current record under the selected tag
    uint64_t gen_ = 0;    // the file's generation when the current record was read
    std::string entryFault_;  // why the last index entry loaded was not the record's
    bool exclusive_ = false;  // holds the table lock from its open to its close
    std::vector<std::pair<uint32_t, uint32_t>> appendedRuns_;  // records this handle appended, first..last
    uint64_t runsGen_ = 0;
    std::string lostTag_;  // the selected tag, gone from the index another program wrote anew
};

class Connection {
public:
    // Tables of this connection reach their files through `files` (the
    // operating system's by default). A table file is shared by the handles
    // of every connection on the same file layer.
    explicit Connection(FileLayer& files = posixFiles());
    FileLayer& files() const { return *files_; }
    ~Connection();  // closes every table still open in it
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // With safety on (the default) a create refuses to overwrite a file.
    void setSafety(bool on) { safety_ = on; }
    bool safety() const { return safety_; }
    // Tables opened while this is on are only read: nothing is written,
    // nothing repaired (what a check needs).
    void setReadOnly(bool on) { readOnly_ = on; }
    // Tables opened while this is on are held under the table lock from
    // their open to their close (an open waits for it as a write does), so
    // no program that honours the locks writes them meanwhile, and nothing
    // is checked before each write.
    void setExclusive(bool on) { exclusive_ = on; }

    // Opens an existing table, found whatever the case of its name (".dbf" is
    // added to a name without an extension). Null on failure, reported.
    Table* open(std::string_view path);
    // Creates a table with these fields and, when tags are given, its
    // production index; the new table is open and positioned at its end.
    // The table's text is in the code page of `codePageMark` (Windows 1252
    // unless another is given).
    Table* create(std::string_view path, const std::vector<FieldSpec>& fields,
                  const std::vector<TagSpec>& tags, unsigned char codePageMark = kDefaultCodePageMark);
    Table* create(std::string_view path, const std::vector<FieldSpec>& fields);

    void closeAll();
    // Non-zero once an operation of this connection has failed.
    int errorCode() const { return error_; }
    void clearError() { error_ = 0; }

private:
    friend class Table;
    void forget(Table* t);
    FileLayer* files_;
    bool safety_ = true;
    bool readOnly_ = false;
    bool exclusive_ = false;
    int error_ = 0;
    std::vector<std::unique_ptr<Table>> tables_;
};

// The record count and the faults of a table file, without opening it for
// writing: what the table tool's check prints. Empty when sound.
std::vector<std::string> checkTableFile(const std::string& path);

}  // namespace xb

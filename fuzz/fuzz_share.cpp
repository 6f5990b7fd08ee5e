// Fuzz target: a table another program writes while the engine holds it open.
//
// A sound table with a two-tag index is opened and read (so the engine keeps
// its header, read-ahead and index pages); then the input, taken as what
// another program did, changes the files under it: bytes written into the
// table or its index at a place, the file cut, or a new file renamed over
// one of them. The engine then reads, seeks, changes, appends, packs and
// reindexes the table it holds.
//
// Input: byte 0 the kind of change, bytes 1-2 where (little-endian), byte 3
// which of our operations follow (one bit each), the rest the bytes written.
// Beyond crashes and sanitizer findings, one fault aborts the run: the
// engine reports success for an append, and the table no longer holds the
// record (when the other program's change kept the table a table the engine
// still writes).

#include "data/Cdx.h"
#include "data/CodeBase.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string g_dir, g_table, g_index, g_new;

void removeFiles()
{
    for (const std::string* p : {&g_table, &g_index, &g_new})
        ::unlink(p->c_str());
    ::rmdir(g_dir.c_str());
}

[[noreturn]] void finding(const std::string& what)
{
    std::fprintf(stderr, "fuzz_share: %s\n", what.c_str());
    std::abort();
}

void makeTable()
{
    ::unlink(g_table.c_str());
    ::unlink(g_index.c_str());
    std::vector<xb::TagSpec> tags(2);
    tags[0].name = "NAME";
    tags[0].keyExpr = "UPPER(name)";
    tags[1].name = "QTY";
    tags[1].keyExpr = "qty";
    tags[1].forExpr = "qty > 2";
    xb::Connection c;
    xb::Table* t = c.create(g_table, {{"name", 'C', 10, 0}, {"qty", 'N', 6, 0}, {"day", 'D', 8, 0}}, tags);
    if (!t)
        finding("the table cannot be made");
    for (int i = 1; i <= 40; ++i) {
        t->appendBlank();
        t->field("name")->assign("R" + std::to_string(i));
        t->field("qty")->assignInteger(i % 7);
        t->field("day")->assign("20260314");
    }
    t->go(5);
    t->deleteRecord();
    t->close();
}

void writeAt(const std::string& path, uint64_t at, const uint8_t* data, size_t size)
{
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0)
        return;
    if (size > 0 && ::pwrite(fd, data, size, off_t(at)) < 0) {
    }
    ::close(fd);
}

void replaceWith(const std::string& path, const uint8_t* data, size_t size)
{
    int fd = ::open(g_new.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    if (size > 0 && ::write(fd, data, size) < 0) {
    }
    ::close(fd);
    ::rename(g_new.c_str(), path.c_str());
}

// What another program does, from the input.
void otherProgram(uint8_t kind, uint64_t at, const uint8_t* data, size_t size)
{
    struct stat st;
    const uint64_t tableSize = ::stat(g_table.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    switch (kind % 8) {
    case 0: writeAt(g_table, at % (tableSize + 64), data, size); break;  // anywhere in the table
    case 1: writeAt(g_table, 0, data, size < 32 ? size : 32); break;     // its header
    case 2: ::truncate(g_table.c_str(), off_t(at % (tableSize + 1))); writeAt(g_table, at % (tableSize + 1), data, size); break;
    case 3: {
        // The table as it is, with the input written into a copy renamed over it.
        std::vector<uint8_t> bytes(tableSize);
        int fd = ::open(g_table.c_str(), O_RDONLY);
        if (fd >= 0) {
            if (::pread(fd, bytes.data(), bytes.size(), 0) < 0)
                bytes.clear();
            ::close(fd);
        }
        const uint64_t from = at % (bytes.size() + 1);
        if (from + size > bytes.size())
            bytes.resize(from + size);
        std::copy(data, data + size, bytes.begin() + long(from));
        replaceWith(g_table, bytes.data(), bytes.size());
        break;
    }
    case 4: replaceWith(g_table, data, size); break;
    case 5: writeAt(g_index, at % 8192, data, size); break;
    case 6: replaceWith(g_index, data, size); break;
    default: ::unlink(g_index.c_str()); break;
    }
    // A clock tick later, so the engine's time check sees it.
    if (::stat(g_table.c_str(), &st) == 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_sec += 1;
        ::utimensat(AT_FDCWD, g_table.c_str(), times, 0);
    }
}

uint32_t liveCount(xb::Table* t)
{
    uint32_t n = 0;
    for (int r = t->top(); r == xb::kSuccess && n <= t->recCount(); r = t->skip(1))
        ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    xb::setErrorReport([](const xb::EngineError&) {});
    xb::setLockWait(std::chrono::milliseconds(0));
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    if (!base || !*base)
        base = "/tmp";
    g_dir = std::string(base) + "/fuzz_share." + std::to_string(::getpid());
    ::mkdir(g_dir.c_str(), 0700);
    g_table = g_dir + "/t.dbf";
    g_index = g_dir + "/t.cdx";
    g_new = g_dir + "/t.new";
    std::atexit(removeFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    makeTable();
    const uint8_t kind = data[0];
    const uint64_t at = data[1] | uint64_t(data[2]) << 8;
    const uint8_t ops = data[3];
    xb::Connection c;
    xb::Table* t = c.open(g_table);
    xb::Table* other = c.open(g_table);  // a second handle on the same file
    if (!t || !other)
        finding("the table just made does not open");
    liveCount(t);
    t->selectTag("NAME");
    t->seek("R3");
    other->go(7);
    other->field("qty")->assignInteger(99);  // a change pending while the other program writes

    otherProgram(kind, at, data + 4, size - 4);

    if (ops & 1) {
        t->seek("R12");
        t->seek("ZZ");
    }
    if (ops & 2)
        liveCount(t);
    if (ops & 4) {
        t->selectTag("QTY");
        for (int r = t->top(), n = 0; r == xb::kSuccess && n < 200; r = t->skip(1), ++n) {
        }
        t->selectTag("");
    }
    if (ops & 8)
        other->flush();
    if (ops & 16) {
        if (t->appendStart() == xb::kSuccess) {
            t->blank();
            t->field("name")->assign("APPENDED");
            if (t->append() == xb::kSuccess && t->flush() == xb::kSuccess) {
                // What the engine said it stored is in the file it took for the table.
                xb::Connection check;
                check.setReadOnly(true);
                xb::Table* r = check.open(g_table);
                bool found = false;
                for (uint32_t n = 1; r && n <= r->recCount() && !found; ++n)
                    found = r->go(n) == xb::kSuccess && r->field("name") && r->field("name")->text() == "APPENDED";
                if (r && !found)
                    finding("an append reported stored is not in the table");
            }
        }
    }
    if (ops & 32)
        t->pack();
    if (ops & 64)
        t->reindex();
    if (ops & 128)
        t->checkIndex();
    c.closeAll();
    xb::checkTableFile(g_table);
    return 0;
}

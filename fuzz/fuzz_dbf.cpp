// Fuzz target: the table engine on arbitrary bytes.
//
// Each input is written to a file and opened as a table; whatever opens is
// walked to the end and back with every field read in every form, and the
// table check runs over it. When it opened, a copy (without the index flag)
// then takes an append, a change of every field, a deletion, a recall and a
// pack.
//
// Beyond crashes and sanitizer findings, two faults abort the run:
// - a table the check found sound is no longer sound after the engine's own
//   writes to it;
// - a pack that keeps a different number of records than were live.

#include "data/CodeBase.h"
#include "data/Date.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string g_dir;
std::string g_input;  // the input as a table
std::string g_copy;   // the copy the writes go to

void removeFiles()
{
    ::unlink(g_input.c_str());
    ::unlink(g_copy.c_str());
    ::rmdir(g_dir.c_str());
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    while (size > 0) {
        ssize_t w = ::write(fd, data, size);
        if (w <= 0) {
            ::close(fd);
            return false;
        }
        data += w;
        size -= size_t(w);
    }
    return ::close(fd) == 0;
}

[[noreturn]] void finding(const std::string& what)
{
    std::fprintf(stderr, "fuzz_dbf: %s\n", what.c_str());
    std::abort();
}

// Reads every field of the current record in every form; the sum keeps the
// reads from being optimised away.
volatile long long g_sink;
void readRecord(xb::Table* t)
{
    long long sum = t->deleted() ? 1 : 0;
    for (int i = 1; i <= t->fieldCount(); ++i) {
        xb::Field* f = t->fieldAt(i);
        sum += (long long)f->raw().size() + (long long)f->text().size() + (long long)f->trimmedView().size();
        double d = f->number();
        if (d == d)  // not NaN
            sum += (long long)(d > 0 ? 1 : 0);
        sum += f->integer() & 1;
        sum += f->isTrue();
        sum += f->isBlank();
        if (auto day = f->date())
            sum += day->julianDay() & 1;
    }
    g_sink = sum;
}

// Walks forward to the end, then back to the start, then a few jumps.
void walk(xb::Table* t)
{
    uint32_t live = 0;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
        readRecord(t);
        if (++live > t->recCount())
            finding("the forward walk visits more records than the table holds");
    }
    uint32_t back = 0;
    for (int r = t->bottom(); r == xb::kSuccess; r = t->skip(-1)) {
        readRecord(t);
        ++back;
        if (back > live)
            finding("the backward walk visits more records than the forward walk");
    }
    if (back != live)
        finding("the backward walk visits " + std::to_string(back) + " records, the forward walk " +
                std::to_string(live));
    if (t->recCount() > 0) {
        t->go(t->recCount());
        readRecord(t);
        t->go(1);
        readRecord(t);
        t->skip(3);
        t->skip(-5);
    }
    t->go(t->recCount() + 1);  // refused, reported
}

uint32_t liveRecords(xb::Table* t)
{
    uint32_t n = 0;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        ++n;
    return n;
}

// Changes every field of the current record with a value of its type.
void changeRecord(xb::Table* t, int seed)
{
    for (int i = 1; i <= t->fieldCount(); ++i) {
        xb::Field* f = t->fieldAt(i);
        switch ((seed + i) % 6) {
        case 0: f->assign(std::string(f->raw())); break;
        case 1: f->assignNumber(12.5 * (seed - 3)); break;
        case 2: f->assignInteger(seed * 1000 + i); break;
        case 3: f->assignDate(xb::Date {2024, 2, 29}); break;
        case 4: f->assignLogical(seed & 1); break;
        default: f->clear(); break;
        }
        if (f->type() == 'C')
            f->assign("fuzz " + std::to_string(i));
    }
}

// The copy goes without the index flag (no index lies beside it) and with
// the record count cut to the whole records the file holds, as the engine's
// first write repairs it: otherwise nearly every input would be unsound and
// the engine's writes would never be judged.
void writeCopy(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() >= 32) {
        bytes[28] &= uint8_t(~0x01);
        const uint32_t count = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t(bytes[7]) << 24;
        const uint32_t header = bytes[8] | bytes[9] << 8;
        const uint32_t length = bytes[10] | bytes[11] << 8;
        if (length > 0 && header <= bytes.size()) {
            const uint64_t whole = (bytes.size() - header) / length;
            if (count > whole)
                for (int i = 0; i < 4; ++i)
                    bytes[4 + i] = uint8_t(whole >> (8 * i));
        }
    }
    if (!writeFile(g_copy, bytes.data(), bytes.size()))
        return;
    const bool sound = xb::checkTableFile(g_copy).empty();
    {
        xb::Connection conn;
        xb::Table* t = conn.open(g_copy);
        if (!t)
            finding("the copy of a table that opened does not open");
        int seed = size > 0 ? data[size / 2] : 0;
        if (t->appendBlank() == xb::kSuccess)
            changeRecord(t, seed);
        if (t->top() == xb::kSuccess) {
            changeRecord(t, seed + 1);
            t->deleteRecord();
        }
        if (t->skip(1) == xb::kSuccess)
            t->recall();
        uint32_t live = liveRecords(t);
        if (t->pack() == xb::kSuccess) {
            if (t->recCount() != live)
                finding("the pack kept " + std::to_string(t->recCount()) + " records of " + std::to_string(live) +
                        " live ones");
            walk(t);
        }
        t->close();
    }
    if (sound) {
        auto faults = xb::checkTableFile(g_copy);
        if (!faults.empty())
            finding("a sound table is no longer sound after the engine wrote to it: " + faults.front());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    xb::setErrorReport([](const xb::EngineError&) {});
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    if (!base || !*base)
        base = "/tmp";
    g_dir = std::string(base) + "/fuzz_dbf." + std::to_string(::getpid());
    ::mkdir(g_dir.c_str(), 0700);
    g_input = g_dir + "/input.dbf";
    g_copy = g_dir + "/copy.dbf";
    std::atexit(removeFiles);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!writeFile(g_input, data, size))
        return 0;
    bool opened = false;
    {
        xb::Connection conn;
        if (xb::Table* t = conn.open(g_input)) {
            opened = true;
            walk(t);
        }
    }
    xb::checkTableFile(g_input);
    if (opened)
        writeCopy(data, size);
    return 0;
}

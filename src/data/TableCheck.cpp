// The table tool's check of one table file: what another program reading the
// table would trip over.

#include "data/CodeBase.h"
#include "data/Paths.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xb {

namespace {

bool validNumber(std::string_view t)
{
    std::size_t b = 0, e = t.size();
    while (b < e && t[b] == ' ')
        ++b;
    while (e > b && t[e - 1] == ' ')
        --e;
    if (b == e)
        return true;  // blank
    std::size_t i = b;
    if (t[i] == '-' || t[i] == '+')
        ++i;
    bool digits = false, point = false;
    for (; i < e; ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            digits = true;
        else if (t[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

}  // namespace

std::vector<std::string> checkTableFile(const std::string& path)
{
    std::vector<std::string> faults;
    // Open through the engine, collecting what it reports instead of
    // showing it.
    std::vector<std::string> reported;
    ErrorReport previous = setErrorReport([&reported](const EngineError& e) { reported.push_back(e.fault); });
    struct Restore {
        ErrorReport& r;
        ~Restore() { setErrorReport(std::move(r)); }
    } restore {previous};
    Connection conn;
    conn.setReadOnly(true);
    Table* t = conn.open(path);
    if (!t) {
        for (auto& r : reported)
            faults.push_back(r);
        if (faults.empty())
            faults.push_back("the table cannot be opened");
        return faults;
    }

    uint64_t size = t->fileSize();
    uint64_t body = size - uint64_t(t->headerLength());
    uint64_t whole = body / uint64_t(t->recordLength());
    if (t->headerRecordCount() > whole)
        faults.push_back("the header counts " + std::to_string(t->headerRecordCount()) +
                         " records but the file holds only " + std::to_string(whole));
    else if (t->headerRecordCount() < whole)
        faults.push_back("the header counts " + std::to_string(t->headerRecordCount()) +
                         " records but the file holds " + std::to_string(whole) +
                         " whole records (the next write counts them)");

    const FieldList& fields = t->fieldList();
    std::size_t shown = 0;
    auto note = [&](const std::string& f) {
        if (shown < 50)
            faults.push_back(f);
        else if (shown == 50)
            faults.push_back("(further faults not shown)");
        ++shown;
    };
    for (uint32_t n = 1; n <= t->recCount(); ++n) {
        if (t->go(n) != kSuccess) {
            note("record " + std::to_string(n) + " cannot be read");
            break;
        }
        const char* rec = t->recordBuffer();
        if (rec[0] != ' ' && rec[0] != '*')
            note("record " + std::to_string(n) + ": the deletion mark is neither blank nor '*'");
        for (const FieldDesc& f : fields) {
            std::string_view v(rec + f.offset, std::size_t(f.width));
            bool ok = true;
            const char* what = "";
            switch (f.type) {
            case 'N':
            case 'F':
                ok = validNumber(v);
                what = "not a number";
                break;
            case 'D':
                ok = v.find_first_not_of(' ') == std::string_view::npos || v == "00000000" ||
                     Date::fromText(v).has_value();
                what = "not a date";
                break;
            case 'L':
                ok = std::strchr("TtFfYyNn? ", v[0]) != nullptr && v[0] != '\0';
                what = "not a logical value";
                break;
            default:
                break;
            }
            if (!ok)
                note("record " + std::to_string(n) + ": field " + f.name + " holds \"" + std::string(v) + "\", " +
                     what);
        }
    }

    bool hasIndex = fileExists(replaceExtension(t->path(), ".cdx"));
    bool flagged = (t->tableFlags() & 0x01) != 0;
    if (flagged && !hasIndex)
        faults.push_back("the header says the table has a production index, but there is no .cdx file");
    if (!flagged && hasIndex)
        faults.push_back("a .cdx file lies beside the table, but its header does not say it has a production index");
    for (auto& f : t->checkIndex())
        faults.push_back(f);
    for (auto& r : reported)
        faults.push_back(r);
    return faults;
}

}  // namespace xb

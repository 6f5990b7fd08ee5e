#include "TableText.h"

#include "data/Paths.h"

#include <cstdio>

namespace tabletext {

namespace {
std::string hex2(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v & 0xFF);
    return b;
}

const char* versionName(unsigned char v)
{
    switch (v) {
    case 0x02: return "FoxBase";
    case 0x03: return "dBase III / FoxPro 2.x, no memo";
    case 0x30: case 0x31: case 0x32: return "Visual FoxPro";
    case 0x83: return "dBase III with memo";
    case 0x8B: case 0xCB: return "dBase IV with memo";
    case 0xF5: return "FoxPro 2.x with memo";
    default: return "xBase";
    }
}

// The code page line: the mark, and what the text is read in.
std::string codePageText(const xb::Table& t)
{
    const unsigned char mark = t.codePage();
    const std::string page = t.textCodePage().name();
    if (mark == 0)
        return "unset: read as " + page;
    if (!xb::CodePage::knownMark(mark))
        return "not known here: read as " + page;
    return page;
}
}  // namespace

std::string describe(xb::Table& t)
{
    std::string s;
    char buf[256];
    s += "file: " + t.path() + "\n";
    s += "version: " + hex2(t.version()) + " (" + versionName(t.version()) + ")\n";
    xb::Date d = t.lastUpdate();
    std::snprintf(buf, sizeof buf, "last update: %04d-%02d-%02d\n", d.year, d.month, d.day);
    s += buf;
    s += "records: " + std::to_string(t.recCount());
    if (t.headerRecordCount() != t.recCount())
        s += " (the header says " + std::to_string(t.headerRecordCount()) + ")";
    s += "\n";
    s += "header length: " + std::to_string(t.headerLength()) + "\n";
    s += "record length: " + std::to_string(t.recordLength()) + "\n";
    std::string flags;
    if (t.tableFlags() & 0x01) flags += " production index";
    if (t.tableFlags() & 0x02) flags += " memo";
    if (t.tableFlags() & 0x04) flags += " database container";
    s += "flags: " + hex2(t.tableFlags()) + (flags.empty() ? "" : " (" + flags.substr(1) + ")") + "\n";
    s += "code page: " + hex2(t.codePage()) + " (" + codePageText(t) + ")\n";
    s += "fields: " + std::to_string(t.fieldCount()) + "\n";
    for (int i = 1; i <= t.fieldCount(); ++i) {
        const xb::Field* f = t.fieldAt(i);
        std::snprintf(buf, sizeof buf, "  %3d %-10s %c %3d %2d\n", i, f->name().c_str(), f->type(), f->width(),
                      f->decimals());
        s += buf;
    }
    s += describeTags(t);
    return s;
}

std::string csvLine(const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i)
            line += ',';
        const std::string& c = cells[i];
        if (c.find_first_of(",\"\r\n") != std::string::npos) {
            line += '"';
            for (char ch : c) {
                if (ch == '"')
                    line += '"';
                line += ch;
            }
            line += '"';
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

std::string cellText(const xb::Field& f)
{
    std::string_view raw = f.raw();
    switch (f.type()) {
    case 'L': {
        char c = raw.empty() ? ' ' : raw[0];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
            return "T";
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
            return "F";
        return "";
    }
    case 'C': {
        std::size_t e = raw.size();
        while (e > 0 && raw[e - 1] == ' ')
            --e;
        return f.table().textCodePage().decode(raw.substr(0, e));
    }
    default:
        return f.text();
    }
}

std::string dumpLine(xb::Table& t, bool deletedColumn)
{
    std::vector<std::string> cells;
    if (deletedColumn)
        cells.push_back(t.deleted() ? "*" : "");
    for (int i = 1; i <= t.fieldCount(); ++i)
        cells.push_back(cellText(*t.fieldAt(i)));
    return csvLine(cells);
}

}  // namespace tabletext

#include "TableText.h"

#include "data/Cdx.h"
#include "data/KeyExpr.h"

#include <charconv>
#include <cstdio>

namespace tabletext {

namespace {
// A stored key as text: C keys without trailing blanks, read in the table's
// code page, numbers as the engine reads them (shortest form), dates
// yyyymmdd, logicals T or F.
std::string keyText(char type, const std::string& key, const xb::CodePage& page)
{
    switch (type) {
    case 'N': {
        double v = xb::decodeNumberKey(key);
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, r.ptr);
    }
    case 'D': {
        std::string t = xb::textFromJulian(int64_t(xb::decodeNumberKey(key)));
        return t.find_first_not_of(' ') == std::string::npos ? std::string() : t;
    }
    default: {
        std::size_t e = key.size();
        while (e > 0 && (key[e - 1] == ' ' || (type != 'C' && key[e - 1] == '\0')))
            --e;
        return type == 'C' ? page.decode(std::string_view(key).substr(0, e)) : key.substr(0, e);
    }
    }
}
}  // namespace

std::string describeTags(xb::Table& t)
{
    xb::CdxIndex* idx = t.index();
    if (!idx)
        return "tags: none\n";
    std::string s = "tags: " + std::to_string(idx->tagCount()) + "\n";
    for (int i = 0; i < idx->tagCount(); ++i) {
        const xb::TagSpec& tag = idx->tag(i);
        char buf[64];
        std::snprintf(buf, sizeof buf, " %c %d", idx->keyType(i), idx->keyLength(i));
        s += "  " + tag.name + " key " + tag.keyExpr + (tag.forExpr.empty() ? "" : " for " + tag.forExpr) +
             "; type/length" + buf + (tag.unique ? "; unique" : "") + (tag.descending ? "; descending" : "; ascending");
        std::string why;
        if (!idx->usable(i, &why))
            s += "; cannot be kept up to date: " + why;
        s += "\n";
    }
    return s;
}

bool keys(xb::Table& t, const std::string& tag, std::string& out)
{
    xb::CdxIndex* idx = t.index();
    if (!idx)
        return false;
    int n = idx->findTag(tag);
    if (n < 0)
        return false;
    char type = idx->keyType(n);
    xb::IndexEntry e;
    xb::IdxStatus s = idx->first(n, e);
    while (s == xb::IdxStatus::Ok) {
        out += keyText(type, e.key, t.textCodePage()) + " " + std::to_string(e.recno) + "\n";
        xb::IndexEntry from = e;
        s = idx->next(n, from, e);
    }
    if (s == xb::IdxStatus::Broken) {
        xb::reportError(t.path(), "the index tag " + tag + " is damaged (" + idx->lastFault() + ")");
        return true;
    }
    return true;
}

}  // namespace tabletext

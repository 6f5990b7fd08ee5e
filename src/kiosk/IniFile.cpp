#include "kiosk/IniFile.h"

#include "data/CodePage.h"
#include "data/Paths.h"
#include "data/TicketValues.h"

#include <climits>
#include <fstream>
#include <iterator>

namespace kiosk {

namespace {

std::string fromUtf16(std::string_view s, bool bigEndian)
{
    std::string out;
    auto unit = [&](std::size_t i) -> char32_t {
        unsigned char a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
        return bigEndian ? char32_t((a << 8) | b) : char32_t((b << 8) | a);
    };
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < s.size()) {
            char32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                xb::appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        xb::appendUtf8(out, c);
    }
    return out;
}

}  // namespace

std::string toUtf8(std::string_view bytes)
{
    if (xb::isUtf8(bytes))
        return std::string(bytes);
    return xb::CodePage::ofMark(xb::kDefaultCodePageMark).decode(bytes);
}

std::optional<IniFile> IniFile::load(const std::string& path)
{
    std::string resolved = xb::resolvePath(path);
    if (!xb::fileExists(resolved))
        return std::nullopt;
    std::ifstream in(resolved, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return parse(bytes);
}

IniFile IniFile::parse(std::string_view bytes)
{
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
        text = fromUtf16(bytes.substr(2), false);
    else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF)
        text = fromUtf16(bytes.substr(2), true);
    else if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        text = toUtf8(bytes.substr(3));
    else
        text = toUtf8(bytes);

    IniFile ini;
    Section* current = nullptr;  // keys before the first section belong to none
    std::string_view all(text);
    while (!all.empty()) {
        std::size_t nl = all.find('\n');
        std::string_view line = all.substr(0, nl);
        all = nl == std::string_view::npos ? std::string_view() : all.substr(nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = values::trim(line);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            std::string_view name = values::trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            current = nullptr;
            for (auto& s : ini.sections_)
                if (values::sameText(s.name, name))
                    current = &s;
            if (!current) {
                ini.sections_.push_back(Section {std::string(name), {}});
                current = &ini.sections_.back();
            }
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !current)
            continue;
        std::string_view key = values::trim(line.substr(0, eq));
        std::string_view value = values::trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        bool known = false;
        for (const auto& e : current->entries)
            if (values::sameText(e.key, key))
                known = true;
        if (!known)
            current->entries.push_back(Entry {std::string(key), std::string(value)});
    }
    return ini;
}

const IniFile::Section* IniFile::section(std::string_view name) const
{
    name = values::trim(name);
    for (const auto& s : sections_)
        if (values::sameText(s.name, name))
            return &s;
    return nullptr;
}

const IniFile::Entry* IniFile::entry(std::string_view sectionName, std::string_view key) const
{
    const Section* s = section(sectionName);
    if (!s)
        return nullptr;
    key = values::trim(key);
    for (const auto& e : s->entries)
        if (values::sameText(e.key, key))
            return &e;
    return nullptr;
}

bool IniFile::hasSection(std::string_view name) const { return section(name) != nullptr; }

bool IniFile::hasKey(std::string_view sectionName, std::string_view key) const
{
    return entry(sectionName, key) != nullptr;
}

std::string IniFile::value(std::string_view sectionName, std::string_view key, std::string_view fallback) const
{
    const Entry* e = entry(sectionName, key);
    return e ? e->value : std::string(fallback);
}

int IniFile::profileInt(std::string_view v)
{
    std::size_t i = 0;
    if (i < v.size() && v[i] == '+')
        ++i;
    long long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > INT_MAX)
            return INT_MAX;
    }
    return int(n);
}

int IniFile::getInt(std::string_view sectionName, std::string_view key, int fallback) const
{
    const Entry* e = entry(sectionName, key);
    return e ? profileInt(e->value) : fallback;
}

}  // namespace kiosk

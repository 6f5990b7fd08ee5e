#include "data/StepRecord.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace xb {

namespace {

std::string escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            ++i;
            out += s[i] == 'n' ? '\n' : s[i] == 'r' ? '\r' : s[i];
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

void StepRecord::add(const std::string& key, const std::string& value) { entries_.emplace_back(key, value); }

std::string StepRecord::text(const std::string& comment) const
{
    std::ostringstream o;
    o << "# " << comment << '\n';
    for (const auto& [k, v] : entries_)
        o << k << '=' << escape(v) << '\n';
    o << "end\n";
    return o.str();
}

std::optional<StepRecord> StepRecord::parse(const std::string& text)
{
    StepRecord r;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "end")
            return r;
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos)
            continue;
        r.entries_.emplace_back(line.substr(0, eq), unescape(line.substr(eq + 1)));
    }
    return std::nullopt;
}

std::string StepRecord::value(const std::string& key) const
{
    for (const auto& [k, v] : entries_)
        if (k == key)
            return v;
    return {};
}

std::optional<long long> StepRecord::number(const std::string& key) const
{
    const std::string v = value(key);
    if (v.empty())
        return std::nullopt;
    char* end = nullptr;
    const long long n = std::strtoll(v.c_str(), &end, 10);
    if (!end || *end != '\0')
        return std::nullopt;
    return n;
}

std::optional<std::string> readSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace xb

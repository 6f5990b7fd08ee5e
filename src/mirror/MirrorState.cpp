#include "mirror/MirrorState.h"

#include "data/Paths.h"
#include "data/StepRecord.h"
#include "mirror/SiteTables.h"

#include <optional>
#include <vector>

namespace mirror {

namespace {

std::vector<std::string> splitTabs(const std::string& s)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = s.find('\t', start);
        out.push_back(s.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

std::optional<long> number(const std::string& s)
{
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(s);
}

}  // namespace

LocalState loadState(const std::string& path)
{
    LocalState state;
    const auto text = xb::readSmallFile(path);
    if (!text)
        return state;
    const auto record = xb::StepRecord::parse(*text);
    if (!record || record->value("format") != kRowsFormat)
        return state;
    state.target = record->value("target");
    state.lastRun = record->value("last_run");
    state.lastSent = record->value("last_sent");
    for (const auto& [key, value] : record->entries()) {
        if (key != "part")
            continue;
        const auto f = splitTabs(value);
        if (f.size() != 7)
            return LocalState {};
        const auto rows = number(f[4]), sentRows = number(f[6]);
        if (!rows || !sentRows || (f[2] != "settled" && f[2] != "racy"))
            return LocalState {};
        PartState p;
        p.identity = f[1];
        p.settled = f[2] == "settled";
        p.signature = f[3];
        p.rows = *rows;
        p.sentSignature = f[5];
        p.sentRows = *sentRows;
        state.parts[f[0]] = p;
    }
    return state;
}

bool saveState(const std::string& path, const LocalState& state, std::string& error)
{
    xb::StepRecord r;
    r.add("format", kRowsFormat);
    r.add("target", state.target);
    r.add("last_run", state.lastRun);
    r.add("last_sent", state.lastSent);
    for (const auto& [key, p] : state.parts)
        r.add("part", key + '\t' + p.identity + '\t' + (p.settled ? "settled" : "racy") + '\t' + p.signature + '\t' +
                          std::to_string(p.rows) + '\t' + p.sentSignature + '\t' + std::to_string(p.sentRows));
    // Written beside and renamed into place, so it is whole or the old one;
    // not flushed to the disk: losing it to a power cut costs one run that
    // reads every table again, and a flush would cost each run more than
    // the rest of a run with nothing to send.
    const std::string text = r.text("what grazulo-admin mirror read and sent; it reads every table again "
                                    "when this file is removed");
    return xb::writeFileWhole(path, text, &error);
}

}  // namespace mirror

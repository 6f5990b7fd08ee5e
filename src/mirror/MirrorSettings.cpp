#include "mirror/MirrorSettings.h"

#include "data/Paths.h"
#include "data/StepRecord.h"
#include "data/TicketValues.h"
#include "kiosk/IniFile.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace mirror {

std::string hostName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0])
        return "localhost";
    return buf;
}

std::optional<std::string> siteIdProblem(const std::string& site)
{
    if (site.empty())
        return "the site's id is empty";
    // Characters, not bytes: a letter beyond ASCII takes two or more in UTF-8.
    const auto characters = std::count_if(site.begin(), site.end(), [](char c) { return (c & 0xC0) != 0x80; });
    if (characters > 63)
        return "the site's id \"" + site + "\" is longer than 63 characters";
    for (unsigned char c : site)
        if (c < 0x20 || c == 0x7F)
            return "the site's id holds a control character";
    return std::nullopt;
}

Settings loadSettings(const std::string& programDir, const std::string& dataDir, std::string& error)
{
    Settings s;
    s.programDir = xb::addBackslash(programDir);
    s.dataDir = dataDir.empty() ? std::string() : xb::addBackslash(dataDir);
    s.statePath = s.programDir + "mirror.state";
    const auto ini = kiosk::IniFile::load(s.programDir + "setup.ini");
    s.site = ini ? ini->value("Mirror", "site") : std::string();
    if (s.site.empty())
        s.site = hostName();
    const std::string connection = ini ? ini->value("Mirror", "connection") : std::string();
    if (!connection.empty())
        s.connectionFile = connection[0] == '/' ? connection : s.programDir + connection;
    error = siteIdProblem(s.site).value_or("");
    return s;
}

std::optional<std::string> readConnectionFile(const std::string& path, std::string& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "the connection file " + path + " does not exist";
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "the connection file " + path + " is not a file";
        return std::nullopt;
    }
    if (st.st_mode & 077) {
        error = "the connection file " + path +
                " can be read or written by other users than its owner; make it the site user's alone "
                "(chmod 600 " + path + ")";
        return std::nullopt;
    }
    const auto text = xb::readSmallFile(path);
    if (!text) {
        error = "the connection file " + path + " cannot be read";
        return std::nullopt;
    }
    std::string out;
    std::size_t start = 0;
    while (start <= text->size()) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        const std::string_view line = values::trim(std::string_view(*text).substr(start, end - start));
        if (!line.empty() && line[0] != '#') {
            if (!out.empty())
                out += ' ';
            out += line;
        }
        start = end + 1;
    }
    if (out.empty()) {
        error = "the connection file " + path + " holds no connection string";
        return std::nullopt;
    }
    return out;
}

}  // namespace mirror

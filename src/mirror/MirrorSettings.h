#pragma once
// Where the mirror sends to, and as what site: the [Mirror] section of the
// program directory's setup.ini.
//
//   [Mirror]
//   site=quarry-north
//   connection=/srv/grazulo/head-office.conn
//
// `site` is the site's id at the head office (the machine's host name when
// empty). `connection` names the file that holds the libpq connection
// string (a path relative to the program directory is taken from there);
// the string itself never appears on a command line, where every user of
// the machine could read it, and the file must be readable by the site's
// user alone.

#include <optional>
#include <string>

namespace mirror {

struct Settings {
    std::string programDir;      // with its trailing '/'
    std::string dataDir;         // with its trailing '/'; empty when setup.dbf names none
    std::string site;            // never empty once loaded
    std::string connectionFile;  // empty when setup.ini names none
    std::string statePath;       // what the mirror keeps between runs (programDir + mirror.state)
};

// The settings of the site in `programDir`, whose data directory is
// `dataDir`. `error` names what is wrong with them (a site id that cannot
// be one), and is empty otherwise.
Settings loadSettings(const std::string& programDir, const std::string& dataDir, std::string& error);

// The machine's host name.
std::string hostName();

// A site's id is printable text of 1 to 63 characters; the reason when it is not.
std::optional<std::string> siteIdProblem(const std::string& site);

// The connection string the file holds: its lines joined by blanks, with
// blank lines and lines starting with '#' left out. Nothing, with `error`,
// when the file is missing, empty, or readable (or writable) by users other
// than its owner.
std::optional<std::string> readConnectionFile(const std::string& path, std::string& error);

}  // namespace mirror

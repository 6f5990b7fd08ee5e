// grazulo-admin: the site administrator's jobs that need no screen.
//
//   grazulo-admin [--home DIR] COMMAND ARGUMENTS...
//
// The program directory is DIR, else GRAZULO_HOME, else this program's own
// directory; the data directory is datapath of its setup.dbf. Errors go to
// standard error with exit status 1 (the job failed) or 2 (wrong use).

#include "AdminCommands.h"
#include "SiteOwner.h"

#include "data/Catalogue.h"
#include "setup/MoveData.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace admin {

std::string programDir() { return catalogue::programDir(); }
std::string dataDir() { return catalogue::dataDir(); }

int fail(const std::string& text, int status)
{
    std::cerr << "grazulo-admin: " << text << "\n";
    return status;
}

std::string absoluteArgument(const std::string& dir)
{
    char cwd[PATH_MAX];
    return catalogue::absoluteDirectory(dir, ::getcwd(cwd, sizeof cwd) ? cwd : "/");
}

std::string lines(std::string text)
{
    for (char& c : text)
        if (c == '\r')
            c = '\n';
    return text;
}

}  // namespace admin

namespace admin {
int report(const Args& args);  // AdminReport.cpp
}  // namespace admin

namespace {

// The commands, in the order the usage text lists them.
const admin::Command kCommands[] = {
    {"month-end", "YEAR MONTH          (MONTH 1 to 12)", admin::monthEnd},
    {"mirror", "[--allow-empty] [--batch-rows N] | --status | --init [--connection FILE] | --ready",
     admin::mirrorCommand},
    {"move-data", "DIR [--replace]", admin::moveData},
    {"new-site", "DIR [--scale-port N] [--printer-port N] [--printer-type N] [--data-dir PATH] [--keep-setup]",
     admin::newSite},
    {"report", "transactions FROM TO -o FILE | customers -o FILE | products -o FILE", admin::report},
    {"version", "", [](const admin::Args&) {
         std::cout << "grazulo-admin 0.1\n";
         return 0;
     }},
};

int usage(std::ostream& out)
{
    out << "usage: grazulo-admin [--home DIR] COMMAND ...\n";
    for (const admin::Command& c : kCommands)
        out << "  grazulo-admin [--home DIR] " << c.name << (*c.usage ? " " : "") << c.usage << "\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    admin::Args args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        usage(std::cout);
        return 0;
    }
    if (args.size() >= 2 && args[0] == "--home") {
        ::setenv("GRAZULO_HOME", args[1].c_str(), 1);
        args.erase(args.begin(), args.begin() + 2);
    } else if (!args.empty() && args[0].rfind("--home=", 0) == 0) {
        ::setenv("GRAZULO_HOME", args[0].substr(7).c_str(), 1);
        args.erase(args.begin());
    }
    if (args.empty())
        return usage(std::cerr);
    for (const admin::Command& c : kCommands) {
        if (args[0] != c.name)
            continue;
        // The commands on a site's program directory work as its owner when
        // run as root; new-site asks for the directory it makes itself. A
        // move of the data directory cut short is settled, as that owner,
        // before any table is used.
        const std::string name = c.name;
        if (name != "new-site" && name != "version") {
            if (int status = admin::workAsSiteOwner(admin::programDir()))
                return status;
            const setup::Settled s = setup::settleInterruptedMove();
            if (s.found)
                std::cerr << "grazulo-admin: " << admin::lines(s.message) << "\n";
        }
        const int status = c.run(admin::Args(args.begin() + 1, args.end()));
        if (status != 0 && !admin::siteOwnerNote().empty())
            admin::fail(admin::siteOwnerNote(), status);
        return status;
    }
    admin::fail("unknown command " + args[0], 2);
    return usage(std::cerr);
}

// grazulo-admin new-site DIR: a site's program directory, ready for the
// kiosk and the station.
//
//   grazulo-admin new-site DIR [--scale-port N] [--printer-port N]
//                 [--printer-type N] [--data-dir PATH] [--keep-setup]
//
// setup.dbf (the scale on port 1, the ticket printer on port 3, type 1, the
// data directory DIR/database/ unless the options say otherwise; port 2 is
// always the card reader's), a commented setup.ini with every key the
// program reads, the message box pictures, and database/ with empty
// customer, product and control tables (and the station's company and user
// tables when the data directory is database/). A directory that holds a
// setup.dbf already is refused, unless --keep-setup keeps that table.

#include "AdminCommands.h"
#include "SiteOwner.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketStore.h"
#include "data/Util.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace admin {

namespace {

const char* const kIni =
    "; The kiosk's settings. Lines starting with a semicolon are notes.\n"
    ";\n"
    "; The two lines of driver instructions after a truck's first weighing.\n"
    "[Inbound]\n"
    "msg1=Drive forward to the loader.\n"
    "msg2=Come back onto the scale when you are loaded.\n"
    ";\n"
    "; The two lines after its second weighing.\n"
    "[Outbound]\n"
    "msg1=Take both copies of your ticket.\n"
    "msg2=Drive safely!\n"
    ";\n"
    "; In seconds: how long the licence plate and material screens wait for\n"
    "; the driver, how long the outbound screen shows, how long the\n"
    "; instructions show. 0 or no value: the screen stays until it is left\n"
    "; another way.\n"
    "[Timer]\n"
    "license=60\n"
    "outbound=8\n"
    "instructions=8\n"
    ";\n"
    "; In seconds (0.5 for half a second): how long the scale's weight must\n"
    "; hold before the kiosk takes it for a ticket. 0 takes it at once.\n"
    "[Scale]\n"
    "steady=1\n"
    ";\n"
    "; The device each port number of setup.dbf stands for on this machine:\n"
    "; com1 to com9 the serial ports (the card reader is always port 2), lpt1\n"
    "; the parallel printer. Without a value com1 is /dev/ttyS0, com2\n"
    "; /dev/ttyS1 and so on, and lpt1 /dev/lp0. Stable names under\n"
    "; /dev/serial/by-id/ survive a USB adapter plugged in elsewhere.\n"
    "[Ports]\n"
    "com1=/dev/ttyS0\n"
    "com2=/dev/ttyS1\n"
    "com3=/dev/ttyS2\n"
    "lpt1=/dev/lp0\n"
    ";\n"
    "; The head office's database (grazulo-admin mirror): the site's id there\n"
    "; (the host name when empty), and the file holding the connection\n"
    "; string, readable by the site's user alone. No file: nothing is sent.\n"
    "[Mirror]\n"
    "site=\n"
    "connection=\n";

// Where the default pictures are: beside an installed program
// (../share/grazulo), or in the source tree of a build.
std::string picturesDir()
{
    if (const char* env = std::getenv("GRAZULO_ASSETS"); env && *env)
        return xb::addBackslash(env);
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        std::string exe(buf, std::size_t(n));
        const std::string dir = xb::directoryOf(exe);
        for (const std::string& candidate : {dir + "../share/grazulo/", std::string(GRAZULO_SOURCE_ASSETS) + "/"})
            if (xb::fileExists(candidate + "warning.bmp"))
                return candidate;
    }
    return std::string(GRAZULO_SOURCE_ASSETS) + "/";
}

bool portNumber(const std::string& s, int lo, int hi, int& out)
{
    if (s.size() != 1 || s[0] < '0' || s[0] > '9')
        return false;
    out = s[0] - '0';
    return out >= lo && out <= hi;
}

bool createTable(const std::string& path, int layout, std::vector<xb::TagSpec> tags, std::string& error)
{
    xb::Connection c;
    xb::Table* t = c.create(path, catalogue::layoutFields(layout), tags);
    if (!t || t->close() != xb::kSuccess) {
        error = path + " cannot be created";
        return false;
    }
    return true;
}

}  // namespace

int newSite(const Args& args)
{
    std::string dir, dataDir;
    int scale = 1, printer = 3, type = 1;
    bool keep = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* what) -> const std::string* {
            if (i + 1 >= args.size()) {
                fail(std::string(what) + " needs a value", 2);
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--scale-port" || a == "--printer-port" || a == "--printer-type") {
            const std::string* v = value(a.c_str());
            if (!v)
                return 2;
            int n = 0;
            const bool isType = a == "--printer-type";
            if (!portNumber(*v, 1, isType ? 5 : 9, n))
                return fail("'" + *v + "' is not a " + (isType ? "printer type (1 to 5)" : "port number (1 to 9)"), 2);
            (a == "--scale-port" ? scale : isType ? type : printer) = n;
        } else if (a == "--data-dir") {
            const std::string* v = value("--data-dir");
            if (!v)
                return 2;
            dataDir = xb::addBackslash(absoluteArgument(*v));
        } else if (a == "--keep-setup") {
            keep = true;
        } else if (!a.empty() && a[0] == '-') {
            return fail("unknown option " + a, 2);
        } else if (dir.empty()) {
            dir = a;
        } else {
            return fail("usage: grazulo-admin new-site DIR [options]", 2);
        }
    }
    if (dir.empty())
        return fail("usage: grazulo-admin new-site DIR [--scale-port N] [--printer-port N] [--printer-type N] "
                    "[--data-dir PATH] [--keep-setup]",
                    2);
    for (auto [name, port] : {std::pair {"scale", scale}, std::pair {"ticket printer", printer}})
        if (port == 2)
            return fail(std::string("port 2 is the card reader's: the ") + name + " cannot be on it", 2);
    if (scale == printer)
        return fail("the scale and the ticket printer cannot share port " + std::to_string(scale), 2);
    // Stored absolute: the kiosk's service runs from another directory.
    dir = xb::addBackslash(absoluteArgument(dir));
    if (dataDir.empty())
        dataDir = dir + "database/";
    if (dataDir.size() > 50)
        return fail("the data directory " + dataDir + " is longer than the 50 characters setup.dbf holds; "
                    "choose a shorter one with --data-dir",
                    2);
    if (int status = workAsSiteOwner(dir))
        return status;
    const bool hasSetup = xb::fileExists(dir + "setup.dbf");
    if (hasSetup && !keep)
        return fail(dir + " holds a setup.dbf already; --keep-setup keeps it and makes the rest");
    std::string error;
    if (!xb::makeDir(dir + "database") || !xb::makeDir(dataDir))
        return fail("the directory " + dir + "database cannot be made");

    if (!hasSetup) {
        std::vector<xb::FieldSpec> fields = catalogue::layoutFields(catalogue::kSetupLayout);
        fields.push_back({"printer", 'C', 1, 0});
        xb::Connection c;
        xb::Table* t = c.create(dir + "setup.dbf", fields);
        bool ok = t && t->appendStart() == xb::kSuccess;
        if (ok) {
            t->blank();
            ok = util::replace(t, "scalport", std::to_string(scale)) &&
                 util::replace(t, "prtport", std::to_string(printer)) && util::replace(t, "modemport", "4") &&
                 util::treplace(t, "tone", true) && util::replace(t, "datapath", dataDir) &&
                 util::replace(t, "printer", std::to_string(type)) && t->append() == xb::kSuccess &&
                 t->close() == xb::kSuccess;
        }
        if (!ok)
            return fail(dir + "setup.dbf cannot be written");
    }
    if (!xb::fileExists(dir + "setup.ini") && !xb::writeFileDurably(dir + "setup.ini", kIni, &error))
        return fail(error);
    const std::string pictures = picturesDir();
    for (const char* pic : {"warning.bmp", "error.bmp", "question.bmp"})
        if (!xb::fileExists(dir + pic) && !xb::copyFile(pictures + pic, dir + pic, &error))
            return fail(error);

    // The kiosk's tables; the station's beside them when they share the
    // directory, so its start-up finds everything.
    const std::string db = dir + "database/";
    std::vector<xb::TagSpec> customerTags = catalogue::layoutTags(catalogue::kCustomerLayout);
    xb::TagSpec card;
    card.name = "FAX_NO";
    card.keyExpr = "fax_no";
    customerTags.push_back(card);
    struct Made {
        std::string path;
        int layout;
        std::vector<xb::TagSpec> tags;
    };
    std::vector<Made> tables = {{db + "customer.dbf", catalogue::kCustomerLayout, customerTags},
                                {db + "product.dbf", catalogue::kProductLayout,
                                 catalogue::layoutTags(catalogue::kProductLayout)}};
    if (store::sameDirectory(db, dataDir) || dataDir == db) {
        tables.push_back({db + "house.dbf", catalogue::kCompanyLayout, {}});
        tables.push_back({db + "Company.dbf", catalogue::kCompanyLayout, {}});
    }
    for (const Made& m : tables)
        if (!xb::fileExists(m.path) && !createTable(m.path, m.layout, m.tags, error))
            return fail(error);
    if (!xb::fileExists(db + "control.dbf")) {
        xb::Connection c;
        xb::Table* t = c.create(db + "control.dbf", {{"company", 'N', 10, 0}});
        if (!t || t->appendStart() != xb::kSuccess)
            return fail(db + "control.dbf cannot be created");
        t->blank();
        t->field("company")->assignInteger(store::sameDirectory(db, dataDir) ? 0 : 1);
        if (t->append() != xb::kSuccess || t->close() != xb::kSuccess)
            return fail(db + "control.dbf cannot be written");
    }
    std::cout << "The site's program directory is " << dir << ": scale on port " << scale
              << ", ticket printer of type " << type << " on port " << printer << ", data directory " << dataDir
              << ".\nPoint the [Ports] of " << dir << "setup.ini at this machine's devices.\n";
    return 0;
}

}  // namespace admin

// makedemo: the tables of a demonstration site in a program directory, for
// running the kiosk on the device simulator (tools/run-demo.sh):
//
//   DIR/setup.dbf               scale on port 1, ticket printer of type 3 on port 3
//   DIR/database/customer.dbf   five customers; fax_no holds the card number,
//                               customer.cdx the tags N_AME and FAX_NO
//   DIR/database/product.dbf    twelve materials
//   DIR/database/control.dbf    the ticket counter, starting at 1
//
//   makedemo DIR
//
// Existing tables are replaced. setup.ini and the message box pictures are
// the script's part.

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct Customer {
    const char* name;
    const char* address;
    const char* card;
};

const Customer kCustomers[] = {
    {"ACME GRAVEL LTD", "12 PIT ROAD", "1001"},
    {"BLUE RIVER AGGREGATES", "4 MILL STREET", "1002"},
    {"CASCADE CONCRETE", "77 DAM ROAD", "1003"},
    {"DUNMORE LANDSCAPING", "9 ORCHARD LANE", "1004"},
    {"EASTSIDE EXCAVATING", "310 QUARRY WAY", "1005"},
};

const char* const kMaterials[] = {
    "3/4 CRUSH",  "PEA GRAVEL",  "WASHED SAND", "ROAD BASE",  "RIP RAP",     "TOPSOIL",
    "BARK MULCH", "FILL DIRT",   "RIVER ROCK",  "DRAIN ROCK", "MASONRY SAND", "RECYCLED ASPHALT",
};

bool fail(const std::string& what)
{
    std::fprintf(stderr, "makedemo: %s\n", what.c_str());
    return false;
}

bool append(xb::Table* t, const std::vector<std::pair<const char*, std::string>>& values)
{
    t->appendStart();
    t->blank();
    for (const auto& [field, value] : values) {
        xb::Field* f = t->field(field);
        if (!f || !f->assign(value))
            return fail(t->path() + ": cannot set " + field);
    }
    return t->append() == xb::kSuccess || fail(t->path() + ": cannot append");
}

bool make(const std::string& dir)
{
    const std::string db = dir + "/database";
    ::mkdir(dir.c_str(), 0755);
    ::mkdir(db.c_str(), 0755);
    xb::Connection c;
    c.setSafety(false);

    // The setup layout with the printer's type beside it.
    std::vector<xb::FieldSpec> setupFields = catalogue::layoutFields(catalogue::kSetupLayout);
    setupFields.push_back({"printer", 'C', 1, 0});
    xb::Table* setup = c.create(dir + "/setup.dbf", setupFields);
    if (!setup)
        return fail("cannot create setup.dbf");
    // The station's data directory: the kiosk's own, when its path fits.
    std::string datapath = db + "/";
    if (datapath.size() > 50) {
        std::fprintf(stderr, "makedemo: %s is longer than datapath holds; datapath left blank\n", datapath.c_str());
        datapath.clear();
    }
    if (!append(setup, {{"scalport", "1"}, {"prtport", "3"}, {"modemport", "2"}, {"dialpref", ""},
                        {"tone", "T"}, {"datapath", datapath}, {"printer", "3"}}))
        return false;

    std::vector<xb::TagSpec> customerTags {{"N_AME", "n_ame", "", false, false}, {"FAX_NO", "fax_no", "", false, false}};
    xb::Table* customers =
        c.create(db + "/customer.dbf", catalogue::layoutFields(catalogue::kCustomerLayout), customerTags);
    if (!customers)
        return fail("cannot create customer.dbf");
    int code = 1;
    for (const Customer& cu : kCustomers)
        if (!append(customers, {{"code_num", std::to_string(code++)}, {"n_ame", cu.name}, {"add_r", cu.address},
                                {"fax_no", cu.card}}))
            return false;

    xb::Table* products = c.create(db + "/product.dbf", catalogue::layoutFields(catalogue::kProductLayout),
                                   catalogue::layoutTags(catalogue::kProductLayout));
    if (!products)
        return fail("cannot create product.dbf");
    code = 1;
    for (const char* m : kMaterials)
        if (!append(products, {{"code_num", std::to_string(code++)}, {"n_ame", m}}))
            return false;

    // The station's company record (its window's title) and the table its
    // start-up looks for beside the customers and products.
    xb::Table* company = c.create(db + "/Company.dbf", catalogue::layoutFields(catalogue::kCompanyLayout));
    if (!company || !append(company, {{"n_ame", "VELMORE GREENHOUSE"}}))
        return fail("cannot create Company.dbf");
    if (!c.create(db + "/house.dbf", catalogue::layoutFields(catalogue::kCompanyLayout)))
        return fail("cannot create house.dbf");

    xb::Table* control = c.create(db + "/control.dbf", {{"company", 'N', 10, 0}});
    if (!control)
        return fail("cannot create control.dbf");
    if (!append(control, {{"company", "1"}}))
        return false;
    c.closeAll();
    return c.errorCode() == 0 || fail("a table could not be written");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makedemo DIR\n");
        return 2;
    }
    return make(argv[1]) ? 0 : 1;
}

#include "data/Catalogue.h"

#include "data/Cdx.h"
#include "data/Paths.h"
#include "data/TicketValues.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace catalogue {

using xb::FieldSpec;

namespace {

const std::vector<FieldSpec> kTicket = {
    {"user_id", 'C', 20, 0},  {"ticket", 'N', 5, 0},     {"company", 'C', 35, 0}, {"carrier", 'C', 35, 0},
    {"truck", 'C', 12, 0},    {"customer", 'C', 35, 0},  {"product", 'C', 35, 0}, {"po", 'C', 20, 0},
    {"payment", 'C', 20, 0},  {"amount", 'N', 10, 2},    {"gst", 'N', 10, 2},     {"pst", 'N', 10, 2},
    {"total", 'N', 10, 2},    {"pounds", 'L', 1, 0},     {"in_time", 'N', 4, 0},  {"in_date", 'D', 8, 0},
    {"out_time", 'N', 4, 0},  {"out_date", 'D', 8, 0},   {"in_wgt", 'N', 10, 0},  {"out_wgt", 'N', 10, 0},
    {"net_wgt", 'N', 10, 0},  {"complete", 'L', 1, 0},   {"remarks", 'C', 50, 0},
};
const std::vector<FieldSpec> kCompany = {{"n_ame", 'C', 20, 0}};
const std::vector<FieldSpec> kCustomer = {
    {"code_num", 'N', 3, 0}, {"n_ame", 'C', 35, 0}, {"add_r", 'C', 25, 0}, {"fax_no", 'C', 20, 0}};
const std::vector<FieldSpec> kProduct = {
    {"code_num", 'N', 3, 0}, {"n_ame", 'C', 35, 0}, {"price_t", 'F', 6, 2}, {"Balance", 'N', 6, 0}};
const std::vector<FieldSpec> kPayment = {{"n_ame", 'C', 20, 0}};
const std::vector<FieldSpec> kSetup = {{"scalport", 'C', 1, 0}, {"prtport", 'C', 1, 0},  {"modemport", 'C', 1, 0},
                                       {"dialpref", 'C', 10, 0}, {"tone", 'L', 1, 0},    {"datapath", 'C', 50, 0}};
const std::vector<FieldSpec> kNone;

}  // namespace

const std::vector<FieldSpec>& layoutFields(int type)
{
    switch (type) {
    case kTicketLayout: return kTicket;
    case kCompanyLayout: return kCompany;
    case kCustomerLayout: return kCustomer;
    case kProductLayout: return kProduct;
    case kPaymentLayout: return kPayment;
    case kSetupLayout: return kSetup;
    default: return kNone;
    }
}

bool isLayout(int type) { return !layoutFields(type).empty(); }

bool layoutHasNameTag(int type)
{
    return type == kCompanyLayout || type == kCustomerLayout || type == kProductLayout || type == kPaymentLayout;
}

std::vector<xb::TagSpec> layoutTags(int type)
{
    std::vector<xb::TagSpec> tags;
    if (layoutHasNameTag(type)) {
        xb::TagSpec t;
        t.name = "N_AME";
        t.keyExpr = "n_ame";
        tags.push_back(t);
    }
    return tags;
}

bool CreateTable(int type, std::string_view path)
{
    if (!isLayout(type)) {
        xb::reportError(std::string(path), "the table was not created: there is no layout " + std::to_string(type));
        return false;
    }
    // Never over an existing file: one another program made since the
    // caller looked is kept, and the create refused.
    xb::Connection conn;
    xb::Table* t = conn.create(path, layoutFields(type), layoutTags(type));
    bool ok = t != nullptr && conn.errorCode() == 0;
    conn.closeAll();
    return ok && conn.errorCode() == 0;
}

void LoadList(int listType, std::vector<std::string>& names, std::string_view directory)
{
    names.clear();
    const char* file = listType == kCustomerLayout ? "Customer.dbf" : listType == kProductLayout ? "Product.dbf" : nullptr;
    if (!file)
        return;
    std::string path = AddBackslash(directory) + file;
    if (!xb::fileExists(path) && !CreateTable(listType, path))
        return;
    xb::Connection conn;
    xb::Table* t = conn.open(path);
    if (!t)
        return;
    xb::Field* name = t->field("n_ame");
    if (!name)
        return;
    if (t->selectTag("N_ame")) {
        for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
            names.push_back(name->text());
        return;
    }
    // Without its index the table still lists in n_ame order: the tag's
    // order is the padded names byte by byte, equal names by record number.
    std::vector<std::pair<std::string, uint32_t>> rows;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        rows.emplace_back(std::string(name->raw()), t->recNo());
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& row : rows) {
        std::string s = row.first;
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        std::size_t b = s.find_first_not_of(' ');
        names.push_back(b == std::string::npos ? std::string() : s.substr(b));
    }
}

bool TablesExist(std::string_view directory)
{
    if (directory.empty())
        return false;
    std::string d = AddBackslash(directory);
    return xb::fileExists(d + "customer.dbf") && xb::fileExists(d + "Product.dbf") && xb::fileExists(d + "house.dbf");
}

std::string AddBackslash(std::string_view text) { return xb::addBackslash(text); }

std::string programDir()
{
    if (const char* home = std::getenv("GRAZULO_HOME"); home && *home)
        return AddBackslash(home);
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string exe(buf, std::size_t(n));
    return xb::directoryOf(exe);
}

std::string kioskDatabaseDir() { return programDir() + "database/"; }

std::string setupTablePath() { return programDir() + "setup.dbf"; }

std::string dataDir()
{
    std::string path = setupTablePath();
    if (!xb::fileExists(path))
        return {};
    xb::Connection conn;
    xb::Table* t = conn.open(path);
    if (!t)
        return {};
    xb::Field* f = t->field("datapath");
    if (!f || t->top() != xb::kSuccess)
        return {};
    return AddBackslash(f->text());
}

std::string dayTableName(const xb::Date& d)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%02d%02d.dbf", xb::monthAbbrev(d.month), d.day % 100, d.year % 100);
    return buf;
}

std::string monthDirName(int year, int month)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%s", year % 100, xb::monthAbbrev(month));
    return buf;
}

std::string monthEndTableName(int year, int month) { return "MonthEnd/ME_" + monthDirName(year, month) + ".dbf"; }

std::string purgeTableName(const xb::Date& day) { return "HS_data/HS_" + dayTableName(day); }

xb::Date today()
{
    xb::LocalTime t = xb::now();
    return xb::Date {t.year, t.month, t.day};
}

int timeToStored(int hour, int minute) { return values::storedTime(hour, minute); }

std::string storedTimeText(std::string_view stored) { return values::timeText(stored); }

}  // namespace catalogue

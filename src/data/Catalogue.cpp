#include "data/Catalogue.h"

#include "data/Cdx.h"
#include "data/Paths.h"
#include "data/TicketValues.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

bool CreateTable(int type, std::string_view path, unsigned char codePageMark)
{
    if (!isLayout(type)) {
        xb::reportError(std::string(path), "the table was not created: there is no layout " + std::to_string(type));
        return false;
    }
    // Never over an existing file: one another program made since the
    // caller looked is kept, and the create refused.
    xb::Connection conn;
    xb::Table* t = conn.create(path, layoutFields(type), layoutTags(type), codePageMark);
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
    for (auto& row : rows)
        names.push_back(t->textCodePage().decode(values::trim(row.first)));
}

const xb::CodePage& tableCodePage(std::string_view path)
{
    unsigned char mark = xb::kDefaultCodePageMark;
    const int fd = ::open(xb::resolvePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        if (::pread(fd, &mark, 1, 29) != 1)
            mark = xb::kDefaultCodePageMark;
        ::close(fd);
    }
    return xb::CodePage::ofMark(mark);
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

namespace {

// A field's value as the setup table's readers take it: trimmed text, a
// whole number in a numeric field as its digits.
std::string settingText(xb::Table* t, const char* name)
{
    xb::Field* f = t->field(name);
    if (!f || f->isBlank())
        return {};
    if (f->type() == 'N' || f->type() == 'F') {
        const double d = f->number();
        if (d >= -1e15 && d <= 1e15 && d == double((long long)d))
            return std::to_string((long long)d);
    }
    return values::trimmed(f->text());
}

}  // namespace

SetupTable readSetupTable()
{
    SetupTable s;
    const std::string path = setupTablePath();
    if (!xb::fileExists(path))
        return s;
    s.found = true;
    xb::Connection conn;
    conn.setReadOnly(true);
    xb::Table* t = conn.open(path);
    if (!t || t->top() != xb::kSuccess)
        return s;
    s.hasRecord = true;
    s.scalport = settingText(t, "scalport");
    s.prtport = settingText(t, "prtport");
    s.modemport = settingText(t, "modemport");
    s.printer = settingText(t, "printer");
    s.datapath = settingText(t, "datapath");
    return s;
}

std::string dataDirFrom(std::string_view datapath)
{
    std::string d = values::trimmed(datapath);
    if (d.empty())
        return {};
    std::replace(d.begin(), d.end(), '\\', '/');
    // A drive letter ("C:/SITE/DATA") names no directory here, relative or
    // not: it is left as it is, for the station to report it missing.
    const bool drive = d.size() >= 2 && d[1] == ':' && std::isalpha(static_cast<unsigned char>(d[0]));
    if (d.front() != '/' && !drive)
        d = programDir() + d;
    return AddBackslash(d);
}

std::string dataDir() { return dataDirFrom(readSetupTable().datapath); }

std::string absoluteDirectory(std::string_view typed, std::string_view base)
{
    std::string t(typed);
    if (values::trim(t).empty())
        return {};
    if (t.front() == '/' || t.front() == '\\')
        return t;
    std::replace(t.begin(), t.end(), '\\', '/');
    t = AddBackslash(base) + t;
    // "." and ".." worked out by the text, as the shell does for a typed path.
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= t.size()) {
        std::size_t slash = t.find('/', start);
        if (slash == std::string::npos)
            slash = t.size();
        const std::string part = t.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string out = "/";
    for (const std::string& p : parts)
        out += p + "/";
    return out;
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

std::string dayTablePath(std::string_view dir, const xb::Date& day)
{
    return xb::resolvePath(AddBackslash(dir) + dayTableName(day));
}

std::string monthFolderPath(std::string_view dataDir, int year, int month)
{
    return xb::resolvePath(AddBackslash(dataDir) + monthDirName(year, month) + "/");
}

std::string archivedDayTablePath(std::string_view dataDir, const xb::Date& day)
{
    return xb::resolvePath(AddBackslash(dataDir) + monthDirName(day.year, day.month) + "/" + dayTableName(day));
}

std::string monthEndTablePath(std::string_view dataDir, int year, int month)
{
    return xb::resolvePath(AddBackslash(dataDir) + monthEndTableName(year, month));
}

std::vector<std::string> closingFolderPaths(std::string_view dataDir, int year, int month)
{
    const std::string name = "ME_" + monthDirName(year, month) + ".closing/";
    return {xb::resolvePath(AddBackslash(dataDir) + "MonthEnd/" + name), xb::resolvePath(AddBackslash(dataDir) + name)};
}

std::string closingFolderPath(std::string_view dataDir, int year, int month)
{
    // A day table is renamed into it: it must be on the data directory's
    // file system, which MonthEnd (a link to an archive disk) may not be.
    const std::vector<std::string> places = closingFolderPaths(dataDir, year, month);
    struct ::stat data {}, archive {};
    const std::string me = xb::resolvePath(AddBackslash(dataDir) + "MonthEnd");
    if (::stat(AddBackslash(dataDir).c_str(), &data) == 0 && ::stat(me.c_str(), &archive) == 0 &&
        data.st_dev != archive.st_dev)
        return places[1];
    return places[0];
}

std::vector<std::string> dayTables(std::string_view dataDir, const xb::Date& day)
{
    return DayTableFinder(dataDir).tables(day);
}

DayTableFinder::DayTableFinder(std::string_view dataDir)
    : dataDir_(dataDir.empty() ? std::string() : xb::resolvePath(AddBackslash(dataDir)))
{
}

std::string DayTableFinder::find(const std::string& dir, const std::string& name)
{
    auto listing = listings_.find(dir);
    if (listing == listings_.end()) {
        std::map<std::string, std::vector<std::string>> names;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d))
                names[values::upper(e->d_name)].push_back(e->d_name);
            ::closedir(d);
        }
        for (auto& [key, found] : names)
            std::sort(found.begin(), found.end());
        listing = listings_.emplace(dir, std::move(names)).first;
    }
    const auto it = listing->second.find(values::upper(name));
    if (it == listing->second.end())
        return {};
    const auto exact = std::find(it->second.begin(), it->second.end(), name);
    return dir + (exact != it->second.end() ? *exact : it->second.front());
}

std::vector<std::string> DayTableFinder::tables(const xb::Date& day)
{
    if (dataDir_.empty())
        return {};
    const std::string name = dayTableName(day);
    const std::string closingName = "ME_" + monthDirName(day.year, day.month) + ".closing";
    for (int attempt = 0;; ++attempt) {
        // Listed in the order a month end moves a table (data directory,
        // closing folder, month's folder): a table moved meanwhile is in a
        // later listing.
        const std::string inData = find(dataDir_, name);
        std::vector<std::string> closing;
        if (const std::string me = find(dataDir_, "MonthEnd"); !me.empty())
            if (const std::string c = find(me + "/", closingName); !c.empty())
                closing.push_back(find(c + "/", name));
        if (const std::string c = find(dataDir_, closingName); !c.empty())
            closing.push_back(find(c + "/", name));
        std::vector<std::string> candidates;
        if (const std::string folder = find(dataDir_, monthDirName(day.year, day.month)); !folder.empty())
            candidates.push_back(find(folder + "/", name));
        candidates.insert(candidates.end(), closing.begin(), closing.end());
        candidates.push_back(inData);
        std::vector<std::string> out;
        bool moved = false;
        for (const std::string& p : candidates) {
            if (p.empty())
                continue;
            if (xb::fileExists(p))
                out.push_back(p);
            else
                moved = true;
        }
        // Moved since its directory was listed: the directories are listed
        // again (a name listed that is no file gives up after a few).
        if (!moved || attempt == 4)
            return out;
        listings_.clear();
    }
}

void DayTableFinder::forget() { listings_.clear(); }

// ---------------------------------------------------------------- indexes

std::vector<xb::TagSpec> tagsForTable(std::string_view path, const std::vector<std::string>& fields)
{
    const std::string base = values::upper(xb::baseName(xb::replaceExtension(path, "")));
    std::vector<const char*> keys;
    if (base == "CUSTOMER")
        keys = {"n_ame", "fax_no"};
    else if (base == "PRODUCT" || base == "COMPANY" || base == "PAYMENT")
        keys = {"n_ame"};
    std::vector<xb::TagSpec> tags;
    for (const char* k : keys) {
        const bool has = std::any_of(fields.begin(), fields.end(),
                                     [&](const std::string& f) { return values::sameText(f, k); });
        if (!has)
            continue;
        xb::TagSpec t;
        t.name = values::upper(k);
        t.keyExpr = k;
        tags.push_back(t);
    }
    return tags;
}

namespace {

// Sets the table's "has a production index" flag (byte 28 of its header),
// which the other xBase programs of a site go by.
bool flagProductionIndex(const std::string& path, std::string& why)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    unsigned char flags = 0;
    bool ok = fd >= 0 && ::pread(fd, &flags, 1, 28) == 1;
    if (ok && !(flags & 0x01)) {
        flags |= 0x01;
        ok = ::pwrite(fd, &flags, 1, 28) == 1 && ::fsync(fd) == 0;
    }
    if (!ok)
        why = std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

}  // namespace

IndexMade ensureProductionIndex(std::string_view pathIn, std::string* message)
{
    const std::string path = xb::resolvePath(pathIn);
    const std::string name = xb::baseName(path);
    // The index takes the letter case of the table's extension.
    const bool upperExt = path.size() > 4 && path.compare(path.size() - 4, 4, ".DBF") == 0;
    const std::string index = xb::resolvePath(xb::replaceExtension(path, upperExt ? ".CDX" : ".cdx"));
    if (xb::fileExists(index))
        return IndexMade::kPresent;
    auto say = [&](const std::string& text) {
        if (message)
            *message = text;
    };

    std::vector<xb::TagSpec> tags;
    std::string fault;
    std::string tmp;
    {
        xb::Connection conn;
        conn.setReadOnly(true);
        xb::Table* t = conn.open(path);
        if (!t) {
            say(name + " cannot be opened, so its index cannot be made");
            return IndexMade::kFailed;
        }
        std::vector<std::string> fields;
        for (int i = 1; i <= t->fieldCount(); ++i)
            fields.push_back(t->fieldAt(i)->name());
        tags = tagsForTable(path, fields);
        if (tags.empty()) {
            say(name + " has no index, and a table of its name needs none: nothing was made.");
            return IndexMade::kNoTags;
        }
        const int fd = xb::posixFiles().makeTemporary(index + ".new-", tmp);
        if (fd < 0) {
            say(xb::baseName(index) + " cannot be written (" + std::strerror(errno) + ")");
            return IndexMade::kFailed;
        }
        ::close(fd);
        const bool built = xb::CdxIndex::build(tmp, tags, t->fieldList(), t->recCount(),
                                               [&](uint32_t n) -> xb::RecordPtr {
                                                   return t->go(n) == xb::kSuccess ? t->recordBuffer() : nullptr;
                                               },
                                               fault, xb::posixFiles(), &t->textCodePage());
        if (!built) {
            ::unlink(tmp.c_str());
            xb::reportError(index, "the index could not be made (" + fault + ")");
            say(xb::baseName(index) + " could not be made (" + fault + ")");
            return IndexMade::kFailed;
        }
    }
    if (!xb::renameDurably(tmp, index, &fault) || !flagProductionIndex(path, fault)) {
        ::unlink(tmp.c_str());
        say(xb::baseName(index) + " could not be put in place (" + fault + ")");
        return IndexMade::kFailed;
    }
    // Records another program appended while the index was built are taken
    // in: the index is built again, now in place.
    {
        xb::Connection conn;
        xb::Table* t = conn.open(path);
        if (!t || !t->reindex() || t->close() != xb::kSuccess) {
            say(xb::baseName(index) + " was made but could not be brought up to date");
            return IndexMade::kFailed;
        }
    }
    std::string names;
    for (const auto& t : tags)
        names += (names.empty() ? "" : ", ") + t.name;
    say(name + " had no index: " + xb::baseName(index) + " was made with the tag" + (tags.size() > 1 ? "s " : " ") +
        names + ".");
    return IndexMade::kMade;
}

int timeToStored(int hour, int minute) { return values::storedTime(hour, minute); }

std::string storedTimeText(std::string_view stored) { return values::timeText(stored); }

}  // namespace catalogue

#pragma once
// Every table of the program: the built-in layouts, the directories the
// tables live in, and the names of the dated files.

#include "data/Clock.h"
#include "data/CodeBase.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace catalogue {

// Built-in layouts, by the number the program uses for them.
enum Layout : int {
    kTicketLayout = 1,    // ticket tables: Ticket.dbf, ticket.dbf, day tables, month-end tables
    kCompanyLayout = 2,   // Company.dbf
    kCustomerLayout = 3,  // Customer.dbf
    kProductLayout = 4,   // Product.dbf
    kPaymentLayout = 7,   // Payment.dbf
    kSetupLayout = 9,     // setup.dbf
};

// The fields of a layout in order; empty for a number that is no layout.
const std::vector<xb::FieldSpec>& layoutFields(int type);
// Whether the layout carries the tag n_ame (key n_ame) in its production index.
bool layoutHasNameTag(int type);
std::vector<xb::TagSpec> layoutTags(int type);
bool isLayout(int type);

// Creates the table at `path` with the layout. A file of that name is never
// replaced: false (reported) when one exists, also one another program made
// after the caller looked, and on any other failure. Its text is in the
// code page of `codePageMark` (Windows 1252, as the program writes, unless
// the table is to hold another table's records).
bool CreateTable(int type, std::string_view path, unsigned char codePageMark = xb::kDefaultCodePageMark);

// The code page of the table at `path` (byte 29 of its header, found
// whatever the case of its name): Windows 1252 for an unset mark, and for a
// file that is missing or too short to say, as a table made there would be.
const xb::CodePage& tableCodePage(std::string_view path);

// Empties `names`, then fills it with the trimmed n_ame of every record of
// Customer.dbf (list type 3) or Product.dbf (list type 4) of `directory`, in
// n_ame order; a missing table is created empty first.
void LoadList(int listType, std::vector<std::string>& names, std::string_view directory);

// customer.dbf, Product.dbf and house.dbf all exist in `directory`.
bool TablesExist(std::string_view directory);

// The text ending in the directory separator ('/'), unless it is empty or
// already ends in '/' or '\'.
std::string AddBackslash(std::string_view text);

// The program directory: GRAZULO_HOME when set, otherwise the directory of
// the executable; always with a trailing separator.
std::string programDir();
// Program directory + "database/": the kiosk's own tables.
std::string kioskDatabaseDir();
std::string setupTablePath();  // program directory + setup.dbf

// The first record of setup.dbf, read in one place for the kiosk, the
// station and the tools. Each field as trimmed text, a whole number in a
// numeric field as its digits ("3"); a field the table lacks is empty.
struct SetupTable {
    bool found = false;      // setup.dbf is in the program directory
    bool hasRecord = false;  // and could be read, with a first record
    std::string scalport, prtport, modemport, printer, datapath;
};
SetupTable readSetupTable();

// A stored datapath as the directory it names: '\' read as '/', a relative
// path taken from the program directory (whatever the process's working
// directory), with its separator; empty for a blank datapath.
std::string dataDirFrom(std::string_view datapath);
// The data directory: dataDirFrom(datapath of setup.dbf); empty when the
// table, its record or the field is missing or blank.
std::string dataDir();
// A directory as typed or given, to be stored: an absolute one as it is, a
// relative one taken from `base` (an absolute directory), '\' read as '/'
// and its "." and ".." worked out, with its separator. Empty for a blank
// text.
std::string absoluteDirectory(std::string_view typed, std::string_view base);

// File names of dated tables. Month names are English whatever the
// system's language, as every site's existing files are named.
std::string dayTableName(const xb::Date& day);       // "Dec0826.dbf"
std::string monthDirName(int year, int month);       // "26Dec"
std::string monthEndTableName(int year, int month);  // "MonthEnd/ME_26Dec.dbf"
std::string purgeTableName(const xb::Date& day);     // "HS_data/HS_Dec0826.dbf"
xb::Date today();                                    // from the program's clock

// Where a day's tickets are, each path found whatever the letter case of
// its parts (a name that does not exist comes back as the program spells
// it). The day's table of a directory: "Dec0826.dbf".
std::string dayTablePath(std::string_view dir, const xb::Date& day);
// The month's folder of the data directory, "26Dec/", with its separator.
std::string monthFolderPath(std::string_view dataDir, int year, int month);
// A day's table once its month end moved it: "26Dec/Dec0826.dbf".
std::string archivedDayTablePath(std::string_view dataDir, const xb::Date& day);
// The month's archive table, "MonthEnd/ME_26Dec.dbf".
std::string monthEndTablePath(std::string_view dataDir, int year, int month);
// Where the month end keeps the day tables it is closing, out of the way of
// the day's new tickets: "MonthEnd/ME_26Dec.closing/", with its separator;
// "ME_26Dec.closing/" in the data directory where MonthEnd is on another
// file system.
std::string closingFolderPath(std::string_view dataDir, int year, int month);
// Both places, MonthEnd's first: where a closing table may be found.
std::vector<std::string> closingFolderPaths(std::string_view dataDir, int year, int month);
// Every table that holds tickets of the day, in the order they are read:
// the copy in the month's folder, the copy a month end is closing, the data
// directory's table. Only those that exist.
std::vector<std::string> dayTables(std::string_view dataDir, const xb::Date& day);

// dayTables() for many days, each directory read once: what a report over a
// range of days uses.
class DayTableFinder {
public:
    explicit DayTableFinder(std::string_view dataDir);
    std::vector<std::string> tables(const xb::Date& day);
    // Lists the directories again: a table was moved after they were read.
    void forget();

private:
    // `name` in `dir` whatever its case, as resolvePath() finds it; empty
    // when there is none.
    std::string find(const std::string& dir, const std::string& name);
    std::string dataDir_;
    std::map<std::string, std::map<std::string, std::vector<std::string>>> listings_;
};

// ---- production indexes ----

// The tags a table of this name carries in its production index: n_ame for
// the customer, product, company and payment tables; the customer table
// also fax_no, the card look-up's. Only tags whose field `fields` holds.
std::vector<xb::TagSpec> tagsForTable(std::string_view path, const std::vector<std::string>& fields);

enum class IndexMade {
    kPresent,  // the table has its production index
    kMade,     // it had none: one was made with its tags
    kNoTags,   // it has none, and its name calls for none
    kFailed,   // it has none and none could be made (reported)
};
// Makes the production index of a table copied without it, with the tags
// its name calls for, built from the table beside its place and renamed
// into it. `message` says what was made, in the administrator's words.
IndexMade ensureProductionIndex(std::string_view path, std::string* message = nullptr);

// A time of day stored as the number hhmm (930 is 09:30) and back.
int timeToStored(int hour, int minute);
std::string storedTimeText(std::string_view stored);  // "09:30"; empty for a blank time

}  // namespace catalogue

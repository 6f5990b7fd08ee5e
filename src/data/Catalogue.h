#pragma once
// Every table of the program: the built-in layouts, the directories the
// tables live in, and the names of the dated files.

#include "data/Clock.h"
#include "data/CodeBase.h"

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
// after the caller looked, and on any other failure.
bool CreateTable(int type, std::string_view path);

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
// datapath of the first record of setup.dbf in the program directory, with
// AddBackslash; empty when the table or the field is missing or blank.
std::string dataDir();
std::string setupTablePath();  // program directory + setup.dbf

// File names of dated tables. Month names are English whatever the
// system's language, as every site's existing files are named.
std::string dayTableName(const xb::Date& day);       // "Dec0826.dbf"
std::string monthDirName(int year, int month);       // "26Dec"
std::string monthEndTableName(int year, int month);  // "MonthEnd/ME_26Dec.dbf"
std::string purgeTableName(const xb::Date& day);     // "HS_data/HS_Dec0826.dbf"
xb::Date today();                                    // from the program's clock

// A time of day stored as the number hhmm (930 is 09:30) and back.
int timeToStored(int hour, int minute);
std::string storedTimeText(std::string_view stored);  // "09:30"; empty for a blank time

}  // namespace catalogue

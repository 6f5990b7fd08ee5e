#pragma once
// The record-access layer the program's operations are written against: a
// thin, forgiving face of the table engine. Every call that fails has been
// reported through the engine's error report already; callers check the
// result and stop.

#include "data/CodeBase.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace util {

using xb::Connection;
using xb::Table;

Connection* openData();                 // a new connection
void closeData(Connection* connection); // closes its tables and ends it

// Opens a table; a non-empty tag becomes the current order and the table is
// positioned on its first record. Null when the table cannot be opened or
// has no such tag.
Table* mOpen(Connection* connection, std::string_view path, std::string_view tag = {});

// 0 when the key is found under the current tag, positioned on it.
int seek(Table* table, std::string_view key);

// Field reads of the current record; a missing field reads as blank.
std::string fetch(Table* table, std::string_view field);  // trimmed text
bool fetch(Table* table, std::string_view field, std::string& out);
long long ifetch(Table* table, std::string_view field);  // 0 when blank or not a number
// The value for a caller that stores or compares it: nothing when the field
// holds something that is not a number, and then `fault` names the record
// and the field ("record 3: field IN_WGT holds \"*****\", which is not a
// number"), for a report naming the table. A missing field reads 0.
std::optional<long long> ifetchChecked(Table* table, std::string_view field, std::string* fault = nullptr);
bool tfetch(Table* table, std::string_view field);
std::optional<xb::Date> dtfetch(Table* table, std::string_view field);

// Field writes of the current record or of the record being appended.
bool replace(Table* table, std::string_view field, std::string_view value);
bool ireplace(Table* table, std::string_view field, long long value);
bool dreplace(Table* table, std::string_view field, double value);
bool treplace(Table* table, std::string_view field, bool value);

bool makeDir(std::string_view path);
bool fileCopy(std::string_view source, std::string_view target);

// Appends every live record of the table `source` to the table `target`,
// fields matched by name without regard to case: the bytes as they are
// where both fields have one type, width and decimals (whatever another
// program left in them), else the value converted. Target fields without a
// source field stay blank, and source fields the target lacks are named in
// a report. All or nothing, under the target's table lock: false
// (reported) when either table cannot be opened, they are one table, a
// value of any record cannot be read or does not fit (the report names the
// table, the record and the field), or a write fails, and then the target
// is as it was.
bool cbAppendFrom(std::string_view source, std::string_view target);

// Appends to the table `target` the live records of the `sources` it does
// not hold already: each record is compared as the target would store it,
// and each live record the target holds stands for one alike record of the
// sources. What a run cut short left is then completed by running it again,
// with no record twice. Fields are matched as cbAppendFrom matches them.
// Gives the number of records appended; nothing (reported) when a table
// cannot be read or written, and then the target is as it was.
std::optional<long> cbAppendMissing(const std::vector<std::string>& sources, std::string_view target);

// The engine's date picture, "MM/DD/CCYY" for mm/dd/yyyy.
std::string date4format(std::string_view stored, std::string_view picture = "MM/DD/CCYY");

}  // namespace util

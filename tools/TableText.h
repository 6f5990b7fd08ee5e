#pragma once
// Tables as text: what dbftool prints.

#include "data/CodeBase.h"

#include <string>
#include <vector>

namespace tabletext {

// Header, fields and index tags of an open table, a line each; the code
// page line names the code page the text is read in.
std::string describe(xb::Table& t);

// One CSV line (RFC 4180 quoting), ending in a newline.
std::string csvLine(const std::vector<std::string>& cells);

// The current record as a CSV line: text (UTF-8, read in the table's code
// page) without trailing blanks, numbers as stored without blanks, dates
// yyyymmdd, logicals T or F, blank values empty; with `deletedColumn` a
// first cell "*" for a deleted record.
std::string dumpLine(xb::Table& t, bool deletedColumn);
std::string cellText(const xb::Field& f);

// "key record" lines of a tag in tag order; false when there is no such tag.
bool keys(xb::Table& t, const std::string& tag, std::string& out);

}  // namespace tabletext

namespace tabletext {
// The tags of the table's production index, a line each (empty without one).
std::string describeTags(xb::Table& t);
}

#pragma once
// One field of a table as the engine sees it: shared by the table reader,
// the key expressions and the compound index.

#include <string>
#include <vector>

namespace xb {

struct FieldDesc {
    std::string name;   // as stored in the header, upper case
    char type = 'C';    // 'C', 'N', 'F', 'L', 'D', or another letter read as raw text
    int offset = 0;     // offset in the record buffer; byte 0 of a record is the deletion flag
    int width = 0;
    int decimals = 0;
};

using FieldList = std::vector<FieldDesc>;

// A record buffer: record length bytes, byte 0 ' ' or '*', then the fields.
using RecordPtr = const char*;

}  // namespace xb

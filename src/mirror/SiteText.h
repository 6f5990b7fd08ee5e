#pragma once
// The text of the site's tables as the head office's database takes it.
//
// The tables hold character fields in the code page their header names
// (byte 29 of the .dbf); the database holds UTF-8. Until the table engine
// hands out field text already converted, the mirror converts here, in this
// one place: when the engine converts at the table boundary, fieldTextToUtf8
// goes and the mirror takes the engine's text as it is. Whoever changes what
// this gives also changes kRowsFormat (SiteTables.h): every part is then read
// and sent again once, in the new text.

#include <string>
#include <string_view>

namespace mirror {

// The bytes of a character field, in the code page of `codePageMark` (the
// table header's byte 29), as UTF-8, converted by the C library's iconv.
// An unset mark (0), or one this program does not know, is Windows 1252, as
// the site's programs write. A byte the code page leaves undefined becomes
// U+FFFD; a NUL inside the text (the database's text cannot hold one) a
// blank.
std::string fieldTextToUtf8(std::string_view bytes, unsigned char codePageMark);

// The iconv name of the code page a header mark stands for: "CP1252" for
// 0x03, for 0 and for a mark not known here.
const char* codePageName(unsigned char codePageMark);

}  // namespace mirror

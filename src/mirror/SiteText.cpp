#include "mirror/SiteText.h"

#include <array>
#include <cerrno>
#include <iconv.h>

namespace mirror {

namespace {

struct Mark {
    unsigned char mark;
    const char* name;
};

// The code page marks xBase programs write into byte 29 of a table header.
constexpr Mark kMarks[] = {
    {0x01, "CP437"},  {0x02, "CP850"},  {0x03, "CP1252"}, {0x04, "MACINTOSH"}, {0x57, "CP1252"},
    {0x58, "CP1252"}, {0x59, "CP1252"}, {0x64, "CP852"},  {0x65, "CP866"},     {0x66, "CP865"},
    {0x67, "CP861"},  {0x6A, "CP737"},  {0x6B, "CP857"},  {0x7C, "CP874"},     {0x7D, "CP1255"},
    {0x7E, "CP1256"}, {0xC8, "CP1250"}, {0xC9, "CP1251"}, {0xCA, "CP1254"},    {0xCB, "CP1253"},
    {0xCC, "CP1257"},
};

constexpr const char* kDefaultCodePage = "CP1252";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// One converter per code page, opened when first needed and kept for the
// life of the process (the mirror reads thousands of fields a table).
iconv_t converterFor(unsigned char mark)
{
    static std::array<iconv_t, 256> converters = [] {
        std::array<iconv_t, 256> a;
        a.fill(iconv_t(-1));
        return a;
    }();
    static std::array<bool, 256> tried {};
    if (!tried[mark]) {
        tried[mark] = true;
        converters[mark] = ::iconv_open("UTF-8", codePageName(mark));
        if (converters[mark] == iconv_t(-1))
            converters[mark] = ::iconv_open("UTF-8", kDefaultCodePage);
    }
    return converters[mark];
}

}  // namespace

const char* codePageName(unsigned char codePageMark)
{
    for (const Mark& m : kMarks)
        if (m.mark == codePageMark)
            return m.name;
    return kDefaultCodePage;
}

std::string fieldTextToUtf8(std::string_view bytes, unsigned char codePageMark)
{
    std::string out;
    bool ascii = true;
    for (unsigned char c : bytes)
        if (c >= 0x80 || c == 0) {
            ascii = false;
            break;
        }
    if (ascii)
        return std::string(bytes);

    iconv_t cd = converterFor(codePageMark);
    if (cd == iconv_t(-1)) {  // no converter at all: keep what ASCII there is
        for (char c : bytes) {
            if (c == 0)
                out += ' ';
            else if (static_cast<unsigned char>(c) < 0x80)
                out += c;
            else
                out += kReplacement;
        }
        return out;
    }
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[1024];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* to = buffer;
        std::size_t toLeft = sizeof buffer;
        const std::size_t r = ::iconv(cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer, std::size_t(to - buffer));
        if (r != std::size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // A byte the code page does not define, or a character cut off at
        // the end of the field: U+FFFD for it, and on.
        out += kReplacement;
        ++in;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    for (char& c : out)
        if (c == 0)
            c = ' ';
    return out;
}

}  // namespace mirror

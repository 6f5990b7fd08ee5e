#include "data/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <locale.h>
#include <memory>
#include <mutex>
#include <wctype.h>

namespace xb {

namespace {

struct Known {
    unsigned char mark;
    int number;
    const char* iconvName;
};

// The code page marks xBase programs write into byte 29 of a table header.
// Where several marks name one code page, the first is the one written.
constexpr Known kKnown[] = {
    {0x01, 437, "CP437"},   {0x02, 850, "CP850"},   {0x03, 1252, "CP1252"}, {0x04, 10000, "MACINTOSH"},
    {0x57, 1252, "CP1252"}, {0x58, 1252, "CP1252"}, {0x59, 1252, "CP1252"}, {0x64, 852, "CP852"},
    {0x65, 866, "CP866"},   {0x66, 865, "CP865"},   {0x67, 861, "CP861"},   {0x6A, 737, "CP737"},
    {0x6B, 857, "CP857"},   {0x7C, 874, "CP874"},   {0x7D, 1255, "CP1255"}, {0x7E, 1256, "CP1256"},
    {0xC8, 1250, "CP1250"}, {0xC9, 1251, "CP1251"}, {0xCA, 1254, "CP1254"}, {0xCB, 1253, "CP1253"},
    {0xCC, 1257, "CP1257"},
};

constexpr char32_t kUndefined = 0xFFFFFFFF;
constexpr char32_t kReplacement = 0xFFFD;

const Known* knownOfMark(unsigned char mark)
{
    for (const Known& k : kKnown)
        if (k.mark == mark)
            return &k;
    return nullptr;
}

const Known* knownOfNumber(int number)
{
    for (const Known& k : kKnown)
        if (k.number == number)
            return &k;
    return nullptr;
}

// The code pages, made when first asked for and kept for the process.
const CodePage& pageOf(const Known& k)
{
    static std::mutex mutex;
    static std::unordered_map<int, std::unique_ptr<CodePage>> pages;
    std::lock_guard lock(mutex);
    auto& p = pages[k.number];
    if (!p)
        p = std::make_unique<CodePage>(k.number, k.mark, k.iconvName);
    return *p;
}

// The C library's Unicode case mapping, whatever the program's locale.
locale_t unicodeLocale()
{
    static const locale_t l = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return l;
}

char32_t upperOf(char32_t c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? c - 32 : c;
    const locale_t l = unicodeLocale();
    return l ? char32_t(::towupper_l(wint_t(c), l)) : c;
}

char32_t lowerOf(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    const locale_t l = unicodeLocale();
    return l ? char32_t(::towlower_l(wint_t(c), l)) : c;
}

// The next character of UTF-8 text at `i`, moving `i` past it; U+FFFD (and
// one byte) for a sequence that is not UTF-8.
char32_t nextChar(std::string_view s, std::size_t& i)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
        least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
        least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
        least = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + std::size_t(extra) >= s.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + std::size_t(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += std::size_t(extra) + 1;
    return cp;
}

void putChar(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string utf8Of(char32_t c)
{
    std::string s;
    putChar(s, c);
    return s;
}

bool plainAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) - 1u >= 0x7Fu)  // NUL and 0x80 and up
            return false;
    return true;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) { putChar(out, c); }

bool isUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t at = i;
        if (nextChar(bytes, i) == kReplacement && !(i - at == 3 && bytes.substr(at, 3) == "\xEF\xBF\xBD"))
            return false;
    }
    return true;
}

std::string Unstorable::named() const
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", unsigned(codePoint));
    return "\"" + character + "\" (" + code + ")";
}

CodePage::CodePage(int number, unsigned char mark, const char* iconvName) : number_(number), mark_(mark)
{
    toUnicode_.fill(kUndefined);
    iconv_t cd = ::iconv_open("UTF-32LE", iconvName);
    for (int b = 0; b < 256; ++b) {
        if (cd == iconv_t(-1)) {
            if (b < 0x80)
                toUnicode_[std::size_t(b)] = char32_t(b);
            continue;
        }
        char in[1] = {char(b)};
        unsigned char out[16];
        char* ip = in;
        char* op = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1, outLeft = sizeof out;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t r = ::iconv(cd, &ip, &inLeft, &op, &outLeft);
        // A converter that holds a letter back for the marks that may follow
        // it gives it up here.
        if (r != std::size_t(-1))
            ::iconv(cd, nullptr, nullptr, &op, &outLeft);
        if (r == std::size_t(-1) || sizeof out - outLeft != 4)
            continue;
        toUnicode_[std::size_t(b)] = char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 |
                                     char32_t(out[3]) << 24;
    }
    if (cd != iconv_t(-1))
        ::iconv_close(cd);
    for (int b = 0; b < 256; ++b)
        if (toUnicode_[std::size_t(b)] != kUndefined)
            fromUnicode_.emplace(toUnicode_[std::size_t(b)], static_cast<unsigned char>(b));
    // Undefined bytes of 0x80-0x9F: the control characters of their numbers,
    // both ways, where the code page does not hold those characters.
    for (int b = 0x80; b < 0xA0; ++b)
        if (toUnicode_[std::size_t(b)] == kUndefined && !fromUnicode_.count(char32_t(b))) {
            toUnicode_[std::size_t(b)] = char32_t(b);
            fromUnicode_.emplace(char32_t(b), static_cast<unsigned char>(b));
        }
    for (int b = 0; b < 256; ++b) {
        upper_[std::size_t(b)] = lower_[std::size_t(b)] = static_cast<unsigned char>(b);
        const char32_t c = toUnicode_[std::size_t(b)];
        if (c == kUndefined)
            continue;
        auto up = fromUnicode_.find(upperOf(c));
        if (up != fromUnicode_.end())
            upper_[std::size_t(b)] = up->second;
        auto down = fromUnicode_.find(lowerOf(c));
        if (down != fromUnicode_.end())
            lower_[std::size_t(b)] = down->second;
    }
}

const CodePage& CodePage::ofMark(unsigned char mark)
{
    const Known* k = knownOfMark(mark);
    return pageOf(k ? *k : *knownOfMark(kDefaultCodePageMark));
}

const CodePage* CodePage::ofNumber(int number)
{
    const Known* k = knownOfNumber(number);
    return k ? &pageOf(*k) : nullptr;
}

std::vector<int> CodePage::numbers()
{
    std::vector<int> out;
    for (const Known& k : kKnown)
        if (std::find(out.begin(), out.end(), k.number) == out.end())
            out.push_back(k.number);
    std::sort(out.begin(), out.end());
    return out;
}

bool CodePage::knownMark(unsigned char mark) { return knownOfMark(mark) != nullptr; }

std::string CodePage::name() const
{
    if (number_ == 10000)
        return "Macintosh Roman";
    return std::string(number_ >= 874 && number_ != 10000 ? "Windows " : "DOS ") + std::to_string(number_);
}

std::string CodePage::decode(std::string_view bytes) const
{
    if (plainAscii(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char ch : bytes) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if (b == 0) {
            out += ' ';
            continue;
        }
        const char32_t c = toUnicode_[b];
        putChar(out, c == kUndefined ? kReplacement : c);
    }
    return out;
}

CodePage::Encoded CodePage::encode(std::string_view text, std::size_t maxBytes) const
{
    Encoded e;
    if (plainAscii(text)) {
        e.cut = text.size() > maxBytes;
        e.bytes.assign(text.substr(0, std::min(text.size(), maxBytes)));
        return e;
    }
    e.bytes.reserve(std::min(text.size(), maxBytes));
    for (std::size_t i = 0; i < text.size();) {
        if (e.bytes.size() >= maxBytes) {
            e.cut = true;
            break;
        }
        const char32_t c = nextChar(text, i);
        auto it = c == kReplacement ? fromUnicode_.end() : fromUnicode_.find(c);
        if (it == fromUnicode_.end()) {
            if (!e.refused)
                e.refused = Unstorable {utf8Of(c), c};
            continue;
        }
        e.bytes += char(it->second);
    }
    return e;
}

std::optional<Unstorable> CodePage::unstorable(std::string_view text) const { return encode(text).refused; }

std::string CodePage::encodeLossy(std::string_view text, char substitute) const
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextChar(text, i);
        auto it = c == kReplacement ? fromUnicode_.end() : fromUnicode_.find(c);
        out += it == fromUnicode_.end() ? substitute : char(it->second);
    }
    return out;
}

std::string upperCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        const char32_t c = nextChar(text, i);
        if (c == kReplacement && !(i - at == 3 && text.substr(at, 3) == "\xEF\xBF\xBD"))
            out.append(text.substr(at, i - at));  // not UTF-8: as it is
        else
            putChar(out, upperOf(c));
    }
    return out;
}

std::string unstorableMessage(const Unstorable& u, std::string_view where, std::string_view table,
                              const CodePage& page)
{
    std::string m = "The character " + u.named();
    if (!where.empty())
        m += " in " + std::string(where);
    m += " cannot be stored: " + std::string(table) + " holds its text in " + page.name() + ".";
    return m;
}

}  // namespace xb

#include "data/KeyExpr.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace xb {

// ---------------------------------------------------------------- encodings

std::string encodeNumberKey(double v)
{
    if (v == 0 || std::isnan(v))
        v = 0;   // -0 sorts with 0
    uint64_t bits = std::bit_cast<uint64_t>(v);
    if (v >= 0)
        bits ^= uint64_t(1) << 63;
    else
        bits = ~bits;
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i)
        out[i] = char((bits >> (56 - 8 * i)) & 0xff);
    return out;
}

double decodeNumberKey(std::string_view key)
{
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i)
        bits = (bits << 8) | (i < key.size() ? uint8_t(key[i]) : 0);
    if (bits & (uint64_t(1) << 63))
        bits ^= uint64_t(1) << 63;
    else
        bits = ~bits;
    return std::bit_cast<double>(bits);
}

int64_t julianDay(int y, int m, int d)
{
    static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return 0;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    int dim = mdays[m - 1] + (m == 2 && leap ? 1 : 0);
    if (d > dim)
        return 0;
    int64_t a = (14 - m) / 12;
    int64_t yy = y + 4800 - a;
    int64_t mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void civilFromJulian(int64_t jd, int& year, int& month, int& day)
{
    int64_t a = jd + 32044;
    int64_t b = (4 * a + 3) / 146097;
    int64_t c = a - 146097 * b / 4;
    int64_t d = (4 * c + 3) / 1461;
    int64_t e = c - 1461 * d / 4;
    int64_t m = (5 * e + 2) / 153;
    day = int(e - (153 * m + 2) / 5 + 1);
    month = int(m + 3 - 12 * (m / 10));
    year = int(100 * b + d - 4800 + m / 10);
}

int64_t julianFromText(std::string_view t)
{
    if (t.size() < 8)
        return 0;
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (t[i] < '0' || t[i] > '9')
            return 0;
        v[i] = t[i] - '0';
    }
    int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    int m = v[4] * 10 + v[5];
    int d = v[6] * 10 + v[7];
    return julianDay(y, m, d);
}

int64_t julianOf(double day)
{
    return day >= 0 && day < 1e8 ? int64_t(day) : 0;   // anything else is no date
}

std::string textFromJulian(int64_t jd)
{
    // 1721426 is 0001-01-01, 5373484 is 9999-12-31
    if (jd < 1721426 || jd > 5373484)
        return std::string(8, ' ');
    int y, m, d;
    civilFromJulian(jd, y, m, d);
    int v = y * 10000 + m * 100 + d;
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, v /= 10)
        out[size_t(i)] = char('0' + v % 10);
    return out;
}

double parseNumber(std::string_view t)
{
    size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\0'))
        ++i;
    bool neg = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
        neg = t[i] == '-';
        ++i;
        while (i < t.size() && t[i] == ' ')
            ++i;
    }
    if (i >= t.size() || !((t[i] >= '0' && t[i] <= '9') || t[i] == '.'))
        return 0;
    double v = 0;
    auto r = std::from_chars(t.data() + i, t.data() + t.size(), v, std::chars_format::fixed);
    if (r.ec != std::errc() || !std::isfinite(v))
        return 0;
    return neg ? -v : v;
}

std::string formatNumber(double value, int width, int decimals)
{
    if (width < 1)
        return {};
    if (decimals < 0)
        decimals = 0;
    if (decimals > 18)
        decimals = 18;
    if (!std::isfinite(value) || std::fabs(value) >= 1e30)
        return std::string(width, '*');
    bool neg = value < 0;
    // Fifteen significant digits are exact for any decimal a double came from,
    // so rounding on them rounds 2.675 up as a person would.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string mant;
    mant.push_back(buf[0]);
    const char* p = buf + 2;
    while (*p >= '0' && *p <= '9')
        mant.push_back(*p++);
    int exp = 0;
    if (*p == 'e')
        exp = std::atoi(p + 1);
    std::string digits;
    int point;   // digits before the decimal point
    if (exp >= 0) {
        digits = mant;
        point = exp + 1;
    } else {
        digits.assign(size_t(-exp - 1), '0');
        digits += mant;
        point = 0;
    }
    size_t keep = size_t(point + decimals);
    bool roundUp = digits.size() > keep && digits[keep] >= '5';
    if (digits.size() < keep)
        digits.append(keep - digits.size(), '0');
    digits.resize(keep);
    if (roundUp) {
        int i = int(keep) - 1;
        for (; i >= 0; --i) {
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                ++digits[i];
                break;
            }
        }
        if (i < 0) {
            digits.insert(digits.begin(), '1');
            ++point;
        }
    }
    std::string ip = digits.substr(0, size_t(point));
    std::string fp = digits.substr(size_t(point));
    size_t nz = ip.find_first_not_of('0');
    ip = nz == std::string::npos ? "0" : ip.substr(nz);
    if (digits.find_first_not_of('0') == std::string::npos)
        neg = false;
    std::string out = neg ? "-" : "";
    out += ip;
    if (decimals > 0) {
        out += '.';
        out += fp;
    }
    if (int(out.size()) > width)
        return std::string(width, '*');
    return std::string(size_t(width) - out.size(), ' ') + out;
}

// ---------------------------------------------------------------- program

namespace {

enum class Op : uint8_t {
    Field, Literal, Deleted,
    Upper, Lower, RTrim, LTrim, AllTrim, Dtos, Str, Substr, Val, Iif, Empty,
    Neg, Add, Sub, Mul, Div,
    Eq, ExactEq, Ne, Lt, Gt, Le, Ge, Contains,
    Not, And, Or,
};

struct Node {
    Op op = Op::Literal;
    ExprType type = ExprType::Char;
    int width = 0;
    int a = -1, b = -1, c = -1;   // operands
    // Field
    int offset = 0, fwidth = 0;
    char ftype = 'C';
    // STR width/decimals, SUBSTR start/length (start 0-based)
    int p1 = 0, p2 = 0;
    ExprValue lit;
};

constexpr int kMaxWidth = 65535;
constexpr int kMaxDepth = 200;

void readField(const Node& n, RecordPtr rec, ExprValue& out)
{
    const char* f = rec + n.offset;
    switch (n.type) {
    case ExprType::Number:
        out.type = ExprType::Number;
        out.number = parseNumber(std::string_view(f, size_t(n.fwidth)));
        break;
    case ExprType::Date: {
        out.type = ExprType::Date;
        int64_t jd = julianFromText(std::string_view(f, size_t(n.fwidth)));
        out.number = double(jd);
        out.text = textFromJulian(jd);
        break;
    }
    case ExprType::Logical: {
        out.type = ExprType::Logical;
        char ch = n.fwidth > 0 ? f[0] : ' ';
        out.logical = ch == 'T' || ch == 't' || ch == 'Y' || ch == 'y';
        break;
    }
    case ExprType::Char:
        out.type = ExprType::Char;
        out.text.assign(f, size_t(n.fwidth));
        break;
    }
}

// Compares as xBase does with SET EXACT OFF: the left side is cut to the
// length of the right side.
int softCompare(const std::string& l, const std::string& r)
{
    size_t n = std::min(l.size(), r.size());
    int c = n ? std::memcmp(l.data(), r.data(), n) : 0;
    if (c != 0)
        return c < 0 ? -1 : 1;
    return l.size() >= r.size() ? 0 : -1;
}

void rtrim(std::string& s)
{
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    s.resize(n);
}

void ltrim(std::string& s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    s.erase(0, i);
}

}  // namespace

struct KeyExpr::Program {
    std::vector<Node> nodes;
    int root = -1;
    std::string text;
    const CodePage* page = nullptr;  // the table's: UPPER and LOWER within it

    void eval(int i, RecordPtr rec, ExprValue& out) const;
};

void KeyExpr::Program::eval(int i, RecordPtr rec, ExprValue& out) const
{
    const Node& n = nodes[size_t(i)];
    switch (n.op) {
    case Op::Field:
        readField(n, rec, out);
        return;
    case Op::Literal:
        out = n.lit;
        return;
    case Op::Deleted:
        out.type = ExprType::Logical;
        out.logical = rec[0] == '*';
        return;
    case Op::Upper:
    case Op::Lower:
        eval(n.a, rec, out);
        for (char& ch : out.text) {
            const auto b = static_cast<unsigned char>(ch);
            ch = char(n.op == Op::Upper ? page->upper(b) : page->lower(b));
        }
        return;
    case Op::RTrim:
        eval(n.a, rec, out);
        rtrim(out.text);
        return;
    case Op::LTrim:
        eval(n.a, rec, out);
        ltrim(out.text);
        return;
    case Op::AllTrim:
        eval(n.a, rec, out);
        rtrim(out.text);
        ltrim(out.text);
        return;
    case Op::Dtos: {
        eval(n.a, rec, out);
        out.type = ExprType::Char;   // a date's text is already yyyymmdd or blanks
        return;
    }
    case Op::Str: {
        eval(n.a, rec, out);
        out.type = ExprType::Char;
        out.text = formatNumber(out.number, n.p1, n.p2);
        return;
    }
    case Op::Substr: {
        eval(n.a, rec, out);
        size_t start = size_t(n.p1);
        if (start >= out.text.size())
            out.text.clear();
        else
            out.text = out.text.substr(start, n.p2 < 0 ? std::string::npos : size_t(n.p2));
        return;
    }
    case Op::Val:
        eval(n.a, rec, out);
        out.type = ExprType::Number;
        out.number = parseNumber(out.text);
        return;
    case Op::Iif: {
        eval(n.a, rec, out);
        eval(out.logical ? n.b : n.c, rec, out);
        return;
    }
    case Op::Empty: {
        eval(n.a, rec, out);
        bool e = false;
        switch (out.type) {
        case ExprType::Char: e = out.text.find_first_not_of(" \t\r\n") == std::string::npos; break;
        case ExprType::Number:
        case ExprType::Date: e = out.number == 0; break;
        case ExprType::Logical: e = !out.logical; break;
        }
        out.type = ExprType::Logical;
        out.logical = e;
        return;
    }
    case Op::Neg:
        eval(n.a, rec, out);
        out.number = -out.number;
        return;
    case Op::Not:
        eval(n.a, rec, out);
        out.logical = !out.logical;
        return;
    case Op::And:
    case Op::Or: {
        eval(n.a, rec, out);
        if (n.op == Op::And ? !out.logical : out.logical)
            return;
        eval(n.b, rec, out);
        return;
    }
    default:
        break;
    }

    // binary operators
    ExprValue r;
    eval(n.a, rec, out);
    eval(n.b, rec, r);
    ExprType lt = out.type;
    switch (n.op) {
    case Op::Add:
        if (lt == ExprType::Char) {
            out.text += r.text;
        } else {
            out.number += r.number;
            if (n.type == ExprType::Date) {
                out.type = ExprType::Date;
                out.text = textFromJulian(julianOf(out.number));
            }
        }
        return;
    case Op::Sub:
        if (lt == ExprType::Char) {
            // xBase moves the left side's trailing blanks to the end
            size_t len = out.text.size();
            rtrim(out.text);
            size_t blanks = len - out.text.size();
            out.text += r.text;
            out.text.append(blanks, ' ');
        } else {
            out.number -= r.number;
            out.type = n.type;
            if (n.type == ExprType::Date)
                out.text = textFromJulian(julianOf(out.number));
        }
        return;
    case Op::Mul:
        out.number *= r.number;
        return;
    case Op::Div:
        out.number = r.number == 0 ? 0 : out.number / r.number;
        return;
    case Op::Contains:
        out.logical = r.text.find(out.text) != std::string::npos;   // left contained in right
        out.type = ExprType::Logical;
        return;
    default:
        break;
    }
    int cmp = 0;
    bool exact = false;
    if (lt == ExprType::Char) {
        if (n.op == Op::ExactEq)
            exact = out.text == r.text;
        else
            cmp = softCompare(out.text, r.text);
    } else if (lt == ExprType::Logical) {
        cmp = int(out.logical) - int(r.logical);
        exact = cmp == 0;
    } else {
        cmp = out.number < r.number ? -1 : (out.number > r.number ? 1 : 0);
        exact = cmp == 0;
    }
    bool res = false;
    switch (n.op) {
    case Op::Eq: res = cmp == 0; break;
    case Op::ExactEq: res = exact; break;
    case Op::Ne: res = cmp != 0; break;
    case Op::Lt: res = cmp < 0; break;
    case Op::Gt: res = cmp > 0; break;
    case Op::Le: res = cmp <= 0; break;
    case Op::Ge: res = cmp >= 0; break;
    default: break;
    }
    out.type = ExprType::Logical;
    out.logical = res;
}

// ---------------------------------------------------------------- parser

namespace {

enum class Tok { End, Ident, Number, String, True, False, Op, LParen, RParen, Comma };

struct Token {
    Tok kind = Tok::End;
    std::string text;   // identifier (upper case), operator, string contents
    double number = 0;
    size_t pos = 0;
};

std::string upper(std::string_view s)
{
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    return u;
}

bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool tokenize(std::string_view s, std::vector<Token>& out, std::string& error)
{
    size_t i = 0;
    auto fail = [&](const std::string& what) {
        error = what + " at position " + std::to_string(i + 1);
        return false;
    };
    while (i < s.size()) {
        char c = s[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        Token t;
        t.pos = i;
        if (isIdentStart(c)) {
            size_t j = i;
            while (j < s.size() && isIdentChar(s[j]))
                ++j;
            t.kind = Tok::Ident;
            t.text = upper(s.substr(i, j - i));
            i = j;
            // "alias->field": the alias is ignored
            size_t k = i;
            while (k < s.size() && s[k] == ' ')
                ++k;
            if (k + 1 < s.size() && s[k] == '-' && s[k + 1] == '>') {
                i = k + 2;
                continue;
            }
        } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
            size_t j = i;
            while (j < s.size() && isDigit(s[j]))
                ++j;
            if (j < s.size() && s[j] == '.') {
                ++j;
                while (j < s.size() && isDigit(s[j]))
                    ++j;
            }
            double v = 0;
            auto r = std::from_chars(s.data() + i, s.data() + j, v, std::chars_format::fixed);
            if (r.ec != std::errc() || !std::isfinite(v))
                return fail("unreadable number");
            t.kind = Tok::Number;
            t.number = v;
            i = j;
        } else if (c == '"' || c == '\'' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t j = s.find(close, i + 1);
            if (j == std::string_view::npos)
                return fail("string not closed");
            t.kind = Tok::String;
            t.text = std::string(s.substr(i + 1, j - i - 1));
            i = j + 1;
        } else if (c == '.') {
            size_t j = s.find('.', i + 1);
            std::string word = j == std::string_view::npos ? std::string() : upper(s.substr(i + 1, j - i - 1));
            if (word == "AND" || word == "OR" || word == "NOT") {
                t.kind = Tok::Op;
                t.text = word;
            } else if (word == "T" || word == "Y") {
                t.kind = Tok::True;
            } else if (word == "F" || word == "N") {
                t.kind = Tok::False;
            } else {
                return fail("unexpected '.'");
            }
            i = j + 1;
        } else if (c == '(') {
            t.kind = Tok::LParen;
            ++i;
        } else if (c == ')') {
            t.kind = Tok::RParen;
            ++i;
        } else if (c == ',') {
            t.kind = Tok::Comma;
            ++i;
        } else {
            static const char* ops[] = {"==", "<>", "<=", ">=", "!=", "=", "<", ">", "#", "!",
                                        "+", "-", "*", "/", "$"};
            bool found = false;
            for (const char* op : ops) {
                size_t n = std::strlen(op);
                if (s.substr(i, n) == op) {
                    t.kind = Tok::Op;
                    t.text = op;
                    i += n;
                    found = true;
                    break;
                }
            }
            if (!found)
                return fail(std::string("unexpected character '") + c + "'");
        }
        out.push_back(std::move(t));
    }
    Token end;
    end.pos = s.size();
    out.push_back(end);
    return true;
}

const char* typeName(ExprType t)
{
    switch (t) {
    case ExprType::Char: return "character";
    case ExprType::Number: return "numeric";
    case ExprType::Date: return "date";
    case ExprType::Logical: return "logical";
    }
    return "?";
}

class Parser {
public:
    Parser(const std::vector<Token>& toks, const FieldList& fields, std::vector<Node>& nodes)
        : t_(toks), fields_(fields), nodes_(nodes) {}

    int parse(std::string& error)
    {
        int r = orExpr();
        if (r >= 0 && peek().kind != Tok::End)
            r = fail("unexpected text");
        if (r < 0)
            error = error_;
        return r;
    }

private:
    const std::vector<Token>& t_;
    const FieldList& fields_;
    std::vector<Node>& nodes_;
    size_t p_ = 0;
    int depth_ = 0;
    std::string error_;

    const Token& peek() const { return t_[p_]; }
    bool isOp(const char* op) const { return peek().kind == Tok::Op && peek().text == op; }

    int fail(const std::string& what)
    {
        if (error_.empty())
            error_ = what + " at position " + std::to_string(peek().pos + 1);
        return -1;
    }

    int add(Node n)
    {
        nodes_.push_back(std::move(n));
        return int(nodes_.size()) - 1;
    }
    Node& at(int i) { return nodes_[size_t(i)]; }

    struct Depth {
        Parser& p;
        explicit Depth(Parser& pp) : p(pp) { ++p.depth_; }
        ~Depth() { --p.depth_; }
    };

    int binary(Op op, int a, int b, ExprType type, int width)
    {
        Node n;
        n.op = op;
        n.a = a;
        n.b = b;
        n.type = type;
        n.width = width;
        return add(std::move(n));
    }

    int orExpr()
    {
        Depth d(*this);
        if (depth_ > kMaxDepth)
            return fail("expression nested too deeply");
        int l = andExpr();
        while (l >= 0 && isOp("OR")) {
            ++p_;
            int r = andExpr();
            if (r < 0)
                return -1;
            if (at(l).type != ExprType::Logical || at(r).type != ExprType::Logical)
                return fail(".OR. needs logical values");
            l = binary(Op::Or, l, r, ExprType::Logical, 1);
        }
        return l;
    }

    int andExpr()
    {
        int l = notExpr();
        while (l >= 0 && isOp("AND")) {
            ++p_;
            int r = notExpr();
            if (r < 0)
                return -1;
            if (at(l).type != ExprType::Logical || at(r).type != ExprType::Logical)
                return fail(".AND. needs logical values");
            l = binary(Op::And, l, r, ExprType::Logical, 1);
        }
        return l;
    }

    int notExpr()
    {
        Depth d(*this);
        if (depth_ > kMaxDepth)
            return fail("expression nested too deeply");
        if (isOp("NOT") || isOp("!")) {
            ++p_;
            int a = notExpr();
            if (a < 0)
                return -1;
            if (at(a).type != ExprType::Logical)
                return fail(".NOT. needs a logical value");
            Node n;
            n.op = Op::Not;
            n.a = a;
            n.type = ExprType::Logical;
            n.width = 1;
            return add(std::move(n));
        }
        return relExpr();
    }

    int relExpr()
    {
        int l = addExpr();
        if (l < 0 || peek().kind != Tok::Op)
            return l;
        const std::string& o = peek().text;
        Op op;
        if (o == "=") op = Op::Eq;
        else if (o == "==") op = Op::ExactEq;
        else if (o == "<>" || o == "#" || o == "!=") op = Op::Ne;
        else if (o == "<") op = Op::Lt;
        else if (o == ">") op = Op::Gt;
        else if (o == "<=") op = Op::Le;
        else if (o == ">=") op = Op::Ge;
        else if (o == "$") op = Op::Contains;
        else return l;
        ++p_;
        int r = addExpr();
        if (r < 0)
            return -1;
        ExprType a = at(l).type, b = at(r).type;
        if (a != b)
            return fail(std::string("cannot compare a ") + typeName(a) + " value with a " + typeName(b) + " value");
        if (op == Op::Contains && a != ExprType::Char)
            return fail("$ needs character values");
        if (a == ExprType::Logical && op != Op::Eq && op != Op::ExactEq && op != Op::Ne)
            return fail("logical values can only be tested for equality");
        return binary(op, l, r, ExprType::Logical, 1);
    }

    int addExpr()
    {
        int l = mulExpr();
        while (l >= 0 && (isOp("+") || isOp("-"))) {
            bool plus = peek().text == "+";
            ++p_;
            int r = mulExpr();
            if (r < 0)
                return -1;
            ExprType a = at(l).type, b = at(r).type;
            ExprType res;
            int width = 8;
            if (a == ExprType::Char && b == ExprType::Char) {
                res = ExprType::Char;
                width = at(l).width + at(r).width;
                if (width > kMaxWidth)
                    return fail("character value too long");
            } else if (a == ExprType::Number && b == ExprType::Number) {
                res = ExprType::Number;
            } else if (a == ExprType::Date && b == ExprType::Number) {
                res = ExprType::Date;
            } else if (plus && a == ExprType::Number && b == ExprType::Date) {
                res = ExprType::Date;
            } else if (!plus && a == ExprType::Date && b == ExprType::Date) {
                res = ExprType::Number;
            } else {
                return fail(std::string("cannot ") + (plus ? "add" : "subtract") + " a " + typeName(b) +
                            " value " + (plus ? "to" : "from") + " a " + typeName(a) + " value");
            }
            l = binary(plus ? Op::Add : Op::Sub, l, r, res, width);
        }
        return l;
    }

    int mulExpr()
    {
        int l = unary();
        while (l >= 0 && (isOp("*") || isOp("/"))) {
            bool mul = peek().text == "*";
            ++p_;
            int r = unary();
            if (r < 0)
                return -1;
            if (at(l).type != ExprType::Number || at(r).type != ExprType::Number)
                return fail(std::string(mul ? "*" : "/") + " needs numeric values");
            l = binary(mul ? Op::Mul : Op::Div, l, r, ExprType::Number, 8);
        }
        return l;
    }

    int unary()
    {
        Depth d(*this);
        if (depth_ > kMaxDepth)
            return fail("expression nested too deeply");
        if (isOp("-") || isOp("+")) {
            bool neg = peek().text == "-";
            ++p_;
            int a = unary();
            if (a < 0)
                return -1;
            if (at(a).type != ExprType::Number)
                return fail("a sign needs a numeric value");
            if (!neg)
                return a;
            if (at(a).op == Op::Literal) {
                at(a).lit.number = -at(a).lit.number;
                return a;
            }
            Node n;
            n.op = Op::Neg;
            n.a = a;
            n.type = ExprType::Number;
            n.width = 8;
            return add(std::move(n));
        }
        return primary();
    }

    int literal(ExprValue v)
    {
        Node n;
        n.op = Op::Literal;
        n.type = v.type;
        n.width = v.type == ExprType::Char ? int(v.text.size()) : (v.type == ExprType::Logical ? 1 : 8);
        n.lit = std::move(v);
        return add(std::move(n));
    }

    int primary()
    {
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Number: {
            ++p_;
            ExprValue v;
            v.type = ExprType::Number;
            v.number = t.number;
            return literal(std::move(v));
        }
        case Tok::String: {
            ++p_;
            if (t.text.size() > size_t(kMaxWidth))
                return fail("string too long");
            ExprValue v;
            v.type = ExprType::Char;
            v.text = t.text;
            return literal(std::move(v));
        }
        case Tok::True:
        case Tok::False: {
            ++p_;
            ExprValue v;
            v.type = ExprType::Logical;
            v.logical = t.kind == Tok::True;
            return literal(std::move(v));
        }
        case Tok::LParen: {
            ++p_;
            int e = orExpr();
            if (e < 0)
                return -1;
            if (peek().kind != Tok::RParen)
                return fail("')' expected");
            ++p_;
            return e;
        }
        case Tok::Ident: {
            std::string name = t.text;
            ++p_;
            if (peek().kind == Tok::LParen)
                return call(name);
            return field(name);
        }
        case Tok::End:
            return fail("expression ends too soon");
        default:
            return fail("unexpected '" + (t.text.empty() ? std::string(t.kind == Tok::Comma ? "," : ")") : t.text) + "'");
        }
    }

    int field(const std::string& name)
    {
        for (const FieldDesc& f : fields_) {
            if (upper(f.name) != name)
                continue;
            if (f.offset < 1 || f.width < 0 || f.width > kMaxWidth)
                return fail("field " + name + " has an impossible layout");
            Node n;
            n.op = Op::Field;
            n.offset = f.offset;
            n.fwidth = f.width;
            n.ftype = f.type;
            switch (f.type) {
            case 'N':
            case 'F': n.type = ExprType::Number; n.width = 8; break;
            case 'D': n.type = ExprType::Date; n.width = 8; break;
            case 'L': n.type = ExprType::Logical; n.width = 1; break;
            default: n.type = ExprType::Char; n.width = f.width; break;
            }
            return add(std::move(n));
        }
        return fail("unknown field " + name);
    }

    bool constNumber(int node, double& v)
    {
        if (at(node).op != Op::Literal || at(node).type != ExprType::Number)
            return false;
        v = at(node).lit.number;
        return true;
    }

    int call(const std::string& rawName)
    {
        static const char* names[] = {"UPPER", "LOWER", "TRIM", "RTRIM", "LTRIM", "ALLTRIM", "DTOS", "STR",
                                      "SUBSTR", "LEFT", "RIGHT", "VAL", "IIF", "EMPTY", "DELETED"};
        std::string name;
        for (const char* n : names) {
            std::string_view full(n);
            if (full == rawName || (rawName.size() >= 4 && full.substr(0, rawName.size()) == rawName)) {
                name = n;
                break;
            }
        }
        if (name.empty())
            return fail("unknown function " + rawName);
        ++p_;   // '('
        std::vector<int> args;
        if (peek().kind != Tok::RParen) {
            for (;;) {
                int a = orExpr();
                if (a < 0)
                    return -1;
                args.push_back(a);
                if (peek().kind == Tok::Comma) {
                    ++p_;
                    continue;
                }
                break;
            }
        }
        if (peek().kind != Tok::RParen)
            return fail("')' expected after the arguments of " + name);
        ++p_;

        auto argc = [&](size_t lo, size_t hi) {
            return args.size() >= lo && args.size() <= hi;
        };
        auto wrongArgs = [&]() { return fail("wrong arguments for " + name); };
        auto type = [&](size_t i) { return at(args[i]).type; };

        Node n;
        n.a = args.empty() ? -1 : args[0];
        if (name == "DELETED") {
            if (!args.empty())
                return wrongArgs();
            n.op = Op::Deleted;
            n.type = ExprType::Logical;
            n.width = 1;
        } else if (name == "UPPER" || name == "LOWER" || name == "TRIM" || name == "RTRIM" || name == "LTRIM" ||
                   name == "ALLTRIM") {
            if (!argc(1, 1) || type(0) != ExprType::Char)
                return wrongArgs();
            n.op = name == "UPPER" ? Op::Upper
                 : name == "LOWER" ? Op::Lower
                 : name == "LTRIM" ? Op::LTrim
                 : name == "ALLTRIM" ? Op::AllTrim
                                     : Op::RTrim;
            n.type = ExprType::Char;
            n.width = at(args[0]).width;
        } else if (name == "DTOS") {
            if (!argc(1, 1) || type(0) != ExprType::Date)
                return wrongArgs();
            n.op = Op::Dtos;
            n.type = ExprType::Char;
            n.width = 8;
        } else if (name == "STR") {
            if (!argc(1, 3) || type(0) != ExprType::Number)
                return wrongArgs();
            double w = 10, dec = 0;
            if (args.size() >= 2 && !constNumber(args[1], w))
                return fail("the width of STR must be a number");
            if (args.size() >= 3 && !constNumber(args[2], dec))
                return fail("the decimals of STR must be a number");
            if (w < 1 || w > 255 || dec < 0 || dec > 15)
                return fail("STR width or decimals out of range");
            n.op = Op::Str;
            n.type = ExprType::Char;
            n.p1 = int(w);
            n.p2 = int(dec);
            n.width = n.p1;
        } else if (name == "SUBSTR" || name == "LEFT" || name == "RIGHT") {
            bool sub = name == "SUBSTR";
            if (!(sub ? argc(2, 3) : argc(2, 2)) || type(0) != ExprType::Char)
                return wrongArgs();
            double a = 0, b = -1;
            if (!constNumber(args[1], a) || (args.size() == 3 && !constNumber(args[2], b)))
                return fail("the positions of " + name + " must be numbers");
            int w = at(args[0]).width;
            if (a < 0 || a > kMaxWidth || (args.size() == 3 && (b < 0 || b > kMaxWidth)))
                return wrongArgs();
            n.op = Op::Substr;
            n.type = ExprType::Char;
            if (sub) {
                if (a < 1)
                    a = 1;
                n.p1 = int(a) - 1;
                n.p2 = args.size() == 3 ? int(b) : -1;
            } else if (name == "LEFT") {
                n.p1 = 0;
                n.p2 = int(a);
            } else {
                // RIGHT of a fixed-width value: the last n bytes of its width
                n.p1 = std::max(0, w - int(a));
                n.p2 = int(a);
            }
            int avail = std::max(0, w - n.p1);
            n.width = n.p2 < 0 ? avail : std::min(avail, n.p2);
        } else if (name == "VAL") {
            if (!argc(1, 1) || type(0) != ExprType::Char)
                return wrongArgs();
            n.op = Op::Val;
            n.type = ExprType::Number;
            n.width = 8;
        } else if (name == "IIF") {
            if (!argc(3, 3) || type(0) != ExprType::Logical || type(1) != type(2))
                return wrongArgs();
            n.op = Op::Iif;
            n.b = args[1];
            n.c = args[2];
            n.type = type(1);
            n.width = std::max(at(args[1]).width, at(args[2]).width);
        } else {   // EMPTY
            if (!argc(1, 1))
                return wrongArgs();
            n.op = Op::Empty;
            n.type = ExprType::Logical;
            n.width = 1;
        }
        return add(std::move(n));
    }
};

}  // namespace

// ---------------------------------------------------------------- KeyExpr

KeyExpr::KeyExpr() = default;
KeyExpr::~KeyExpr() = default;
KeyExpr::KeyExpr(KeyExpr&&) noexcept = default;
KeyExpr& KeyExpr::operator=(KeyExpr&&) noexcept = default;
KeyExpr::KeyExpr(const KeyExpr&) = default;
KeyExpr& KeyExpr::operator=(const KeyExpr&) = default;

bool KeyExpr::compile(std::string_view text, const FieldList& fields, std::string& error, const CodePage* page)
{
    prog_.reset();
    error.clear();
    auto prog = std::make_shared<Program>();
    prog->text = std::string(text);
    prog->page = page ? page : &CodePage::ofMark(kDefaultCodePageMark);
    std::vector<Token> toks;
    if (!tokenize(text, toks, error))
        return false;
    if (toks.size() == 1) {
        error = "empty expression";
        return false;
    }
    Parser parser(toks, fields, prog->nodes);
    prog->root = parser.parse(error);
    if (prog->root < 0)
        return false;
    prog_ = std::move(prog);
    return true;
}

bool KeyExpr::valid() const { return prog_ != nullptr; }

const std::string& KeyExpr::text() const
{
    static const std::string none;
    return prog_ ? prog_->text : none;
}

ExprType KeyExpr::type() const { return prog_ ? prog_->nodes[size_t(prog_->root)].type : ExprType::Char; }

int KeyExpr::width() const { return prog_ ? prog_->nodes[size_t(prog_->root)].width : 0; }

char KeyExpr::keyType() const { return char(type()); }

int KeyExpr::keyLength() const
{
    switch (type()) {
    case ExprType::Char: return width();
    case ExprType::Number:
    case ExprType::Date: return 8;
    case ExprType::Logical: return 1;
    }
    return 0;
}

ExprValue KeyExpr::evaluate(RecordPtr rec) const
{
    ExprValue v;
    if (prog_)
        prog_->eval(prog_->root, rec, v);
    return v;
}

bool KeyExpr::isTrue(RecordPtr rec) const
{
    if (!prog_)
        return false;
    ExprValue v;
    prog_->eval(prog_->root, rec, v);
    return v.type == ExprType::Logical && v.logical;
}

void KeyExpr::makeKey(RecordPtr rec, std::string& out, int length) const
{
    if (length < 0)
        length = 0;
    if (!prog_) {
        out.assign(size_t(length), ' ');
        return;
    }
    const Node& root = prog_->nodes[size_t(prog_->root)];
    if (root.op == Op::Field && root.type == ExprType::Char) {   // the common case: a plain field
        int n = std::min(root.fwidth, length);
        out.assign(rec + root.offset, size_t(n));
        out.resize(size_t(length), ' ');
        return;
    }
    ExprValue v;
    prog_->eval(prog_->root, rec, v);
    switch (v.type) {
    case ExprType::Char:
        out = std::move(v.text);
        out.resize(size_t(length), ' ');
        return;
    case ExprType::Number:
    case ExprType::Date:
        out = encodeNumberKey(v.number);
        break;
    case ExprType::Logical:
        out.assign(1, v.logical ? 'T' : 'F');
        break;
    }
    out.resize(size_t(length), '\0');
}

}  // namespace xb

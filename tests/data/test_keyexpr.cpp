// Key and FOR expressions: values read from record buffers, key types and
// lengths, the operators of FOR clauses, STR, the key encodings, and text
// that must be refused without crashing.

#include "data/KeyExpr.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace xb;

namespace {

// A table layout and records to evaluate expressions on.
struct Layout {
    FieldList fields;
    int reclen = 1;

    Layout()
    {
        add("N_AME", 'C', 20);
        add("CITY", 'C', 10);
        add("QTY", 'N', 8, 2);
        add("PRICE", 'F', 6, 2);
        add("IN_DATE", 'D', 8);
        add("DONE", 'L', 1);
        add("FACILITY", 'C', 10);
        add("MEMO", 'M', 10);
    }
    void add(const char* name, char type, int width, int dec = 0)
    {
        fields.push_back({name, type, reclen, width, dec});
        reclen += width;
    }
    // values in field order; C left-aligned, N/F right-aligned, as stored
    std::string record(const std::vector<std::string>& values, bool deleted = false) const
    {
        std::string r(size_t(reclen), ' ');
        r[0] = deleted ? '*' : ' ';
        for (size_t i = 0; i < values.size() && i < fields.size(); ++i) {
            const FieldDesc& f = fields[i];
            std::string v = values[i].substr(0, size_t(f.width));
            bool right = f.type == 'N' || f.type == 'F';
            size_t at = right ? size_t(f.width) - v.size() : 0;
            r.replace(size_t(f.offset) + at, v.size(), v);
        }
        return r;
    }
};

std::string hex(const std::string& s)
{
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

KeyExpr compiled(const Layout& l, const char* text)
{
    KeyExpr e;
    std::string err;
    if (!e.compile(text, l.fields, err))
        qWarning("compile \"%s\": %s", text, err.c_str());
    return e;
}

}  // namespace

class TestKeyExpr : public QObject {
    Q_OBJECT

private slots:
    void fieldValues();
    void keyTypeAndLength_data();
    void keyTypeAndLength();
    void keysOfComposedExpressions();
    void strFormatting_data();
    void strFormatting();
    void numberKeys();
    void julianDays();
    void conditions_data();
    void conditions();
    void refusedText_data();
    void refusedText();
    void deepNestingIsRefused();
    void randomTextNeverCrashes();
};

void TestKeyExpr::fieldValues()
{
    Layout l;
    std::string rec = l.record({"Acme Gravel", "Surrey", "-12.50", "  9.75", "20240314", "t", "Audio", "0000000012"});
    std::string blank = l.record({"", "", "", "", "", "?", "", ""});
    auto value = [&](const char* e, const std::string& r) { return compiled(l, e).evaluate(r.data()); };

    QCOMPARE(value("n_ame", rec).text, std::string("Acme Gravel         "));   // raw, blank padded as stored
    QCOMPARE(value("QTY", rec).number, -12.5);
    QCOMPARE(value("price", rec).number, 9.75);
    QCOMPARE(value("QTY", blank).number, 0.0);
    QCOMPARE(value("in_date", rec).number, 2460384.0);
    QCOMPARE(value("in_date", rec).text, std::string("20240314"));
    QCOMPARE(value("in_date", blank).number, 0.0);
    QCOMPARE(value("DTOS(in_date)", blank).text, std::string(8, ' '));
    QCOMPARE(value("memo", rec).text, std::string("0000000012"));   // other types: raw text
    for (char c : std::string("TtYyFfNn? "))
        QCOMPARE(compiled(l, "DONE").isTrue(l.record({"", "", "", "", "", std::string(1, c)}).data()),
                 std::string("TtYy").find(c) != std::string::npos);
}

void TestKeyExpr::keyTypeAndLength_data()
{
    QTest::addColumn<QString>("expr");
    QTest::addColumn<char>("type");
    QTest::addColumn<int>("length");
    QTest::newRow("field") << "n_ame" << 'C' << 20;
    QTest::newRow("upper keeps width") << "UPPER(N_AME)" << 'C' << 20;
    QTest::newRow("dtos") << "DTOS(in_date)" << 'C' << 8;
    QTest::newRow("str default") << "STR(qty)" << 'C' << 10;
    QTest::newRow("concat") << "n_ame + city" << 'C' << 30;
    QTest::newRow("concat dtos str") << "city+DTOS(in_date)+STR(qty,4,1)" << 'C' << 22;
    QTest::newRow("trim keeps width") << "TRIM(n_ame)+city" << 'C' << 30;
    QTest::newRow("substr") << "SUBSTR(n_ame, 3, 4)" << 'C' << 4;
    QTest::newRow("numeric") << "qty" << 'N' << 8;
    QTest::newRow("date") << "in_date" << 'D' << 8;
    QTest::newRow("date plus days") << "in_date + 30" << 'D' << 8;
    QTest::newRow("logical") << "done" << 'L' << 1;
}

void TestKeyExpr::keyTypeAndLength()
{
    QFETCH(QString, expr);
    QFETCH(char, type);
    QFETCH(int, length);
    Layout l;
    KeyExpr e;
    std::string err;
    QVERIFY2(e.compile(expr.toStdString(), l.fields, err), err.c_str());
    QCOMPARE(e.keyType(), type);
    QCOMPARE(e.keyLength(), length);
    std::string rec = l.record({"Acme", "Surrey", "5", "1", "20240314", "T", "Audio"}), key;
    e.makeKey(rec.data(), key);
    QCOMPARE(int(key.size()), length);
}

void TestKeyExpr::keysOfComposedExpressions()
{
    Layout l;
    std::string rec = l.record({"Acme gravel", "Surrey", "1200", "", "20240314", "F", " Audio"});
    std::string key;

    compiled(l, "TRIM(n_ame)+city").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("Acme gravelSurrey") + std::string(13, ' '));
    compiled(l, "UPPER(n_ame)").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("ACME GRAVEL         "));
    compiled(l, "city+DTOS(in_date)").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("Surrey    20240314"));
    compiled(l, "STR(qty,6)+LTRIM(facility)").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("  1200Audio     "));
    compiled(l, "ALLT(facility)+'|'").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("Audio|") + std::string(5, ' '));
    compiled(l, "SUBS(n_ame,6,3)").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("gra"));
    compiled(l, "qty").makeKey(rec.data(), key);
    QCOMPARE(hex(key), std::string("c092c00000000000"));
    compiled(l, "in_date").makeKey(rec.data(), key);
    QCOMPARE(key, encodeNumberKey(2460384));
    compiled(l, "DTOS(in_date + 17)").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("20240331"));
    compiled(l, "done").makeKey(rec.data(), key);
    QCOMPARE(key, std::string("F"));
    // a key cut to a stored key length shorter than the expression's width
    compiled(l, "n_ame").makeKey(rec.data(), key, 4);
    QCOMPARE(key, std::string("Acme"));
}

void TestKeyExpr::strFormatting_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 1200.0 << 10 << 0 << "      1200";
    QTest::newRow("decimals") << 7.5 << 10 << 2 << "      7.50";
    QTest::newRow("half up, binary 2.675") << 2.675 << 6 << 2 << "  2.68";
    QTest::newRow("half away from zero") << -1.5 << 4 << 0 << "  -2";
    QTest::newRow("carry into new digit") << 99.995 << 6 << 2 << "100.00";
    QTest::newRow("rounds to zero, no sign") << -0.001 << 6 << 2 << "  0.00";
    QTest::newRow("exactly fits") << -12345.0 << 6 << 0 << "-12345";
    QTest::newRow("too wide") << 123456.0 << 5 << 0 << "*****";
    QTest::newRow("huge") << 1e20 << 10 << 0 << "**********";
    QTest::newRow("large exact") << 123456789012.0 << 12 << 0 << "123456789012";
}

void TestKeyExpr::strFormatting()
{
    QFETCH(double, value);
    QFETCH(int, width);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(formatNumber(value, width, decimals)), text);
}

void TestKeyExpr::numberKeys()
{
    QCOMPARE(hex(encodeNumberKey(-350)), std::string("3f8a1fffffffffff"));
    QCOMPARE(hex(encodeNumberKey(0)), std::string("8000000000000000"));
    QCOMPARE(hex(encodeNumberKey(-0.0)), std::string("8000000000000000"));
    QCOMPARE(hex(encodeNumberKey(1200)), std::string("c092c00000000000"));
    // byte order is value order, and the keys decode to their values
    QRandomGenerator rng(7);
    std::vector<double> values = {0, 1, -1, 0.5, -0.5, 1e-310, -1e-310, 1e308, -1e308};
    for (int i = 0; i < 2000; ++i)
        values.push_back((rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-8, 12)));
    std::vector<std::string> keys;
    for (double v : values)
        keys.push_back(encodeNumberKey(v));
    std::sort(values.begin(), values.end());
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < values.size(); ++i)
        QCOMPARE(decodeNumberKey(keys[i]), values[i]);
}

void TestKeyExpr::julianDays()
{
    QCOMPARE(julianDay(2024, 3, 14), int64_t(2460384));
    for (const char* blank : {"        ", "00000000", "20230229", "20241301", "2024031"})
        QCOMPARE(julianFromText(blank), int64_t(0));   // blank or not a date
    QCOMPARE(textFromJulian(0), std::string(8, ' '));
    // day after day through leap and century years, there and back
    int64_t first = julianDay(1899, 12, 25);
    for (int64_t jd = first; jd < first + 150 * 366; ++jd) {
        std::string t = textFromJulian(jd);
        QCOMPARE(julianFromText(t), jd);
        if (jd > first)
            QVERIFY(t > textFromJulian(jd - 1));
    }
    QCOMPARE(textFromJulian(julianDay(2000, 2, 28) + 1), std::string("20000229"));
    QCOMPARE(textFromJulian(julianDay(1900, 2, 28) + 1), std::string("19000301"));
}

void TestKeyExpr::conditions_data()
{
    QTest::addColumn<QString>("expr");
    QTest::addColumn<bool>("expected");
    // on the record: n_ame "Acme Gravel", city "Surrey", qty 12.5, in_date 2024-03-14,
    // done T, facility "Audio"
    QTest::newRow("exact after trim") << "TRIM(UPPER(facility))==\"AUDIO\"" << true;
    QTest::newRow("exact keeps blanks") << "UPPER(facility)==\"AUDIO\"" << false;
    QTest::newRow("soft: left cut to right") << "n_ame = 'Acme'" << true;
    QTest::newRow("soft: right longer") << "city = 'Surrey    and more'" << false;
    QTest::newRow("soft: empty right") << "city = ''" << true;
    QTest::newRow("exact: differs") << "TRIM(n_ame) == 'Acme'" << false;
    QTest::newRow("not equal <>") << "city <> 'Surrey'" << false;
    QTest::newRow("not equal !=") << "city != 'Sur'" << false;
    QTest::newRow("less, chars") << "city < 'Victoria'" << true;
    QTest::newRow("<= prefix") << "city <= 'Sur'" << true;
    QTest::newRow(">= shorter") << "'Su' >= 'Surrey'" << false;
    QTest::newRow("numbers") << "qty > 12 .AND. qty < 13" << true;
    QTest::newRow("number sum") << "qty + 0.5 = 13" << true;
    QTest::newRow("dates") << "in_date >= in_date - 1 .AND. in_date + 1 > in_date" << true;
    QTest::newRow("date difference") << "(in_date + 30) - in_date = 30" << true;
    QTest::newRow("no date that far") << "DTOS(in_date + 99999999999999) = '        '" << true;
    QTest::newRow(".NOT.") << ".NOT. done" << false;
    QTest::newRow("!") << "!done .OR. qty = 12.5" << true;
    QTest::newRow("and binds tighter than or") << ".T. .OR. .F. .AND. .F." << true;
    QTest::newRow("parentheses") << "(.T. .OR. .F.) .AND. .F." << false;
    QTest::newRow("not binds tighter than and") << ".not. .f. .and. .f." << false;
    QTest::newRow("logical equality") << "done = .T." << true;
    QTest::newRow("deleted") << "DELETED()" << false;
    QTest::newRow("contains") << "'Grav' $ n_ame" << true;
    QTest::newRow("empty") << "EMPTY(memo) .AND. !EMPTY(city)" << true;
    QTest::newRow("iif") << "IIF(done, 'yes', 'no') = 'yes'" << true;
    QTest::newRow("val") << "VAL('12.5') = qty" << true;
    QTest::newRow("alias prefix") << "T->CITY = 'Surrey'" << true;
    QTest::newRow("lower case names") << "upper(city) = 'SURREY' .and. lower(city) = 'surrey'" << true;
}

void TestKeyExpr::conditions()
{
    QFETCH(QString, expr);
    QFETCH(bool, expected);
    Layout l;
    std::string rec = l.record({"Acme Gravel", "Surrey", "12.50", "", "20240314", "T", "Audio"});
    KeyExpr e;
    std::string err;
    QVERIFY2(e.compile(expr.toStdString(), l.fields, err), err.c_str());
    QCOMPARE(int(e.type()), int(ExprType::Logical));
    QCOMPARE(e.isTrue(rec.data()), expected);
    std::string deleted = l.record({"Acme Gravel"}, true);
    if (expr == "DELETED()")
        QVERIFY(e.isTrue(deleted.data()));
}

void TestKeyExpr::refusedText_data()
{
    QTest::addColumn<QString>("expr");
    QTest::newRow("empty") << "";
    QTest::newRow("unknown field") << "nosuch";
    QTest::newRow("unknown function") << "SOUNDEX(n_ame)";
    QTest::newRow("three letters are no abbreviation") << "UPP(n_ame)";
    QTest::newRow("unclosed string") << "n_ame = 'abc";
    QTest::newRow("unclosed paren") << "UPPER(n_ame";
    QTest::newRow("trailing operator") << "n_ame +";
    QTest::newRow("char plus number") << "n_ame + 1";
    QTest::newRow("compare char with number") << "qty = 'x'";
    QTest::newRow("not of number") << "!qty";
    QTest::newRow("str of char") << "STR(n_ame)";
    QTest::newRow("str too wide") << "STR(qty, 300)";
    QTest::newRow("substr negative length") << "SUBSTR(n_ame, 1, -99999999999999)";
    QTest::newRow("deleted with argument") << "DELETED(1)";
    QTest::newRow("bad dot word") << "a .XOR. b";
    QTest::newRow("unknown character") << "n_ame @ city";
    QTest::newRow("two values") << "n_ame city";
    QTest::newRow("logical ordering") << "done < .T.";
}

void TestKeyExpr::refusedText()
{
    QFETCH(QString, expr);
    Layout l;
    KeyExpr e;
    std::string err;
    QVERIFY(!e.compile(expr.toStdString(), l.fields, err));
    QVERIFY(!err.empty());
    QVERIFY(!e.valid());
    // an invalid expression still answers without crashing
    std::string rec = l.record({}), key;
    e.makeKey(rec.data(), key);
    QVERIFY(!e.isTrue(rec.data()));
}

void TestKeyExpr::deepNestingIsRefused()
{
    Layout l;
    std::string err;
    KeyExpr e;
    for (const char* unit : {"(", "UPPER(", "-", "!", ".NOT. "}) {
        std::string text;
        for (int i = 0; i < 50000; ++i)
            text += unit;
        QVERIFY(!e.compile(text + "n_ame", l.fields, err));
        QVERIFY(!err.empty());
    }
    std::string chain = "n_ame";   // long but flat is fine
    for (int i = 0; i < 300; ++i)
        chain += "+city";
    QVERIFY2(e.compile(chain, l.fields, err), err.c_str());
    QCOMPARE(e.keyLength(), 20 + 300 * 10);
}

void TestKeyExpr::randomTextNeverCrashes()
{
    static const char* pieces[] = {"n_ame", "city", "qty", "price", "in_date", "done", "memo", "UPPER(", "TRIM(",
                                   "DTOS(", "STR(", "SUBSTR(", "IIF(", "VAL(", "EMPTY(", "DELETED()", "ALLT(",
                                   "LEFT(", "RIGHT(", ")", "(", ",", "+", "-", "*", "/", "=", "==", "<>", "#", "<",
                                   ">=", "$", ".AND.", ".OR.", ".NOT.", "!", ".T.", ".F.", "'ab'", "\"x\"", "[q]",
                                   "12", "3.5", ".5", "0", "-1", " ", ".", "'", "\"", "->", "@", "\x01", "\xff"};
    const int n = int(sizeof pieces / sizeof pieces[0]);
    Layout l;
    QRandomGenerator rng(12345);
    std::string rec(size_t(l.reclen), ' ');
    int compiledCount = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        int len = rng.bounded(1, 12);
        for (int j = 0; j < len; ++j) {
            if (rng.bounded(8) == 0)
                text += char(rng.bounded(256));
            else
                text += pieces[rng.bounded(n)];
        }
        for (char& c : rec)
            c = char(rng.bounded(256));
        KeyExpr e;
        std::string err, key;
        if (e.compile(text, l.fields, err)) {
            ++compiledCount;
            e.evaluate(rec.data());
            e.makeKey(rec.data(), key);
            QCOMPARE(int(key.size()), e.keyLength());
        } else {
            QVERIFY2(!err.empty(), text.c_str());
        }
    }
    QVERIFY(compiledCount > 100);   // the generator does produce valid text too
}

QTEST_APPLESS_MAIN(TestKeyExpr)
#include "test_keyexpr.moc"

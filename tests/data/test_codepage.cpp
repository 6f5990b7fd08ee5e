// Text in the code page a table's header names: the conversion both ways,
// the characters a code page refuses, upper and lower case within a code
// page, and the engine's fields, keys and copies in 437, 850 and 1252.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/CodePage.h"
#include "data/Util.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace xb;

namespace {

std::string bytes(const QByteArray& b) { return std::string(b.constData(), std::size_t(b.size())); }
QByteArray qbytes(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

const CodePage& page(int number) { return *CodePage::ofNumber(number); }

// A customer table of the code page `number`, made as dbftool makes one.
std::string customerTable(const QTemporaryDir& dir, int number, const char* name = "customer.dbf")
{
    const std::string path = (dir.path() + "/" + name).toStdString();
    catalogue::CreateTable(catalogue::kCustomerLayout, path, page(number).mark());
    return path;
}

// The bytes of a field of record n as the file holds them.
std::string storedBytes(const std::string& path, uint32_t n, const char* field)
{
    Connection c;
    c.setReadOnly(true);
    Table* t = c.open(path);
    if (!t || t->go(n) != kSuccess)
        return "(unreadable)";
    return std::string(t->field(field)->trimmedView());
}

}  // namespace

class TestCodePage : public QObject {
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("mark");
        QTest::addColumn<QString>("text");
        QTest::newRow("1252") << QByteArray("M\xDCLLER BAU") << 0x03 << QString::fromUtf8("MÜLLER BAU");
        QTest::newRow("unset is 1252") << QByteArray("CAF\xC9 \x80") << 0x00 << QString::fromUtf8("CAFÉ €");
        QTest::newRow("unknown mark is 1252") << QByteArray("\xDC") << 0xEE << QString::fromUtf8("Ü");
        QTest::newRow("437") << QByteArray("M\x9ALLER Pe\xA4" "a") << 0x01 << QString::fromUtf8("MÜLLER Peña");
        QTest::newRow("850") << QByteArray("M\x9ALLER \xB5") << 0x02 << QString::fromUtf8("MÜLLER Á");
        QTest::newRow("866") << QByteArray("\x8F\xA5\xE2\xE0") << 0x65 << QString::fromUtf8("Петр");
        QTest::newRow("1251") << QByteArray("\xCF\xE5\xF2\xF0") << 0xC9 << QString::fromUtf8("Петр");
        QTest::newRow("1250") << QByteArray("\x8A" "koda \xF5") << 0xC8 << QString::fromUtf8("Škoda ő");
        QTest::newRow("byte 1252 leaves undefined") << QByteArray("A\x81" "B") << 0x03 << QString::fromUtf8("A\u0081B");
        QTest::newRow("NUL inside") << QByteArray("A\0B\xDC", 4) << 0x03 << QString::fromUtf8("A BÜ");
        QTest::newRow("ASCII as it is") << QByteArray("PLAIN 123") << 0x65 << QString("PLAIN 123");
    }
    void decode()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, mark);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(CodePage::ofMark((unsigned char)mark).decode(bytes(stored))), text);
    }

    void encode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("maxBytes");   // -1: no limit
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("refused");  // the character named, or empty
        QTest::addColumn<bool>("cut");
        const QString none;
        QTest::newRow("1252") << QString::fromUtf8("MÜLLER") << 1252 << -1 << QByteArray("M\xDCLLER") << none << false;
        QTest::newRow("437") << QString::fromUtf8("MÜLLER") << 437 << -1 << QByteArray("M\x9ALLER") << none << false;
        QTest::newRow("850") << QString::fromUtf8("Peña") << 850 << -1 << QByteArray("Pe\xA4" "a") << none << false;
        QTest::newRow("euro in 1252") << QString::fromUtf8("5 €") << 1252 << -1 << QByteArray("5 \x80") << none << false;
        QTest::newRow("euro in 437") << QString::fromUtf8("5 €") << 437 << -1 << QByteArray("5 ") << QString::fromUtf8("€")
                                     << false;
        QTest::newRow("ő in 1252") << QString::fromUtf8("Kőbánya") << 1252 << -1 << QByteArray("Kb\xE1nya")
                                   << QString::fromUtf8("ő") << false;
        QTest::newRow("ő in 1250") << QString::fromUtf8("Kőbánya") << 1250 << -1 << QByteArray("K\xF5" "b\xE1nya")
                                   << none << false;
        QTest::newRow("cut between characters") << QString::fromUtf8("ÄÖÜ") << 1252 << 2 << QByteArray("\xC4\xD6")
                                                << none << true;
        QTest::newRow("only what is kept is checked") << QString::fromUtf8("AB€") << 437 << 2 << QByteArray("AB")
                                                      << none << true;
        QTest::newRow("control of an undefined byte") << QString::fromUtf8("A\u0081") << 1252 << -1
                                                      << QByteArray("A\x81") << none << false;
        QTest::newRow("replacement character") << QString::fromUtf8("A\uFFFD") << 1252 << -1 << QByteArray("A")
                                               << QString::fromUtf8("\uFFFD") << false;
    }
    void encode()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(int, maxBytes);
        QFETCH(QByteArray, stored);
        QFETCH(QString, refused);
        QFETCH(bool, cut);
        const auto e = page(number).encode(text.toStdString(), maxBytes < 0 ? std::string::npos : std::size_t(maxBytes));
        QCOMPARE(qbytes(e.bytes), stored);
        QCOMPARE(e.refused ? QString::fromStdString(e.refused->character) : QString(), refused);
        QCOMPARE(e.cut, cut);
    }

    void notUtf8IsRefused()
    {
        const auto e = page(1252).encode("A\xFF" "B");
        QVERIFY(e.refused);
        QCOMPARE(int(e.refused->codePoint), 0xFFFD);
        QCOMPARE(QString::fromStdString(e.refused->named()), QString::fromUtf8("\"\uFFFD\" (U+FFFD)"));
    }

    // Every byte a code page defines reads as a character that is written
    // back as that byte.
    void everyByteRoundTrips_data()
    {
        QTest::addColumn<int>("number");
        for (int n : CodePage::numbers())
            QTest::newRow(std::to_string(n).c_str()) << n;
    }
    void everyByteRoundTrips()
    {
        QFETCH(int, number);
        const CodePage& p = page(number);
        int defined = 0;
        for (int b = 1; b < 256; ++b) {
            const std::string one(1, char(b));
            const std::string text = p.decode(one);
            if (text == "\xEF\xBF\xBD")
                continue;  // undefined above 0x9F
            ++defined;
            const auto e = p.encode(text);
            QVERIFY2(!e.refused && e.bytes == one, qPrintable(QString("byte 0x%1").arg(b, 2, 16, QChar('0'))));
        }
        QVERIFY2(defined >= 240, qPrintable(QString("%1 bytes defined").arg(defined)));
        QCOMPARE(CodePage::ofMark(p.mark()).number(), number);
    }

    void caseWithinCodePage_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("lower");
        QTest::addColumn<int>("upper");  // the byte UPPER gives; LOWER gives `lower` back unless they are one
        QTest::newRow("1252 é") << 1252 << 0xE9 << 0xC9;
        QTest::newRow("1252 ÿ to Ÿ") << 1252 << 0xFF << 0x9F;
        QTest::newRow("1252 š to Š") << 1252 << 0x9A << 0x8A;
        QTest::newRow("1252 ß stays") << 1252 << 0xDF << 0xDF;
        QTest::newRow("1252 µ stays") << 1252 << 0xB5 << 0xB5;
        QTest::newRow("437 é") << 437 << 0x82 << 0x90;
        QTest::newRow("437 ä") << 437 << 0x84 << 0x8E;
        QTest::newRow("437 á has no capital") << 437 << 0xA0 << 0xA0;
        QTest::newRow("850 á") << 850 << 0xA0 << 0xB5;
        QTest::newRow("866 а") << 866 << 0xA0 << 0x80;
        QTest::newRow("ASCII") << 1252 << int('q') << int('Q');
    }
    void caseWithinCodePage()
    {
        QFETCH(int, number);
        QFETCH(int, lower);
        QFETCH(int, upper);
        const CodePage& p = page(number);
        QCOMPARE(int(p.upper((unsigned char)lower)), upper);
        QCOMPARE(int(p.upper((unsigned char)upper)), upper);
        if (upper != lower)
            QCOMPARE(int(p.lower((unsigned char)upper)), lower);
    }

    void upperCaseText()
    {
        QCOMPARE(QString::fromStdString(upperCase("straße müller peña €")), QString::fromUtf8("STRAßE MÜLLER PEÑA €"));
        QCOMPARE(upperCase("ab\xFF" "c"), std::string("AB\xFF" "C"));  // what is not UTF-8 stays
    }

    void markOfNumber()
    {
        QCOMPARE(int(page(437).mark()), 0x01);
        QCOMPARE(int(page(850).mark()), 0x02);
        QCOMPARE(int(page(1252).mark()), 0x03);
        QVERIFY(!CodePage::ofNumber(65001));
        QVERIFY(CodePage::knownMark(0x57));
        QVERIFY(!CodePage::knownMark(0x00));
        QCOMPARE(QString::fromStdString(page(437).name()), QString("DOS 437"));
        QCOMPARE(QString::fromStdString(page(1252).name()), QString("Windows 1252"));
    }

    // ---- the engine's fields ----

    // A name written as text is stored in the table's code page and read
    // back as it was written.
    void fieldsInTheirCodePage_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("1252") << 1252 << QString::fromUtf8("Peña Müller") << QByteArray("Pe\xF1" "a M\xFCller");
        QTest::newRow("437") << 437 << QString::fromUtf8("Peña Müller") << QByteArray("Pe\xA4" "a M\x81ller");
        QTest::newRow("850") << 850 << QString::fromUtf8("Peña Müller") << QByteArray("Pe\xA4" "a M\x81ller");
        QTest::newRow("1251") << 1251 << QString::fromUtf8("Петров") << QByteArray("\xCF\xE5\xF2\xF0\xEE\xE2");
    }
    void fieldsInTheirCodePage()
    {
        QFETCH(int, number);
        QFETCH(QString, name);
        QFETCH(QByteArray, stored);
        QTemporaryDir dir;
        const std::string path = customerTable(dir, number);
        {
            Connection c;
            Table* t = c.open(path);
            QVERIFY(t && t->appendStart() == kSuccess);
            t->blank();
            QVERIFY(t->field("n_ame")->assign(name.toStdString()));
            QCOMPARE(QString::fromStdString(t->field("n_ame")->text()), name);
            QVERIFY(t->append() == kSuccess && t->close() == kSuccess);
        }
        QCOMPARE(qbytes(storedBytes(path, 1, "n_ame")), stored);
        Connection c;
        Table* t = c.open(path);
        QVERIFY(t && t->top() == kSuccess);
        QCOMPARE(QString::fromStdString(util::fetch(t, "n_ame")), name);
        QCOMPARE(int(t->codePage()), int(page(number).mark()));
    }

    void characterTheCodePageLacksIsRefused()
    {
        QTemporaryDir dir;
        const std::string path = customerTable(dir, 1252);
        testsupport::EngineErrors errors;
        Connection c;
        Table* t = c.open(path);
        QVERIFY(t && t->appendStart() == kSuccess);
        t->blank();
        QVERIFY(t->field("n_ame")->assign("KEEP"));
        QVERIFY(!t->field("n_ame")->assign("Kőbánya"));
        QCOMPARE(t->field("n_ame")->text(), std::string("KEEP"));  // the field keeps what it held
        QVERIFY2(errors.contains("field N_AME: the character \"ő\" (U+0151) cannot be stored in the table's code "
                                 "page, Windows 1252"),
                 errors.messages.empty() ? "" : errors.messages.front().c_str());
        QVERIFY(!t->field("n_ame")->assign("Smith \xE2\x82\xAC\xF0\x9F\x98\x80"));  // the euro is in 1252
        QVERIFY(errors.contains("(U+1F600)"));
    }

    void cutToTheWidthBetweenCharacters()
    {
        QTemporaryDir dir;
        const std::string path = (dir.path() + "/t.dbf").toStdString();
        Connection c;
        Table* t = c.create(path, {{"name", 'C', 4, 0}}, {}, page(437).mark());
        QVERIFY(t && t->appendStart() == kSuccess);
        t->blank();
        QVERIFY(t->field("name")->assign("ÄÖÜÉÈ"));
        QCOMPARE(QString::fromStdString(t->field("name")->text()), QString::fromUtf8("ÄÖÜÉ"));
        QCOMPARE(qbytes(std::string(t->field("name")->raw())), QByteArray("\x8E\x99\x9A\x90"));
    }

    // What another program stored and the program writes back unchanged
    // keeps its bytes: blanks before the text, a NUL, a byte 1252 leaves
    // undefined.
    void unchangedTextKeepsItsBytes_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("blanks before") << QByteArray("  INDENTED");
        QTest::newRow("NUL inside") << QByteArray("A\0B", 3);
        QTest::newRow("undefined byte") << QByteArray("X\x81Y\x9D");
        QTest::newRow("accents") << QByteArray("M\xDCLLER");
    }
    void unchangedTextKeepsItsBytes()
    {
        QFETCH(QByteArray, stored);
        QTemporaryDir dir;
        const std::string path = customerTable(dir, 1252);
        {
            Connection c;
            Table* t = c.open(path);
            t->appendStart();
            t->blank();
            t->field("n_ame")->assignRaw(bytes(stored));
            t->field("add_r")->assign("OLD");
            QVERIFY(t->append() == kSuccess && t->close() == kSuccess);
        }
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        {
            Connection c;
            Table* t = c.open(path);
            QVERIFY(t && t->top() == kSuccess);
            const std::string name = util::fetch(t, "n_ame");
            QVERIFY(util::replace(t, "n_ame", name));
            QVERIFY(util::replace(t, "add_r", "NEW"));
            QVERIFY(t->close() == kSuccess);
        }
        QCOMPARE(QString::fromStdString(storedBytes(path, 1, "add_r")), QString("NEW"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray after = file.readAll();
        const int offset = int(before.indexOf(stored));
        QVERIFY(offset > 0);
        QCOMPARE(after.mid(offset, stored.size()), stored);
    }

    // A key sought as text finds the record stored in the code page, and
    // UPPER() keys are the code page's capitals of the stored bytes.
    void keysInTheCodePage_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("upperKey");
        QTest::newRow("1252") << 1252 << QByteArray("M\xDCLLER \xC9");
        QTest::newRow("437") << 437 << QByteArray("M\x9ALLER \x90");
        QTest::newRow("850") << 850 << QByteArray("M\x9ALLER \x90");
    }
    void keysInTheCodePage()
    {
        QFETCH(int, number);
        QFETCH(QByteArray, upperKey);
        QTemporaryDir dir;
        const std::string path = (dir.path() + "/t.dbf").toStdString();
        Connection c;
        TagSpec name;
        name.name = "NAME";
        name.keyExpr = "name";
        TagSpec up;
        up.name = "UP";
        up.keyExpr = "UPPER(name)";
        Table* t = c.create(path, {{"name", 'C', 10, 0}}, {name, up}, page(number).mark());
        QVERIFY(t);
        for (const char* n : {"Zed", "Müller é", "Abel"}) {
            t->appendStart();
            t->blank();
            QVERIFY(t->field("name")->assign(n));
            QVERIFY(t->append() == kSuccess);
        }
        QVERIFY(t->selectTag("NAME"));
        QCOMPARE(t->seek("Müller é"), int(kSuccess));
        QCOMPARE(t->recNo(), 2u);
        QVERIFY(t->seek("Kőbánya") != kSuccess);  // no key of the table
        QVERIFY(t->selectTag("UP"));
        QCOMPARE(t->seek("MÜLLER É"), int(kSuccess));
        QCOMPARE(t->recNo(), 2u);
        const int tag = t->index()->findTag("UP");
        QVERIFY(t->go(2) == kSuccess);
        const auto key = t->index()->recordKey(tag, t->recordBuffer());
        QVERIFY(key);
        QCOMPARE(QByteArray(key->data(), qsizetype(key->size())).trimmed(), upperKey);
        QVERIFY(t->checkIndex().empty());
        QVERIFY(t->close() == kSuccess);
    }

    // Records copied between tables of two code pages keep their text;
    // between tables of one code page, their bytes.
    void appendAcrossCodePages_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("437 to 1252") << 437 << 1252 << QByteArray("M\x9ALLER") << QByteArray("M\xDCLLER");
        QTest::newRow("1252 to 850") << 1252 << 850 << QByteArray("Pe\xF1" "a") << QByteArray("Pe\xA4" "a");
        QTest::newRow("1252 to 1252, undefined byte") << 1252 << 1252 << QByteArray("X\x81") << QByteArray("X\x81");
    }
    void appendAcrossCodePages()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, target);
        QTemporaryDir dir;
        const std::string src = customerTable(dir, from, "a.dbf");
        const std::string dst = customerTable(dir, to, "b.dbf");
        {
            Connection c;
            Table* t = c.open(src);
            t->appendStart();
            t->blank();
            t->field("n_ame")->assignRaw(bytes(source));
            QVERIFY(t->append() == kSuccess && t->close() == kSuccess);
        }
        QVERIFY(util::cbAppendFrom(src, dst));
        QCOMPARE(qbytes(storedBytes(dst, 1, "n_ame")), target);
    }

    void appendOfACharacterTheTargetLacksStops()
    {
        QTemporaryDir dir;
        const std::string src = customerTable(dir, 1251, "a.dbf");
        const std::string dst = customerTable(dir, 1252, "b.dbf");
        {
            Connection c;
            Table* t = c.open(src);
            t->appendStart();
            t->blank();
            QVERIFY(t->field("n_ame")->assign("Петров"));
            QVERIFY(t->append() == kSuccess && t->close() == kSuccess);
        }
        testsupport::EngineErrors errors;
        QVERIFY(!util::cbAppendFrom(src, dst));
        QVERIFY(errors.contains("cannot be stored"));
        Connection c;
        QCOMPARE(c.open(dst)->recCount(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestCodePage)
#include "test_codepage.moc"

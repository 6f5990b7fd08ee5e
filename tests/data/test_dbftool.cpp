// dbftool as an administrator uses it: every command, its output and its
// exit status.

#include "TestSupport.h"

#include "data/CodeBase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::run;

namespace {
QString tool() { return testsupport::binDir() + "/dbftool"; }
}  // namespace

class TestDbfTool : public QObject {
    Q_OBJECT

private slots:
    void createAppendDumpPack();
    void infoDescribesTable();
    void checkFindsFaults();
    void errorsGoToStandardError();
    void textInTheTablesCodePage_data();
    void textInTheTablesCodePage();
    void reindexMakesAMissingIndex_data();
    void reindexMakesAMissingIndex();
};

void TestDbfTool::createAppendDumpPack()
{
    QTemporaryDir dir;
    QString t = dir.path() + "/Product.dbf";
    QCOMPARE(run(tool(), {"create", t, "4"}).exitCode, 0);
    QCOMPARE(run(tool(), {"create", t, "4"}).exitCode, 2);  // exists: left alone
    auto r = run(tool(), {"append", t, "code_num=1", "n_ame=PEA, GRAVEL", "price_t=9.75", "Balance=-350"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("1\n"));
    QCOMPARE(run(tool(), {"append", t, "n_ame=SAND \"WASHED\""}).exitCode, 0);
    QCOMPARE(run(tool(), {"append", t, "n_ame=GONE", "code_num=3"}).exitCode, 0);
    QCOMPARE(run(tool(), {"delete", t, "3"}).exitCode, 0);

    QByteArray header = "CODE_NUM,N_AME,PRICE_T,BALANCE\n";
    QByteArray live = "1,\"PEA, GRAVEL\",9.75,-350\n,\"SAND \"\"WASHED\"\"\",,\n";
    QCOMPARE(run(tool(), {"dump", t}).out, header + live);
    QCOMPARE(run(tool(), {"dump", t, "--deleted"}).out,
             "," + header + ",1,\"PEA, GRAVEL\",9.75,-350\n,,\"SAND \"\"WASHED\"\"\",,\n*,3,GONE,,\n");
    QCOMPARE(run(tool(), {"pack", t}).exitCode, 0);
    QCOMPARE(run(tool(), {"dump", t, "--deleted"}).out,
             "," + header + ",1,\"PEA, GRAVEL\",9.75,-350\n,,\"SAND \"\"WASHED\"\"\",,\n");

    QString ticket = dir.path() + "/ticket.dbf";
    QCOMPARE(run(tool(), {"create", ticket, "1"}).exitCode, 0);
    QCOMPARE(run(tool(), {"append", ticket, "ticket=7", "in_date=20261209", "complete=T", "pounds=F", "in_time=930"}).exitCode, 0);
    QByteArray dump = run(tool(), {"dump", ticket}).out;
    QCOMPARE(dump.split('\n')[1], QByteArray(",7,,,,,,,,,,,,F,930,20261209,,,,,,T,"));
}

void TestDbfTool::infoDescribesTable()
{
    QTemporaryDir dir;
    QString t = dir.path() + "/setup.dbf";
    QCOMPARE(run(tool(), {"create", t, "9"}).exitCode, 0);
    QCOMPARE(run(tool(), {"append", t, "scalport=1"}).exitCode, 0);
    auto r = run(tool(), {"info", t});
    QCOMPARE(r.exitCode, 0);
    QString out = QString::fromLatin1(r.out);
    QVERIFY2(out.contains("version: 0x03"), qPrintable(out));
    QVERIFY(out.contains("records: 1\n"));
    QVERIFY(out.contains("header length: 225\n"));
    QVERIFY(out.contains("record length: 65\n"));
    QVERIFY(out.contains("code page: 0x03"));
    QVERIFY(out.contains(QRegularExpression("6 DATAPATH\\s+C\\s+50\\s+0")));
    QVERIFY(out.contains(QRegularExpression("5 TONE\\s+L\\s+1\\s+0")));
}

void TestDbfTool::checkFindsFaults()
{
    QTemporaryDir dir;
    QString good = dir.path() + "/good.dbf";
    QCOMPARE(run(tool(), {"create", good, "1"}).exitCode, 0);
    QCOMPARE(run(tool(), {"append", good, "ticket=1"}).exitCode, 0);
    QCOMPARE(run(tool(), {"check", good}).exitCode, 0);
    QCOMPARE(run(tool(), {"check", dir.path()}).out, QByteArray());

    // A number field holding letters, written by some other program.
    QFile::copy(good, dir.path() + "/BAD.DBF");
    QFile f(dir.path() + "/BAD.DBF");
    f.open(QIODevice::ReadWrite);
    f.seek(769 + 21);
    f.write("ABCDE");
    f.close();
    QFile junk(dir.path() + "/notes.dbf");
    junk.open(QIODevice::WriteOnly);
    junk.write("not a table at all, but named like one");
    junk.close();
    auto r = run(tool(), {"check", dir.path()});
    QCOMPARE(r.exitCode, 1);
    QStringList lines = QString::fromLatin1(r.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].contains("BAD.DBF") && lines[0].contains("TICKET") && lines[0].contains("not a number"),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].contains("notes.dbf") && lines[1].contains("not a table"), qPrintable(lines[1]));

    // A header that counts fewer records than the file holds, as another
    // program can leave it: both numbers are reported.
    QDir sub(dir.path());
    sub.mkdir("count");
    QString few = dir.path() + "/count/few.dbf";
    QFile::copy(good, few);
    QCOMPARE(run(tool(), {"append", few, "ticket=2"}).exitCode, 0);
    QFile c(few);
    c.open(QIODevice::ReadWrite);
    c.seek(4);
    c.write(QByteArray("\x01\0\0\0", 4));
    c.close();
    r = run(tool(), {"check", few});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.out.contains("few.dbf") && r.out.contains("counts 1 records") && r.out.contains("holds 2 whole"),
             r.out.constData());
}

void TestDbfTool::errorsGoToStandardError()
{
    QTemporaryDir dir;
    QString t = dir.path() + "/c.dbf";
    auto missing = run(tool(), {"dump", t});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY(missing.out.isEmpty());
    QVERIFY(missing.err.contains("c.dbf") && missing.err.contains("does not exist"));
    QCOMPARE(run(tool(), {"create", t, "5"}).exitCode, 2);
    QCOMPARE(run(tool(), {"create", t, "3"}).exitCode, 0);
    auto wide = run(tool(), {"append", t, "code_num=1000"});
    QCOMPARE(wide.exitCode, 2);
    QVERIFY(wide.err.contains("does not fit"));
    auto nofield = run(tool(), {"append", t, "colour=red"});
    QCOMPARE(nofield.exitCode, 2);
    QVERIFY(nofield.err.contains("no field colour"));
    QCOMPARE(run(tool(), {"dump", t}).out, QByteArray("CODE_NUM,N_AME,ADD_R,FAX_NO\n"));  // nothing appended
    QCOMPARE(run(tool(), {"frobnicate", t}).exitCode, 2);
    QCOMPARE(run(tool(), {"delete", t, "1"}).exitCode, 2);
}

// Tables copied from an older installation without their index: reindex
// makes it with the tags of the table's name, keys for every record.
void TestDbfTool::reindexMakesAMissingIndex_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("made");  // what reindex says; empty: no index is made
    QTest::addColumn<QString>("tag");   // a tag to list the keys of
    QTest::newRow("customers") << "CUSTOMER.DBF" << "3" << "CUSTOMER.CDX was made with the tags N_AME, FAX_NO" << "fax_no";
    QTest::newRow("products") << "Product.dbf" << "4" << "Product.cdx was made with the tag N_AME" << "n_ame";
    QTest::newRow("a day table needs none") << "Dec0826.dbf" << "1" << "" << "";
}

void TestDbfTool::reindexMakesAMissingIndex()
{
    QFETCH(QString, table);
    QFETCH(QString, layout);
    QFETCH(QString, made);
    QFETCH(QString, tag);
    QTemporaryDir dir;
    const QString t = dir.path() + "/" + table;
    QCOMPARE(run(tool(), {"create", t, layout}).exitCode, 0);
    const QString field = layout == "1" ? "customer" : "n_ame";
    for (const char* name : {"ZED", "ACME"})
        QCOMPARE(run(tool(), {"append", t, field + "=" + name}).exitCode, 0);
    if (layout == "3")
        QCOMPARE(run(tool(), {"set", t, "1", "fax_no=1001"}).exitCode, 0);
    for (const QString& f : QDir(dir.path()).entryList({"*.cdx", "*.CDX"}, QDir::Files))
        QVERIFY(QFile::remove(dir.path() + "/" + f));

    const auto r = run(tool(), {"reindex", t});
    QCOMPARE(r.exitCode, 0);
    if (made.isEmpty()) {
        QVERIFY2(r.out.contains("needs none"), r.out.constData());
        QCOMPARE(QDir(dir.path()).entryList({"*.cdx", "*.CDX"}, QDir::Files), QStringList());
        return;
    }
    QVERIFY2(r.out.contains(made.toUtf8()), r.out.constData());
    QCOMPARE(run(tool(), {"check", t}).exitCode, 0);
    const auto keys = run(tool(), {"keys", t, tag});
    QCOMPARE(keys.exitCode, 0);
    QCOMPARE(keys.out.count('\n'), 2);
    // A second reindex rebuilds the index now there.
    QCOMPARE(run(tool(), {"reindex", t}).out, QByteArray());
}

QTEST_GUILESS_MAIN(TestDbfTool)

// Text is taken and shown in UTF-8 and stored in the table's code page; a
// character the code page cannot hold is refused and nothing is appended.
void TestDbfTool::textInTheTablesCodePage_data()
{
    QTest::addColumn<QString>("codePage");
    QTest::addColumn<QString>("info");  // the code page line of info
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("stored");  // empty: refused
    QTest::newRow("default 1252") << "" << "code page: 0x03 (Windows 1252)" << QString::fromUtf8("MÜLLER BAU")
                                  << QByteArray("M\xDCLLER BAU");
    QTest::newRow("437") << "437" << "code page: 0x01 (DOS 437)" << QString::fromUtf8("MÜLLER BAU")
                         << QByteArray("M\x9ALLER BAU");
    QTest::newRow("850") << "850" << "code page: 0x02 (DOS 850)" << QString::fromUtf8("Peña")
                         << QByteArray("Pe\xA4" "a");
    QTest::newRow("866") << "866" << "code page: 0x65 (DOS 866)" << QString::fromUtf8("Петров")
                         << QByteArray("\x8F\xA5\xE2\xE0\xAE\xA2");
    QTest::newRow("1252 refuses ő") << "1252" << "code page: 0x03 (Windows 1252)" << QString::fromUtf8("Kőbánya")
                                    << QByteArray();
}

void TestDbfTool::textInTheTablesCodePage()
{
    QFETCH(QString, codePage);
    QFETCH(QString, info);
    QFETCH(QString, name);
    QFETCH(QByteArray, stored);
    QTemporaryDir dir;
    const QString t = dir.path() + "/customer.dbf";
    QStringList create {"create", t, "3"};
    if (!codePage.isEmpty())
        create << "--code-page" << codePage;
    QCOMPARE(run(tool(), create).exitCode, 0);
    QVERIFY(QString::fromUtf8(run(tool(), {"info", t}).out).contains(info));
    const auto appended = run(tool(), {"append", t, "code_num=1", "n_ame=" + name});
    const QByteArray header("CODE_NUM,N_AME,ADD_R,FAX_NO\n");
    if (stored.isEmpty()) {
        QCOMPARE(appended.exitCode, 2);
        QVERIFY2(QString::fromUtf8(appended.err).contains(QString::fromUtf8("\"ő\" (U+0151)")), appended.err.constData());
        QCOMPARE(run(tool(), {"dump", t}).out, header);
        return;
    }
    QCOMPARE(appended.exitCode, 0);
    QCOMPARE(run(tool(), {"dump", t}).out, header + "1," + name.toUtf8() + ",,\n");
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* table = c.open(t.toStdString());
    QVERIFY(table && table->top() == xb::kSuccess);
    QCOMPARE(QByteArray::fromStdString(std::string(table->field("n_ame")->trimmedView())), stored);
}

#include "test_dbftool.moc"

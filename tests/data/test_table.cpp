// The table engine on tables it makes itself: reading, writing, navigation,
// and the faults it must survive (damaged files, a full disk, read-only files).

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Cdx.h"
#include "data/Paths.h"
#include "data/Util.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace xb;

namespace {

const std::vector<FieldSpec> kFields = {
    {"name", 'C', 10, 0}, {"qty", 'N', 6, 0}, {"price", 'N', 8, 2},
    {"rate", 'F', 6, 2},  {"ok", 'L', 1, 0},  {"day", 'D', 8, 0},
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

// A table of kFields with n records: name "R<i>", qty i.
std::string makeTable(const QTemporaryDir& dir, int n, const char* name = "t.dbf")
{
    std::string path = (dir.path() + "/" + name).toStdString();
    Connection c;
    Table* t = c.create(path, kFields);
    for (int i = 1; i <= n; ++i) {
        t->appendStart();
        t->blank();
        t->field("name")->assign("R" + std::to_string(i));
        t->field("qty")->assignInteger(i);
        t->append();
    }
    t->close();
    return path;
}

std::vector<long long> qtyInOrder(Table* t)
{
    std::vector<long long> v;
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        v.push_back(t->field("qty")->integer());
    return v;
}

}  // namespace

class TestTable : public QObject {
    Q_OBJECT

private slots:
    void createWritesFoxProHeader();
    void valuesRoundTrip();
    void numbersThatDoNotFitAreRefused();
    void textIsCutToWidth();
    void navigation();
    void deletedRecordsArePassedOver();
    void recordReachesFileWhenPointerMoves();
    void appendStartAbandonedByMove();
    void pack();
    void fieldsByNameAndPosition();
    void connectionClosesItsTables();
    void safetyGuardsExistingFiles();
    void namesFoundWhateverTheirCase();
    void headerCountLargerThanFile();
    void recordsPastHeaderCount_data();
    void recordsPastHeaderCount();
    void damagedFilesFailCleanly_data();
    void damagedFilesFailCleanly();
    void fullDiskLeavesTableAsItWas();
    void readOnlyTableRefusesWrites();
    void packFailureLeavesTable();
    void otherFieldTypesReadAsText();
    void staleTemporariesRemoved();
    void numbersRoundHalvesAwayFromZero_data();
    void numbersRoundHalvesAwayFromZero();
    void skipForwardFromBeforeTheStart_data();
    void skipForwardFromBeforeTheStart();
    void writesWithoutRecordRefused_data();
    void writesWithoutRecordRefused();
    void twoHandlesAreOneTable_data();
    void twoHandlesAreOneTable();
};

void TestTable::createWritesFoxProHeader()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 2);
    QByteArray b = readAll(QString::fromStdString(path));
    const int hdr = 32 + 32 * 6 + 1, rec = 1 + 10 + 6 + 8 + 6 + 1 + 8;
    QCOMPARE(uint8_t(b[0]), uint8_t(0x03));
    QCOMPARE(int(uint8_t(b[4])), 2);
    QCOMPARE(int(uint8_t(b[8]) | uint8_t(b[9]) << 8), hdr);
    QCOMPARE(int(uint8_t(b[10]) | uint8_t(b[11]) << 8), rec);
    QCOMPARE(uint8_t(b[28]), uint8_t(0x00));  // no production index
    QCOMPARE(uint8_t(b[hdr - 1]), uint8_t(0x0D));
    QCOMPARE(b.size(), hdr + 2 * rec + 1);
    QCOMPARE(uint8_t(b[b.size() - 1]), uint8_t(0x1A));
    QCOMPARE(b.mid(32, 5), QByteArray("NAME\0", 5));
    QCOMPARE(char(b[32 + 11]), 'C');
    QCOMPARE(int(uint8_t(b[32 + 32 * 2 + 17])), 2);  // decimals of price
    QCOMPARE(b.mid(hdr, rec), QByteArray(" R1") + QByteArray(13, ' ') + "1" + QByteArray(rec - 17, ' '));
}

void TestTable::valuesRoundTrip()
{
    QTemporaryDir dir;
    testsupport::EngineErrors errors;
    std::string path = (dir.path() + "/v.dbf").toStdString();
    {
        Connection c;
        Table* t = c.create(path, kFields);
        QVERIFY(t);
        t->appendStart();
        t->blank();
        QVERIFY(t->field("name")->assign("ab  "));
        QVERIFY(t->field("qty")->assign("-42"));
        QVERIFY(t->field("price")->assignNumber(7.5));
        QVERIFY(t->field("rate")->assign("-1.25"));
        QVERIFY(t->field("ok")->assignLogical(true));
        QVERIFY(t->field("day")->assignDate(Date {2026, 12, 8}));
        QCOMPARE(t->append(), int(kSuccess));
        QCOMPARE(t->appendBlank(), int(kSuccess));
    }
    QVERIFY(errors.messages.empty());
    QByteArray b = readAll(QString::fromStdString(path));
    QCOMPARE(b.mid(32 + 32 * 6 + 1, 40), QByteArray(" ab           -42    7.50 -1.25T20261208"));

    Connection c;
    Table* t = c.open(path);
    QCOMPARE(t->top(), int(kSuccess));
    QCOMPARE(t->field("NAME")->text(), std::string("ab"));
    QCOMPARE(t->field("name")->raw(), std::string_view("ab        "));
    QCOMPARE(t->field("qty")->integer(), -42LL);
    QCOMPARE(t->field("price")->number(), 7.5);
    QCOMPARE(t->field("price")->text(), std::string("7.50"));
    QCOMPARE(t->field("rate")->number(), -1.25);
    QVERIFY(t->field("ok")->isTrue());
    QCOMPARE(t->field("day")->date().value(), (Date {2026, 12, 8}));
    QCOMPARE(t->skip(1), int(kSuccess));
    // Blank values.
    QVERIFY(t->field("name")->isBlank());
    QCOMPARE(t->field("qty")->integer(), 0LL);
    QVERIFY(!t->field("ok")->isTrue());
    QVERIFY(!t->field("day")->date().has_value());
    QCOMPARE(t->skip(1), int(kEof));
    QVERIFY(t->eof());
}

void TestTable::numbersThatDoNotFitAreRefused()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 1);
    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    t->top();
    QVERIFY(!t->field("qty")->assignInteger(1234567));  // N(6)
    QVERIFY(errors.contains("does not fit"));
    QVERIFY(errors.contains("t.dbf"));
    QCOMPARE(t->field("qty")->integer(), 1LL);  // unchanged
    QVERIFY(!t->field("price")->assignNumber(123456.5));  // "123456.50" is 9 wide in N(8,2)
    QVERIFY(t->field("price")->assignNumber(-9999.99));
    QVERIFY(!t->field("qty")->assign("12a"));
    QVERIFY(!t->field("day")->assign("20261332"));
    QVERIFY(!t->field("ok")->assign("maybe"));
    QVERIFY(t->field("qty")->assignInteger(-99999));
    QVERIFY(!t->field("qty")->assignInteger(-100000));
    QVERIFY(t->field("price")->assignNumber(0.004));  // rounds to 0.00: a fit, not a change of number
    QCOMPARE(t->field("price")->text(), std::string("0.00"));
    QVERIFY(!t->field("price")->assignNumber(std::nan("")));
    QVERIFY(c.errorCode() != 0);
}

void TestTable::textIsCutToWidth()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 1);
    Connection c;
    Table* t = c.open(path);
    t->top();
    QVERIFY(t->field("name")->assign("ABCDEFGHIJKLMNOP"));
    t->close();
    t = c.open(path);
    t->top();
    QCOMPARE(t->field("name")->text(), std::string("ABCDEFGHIJ"));
}

void TestTable::navigation()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 5);
    Connection c;
    Table* t = c.open(path);
    QCOMPARE(t->recCount(), 5u);
    QCOMPARE(t->top(), int(kSuccess));
    QCOMPARE(t->recNo(), 1u);
    QCOMPARE(t->skip(2), int(kSuccess));
    QCOMPARE(t->recNo(), 3u);
    QCOMPARE(t->skip(-1), int(kSuccess));
    QCOMPARE(t->recNo(), 2u);
    QCOMPARE(t->bottom(), int(kSuccess));
    QCOMPARE(t->recNo(), 5u);
    QCOMPARE(t->skip(1), int(kEof));
    QVERIFY(t->eof());
    QCOMPARE(t->skip(-1), int(kSuccess));  // back from the end
    QCOMPARE(t->recNo(), 5u);
    QCOMPARE(t->go(4), int(kSuccess));
    QCOMPARE(t->field("qty")->integer(), 4LL);
    QCOMPARE(t->top(), int(kSuccess));
    QCOMPARE(t->skip(-1), int(kBof));
    QVERIFY(t->bof());

    // An empty table: top gives "end of table".
    Table* e = c.create((dir.path() + "/empty.dbf").toStdString(), kFields);
    QCOMPARE(e->top(), int(kEof));
    QCOMPARE(e->bottom(), int(kEof));
    QCOMPARE(e->recCount(), 0u);
    testsupport::EngineErrors errors;
    QCOMPARE(e->go(1), int(kError));
}

void TestTable::deletedRecordsArePassedOver()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 5);
    Connection c;
    Table* t = c.open(path);
    for (uint32_t n : {1u, 3u, 5u}) {
        t->go(n);
        QCOMPARE(t->deleteRecord(), int(kSuccess));
        QVERIFY(t->deleted());
    }
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {2, 4}));
    QCOMPARE(t->bottom(), int(kSuccess));
    QCOMPARE(t->recNo(), 4u);
    QCOMPARE(t->go(3), int(kSuccess));  // reached by number
    QVERIFY(t->deleted());
    QCOMPARE(t->recall(), int(kSuccess));
    t->close();
    t = c.open(path);
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {2, 3, 4}));
    QCOMPARE(t->recCount(), 5u);

    // All records deleted: like an empty table.
    for (uint32_t n = 1; n <= 5; ++n) {
        t->go(n);
        t->deleteRecord();
    }
    QCOMPARE(t->top(), int(kEof));
}

void TestTable::recordReachesFileWhenPointerMoves()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 3);
    Connection c;
    Table* t = c.open(path);
    Connection reader;
    auto onDisk = [&](uint32_t n) {
        Table* r = reader.open(path);
        r->go(n);
        long long v = r->field("qty")->integer();
        r->close();
        return v;
    };
    t->go(2);
    t->field("qty")->assignInteger(20);
    QCOMPARE(onDisk(2), 2LL);  // not yet written
    t->skip(1);
    QCOMPARE(onDisk(2), 20LL);  // the move wrote it
    t->field("qty")->assignInteger(30);
    QCOMPARE(t->flush(), int(kSuccess));
    QCOMPARE(onDisk(3), 30LL);
    t->top();
    t->field("qty")->assignInteger(10);
    c.closeAll();  // the end of the connection writes it
    QCOMPARE(onDisk(1), 10LL);
}

void TestTable::appendStartAbandonedByMove()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 2);
    Connection c;
    Table* t = c.open(path);
    t->top();
    t->appendStart();
    t->blank();
    t->field("qty")->assignInteger(99);
    t->top();  // gives up the new record
    QCOMPARE(t->recCount(), 2u);
    t->skip(1);
    t->close();
    t = c.open(path);
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {1, 2}));
}

void TestTable::pack()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 10);
    Connection c;
    Table* t = c.open(path);
    for (uint32_t n = 1; n <= 10; n += 3) {
        t->go(n);
        t->deleteRecord();
    }
    QCOMPARE(t->pack(), int(kSuccess));
    QCOMPARE(t->recCount(), 6u);
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {2, 3, 5, 6, 8, 9}));
    t->appendBlank();
    QCOMPARE(t->recNo(), 7u);
    t->close();
    QByteArray b = readAll(QString::fromStdString(path));
    QCOMPARE(int(uint8_t(b[4])), 7);
    QCOMPARE(b.size(), 32 + 32 * 6 + 1 + 7 * 40 + 1);
    QVERIFY(checkTableFile(path).empty());
    // No temporary files are left beside the table.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

void TestTable::fieldsByNameAndPosition()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 1);
    Connection c;
    Table* t = c.open(path);
    QCOMPARE(t->fieldCount(), 6);
    QCOMPARE(t->fieldAt(1)->name(), std::string("NAME"));
    QCOMPARE(t->fieldAt(6)->name(), std::string("DAY"));
    QVERIFY(t->fieldAt(0) == nullptr);
    QVERIFY(t->fieldAt(7) == nullptr);
    QVERIFY(t->field("Price") == t->fieldAt(3));
    QVERIFY(t->field("nosuch") == nullptr);
    QCOMPARE(t->field("price")->decimals(), 2);
    QCOMPARE(t->field("rate")->type(), 'F');
}

void TestTable::connectionClosesItsTables()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 1);
    {
        Connection c;
        Table* t = c.open(path);
        t->top();
        t->field("name")->assign("CHANGED");
        Table* t2 = c.open(path);  // the same file twice
        QVERIFY(t2 && t2 != t);
    }
    Connection c;
    Table* t = c.open(path);
    t->top();
    QCOMPARE(t->field("name")->text(), std::string("CHANGED"));
}

void TestTable::safetyGuardsExistingFiles()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 3);
    testsupport::EngineErrors errors;
    Connection c;
    QVERIFY(c.create(path, kFields) == nullptr);
    QVERIFY(errors.contains("exists"));
    Connection d;
    QVERIFY(d.open(path)->recCount() == 3);
    d.closeAll();
    c.setSafety(false);
    Table* t = c.create(path, kFields);
    QVERIFY(t);
    QCOMPARE(t->recCount(), 0u);
}

void TestTable::namesFoundWhateverTheirCase()
{
    QTemporaryDir dir;
    makeTable(dir, 2, "Customer.dbf");
    Connection c;
    Table* t = c.open((dir.path() + "/CUSTOMER.DBF").toStdString());
    QVERIFY(t);
    QCOMPARE(t->recCount(), 2u);
    QCOMPARE(QString::fromStdString(t->path()), dir.path() + "/Customer.dbf");
    QVERIFY(c.open((dir.path() + "/customer").toStdString()));  // .dbf added
    // A create of another spelling replaces the existing file, not a second one.
    c.closeAll();
    c.setSafety(false);
    QVERIFY(c.create((dir.path() + "/customer.dbf").toStdString(), kFields));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"Customer.dbf"});
}

void TestTable::headerCountLargerThanFile()
{
    QTemporaryDir dir;
    std::string path = makeTable(dir, 4);
    QString qp = QString::fromStdString(path);
    QByteArray b = readAll(qp);
    b[4] = 9;                        // the header claims 9 records
    b.chop(1 + 40 / 2);              // the file ends halfway into record 4
    writeAll(qp, b);
    QVERIFY(!checkTableFile(path).empty());
    Connection c;
    Table* t = c.open(path);
    QCOMPARE(t->recCount(), 3u);  // the whole records; the partial one is ignored
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {1, 2, 3}));
    t->appendStart();
    t->blank();
    t->field("qty")->assignInteger(44);
    QCOMPARE(t->append(), int(kSuccess));
    t->close();
    b = readAll(qp);
    QCOMPARE(int(uint8_t(b[4])), 4);  // repaired
    QCOMPARE(b.size(), 32 + 32 * 6 + 1 + 4 * 40 + 1);
    QVERIFY(checkTableFile(path).empty());

    // A change of a record repairs the header too.
    b[4] = 7;
    writeAll(qp, b);
    t = c.open(path);
    t->go(1);
    t->field("qty")->assignInteger(11);
    t->close();
    QCOMPARE(int(uint8_t(readAll(qp)[4])), 4);
}

void TestTable::recordsPastHeaderCount_data()
{
    // What another program (or an append cut short before its count was
    // written) leaves: the header counts fewer records than the file holds.
    QTest::addColumn<int>("headerCount");
    QTest::addColumn<QByteArray>("tail");  // what follows record 4 in place of the end mark
    QTest::addColumn<int>("opened");
    QTest::newRow("two counted, four held") << 2 << QByteArray("\x1A") << 4;
    QTest::newRow("none counted") << 0 << QByteArray("\x1A") << 4;
    QTest::newRow("no end mark") << 3 << QByteArray() << 4;
    QTest::newRow("a partial record after them") << 2 << QByteArray(" R5   ") << 4;
    QTest::newRow("all counted, partial record") << 4 << QByteArray(39, 'x') << 4;
}

void TestTable::recordsPastHeaderCount()
{
    QFETCH(int, headerCount);
    QFETCH(QByteArray, tail);
    QFETCH(int, opened);
    QTemporaryDir dir;
    std::string path = makeTable(dir, 4);
    QString qp = QString::fromStdString(path);
    const int hdr = 32 + 32 * 6 + 1, rec = 40;
    QByteArray b = readAll(qp);
    b[4] = char(headerCount);
    b = b.left(hdr + 4 * rec) + tail;
    writeAll(qp, b);
    const auto faults = checkTableFile(path);
    if (headerCount != opened) {
        QCOMPARE(faults.size(), std::size_t(1));
        QVERIFY2(faults[0].find("counts " + std::to_string(headerCount)) != std::string::npos &&
                     faults[0].find("holds " + std::to_string(opened)) != std::string::npos,
                 faults[0].c_str());
    }
    Connection c;
    Table* t = c.open(path);
    QCOMPARE(int(t->recCount()), opened);
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {1, 2, 3, 4}));
    t->appendStart();
    t->blank();
    t->field("qty")->assignInteger(55);
    QCOMPARE(t->append(), int(kSuccess));
    QCOMPARE(t->recNo(), 5u);
    t->close();
    // Nothing was written over: the new record follows the four, the count
    // is right again and the file ends at its end mark.
    t = c.open(path);
    QCOMPARE(qtyInOrder(t), (std::vector<long long> {1, 2, 3, 4, 55}));
    b = readAll(qp);
    QCOMPARE(int(uint8_t(b[4])), 5);
    QCOMPARE(b.size(), hdr + 5 * rec + 1);
    QCOMPARE(uint8_t(b[b.size() - 1]), uint8_t(0x1A));
    QVERIFY(checkTableFile(path).empty());

    // A change of a record puts the count right as well.
    t->close();
    b[4] = 1;
    writeAll(qp, b);
    t = c.open(path);
    QCOMPARE(t->recCount(), 5u);
    t->go(5);
    t->field("qty")->assignInteger(56);
    t->close();
    QCOMPARE(int(uint8_t(readAll(qp)[4])), 5);
}

void TestTable::damagedFilesFailCleanly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("fault");
    QTemporaryDir dir;
    QByteArray good = readAll(QString::fromStdString(makeTable(dir, 2)));
    auto with = [&](int at, std::initializer_list<uint8_t> v) {
        QByteArray b = good;
        int i = at;
        for (uint8_t x : v)
            b[i++] = char(x);
        return b;
    };
    QTest::newRow("empty file") << QByteArray() << "empty";
    QTest::newRow("not a table") << QByteArray("Dear operator, this is a letter.\n") << "not a table";
    QTest::newRow("truncated header") << good.left(20) << "header";
    QTest::newRow("header longer than file") << good.left(100) << "runs past the end";
    QTest::newRow("header length too small") << with(8, {40, 0}) << "too small";
    QTest::newRow("descriptors past header") << with(8, {32 + 32 * 3 + 1, 0}) << "record length";
    QTest::newRow("record length disagrees") << with(10, {41, 0}) << "record length";
    QTest::newRow("record length zero") << with(10, {0, 0}) << "record length";
    QTest::newRow("field of no width") << with(32 + 16, {0}) << "record length";
    QTest::newRow("huge header length") << with(8, {0xFF, 0xFF}) << "runs past";
}

void TestTable::damagedFilesFailCleanly()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fault);
    QTemporaryDir dir;
    QString path = dir.path() + "/bad.dbf";
    writeAll(path, bytes);
    testsupport::EngineErrors errors;
    Connection c;
    QVERIFY(c.open(path.toStdString()) == nullptr);
    QCOMPARE(errors.messages.size(), std::size_t(1));
    QVERIFY2(errors.contains(fault.toStdString()), errors.messages[0].c_str());
    QVERIFY2(errors.contains("bad.dbf"), errors.messages[0].c_str());
    QVERIFY(!checkTableFile(path.toStdString()).empty());
    QCOMPARE(readAll(path), bytes);  // untouched
}

void TestTable::fullDiskLeavesTableAsItWas()
{
    // A file size limit stands in for a full disk: writes that would grow
    // the file fail, as they do when the disk has no room left.
    QTemporaryDir dir;
    std::string path = makeTable(dir, 3);
    QString qp = QString::fromStdString(path);
    const QByteArray before = readAll(qp);
    pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim {rlim_t(before.size() + 10), rlim_t(before.size() + 10)};
        setrlimit(RLIMIT_FSIZE, &lim);
        int reports = 0;
        setErrorReport([&](const EngineError&) { ++reports; });
        Connection c;
        Table* t = c.open(path);
        t->appendStart();
        t->blank();
        t->field("qty")->assignInteger(4);
        int r = t->append();
        t->go(1);
        t->deleteRecord();
        int p = t->pack();  // its new file cannot be written either... but is smaller: allowed
        t->close();
        _exit(r == kError && reports >= 1 ? (p == kSuccess ? 10 : 11) : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    QVERIFY(WIFEXITED(status));
    QVERIFY2(WEXITSTATUS(status) == 10 || WEXITSTATUS(status) == 11, "the append did not report the fault");
    Connection c;
    Table* t = c.open(path);
    QVERIFY(checkTableFile(path).empty());
    if (WEXITSTATUS(status) == 10)
        QCOMPARE(qtyInOrder(t), (std::vector<long long> {2, 3}));
    else
        QCOMPARE(readAll(qp), before);
}

// Runs `body` in a child process that, when the test runs as root, gives up
// root first: permissions then stop writes as they do for a site's user.
int asUnprivileged(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TestTable::readOnlyTableRefusesWrites()
{
    QTemporaryDir dir;
    ::chmod(dir.path().toLocal8Bit().constData(), 0777);
    std::string path = makeTable(dir, 2);
    QString qp = QString::fromStdString(path);
    const QByteArray before = readAll(qp);
    ::chmod(path.c_str(), 0444);
    int r = asUnprivileged([&] {
        std::vector<std::string> reports;
        setErrorReport([&](const EngineError& e) { reports.push_back(e.text()); });
        Connection c;
        Table* t = c.open(path);
        if (!t || !t->readOnly())
            return 1;
        t->top();
        t->field("qty")->assignInteger(5);
        if (t->skip(1) != kError)
            return 2;
        if (reports.empty() || reports[0].find("read-only") == std::string::npos)
            return 3;
        if (t->appendBlank() != kError || t->pack() != kError)
            return 4;
        if (t->top() != kSuccess || t->field("qty")->integer() != 1)
            return 5;  // the refused change is not kept in memory either
        t->close();
        return 0;
    });
    QCOMPARE(r, 0);
    QCOMPARE(readAll(qp), before);
}

void TestTable::packFailureLeavesTable()
{
    QTemporaryDir dir;
    ::chmod(dir.path().toLocal8Bit().constData(), 0777);
    QDir(dir.path()).mkdir("ro");
    std::string path = makeTable(dir, 4, "ro/t.dbf");
    QString qp = QString::fromStdString(path);
    {
        Connection c;
        Table* t = c.open(path);
        t->go(2);
        t->deleteRecord();
        t->close();
    }
    ::chmod(path.c_str(), 0666);
    const QByteArray before = readAll(qp);
    const std::string ro = (dir.path() + "/ro").toStdString();
    ::chmod(ro.c_str(), 0555);
    int r = asUnprivileged([&] {
        std::vector<std::string> reports;
        setErrorReport([&](const EngineError& e) { reports.push_back(e.text()); });
        Connection c;
        Table* t = c.open(path);
        if (!t || t->readOnly())
            return 1;
        if (t->pack() != kError)
            return 2;
        if (reports.empty() || reports[0].find("not packed") == std::string::npos)
            return 3;
        return t->recCount() == 4 ? 0 : 4;
    });
    ::chmod(ro.c_str(), 0755);
    QCOMPARE(r, 0);
    QCOMPARE(readAll(qp), before);
    QCOMPARE(QDir(dir.path() + "/ro").entryList(QDir::Files).size(), 1);
}

void TestTable::otherFieldTypesReadAsText()
{
    // A table with a memo field (as dBase III with memo writes it): the
    // block number reads as text and the table opens.
    QTemporaryDir dir;
    QString path = dir.path() + "/memo.dbf";
    QByteArray h(32 + 64 + 1, '\0');
    h[0] = char(0x83);
    h[4] = 1;
    h[8] = char(h.size());
    h[10] = 1 + 5 + 10;
    auto desc = [&](int at, const char* name, char type, int width) {
        memcpy(h.data() + at, name, strlen(name));
        h[at + 11] = type;
        h[at + 16] = char(width);
    };
    desc(32, "NAME", 'C', 5);
    desc(64, "NOTES", 'M', 10);
    h[96] = 0x0D;
    writeAll(path, h + QByteArray(" hello         7") + "\x1A");
    Connection c;
    Table* t = c.open(path.toStdString());
    QVERIFY(t);
    QCOMPARE(t->top(), int(kSuccess));
    QCOMPARE(t->field("notes")->text(), std::string("7"));
    QCOMPARE(t->field("notes")->type(), 'M');
}

void TestTable::staleTemporariesRemoved()
{
    // What killed packs and rebuilds leave beside a table: removed when an
    // hour old, kept while another program may still be writing them.
    QTemporaryDir dir;
    std::string path = makeTable(dir, 1);
    const QString d = dir.path() + "/";
    for (const char* n : {"t.dbf.pack-aB3xY9", "t.dbf.new-Qw12er", "t.cdx.new-zzzzzz", "t.dbf.pack-fresh1",
                          "other.dbf.pack-aB3xY9", "t.dbf.pack-toolong1"})
        writeAll(d + n, "x");
    for (const char* n : {"t.dbf.pack-aB3xY9", "t.dbf.new-Qw12er", "t.cdx.new-zzzzzz", "other.dbf.pack-aB3xY9",
                          "t.dbf.pack-toolong1"}) {
        QFile f(d + n);
        f.open(QIODevice::ReadWrite);
        f.setFileTime(QDateTime::currentDateTime().addSecs(-7200), QFileDevice::FileModificationTime);
    }
    Connection c;
    QVERIFY(c.open(path));
    QStringList left = QDir(dir.path()).entryList(QDir::Files);
    left.sort();
    QCOMPARE(left, (QStringList {"other.dbf.pack-aB3xY9", "t.dbf", "t.dbf.pack-fresh1", "t.dbf.pack-toolong1"}));
}

void TestTable::numbersRoundHalvesAwayFromZero_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("stored");  // empty: refused
    QTest::newRow("6.5") << "qty" << 6.5 << "     7";
    QTest::newRow("2.5") << "qty" << 2.5 << "     3";
    QTest::newRow("0.5") << "qty" << 0.5 << "     1";
    QTest::newRow("-6.5") << "qty" << -6.5 << "    -7";
    QTest::newRow("-0.4") << "qty" << -0.4 << "     0";
    QTest::newRow("6.49") << "qty" << 6.49 << "     6";
    QTest::newRow("2.675 to cents") << "price" << 2.675 << "    2.68";
    QTest::newRow("1.005 to cents") << "price" << 1.005 << "    1.01";
    QTest::newRow("0.125 to cents") << "price" << 0.125 << "    0.13";
    QTest::newRow("-0.125 to cents") << "price" << -0.125 << "   -0.13";
    QTest::newRow("-0.004 to cents") << "price" << -0.004 << "    0.00";
    QTest::newRow("F field") << "rate" << 12.345 << " 12.35";
    QTest::newRow("rounds into a seventh digit") << "qty" << 999999.5 << "";
    QTest::newRow("just fits") << "qty" << -99999.4 << "-99999";
}

void TestTable::numbersRoundHalvesAwayFromZero()
{
    QFETCH(QString, field);
    QFETCH(double, value);
    QFETCH(QString, stored);
    QTemporaryDir dir;
    std::string path = makeTable(dir, 1);
    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    t->top();
    Field* f = t->field(field.toStdString());
    const std::string before(f->raw());
    QCOMPARE(f->assignNumber(value), !stored.isEmpty());
    QCOMPARE(QString::fromStdString(std::string(f->raw())), stored.isEmpty() ? QString::fromStdString(before) : stored);
    // Typed as text, the same number is stored the same way.
    char typed[64];
    std::snprintf(typed, sizeof typed, "%.6g", value);
    QCOMPARE(f->assign(typed), !stored.isEmpty());
    if (!stored.isEmpty())
        QCOMPARE(QString::fromStdString(std::string(f->raw())), stored);
}

void TestTable::skipForwardFromBeforeTheStart_data()
{
    // After a skip back past the first record the pointer is before the
    // start and stays on the first record; a skip forward goes to the second.
    QTest::addColumn<bool>("tagged");
    QTest::addColumn<bool>("firstDeleted");
    QTest::addColumn<long>("back");  // the skip back from the first record
    QTest::newRow("record order") << false << false << -1L;
    QTest::newRow("record order, far back") << false << false << -3L;
    QTest::newRow("record order, first deleted") << false << true << -1L;
    QTest::newRow("tag order") << true << false << -1L;
    QTest::newRow("tag order, far back") << true << false << -3L;
    QTest::newRow("tag order, first deleted") << true << true << -1L;
}

void TestTable::skipForwardFromBeforeTheStart()
{
    QFETCH(bool, tagged);
    QFETCH(bool, firstDeleted);
    QFETCH(long, back);
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/s.dbf").toStdString();
    Connection c;
    std::vector<TagSpec> tags(1);
    tags[0].name = "DESC";
    tags[0].keyExpr = "STR(100 - qty, 3)";  // the reverse of record order
    Table* t = c.create(path, kFields, tagged ? tags : std::vector<TagSpec> {});
    for (int i = 1; i <= 5; ++i) {
        t->appendBlank();
        t->field("qty")->assignInteger(i);
    }
    QVERIFY(!tagged || t->selectTag("DESC"));
    // In tag order the records come 5, 4, 3, 2, 1.
    const std::vector<long long> order = tagged ? std::vector<long long> {5, 4, 3, 2, 1}
                                                : std::vector<long long> {1, 2, 3, 4, 5};
    std::size_t first = 0;
    if (firstDeleted) {
        t->top();
        t->deleteRecord();
        first = 1;
    }
    QCOMPARE(t->top(), int(kSuccess));
    QCOMPARE(t->field("qty")->integer(), order[first]);
    QCOMPARE(t->skip(back), int(kBof));
    QVERIFY(t->bof());
    QCOMPARE(t->field("qty")->integer(), order[first]);  // still on the first record
    QCOMPARE(t->skip(1), int(kSuccess));
    QVERIFY(!t->bof());
    QCOMPARE(t->field("qty")->integer(), order[first + 1]);
    // Back again, and two forward.
    QCOMPARE(t->skip(-5), int(kBof));
    QCOMPARE(t->skip(2), int(kSuccess));
    QCOMPARE(t->field("qty")->integer(), order[first + 2]);
    // A skip back from before the start stays there.
    QCOMPARE(t->skip(-3), int(kBof));
    QCOMPARE(t->skip(-1), int(kBof));
    QCOMPARE(t->field("qty")->integer(), order[first]);
}

void TestTable::writesWithoutRecordRefused_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("indexed");
    for (bool indexed : {false, true}) {
        const char* suffix = indexed ? ", indexed" : "";
        QTest::newRow(qPrintable(QString("past the end") + suffix)) << "end" << indexed;
        QTest::newRow(qPrintable(QString("before the start") + suffix)) << "start" << indexed;
        QTest::newRow(qPrintable(QString("empty table") + suffix)) << "empty" << indexed;
        QTest::newRow(qPrintable(QString("walked off the end") + suffix)) << "walk" << indexed;
    }
}

void TestTable::writesWithoutRecordRefused()
{
    QFETCH(QString, where);
    QFETCH(bool, indexed);
    QTemporaryDir dir;
    const QString qp = dir.path() + "/w.dbf";
    const std::string path = qp.toStdString();
    const int records = where == "empty" ? 0 : 3;
    {
        std::vector<TagSpec> tags(1);
        tags[0].name = "NAME";
        tags[0].keyExpr = "name";
        Connection c;
        Table* t = c.create(path, kFields, indexed ? tags : std::vector<TagSpec> {});
        for (int i = 1; i <= records; ++i) {
            t->appendBlank();
            t->field("name")->assign("R" + std::to_string(i));
            t->field("qty")->assignInteger(i);
        }
        t->close();
    }
    const QByteArray table = readAll(qp), index = readAll(dir.path() + "/w.cdx");

    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    if (indexed)
        QVERIFY(t->selectTag("NAME"));
    if (where == "end" || where == "empty") {
        t->bottom();
        t->skip(1);
    } else if (where == "start") {
        t->top();
        QCOMPARE(t->skip(-1), int(kBof));
    } else {
        for (int r = t->top(); r == kSuccess; r = t->skip(1)) {
        }
    }
    QVERIFY(t->eof() || t->bof());
    errors.clear();

    struct Write {
        const char* field;
        std::function<bool(Field*)> write;
    };
    const std::vector<Write> writes = {
        {"name", [](Field* f) { return f->assign("NEW"); }},
        {"qty", [](Field* f) { return f->assign("5"); }},
        {"price", [](Field* f) { return f->assignNumber(1.5); }},
        {"qty", [](Field* f) { return f->assignInteger(9); }},
        {"ok", [](Field* f) { return f->assignLogical(true); }},
        {"day", [](Field* f) { return f->assignDate(Date {2026, 1, 2}); }},
        {"name", [](Field* f) { return f->clear(); }},
        {"name", [](Field* f) { return f->assignRaw("RAW"); }},
    };
    for (const auto& w : writes) {
        QVERIFY2(!w.write(t->field(w.field)), w.field);
        QCOMPARE(errors.messages.size(), std::size_t(1));
        const std::string& m = errors.messages[0];
        QVERIFY2(m.find("w.dbf") != std::string::npos && m.find(QString(w.field).toUpper().toStdString()) != std::string::npos &&
                     m.find("no current record") != std::string::npos,
                 m.c_str());
        errors.clear();
    }
    QVERIFY(!util::replace(t, "name", "NEW"));
    QVERIFY(!util::ireplace(t, "qty", 4));
    QVERIFY(!util::dreplace(t, "price", 2.5));
    QVERIFY(!util::treplace(t, "ok", false));
    QCOMPARE(errors.messages.size(), std::size_t(4));
    errors.clear();

    // The next moves find the table and its index as they were: nothing
    // was stored, nothing is reported, nothing rebuilt.
    t->top();
    t->skip(1);
    t->bottom();
    t->close();
    QVERIFY2(errors.messages.empty(), errors.messages.empty() ? "" : errors.messages[0].c_str());
    QCOMPARE(readAll(qp), table);
    QCOMPARE(readAll(dir.path() + "/w.cdx"), index);
    QVERIFY(checkTableFile(path).empty());
}

void TestTable::twoHandlesAreOneTable_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("sameConnection");
    QTest::addColumn<bool>("indexed");
    for (const char* scenario : {"open while changed", "pack keeps the other's edit", "both append",
                                 "pack while the other appends", "a write is seen", "changes of one record merge",
                                 "create over it is refused", "a check while open"})
        for (bool same : {false, true})
            for (bool indexed : {false, true})
                QTest::newRow(qPrintable(QString("%1%2%3")
                                             .arg(scenario)
                                             .arg(same ? ", one connection" : ", two connections")
                                             .arg(indexed ? ", indexed" : "")))
                    << scenario << same << indexed;
}

void TestTable::twoHandlesAreOneTable()
{
    QFETCH(QString, scenario);
    QFETCH(bool, sameConnection);
    QFETCH(bool, indexed);
    QTemporaryDir dir;
    const QString qp = dir.path() + "/h.dbf";
    const std::string path = qp.toStdString();
    {
        std::vector<TagSpec> tags(2);
        tags[0].name = "NAME";
        tags[0].keyExpr = "name";
        tags[1].name = "QTY";
        tags[1].keyExpr = "STR(qty,6)";
        Connection c;
        Table* t = c.create(path, kFields, indexed ? tags : std::vector<TagSpec> {});
        for (int i = 1; i <= 5; ++i) {
            t->appendBlank();
            t->field("name")->assign("R" + std::to_string(i));
            t->field("qty")->assignInteger(i);
        }
    }
    testsupport::EngineErrors errors;
    Connection c1, c2;
    Table* a = c1.open(path);
    Table* b = nullptr;
    auto openB = [&] { b = (sameConnection ? c1 : c2).open(path); };
    auto rows = [&](Table* t) {
        std::vector<std::string> v;
        for (int r = t->top(); r == kSuccess; r = t->skip(1))
            v.push_back(t->field("name")->text() + "=" + std::to_string(t->field("qty")->integer()));
        return v;
    };
    using Rows = std::vector<std::string>;

    if (scenario == "open while changed") {
        // An unwritten change through one handle is no half-written index
        // to the next open: nothing is rebuilt, the change is kept.
        a->go(2);
        a->field("name")->assign("CHANGED");
        a->go(3);  // written, the index marked as being changed
        a->field("name")->assign("PENDING");
        struct stat before {};
        ::stat((dir.path() + "/h.cdx").toLocal8Bit().constData(), &before);
        openB();
        QVERIFY(b);
        struct stat after {};
        ::stat((dir.path() + "/h.cdx").toLocal8Bit().constData(), &after);
        QCOMPARE(after.st_ino, before.st_ino);  // not rebuilt into a new file
        QCOMPARE(b->go(2), int(kSuccess));
        QCOMPARE(b->field("name")->text(), std::string("CHANGED"));
        a->close();
        QCOMPARE(b->go(3), int(kSuccess));
        QCOMPARE(b->field("name")->text(), std::string("PENDING"));
    } else if (scenario == "pack keeps the other's edit") {
        openB();
        a->go(3);
        a->field("qty")->assignInteger(33);  // not yet written
        b->go(1);
        b->deleteRecord();
        QCOMPARE(b->pack(), int(kSuccess));
        QCOMPARE(a->recNo(), 2u);  // the same record under its new number
        QCOMPARE(a->field("name")->text(), std::string("R3"));
        a->field("qty")->assignInteger(34);
        a->skip(1);
        QCOMPARE(rows(b), (Rows {"R2=2", "R3=34", "R4=4", "R5=5"}));
    } else if (scenario == "both append") {
        openB();
        for (Table* t : {a, b, a, b}) {
            QCOMPARE(t->appendStart(), int(kSuccess));
            t->blank();
            t->field("name")->assign(t == a ? "A" : "B");
            t->field("qty")->assignInteger(t->recCount() + 1);
            QCOMPARE(t->append(), int(kSuccess));
        }
        QCOMPARE(a->recCount(), 9u);
        QCOMPARE(b->recCount(), 9u);
        QCOMPARE(rows(a), (Rows {"R1=1", "R2=2", "R3=3", "R4=4", "R5=5", "A=6", "B=7", "A=8", "B=9"}));
    } else if (scenario == "pack while the other appends") {
        openB();
        a->appendStart();
        a->blank();
        a->field("name")->assign("NEW");
        b->go(2);
        b->deleteRecord();
        QCOMPARE(b->pack(), int(kSuccess));
        a->field("qty")->assignInteger(9);
        QCOMPARE(a->append(), int(kSuccess));
        QCOMPARE(a->recNo(), 5u);
        QCOMPARE(rows(b), (Rows {"R1=1", "R3=3", "R4=4", "R5=5", "NEW=9"}));
    } else if (scenario == "a write is seen") {
        openB();
        b->go(4);
        a->go(4);
        a->field("qty")->assignInteger(44);
        QCOMPARE(a->flush(), int(kSuccess));
        QCOMPARE(b->field("qty")->integer(), 44LL);  // without moving
        QCOMPARE(b->skip(0), int(kSuccess));
    } else if (scenario == "changes of one record merge") {
        openB();
        a->go(5);
        b->go(5);
        a->field("qty")->assignInteger(55);
        b->field("name")->assign("FIVE");
        a->skip(-1);
        b->skip(-1);
        QCOMPARE(rows(a), (Rows {"R1=1", "R2=2", "R3=3", "R4=4", "FIVE=55"}));
    } else if (scenario == "create over it is refused") {
        Connection c3;
        c3.setSafety(false);
        QVERIFY(c3.create(path, kFields) == nullptr);
        QVERIFY(errors.contains("is open"));
        errors.clear();
        QCOMPARE(a->recCount(), 5u);
    } else if (scenario == "a check while open") {
        a->appendBlank();
        a->field("qty")->assignInteger(6);
        a->go(1);
        QVERIFY(checkTableFile(path).empty());
        QCOMPARE(a->recCount(), 6u);
        openB();
    }
    c1.closeAll();
    c2.closeAll();
    QVERIFY2(errors.messages.empty(), errors.messages.empty() ? "" : errors.messages[0].c_str());
    QVERIFY(checkTableFile(path).empty());
    // The tags agree with the table afterwards.
    if (indexed) {
        Connection c;
        Table* t = c.open(path);
        QVERIFY(t->checkIndex().empty());
    }
}

QTEST_APPLESS_MAIN(TestTable)
#include "test_table.moc"

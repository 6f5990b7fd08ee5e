// Tables with production indexes, through the engine as the program uses
// them: navigation and seeks in tag order, every write keeping the tags
// right, damaged and interrupted indexes rebuilt without touching the table,
// and an independent reader (Debian's index_dump) agreeing with what the
// engine leaves behind.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace xb;
using testsupport::run;

namespace {

QString tool() { return testsupport::binDir() + "/dbftool"; }

QByteArray readAll(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAt(const QString& path, qint64 at, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::ReadWrite);
    f.seek(at);
    f.write(bytes);
}

// Tickets with three tags: a number, a date and a name under a FOR clause.
std::string makeTickets(const QTemporaryDir& dir, int n)
{
    std::string path = (dir.path() + "/tickets.dbf").toStdString();
    Connection c;
    std::vector<TagSpec> tags(3);
    tags[0].name = "TICKET";
    tags[0].keyExpr = "ticket";
    tags[1].name = "IN_DATE";
    tags[1].keyExpr = "in_date";
    tags[2].name = "OPEN";
    tags[2].keyExpr = "UPPER(customer)";
    tags[2].forExpr = ".NOT. complete";
    Table* t = c.create(path, catalogue::layoutFields(1), tags);
    for (int i = 1; i <= n; ++i) {
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger((i * 37) % 1000 - 300);  // negative numbers too
        t->field("in_date")->assignDate(Date {2026, 1 + i % 12, 1 + i % 28});
        t->field("customer")->assign(i % 2 ? "acme" : "Blue River");
        t->field("complete")->assignLogical(i % 3 == 0);
        t->append();
    }
    t->close();
    return path;
}

std::vector<uint32_t> orderOf(Table* t)
{
    std::vector<uint32_t> v;
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        v.push_back(t->recNo());
    return v;
}

std::vector<uint32_t> backwardsOf(Table* t)
{
    std::vector<uint32_t> v;
    for (int r = t->bottom(); r == kSuccess; r = t->skip(-1))
        v.push_back(t->recNo());
    return v;
}

// The order a tag must give: records sorted by key, equal keys by number.
std::vector<uint32_t> expectedOrder(Table* t, const std::function<std::string(Table*)>& key, bool live = true,
                                    const std::function<bool(Table*)>& admit = {})
{
    std::vector<std::pair<std::string, uint32_t>> v;
    for (uint32_t n = 1; n <= t->recCount(); ++n) {
        t->go(n);
        if ((live && t->deleted()) || (admit && !admit(t)))
            continue;
        v.emplace_back(key(t), n);
    }
    std::sort(v.begin(), v.end());
    std::vector<uint32_t> out;
    for (auto& e : v)
        out.push_back(e.second);
    return out;
}

std::string firstFault(const std::string& path)
{
    auto f = checkTableFile(path);
    return f.empty() ? std::string() : f.front();
}

bool haveIndexDump() { return QFile::exists("/usr/bin/index_dump"); }

// index_dump's "key record" lines of a tag; dbftool keys prints the same.
QByteArray indexDump(const QString& cdx, const QString& tag, const char* type)
{
    auto r = run("/usr/bin/index_dump", {QString("-type=") + type, cdx, tag});
    return r.exitCode == 0 ? r.out : "index_dump failed: " + r.err;
}

}  // namespace

class TestTableIndex : public QObject {
    Q_OBJECT

private slots:
    void createTableWritesNameTag();
    void navigationInTagOrder();
    void seeks();
    void writesKeepEveryTagRight();
    void manyWritesAgreeWithIndependentReader();
    void changedFixturesAgreeWithIndependentReader();
    void unusableTagRefusesWrites();
    void damagedIndexIsRebuilt();
    void interruptedIndexIsRebuiltOnOpen();
    void toolCommands();
};

void TestTableIndex::createTableWritesNameTag()
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Customer.dbf").toStdString();
    QVERIFY(catalogue::CreateTable(3, path));
    QVERIFY(QFile::exists(dir.path() + "/Customer.cdx"));
    QCOMPARE(uint8_t(readAll(dir.path() + "/Customer.dbf")[28]), uint8_t(0x01));
    Connection c;
    Table* t = c.open(path);
    QCOMPARE(t->tagCount(), 1);
    const TagSpec& tag = t->index()->tag(0);
    QCOMPARE(tag.name, std::string("N_AME"));
    QCOMPARE(tag.keyExpr, std::string("n_ame"));
    QVERIFY(tag.forExpr.empty() && !tag.unique && !tag.descending);
    QCOMPARE(t->index()->keyLength(0), 35);
    QVERIFY(t->selectTag("n_ame") && t->selectTag("N_ame") && t->selectTag("N_AME"));
    QVERIFY(!t->selectTag("fax_no"));
    // The tag of layout 9 and 1: none.
    QVERIFY(catalogue::CreateTable(1, (dir.path() + "/Ticket.dbf").toStdString()));
    QVERIFY(!QFile::exists(dir.path() + "/Ticket.cdx"));
    if (haveIndexDump())
        QCOMPARE(indexDump(dir.path() + "/Customer.cdx", "N_AME", "char"), QByteArray());
}

void TestTableIndex::navigationInTagOrder()
{
    QTemporaryDir dir;
    std::string path = makeTickets(dir, 60);
    Connection c;
    Table* t = c.open(path);
    for (uint32_t n : {4u, 5u, 17u, 60u}) {
        t->go(n);
        t->deleteRecord();
    }
    t->flush();
    auto byTicket = [](Table* x) {
        char b[32];
        std::snprintf(b, sizeof b, "%012.0f", x->field("ticket")->number() + 1e6);
        return std::string(b);
    };
    auto expect = expectedOrder(t, byTicket);
    QVERIFY(t->selectTag("ticket"));
    QCOMPARE(t->selectedTag(), std::string("TICKET"));
    QCOMPARE(orderOf(t), expect);
    std::vector<uint32_t> back(expect.rbegin(), expect.rend());
    QCOMPARE(backwardsOf(t), back);
    // Steps of more than one, from the middle, and past both ends.
    t->top();
    QCOMPARE(t->skip(3), int(kSuccess));
    QCOMPARE(t->recNo(), expect[3]);
    QCOMPARE(t->skip(-2), int(kSuccess));
    QCOMPARE(t->recNo(), expect[1]);
    QCOMPARE(t->skip(-5), int(kBof));
    QCOMPARE(t->skip(1000), int(kEof));
    QVERIFY(t->eof());
    QCOMPARE(t->skip(-1), int(kSuccess));
    QCOMPARE(t->recNo(), expect.back());
    // go() to a record, then skip on from it in tag order.
    t->go(expect[10]);
    t->skip(1);
    QCOMPARE(t->recNo(), expect[11]);

    // A FOR clause: only open tickets, by customer (upper case) then number.
    QVERIFY(t->selectTag("OPEN"));
    auto openOrder = expectedOrder(
        t, [](Table* x) { std::string s = x->field("customer")->text(); for (auto& ch : s) ch = char(std::toupper(ch)); s.resize(35, ' '); return s; },
        true, [](Table* x) { return !x->field("complete")->isTrue(); });
    QCOMPARE(orderOf(t), openOrder);
    // Back to record order.
    QVERIFY(t->selectTag(""));
    std::vector<uint32_t> recOrder = orderOf(t);
    QCOMPARE(recOrder.size(), std::size_t(56));
    QCOMPARE(recOrder.front(), 1u);
    QCOMPARE(recOrder.back(), 59u);
}

void TestTableIndex::seeks()
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/customer.dbf").toStdString();
    {
        Connection c;
        std::vector<TagSpec> tags(2);
        tags[0].name = "FAX_NO";
        tags[0].keyExpr = "fax_no";
        tags[1].name = "CODE";
        tags[1].keyExpr = "code_num";
        Table* t = c.create(path, catalogue::layoutFields(3), tags);
        const char* cards[] = {"1234", "12", "5000", "1234", "777"};
        for (int i = 0; i < 5; ++i) {
            t->appendStart();
            t->blank();
            t->field("fax_no")->assign(cards[i]);
            t->field("n_ame")->assign("C" + std::to_string(i + 1));
            t->field("code_num")->assignInteger(i * 10 - 20);
            t->append();
        }
        t->go(1);
        t->deleteRecord();
    }
    Connection c;
    Table* t = c.open(path);
    QVERIFY(t->selectTag("fax_no"));
    QCOMPARE(t->seek("12"), int(kSuccess));
    QCOMPARE(t->recNo(), 2u);  // "12" does not find "1234"
    QCOMPARE(t->seek("1234"), int(kSuccess));
    QCOMPARE(t->recNo(), 4u);  // the first live record with the key: 1 is deleted
    QCOMPARE(t->seek("123"), int(kAfter));  // not found: positioned after where it would stand
    QCOMPARE(t->recNo(), 4u);
    QCOMPARE(t->seek("9999"), int(kEof));
    QVERIFY(t->eof());
    QCOMPARE(t->seek(std::string(21, '1')), int(kEof));  // longer than the key: nothing
    QCOMPARE(t->seek("777"), int(kSuccess));
    QCOMPARE(t->field("n_ame")->text(), std::string("C5"));
    // Numbers by value.
    QVERIFY(t->selectTag("code"));
    QCOMPARE(t->seek("-10"), int(kSuccess));
    QCOMPARE(t->recNo(), 2u);
    QCOMPARE(t->seek("20.0"), int(kSuccess));
    QCOMPARE(t->recNo(), 5u);
    QCOMPARE(t->seek("-20"), int(kAfter));  // record 1 holds it, but is deleted
    // Dates by value.
    QTemporaryDir dir2;
    Table* tk = c.open(makeTickets(dir2, 30));
    QVERIFY(tk->selectTag("IN_DATE"));
    QCOMPARE(tk->seek("20260303"), int(kSuccess));
    QCOMPARE(tk->field("in_date")->text(), std::string("20260303"));
    QCOMPARE(tk->seek("20260231"), int(kEof));  // not a date
    // Without a tag a seek is an error.
    testsupport::EngineErrors errors;
    tk->selectTag("");
    QCOMPARE(tk->seek("x"), int(kError));
    QVERIFY(errors.contains("no index tag selected") || errors.contains("without an index tag"));
}

void TestTableIndex::writesKeepEveryTagRight()
{
    QTemporaryDir dir;
    std::string path = makeTickets(dir, 40);
    {
        Connection c;
        Table* t = c.open(path);
        // Change keys under every tag, through the record being current.
        t->go(3);
        t->field("ticket")->assignInteger(5000);
        t->field("complete")->assignLogical(false);  // now admitted by OPEN
        t->go(7);
        t->field("customer")->assign("ZEBRA");
        t->field("in_date")->clear();  // a blank date is a key too
        t->selectTag("TICKET");
        t->top();
        t->field("ticket")->assignInteger(-9999);  // the first entry becomes still smaller
        t->skip(1);
        t->go(9);
        t->deleteRecord();
        t->appendBlank();
        t->field("ticket")->assignInteger(1);
        t->close();
    }
    QVERIFY2(checkTableFile(path).empty(), firstFault(path).c_str());
    Connection c;
    Table* t = c.open(path);
    t->selectTag("TICKET");
    t->bottom();
    QCOMPARE(t->field("ticket")->integer(), 5000LL);
    t->top();
    QCOMPARE(t->field("ticket")->integer(), -9999LL);
    QCOMPARE(t->pack(), int(kSuccess));
    QCOMPARE(t->recCount(), 40u);
    QVERIFY(checkTableFile(path).empty());
    t->selectTag("IN_DATE");
    QCOMPARE(t->top(), int(kSuccess));
    QVERIFY(t->field("in_date")->isBlank());  // the blank date sorts first
}

void TestTableIndex::manyWritesAgreeWithIndependentReader()
{
    // Enough records for several levels of branch pages, then changes of
    // keys, deletions and a pack; after each stage the engine's own check
    // and index_dump agree with what the table holds.
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Customer.dbf").toStdString();
    QVERIFY(catalogue::CreateTable(3, path));
    std::mt19937 rng(7);
    auto randomName = [&] {
        std::string s;
        int len = 5 + int(rng() % 25);
        for (int i = 0; i < len; ++i)
            s += char("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghij"[rng() % 37]);
        return s;
    };
    {
        Connection c;
        Table* t = c.open(path);
        for (int i = 0; i < 6000; ++i) {
            t->appendStart();
            t->blank();
            t->field("n_ame")->assign(randomName());
            t->field("code_num")->assignInteger(i % 1000);
            t->append();
        }
    }
    auto agree = [&](const char* stage) {
        auto faults = checkTableFile(path);
        QVERIFY2(faults.empty(), (std::string(stage) + ": " + (faults.empty() ? std::string() : faults.front())).c_str());
        auto keys = run(tool(), {"keys", QString::fromStdString(path), "N_AME"});
        QCOMPARE(keys.exitCode, 0);
        if (haveIndexDump())
            QCOMPARE(indexDump(dir.path() + "/Customer.cdx", "N_AME", "char"), keys.out);
        Connection c;
        Table* t = c.open(path);
        t->selectTag("N_AME");
        auto want = expectedOrder(t, [](Table* x) { return std::string(x->field("n_ame")->raw()); });
        t->selectTag("N_AME");
        QCOMPARE(orderOf(t), want);
    };
    agree("after appends");
    {
        Connection c;
        Table* t = c.open(path);
        for (int i = 0; i < 1500; ++i) {
            t->go(1 + rng() % t->recCount());
            if (i % 3 == 0)
                t->deleteRecord();
            else
                t->field("n_ame")->assign(randomName());
        }
    }
    agree("after changes");
    {
        Connection c;
        QCOMPARE(c.open(path)->pack(), int(kSuccess));
    }
    agree("after pack");
}

void TestTableIndex::changedFixturesAgreeWithIndependentReader()
{
    REQUIRE_FIXTURES();
    if (!haveIndexDump())
        QSKIP("index_dump (libdbd-xbase-perl) is not installed");
    QTemporaryDir dir;
    QString customer = testsupport::copyFixture("customer.dbf", dir.path());
    QString product = testsupport::copyFixture("product.dbf", dir.path());
    QString ticket = testsupport::copyFixture("ticket.dbf", dir.path());
    {
        Connection c;
        Table* t = c.open(customer.toStdString());
        for (int i = 0; i < 300; ++i) {
            t->appendStart();
            t->blank();
            t->field("n_ame")->assign("CUSTOMER " + std::to_string(997 * i % 300));
            t->field("fax_no")->assign(std::to_string(100000 + i * 7));
            t->append();
        }
        t->go(1);
        t->field("fax_no")->assign("999");
        t->go(2);
        t->deleteRecord();
        t->pack();
        Table* p = c.open(product.toStdString());
        for (int i = 0; i < 200; ++i) {
            p->appendStart();
            p->blank();
            p->field("balance")->assignInteger(i * 13 - 1000);
            p->field("price_t")->assignNumber(i / 4.0);
            p->field("n_ame")->assign("P" + std::to_string(i));
            p->append();
        }
        Table* k = c.open(ticket.toStdString());
        for (int i = 0; i < 200; ++i) {
            k->appendStart();
            k->blank();
            k->field("ticket")->assignInteger(2000 + i);
            k->field("in_date")->assignDate(Date {2025, 1 + i % 12, 1 + i % 28});
            k->field("customer")->assign(i % 2 ? "ACME GRAVEL LTD" : "ZED");
            k->append();
        }
    }
    for (const QString& t : {customer, product, ticket})
        QVERIFY2(checkTableFile(t.toStdString()).empty(), qPrintable(t));
    struct Case {
        QString table;
        const char* tag;
        const char* type;
    } cases[] = {{customer, "N_AME", "char"},   {customer, "FAX_NO", "char"}, {product, "BALANCE", "num"},
                 {product, "PRICE_T", "num"},   {product, "N_AME", "char"},   {ticket, "TICKET", "num"},
                 {ticket, "IN_DATE", "date"},   {ticket, "CUSTOMER", "char"}};
    for (const auto& k : cases) {
        QString cdx = k.table.left(k.table.size() - 4) + ".cdx";
        auto ours = run(tool(), {"keys", k.table, k.tag});
        QCOMPARE(ours.exitCode, 0);
        QCOMPARE(indexDump(cdx, k.tag, k.type), ours.out);
    }
}

void TestTableIndex::unusableTagRefusesWrites()
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/c.dbf").toStdString();
    {
        Connection c;
        std::vector<TagSpec> tags(2);
        tags[0].name = "N_AME";
        tags[0].keyExpr = "n_ame";
        tags[1].name = "ODD";
        tags[1].keyExpr = "UPPER(n_ame)";
        Table* t = c.create(path, catalogue::layoutFields(3), tags);
        for (const char* n : {"B", "A"}) {
            t->appendStart();
            t->blank();
            t->field("n_ame")->assign(n);
            t->append();
        }
    }
    // Another program's function the engine does not know, in place of UPPER.
    QString cdx = dir.path() + "/c.cdx";
    QByteArray bytes = readAll(cdx);
    int at = bytes.indexOf("UPPER(n_ame)");
    QVERIFY(at > 0);
    writeAt(cdx, at, "ZOUND");
    const QByteArray tableBefore = readAll(QString::fromStdString(path));

    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    QVERIFY(t);
    QVERIFY(t->selectTag("N_AME"));  // still read in any order
    QCOMPARE(orderOf(t), (std::vector<uint32_t> {2, 1}));
    QCOMPARE(t->appendBlank(), int(kError));
    QVERIFY2(errors.contains("ODD") && errors.contains("ZOUND(n_ame)"), errors.messages.empty() ? "no report" : errors.messages[0].c_str());
    t->go(1);
    t->field("n_ame")->assign("C");
    QCOMPARE(t->flush(), int(kError));
    QCOMPARE(t->pack(), int(kError));
    t->close();
    QCOMPARE(readAll(QString::fromStdString(path)), tableBefore);
}

void TestTableIndex::damagedIndexIsRebuilt()
{
    QTemporaryDir dir;
    std::string path = makeTickets(dir, 400);
    QString cdx = dir.path() + "/tickets.cdx";
    const QByteArray tableBefore = readAll(QString::fromStdString(path));
    // Garbage over the last page, a node of the last tag written (TICKET):
    // the tag directory and the tags' headers stay readable, its tree does not.
    writeAt(cdx, QFile(cdx).size() - 512, QByteArray(512, char(0xA5)));
    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    QVERIFY(t);
    QVERIFY(t->selectTag("TICKET"));
    std::vector<uint32_t> order = orderOf(t);
    QCOMPARE(order.size(), std::size_t(400));
    QVERIFY2(errors.contains("rebuilt"), errors.messages.empty() ? "no report" : errors.messages[0].c_str());
    QVERIFY(errors.contains("tickets.cdx"));
    t->close();
    QCOMPARE(readAll(QString::fromStdString(path)), tableBefore);  // the table itself is never changed
    QVERIFY(checkTableFile(path).empty());

    // An index whose tag directory cannot be read: the table still opens and
    // is read in record order; the fault is reported.
    QFile::resize(cdx, 700);
    errors.clear();
    Connection d;
    Table* u = d.open(path);
    QVERIFY(u);
    QVERIFY(errors.contains("cannot be read"));
    QCOMPARE(u->recCount(), 400u);
    QVERIFY(!checkTableFile(path).empty());
}

void TestTableIndex::interruptedIndexIsRebuiltOnOpen()
{
    QTemporaryDir dir;
    std::string path = makeTickets(dir, 50);
    QString cdx = dir.path() + "/tickets.cdx";
    // What a kill in the middle of a change leaves: the marker set and a key
    // missing (the table's last record is not in the tags).
    {
        Connection c;
        Table* t = c.open(path);
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger(777);
        t->append();
        t->flush();
    }
    {
        // Take the new record's keys out again and set the marker, as a kill
        // between the table's write and the index's would leave it.
        std::string fault;
        Connection c;
        Table* t = c.open(path);
        t->go(51);
        auto key = t->index()->recordKey(t->index()->findTag("TICKET"), t->recordBuffer());
        QVERIFY(key);
        QVERIFY(t->index()->remove(t->index()->findTag("TICKET"), *key, 51, fault));
        t->index()->abandon();  // leaves the marker set
        t->close();
    }
    QVERIFY(!checkTableFile(path).empty());  // a check reports it and repairs nothing,
    QVERIFY(!checkTableFile(path).empty());  // so a second check finds it still
    testsupport::EngineErrors errors;
    {
        Connection c;
        Table* t = c.open(path);
        QVERIFY(errors.contains("middle of a change"));
        QVERIFY(t->selectTag("TICKET"));
        QCOMPARE(t->seek("777"), int(kSuccess));
        QCOMPARE(t->recNo(), 51u);
    }
    QVERIFY(checkTableFile(path).empty());
}

void TestTableIndex::toolCommands()
{
    QTemporaryDir dir;
    QString t = dir.path() + "/customer.dbf";
    QCOMPARE(run(tool(), {"create", t, "3"}).exitCode, 0);
    QCOMPARE(run(tool(), {"append", t, "n_ame=ZED", "fax_no=77"}).exitCode, 0);
    QCOMPARE(run(tool(), {"append", t, "n_ame=ACME", "fax_no=12"}).exitCode, 0);
    QCOMPARE(run(tool(), {"keys", t, "n_ame"}).out, QByteArray("ACME 2\nZED 1\n"));
    auto seek = run(tool(), {"seek", t, "N_AME", "ZED"});
    QCOMPARE(seek.exitCode, 0);
    QCOMPARE(seek.out, QByteArray("1 ,ZED,,77\n"));
    QCOMPARE(run(tool(), {"seek", t, "N_AME", "ZE"}).exitCode, 1);
    // An administrator's repair: a wrong name, then a record deleted.
    QCOMPARE(run(tool(), {"set", t, "1", "n_ame=ABLE"}).exitCode, 0);
    QCOMPARE(run(tool(), {"keys", t, "N_AME"}).out, QByteArray("ABLE 1\nACME 2\n"));
    QCOMPARE(run(tool(), {"delete", t, "2"}).exitCode, 0);
    QCOMPARE(run(tool(), {"seek", t, "N_AME", "ACME"}).exitCode, 1);
    QCOMPARE(run(tool(), {"check", t}).exitCode, 0);
    QCOMPARE(run(tool(), {"set", t, "9", "n_ame=X"}).exitCode, 2);
    auto info = run(tool(), {"info", t});
    QVERIFY2(info.out.contains("N_AME key n_ame; type/length C 35; ascending"), info.out.constData());
    // reindex puts a damaged index right.
    QString cdx = dir.path() + "/customer.cdx";
    writeAt(cdx, QFile(cdx).size() - 512, QByteArray(512, 'x'));  // the tag's leaf
    QCOMPARE(run(tool(), {"check", t}).exitCode, 1);
    QCOMPARE(run(tool(), {"reindex", t}).exitCode, 0);
    QCOMPARE(run(tool(), {"check", t}).exitCode, 0);
    QCOMPARE(run(tool(), {"keys", t, "N_AME"}).out, QByteArray("ABLE 1\nACME 2\n"));
}

QTEST_GUILESS_MAIN(TestTableIndex)
#include "test_tableindex.moc"

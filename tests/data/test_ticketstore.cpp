// The ticket store on its own: the two meanings of the counter, numbers in
// use, renumbering, and a move a dead process left half done, finished or
// undone by the next operation whatever point it reached.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/TicketStore.h"
#include "data/Util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace store;
using testsupport::HandTicket;
using testsupport::tableRows;

namespace {

const xb::LocalTime kAt {2026, 12, 8, 14, 5, 0};
const xb::Date kDay {2026, 12, 8};

void writeCounter(const QString& path, std::optional<long long> value)
{
    xb::Connection c;
    xb::Table* t = c.create(path.toStdString(), {{"company", 'N', 10, 0}});
    QVERIFY(t);
    if (value) {
        t->appendStart();
        t->blank();
        t->field("company")->assignInteger(*value);
        QCOMPARE(t->append(), xb::kSuccess);
    }
    QCOMPARE(t->close(), xb::kSuccess);
}

std::vector<long> numbersIn(const QString& path)
{
    std::vector<long> out;
    for (auto& r : tableRows(path))
        out.push_back(std::atol(r["ticket"].c_str()));
    return out;
}

// Appends a copy of a ticket as completed, as the first step of a move does.
void appendCopy(const QString& path, long ticket, const char* customer, const char* inTime, const char* inDate)
{
    xb::Connection c;
    xb::Table* t = c.open(path.toStdString());
    QVERIFY(t);
    t->appendStart();
    t->blank();
    t->field("ticket")->assignInteger(ticket);
    t->field("customer")->assign(customer);
    t->field("in_time")->assign(inTime);
    t->field("in_date")->assign(inDate);
    t->field("complete")->assignLogical(true);
    QCOMPARE(t->append(), xb::kSuccess);
    QCOMPARE(t->close(), xb::kSuccess);
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

// The bytes `from` of the file become `to` (as long), where they first occur.
bool patchFile(const QString& path, const QByteArray& from, const QByteArray& to)
{
    QByteArray bytes = bytesOf(path);
    const int at = bytes.indexOf(from);
    if (at < 0 || from.size() != to.size())
        return false;
    bytes.replace(at, to.size(), to);
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

void writeJournal(const QString& path, const QString& source, const QString& target, uint32_t fromRec,
                  uint32_t copyRec, long ticket, long copyTicket, const char* customer, bool whole = true)
{
    QString text = "# a ticket being moved between the tables of this directory\n";
    text += "source=" + source + "\ntarget=" + target + "\n";
    for (auto [prefix, rec, number] : {std::tuple {"from.", fromRec, ticket}, std::tuple {"copy.", copyRec, copyTicket}})
        text += QString("%1recno=%2\n%1ticket=%3\n%1customer=%4\n%1in_date=20261208\n%1in_time=930\n")
                    .arg(prefix)
                    .arg(rec)
                    .arg(number)
                    .arg(customer);
    if (whole)
        text += "end\n";
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

}  // namespace

class TestStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void numbering_data();
    void numbering();
    void numbersInUse();
    void issuing_data();
    void issuing();
    void cutShortTables_data();
    void cutShortTables();
    void renumbering();
    void interruptedMove_data();
    void interruptedMove();
    void dayClosedEarly_data();
    void dayClosedEarly();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString file(const char* name) const { return dir_->filePath(name); }
    QString dayTable() const { return file(catalogue::dayTableName(kDay).c_str()); }
    TicketStore station() const
    {
        return TicketStore(dir_->path().toStdString(), CounterMeaning::kLastIssued, {"Ticket.dbf", "Control.dbf"});
    }
};

void TestStore::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestStore::numbering_data()
{
    QTest::addColumn<bool>("lastIssued");
    QTest::addColumn<int>("counter");  // -1: no table, -2: no record
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("stored");  // the counter after `next` is issued
    QTest::newRow("next: no table") << false << -1 << 1 << 2;
    QTest::newRow("next: no record") << false << -2 << 1 << 2;
    QTest::newRow("next: 41") << false << 41 << 41 << 42;
    QTest::newRow("next: 99999 wraps") << false << 99999 << 99999 << 1;
    QTest::newRow("next: 0 is no number") << false << 0 << 1 << 2;
    QTest::newRow("next: past the field") << false << 123456 << 1 << 2;
    QTest::newRow("last: no table") << true << -1 << 1 << 1;
    QTest::newRow("last: no record") << true << -2 << 1 << 1;
    QTest::newRow("last: 0") << true << 0 << 1 << 1;
    QTest::newRow("last: 41") << true << 41 << 42 << 42;
    QTest::newRow("last: 99998") << true << 99998 << 99999 << 99999;
    QTest::newRow("last: 99999 wraps") << true << 99999 << 1 << 1;
    QTest::newRow("last: negative") << true << -3 << 1 << 1;
}

void TestStore::numbering()
{
    QFETCH(bool, lastIssued);
    QFETCH(int, counter);
    QFETCH(int, next);
    QFETCH(int, stored);
    if (counter != -1)
        writeCounter(file("Control.dbf"), counter == -2 ? std::nullopt : std::optional<long long>(counter));
    TicketStore s(dir_->path().toStdString(), lastIssued ? CounterMeaning::kLastIssued : CounterMeaning::kNextToIssue,
                  {"Ticket.dbf", "Control.dbf"});
    QCOMPARE(s.nextNumber(), std::optional<long>(next));
    QVERIFY(s.recordIssued(next));
    auto rows = tableRows(file("Control.dbf"));
    QCOMPARE(rows.size(), std::size_t(1));
    QCOMPARE(std::atol(rows[0]["company"].c_str()), long(stored));
    QVERIFY(!s.recordIssued(0));
    QVERIFY(!s.recordIssued(100000));
    QCOMPARE(std::atol(tableRows(file("Control.dbf"))[0]["company"].c_str()), long(stored));
}

void TestStore::numbersInUse()
{
    QVERIFY(testsupport::writeTicketTable(file("Ticket.dbf"),
                                          {{5, "ACME"}, {6, "BETA"}, {8, "OLD", "", 0, false, true}, {99999, "GAMMA"}}));
    TicketStore s = station();
    struct Case {
        long from;
        long free;
    };
    for (const Case& c : {Case {5, 7}, Case {7, 7}, Case {8, 8}, Case {99999, 1}, Case {0, 1}})
        QCOMPARE(s.firstFreeNumber(c.from), c.free);

    TicketRecord t;
    t.ticket = 5;
    t.customer = "DELTA";
    t.truck = "D-1";
    auto added = s.addOpen(t, kAt, true);
    QCOMPARE(added.outcome, Outcome::kDone);
    QCOMPARE(added.number, 7L);
    // The kiosk's own directory issues the number it was given.
    added = s.addOpen(t, kAt, false);
    QCOMPARE(added.number, 5L);
    QCOMPARE(numbersIn(file("Ticket.dbf")), (std::vector<long> {5, 6, 99999, 7, 5}));
    t.inWeight = 10000000000LL;
    QCOMPARE(s.addOpen(t, kAt, true).outcome, Outcome::kBadValue);
    QCOMPARE(tableRows(file("Ticket.dbf")).size(), std::size_t(5));
}

// Issuing under the counter's lock: the counter's number, past the numbers
// open tickets hold; a counter that holds no number issues nothing and is
// left as it is (taken for 0 it would start the numbering again at 1).
void TestStore::issuing_data()
{
    QTest::addColumn<bool>("lastIssued");
    QTest::addColumn<QByteArray>("counter");  // the counter's field as stored; empty: no table
    QTest::addColumn<int>("issued");          // -1: none
    QTest::addColumn<QByteArray>("after");    // the field after; empty: as before
    QTest::newRow("next: 5, 5 and 6 open") << false << QByteArray("5") << 7 << QByteArray("8");
    QTest::newRow("last: 4, 5 and 6 open") << true << QByteArray("4") << 7 << QByteArray("7");
    QTest::newRow("next: no table") << false << QByteArray() << 1 << QByteArray("2");
    QTest::newRow("next: blank") << false << QByteArray(" ") << 1 << QByteArray("2");
    QTest::newRow("next: not a number") << false << QByteArray("5O0") << -1 << QByteArray();
    QTest::newRow("last: not a number") << true << QByteArray("4x") << -1 << QByteArray();
}

void TestStore::issuing()
{
    QFETCH(bool, lastIssued);
    QFETCH(QByteArray, counter);
    QFETCH(int, issued);
    QFETCH(QByteArray, after);
    const QString control = file("Control.dbf");
    if (!counter.isEmpty()) {
        writeCounter(control, 999);
        QVERIFY(patchFile(control, "       999", counter.rightJustified(10, ' ')));
    }
    QVERIFY(testsupport::writeTicketTable(file("Ticket.dbf"), {{5, "ACME"}, {6, "BETA"}}));
    const QByteArray before = bytesOf(control);
    TicketStore s(dir_->path().toStdString(), lastIssued ? CounterMeaning::kLastIssued : CounterMeaning::kNextToIssue,
                  {"Ticket.dbf", "Control.dbf"});
    testsupport::EngineErrors reports;
    const std::optional<long> got = s.issueNumber();
    QCOMPARE(got, issued < 0 ? std::nullopt : std::optional<long>(issued));
    if (after.isEmpty()) {
        QCOMPARE(s.nextNumber(), std::optional<long>());
        QVERIFY(!s.recordIssued(9));
        QCOMPARE(bytesOf(control), before);
        QVERIFY(!reports.messages.empty());
    } else {
        QCOMPARE(QByteArray::fromStdString(tableRows(control)[0]["company"]), after);
    }
}

// A table cut short inside a record its header counts: that record was
// stored once, so nothing is appended over what is left of it, whichever
// operation would append.
void TestStore::cutShortTables_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("an inbound into the open table") << "add";
    QTest::newRow("a completion into the day table") << "complete";
    QTest::newRow("a renumbering in the day table") << "renumber";
}

void TestStore::cutShortTables()
{
    QFETCH(QString, operation);
    QVERIFY(testsupport::writeTicketTable(dayTable(), {{10, "ACME", "A-1", 12000, true}, {11, "BETA", "B-1", 9000, true}}));
    QVERIFY(testsupport::writeTicketTable(file("Ticket.dbf"), {{14, "GAMMA", "G-1", 8000}, {15, "DELTA", "D-1", 7000}}));
    const QString cut = operation == "add" ? file("Ticket.dbf") : dayTable();
    {
        QFile f(cut);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() - 40));  // the end mark and part of the last record
    }
    const QByteArray day = bytesOf(dayTable());
    const QByteArray open = bytesOf(file("Ticket.dbf"));
    TicketStore s = station();
    testsupport::EngineErrors reports;
    if (operation == "add") {
        TicketRecord t;
        t.ticket = 20;
        t.customer = "EPSILON";
        t.truck = "E-1";
        t.inWeight = 9000;
        QCOMPARE(s.addOpen(t, kAt, true).outcome, Outcome::kNotSaved);
    } else if (operation == "complete") {
        CompletedValues v;
        v.outWeight = 15000;
        QCOMPARE(s.complete(14, std::string("GAMMA"), v, kAt).outcome, Outcome::kNotSaved);
    } else {
        QCOMPARE(s.renumber(10, 12, kAt).outcome, Outcome::kNotSaved);
    }
    QCOMPARE(bytesOf(dayTable()), day);
    QCOMPARE(bytesOf(file("Ticket.dbf")), open);
    QVERIFY(!reports.messages.empty());
    QVERIFY(!QFile::exists(file("tickets.pending")));
}

void TestStore::renumbering()
{
    QVERIFY(testsupport::writeTicketTable(dayTable(), {{10, "ACME", "A-1", 12000, true}, {11, "BETA", "B-1", 9000, true}}));
    QVERIFY(testsupport::writeTicketTable(file("Ticket.dbf"), {{14, "GAMMA"}}));
    {
        // Ticket 10 was weighed out at 09:35, and carries a net that
        // disagrees with its weights.
        xb::Connection c;
        xb::Table* t = c.open(dayTable().toStdString());
        t->go(1);
        t->field("out_wgt")->assignInteger(30000);
        t->field("net_wgt")->assignInteger(1);
        t->field("out_time")->assign("935");
        t->field("out_date")->assign("20261208");
        t->field("remarks")->assign("first");
        QCOMPARE(t->close(), xb::kSuccess);
    }
    TicketStore s = station();

    // Onto another ticket's number of the day, or an open ticket's: refused,
    // nothing changed.
    const QByteArray before = [&] {
        QFile f(dayTable());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    for (long taken : {11L, 14L})
        QCOMPARE(s.renumber(10, taken, kAt).outcome, Outcome::kNumberInUse);
    QFile f(dayTable());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    f.close();
    QCOMPARE(s.renumber(12, 13, kAt).outcome, Outcome::kNotFound);
    QCOMPARE(s.renumber(10, 0, kAt).outcome, Outcome::kBadValue);

    // The copy is the ticket as it was, its weighing's times included; its
    // net is that of its weights.
    auto moved = s.renumber(10, 12, kAt);
    QCOMPARE(moved.outcome, Outcome::kDone);
    QCOMPARE(moved.stored.ticket, 12L);
    QCOMPARE(moved.stored.netWeight, 18000LL);
    QCOMPARE(numbersIn(dayTable()), (std::vector<long> {11, 12}));
    auto rows = tableRows(dayTable());
    QCOMPARE(rows[1]["customer"], std::string("ACME"));
    QCOMPARE(rows[1]["remarks"], std::string("first"));
    QCOMPARE(rows[1]["out_wgt"], std::string("30000"));
    QCOMPARE(rows[1]["out_time"], std::string("935"));
    QCOMPARE(rows[1]["out_date"], std::string("20261208"));
    QCOMPARE(rows[1]["net_wgt"], std::string("18000"));

    // Under its own number: still once.
    QCOMPARE(s.renumber(12, 12, kAt).outcome, Outcome::kDone);
    QCOMPARE(numbersIn(dayTable()), (std::vector<long> {11, 12}));
    QVERIFY(!QFile::exists(file("tickets.pending")));
}

// Each row is a state of the tables a kill can leave during a completion
// (open table -> day table) or a renumbering (within the day table), with its
// record of the move; the next operation of any store on the directory must
// leave the ticket in exactly one place.
void TestStore::interruptedMove_data()
{
    QTest::addColumn<bool>("renumbering");
    QTest::addColumn<bool>("copied");        // the copy reached its table
    QTest::addColumn<bool>("sourceDeleted");  // the old record was marked deleted
    QTest::addColumn<bool>("journalWhole");
    QTest::addColumn<bool>("otherFirst");  // another lane appended ticket 5 to the day table between the record and the copy
    QTest::addColumn<std::vector<long>>("openAfter");
    QTest::addColumn<std::vector<long>>("dayAfter");
    using V = std::vector<long>;
    QTest::newRow("complete: journal cut short") << false << false << false << false << false << V {7} << V {3};
    QTest::newRow("complete: before the copy") << false << false << false << true << false << V {7} << V {3};
    QTest::newRow("complete: after the copy") << false << true << false << true << false << V {} << V {3, 7};
    QTest::newRow("complete: after the delete") << false << true << true << true << false << V {} << V {3, 7};
    QTest::newRow("renumber: before the copy") << true << false << false << true << false << V {} << V {3, 7};
    QTest::newRow("renumber: after the copy") << true << true << false << true << false << V {} << V {3, 8};
    QTest::newRow("renumber: after the delete") << true << true << true << true << false << V {} << V {3, 8};
    // The copy went one record further on than the record of the move says.
    QTest::newRow("complete: after the copy, another lane's ticket before it")
        << false << true << false << true << true << V {} << V {3, 5, 7};
    QTest::newRow("renumber: after the copy, another lane's ticket before it")
        << true << true << false << true << true << V {} << V {3, 5, 8};
}

void TestStore::interruptedMove()
{
    QFETCH(bool, renumbering);
    QFETCH(bool, copied);
    QFETCH(bool, sourceDeleted);
    QFETCH(bool, journalWhole);
    QFETCH(bool, otherFirst);
    QFETCH(std::vector<long>, openAfter);
    QFETCH(std::vector<long>, dayAfter);
    const QString day = catalogue::dayTableName(kDay).c_str();
    QVERIFY(testsupport::writeTicketTable(file("Ticket.dbf"), renumbering ? std::vector<HandTicket> {}
                                                                          : std::vector<HandTicket> {{7, "ACME"}}));
    QVERIFY(testsupport::writeTicketTable(dayTable(), renumbering ? std::vector<HandTicket> {{3, "BETA", "", 0, true},
                                                                                             {7, "ACME", "", 0, true}}
                                                                  : std::vector<HandTicket> {{3, "BETA", "", 0, true}}));
    // The hand-made records carry no times or dates; give the moved one the
    // ones the record of the move names.
    {
        xb::Connection c;
        xb::Table* t = c.open((renumbering ? dayTable() : file("Ticket.dbf")).toStdString());
        t->go(renumbering ? 2 : 1);
        t->field("in_time")->assign("930");
        t->field("in_date")->assign("20261208");
        QCOMPARE(t->close(), xb::kSuccess);
    }
    const QString sourceTable = renumbering ? dayTable() : file("Ticket.dbf");
    const uint32_t fromRec = renumbering ? 2 : 1;
    const uint32_t copyRec = renumbering ? 3 : 2;
    const long copyNumber = renumbering ? 8 : 7;
    if (otherFirst)
        appendCopy(dayTable(), 5, "OTHER", "1000", "20261208");
    if (copied)
        appendCopy(dayTable(), copyNumber, "ACME", "930", "20261208");
    if (sourceDeleted) {
        xb::Connection c;
        xb::Table* t = c.open(sourceTable.toStdString());
        t->go(fromRec);
        t->deleteRecord();
        QCOMPARE(t->close(), xb::kSuccess);
    }
    writeJournal(file("tickets.pending"), renumbering ? day : "Ticket.dbf", day, fromRec, copyRec, 7, copyNumber,
                 "ACME", journalWhole);

    // Any operation settles it first: here the kiosk's question for a number.
    TicketStore s = station();
    QVERIFY(s.nextNumber().has_value());
    QVERIFY(!QFile::exists(file("tickets.pending")));
    QCOMPARE(numbersIn(file("Ticket.dbf")), openAfter);
    QCOMPARE(numbersIn(dayTable()), dayAfter);
    // Settled moves leave no deleted records behind.
    xb::Connection c;
    xb::Table* t = c.open(dayTable().toStdString());
    QCOMPARE(t->recCount(), uint32_t(dayAfter.size()));
}

QTEST_GUILESS_MAIN(TestStore)
// A day the month end closed early: its table went into the month's folder
// (26Dec/Dec0826.dbf), and trucks weighed afterwards went into a new table
// in the data directory. Both are the day's tickets: a reprint finds an
// archived one, and no ticket of the day gets a number another one holds.
void TestStore::dayClosedEarly_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("an archived ticket reprinted finds it") << "find 10";
    QTest::newRow("a late ticket renumbered to an archived ticket's number is refused") << "renumber 40 to 10";
}

void TestStore::dayClosedEarly()
{
    QFETCH(QString, operation);
    QVERIFY(QDir(dir_->path()).mkpath("26Dec"));
    QVERIFY(testsupport::writeTicketTable(file("26Dec/") + catalogue::dayTableName(kDay).c_str(),
                                          {{10, "ACME", "T-1", 12000, true}, {11, "ACME", "T-2", 12000, true}}));
    QVERIFY(testsupport::writeTicketTable(dayTable(), {{40, "LATE", "T-9", 12000, true}}));
    TicketStore s = station();
    if (operation == "find 10") {
        const auto found = s.findCompleted(kDay, 10);
        QVERIFY2(found.has_value(), "ticket 10 of the day is in the month's folder");
        QCOMPARE(found->truck, std::string("T-1"));
    } else {
        QCOMPARE(s.renumber(40, 10, kAt).outcome, Outcome::kNumberInUse);
        QCOMPARE(numbersIn(dayTable()), (std::vector<long> {40}));
    }
}

#include "test_ticketstore.moc"

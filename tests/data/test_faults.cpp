// The table engine and the ticket store on a file layer that fails: a write
// or sync that fails at every point of an operation, and a power cut at
// every point, which drops what was not synced. A kill leaves the page cache
// whole, so these faults cannot be shown by killing the writer.

#include "FaultyFiles.h"
#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketStore.h"
#include "data/Util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <functional>
#include <set>

using namespace xb;
using testsupport::FaultyFiles;
using Op = FaultyFiles::Op;

namespace {

const std::vector<FieldSpec> kFields = {{"name", 'C', 10, 0}, {"qty", 'N', 6, 0}};

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// name=qty of every live record, in record order, read through the
// operating system's files.
std::vector<std::string> liveRows(const std::string& path)
{
    std::vector<std::string> v;
    Connection c;
    Table* t = c.open(path);
    if (!t)
        return {"(does not open)"};
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        v.push_back(t->field("name")->text() + "=" + std::to_string(t->field("qty")->integer()));
    return v;
}

// A table of six records R1..R6 with R2 and R5 deleted; indexed on name.
void makeTable(const std::string& path, bool indexed)
{
    std::vector<TagSpec> tags(1);
    tags[0].name = "NAME";
    tags[0].keyExpr = "name";
    QFile::remove(QString::fromStdString(path));
    QFile::remove(QString::fromStdString(replaceExtension(path, ".cdx")));
    Connection c;
    Table* t = c.create(path, kFields, indexed ? tags : std::vector<TagSpec> {});
    for (int i = 1; i <= 6; ++i) {
        t->appendBlank();
        t->field("name")->assign("R" + std::to_string(i));
        t->field("qty")->assignInteger(i);
    }
    for (uint32_t n : {2u, 5u}) {
        t->go(n);
        t->deleteRecord();
    }
    t->close();
}

using Operation = std::function<bool(Table*)>;

struct TableCase {
    const char* name;
    Operation run;
    std::vector<std::string> after;  // live rows once the operation is done
};

std::vector<TableCase> tableCases()
{
    const std::vector<std::string> all = {"R1=1", "R3=3", "R4=4", "R6=6"};
    return {
        {"append",
         [](Table* t) {
             return t->appendStart() == kSuccess && (t->blank(), t->field("name")->assign("NEW")) &&
                    t->field("qty")->assignInteger(7) && t->append() == kSuccess && t->flush() == kSuccess;
         },
         {"R1=1", "R3=3", "R4=4", "R6=6", "NEW=7"}},
        {"change",
         [](Table* t) {
             return t->go(3) == kSuccess && t->field("name")->assign("R3X") && t->field("qty")->assignInteger(33) &&
                    t->flush() == kSuccess;
         },
         {"R1=1", "R3X=33", "R4=4", "R6=6"}},
        {"delete",
         [](Table* t) { return t->go(4) == kSuccess && t->deleteRecord() == kSuccess && t->flush() == kSuccess; },
         {"R1=1", "R3=3", "R6=6"}},
        {"pack", [](Table* t) { return t->pack() == kSuccess; }, all},
        {"rebuild the index", [](Table* t) { return t->reindex(); }, all},
    };
}

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void failedWriteLeavesTableWhole_data();
    void failedWriteLeavesTableWhole();
    void powerCutKeepsWhatWasSynced_data();
    void powerCutKeepsWhatWasSynced();
    void storedTicketSurvivesPowerCut_data();
    void storedTicketSurvivesPowerCut();
    void completedTicketInExactlyOneTable_data();
    void completedTicketInExactlyOneTable();
};

void TestFaults::failedWriteLeavesTableWhole_data()
{
    // Every write and every sync of each operation fails in turn (with EIO
    // or ENOSPC); the operation either reports the failure or completes, and
    // the table left is the one before it or the one after it, whole.
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("error");
    const auto cases = tableCases();
    for (int i = 0; i < int(cases.size()); ++i)
        for (bool indexed : {false, true})
            for (auto [op, opName] : {std::pair {Op::Write, "write"}, {Op::Sync, "sync"}, {Op::Rename, "rename"}})
                for (int error : {EIO, ENOSPC}) {
                    const std::string name = cases[std::size_t(i)].name;
                    if (!indexed && name == "rebuild the index")
                        continue;
                    if (op == Op::Rename && name != "pack" && name != "rebuild the index")
                        continue;  // only those put a new file in place
                    QTest::newRow(qPrintable(QString("%1%2, %3 fails (%4)")
                                                 .arg(cases[std::size_t(i)].name)
                                                 .arg(indexed ? ", indexed" : "")
                                                 .arg(opName)
                                                 .arg(error == EIO ? "EIO" : "ENOSPC")))
                        << i << indexed << int(op) << error;
                }
}

void TestFaults::failedWriteLeavesTableWhole()
{
    QFETCH(int, which);
    QFETCH(bool, indexed);
    QFETCH(int, op);
    QFETCH(int, error);
    const TableCase tc = tableCases()[std::size_t(which)];
    const std::vector<std::string> before = {"R1=1", "R3=3", "R4=4", "R6=6"};
    QTemporaryDir dir;
    const QString qp = dir.path() + "/t.dbf";
    const std::string path = qp.toStdString();

    // A clean run counts the calls the operation makes.
    int calls = 0;
    {
        makeTable(path, indexed);
        FaultyFiles files;
        testsupport::EngineErrors errors;
        Connection c(files);
        Table* t = c.open(path);
        const int start = files.count(Op(op));
        QVERIFY(tc.run(t));
        calls = files.count(Op(op)) - start;
        c.closeAll();
        QVERIFY2(errors.messages.empty(), errors.messages.empty() ? "" : errors.messages[0].c_str());
        QCOMPARE(liveRows(path), tc.after);
    }
    if (calls == 0)
        QSKIP("the operation makes no such call");

    for (int n = 1; n <= calls; ++n) {
        makeTable(path, indexed);
        const QByteArray oldTable = bytesOf(qp);
        FaultyFiles files;
        testsupport::EngineErrors errors;
        bool done = false;
        {
            Connection c(files);
            Table* t = c.open(path);
            files.failNth(Op(op), n, error);
            done = tc.run(t);
            files.clearFaults();
            c.closeAll();
        }
        QVERIFY2(done || !errors.messages.empty(), qPrintable(QString("call %1: a failure went unreported").arg(n)));
        errors.clear();
        // Opened again: sound, and the table before or after the operation.
        const std::vector<std::string> rows = liveRows(path);
        const QString where = QString("call %1 of %2: ").arg(n).arg(calls);
        QVERIFY2(rows == before || rows == tc.after, qPrintable(where + "the table is neither the old one nor the new"));
        if (done)
            QVERIFY2(rows == tc.after, qPrintable(where + "reported done, but the change is not there"));
        const auto faults = checkTableFile(path);
        QVERIFY2(faults.empty(), qPrintable(where + QString::fromStdString(faults.empty() ? "" : faults[0])));
        if (!done && std::string(tc.name) == "pack") {
            const QByteArray now = bytesOf(qp);
            int at = 8;
            while (at < now.size() && at < oldTable.size() && now[at] == oldTable[at])
                ++at;
            // Not done: the old table, or (when only the new index could
            // not be written) the packed one, the index to be rebuilt.
            const bool packed = now.size() == oldTable.size() - 2 * 17 && rows == before;
            QVERIFY2((now.size() == oldTable.size() && at == now.size()) || packed,
                     qPrintable(where + QString("the old table changed at byte %1 of %2 (%3 now)")
                                            .arg(at)
                                            .arg(oldTable.size())
                                            .arg(now.size())));
        }
        if (indexed) {
            Connection c;
            Table* t = c.open(path);
            QVERIFY2(t->checkIndex().empty(), qPrintable(where + "the index disagrees with the table"));
        }
        QStringList left = QDir(dir.path()).entryList(QDir::Files);
        left.removeAll("t.dbf");
        left.removeAll("t.cdx");
        QVERIFY2(left.isEmpty(), qPrintable(where + "left behind: " + left.join(", ")));
        QFile::remove(qp);
        QFile::remove(dir.path() + "/t.cdx");
    }
}

void TestFaults::powerCutKeepsWhatWasSynced_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<int>("op");
    const auto cases = tableCases();
    for (int i = 0; i < int(cases.size()); ++i)
        for (bool indexed : {false, true})
            for (auto [op, opName] : {std::pair {Op::Write, "write"}, {Op::Sync, "sync"}, {Op::Rename, "rename"}}) {
                const std::string name = cases[std::size_t(i)].name;
                if (!indexed && name == "rebuild the index")
                    continue;
                if (op == Op::Rename && name != "pack" && name != "rebuild the index")
                    continue;
                QTest::newRow(qPrintable(QString("%1%2, cut at a %3")
                                             .arg(cases[std::size_t(i)].name)
                                             .arg(indexed ? ", indexed" : "")
                                             .arg(opName)))
                    << i << indexed << int(op);
            }
}

void TestFaults::powerCutKeepsWhatWasSynced()
{
    // The power goes at every write, sync or rename of the operation, and
    // right after it returned: what was synced is all there is. The table
    // is the old one or the new one, and the new one when the operation had
    // returned done.
    QFETCH(int, which);
    QFETCH(bool, indexed);
    QFETCH(int, op);
    const TableCase tc = tableCases()[std::size_t(which)];
    const std::vector<std::string> before = {"R1=1", "R3=3", "R4=4", "R6=6"};
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/t.dbf").toStdString();
    int calls = 0;
    {
        makeTable(path, indexed);
        FaultyFiles files;
        Connection c(files);
        Table* t = c.open(path);
        const int start = files.count(Op(op));
        QVERIFY(tc.run(t));
        calls = files.count(Op(op)) - start;
    }
    for (int n = 1; n <= calls + 1; ++n) {
        QFile::remove(QString::fromStdString(path));
        QFile::remove(dir.path() + "/t.cdx");
        makeTable(path, indexed);
        FaultyFiles files;
        testsupport::EngineErrors errors;
        bool done = false;
        {
            Connection c(files);
            Table* t = c.open(path);
            if (n <= calls)
                files.cutAtNth(Op(op), n);
            done = tc.run(t);
            if (n > calls)
                files.powerCut();
        }
        files.restart();
        errors.clear();
        const QString where = QString("cut at call %1 of %2: ").arg(n).arg(calls);
        const std::vector<std::string> rows = liveRows(path);
        QVERIFY2(rows == before || rows == tc.after, qPrintable(where + "the table is neither the old one nor the new"));
        if (done)
            QVERIFY2(rows == tc.after, qPrintable(where + "reported done, but lost in the cut"));
        // Whatever the open repaired (an index left mid-change is rebuilt),
        // the table and its index are sound afterwards.
        const auto faults = checkTableFile(path);
        QVERIFY2(faults.empty(), qPrintable(where + QString::fromStdString(faults.empty() ? "" : faults[0])));
    }
}

namespace {

store::TicketRecord inbound(long number, const std::string& customer)
{
    store::TicketRecord r;
    r.ticket = number;
    r.truck = "TR-" + std::to_string(number);
    r.customer = customer;
    r.product = "SAND";
    r.inWeight = 12000 + number;
    return r;
}

const LocalTime kMorning {2026, 3, 14, 9, 30, 0};

// How many live records with this ticket number the table holds.
int copiesOf(const std::string& path, long number)
{
    if (!fileExists(path))
        return 0;
    Connection c;
    Table* t = c.open(path);
    if (!t)
        return -1;
    int n = 0;
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        n += t->field("ticket")->integer() == number;
    return n;
}

}  // namespace

void TestFaults::storedTicketSurvivesPowerCut_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<bool>("cut");  // a power cut at the call, or the call failing (then a cut after)
    for (auto [op, opName] : {std::pair {Op::Write, "write"}, {Op::Sync, "sync"}})
        for (bool cut : {true, false})
            QTest::newRow(qPrintable(QString("%1 %2").arg(cut ? "cut at a" : "failed").arg(opName))) << int(op) << cut;
}

void TestFaults::storedTicketSurvivesPowerCut()
{
    // An open ticket the store reported stored is there after a power cut
    // at any later moment; one reported not saved is not there twice.
    QFETCH(int, op);
    QFETCH(bool, cut);
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, d + "ticket.dbf"));
    int calls = 0;
    {
        FaultyFiles files;
        Connection c(files);
        store::TicketStore s(d, store::CounterMeaning::kNextToIssue, {}, &c);
        const int start = files.count(Op(op));
        QCOMPARE(s.addOpen(inbound(1, "ACME"), kMorning, false).outcome, store::Outcome::kDone);
        calls = files.count(Op(op)) - start;
    }
    QVERIFY(calls > 0);
    for (int n = 1; n <= calls + 1; ++n) {
        QFile::remove(QString::fromStdString(d + "ticket.dbf"));
        QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, d + "ticket.dbf"));
        FaultyFiles files;
        testsupport::EngineErrors errors;
        store::Outcome outcome;
        {
            Connection c(files);
            store::TicketStore s(d, store::CounterMeaning::kNextToIssue, {}, &c);
            if (n <= calls)
                cut ? files.cutAtNth(Op(op), n) : files.failNth(Op(op), n, EIO);
            outcome = s.addOpen(inbound(7, "ACME"), kMorning, false).outcome;
            files.powerCut();
        }
        files.restart();
        const int copies = copiesOf(d + "ticket.dbf", 7);
        const QString where = QString("call %1 of %2: ").arg(n).arg(calls);
        if (outcome == store::Outcome::kDone)
            QVERIFY2(copies == 1, qPrintable(where + QString("reported stored, %1 copies after the cut").arg(copies)));
        else
            QVERIFY2(copies == 0 || copies == 1, qPrintable(where + QString("%1 copies").arg(copies)));
        QVERIFY(checkTableFile(d + "ticket.dbf").empty());
    }
}

void TestFaults::completedTicketInExactlyOneTable_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<bool>("cut");
    for (auto [op, opName] : {std::pair {Op::Write, "write"}, {Op::Sync, "sync"}, {Op::Rename, "rename"}})
        for (bool cut : {false, true})
            QTest::newRow(qPrintable(QString("%1 %2").arg(cut ? "cut at a" : "failed").arg(opName))) << int(op) << cut;
}

void TestFaults::completedTicketInExactlyOneTable()
{
    // Every write, sync, rename and truncate of a completion fails in turn,
    // or the power goes there; once the store works again (its next
    // operation finishes or undoes the move), the ticket is in exactly one
    // table: the day table when the completion was reported stored, the
    // open table when it was reported not saved.
    QFETCH(int, op);
    QFETCH(bool, cut);
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    const std::string openPath = d + "ticket.dbf";
    store::CompletedValues v;
    v.outWeight = 4000;
    const LocalTime noon {2026, 3, 14, 12, 5, 0};
    auto prepare = [&] {
        QFile::remove(QString::fromStdString(d + "Mar1426.dbf"));
        QFile::remove(QString::fromStdString(d + "tickets.pending"));
        QFile::remove(QString::fromStdString(openPath));
        QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, openPath));
        QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, d + "Mar1426.dbf"));
        store::TicketStore s(d, store::CounterMeaning::kNextToIssue);
        for (long n : {5L, 6L, 7L})
            QCOMPARE(s.addOpen(inbound(n, n == 6 ? "ACME" : "OTHER"), kMorning, false).outcome, store::Outcome::kDone);
    };
    int calls = 0;
    {
        prepare();
        FaultyFiles files;
        Connection c(files);
        store::TicketStore s(d, store::CounterMeaning::kNextToIssue, {}, &c);
        const int start = files.count(Op(op));
        QCOMPARE(s.complete(6, std::string("ACME"), v, noon).outcome, store::Outcome::kDone);
        calls = files.count(Op(op)) - start;
    }
    QVERIFY(calls > 0);
    for (int n = 1; n <= calls; ++n) {
        prepare();
        FaultyFiles files;
        testsupport::EngineErrors errors;
        store::Outcome outcome;
        {
            Connection c(files);
            store::TicketStore s(d, store::CounterMeaning::kNextToIssue, {}, &c);
            cut ? files.cutAtNth(Op(op), n) : files.failNth(Op(op), n, EIO);
            outcome = s.complete(6, std::string("ACME"), v, noon).outcome;
        }
        files.restart();
        files.clearFaults();
        const QString where = QString("call %1 of %2 (outcome %3): ").arg(n).arg(calls).arg(int(outcome));
        if (!cut) {
            // Before the store works again: reported done means moved.
            if (outcome == store::Outcome::kDone) {
                QVERIFY2(copiesOf(d + "Mar1426.dbf", 6) == 1 && copiesOf(openPath, 6) == 0,
                         qPrintable(where + "reported done but not moved"));
            }
            if (outcome == store::Outcome::kNotSaved)
                QVERIFY2(copiesOf(openPath, 6) == 1, qPrintable(where + "reported not saved, but not where it was"));
        }
        {
            store::TicketStore s(d, store::CounterMeaning::kNextToIssue);
            QVERIFY2(s.recoverPending(), qPrintable(where + "the move could not be settled"));
        }
        const int inOpen = copiesOf(openPath, 6), inDay = copiesOf(d + "Mar1426.dbf", 6);
        QVERIFY2(inOpen + inDay == 1,
                 qPrintable(where + QString("%1 in the open table, %2 in the day table").arg(inOpen).arg(inDay)));
        if (outcome == store::Outcome::kDone || outcome == store::Outcome::kLeftBehind)
            QVERIFY2(inDay == 1, qPrintable(where + "reported stored, but not in the day table"));
        if (!cut && outcome == store::Outcome::kNotSaved)
            QVERIFY2(inOpen == 1, qPrintable(where + "reported not saved, but moved"));
        // The other tickets are untouched.
        QCOMPARE(copiesOf(openPath, 5), 1);
        QCOMPARE(copiesOf(openPath, 7), 1);
        QVERIFY(checkTableFile(openPath).empty());
        QVERIFY(checkTableFile(d + "Mar1426.dbf").empty());
    }
}

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"

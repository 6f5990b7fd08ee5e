// The rows the reports print, gathered from the tables: ranges across
// months and across an archived month, what is left out, tables that cannot
// be read, the lists in record order, and the CSV.

#include "ReportSite.h"

#include "reports/ReportData.h"

#include <QFileInfo>
#include <QtTest>

#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

using reporttest::Site;
using reporttest::Ticket;

namespace {

QStringList ticketsOf(const reports::Transactions& t)
{
    QStringList out;
    for (const auto& r : t.rows)
        out << QString::fromStdString(r.ticket + "@" + r.inDate);
    return out;
}

}  // namespace

class TestReportData : public QObject {
    Q_OBJECT

private slots:
    void ranges_data()
    {
        QTest::addColumn<xb::Date>("from");
        QTest::addColumn<xb::Date>("to");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("days");
        // Tables: Nov 29 archived (26Nov/), Nov 30 in both places (closed
        // early, then a late truck), Dec 01 and Dec 08 in the data
        // directory; none for the days between.
        QTest::newRow("one day") << xb::Date {2026, 12, 8} << xb::Date {2026, 12, 8} << QStringList {"80@12/08/26", "81@12/08/26"} << 1;
        QTest::newRow("across the month boundary, in date and record order")
            << xb::Date {2026, 11, 30} << xb::Date {2026, 12, 1}
            << QStringList {"99@11/30/26", "30@11/30/26", "10@12/01/26", "11@12/01/26"} << 3;
        QTest::newRow("an archived day is found in its month folder")
            << xb::Date {2026, 11, 29} << xb::Date {2026, 11, 29} << QStringList {"29@11/29/26"} << 1;
        QTest::newRow("the whole range")
            << xb::Date {2026, 11, 1} << xb::Date {2026, 12, 31}
            << QStringList {"29@11/29/26", "99@11/30/26", "30@11/30/26", "10@12/01/26", "11@12/01/26", "80@12/08/26",
                            "81@12/08/26", "77@12/31/26", "78@12/31/26"}
            << 7;
        QTest::newRow("a ticket in both copies counts once")
            << xb::Date {2026, 12, 31} << xb::Date {2026, 12, 31} << QStringList {"77@12/31/26", "78@12/31/26"} << 2;
        QTest::newRow("no table in the range") << xb::Date {2026, 12, 2} << xb::Date {2026, 12, 7} << QStringList {} << 0;
    }
    void ranges()
    {
        QFETCH(xb::Date, from);
        QFETCH(xb::Date, to);
        QFETCH(QStringList, expected);
        QFETCH(int, days);
        Site site;
        site.dayTable({2026, 11, 29}, {{29}}, "26Nov");
        site.dayTable({2026, 11, 30}, {{30}});
        site.dayTable({2026, 11, 30}, {{99}}, "26Nov");  // the month folder's copy first
        site.dayTable({2026, 12, 1}, {{10}, {.ticket = 12, .deleted = true}, {11}});  // deleted: no transaction
        site.dayTable({2026, 12, 8}, {{80}, {81}});
        site.dayTable({2026, 12, 31}, {{77}}, "26Dec");
        site.dayTable({2026, 12, 31}, {{77}, {78}});  // 77: a month end cut short after its copy
        const auto t = reports::gatherTransactions(site.data(), from, to);
        QVERIFY2(t.ok(), t.error.c_str());
        QCOMPARE(ticketsOf(t), expected);
        QCOMPARE(t.daysRead, days);
    }

    // Day tables carry two digits of the year: a range in which a day and
    // the same day a hundred years on both lie is refused, at once.
    void hundredYears_data()
    {
        QTest::addColumn<xb::Date>("from");
        QTest::addColumn<xb::Date>("to");
        QTest::addColumn<bool>("refused");
        QTest::newRow("a day short of a hundred years") << xb::Date {1926, 12, 9} << xb::Date {2026, 12, 8} << false;
        QTest::newRow("a hundred years") << xb::Date {1926, 12, 8} << xb::Date {2026, 12, 8} << true;
        QTest::newRow("from a 29 February") << xb::Date {1924, 2, 29} << xb::Date {2024, 3, 1} << true;
        QTest::newRow("years 1 to 9999") << xb::Date {1, 1, 1} << xb::Date {9999, 12, 31} << true;
    }
    void hundredYears()
    {
        QFETCH(xb::Date, from);
        QFETCH(xb::Date, to);
        QFETCH(bool, refused);
        Site site;
        site.dayTable({2026, 12, 8}, {{80}});
        const auto t = reports::gatherTransactions(site.data(), from, to);
        QCOMPARE(!t.ok(), refused);
        QCOMPARE(QString::fromStdString(t.error).contains("hundred years"), refused);
        QCOMPARE(ticketsOf(t), refused ? QStringList {} : QStringList {"80@12/08/26"});
    }

    void rowTexts()
    {
        Site site;
        site.dayTable({2026, 12, 8}, {{7, "ACME, \"THE\" HAULERS", "TOPSOIL", "XY 9", 45, 5, 1234567, 0}});
        const auto t = reports::gatherTransactions(site.data(), {2026, 12, 8}, {2026, 12, 8});
        QCOMPARE(int(t.rows.size()), 1);
        const auto line = reports::transactionLine(t.rows[0]);
        const reports::TransactionLine expected = {"7",   "ACME, \"THE\" HAULERS", "TOPSOIL", "XY 9",  "12/08/26", "0:45",
                                                   "1234567", "12/08/26", "0:05", "0", "1234567"};
        QCOMPARE(line, expected);
        QCOMPARE(QByteArray::fromStdString(reports::transactionsCsv(t.rows)),
                 QByteArray("\xEF\xBB\xBF" "TICKET,CUSTOMER NAME,PRODUCT,LICENSE PLATE,INBOUND DATE,INBOUND TIME,INBOUND WEIGHT,OUTBOUND DATE,"
                 "OUTBOUND TIME,OUTBOUND WEIGHT,NET\r\n"
                 "7,\"ACME, \"\"THE\"\" HAULERS\",TOPSOIL,XY 9,12/08/26,0:45,1234567,12/08/26,0:05,0,1234567\r\n"));
    }

    void unreadableTables_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("named");
        QTest::newRow("not a table") << "garbage" << "Dec0526.dbf: ";
        QTest::newRow("archived copy not a table") << "archived garbage" << "26Dec/Dec0526.dbf: ";
        QTest::newRow("another layout") << "customer layout" << "Dec0526.dbf: not a ticket table";
    }
    void unreadableTables()
    {
        QFETCH(QString, kind);
        QFETCH(QString, named);
        Site site;
        site.dayTable({2026, 12, 4}, {{4}});
        const std::string name = catalogue::dayTableName({2026, 12, 5});
        if (kind == "garbage") {
            site.garbage(site.data() + name);
        } else if (kind == "archived garbage") {
            QDir().mkpath(QString::fromStdString(site.data() + "26Dec"));
            site.garbage(site.data() + "26Dec/" + name);
        } else {
            QVERIFY(catalogue::CreateTable(catalogue::kCustomerLayout, site.data() + name));
        }
        auto contents = [&] {
            QFile f(QString::fromStdString(site.data() + name));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray before = contents();
        testsupport::EngineErrors engine;
        const auto t = reports::gatherTransactions(site.data(), {2026, 12, 1}, {2026, 12, 8});
        QVERIFY(!t.ok());
        QVERIFY2(QString::fromStdString(t.error).startsWith(named), t.error.c_str());
        QVERIFY(t.error.size() > std::size_t(named.size()));  // and says what is wrong
        // named in the report's message, not in a dialog of the engine's own
        QVERIFY(engine.messages.empty());
        // the file is left as it was
        QCOMPARE(contents(), before);
    }

    void lists()
    {
        Site site;
        site.master(catalogue::kCustomerLayout, {{"2", "ZED FARMS", "12 MILL RD", "1002"}, {"1", "ACME", "", "1001"}});
        site.master(catalogue::kProductLayout, {{"7", "PEA GRAVEL", "12.5", "300"}, {"8", "TOPSOIL", "", ""}});
        const auto c = reports::listRows(reports::ListKind::kCustomers, site.data());
        QVERIFY(c.ok());
        QCOMPARE(int(c.rows.size()), 2);
        QCOMPARE(c.rows[0], (reports::ListLine {"2", "ZED FARMS", "12 MILL RD", "1002"}));  // record order
        QCOMPARE(c.rows[1], (reports::ListLine {"1", "ACME", "", "1001"}));
        const auto p = reports::listRows(reports::ListKind::kProducts, site.data());
        QCOMPARE(p.rows[0], (reports::ListLine {"7", "PEA GRAVEL", "12.50", "300"}));
        QCOMPARE(p.rows[1], (reports::ListLine {"8", "TOPSOIL", "", ""}));
        QCOMPARE(QByteArray::fromStdString(reports::csvText(reports::listHeadings(reports::ListKind::kProducts), p.rows)),
                 QByteArray("\xEF\xBB\xBF" "CODE NO.,NAME,PRICE PER TONNAGE,BALANCE\r\n7,PEA GRAVEL,12.50,300\r\n8,TOPSOIL,,\r\n"));
    }

    void listTableFaults()
    {
        Site site;
        auto missing = reports::listRows(reports::ListKind::kCustomers, site.data());
        QVERIFY(!missing.ok());
        QVERIFY2(QString::fromStdString(missing.error).startsWith("Customer.dbf: the table does not exist"),
                 missing.error.c_str());
        site.garbage(site.data() + "Product.dbf");
        testsupport::EngineErrors engine;
        auto bad = reports::listRows(reports::ListKind::kProducts, site.data());
        QVERIFY(!bad.ok());
        QVERIFY2(QString::fromStdString(bad.error).startsWith("Product.dbf: "), bad.error.c_str());
    }

    void csvFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << "PEA GRAVEL" << "PEA GRAVEL";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("comma") << "A,B" << "\"A,B\"";
        QTest::newRow("quote") << "12\" PIPE" << "\"12\"\" PIPE\"";
        QTest::newRow("line end") << "A\nB" << "\"A\nB\"";
        QTest::newRow("UTF-8 kept") << "ÉPINETTE" << "ÉPINETTE";
        // What a spreadsheet would take for a formula is shown as text.
        QTest::newRow("equals") << "=1+2" << "'=1+2";
        QTest::newRow("plus") << "+CMD|' /C calc'!A0" << "'+CMD|' /C calc'!A0";
        QTest::newRow("minus word") << "-2+3" << "'-2+3";
        QTest::newRow("at") << "@SUM(A1)" << "'@SUM(A1)";
        QTest::newRow("tab") << "\t=1" << "'\t=1";
        QTest::newRow("carriage return") << "\r=1" << "\"'\r=1\"";
        QTest::newRow("formula with a comma") << "=HYPERLINK(\"x\",\"y\")" << "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\"";
        QTest::newRow("a negative number stays a number") << "-350" << "-350";
        QTest::newRow("a signed decimal stays a number") << "+12.5" << "+12.5";
        QTest::newRow("inside is harmless") << "A=B" << "A=B";
    }
    void csvFields()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(QString::fromStdString(reports::csvField(text.toStdString())), field);
    }

    // A nightly month end closes December while a report of the year is
    // being gathered: the day's table moves from the data directory (where
    // it was when the report began) to the month end's closing folder or to
    // the month's folder before the report reaches it. Its tickets exist
    // throughout, so the report must hold them, once.
    void monthEndWhileGathering_data()
    {
        QTest::addColumn<QString>("movedTo");
        QTest::newRow("into the month's folder") << "25Dec";
        QTest::newRow("into the month end's closing folder") << "MonthEnd/ME_25Dec.closing";
    }
    void monthEndWhileGathering()
    {
        QFETCH(QString, movedTo);
        Site site;
        std::vector<Ticket> day;
        for (long n = 1; n <= 40; ++n)
            day.push_back({n});
        long expected = 0;
        for (long jd = xb::Date {2025, 1, 1}.julianDay(); jd <= xb::Date {2025, 11, 30}.julianDay(); ++jd, expected += 40)
            QVERIFY(!site.dayTable(xb::Date::fromJulianDay(jd), day).empty());
        QVERIFY(!site.dayTable({2025, 12, 1}, {{9001}, {9002}, {9003}}).empty());
        expected += 3;
        const QString data = QString::fromStdString(site.data());

        // The month end, started the moment the report opens its first table.
        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const pid_t monthEnd = ::fork();
        if (monthEnd == 0) {
            const int in = ::inotify_init();
            if (in < 0 || ::inotify_add_watch(in, data.toLocal8Bit().constData(), IN_OPEN) < 0)
                ::_exit(3);
            (void)!::write(ready[1], "r", 1);
            alignas(inotify_event) char buf[4096];
            for (bool seen = false; !seen;) {
                const ssize_t n = ::read(in, buf, sizeof buf);
                if (n <= 0)
                    ::_exit(4);
                for (ssize_t i = 0; i < n;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
                    seen = seen || (e->len > 0 && std::string(e->name) == "Jan0125.dbf");
                    i += ssize_t(sizeof(inotify_event) + e->len);
                }
            }
            const bool moved = QDir().mkpath(data + movedTo) &&
                               ::rename((data + "Dec0125.dbf").toLocal8Bit().constData(),
                                        (data + movedTo + "/Dec0125.dbf").toLocal8Bit().constData()) == 0;
            ::_exit(moved ? 0 : 5);
        }
        char c;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        const auto t = reports::gatherTransactions(site.data(), {2025, 1, 1}, {2025, 12, 31});
        int status = -1;
        ::waitpid(monthEnd, &status, 0);
        QCOMPARE(status, 0);
        QVERIFY(QFile::exists(data + movedTo + "/Dec0125.dbf"));  // moved before the report reached it
        QVERIFY2(t.ok(), t.error.c_str());
        QCOMPARE(long(t.rows.size()), expected);
        QCOMPARE(t.rows.back().ticket, std::string("9003"));
    }

    void writeFileLeavesNothingHalfWritten()
    {
        QTemporaryDir dir;
        std::string error;
        const std::string path = dir.filePath("out.csv").toStdString();
        QVERIFY(reports::writeFile(path, "a,b\r\n", error));
        QVERIFY(!reports::writeFile(dir.filePath("no/such/dir/out.csv").toStdString(), "x", error));
        QVERIFY2(error.find("no/such/dir/out.csv: ") != std::string::npos, error.c_str());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"out.csv"});
    }

    // A planted link (or file) at a name the writer could use beside its
    // target is never followed or written over.
    void plantedLinksAreNotFollowed()
    {
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim");
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly));
        v.write("kept");
        v.close();
        const QString target = dir.filePath("out.csv");
        for (const QString& name : {target + ".new", target + ".tmp" + QString::number(QCoreApplication::applicationPid())})
            QVERIFY(QFile::link(victim, name));
        std::string error;
        QVERIFY2(reports::writeFile(target.toStdString(), "a,b\r\n", error), error.c_str());
        QVERIFY(v.open(QIODevice::ReadOnly));
        QCOMPARE(v.readAll(), QByteArray("kept"));
        QFile out(target);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("a,b\r\n"));
        QVERIFY(!QFileInfo(target).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestReportData)
#include "test_reportdata.moc"

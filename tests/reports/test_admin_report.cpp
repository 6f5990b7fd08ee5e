// grazulo-admin report run as the administrator runs it: its errors and
// exit statuses, no file written on any error, the CSV it writes, and the
// PDF's pages.

#include "ReportSite.h"

#include <QFileInfo>
#include <QtTest>

using reporttest::Site;

namespace {

testsupport::RunResult admin(const Site& site, QStringList args)
{
    args.prepend(QString::fromStdString(site.home()));
    args.prepend("--home");
    return testsupport::run(testsupport::binDir() + "/grazulo-admin", args);
}

}  // namespace

class TestAdminReport : public QObject {
    Q_OBJECT

    std::unique_ptr<Site> site_;
    QString out(const char* name) const { return QString::fromStdString(site_->home()) + name; }

private slots:
    void init()
    {
        site_ = std::make_unique<Site>();
        site_->dayTable({2026, 11, 30}, {{30, "ACME, \"THE\" HAULERS"}}, "26Nov");
        site_->dayTable({2026, 12, 1}, {{10}, {11, "ZED FARMS", "TOPSOIL", "Q 1", 705, 1159, 20000, 5000}});
        site_->master(catalogue::kCustomerLayout, {{"2", "ZED FARMS", "12 MILL RD", "1002"}, {"1", "ACME", "", "1001"}});
        site_->master(catalogue::kProductLayout, {{"7", "PEA GRAVEL", "12.5", "300"}});
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QStringList o = {"-o", "OUT.pdf"};
        QTest::newRow("no report named") << (QStringList {"report"} << o) << "" << 2 << "which report";
        QTest::newRow("unknown report") << (QStringList {"report", "tickets"} << o) << "" << 2 << "unknown report tickets";
        QTest::newRow("no -o") << QStringList {"report", "customers"} << "" << 2 << "-o FILE is missing";
        QTest::newRow("-o without a file") << QStringList {"report", "customers", "-o"} << "" << 2 << "-o needs a file name";
        QTest::newRow("neither pdf nor csv") << QStringList {"report", "customers", "-o", "OUT.txt"} << "" << 2
                                             << "must end in .pdf or .csv";
        QTest::newRow("one date only") << (QStringList {"report", "transactions", "2026-12-01"} << o) << "" << 2
                                       << "needs FROM and TO";
        QTest::newRow("a list takes no dates") << (QStringList {"report", "products", "2026-12-01"} << o) << "" << 2
                                               << "takes no other arguments";
        QTest::newRow("no such day") << (QStringList {"report", "transactions", "2026-02-30", "2026-12-01"} << o) << ""
                                     << 2 << "2026-02-30 is not a date";
        QTest::newRow("another date form") << (QStringList {"report", "transactions", "12/01/2026", "2026-12-08"} << o)
                                           << "" << 2 << "12/01/2026 is not a date";
        QTest::newRow("words") << (QStringList {"report", "transactions", "2026-12-01", "yesterday"} << o) << "" << 2
                               << "yesterday is not a date";
        QTest::newRow("to before from") << (QStringList {"report", "transactions", "2026-12-08", "2026-12-01"} << o)
                                        << "" << 2 << "The Dates are invalid!";
        QTest::newRow("no setup.dbf") << (QStringList {"report", "customers"} << o) << "no setup" << 1
                                      << "setup.dbf does not exist";
        QTest::newRow("blank datapath") << (QStringList {"report", "customers"} << o) << "blank datapath" << 1
                                        << "names no data directory";
        QTest::newRow("no customer table") << (QStringList {"report", "customers"} << o) << "no customers" << 1
                                           << "Customer.dbf: the table does not exist";
        QTest::newRow("unreadable day table") << (QStringList {"report", "transactions", "2026-11-01", "2026-12-31"} << o)
                                              << "bad day" << 1 << "Dec0526.dbf: not a table";
        QTest::newRow("unwritable file") << QStringList {"report", "customers", "-o", "/nonexistent/dir/x.csv"} << "" << 1
                                         << "/nonexistent/dir/x.csv: ";
    }
    void errors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, setUp);
        QFETCH(int, status);
        QFETCH(QString, message);
        if (setUp == "no setup") {
            QFile::remove(QString::fromStdString(site_->home() + "setup.dbf"));
        } else if (setUp == "blank datapath") {
            const auto r = testsupport::run(testsupport::binDir() + "/dbftool",
                                            {"set", QString::fromStdString(site_->home() + "setup.dbf"), "1", "datapath="});
            QCOMPARE(r.exitCode, 0);
        } else if (setUp == "no customers") {
            QFile::remove(QString::fromStdString(site_->data() + "Customer.dbf"));
        } else if (setUp == "bad day") {
            site_->garbage(site_->data() + "Dec0526.dbf");
        }
        args.replaceInStrings("OUT", QString::fromStdString(site_->home()) + "out");
        const auto r = admin(*site_, args);
        QCOMPARE(r.exitCode, status);
        QVERIFY2(QString::fromUtf8(r.err).startsWith("grazulo-admin: "), r.err.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFileInfo::exists(out("out.pdf")));
        QCOMPARE(QDir(QString::fromStdString(site_->home())).entryList({"out*"}, QDir::Files), QStringList {});
    }

    void transactionsCsv()
    {
        const auto r = admin(*site_, {"report", "transactions", "2026-11-30", "2026-12-01", "-o", out("t.csv")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.isEmpty(), r.err.constData());
        QCOMPARE(QString::fromUtf8(r.out).trimmed(), out("t.csv") + ": 3 transactions from 2 day tables");
        QFile f(out("t.csv"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("\xEF\xBB\xBF" "TICKET,CUSTOMER NAME,PRODUCT,LICENSE PLATE,INBOUND DATE,INBOUND TIME,INBOUND WEIGHT,OUTBOUND DATE,"
                 "OUTBOUND TIME,OUTBOUND WEIGHT,NET\r\n"
                 "30,\"ACME, \"\"THE\"\" HAULERS\",PEA GRAVEL,ABC 123,11/30/26,9:35,14020,11/30/26,14:05,8760,5260\r\n"
                 "10,ACME HAULING,PEA GRAVEL,ABC 123,12/01/26,9:35,14020,12/01/26,14:05,8760,5260\r\n"
                 "11,ZED FARMS,TOPSOIL,Q 1,12/01/26,7:05,20000,12/01/26,11:59,5000,15000\r\n"));
    }

    void listCsv_data()
    {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("expected");
        QTest::newRow("customers") << "customers"
                                   << "CODE NO.,NAME,CONTACT,FAX\r\n2,ZED FARMS,12 MILL RD,1002\r\n1,ACME,,1001\r\n";
        QTest::newRow("products") << "products" << "CODE NO.,NAME,PRICE PER TONNAGE,BALANCE\r\n7,PEA GRAVEL,12.50,300\r\n";
    }
    void listCsv()
    {
        QFETCH(QString, report);
        QFETCH(QString, expected);
        const auto r = admin(*site_, {"report", report, "-o", out("l.CSV")});
        QCOMPARE(r.exitCode, 0);
        QFile f(out("l.CSV"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), "\xEF\xBB\xBF" + expected.toUtf8());  // UTF-8 with its byte-order mark
    }

    void pdfWithoutDisplay()
    {
        // no display and no platform named: the tool draws offscreen
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.start(testsupport::binDir() + "/grazulo-admin",
                {"--home", QString::fromStdString(site_->home()), "report", "transactions", "2026-11-01", "2026-12-31",
                 "-o", out("t.pdf")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(p.readAllStandardError().isEmpty(), "nothing but errors on standard error");
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
                 out("t.pdf") + ": 3 transactions from 2 day tables, 1 page");
        const auto words = reporttest::pdfWords(out("t.pdf"));
        QCOMPARE(reporttest::pageCount(words), 1);
        QVERIFY(reporttest::find(words, 1, "Nov"));  // "Nov 01, 2026"
        const auto lines = reporttest::pageLines(words, 1);
        QVERIFY2(lines.contains("Transactions = 3"), qPrintable(lines.join('\n')));
    }

    void emptyRangePdf()
    {
        const auto r = admin(*site_, {"report", "transactions", "2027-01-01", "2027-01-31", "-o", out("e.pdf")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromUtf8(r.out).trimmed(), out("e.pdf") + ": 0 transactions from 0 day tables, 1 page");
        const auto lines = reporttest::pageLines(reporttest::pdfWords(out("e.pdf")), 1);
        QVERIFY2(lines.contains("Transactions = 0"), qPrintable(lines.join('\n')));
    }

    void listPdf()
    {
        const auto r = admin(*site_, {"report", "customers", "-o", out("c.pdf")});
        QCOMPARE(r.exitCode, 0);
        const auto lines = reporttest::pageLines(reporttest::pdfWords(out("c.pdf")), 1);
        QCOMPARE(lines.mid(0, 1), QStringList {"CUSTOMER RECORDS"});
        QVERIFY2(lines.indexOf("2 ZED FARMS 12 MILL RD 1002") < lines.indexOf("1 ACME 1001"), qPrintable(lines.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestAdminReport)
#include "test_admin_report.moc"

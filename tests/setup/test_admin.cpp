// grazulo-admin's month-end and move-data: the same work as the windows,
// its messages and exit statuses.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestAdmin : public QObject {
    Q_OBJECT

    testsupport::RunResult admin(const QStringList& args)
    {
        return testsupport::run(testsupport::binDir() + "/grazulo-admin", QStringList {"--home", home_->path()} + args);
    }

private slots:
    void init()
    {
        home_ = std::make_unique<QTemporaryDir>("/tmp/adm-XXXXXX");
        xb::Connection c;
        xb::Table* t = c.create((home_->path() + "/setup.dbf").toStdString(),
                                catalogue::layoutFields(catalogue::kSetupLayout));
        t->appendStart();
        t->blank();
        t->field("datapath")->assign((home_->path() + "/data/").toStdString());
        QCOMPARE(t->append(), xb::kSuccess);
        QCOMPARE(t->close(), xb::kSuccess);
        QVERIFY(QDir().mkpath(home_->path() + "/data"));
        QVERIFY(QDir().mkpath(home_->path() + "/other"));
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("month 13") << QStringList {"month-end", "2026", "13"} << 2 << "is not a month";
        QTest::newRow("year of letters") << QStringList {"month-end", "20x6", "1"} << 2 << "is not a year";
        QTest::newRow("no arguments") << QStringList {"month-end"} << 2 << "usage";
        QTest::newRow("a month with nothing") << QStringList {"month-end", "2026", "1"} << 1 << "nothing was done";
        QTest::newRow("no such directory") << QStringList {"move-data", "/no/such"} << 2 << "Invalid Directory.";
        QTest::newRow("unknown command") << QStringList {"frobnicate"} << 2 << "unknown command";
    }
    void errors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const auto r = admin(args);
        QTEST(r.exitCode, "status");
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

    void monthEndAndMove()
    {
        QVERIFY(testsupport::writeTicketTable(home_->path() + "/data/Jan0526.dbf", {{7, "ACME", "", 0, true}}));
        auto r = admin({"month-end", "2026", "1"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Month End procedure completed for January, 2026.\n"));
        QVERIFY(QFile::exists(home_->path() + "/data/MonthEnd/ME_26Jan.dbf"));

        QVERIFY(testsupport::writeTicketTable(home_->path() + "/data/ticket.dbf", {{1, "OLD"}}));
        QVERIFY(testsupport::writeTicketTable(home_->path() + "/other/ticket.dbf", {{2, "NEW"}}));
        r = admin({"move-data", home_->path() + "/other"});  // every question answered No
        QCOMPARE(r.exitCode, 0);
        QVERIFY(QString::fromUtf8(r.err).contains("Inbound data file exists in the new directory. Replace the existing file? No"));
        QCOMPARE(testsupport::tableRows(home_->path() + "/other/ticket.dbf")[0]["customer"], std::string("NEW"));
        QVERIFY(QFile::exists(home_->path() + "/data/ticket.dbf"));
        r = admin({"move-data", home_->path() + "/data", "--replace"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(testsupport::tableRows(home_->path() + "/data/ticket.dbf")[0]["customer"], std::string("NEW"));
        QVERIFY(!QFile::exists(home_->path() + "/other/ticket.dbf"));
    }

private:
    std::unique_ptr<QTemporaryDir> home_;
};

QTEST_GUILESS_MAIN(TestAdmin)
#include "test_admin.moc"

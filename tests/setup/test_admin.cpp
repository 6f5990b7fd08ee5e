// grazulo-admin's month-end and move-data: the same work as the windows,
// its messages and exit statuses.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"

#include <QDir>
#include <QProcess>
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
        QTest::newRow("new site over a site") << QStringList {"new-site", "HOME"} << 1 << "holds a setup.dbf already";
        QTest::newRow("printer on the card port") << QStringList {"new-site", "NEW", "--printer-port", "2"} << 2
                                                  << "port 2 is the card reader's";
        QTest::newRow("printer type 6") << QStringList {"new-site", "NEW", "--printer-type", "6"} << 2
                                        << "is not a printer type";
        QTest::newRow("scale and printer on one port") << QStringList {"new-site", "NEW", "--scale-port", "3"} << 2
                                                       << "cannot share port 3";
    }
    void errors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        args.replaceInStrings("HOME", home_->path());
        args.replaceInStrings("NEW", home_->path() + "/newsite");
        const auto r = admin(args);
        QTEST(r.exitCode, "status");
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(home_->path() + "/newsite"));
    }

    // A new site the kiosk and the station can start on.
    void newSite()
    {
        const QString site = home_->path() + "/site";
        const auto r = testsupport::run(testsupport::binDir() + "/grazulo-admin",
                                        {"new-site", site, "--printer-type", "3", "--scale-port", "4"});
        QCOMPARE(r.exitCode, 0);
        auto setup = testsupport::tableRows(site + "/setup.dbf");
        QCOMPARE(setup.size(), std::size_t(1));
        QCOMPARE(setup[0]["scalport"], std::string("4"));
        QCOMPARE(setup[0]["prtport"], std::string("3"));
        QCOMPARE(setup[0]["printer"], std::string("3"));
        QCOMPARE(setup[0]["datapath"], (site + "/database/").toStdString());
        for (const char* f : {"setup.ini", "warning.bmp", "error.bmp", "question.bmp", "database/customer.dbf",
                              "database/customer.cdx", "database/product.dbf", "database/control.dbf",
                              "database/house.dbf"})
            QVERIFY2(QFile::exists(site + "/" + f), f);
        QCOMPARE(testsupport::tableRows(site + "/database/control.dbf")[0]["company"], std::string("0"));
        QVERIFY(testsupport::run(testsupport::binDir() + "/dbftool", {"check", site + "/database"}).exitCode == 0);
        // Every key the program reads is in setup.ini.
        QFile ini(site + "/setup.ini");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(ini.readAll());
        for (const char* key : {"[Inbound]", "[Outbound]", "msg1=", "msg2=", "[Timer]", "license=", "outbound=",
                                "instructions=", "[Scale]", "steady=", "[Ports]", "com1=", "com2=", "com3=", "lpt1="})
            QVERIFY2(text.contains(key), key);
        // Kept on request: the setup table stays as it is.
        const auto again = testsupport::run(testsupport::binDir() + "/grazulo-admin",
                                            {"new-site", site, "--keep-setup", "--printer-type", "1"});
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(testsupport::tableRows(site + "/setup.dbf")[0]["printer"], std::string("3"));
    }

    // Directories given relative to where the tool runs are stored absolute:
    // the kiosk's service runs from another directory.
    void relativePaths_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("setup");   // the setup.dbf to read, below the home
        QTest::addColumn<QString>("stored");  // its datapath afterwards, below the home
        QTest::newRow("new-site") << QStringList {"new-site", "site"} << "site/setup.dbf" << "site/database/";
        QTest::newRow("new-site --data-dir")
            << QStringList {"new-site", "site", "--data-dir", "./site/../other"} << "site/setup.dbf" << "other/";
        QTest::newRow("move-data") << QStringList {"--home", ".", "move-data", "other"} << "setup.dbf" << "other/";
    }
    void relativePaths()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, setup);
        QFETCH(QString, stored);
        QVERIFY(testsupport::writeTicketTable(home_->path() + "/data/ticket.dbf", {{1, "OPEN"}}));
        QProcess p;
        p.setWorkingDirectory(home_->path());
        p.start(testsupport::binDir() + "/grazulo-admin", args);
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QCOMPARE(QString::fromStdString(testsupport::tableRows(home_->path() + "/" + setup)[0]["datapath"]),
                 home_->path() + "/" + stored);
    }

    // A move of the data directory cut short is settled before the tool's
    // command uses any table.
    void settlesAnInterruptedMove()
    {
        QVERIFY(testsupport::writeTicketTable(home_->path() + "/data/ticket.dbf", {{1, "OPEN"}}));
        QVERIFY(QFile::copy(home_->path() + "/data/ticket.dbf", home_->path() + "/other/ticket.dbf.moving"));
        QFile note(home_->path() + "/move-data.pending");
        QVERIFY(note.open(QIODevice::WriteOnly));
        note.write(("old=" + home_->path() + "/data/\nnew=" + home_->path() + "/other/\ndatapath=" + home_->path() +
                    "/other/\nfile=" + home_->path() + "/data/ticket.dbf\nto=" + home_->path() +
                    "/other/ticket.dbf\nend\n")
                       .toUtf8());
        note.close();
        const auto r = admin({"month-end", "2026", "1"});
        QCOMPARE(r.exitCode, 1);  // no day table: nothing to close
        QVERIFY2(QString::fromUtf8(r.err).contains("had been cut short; it was finished"), r.err.constData());
        QCOMPARE(testsupport::tableRows(home_->path() + "/setup.dbf")[0]["datapath"],
                 (home_->path() + "/other/").toStdString());
        QVERIFY(QFile::exists(home_->path() + "/other/ticket.dbf"));
        QVERIFY(!QFile::exists(home_->path() + "/data/ticket.dbf"));
        QVERIFY(!QFile::exists(home_->path() + "/move-data.pending"));
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

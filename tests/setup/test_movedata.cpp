// Moving the data directory on real files: the checks of the typed path, the
// replace questions, the same directory under another name, a missing setup
// table; a failure that leaves everything as it was; and kills at random
// moments, after which every table is whole in a directory the setup table
// names, and the next move finishes the job.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "setup/MoveData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void writeSetup(const QString& programDir, const std::string& datapath)
{
    xb::Connection c;
    xb::Table* t = c.create((programDir + "/setup.dbf").toStdString(), catalogue::layoutFields(catalogue::kSetupLayout));
    QVERIFY(t);
    t->appendStart();
    t->blank();
    t->field("scalport")->assign("1");
    t->field("prtport")->assign("3");
    t->field("datapath")->assign(datapath);
    QCOMPARE(t->append(), xb::kSuccess);
    QCOMPARE(t->close(), xb::kSuccess);
}

std::string datapath() { return testsupport::tableRows(QString::fromStdString(catalogue::setupTablePath()))[0]["datapath"]; }

// The four tables of a data directory, each holding `n` records named by `tag`.
void writeTables(const QString& dir, const std::string& tag, int n = 3)
{
    QDir().mkpath(dir);
    for (auto [name, layout] : {std::pair {"customer.dbf", catalogue::kCustomerLayout},
                                {"product.dbf", catalogue::kProductLayout},
                                {"house.dbf", catalogue::kCompanyLayout}}) {
        xb::Connection c;
        xb::Table* t = c.create((dir + "/" + name).toStdString(), catalogue::layoutFields(layout),
                                catalogue::layoutTags(layout));
        QVERIFY(t);
        for (int i = 0; i < n; ++i) {
            t->appendStart();
            t->blank();
            t->field("n_ame")->assign(tag + " " + std::to_string(i));
            QCOMPARE(t->append(), xb::kSuccess);
        }
        QCOMPARE(t->close(), xb::kSuccess);
    }
    QVERIFY(testsupport::writeTicketTable(dir + "/ticket.dbf", {{1, tag.c_str()}}));
}

// The name in the first record of a table, or "" when it is missing.
std::string firstName(const QString& path, const char* field = "n_ame")
{
    auto rows = testsupport::tableRows(path);
    return rows.empty() ? std::string() : rows[0][field];
}

}  // namespace

class TestMoveData : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>("/tmp/mv-XXXXXX");
        qputenv("GRAZULO_HOME", dir_->path().toUtf8());
    }
    void cleanup() { qunsetenv("GRAZULO_HOME"); }

    void checks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("check");
        const QString base = "/tmp/";
        QTest::newRow("an existing directory") << "/tmp" << int(setup::PathCheck::kOk);
        QTest::newRow("51 characters") << base + QString(46, 'x') << int(setup::PathCheck::kTooLong);
        QTest::newRow("no such directory") << "/tmp/no/such/dir" << int(setup::PathCheck::kNoDirectory);
        QTest::newRow("a file") << "/etc/hostname" << int(setup::PathCheck::kNoDirectory);
    }
    void checks()
    {
        QFETCH(QString, text);
        QTEST(int(setup::checkPath(text.toStdString())), "check");
        // Exactly 50 characters passes the length test.
        const QString fifty = dir_->path() + "/" + QString(49 - dir_->path().size(), 'd');
        QVERIFY(QDir().mkpath(fifty));
        QCOMPARE(fifty.size(), 50);
        QCOMPARE(setup::checkPath(fifty.toStdString()), setup::PathCheck::kOk);
    }

    // The replace questions: Yes replaces that table, No keeps both copies;
    // the groups go on and the setup table names the new directory.
    void questions()
    {
        const QString from = dir_->path() + "/old", to = dir_->path() + "/new";
        writeTables(from, "OLD");
        writeTables(to, "NEW");
        QFile::remove(to + "/product.dbf");
        QFile::remove(to + "/product.cdx");
        writeSetup(dir_->path(), (from + "/").toStdString());
        std::vector<std::string> asked;
        const auto r = setup::moveData((to + "/").toStdString(), [&](const std::string& q) {
            asked.push_back(q);
            return q.rfind("Customer", 0) == 0;  // Yes for customers only
        });
        QVERIFY2(r.ok, r.message.c_str());
        QCOMPARE(asked, (std::vector<std::string> {
                            "Customer data file exists in the new directory.\rReplace the existing file?",
                            "Inbound data file exists in the new directory.\rReplace the existing file?",
                            "Login data file exists in the new directory.\rReplace the existing file?"}));
        QCOMPARE(firstName(to + "/customer.dbf"), std::string("OLD 0"));
        QVERIFY(!QFile::exists(from + "/customer.dbf") && !QFile::exists(from + "/customer.cdx"));
        QCOMPARE(firstName(to + "/product.dbf"), std::string("OLD 0"));  // no question: moved
        QVERIFY(QFile::exists(to + "/product.cdx"));
        QCOMPARE(firstName(to + "/ticket.dbf", "customer"), std::string("NEW"));  // No: both stay
        QCOMPARE(firstName(from + "/ticket.dbf", "customer"), std::string("OLD"));
        QCOMPARE(firstName(to + "/house.dbf"), std::string("NEW 0"));
        QCOMPARE(datapath(), (to + "/").toStdString());
        QVERIFY(testsupport::run(testsupport::binDir() + "/dbftool", {"check", to}).exitCode == 0);
        QVERIFY(!QFile::exists(QString::fromStdString(setup::pendingPath())));
    }

    // The directory the tables are in, under another name: nothing moves,
    // nothing is asked, the setup table takes the text as typed.
    void sameDirectory_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("without the separator") << "/data";
        QTest::newRow("through a link") << "/link";
    }
    void sameDirectory()
    {
        QFETCH(QString, typed);
        const QString data = dir_->path() + "/data";
        writeTables(data, "OLD");
        QVERIFY(QFile::link(data, dir_->path() + "/link"));
        writeSetup(dir_->path(), (data + "/").toStdString());
        bool asked = false;
        const auto r = setup::moveData((dir_->path() + typed).toStdString(), [&](const std::string&) {
            asked = true;
            return true;
        });
        QVERIFY(r.ok);
        QVERIFY(!asked && r.moved.empty());
        QCOMPARE(firstName(data + "/customer.dbf"), std::string("OLD 0"));
        QCOMPARE(datapath(), (dir_->path() + typed).toStdString());
        // Another letter case is another directory here.
        QVERIFY(QDir().mkpath(dir_->path() + "/DATA"));
        QVERIFY(setup::moveData((dir_->path() + "/DATA").toStdString(), nullptr).ok);
        QCOMPARE(firstName(dir_->path() + "/DATA/customer.dbf"), std::string("OLD 0"));
    }

    // No setup table: the tables are in the program directory; the move
    // makes the table with its defaults.
    void noSetupTable()
    {
        writeTables(dir_->path(), "OLD");
        QCOMPARE(setup::currentDataDir(), (dir_->path() + "/").toStdString());
        const QString to = dir_->path() + "/new";
        QVERIFY(QDir().mkpath(to));
        QVERIFY(setup::moveData(to.toStdString(), nullptr).ok);
        auto rows = testsupport::tableRows(dir_->path() + "/setup.dbf");
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows[0]["datapath"], to.toStdString());
        QCOMPARE(rows[0]["scalport"], std::string("1"));
        QCOMPARE(rows[0]["prtport"], std::string("3"));
        QCOMPARE(rows[0]["tone"], std::string("T"));
        QCOMPARE(firstName(to + "/customer.dbf"), std::string("OLD 0"));
    }

    // A copy that cannot be made: the old directory and the setup table
    // stay as they were, nothing half-written is left in the new one.
    void failureChangesNothing()
    {
        const QString from = dir_->path() + "/old", to = dir_->path() + "/new";
        writeTables(from, "OLD");
        QVERIFY(QDir().mkpath(to));
        writeSetup(dir_->path(), (from + "/").toStdString());
        QVERIFY(QDir().mkpath(to + "/house.dbf.moving"));  // the last copy cannot be written
        const auto r = setup::moveData(to.toStdString(), nullptr);
        QVERIFY(!r.ok);
        QVERIFY2(QString::fromStdString(r.message).contains("Nothing was changed"), r.message.c_str());
        QCOMPARE(datapath(), (from + "/").toStdString());
        QCOMPARE(firstName(from + "/customer.dbf"), std::string("OLD 0"));
        QStringList left = QDir(to).entryList(QDir::Files);
        QCOMPARE(left, QStringList());
    }

    void killedAndRunAgain()
    {
        uint64_t seed = std::random_device {}();
        if (qEnvironmentVariableIsSet("GRAZULO_CRASH_SEED"))
            seed = qEnvironmentVariable("GRAZULO_CRASH_SEED").toULongLong();
        qInfo("seed %llu (set GRAZULO_CRASH_SEED to repeat the kill times)", (unsigned long long)seed);
        std::mt19937_64 rng(seed);
        const char* tables[] = {"customer.dbf", "product.dbf", "ticket.dbf", "house.dbf"};
        // How long one move takes here: the kills are spread over it.
        double whole = 0;
        {
            QTemporaryDir home("/tmp/mvk-XXXXXX");
            qputenv("GRAZULO_HOME", home.path().toUtf8());
            writeTables(home.path() + "/old", "OLD", 400);
            QVERIFY(QDir().mkpath(home.path() + "/new"));
            writeSetup(home.path(), (home.path() + "/old/").toStdString());
            const auto start = std::chrono::steady_clock::now();
            QVERIFY(setup::moveData((home.path() + "/new").toStdString(), nullptr).ok);
            whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        std::uniform_real_distribution<double> delay(0, whole * 1.3);
        int inside = 0;
        for (int round = 0; round < 40; ++round) {
            QTemporaryDir home("/tmp/mvk-XXXXXX");
            qputenv("GRAZULO_HOME", home.path().toUtf8());
            const QString from = home.path() + "/old", to = home.path() + "/new";
            writeTables(from, "OLD", 400);
            QVERIFY(QDir().mkpath(to));
            writeSetup(home.path(), (from + "/").toStdString());
            const pid_t child = ::fork();
            if (child == 0)
                ::_exit(setup::moveData(to.toStdString(), nullptr).ok ? 0 : 1);
            std::this_thread::sleep_for(std::chrono::duration<double>(delay(rng)));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            if (QFile::exists(QString::fromStdString(setup::pendingPath())))
                ++inside;
            // Whatever the kill left: the named directory holds every table whole.
            const QString named = QString::fromStdString(catalogue::AddBackslash(datapath()));
            for (const char* t : tables) {
                const auto rows = testsupport::tableRows(named + t);
                QVERIFY2(rows.size() == (std::string(t) == "ticket.dbf" ? 1u : 400u),
                         qPrintable(QString("round %1: %2 in %3").arg(round).arg(t).arg(named)));
            }
            // The next move finishes the job.
            std::string error;
            QVERIFY2(setup::finishInterruptedMove(error), error.c_str());
            const auto r = setup::moveData(to.toStdString(), nullptr);
            QVERIFY2(r.ok, r.message.c_str());
            QCOMPARE(datapath(), to.toStdString());
            for (const char* t : tables)
                QVERIFY(testsupport::tableRows(to + "/" + t).size() == (std::string(t) == "ticket.dbf" ? 1u : 400u));
            QVERIFY(testsupport::run(testsupport::binDir() + "/dbftool", {"check", to}).exitCode == 0);
            for (const QString& f : QDir(to).entryList(QDir::Files))
                QVERIFY2(!f.endsWith(".moving") && !f.contains(".copy-"), qPrintable(f));
        }
        qInfo("40 kills over a move of %.1f ms; %d came while a move was recorded and not finished", whole * 1e3,
              inside);
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_GUILESS_MAIN(TestMoveData)
#include "test_movedata.moc"

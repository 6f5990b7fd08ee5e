// Moving the data directory on real files: the checks of the typed path, the
// replace questions, the same directory under another name, a missing setup
// table; a failure that leaves everything as it was; and kills at random
// moments, after which every table is whole in a directory the setup table
// names, a truck weighed in there before the next start is not lost, and the
// next move finishes the job.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "setup/MoveData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
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

// A record another program adds while the move goes on: an open ticket (the
// kiosk or the station weighs a truck in) or a customer.
bool addRecord(const QString& path, const std::string& name)
{
    xb::Connection c;
    xb::Table* t = c.open(path.toStdString());
    if (!t || t->appendStart() != xb::kSuccess)
        return false;
    t->blank();
    t->field(t->field("customer") ? "customer" : "n_ame")->assign(name);
    return t->append() == xb::kSuccess && t->close() == xb::kSuccess;
}

std::vector<std::string> names(const QString& path, const char* field = "n_ame")
{
    std::vector<std::string> out;
    for (auto& r : testsupport::tableRows(path))
        out.push_back(r[field]);
    return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

// A file the move cannot remove: immutable for root, its directory closed
// for anyone else. False where neither can be had.
bool pin(const QString& path, bool on)
{
    if (::geteuid() != 0)
        return QFile::setPermissions(QFileInfo(path).path(), on ? QFile::ReadOwner | QFile::ExeOwner
                                                                : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

void writeCounter(const QString& path, long last)
{
    xb::Connection c;
    xb::Table* t = c.create(path.toStdString(), {{"company", 'N', 10, 0}});
    QVERIFY(t);
    t->appendStart();
    t->blank();
    t->field("company")->assignInteger(last);
    QCOMPARE(t->append(), xb::kSuccess);
    QCOMPARE(t->close(), xb::kSuccess);
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
    void cleanup()
    {
        setup::setStepHook({});
        qunsetenv("GRAZULO_HOME");
    }

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

    // The kiosk and the station go on writing in the old directory while a
    // move runs or lies killed: at each step of the move another program adds
    // an open ticket and a customer there; the move dies there or goes on;
    // the program's next start settles what a killed one left.
    void interleavings_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("killed");
        // Where the written records must be afterwards: "new" (in the new
        // directory's tables, the old ones gone), "old" (the move had not
        // begun: all stays, and the next move takes them along) or "kept"
        // (the setup table named the new directory already and nothing
        // tells whether its copies were written since: the old tables,
        // changed since they were copied, stay with them).
        QTest::addColumn<QString>("where");
        QTest::newRow("at copied, killed") << "copied" << true << "old";
        QTest::newRow("at copied, move goes on") << "copied" << false << "new";
        for (const char* step : {"recorded", "placed"}) {
            QTest::addRow("at %s, killed", step) << step << true << "new";
            QTest::addRow("at %s, move goes on", step) << step << false << "new";
        }
        QTest::newRow("at switched, killed") << "switched" << true << "kept";
        QTest::newRow("at switched, move goes on") << "switched" << false << "new";
    }
    void interleavings()
    {
        QFETCH(QString, step);
        QFETCH(bool, killed);
        QFETCH(QString, where);
        const QString from = dir_->path() + "/old", to = dir_->path() + "/new";
        writeTables(from, "OLD");
        QVERIFY(QDir().mkpath(to));
        writeSetup(dir_->path(), (from + "/").toStdString());
        const pid_t child = ::fork();
        if (child == 0) {
            setup::setStepHook([&](const std::string& at) {
                if (at != step.toStdString())
                    return;
                if (!addRecord(from + "/ticket.dbf", "LATE TRUCK") || !addRecord(from + "/customer.dbf", "LATE CUSTOMER"))
                    ::_exit(3);
                if (killed)
                    ::_exit(9);
            });
            ::_exit(setup::moveData(to.toStdString(), nullptr).ok ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), killed ? 9 : 0);
        if (killed) {
            const setup::Settled s = setup::settleInterruptedMove();  // the program's next start
            QCOMPARE(s.found, where != "old");
            QVERIFY2(s.ok && (!s.found || QString::fromStdString(s.message).contains("finished")), s.message.c_str());
        }
        if (where == "old") {
            QCOMPARE(datapath(), (from + "/").toStdString());
            QVERIFY(contains(names(from + "/ticket.dbf", "customer"), "LATE TRUCK"));
            QVERIFY(setup::moveData(to.toStdString(), nullptr).ok);  // the next move takes them along
            where = "new";
        }
        QCOMPARE(datapath(), to.toStdString());
        QVERIFY(!QFile::exists(QString::fromStdString(setup::pendingPath())));
        if (where == "new") {
            QVERIFY(contains(names(to + "/ticket.dbf", "customer"), "LATE TRUCK"));
            QVERIFY(contains(names(to + "/customer.dbf"), "LATE CUSTOMER"));
            QCOMPARE(QDir(from).entryList(QDir::Files), QStringList());
        } else {
            QVERIFY(contains(names(from + "/ticket.dbf", "customer"), "LATE TRUCK"));
            QVERIFY(contains(names(from + "/customer.dbf"), "LATE CUSTOMER"));
            QCOMPARE(names(to + "/customer.dbf").size(), std::size_t(3));
        }
        QCOMPARE(testsupport::run(testsupport::binDir() + "/dbftool", {"check", to}).exitCode, 0);
        for (const QString& f : QDir(to).entryList(QDir::Files))
            QVERIFY2(!f.endsWith(".moving") && !f.contains(".copy-"), qPrintable(f));
    }

    // Where the tables are and where they go, as the setup table and the
    // operator give them: relative, blank, or nowhere to be found.
    void directories_data()
    {
        QTest::addColumn<QString>("given");     // datapath stored; PROG is the program directory
        QTest::addColumn<QString>("typed");     // the new directory as typed
        QTest::addColumn<QString>("tables");    // where the tables are before
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("stored");    // datapath afterwards
        QTest::newRow("a relative datapath is read from the program directory")
            << "data/" << "PROG/new" << "data" << true << "PROG/new";
        QTest::newRow("a relative directory typed is taken from the program directory")
            << "PROG/data/" << "new" << "data" << true << "PROG/new/";
        QTest::newRow("a blank datapath: from the program directory, recorded")
            << "" << "PROG/new" << "." << true << "PROG/new";
        QTest::newRow("none of the tables anywhere: refused")
            << "PROG/empty/" << "PROG/new" << "data" << false << "PROG/empty/";
    }
    void directories()
    {
        QFETCH(QString, given);
        QFETCH(QString, typed);
        QFETCH(QString, tables);
        QFETCH(bool, ok);
        QFETCH(QString, stored);
        const QString prog = dir_->path();
        for (QString* s : {&given, &typed, &stored})
            s->replace("PROG", prog);
        for (const char* d : {"new", "empty"})
            QVERIFY(QDir(prog).mkpath(d));
        writeTables(prog + "/" + tables, "OLD");
        writeSetup(prog, given.toStdString());
        // The process works elsewhere, as the kiosk's service does.
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent("/"));
        const auto r = setup::moveData(typed.toStdString(), nullptr);
        QDir::setCurrent(cwd);
        QCOMPARE(r.ok, ok);
        QCOMPARE(QString::fromStdString(datapath()), stored);
        QCOMPARE(firstName(prog + "/new/customer.dbf"), std::string(ok ? "OLD 0" : ""));
        if (!ok) {
            QVERIFY2(QString::fromStdString(r.message).contains("None of the tables"), r.message.c_str());
            QCOMPARE(firstName(prog + "/data/customer.dbf"), std::string("OLD 0"));
        }
    }

    // The ticket counter goes along where the new directory has none, or a
    // lower one; a higher one there is kept; the old one stays for the kiosk.
    void counter_data()
    {
        QTest::addColumn<int>("before");  // last number in the new directory, -1: no counter
        QTest::addColumn<int>("after");
        QTest::newRow("none there: carried") << -1 << 41;
        QTest::newRow("a lower one there: raised") << 7 << 41;
        QTest::newRow("a higher one there: kept") << 90 << 90;
    }
    void counter()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        const QString from = dir_->path() + "/old", to = dir_->path() + "/new";
        writeTables(from, "OLD");
        writeCounter(from + "/Control.dbf", 41);
        QVERIFY(QDir().mkpath(to));
        if (before >= 0)
            writeCounter(to + "/Control.dbf", before);
        writeSetup(dir_->path(), (from + "/").toStdString());
        const auto r = setup::moveData(to.toStdString(), nullptr);
        QVERIFY2(r.ok, r.message.c_str());
        const auto counter = testsupport::tableRows(to + "/Control.dbf");
        QCOMPARE(counter.size(), std::size_t(1));
        QCOMPARE(counter[0].at("company"), std::to_string(after));
        QCOMPARE(testsupport::tableRows(from + "/Control.dbf")[0]["company"], std::string("41"));
        QVERIFY(std::any_of(r.notes.begin(), r.notes.end(),
                            [](const std::string& n) { return n.find("ticket counter") != std::string::npos; }));
    }

    // The new directory's own tables written after the move looked at them:
    // the kiosk, whose directory it is, numbers tickets there past the
    // counter the move is to carry, or makes its open-ticket table there
    // (none was there, so nothing was asked). The move, going on or finished
    // at the next start, must not put the old directory's files over them.
    void newDirectoryWrittenMeanwhile_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("killed");
        QTest::addColumn<QString>("writer");
        for (const char* writer : {"counter", "open table"}) {
            QTest::addRow("%s, at copied, move goes on", writer) << "copied" << false << writer;
            QTest::addRow("%s, at recorded, move goes on", writer) << "recorded" << false << writer;
            QTest::addRow("%s, at recorded, killed", writer) << "recorded" << true << writer;
        }
    }
    void newDirectoryWrittenMeanwhile()
    {
        QFETCH(QString, step);
        QFETCH(bool, killed);
        QFETCH(QString, writer);
        const QString from = dir_->path() + "/old", to = dir_->path() + "/new";
        writeTables(from, "OLD");
        writeCounter(from + "/Control.dbf", 41);
        QVERIFY(QDir().mkpath(to));
        writeCounter(to + "/Control.dbf", 7);  // below the old one: it is to be raised to 41
        writeSetup(dir_->path(), (from + "/").toStdString());
        const pid_t child = ::fork();
        if (child == 0) {
            setup::setStepHook([&](const std::string& at) {
                if (at != step.toStdString())
                    return;
                bool ok = false;
                if (writer == "counter") {
                    xb::Connection c;
                    xb::Table* t = c.open((to + "/Control.dbf").toStdString());
                    ok = t && t->top() == xb::kSuccess && t->field("company")->assignInteger(150) &&
                         t->close() == xb::kSuccess;
                } else {
                    ok = testsupport::writeTicketTable(to + "/ticket.dbf", {{77, "KIOSK TRUCK"}});
                }
                if (!ok)
                    ::_exit(3);
                if (killed)
                    ::_exit(9);
            });
            ::_exit(setup::moveData(to.toStdString(), nullptr).ok ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QVERIFY(WEXITSTATUS(status) == (killed ? 9 : 0) || (!killed && WEXITSTATUS(status) == 1));
        if (killed)
            setup::settleInterruptedMove();  // the next start
        if (writer == "counter") {
            const auto counter = testsupport::tableRows(to + "/Control.dbf");
            QCOMPARE(counter.size(), std::size_t(1));
            QVERIFY2(std::atol(counter[0].at("company").c_str()) >= 150,
                     ("the kiosk's counter went back to " + counter[0].at("company")).c_str());
        } else {
            QVERIFY(contains(names(to + "/ticket.dbf", "customer"), "KIOSK TRUCK"));
            QVERIFY(contains(names(to + "/ticket.dbf", "customer"), "OLD") ||
                    contains(names(from + "/ticket.dbf", "customer"), "OLD"));
        }
    }

    // After a move killed once its record was written, the kiosk's start and
    // grazulo-admin (a nightly job) settle it at the same moment: both must
    // agree on the outcome, and the directory the setup table names holds
    // every table whole.
    void settledTwiceAtOnce()
    {
        for (int round = 0; round < 30; ++round) {
            QTemporaryDir home("/tmp/mv2-XXXXXX");
            qputenv("GRAZULO_HOME", home.path().toUtf8());
            const QString from = home.path() + "/old", to = home.path() + "/new";
            writeTables(from, "OLD", 300);
            QVERIFY(QDir().mkpath(to));
            writeSetup(home.path(), (from + "/").toStdString());
            const pid_t mover = ::fork();
            if (mover == 0) {
                setup::setStepHook([](const std::string& at) {
                    if (at == "recorded")
                        ::_exit(9);
                });
                ::_exit(setup::moveData(to.toStdString(), nullptr).ok ? 0 : 1);
            }
            int status = 0;
            ::waitpid(mover, &status, 0);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 9);
            int go[2], said[2];
            QVERIFY(::pipe(go) == 0 && ::pipe(said) == 0);
            pid_t settlers[2];
            for (pid_t& p : settlers) {
                p = ::fork();
                if (p == 0) {
                    ::close(go[1]);  // the parent's close of it is the signal
                    char c;
                    (void)!::read(go[0], &c, 1);
                    const auto s = setup::settleInterruptedMove();
                    const char r = !s.found ? 'n' : s.message.find("finished") != std::string::npos ? 'f' : 't';
                    (void)!::write(said[1], &r, 1);
                    ::_exit(0);
                }
            }
            ::close(go[0]);
            ::close(go[1]);
            ::close(said[1]);
            for (pid_t p : settlers)
                ::waitpid(p, nullptr, 0);
            char answers[2] = {0, 0};
            QCOMPARE(::read(said[0], answers, 2), ssize_t(2));
            ::close(said[0]);
            const QString named = QString::fromStdString(catalogue::AddBackslash(datapath()));
            for (const char* t : {"customer.dbf", "product.dbf", "house.dbf"})
                QVERIFY2(testsupport::tableRows(named + t).size() == 300u,
                         qPrintable(QString("round %1: %2 in %3").arg(round).arg(t).arg(named)));
            QVERIFY2(!(answers[0] == 't' && answers[1] == 'f') && !(answers[0] == 'f' && answers[1] == 't'),
                     qPrintable(QString("round %1: one said finished, the other taken back; the setup table names %2")
                                    .arg(round)
                                    .arg(named)));
        }
    }

    // Once the setup table names the new directory the move has succeeded,
    // also when an old file cannot be removed: it is named, and the next
    // move goes ahead.
    void tidyingFails()
    {
        const QString from = dir_->path() + "/old", to = dir_->path() + "/new", third = dir_->path() + "/third";
        writeTables(from, "OLD");
        QVERIFY(QDir().mkpath(to) && QDir().mkpath(third));
        writeSetup(dir_->path(), (from + "/").toStdString());
        if (!pin(from + "/customer.cdx", true))
            QSKIP("a file that cannot be removed cannot be made here");
        const auto r = setup::moveData(to.toStdString(), nullptr);
        pin(from + "/customer.cdx", false);
        QVERIFY2(r.ok, r.message.c_str());
        QCOMPARE(datapath(), to.toStdString());
        QVERIFY(std::any_of(r.notes.begin(), r.notes.end(),
                            [](const std::string& n) { return n.find("customer.cdx could not be removed") != std::string::npos; }));
        QVERIFY(!QFile::exists(QString::fromStdString(setup::pendingPath())));
        const auto next = setup::moveData(third.toStdString(), nullptr);
        QVERIFY2(next.ok, next.message.c_str());
        QCOMPARE(firstName(third + "/customer.dbf"), std::string("OLD 0"));
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
            // Between the kill and the next start the station weighs a truck
            // in, in the directory the setup table names.
            QVERIFY(addRecord(named + "ticket.dbf", "BETWEEN"));
            // The next start settles what the kill left; the next move
            // finishes the job.
            const setup::Settled settled = setup::settleInterruptedMove();
            QVERIFY2(settled.ok, settled.message.c_str());
            const auto r = setup::moveData(to.toStdString(), nullptr);
            QVERIFY2(r.ok, r.message.c_str());
            QCOMPARE(datapath(), to.toStdString());
            for (const char* t : tables)
                QVERIFY(testsupport::tableRows(to + "/" + t).size() == (std::string(t) == "ticket.dbf" ? 2u : 400u));
            QCOMPARE(names(to + "/ticket.dbf", "customer"), (std::vector<std::string> {"OLD", "BETWEEN"}));
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

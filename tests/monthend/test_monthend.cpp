// Closing a month on real tables: the archive, the month's folder, the grid's
// values; the failures that must leave every day table where it was; and
// many kills at random moments, each followed by a re-run, after which every
// ticket of the month is in the archive once and in the folder once.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "monthend/MonthEndArchive.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <map>
#include <random>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// A day table of January 2026 with `n` tickets numbered from `first`.
void writeDay(const QString& dir, int day, long first, int n, const char* inTime = "930", bool userIdFirst = true)
{
    const QString path = dir + QString("/Jan%1%2.dbf").arg(day, 2, 10, QChar('0')).arg(26);
    std::vector<xb::FieldSpec> fields = catalogue::layoutFields(catalogue::kTicketLayout);
    if (!userIdFirst)
        fields[0] = {"id_num", 'C', 20, 0};
    xb::Connection c;
    xb::Table* t = c.create(path.toStdString(), fields);
    QVERIFY(t);
    for (int i = 0; i < n; ++i) {
        t->appendStart();
        t->blank();
        t->field(userIdFirst ? "user_id" : "id_num")->assign(userIdFirst ? "OPERATOR" : "ID-7");
        t->field("ticket")->assignInteger(first + i);
        t->field("customer")->assign("CUSTOMER " + std::to_string(first + i));
        t->field("in_time")->assign(inTime);
        t->field("out_time")->assign("45");
        t->field("in_date")->assign("202601" + QString("%1").arg(day, 2, 10, QChar('0')).toStdString());
        t->field("in_wgt")->assignInteger(14020);
        t->field("complete")->assignLogical(true);
        QCOMPARE(t->append(), xb::kSuccess);
    }
    QCOMPARE(t->close(), xb::kSuccess);
}

std::vector<long> ticketsIn(const QString& path)
{
    std::vector<long> out;
    for (auto& r : testsupport::tableRows(path))
        out.push_back(std::atol(r["ticket"].c_str()));
    return out;
}

}  // namespace

class TestMonthEnd : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        data_ = (dir_->path() + "/").toStdString();
    }

    void names()
    {
        QCOMPARE(monthend::dayTablePath("/d/", 2026, 1, 5), std::string("/d/Jan0526.dbf"));
        QCOMPARE(monthend::archivePath("/d/", 2026, 1), std::string("/d/MonthEnd/ME_26Jan.dbf"));
        QCOMPARE(monthend::monthFolder("/d/", 1999, 12), std::string("/d/99Dec/"));
        QCOMPARE(monthend::completionMessage(2026, 1), std::string("Month End procedure completed for January, 2026."));
    }

    void grid()
    {
        writeDay(dir_->path(), 5, 1, 1, "930", true);
        writeDay(dir_->path(), 31, 2, 1, "1415", false);
        const auto l = monthend::listMonth(data_, 2026, 1);
        QVERIFY(l.error.empty());
        QCOMPARE(l.rows.size(), std::size_t(2));
        QCOMPARE(l.rows[0][0], std::string("1"));
        QCOMPARE(l.rows[0][12], std::string("F"));
        QCOMPARE(l.rows[0][13], std::string("09:30"));
        QCOMPARE(l.rows[0][14], std::string("01/05/2026"));
        QCOMPARE(l.rows[0][15], std::string("00:45"));
        QCOMPARE(l.rows[0][20], std::string("T"));
        QCOMPARE(l.rows[0][21], std::string("OPERATOR"));
        QCOMPARE(l.rows[1][13], std::string("14:15"));
        QCOMPARE(l.rows[1][21], std::string("ID-7"));  // no user_id first: id_num
        QVERIFY(monthend::listMonth(data_, 2026, 2).rows.empty());
    }

    // The archive gathers the month, day 1 first; a table already in the
    // month's folder gets the new tickets after its own; a second run finds
    // nothing left to do.
    void closeAndAgain()
    {
        writeDay(dir_->path(), 3, 10, 2);
        writeDay(dir_->path(), 1, 1, 3);
        QVERIFY(QDir(dir_->path()).mkpath("26Jan"));
        writeDay(dir_->path() + "/26Jan", 3, 7, 1);
        QFile other(dir_->path() + "/Feb0126.dbf");
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        const auto r = monthend::closeMonth(data_, 2026, 1);
        QVERIFY2(r.done, r.message.c_str());
        QCOMPARE(r.message, std::string("Month End procedure completed for January, 2026."));
        QCOMPARE(r.tickets, 5L);
        QCOMPARE(ticketsIn(dir_->path() + "/MonthEnd/ME_26Jan.dbf"), (std::vector<long> {1, 2, 3, 10, 11}));
        QCOMPARE(ticketsIn(dir_->path() + "/26Jan/Jan0126.dbf"), (std::vector<long> {1, 2, 3}));
        QCOMPARE(ticketsIn(dir_->path() + "/26Jan/Jan0326.dbf"), (std::vector<long> {7, 10, 11}));
        QVERIFY(!QFile::exists(dir_->path() + "/Jan0126.dbf"));
        QVERIFY(!QFile::exists(dir_->path() + "/Jan0326.dbf"));
        QVERIFY(QFile::exists(dir_->path() + "/Feb0126.dbf"));
        QVERIFY(!monthend::interrupted(data_, 2026, 1));
        const auto again = monthend::closeMonth(data_, 2026, 1);
        QVERIFY(!again.done);
        QVERIFY(QString::fromStdString(again.message).contains("nothing was done"));
        // New tickets of the month later: appended to the archive.
        writeDay(dir_->path(), 20, 50, 1);
        QVERIFY(monthend::closeMonth(data_, 2026, 1).done);
        QCOMPARE(ticketsIn(dir_->path() + "/MonthEnd/ME_26Jan.dbf"), (std::vector<long> {1, 2, 3, 10, 11, 50}));
    }

    // Failures report what failed and leave every day table in place.
    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("a file where the month folder goes") << "folder is a file" << "26Jan is a file";
        QTest::newRow("a file where MonthEnd goes") << "MonthEnd is a file" << "MonthEnd is a file";
        QTest::newRow("a broken day table") << "broken day" << "Jan0226.dbf";
        QTest::newRow("a full disk") << "full disk" << "stopped";
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        writeDay(dir_->path(), 1, 1, 200);
        writeDay(dir_->path(), 3, 201, 200);
        const QByteArray day1 = [&] {
            QFile f(dir_->path() + "/Jan0126.dbf");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        auto touch = [&](const QString& name, const QByteArray& bytes) {
            QFile f(dir_->path() + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        if (fault == "folder is a file")
            touch("26Jan", "x");
        else if (fault == "MonthEnd is a file")
            touch("MonthEnd", "x");
        else if (fault == "broken day")
            touch("Jan0226.dbf", QByteArray(40, '\x7f'));
        monthend::Result r;
        if (fault == "full disk") {
            // The copies cannot grow past a few kilobytes: the disk is full
            // for them. Run in a child, so the limit ends with it.
            int fds[2];
            QVERIFY(::pipe(fds) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                ::signal(SIGXFSZ, SIG_IGN);
                struct rlimit lim {48 * 1024, 48 * 1024};
                ::setrlimit(RLIMIT_FSIZE, &lim);
                const auto res = monthend::closeMonth(data_, 2026, 1);
                const std::string out = (res.done ? "1" : "0") + res.message;
                (void)!::write(fds[1], out.data(), out.size());
                ::_exit(0);
            }
            ::close(fds[1]);
            char buf[1024];
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            ::close(fds[0]);
            ::waitpid(child, nullptr, 0);
            QVERIFY(n > 0);
            r.done = buf[0] == '1';
            r.message = std::string(buf + 1, std::size_t(n - 1));
        } else {
            r = monthend::closeMonth(data_, 2026, 1);
        }
        QVERIFY(!r.done);
        QVERIFY2(QString::fromStdString(r.message).contains(message), r.message.c_str());
        QFile f(dir_->path() + "/Jan0126.dbf");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), day1);
        QVERIFY(QFile::exists(dir_->path() + "/Jan0326.dbf"));
        if (fault == "full disk") {
            // Once there is room again, the month end finishes.
            const auto done = monthend::closeMonth(data_, 2026, 1);
            QVERIFY2(done.done, done.message.c_str());
            QCOMPARE(ticketsIn(dir_->path() + "/MonthEnd/ME_26Jan.dbf").size(), std::size_t(400));
        }
    }

    // Killed at random moments and run again each time: every ticket of the
    // month once in the archive and once in the folder, none left behind.
    void killedAndRunAgain()
    {
        uint64_t seed = std::random_device {}();
        if (qEnvironmentVariableIsSet("GRAZULO_CRASH_SEED"))
            seed = qEnvironmentVariable("GRAZULO_CRASH_SEED").toULongLong();
        qInfo("seed %llu (set GRAZULO_CRASH_SEED to repeat the kill times)", (unsigned long long)seed);
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> logDelay(std::log(2e-5), std::log(3e-2));
        int killedInside = 0;
        constexpr int kRounds = 25;
        for (int round = 0; round < kRounds; ++round) {
            QTemporaryDir dir;
            const std::string data = (dir.path() + "/").toStdString();
            std::vector<long> expected;
            long next = 1;
            for (int day : {1, 2, 15, 31}) {
                writeDay(dir.path(), day, next, 60);
                for (int i = 0; i < 60; ++i)
                    expected.push_back(next + i);
                next += 60;
            }
            QVERIFY(QDir(dir.path()).mkpath("26Jan"));
            writeDay(dir.path() + "/26Jan", 15, 9000, 2);  // an earlier month end's table

            for (int kill = 0; kill < 3; ++kill) {
                const pid_t child = ::fork();
                if (child == 0)
                    ::_exit(monthend::closeMonth(data, 2026, 1).done ? 0 : 1);
                std::this_thread::sleep_for(std::chrono::duration<double>(std::exp(logDelay(rng))));
                ::kill(child, SIGKILL);
                int status = 0;
                ::waitpid(child, &status, 0);
                if (WIFSIGNALED(status) && monthend::interrupted(data, 2026, 1))
                    ++killedInside;
            }
            const auto r = monthend::closeMonth(data, 2026, 1);
            // Done now, or done by a run before the kill landed.
            QVERIFY2(r.done || QString::fromStdString(r.message).contains("nothing was done"), r.message.c_str());
            QCOMPARE(ticketsIn(dir.path() + "/MonthEnd/ME_26Jan.dbf"), expected);
            std::vector<long> inFolder;
            for (int day : {1, 2, 15, 31}) {
                QVERIFY(!QFile::exists(dir.path() + QString("/Jan%1%2.dbf").arg(day, 2, 10, QChar('0')).arg(26)));
                for (long t : ticketsIn(dir.path() + QString("/26Jan/Jan%1%2.dbf").arg(day, 2, 10, QChar('0')).arg(26)))
                    if (t < 9000)
                        inFolder.push_back(t);
            }
            QCOMPARE(inFolder, expected);
            QCOMPARE(ticketsIn(dir.path() + "/26Jan/Jan1526.dbf").front(), 9000L);
            QVERIFY(!monthend::interrupted(data, 2026, 1));
            for (const QString& sub : {QString(), QString("/26Jan"), QString("/MonthEnd")})
                for (const QString& f : QDir(dir.path() + sub).entryList(QDir::Files))
                    QVERIFY2(!f.contains(".copy-") && !f.contains(".building"), qPrintable(f));
        }
        qInfo("%d rounds; %d kills came while a month end was in progress", kRounds, killedInside);
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::string data_;
};

QTEST_GUILESS_MAIN(TestMonthEnd)
#include "test_monthend.moc"

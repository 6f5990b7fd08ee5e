// Closing a month on real tables: the archive, the month's folder, the grid's
// values; the failures that must leave every day table where it was; and
// many kills at random moments, each followed by a re-run, after which every
// ticket of the month is in the archive once and in the folder once.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketStore.h"
#include "data/Util.h"
#include "monthend/MonthEndArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using uchar = unsigned char;

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

// A ticket completed as the station completes one: the day's table opened
// (made when missing), the ticket appended, the table closed. The kiosk and
// the station weigh this way while a month end runs.
bool weigh(const QString& dir, int day, long ticket, xb::Table* open = nullptr)
{
    const std::string path = catalogue::dayTablePath(dir.toStdString() + "/", xb::Date {2026, 1, day});
    xb::Connection c;
    xb::Table* t = open ? open
                        : xb::fileExists(path) ? c.open(path)
                                               : c.create(path, catalogue::layoutFields(catalogue::kTicketLayout));
    if (!t || t->appendStart() != xb::kSuccess)
        return false;
    t->blank();
    t->field("ticket")->assignInteger(ticket);
    t->field("customer")->assign("LATE " + std::to_string(ticket));
    t->field("in_date")->assign("202601" + QString("%1").arg(day, 2, 10, QChar('0')).toStdString());
    t->field("complete")->assignLogical(true);
    return t->append() == xb::kSuccess && t->close() == xb::kSuccess;
}

// Every ticket of the month once in the archive and once in the month's
// folder (tickets 9000 to 9009 were there before), no day table of the
// month left in the data directory, nothing of the run left behind.
void closedWhole(const QString& dir, std::vector<long> expected)
{
    std::sort(expected.begin(), expected.end());
    std::vector<long> archived = ticketsIn(dir + "/MonthEnd/ME_26Jan.dbf");
    std::sort(archived.begin(), archived.end());
    QCOMPARE(archived, expected);
    std::vector<long> filed;
    for (const QString& f : QDir(dir + "/26Jan").entryList({"Jan*.dbf"}, QDir::Files))
        for (long t : ticketsIn(dir + "/26Jan/" + f))
            if (t < 9000 || t > 9009)
                filed.push_back(t);
    std::sort(filed.begin(), filed.end());
    QCOMPARE(filed, expected);
    QCOMPARE(QDir(dir).entryList({"Jan*.dbf"}, QDir::Files), QStringList());
    QVERIFY(!monthend::interrupted((dir + "/").toStdString(), 2026, 1));
    QVERIFY(!QFileInfo::exists(dir + "/MonthEnd/ME_26Jan.closing"));
    for (const QString& sub : {QString(), QString("/26Jan"), QString("/MonthEnd")})
        for (const QString& f : QDir(dir + sub).entryList(QDir::Files))
            QVERIFY2(!f.contains(".copy-") && !f.contains(".building"), qPrintable(f));
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
        QCOMPARE(catalogue::dayTablePath("/d/", xb::Date {2026, 1, 5}), std::string("/d/Jan0526.dbf"));
        QCOMPARE(catalogue::monthEndTablePath("/d/", 2026, 1), std::string("/d/MonthEnd/ME_26Jan.dbf"));
        QCOMPARE(catalogue::monthFolderPath("/d/", 1999, 12), std::string("/d/99Dec/"));
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

    // The kiosk and the station weigh while the month end runs, or while it
    // lies killed until it is run again. At each step of a run another
    // writer comes in: a late truck of the month's last day, a truck on a
    // day the run had not seen, or a writer that opened the last day's table
    // before the run took it and appends after. Then the run dies there or
    // goes on; run again if it died, every ticket is once in the archive and
    // once in the folder.
    void interleavings_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("writer");
        QTest::addColumn<bool>("killed");
        for (const char* step : {"noted", "taken", "filed", "archived", "removed"})
            QTest::addRow("late truck at %s, killed", step) << step << "late truck" << true;
        for (const char* step : {"taken", "archived", "removed"})
            QTest::addRow("late truck at %s, run goes on", step) << step << "late truck" << false;
        QTest::newRow("a day not seen before, at filed, killed") << "filed" << "new day" << true;
        QTest::newRow("a day not seen before, at archived, run goes on") << "archived" << "new day" << false;
        QTest::newRow("an open table written at taken") << "taken" << "open table" << false;
        QTest::newRow("an open table written at filed, killed") << "filed" << "open table" << true;
    }
    void interleavings()
    {
        QFETCH(QString, step);
        QFETCH(QString, writer);
        QFETCH(bool, killed);
        const QString dir = dir_->path();
        writeDay(dir, 1, 1, 3);
        writeDay(dir, 15, 4, 3);
        writeDay(dir, 31, 7, 3);
        QVERIFY(QDir(dir).mkpath("26Jan"));
        writeDay(dir + "/26Jan", 15, 9000, 1);  // an earlier month end's table

        const pid_t child = ::fork();
        if (child == 0) {
            xb::Connection held;
            xb::Table* open = writer == "open table"
                                  ? held.open(catalogue::dayTablePath(data_, xb::Date {2026, 1, 31}))
                                  : nullptr;
            bool done = false;
            monthend::setStepHook([&](const std::string& at) {
                if (done || at != step.toStdString())
                    return;
                done = true;
                if (!weigh(dir, writer == "new day" ? 20 : 31, 100, open))
                    ::_exit(3);
                if (killed)
                    ::_exit(9);
            });
            const auto r = monthend::closeMonth(data_, 2026, 1);
            ::_exit(!done ? 4 : r.done ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), killed ? 9 : 0);
        if (killed) {
            QVERIFY(monthend::interrupted(data_, 2026, 1));
            const auto r = monthend::closeMonth(data_, 2026, 1);
            QVERIFY2(r.done, r.message.c_str());
        }
        closedWhole(dir, {1, 2, 3, 4, 5, 6, 7, 8, 9, 100});
        QCOMPARE(ticketsIn(dir + "/26Jan/Jan1526.dbf").front(), 9000L);
    }

    // A month end begun by an earlier version of the program, its note
    // written with the tickets it counted then: the tables have changed
    // since (a late truck), or the archive holds what the note did not
    // expect. The run finishes from what the tables hold.
    void earlierNotes_data()
    {
        QTest::addColumn<bool>("archived");  // the earlier run had built the archive
        QTest::addColumn<QString>("note");
        QTest::newRow("archive built, a late truck since")
            << true << "month=2026-01\narchive_before=-1\narchive_after=6\nday=Jan0126.dbf 3 -1\n"
                       "day=Jan3126.dbf 3 -1\nend\n";
        QTest::newRow("a note that fits nothing")
            << false << "month=2026-01\narchive_before=40\narchive_after=2\nday=Jan0126.dbf 1 5\nend\n";
    }
    void earlierNotes()
    {
        QFETCH(bool, archived);
        QFETCH(QString, note);
        const QString dir = dir_->path();
        writeDay(dir, 1, 1, 3);
        writeDay(dir, 31, 4, 3);
        QVERIFY(QDir(dir).mkpath("MonthEnd"));
        QVERIFY(QDir(dir).mkpath("26Jan"));
        if (archived) {
            QVERIFY(testsupport::writeTicketTable(dir + "/MonthEnd/ME_26Jan.dbf", {}));
            QVERIFY(util::cbAppendFrom((dir + "/Jan0126.dbf").toStdString(), (dir + "/MonthEnd/ME_26Jan.dbf").toStdString()));
            QVERIFY(util::cbAppendFrom((dir + "/Jan3126.dbf").toStdString(), (dir + "/MonthEnd/ME_26Jan.dbf").toStdString()));
            QVERIFY(QFile::copy(dir + "/Jan0126.dbf", dir + "/26Jan/Jan0126.dbf"));
        }
        QVERIFY(weigh(dir, 31, 100));
        QFile f(dir + "/MonthEnd/ME_26Jan.pending");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(note.toUtf8());
        f.close();
        QVERIFY(monthend::interrupted(data_, 2026, 1));
        const auto r = monthend::closeMonth(data_, 2026, 1);
        QVERIFY2(r.done, r.message.c_str());
        closedWhole(dir, {1, 2, 3, 4, 5, 6, 100});
    }

    // A month end that stops part way (the disk fills while the archive is
    // built) puts the day tables back in the data directory, where the
    // station goes on with them: a ticket is reprinted under another number,
    // or another program corrects a ticket. The next month end must leave
    // each ticket once in the folder and the archive, as it is now.
    void changedAfterAStoppedRun_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("a ticket reprinted under another number") << "renumber";
        QTest::newRow("a ticket corrected by another program") << "correct";
    }
    void changedAfterAStoppedRun()
    {
        QFETCH(QString, change);
        const QString dir = dir_->path();
        writeDay(dir, 1, 1, 60);
        writeDay(dir, 3, 61, 60);
        // Room for each day's copy in the folder, not for the archive.
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim {32 * 1024, 32 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            const std::string filed = (dir + "/filed").toStdString();
            monthend::setStepHook([filed](const std::string& at) {
                if (at == "filed")
                    ::close(::open(filed.c_str(), O_CREAT | O_WRONLY, 0600));
            });
            ::_exit(monthend::closeMonth(data_, 2026, 1).done ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 1);
        QVERIFY(QFile::exists(dir + "/filed"));  // it stopped after filing the days in the folder
        QVERIFY(QFile::remove(dir + "/filed"));
        QVERIFY(QFile::exists(dir + "/Jan0326.dbf"));
        // The tables went back, and what the folder had taken of them with
        // them: the folder holds nothing that goes on changing.
        QVERIFY(!QFile::exists(dir + "/26Jan/Jan0326.dbf") || ticketsIn(dir + "/26Jan/Jan0326.dbf").empty());

        std::vector<long> day3;
        if (change == "renumber") {
            store::TicketStore station(data_, store::CounterMeaning::kLastIssued);
            QCOMPARE(station.renumber(61, 500, xb::LocalTime {2026, 1, 3, 16, 0, 0}).outcome, store::Outcome::kDone);
            for (long n = 62; n <= 120; ++n)
                day3.push_back(n);
            day3.push_back(500);
        } else {
            xb::Connection c;
            xb::Table* t = c.open((dir + "/Jan0326.dbf").toStdString());
            QVERIFY(t && t->top() == xb::kSuccess);
            QVERIFY(t->field("customer")->assign("CORRECTED"));
            QCOMPARE(t->flush(), xb::kSuccess);
            QCOMPARE(t->close(), xb::kSuccess);
            for (long n = 61; n <= 120; ++n)
                day3.push_back(n);
        }
        const auto r = monthend::closeMonth(data_, 2026, 1);
        QVERIFY2(r.done, r.message.c_str());
        auto filed = ticketsIn(dir + "/26Jan/Jan0326.dbf");
        std::sort(filed.begin(), filed.end());
        QCOMPARE(filed, day3);
        std::vector<long> all;
        for (long n = 1; n <= 60; ++n)
            all.push_back(n);
        all.insert(all.end(), day3.begin(), day3.end());
        closedWhole(dir, all);
    }

    // The archive's folder MonthEnd on a disk of its own (a link to another
    // file system, where a site keeps its archives): the month still closes.
    void archiveOnAnotherFileSystem()
    {
        QTemporaryDir elsewhere("/dev/shm/me-XXXXXX");
        QVERIFY(elsewhere.isValid());
        struct stat a {}, b {};
        QVERIFY(::stat(elsewhere.path().toLocal8Bit().constData(), &a) == 0 &&
                ::stat(dir_->path().toLocal8Bit().constData(), &b) == 0);
        QVERIFY2(a.st_dev != b.st_dev, "/dev/shm is on the same file system as the temporary directory here");
        QVERIFY(QFile::link(elsewhere.path(), dir_->path() + "/MonthEnd"));
        writeDay(dir_->path(), 1, 1, 3);
        writeDay(dir_->path(), 2, 4, 2);
        const auto r = monthend::closeMonth(data_, 2026, 1);
        QVERIFY2(r.done, r.message.c_str());
        closedWhole(dir_->path(), {1, 2, 3, 4, 5});
    }

    // Another xBase program at the site holds the last day's table locked,
    // as the lock convention has it while it writes (the table's lock bytes,
    // its own POSIX record locks), and appends a ticket under that lock. A
    // month end run meanwhile must not take the table from under the lock:
    // the ticket written under it reaches the archive and the folder.
    void dayTableLockedByAnotherProgram()
    {
        const QString dir = dir_->path();
        writeDay(dir, 1, 1, 3);
        writeDay(dir, 31, 4, 3);
        const QByteArray path = (dir + "/Jan3126.dbf").toLocal8Bit();
        int held[2], go[2];
        QVERIFY(::pipe(held) == 0 && ::pipe(go) == 0);
        const pid_t other = ::fork();
        if (other == 0) {
            const int fd = ::open(path.constData(), O_RDWR);
            struct flock l {};
            l.l_type = F_WRLCK;
            l.l_whence = SEEK_SET;
            l.l_start = 0x7FFFFFFE - 1000000;
            l.l_len = 1000001;
            if (fd < 0 || ::fcntl(fd, F_SETLK, &l) != 0)
                ::_exit(3);
            (void)!::write(held[1], "h", 1);
            char c;
            (void)!::read(go[0], &c, 1);
            // Its ticket: a copy of the last record as ticket 100, appended
            // after the last record, the count in the header raised.
            unsigned char head[12];
            if (::pread(fd, head, 12, 0) != 12)
                ::_exit(4);
            const uint32_t count = head[4] | head[5] << 8 | head[6] << 16 | uint32_t(head[7]) << 24;
            const int headerLength = head[8] | head[9] << 8, recordLength = head[10] | head[11] << 8;
            std::string record(std::size_t(recordLength), ' ');
            if (::pread(fd, record.data(), record.size(), headerLength + off_t(count - 1) * recordLength) != recordLength)
                ::_exit(5);
            const std::size_t ticketAt = 1 + 20;  // after the deletion mark and user_id
            record.replace(ticketAt, 5, "  100");
            record += '\x1a';
            const uint32_t now = count + 1;
            const unsigned char n[4] = {uchar(now), uchar(now >> 8), uchar(now >> 16), uchar(now >> 24)};
            if (::pwrite(fd, record.data(), record.size(), headerLength + off_t(count) * recordLength) !=
                    ssize_t(record.size()) ||
                ::pwrite(fd, n, 4, 4) != 4 || ::fsync(fd) != 0)
                ::_exit(6);
            l.l_type = F_UNLCK;
            ::fcntl(fd, F_SETLK, &l);
            ::_exit(::close(fd) == 0 ? 0 : 7);
        }
        char c;
        QCOMPARE(::read(held[0], &c, 1), ssize_t(1));
        const auto r = monthend::closeMonth(data_, 2026, 1);
        QCOMPARE(::write(go[1], "g", 1), ssize_t(1));
        int status = -1;
        ::waitpid(other, &status, 0);
        QCOMPARE(status, 0);
        // Whatever the first run said, the next one finishes the month.
        if (!r.done || monthend::interrupted(data_, 2026, 1) ||
            !QDir(dir).entryList({"Jan*.dbf"}, QDir::Files).isEmpty())
            QVERIFY(monthend::closeMonth(data_, 2026, 1).done);
        closedWhole(dir, {1, 2, 3, 4, 5, 6, 100});
    }

    // The data directory as setup.dbf names it and the month's folder as an
    // older copy of the program made it: found whatever their letter case,
    // '\' read as '/'; no second folder, nothing left behind.
    void sitePaths_data()
    {
        QTest::addColumn<QString>("given");
        QTest::newRow("as on the disk") << "/Data/";
        QTest::newRow("in other letters") << "/DATA/";
        QTest::newRow("with backslashes") << "\\data\\";
    }
    void sitePaths()
    {
        QFETCH(QString, given);
        const QString dir = dir_->path() + "/Data";
        QVERIFY(QDir().mkpath(dir + "/26JAN"));
        QVERIFY(QDir().mkpath(dir + "/monthend"));
        writeDay(dir, 2, 1, 2);
        writeDay(dir + "/26JAN", 2, 9000, 1);
        const auto r = monthend::closeMonth(dir_->path().toStdString() + given.toStdString(), 2026, 1);
        QVERIFY2(r.done, r.message.c_str());
        QCOMPARE(QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot), (QStringList {"26JAN", "monthend"}));
        QCOMPARE(ticketsIn(dir + "/26JAN/Jan0226.dbf"), (std::vector<long> {9000, 1, 2}));
        QCOMPARE(ticketsIn(dir + "/monthend/ME_26Jan.dbf"), (std::vector<long> {1, 2}));
        QCOMPARE(QDir(dir + "/monthend").entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList {"ME_26Jan.dbf"});
        QVERIFY(!QFile::exists(dir + "/Jan0226.dbf"));
    }

    // Killed at random moments and run again each time, while a truck is
    // weighed every moment on the month's last day (its table taken away
    // under the writer again and again) and, between a kill and the next
    // run, on another day: every ticket of the month once in the archive and
    // once in the folder, none left behind.
    void killedAndRunAgain()
    {
        uint64_t seed = std::random_device {}();
        if (qEnvironmentVariableIsSet("GRAZULO_CRASH_SEED"))
            seed = qEnvironmentVariable("GRAZULO_CRASH_SEED").toULongLong();
        qInfo("seed %llu (set GRAZULO_CRASH_SEED to repeat the kill times)", (unsigned long long)seed);
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> logDelay(std::log(2e-5), std::log(3e-2));
        int killedInside = 0;
        long weighed = 0;
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

            // The station, completing a ticket on the 31st every moment.
            int fds[2];
            QVERIFY(::pipe(fds) == 0);
            const pid_t station = ::fork();
            if (station == 0) {
                ::close(fds[0]);
                for (long n = 20000;; ++n) {
                    if (!weigh(dir.path(), 31, n))
                        ::_exit(3);
                    const std::string line = std::to_string(n) + "\n";
                    (void)!::write(fds[1], line.data(), line.size());
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                }
            }
            ::close(fds[1]);

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
                // Between the kill and the next run, a truck on the 10th.
                const long between = 30000 + kill;
                QVERIFY(weigh(dir.path(), 10, between));
                expected.push_back(between);
            }
            ::kill(station, SIGKILL);
            int status = 0;
            ::waitpid(station, &status, 0);
            QVERIFY2(WIFSIGNALED(status), "the station's writer failed");
            std::string log;
            char buf[4096];
            for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
                log.append(buf, std::size_t(n));
            ::close(fds[0]);
            std::istringstream in(log);
            long last = 19999;
            for (long n; in >> n;) {
                expected.push_back(n);
                last = n;
                ++weighed;
            }

            const auto r = monthend::closeMonth(data, 2026, 1);
            QVERIFY2(r.done, r.message.c_str());
            // The ticket whose append the kill of the station cut short may
            // have reached the table or not: once, if at all.
            const auto archived = ticketsIn(dir.path() + "/MonthEnd/ME_26Jan.dbf");
            if (std::count(archived.begin(), archived.end(), last + 1))
                expected.push_back(last + 1);
            closedWhole(dir.path(), expected);
            QCOMPARE(ticketsIn(dir.path() + "/26Jan/Jan1526.dbf").front(), 9000L);
        }
        qInfo("%d rounds, %ld tickets weighed meanwhile; %d kills came while a month end was in progress", kRounds,
              weighed, killedInside);
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::string data_;
};

QTEST_GUILESS_MAIN(TestMonthEnd)
#include "test_monthend.moc"

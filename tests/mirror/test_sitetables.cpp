// The site's side of the mirror, without a database: the day tables found
// and read as parts, their signatures, the
// state kept between runs and the settings.

#include "MirrorSite.h"
#include "TestSupport.h"

#include "data/StepRecord.h"
#include "data/TicketStore.h"
#include "mirror/MirrorSettings.h"
#include "mirror/MirrorState.h"
#include "mirror/SiteTables.h"
#include "monthend/MonthEndArchive.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testmirror;

namespace {

const xb::Date kDay {2026, 12, 8};

std::vector<std::string> keys(const mirror::SiteParts& p)
{
    std::vector<std::string> out;
    for (const auto& part : p.parts)
        out.push_back(part.key);
    return out;
}

mirror::Part dayPart(const std::string& dataDir, const xb::Date& day)
{
    for (const auto& p : mirror::siteParts(dataDir).parts)
        if (p.kind == mirror::PartKind::kDay && p.day == day)
            return p;
    return {};
}

// Column `name` of a ticket line.
std::string column(const std::string& line, const std::string& name)
{
    const auto& cols = mirror::columnsOf(mirror::PartKind::kDay);
    const auto at = std::size_t(std::find(cols.begin(), cols.end(), name) - cols.begin());
    std::size_t start = 0;
    for (std::size_t i = 0; i < at; ++i)
        start = line.find('\t', start) + 1;
    return line.substr(start, line.find('\t', start) - start);
}

void setCodePage(const std::string& path, unsigned char mark)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(::pwrite(fd, &mark, 1, 29), ssize_t(1));
    ::close(fd);
}

}  // namespace

class TestSiteTables : public QObject {
    Q_OBJECT

private slots:
    void dayOfTableName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");  // yyyymmdd, empty: no day table
        QTest::newRow("day") << "Dec0826.dbf" << "20261208";
        QTest::newRow("upper case") << "DEC0826.DBF" << "20261208";
        QTest::newRow("next year") << "Jan0527.dbf" << "20270105";
        QTest::newRow("last century") << "Mar1599.dbf" << "19990315";
        QTest::newRow("leap day") << "Feb2924.dbf" << "20240229";
        QTest::newRow("two years ahead is last century") << "Jan0128.dbf" << "19280101";
        QTest::newRow("no such day") << "Feb3026.dbf" << "";
        QTest::newRow("no month") << "Dex0826.dbf" << "";
        QTest::newRow("month end table") << "ME_26Dec.dbf" << "";
    }
    void dayOfTableName()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const auto d = mirror::dayOfTableName(name.toStdString(), 2026);
        QCOMPARE(d ? QString::fromStdString(d->text()) : QString(), expected);
    }

    // The parts of a data directory: the day tables wherever the program
    // keeps them, nothing else.
    void siteParts()
    {
        QTemporaryDir tmp;
        const std::string data = tmp.path().toStdString() + "/";
        QVERIFY(writeDay(data + "Dec0826.dbf", kDay, tickets(1, 2)));
        QVERIFY(writeDay(data + "DEC0926.DBF", {2026, 12, 9}, tickets(3, 1)));
        QVERIFY(writeDay(data + "26Nov/Nov3026.dbf", {2026, 11, 30}, tickets(9, 1)));
        QVERIFY(writeDay(data + "26Nov/Dec0126.dbf", {2026, 12, 1}, tickets(10, 1)));  // not its month's folder
        QVERIFY(writeDay(data + "25Dec/Dec0825.dbf", {2025, 12, 8}, tickets(11, 1)));
        QVERIFY(writeDay(data + "MonthEnd/ME_26Nov.dbf", {2026, 11, 30}, tickets(9, 1)));
        QVERIFY(writeDay(data + "HS_data/HS_Dec0126.dbf", {2026, 12, 1}, tickets(9, 1)));
        QVERIFY(writeDay(data + "Ticket.dbf", kDay, tickets(20, 1)));
        const auto parts = mirror::siteParts(data);
        QVERIFY2(parts.error.empty(), parts.error.c_str());
        const std::vector<std::string> expected = {"day 2025-12-08", "day 2026-11-30", "day 2026-12-08",
                                                   "day 2026-12-09", "open tickets",   "customers",
                                                   "products"};
        QCOMPARE(keys(parts), expected);
        QCOMPARE(parts.parts[3].tables[0], data + "DEC0926.DBF");

        const auto missing = mirror::siteParts(data + "nowhere/");
        QVERIFY(missing.parts.empty());
        QVERIFY(missing.error.find("does not exist") != std::string::npos);
    }

    // A day in the data directory, in its month's folder, or in both: each
    // ticket once, the folder's first.
    void dayCopies_data()
    {
        QTest::addColumn<int>("dataTickets");    // tickets 1.. in the data directory's table, -1: no table
        QTest::addColumn<int>("folderTickets");  // tickets 101.. in the folder's, -1: no table
        QTest::addColumn<bool>("folderEndsWithData");  // the folder's copy ends with the data directory's tickets
        QTest::addColumn<QString>("expected");   // ticket numbers in order
        QTest::newRow("data directory only") << 2 << -1 << false << "1 2";
        QTest::newRow("folder only") << -1 << 2 << false << "101 102";
        QTest::newRow("both: tickets after the month end") << 2 << 1 << false << "101 1 2";
        QTest::newRow("month end copied, not yet removed") << 2 << 1 << true << "101 1 2";
        QTest::newRow("empty table beside the copy") << 0 << 2 << false << "101 102";
        QTest::newRow("neither holds a ticket") << 0 << 0 << false << "";
    }
    void dayCopies()
    {
        QFETCH(int, dataTickets);
        QFETCH(int, folderTickets);
        QFETCH(bool, folderEndsWithData);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        const std::string data = tmp.path().toStdString() + "/";
        if (dataTickets >= 0)
            QVERIFY(writeDay(dayPath(data, kDay), kDay, tickets(1, dataTickets)));
        if (folderTickets >= 0) {
            auto list = tickets(101, folderTickets);
            if (folderEndsWithData) {
                const auto more = tickets(1, dataTickets);
                list.insert(list.end(), more.begin(), more.end());
            }
            QVERIFY(writeDay(dayPath(data, kDay, true), kDay, list));
        }
        const auto rows = mirror::readPart(dayPart(data, kDay));
        QVERIFY2(rows.ok(), rows.error.c_str());
        QStringList numbers;
        for (const auto& l : rows.lines)
            numbers << QString::fromStdString(column(l, "ticket"));
        QCOMPARE(numbers.join(' '), expected);
    }

    // A month end of December has taken the day's table out of the
    // writers' way and was cut short there (or is at that step while the
    // mirror reads): the day's tickets are in the month end's closing
    // folder until it is run again. The mirror must still send them; a day
    // it cannot find is removed at the head office.
    void dayBeingClosed_data()
    {
        QTest::addColumn<int>("folderTickets");  // tickets 101.. in the folder from an earlier month end, -1: none
        QTest::addColumn<QString>("expected");
        QTest::newRow("a day taken, not yet filed") << -1 << "1 2";
        QTest::newRow("an early-closed day's late table taken") << 1 << "101 1 2";
    }
    void dayBeingClosed()
    {
        QFETCH(int, folderTickets);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        const std::string data = tmp.path().toStdString() + "/";
        QVERIFY(writeDay(dayPath(data, kDay), kDay, tickets(1, 2)));
        if (folderTickets >= 0)
            QVERIFY(writeDay(dayPath(data, kDay, true), kDay, tickets(101, folderTickets)));
        const pid_t child = ::fork();
        if (child == 0) {
            monthend::setStepHook([](const std::string& at) {
                if (at == "taken")
                    ::_exit(9);
            });
            monthend::closeMonth(data, kDay.year, kDay.month);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 9);
        QVERIFY(monthend::interrupted(data, kDay.year, kDay.month));
        const auto found = keys(mirror::siteParts(data));
        QVERIFY2(std::count(found.begin(), found.end(), mirror::dayKey(kDay)) == 1,
                 "the day is not among the site's parts: the head office would remove it");
        const auto rows = mirror::readPart(dayPart(data, kDay));
        QVERIFY2(rows.ok(), rows.error.c_str());
        QStringList numbers;
        for (const auto& l : rows.lines)
            numbers << QString::fromStdString(column(l, "ticket"));
        QCOMPARE(numbers.join(' '), expected);
    }

    // What a line holds of a ticket: numbers, dates, times, weights, no
    // value where the table holds none or nonsense.
    void lineValues()
    {
        QTemporaryDir tmp;
        const std::string data = tmp.path().toStdString() + "/";
        QVERIFY(writeDay(dayPath(data, kDay), kDay, {{42, "A\tB\\C", 14020, 8760, "line\nbreak"}}));
        {
            xb::Connection c;
            xb::Table* t = c.open(dayPath(data, kDay));
            QVERIFY(t && t->top() == xb::kSuccess);
            QVERIFY(t->field("in_time")->assignInteger(5));
            QVERIFY(t->field("out_time")->assignRaw("  99"));  // no time of day
            QVERIFY(t->field("amount")->assignRaw("  ***.**  "));
            QVERIFY(t->field("gst")->assignNumber(7.5));
            QVERIFY(t->field("out_date")->assignRaw("        "));
            QVERIFY(t->close() == xb::kSuccess);
        }
        const auto rows = mirror::readPart(dayPart(data, kDay));
        QCOMPARE(rows.lines.size(), std::size_t(1));
        const std::string& l = rows.lines[0];
        const std::pair<const char*, const char*> expected[] = {
            {"ticket", "42"},        {"customer", "A\\tB\\\\C"}, {"remarks", "line\\nbreak"},
            {"in_time", "00:05"},    {"out_time", "\\N"},        {"in_date", "2026-12-08"},
            {"out_date", "\\N"},     {"amount", "\\N"},          {"gst", "7.50"},
            {"in_wgt", "14020"},     {"net_wgt", "5260"},        {"complete", "t"},
            {"user_id", ""},         {"pounds", "f"},
        };
        for (const auto& [name, value] : expected)
            QCOMPARE(QString::fromStdString(column(l, name)), QString(value));
    }

    // Every change the site's tables see changes the day's signature; a
    // table written again with the same tickets does not.
    void signatures_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("differs");
        QTest::newRow("reprint under a new number") << "reprint" << true;
        QTest::newRow("record deleted") << "delete" << true;
        QTest::newRow("another program's edit") << "edit" << true;
        QTest::newRow("code page of the header") << "codepage" << true;
        QTest::newRow("rewritten the same") << "rewrite" << false;
    }
    void signatures()
    {
        QFETCH(QString, change);
        QFETCH(bool, differs);
        QTemporaryDir tmp;
        const std::string data = tmp.path().toStdString() + "/";
        const std::string path = dayPath(data, kDay);
        auto list = tickets(1, 3);
        list[0].customer = "M\xDCLLER BAU";
        QVERIFY(writeDay(path, kDay, list));
        const auto before = mirror::readPart(dayPart(data, kDay));
        if (change == "reprint") {
            store::TicketStore s(data, store::CounterMeaning::kLastIssued, {"Ticket.dbf", "Control.dbf"});
            xb::setClockSource([] { return xb::LocalTime {2026, 12, 8, 11, 0, 0}; });
            const auto r = s.renumber(2, 57, xb::now());
            xb::setClockSource({});
            QCOMPARE(int(r.outcome), int(store::Outcome::kDone));
        } else if (change == "delete") {
            xb::Connection c;
            xb::Table* t = c.open(path);
            QVERIFY(t && t->go(2) == xb::kSuccess && t->deleteRecord() == xb::kSuccess && t->close() == xb::kSuccess);
        } else if (change == "edit") {
            QVERIFY(setEveryRecord(path, "truck", "OTHER"));
        } else if (change == "codepage") {
            setCodePage(path, 0x02);
        } else {
            QVERIFY(writeDay(path, kDay, list));
        }
        const auto after = mirror::readPart(dayPart(data, kDay));
        QVERIFY(after.ok());
        QCOMPARE(after.signature != before.signature, differs);
    }

    // The identity of a part's tables: what lets a run skip reading them.
    void identity()
    {
        QTemporaryDir tmp;
        const std::string data = tmp.path().toStdString() + "/";
        QVERIFY(writeDay(dayPath(data, kDay), kDay, tickets(1, 2)));
        const auto part = dayPart(data, kDay);
        const auto first = mirror::partIdentity(part);
        QVERIFY(!first.settled);  // written just now
        QCOMPARE(mirror::partIdentity(part).text, first.text);
        // A change of the same size within the same moment still shows.
        QVERIFY(setEveryRecord(dayPath(data, kDay), "truck", "T-9"));
        QVERIFY(mirror::partIdentity(part).text != first.text);
        // So does the copy appearing in the month's folder.
        const auto beforeCopy = mirror::partIdentity(part).text;
        QVERIFY(writeDay(dayPath(data, kDay, true), kDay, tickets(1, 2)));
        QVERIFY(mirror::partIdentity(part).text != beforeCopy);
        // Seen two seconds later, the same files are settled.
        QVERIFY(mirror::partIdentity(part, std::time(nullptr) + 3).settled);
        QVERIFY(!mirror::partIdentity(part, std::time(nullptr) + 1).settled);
    }

    // What is kept between runs comes back as it was, and a file cut short
    // is read as nothing kept.
    void state()
    {
        QTemporaryDir tmp;
        const std::string path = tmp.path().toStdString() + "/mirror.state";
        mirror::LocalState s;
        s.target = "quarry site@hq:5432/weighing";
        s.parts["day 2026-12-08"] = {"120:1.2:3.4:5", true, "abc", 200, "abc", 200};
        s.parts["customers"] = {"-", false, "def", 0, "", 0};
        std::string error;
        QVERIFY(mirror::saveState(path, s, error));
        const auto back = mirror::loadState(path);
        QCOMPARE(back.target, s.target);
        QCOMPARE(back.parts.size(), std::size_t(2));
        QVERIFY(back.parts.at("day 2026-12-08").settled);
        QCOMPARE(back.parts.at("day 2026-12-08").sentRows, 200L);
        QCOMPARE(back.parts.at("customers").sentSignature, std::string());
        const std::string text = *xb::readSmallFile(path);
        QVERIFY(xb::writeFileDurably(path, text.substr(0, text.size() - 5)));
        QVERIFY(mirror::loadState(path).parts.empty());
    }

    void connectionFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");  // the string, or "!" + part of the error
        QTest::newRow("one line") << QByteArray("host=hq dbname=w sslmode=verify-full\n") << 0600
                                  << "host=hq dbname=w sslmode=verify-full";
        QTest::newRow("notes and lines") << QByteArray("# head office\nhost=hq\n\n  dbname=w  \n") << 0400
                                         << "host=hq dbname=w";
        QTest::newRow("others may read") << QByteArray("host=hq\n") << 0644 << "!chmod 600";
        QTest::newRow("group may read") << QByteArray("host=hq\n") << 0640 << "!chmod 600";
        QTest::newRow("only notes") << QByteArray("# nothing\n") << 0600 << "!no connection string";
        QTest::newRow("missing") << QByteArray() << -1 << "!does not exist";
    }
    void connectionFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        QTemporaryDir tmp;
        const std::string path = tmp.path().toStdString() + "/hq.conn";
        if (mode >= 0) {
            QVERIFY(xb::writeFileDurably(path, text.toStdString()));
            QCOMPARE(::chmod(path.c_str(), mode_t(mode)), 0);
        }
        std::string error;
        const auto got = mirror::readConnectionFile(path, error);
        if (expected.startsWith('!')) {
            QVERIFY(!got);
            QVERIFY2(error.find(expected.mid(1).toStdString()) != std::string::npos, error.c_str());
        } else {
            QVERIFY2(got, error.c_str());
            QCOMPARE(QString::fromStdString(*got), expected);
        }
    }

    void settings()
    {
        QTemporaryDir tmp;
        const std::string home = tmp.path().toStdString() + "/";
        std::string error;
        auto s = mirror::loadSettings(home, home + "database", error);
        QCOMPARE(s.site, mirror::hostName());  // no setup.ini
        QVERIFY(s.connectionFile.empty());
        QCOMPARE(s.dataDir, home + "database/");
        QVERIFY(xb::writeFileDurably(home + "setup.ini", "[Timer]\nlicense=60\n[Mirror]\nsite= quarry-north \nconnection=hq.conn\n"));
        s = mirror::loadSettings(home, home + "database", error);
        QCOMPARE(s.site, std::string("quarry-north"));
        QCOMPARE(s.connectionFile, home + "hq.conn");
        QVERIFY(error.empty());
        QVERIFY(xb::writeFileDurably(home + "setup.ini", "[Mirror]\nsite=" + std::string(64, 'x') + "\nconnection=/etc/hq.conn\n"));
        s = mirror::loadSettings(home, home + "database", error);
        QCOMPARE(s.connectionFile, std::string("/etc/hq.conn"));
        QVERIFY(error.find("longer than 63") != std::string::npos);
    }

    // A site's id: 1 to 63 characters (letters beyond ASCII are one each),
    // no control characters.
    void siteIdLimits_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("problem");  // part of the message, empty: taken
        QTest::newRow("63 letters") << QString(63, 'x') << "";
        QTest::newRow("64 letters") << QString(64, 'x') << "longer than 63";
        QTest::newRow("40 umlauts") << QString(40, QChar(0xE4)) << "";
        QTest::newRow("63 umlauts") << QString(63, QChar(0xE4)) << "";
        QTest::newRow("64 umlauts") << QString(64, QChar(0xE4)) << "longer than 63";
        QTest::newRow("empty") << "" << "empty";
        QTest::newRow("a tab") << "quarry\tnorth" << "control character";
    }
    void siteIdLimits()
    {
        QFETCH(QString, site);
        QFETCH(QString, problem);
        const auto p = mirror::siteIdProblem(site.toStdString());
        if (problem.isEmpty())
            QVERIFY2(!p, p->c_str());
        else
            QVERIFY2(p && p->find(problem.toStdString()) != std::string::npos, p ? p->c_str() : "taken");
    }
};

QTEST_GUILESS_MAIN(TestSiteTables)
#include "test_sitetables.moc"

// The table catalogue: layouts, table helpers, directories and dated file
// names; and the file-name helper every file operation goes through.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/Paths.h"
#include "data/Util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace xb;

namespace {
void touch(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
}

std::string fieldsOf(const std::string& path)
{
    Connection c;
    Table* t = c.open(path);
    std::string s;
    for (int i = 1; i <= t->fieldCount(); ++i) {
        const Field* f = t->fieldAt(i);
        s += f->name() + " " + f->type() + std::to_string(f->width()) + "." + std::to_string(f->decimals()) + ";";
    }
    return s;
}
}  // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    void layoutsExactly();
    void createTableNeverReplaces();
    void loadListInNameOrder();
    void loadListCreatesMissingTable();
    void tablesExist();
    void addBackslash();
    void resolvePathFindsAnyCase();
    void copyAndMakeDir();
    void datedFileNames();
    void storedTimes();
    void directories();
    void storedDirectories_data();
    void storedDirectories();
    void dateFormat();
    void appendFromMatchesFieldsByName();
    void appendFromIsAllOrNothing_data();
    void appendFromIsAllOrNothing();
};

void TestCatalogue::layoutsExactly()
{
    QTemporaryDir dir;
    struct Expect {
        int type;
        const char* fields;
    } expect[] = {
        {1, "USER_ID C20.0;TICKET N5.0;COMPANY C35.0;CARRIER C35.0;TRUCK C12.0;CUSTOMER C35.0;PRODUCT C35.0;"
            "PO C20.0;PAYMENT C20.0;AMOUNT N10.2;GST N10.2;PST N10.2;TOTAL N10.2;POUNDS L1.0;IN_TIME N4.0;"
            "IN_DATE D8.0;OUT_TIME N4.0;OUT_DATE D8.0;IN_WGT N10.0;OUT_WGT N10.0;NET_WGT N10.0;COMPLETE L1.0;"
            "REMARKS C50.0;"},
        {2, "N_AME C20.0;"},
        {3, "CODE_NUM N3.0;N_AME C35.0;ADD_R C25.0;FAX_NO C20.0;"},
        {4, "CODE_NUM N3.0;N_AME C35.0;PRICE_T F6.2;BALANCE N6.0;"},
        {7, "N_AME C20.0;"},
        {9, "SCALPORT C1.0;PRTPORT C1.0;MODEMPORT C1.0;DIALPREF C10.0;TONE L1.0;DATAPATH C50.0;"},
    };
    for (const auto& e : expect) {
        std::string path = (dir.path() + "/layout" + QString::number(e.type) + ".dbf").toStdString();
        QVERIFY(catalogue::CreateTable(e.type, path));
        QCOMPARE(fieldsOf(path), std::string(e.fields));
        QVERIFY(checkTableFile(path).empty() || catalogue::layoutHasNameTag(e.type));
    }
    Connection c;
    Table* t = c.open((dir.path() + "/layout1.dbf").toStdString());
    QCOMPARE(t->recordLength(), 364);
    QCOMPARE(t->headerLength(), 769);
    QVERIFY(catalogue::layoutHasNameTag(3) && catalogue::layoutHasNameTag(4) && catalogue::layoutHasNameTag(2) &&
            catalogue::layoutHasNameTag(7));
    QVERIFY(!catalogue::layoutHasNameTag(1) && !catalogue::layoutHasNameTag(9));
    testsupport::EngineErrors errors;
    QVERIFY(!catalogue::CreateTable(5, (dir.path() + "/x.dbf").toStdString()));
    QVERIFY(errors.contains("no layout 5"));
}

void TestCatalogue::createTableNeverReplaces()
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/Ticket.dbf").toStdString();
    QVERIFY(catalogue::CreateTable(1, path));
    {
        Connection c;
        c.open(path)->appendBlank();
    }
    // A table made meanwhile (here under another letter case) is kept, and
    // the create refused.
    testsupport::EngineErrors errors;
    QVERIFY(!catalogue::CreateTable(1, (dir.path() + "/TICKET.DBF").toStdString()));
    QVERIFY(errors.contains("exists"));
    Connection c;
    QCOMPARE(c.open(path)->recCount(), 1u);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"Ticket.dbf"});
}

void TestCatalogue::loadListInNameOrder()
{
    QTemporaryDir dir;
    std::string path = (dir.path() + "/customer.dbf").toStdString();
    QVERIFY(catalogue::CreateTable(3, path));
    {
        Connection c;
        Table* t = c.open(path);
        for (const char* n : {"ZED HAULING   ", "acme", "BLUE RIVER", "ACME GRAVEL", "", "Acme"}) {
            t->appendStart();
            t->blank();
            t->field("n_ame")->assign(n);
            t->append();
        }
        t->go(3);
        t->deleteRecord();
    }
    std::vector<std::string> names {"left over"};
    catalogue::LoadList(3, names, dir.path().toStdString());  // "Customer.dbf" finds customer.dbf
    QCOMPARE(names, (std::vector<std::string> {"", "ACME GRAVEL", "Acme", "ZED HAULING", "acme"}));
}

void TestCatalogue::loadListCreatesMissingTable()
{
    QTemporaryDir dir;
    std::vector<std::string> names {"x"};
    catalogue::LoadList(4, names, dir.path().toStdString());
    QVERIFY(names.empty());
    QVERIFY(fileExists((dir.path() + "/Product.dbf").toStdString()));
    QCOMPARE(fieldsOf((dir.path() + "/Product.dbf").toStdString()),
             std::string("CODE_NUM N3.0;N_AME C35.0;PRICE_T F6.2;BALANCE N6.0;"));
}

void TestCatalogue::tablesExist()
{
    QTemporaryDir dir;
    std::string d = dir.path().toStdString();
    QVERIFY(!catalogue::TablesExist(""));
    touch(dir.path() + "/Customer.dbf");
    touch(dir.path() + "/PRODUCT.DBF");
    QVERIFY(!catalogue::TablesExist(d));
    touch(dir.path() + "/house.dbf");
    QVERIFY(catalogue::TablesExist(d));
    QVERIFY(catalogue::TablesExist(d + "/"));
}

void TestCatalogue::addBackslash()
{
    QCOMPARE(catalogue::AddBackslash(""), std::string(""));
    QCOMPARE(catalogue::AddBackslash("/data"), std::string("/data/"));
    QCOMPARE(catalogue::AddBackslash("/data/"), std::string("/data/"));
    QCOMPARE(catalogue::AddBackslash("C:\\data\\"), std::string("C:\\data\\"));
}

void TestCatalogue::resolvePathFindsAnyCase()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("Database/26Dec");
    touch(dir.path() + "/Database/26Dec/Dec0826.DBF");
    std::string base = dir.path().toStdString();
    QCOMPARE(resolvePath(base + "/database/26DEC/dec0826.dbf"), base + "/Database/26Dec/Dec0826.DBF");
    QCOMPARE(resolvePath(base + "\\DATABASE\\26dec\\DEC0826.dbf"), base + "/Database/26Dec/Dec0826.DBF");
    // A name that does not exist keeps the spelling of the part that does not match.
    QCOMPARE(resolvePath(base + "/database/NewDir/New.dbf"), base + "/Database/NewDir/New.dbf");
    QVERIFY(fileExists(base + "/DATABASE/26dec/dec0826.dbf"));
    QVERIFY(!fileExists(base + "/database"));
    QVERIFY(directoryExists(base + "/DATABASE/"));
    QVERIFY(removeFile(base + "/database/26dec/DEC0826.dbf"));
    QVERIFY(!fileExists(base + "/Database/26Dec/Dec0826.DBF"));
    // Two spellings of one name: the exact one wins, otherwise the first in order.
    touch(dir.path() + "/a.dbf");
    touch(dir.path() + "/A.dbf");
    QCOMPARE(resolvePath(base + "/a.dbf"), base + "/a.dbf");
    QCOMPARE(resolvePath(base + "/a.DBF"), base + "/A.dbf");
}

void TestCatalogue::copyAndMakeDir()
{
    QTemporaryDir dir;
    std::string base = dir.path().toStdString();
    QVERIFY(util::makeDir(base + "/MonthEnd/deeper"));
    QVERIFY(util::makeDir(base + "/monthend"));  // exists already, in another case
    QVERIFY(!QDir(dir.path() + "/monthend").exists() || QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1);
    QFile f(dir.path() + "/src.dbf");
    f.open(QIODevice::WriteOnly);
    f.write("0123456789");
    f.close();
    QVERIFY(util::fileCopy(base + "/SRC.DBF", base + "/monthend/copy.dbf"));
    QFile c(dir.path() + "/MonthEnd/copy.dbf");
    QVERIFY(c.open(QIODevice::ReadOnly));
    QCOMPARE(c.readAll(), QByteArray("0123456789"));
    testsupport::EngineErrors errors;
    QVERIFY(!util::fileCopy(base + "/missing.dbf", base + "/x.dbf"));
    QVERIFY(errors.contains("missing.dbf"));
    QVERIFY(!QFile::exists(dir.path() + "/x.dbf"));
}

void TestCatalogue::datedFileNames()
{
    Date d {2026, 12, 8};
    QCOMPARE(catalogue::dayTableName(d), std::string("Dec0826.dbf"));
    QCOMPARE(catalogue::dayTableName(Date {2030, 1, 31}), std::string("Jan3130.dbf"));
    QCOMPARE(catalogue::monthDirName(2026, 12), std::string("26Dec"));
    QCOMPARE(catalogue::monthEndTableName(2026, 5), std::string("MonthEnd/ME_26May.dbf"));
    QCOMPARE(catalogue::purgeTableName(d), std::string("HS_data/HS_Dec0826.dbf"));
    // English whatever the system's language.
    const char* old = std::getenv("LC_ALL");
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    QCOMPARE(catalogue::dayTableName(Date {2026, 3, 1}), std::string("Mar0126.dbf"));
    if (old)
        setenv("LC_ALL", old, 1);
    else
        unsetenv("LC_ALL");
    setClockSource([] { return LocalTime {2027, 1, 1, 0, 0, 5}; });
    QVERIFY(catalogue::today() == (Date {2027, 1, 1}));
    setClockSource({});
}

void TestCatalogue::storedTimes()
{
    QCOMPARE(catalogue::timeToStored(9, 30), 930);
    QCOMPARE(catalogue::timeToStored(0, 5), 5);
    QCOMPARE(catalogue::storedTimeText("930"), std::string("09:30"));
    QCOMPARE(catalogue::storedTimeText("  45"), std::string("00:45"));
    QCOMPARE(catalogue::storedTimeText("5"), std::string("00:05"));
    QCOMPARE(catalogue::storedTimeText("2359"), std::string("23:59"));
    QCOMPARE(catalogue::storedTimeText("    "), std::string(""));
}

void TestCatalogue::directories()
{
    QTemporaryDir dir;
    setenv("GRAZULO_HOME", dir.path().toLocal8Bit().constData(), 1);
    QCOMPARE(QString::fromStdString(catalogue::programDir()), dir.path() + "/");
    QCOMPARE(QString::fromStdString(catalogue::kioskDatabaseDir()), dir.path() + "/database/");
    QCOMPARE(catalogue::dataDir(), std::string());  // no setup.dbf
    QVERIFY(catalogue::CreateTable(9, catalogue::setupTablePath()));
    {
        Connection c;
        Table* t = c.open(catalogue::setupTablePath());
        t->appendStart();
        t->blank();
        t->field("datapath")->assign("/srv/scale/data");
        t->append();
    }
    QCOMPARE(catalogue::dataDir(), std::string("/srv/scale/data/"));
    unsetenv("GRAZULO_HOME");
    QVERIFY(QString::fromStdString(catalogue::programDir()).endsWith("/"));
}

// A datapath as setup.dbf holds it, and the directory it names: a relative
// one from the program directory, whatever the working directory; and a
// directory typed or given, as it is stored.
void TestCatalogue::storedDirectories_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read");    // dataDirFrom(text); PROG: the program directory
    QTest::addColumn<QString>("stored");  // absoluteDirectory(text, "/base")
    QTest::newRow("blank") << "   " << "" << "";
    QTest::newRow("absolute") << "/srv/scale/data" << "/srv/scale/data/" << "/srv/scale/data";
    QTest::newRow("relative") << "database/" << "PROG/database/" << "/base/database/";
    QTest::newRow("relative with backslashes") << "..\\data\\" << "PROG/../data/" << "/data/";
    QTest::newRow("dots") << "./a/../b" << "PROG/./a/../b/" << "/base/b/";
    QTest::newRow("a drive letter") << "C:\\SITE\\DATA" << "C:/SITE/DATA/" << "/base/C:/SITE/DATA/";
}

void TestCatalogue::storedDirectories()
{
    QFETCH(QString, text);
    QFETCH(QString, read);
    QFETCH(QString, stored);
    QTemporaryDir dir;
    setenv("GRAZULO_HOME", dir.path().toLocal8Bit().constData(), 1);
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent("/tmp"));
    read.replace("PROG", dir.path());
    QCOMPARE(QString::fromStdString(catalogue::dataDirFrom(text.toStdString())), read);
    QCOMPARE(QString::fromStdString(catalogue::absoluteDirectory(text.toStdString(), "/base")), stored);
    QDir::setCurrent(cwd);
    unsetenv("GRAZULO_HOME");
}

void TestCatalogue::dateFormat()
{
    QCOMPARE(util::date4format("20261208"), std::string("12/08/2026"));
    QCOMPARE(util::date4format("        "), std::string(""));
    QCOMPARE(util::date4format("20240230"), std::string(""));
    QCOMPARE((Date {2024, 3, 14}).julianDay(), 2460384L);
    QVERIFY(Date::fromJulianDay(2460384) == (Date {2024, 3, 14}));
}

void TestCatalogue::appendFromMatchesFieldsByName()
{
    QTemporaryDir dir;
    std::string src = (dir.path() + "/Dec0826.dbf").toStdString();
    std::string dst = (dir.path() + "/ME_26Dec.dbf").toStdString();
    QVERIFY(catalogue::CreateTable(1, dst));
    {
        // An older daily table: id_num first, fewer fields, another width.
        Connection c;
        Table* t = c.create(src, {{"id_num", 'C', 10, 0}, {"TICKET", 'N', 6, 0}, {"customer", 'C', 40, 0},
                                  {"in_date", 'D', 8, 0}, {"complete", 'L', 1, 0}, {"pounds", 'L', 1, 0}});
        for (int i = 1; i <= 3; ++i) {
            t->appendStart();
            t->blank();
            t->field("ticket")->assignInteger(100 + i);
            t->field("customer")->assign("CUSTOMER " + std::to_string(i));
            t->field("in_date")->assign("20261208");
            t->field("complete")->assignLogical(true);
            t->append();
        }
        t->go(2);
        t->deleteRecord();
    }
    QVERIFY(util::cbAppendFrom(src, dst));
    Connection c;
    Table* t = c.open(dst);
    QCOMPARE(t->recCount(), 2u);
    t->top();
    QCOMPARE(t->field("ticket")->integer(), 101LL);
    QCOMPARE(t->field("customer")->text(), std::string("CUSTOMER 1"));
    QCOMPARE(t->field("in_date")->text(), std::string("20261208"));
    QVERIFY(t->field("complete")->isTrue());
    QVERIFY(t->field("pounds")->isBlank());
    QVERIFY(t->field("user_id")->isBlank());
    t->skip(1);
    QCOMPARE(t->field("ticket")->integer(), 103LL);
    // A value that does not fit stops with a report.
    testsupport::EngineErrors errors;
    std::string wide = (dir.path() + "/wide.dbf").toStdString();
    {
        Connection w;
        Table* t2 = w.create(wide, {{"ticket", 'N', 8, 0}});
        t2->appendStart();
        t2->blank();
        t2->field("ticket")->assignInteger(1234567);
        t2->append();
    }
    QVERIFY(!util::cbAppendFrom(wide, dst));
    QVERIFY(errors.contains("does not fit"));
    QCOMPARE(c.open(dst)->recCount(), 2u);
}

namespace {
QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

void TestCatalogue::appendFromIsAllOrNothing_data()
{
    // A source of five tickets appended to an archive of three (ticket
    // layout, ticket N(5)); `bad` is the source record whose value the
    // archive cannot hold, 0 for none.
    QTest::addColumn<int>("bad");
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<bool>("diskFull");  // the file cannot grow past two more records
    QTest::addColumn<bool>("appended");
    QTest::addColumn<QString>("reported");
    QTest::newRow("all fit") << 0 << false << false << true << "no field EXTRA";
    QTest::newRow("last does not fit") << 5 << false << false << false << "record 5";
    QTest::newRow("first does not fit") << 1 << false << false << false << "record 1";
    QTest::newRow("middle does not fit, indexed") << 3 << true << false << false << "record 3";
    QTest::newRow("all fit, indexed") << 0 << true << false << true << "no field EXTRA";
    QTest::newRow("disk full part of the way") << 0 << false << true << false << "nothing was appended";
    QTest::newRow("disk full part of the way, indexed") << 0 << true << true << false << "nothing was appended";
}

void TestCatalogue::appendFromIsAllOrNothing()
{
    QFETCH(int, bad);
    QFETCH(bool, indexed);
    QFETCH(bool, diskFull);
    QFETCH(bool, appended);
    QFETCH(QString, reported);
    QTemporaryDir dir;
    const QString dstQ = dir.path() + "/archive.dbf";
    const std::string src = (dir.path() + "/day.dbf").toStdString(), dst = dstQ.toStdString();
    {
        Connection c;
        std::vector<TagSpec> tags(1);
        tags[0].name = "TICKET";
        tags[0].keyExpr = "STR(ticket,5)";
        Table* a = c.create(dst, catalogue::layoutFields(catalogue::kTicketLayout),
                            indexed ? tags : std::vector<TagSpec> {});
        for (int i = 1; i <= 3; ++i) {
            a->appendBlank();
            a->field("ticket")->assignInteger(i);
        }
        Table* d = c.create(src, {{"ticket", 'N', 8, 0}, {"customer", 'C', 40, 0}, {"extra", 'C', 5, 0}});
        for (int i = 1; i <= 5; ++i) {
            d->appendBlank();
            d->field("ticket")->assignInteger(i == bad ? 123456 : 100 + i);
            d->field("customer")->assign("C" + std::to_string(i));
        }
    }
    const QByteArray table = bytesOf(dstQ), index = bytesOf(dir.path() + "/archive.cdx");
    const int recordLength = Connection().open(dst)->recordLength();

    bool result = false;
    std::vector<std::string> reports;
    if (diskFull) {
        // A file size limit stands in for a disk that fills up after two of
        // the five records.
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        pid_t pid = fork();
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlim_t limit = rlim_t(table.size() + 2 * recordLength + 1);
            rlimit lim {limit, limit};
            setrlimit(RLIMIT_FSIZE, &lim);
            std::string all;
            setErrorReport([&](const EngineError& e) { all += e.text() + "\n"; });
            char ok = util::cbAppendFrom(src, dst) ? '1' : '0';
            (void)!::write(fds[1], &ok, 1);
            (void)!::write(fds[1], all.data(), all.size());
            _exit(0);
        }
        ::close(fds[1]);
        QByteArray out;
        char buf[4096];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            out.append(buf, int(n));
        ::close(fds[0]);
        int st = 0;
        waitpid(pid, &st, 0);
        QVERIFY(!out.isEmpty());
        result = out[0] == '1';
        for (const QByteArray& l : out.mid(1).split('\n'))
            reports.push_back(l.toStdString());
    } else {
        testsupport::EngineErrors errors;
        result = util::cbAppendFrom(src, dst);
        reports = errors.messages;
    }
    QCOMPARE(result, appended);
    bool found = false;
    for (const auto& r : reports)
        found = found || r.find(reported.toStdString()) != std::string::npos;
    std::string all;
    for (const auto& r : reports)
        all += r + "\n";
    QVERIFY2(found, all.c_str());

    Connection c;
    Table* t = c.open(dst);
    QVERIFY(checkTableFile(dst).empty());
    if (!appended) {
        QCOMPARE(t->recCount(), 3u);
        t->close();
        if (diskFull) {
            QCOMPARE(bytesOf(dstQ).mid(32), table.mid(32));  // the date of the last update may differ
        } else {
            QCOMPARE(bytesOf(dstQ), table);
            QCOMPARE(bytesOf(dir.path() + "/archive.cdx"), index);
        }
        return;
    }
    QCOMPARE(t->recCount(), 8u);
    std::vector<long long> tickets;
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        tickets.push_back(t->field("ticket")->integer());
    QCOMPARE(tickets, (std::vector<long long> {1, 2, 3, 101, 102, 103, 104, 105}));
}

QTEST_APPLESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"

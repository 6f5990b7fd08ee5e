// Tables shared with other programs: what another program writes between
// this process's open of a table and its write is never lost, the locks of
// the convention are honoured both ways, an index that cannot be vouched
// for is never trusted, and numbers that are not numbers are never taken
// for values.
//
// The other program is a second process (the table tool, or lock_holder,
// which locks as the site's other xBase programs do), or the test itself
// writing the file's bytes as a program that knows nothing of the index
// would.

#include "FaultyFiles.h"
#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "data/Paths.h"
#include "data/TicketStore.h"
#include "data/Util.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <functional>
#include <map>
#include <optional>
#include <unistd.h>

using namespace xb;
using testsupport::FaultyFiles;
using testsupport::run;
using Op = FaultyFiles::Op;
using Rows = std::vector<std::string>;

namespace {

const std::vector<FieldSpec> kFields = {{"name", 'C', 10, 0}, {"qty", 'N', 6, 0}};

QString tool() { return testsupport::binDir() + "/dbftool"; }

std::vector<TagSpec> nameTag()
{
    std::vector<TagSpec> tags(1);
    tags[0].name = "NAME";
    tags[0].keyExpr = "name";
    return tags;
}

// R1..R5 with quantities 1..5, R2 deleted, indexed on name (unless told).
void makeTable(const std::string& path, bool indexed = true)
{
    Connection c;
    Table* t = c.create(path, kFields, indexed ? nameTag() : std::vector<TagSpec> {});
    for (int i = 1; i <= 5; ++i) {
        t->appendBlank();
        t->field("name")->assign("R" + std::to_string(i));
        t->field("qty")->assignInteger(i);
    }
    t->go(2);
    t->deleteRecord();
    t->close();
}

// name=qty of every live record, in record order, or in the order of the
// tag NAME.
Rows liveRows(const std::string& path, bool byName = false)
{
    Rows v;
    Connection c;
    Table* t = c.open(path);
    if (!t || (byName && !t->selectTag("NAME")))
        return {"(does not open)"};
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        v.push_back(t->field("name")->text() + "=" + std::to_string(t->field("qty")->integer()));
    return v;
}

// Rows as one line, for a comparison that shows them when it fails.
QString line(const Rows& rows)
{
    QStringList l;
    for (const auto& r : rows)
        l << QString::fromStdString(r);
    return l.join(' ');
}

// The file's header length, record length and whole records.
struct Shape {
    uint16_t hdrLen, recLen;
    uint32_t records;
};
Shape shapeOf(int fd)
{
    unsigned char h[12];
    if (::pread(fd, h, sizeof h, 0) != ssize_t(sizeof h))
        return {0, 1, 0};
    Shape s {uint16_t(h[8] | (h[9] << 8)), uint16_t(h[10] | (h[11] << 8)), 0};
    s.records = uint32_t((::lseek(fd, 0, SEEK_END) - s.hdrLen) / s.recLen);
    return s;
}

void putCount(int fd, uint32_t n)
{
    unsigned char b[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    QVERIFY(::pwrite(fd, b, 4, 4) == 4);
}

// Another program that knows nothing of the index appends a record.
// Another program appends through a descriptor it holds open: after the
// last whole record its file holds, then the count.
void appendThrough(int fd, const std::string& name, int qty)
{
    Shape s = shapeOf(fd);
    char q[8];
    std::snprintf(q, sizeof q, "%6d", qty);
    std::string rec = " " + (name + std::string(10, ' ')).substr(0, 10) + q + "\x1A";
    QVERIFY(::pwrite(fd, rec.data(), rec.size(), s.hdrLen + off_t(s.records) * s.recLen) == ssize_t(rec.size()));
    putCount(fd, s.records + 1);
}

void rawAppend(const std::string& path, const std::string& name, int qty)
{
    int fd = ::open(path.c_str(), O_RDWR);
    QVERIFY(fd >= 0);
    appendThrough(fd, name, qty);
    ::close(fd);
}

// Another program packs the table in place: the live records moved down
// over the deleted ones, the file cut after them.
void rawPackInPlace(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR);
    QVERIFY(fd >= 0);
    Shape s = shapeOf(fd);
    std::string all(std::size_t(s.records) * s.recLen, '\0');
    QVERIFY(::pread(fd, all.data(), all.size(), s.hdrLen) == ssize_t(all.size()));
    std::string kept;
    for (uint32_t n = 0; n < s.records; ++n)
        if (all[std::size_t(n) * s.recLen] != '*')
            kept += all.substr(std::size_t(n) * s.recLen, s.recLen);
    kept += '\x1A';
    QVERIFY(::pwrite(fd, kept.data(), kept.size(), s.hdrLen) == ssize_t(kept.size()));
    QVERIFY(::ftruncate(fd, s.hdrLen + off_t(kept.size())) == 0);
    putCount(fd, uint32_t(kept.size() / s.recLen));
    ::close(fd);
}

// Another program changes bytes of a record without its index.
void rawWrite(const std::string& path, uint32_t record, int at, const std::string& bytes,
              const struct timespec* stamp = nullptr)
{
    int fd = ::open(path.c_str(), O_RDWR);
    QVERIFY(fd >= 0);
    Shape s = shapeOf(fd);
    QVERIFY(::pwrite(fd, bytes.data(), bytes.size(), s.hdrLen + off_t(record - 1) * s.recLen + at) ==
            ssize_t(bytes.size()));
    // Stamped a clock tick later, as a write that does not land in the
    // tick of the last one is (a test is quicker than a tick); or with the
    // time given.
    struct stat st;
    QVERIFY(::fstat(fd, &st) == 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (stamp)
        times[1] = *stamp;
    else
        times[1].tv_sec += 1;
    QVERIFY(::futimens(fd, times) == 0);
    ::close(fd);
}

// Another program writes the table anew, the same records in the same
// places, and renames the new file over it (as a program that packs a table
// without deleted records by writing a new file does).
void rawReplace(const std::string& path)
{
    QFile in(QString::fromStdString(path));
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QFile out(QString::fromStdString(path + ".new"));
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(out.write(bytes), qint64(bytes.size()));
    out.close();
    QVERIFY(::rename((path + ".new").c_str(), path.c_str()) == 0);
}

// lock_holder: another program holding a lock until this ends (or, with
// releaseAfter, until that many milliseconds have passed).
class Holder {
public:
    bool start(const std::string& path, const QString& what, int releaseAfter = -1)
    {
        QStringList args {QString::fromStdString(path), what};
        if (releaseAfter >= 0)
            args << "--release-after" << QString::number(releaseAfter);
        p_.start(QStringLiteral(GRAZULO_LOCK_HOLDER), args);
        if (!p_.waitForStarted(10000))
            return false;
        while (!p_.canReadLine())
            if (!p_.waitForReadyRead(30000))
                return false;
        return p_.readLine().trimmed() == "held";
    }
    ~Holder()
    {
        p_.closeWriteChannel();
        if (!p_.waitForFinished(30000))
            p_.kill();
    }

private:
    QProcess p_;
};

// The lock wait for one case, put back afterwards.
struct LockWait {
    std::chrono::milliseconds before;
    explicit LockWait(std::chrono::milliseconds w) : before(setLockWait(w)) {}
    ~LockWait() { setLockWait(before); }
};

// ---- the interleavings ----

struct Rec {
    std::string name;
    int qty;
    bool deleted = false;
};
using Model = std::vector<Rec>;

Rows rowsOf(const Model& m)
{
    Rows v;
    for (const Rec& r : m)
        if (!r.deleted)
            v.push_back(r.name + "=" + std::to_string(r.qty));
    return v;
}

void dropDeleted(Model& m)
{
    m.erase(std::remove_if(m.begin(), m.end(), [](const Rec& r) { return r.deleted; }), m.end());
}

// What the other program does between our open and our write.
struct Other {
    const char* name;
    std::function<void(const std::string& path)> act;  // before our write
    std::function<void(Model&)> effect;
    bool renumbers = false;
    const char* holds = nullptr;  // lock_holder's lock, held past our wait
    bool briefly = false;         // released while we wait
};

std::vector<Other> others()
{
    auto none = [](Model&) {};
    auto appended = [](Model& m) { m.push_back({"X", 9}); };
    return {
        {"nothing", [](const std::string&) {}, none},
        {"appends",
         [](const std::string& p) {
             QCOMPARE(run(tool(), {"append", QString::fromStdString(p), "name=X", "qty=9"}).exitCode, 0);
         },
         appended},
        {"appends without the index", [](const std::string& p) { rawAppend(p, "X", 9); }, appended},
        {"changes the record",
         [](const std::string& p) {
             QCOMPARE(run(tool(), {"set", QString::fromStdString(p), "4", "name=R4X"}).exitCode, 0);
         },
         [](Model& m) { m[3].name = "R4X"; }},
        {"packs in place",
         [](const std::string& p) {
             rawPackInPlace(p);
             QCOMPARE(run(tool(), {"reindex", QString::fromStdString(p)}).exitCode, 0);
         },
         dropDeleted, true},
        {"packs by rename",
         [](const std::string& p) { QCOMPARE(run(tool(), {"pack", QString::fromStdString(p)}).exitCode, 0); },
         dropDeleted, true},
        // A program that packs in place and then takes a new ticket: the
        // records are renumbered, but the table holds as many as before.
        {"packs in place, then appends",
         [](const std::string& p) {
             rawPackInPlace(p);
             QCOMPARE(run(tool(), {"reindex", QString::fromStdString(p)}).exitCode, 0);
             QCOMPARE(run(tool(), {"append", QString::fromStdString(p), "name=X", "qty=9"}).exitCode, 0);
         },
         [](Model& m) {
             dropDeleted(m);
             m.push_back({"X", 9});
         },
         true},
        // One program appends without the index, another then changes a
        // record's key through it: the index changed, and the count too.
        {"appends without the index, then another changes a key",
         [](const std::string& p) {
             rawAppend(p, "X", 9);
             QCOMPARE(run(tool(), {"set", QString::fromStdString(p), "1", "name=R1X"}).exitCode, 0);
         },
         [](Model& m) {
             m[0].name = "R1X";
             m.push_back({"X", 9});
         }},
        {"holds the header briefly", [](const std::string&) {}, none, false, "header", true},
        {"holds the header", [](const std::string&) {}, none, false, "header"},
        {"holds record 4", [](const std::string&) {}, none, false, "4"},
    };
}

// Our operation: `open` runs before the other program acts, `write` after;
// false from write when it was refused.
struct Ours {
    const char* name;
    std::function<void(Connection&, Table*&, const std::string& path)> open;
    std::function<bool(Table*, const std::string& path)> write;
    std::function<void(Model&)> effect;
    bool onRecord4 = false;  // refused when the other renumbered the records
    bool needsTable = true;  // refused by any lock the other holds (else: by the header's only)
};

std::vector<Ours> ours()
{
    auto openIt = [](Connection& c, Table*& t, const std::string& p) { t = c.open(p); };
    auto openAt4 = [](Connection& c, Table*& t, const std::string& p) {
        t = c.open(p);
        QVERIFY(t && t->go(4) == kSuccess);
        QCOMPARE(t->field("name")->text(), std::string("R4"));
    };
    return {
        {"append", openIt,
         [](Table* t, const std::string&) {
             return t->appendStart() == kSuccess && (t->blank(), t->field("name")->assign("NEW")) &&
                    t->field("qty")->assignInteger(7) && t->append() == kSuccess && t->flush() == kSuccess;
         },
         [](Model& m) { m.push_back({"NEW", 7}); }, false, false},
        {"change", openAt4,
         [](Table* t, const std::string&) { return t->field("qty")->assignInteger(44) && t->flush() == kSuccess; },
         [](Model& m) { m[3].qty = 44; }, true, false},
        {"delete", openAt4, [](Table* t, const std::string&) { return t->deleteRecord() == kSuccess && t->flush() == kSuccess; },
         [](Model& m) { m[3].deleted = true; }, true, false},
        {"pack", openIt, [](Table* t, const std::string&) { return t->pack() == kSuccess; }, dropDeleted},
        {"reindex", openIt, [](Table* t, const std::string&) { return t->reindex(); }, [](Model&) {}},
        {"append-from", openIt,
         [](Table*, const std::string& p) { return util::cbAppendFrom(xb::directoryOf(p) + "src.dbf", p); },
         [](Model& m) { m.push_back({"NEW", 7}); }},
    };
}

// A small file layer that runs something just before the first rename, or
// just before the next record written to a table (or refuses to open
// indexes): the moment another program acts, inside one of our calls.
class HookedFiles final : public FileLayer {
public:
    std::function<void()> beforeRename;
    std::function<void()> beforeRecordWrite;
    std::function<void()> afterTableOpen;  // just after the next open of a table
    bool failIndexOpens = false;

    int open(const std::string& path, int flags, mode_t mode) override
    {
        if (failIndexOpens && path.size() > 4 && path.compare(path.size() - 4, 4, ".cdx") == 0) {
            errno = EMFILE;
            return -1;
        }
        const int fd = under().open(path, flags, mode);
        if (fd >= 0)
            tables_[fd] = path.size() > 4 && path.compare(path.size() - 4, 4, ".dbf") == 0;
        if (fd >= 0 && tables_[fd] && afterTableOpen) {
            auto h = std::move(afterTableOpen);
            afterTableOpen = nullptr;
            h();
        }
        return fd;
    }
    int close(int fd) override
    {
        tables_.erase(fd);
        return under().close(fd);
    }
    ssize_t pread(int fd, void* b, std::size_t n, uint64_t o) override { return under().pread(fd, b, n, o); }
    ssize_t pwrite(int fd, const void* b, std::size_t n, uint64_t o) override
    {
        // A record (not the header's count and date) written to a table.
        if (beforeRecordWrite && tables_[fd] && n >= 16 && o > 32) {
            auto h = std::move(beforeRecordWrite);
            beforeRecordWrite = nullptr;
            h();
        }
        return under().pwrite(fd, b, n, o);
    }
    int sync(int fd) override { return under().sync(fd); }
    int size(int fd, uint64_t& bytes) override { return under().size(fd, bytes); }
    int truncate(int fd, uint64_t bytes) override { return under().truncate(fd, bytes); }
    int rename(const std::string& from, const std::string& to) override
    {
        hook();
        return under().rename(from, to);
    }
    int renameNoReplace(const std::string& from, const std::string& to) override
    {
        hook();
        return under().renameNoReplace(from, to);
    }
    int remove(const std::string& path) override { return under().remove(path); }
    int makeDirectory(const std::string& path, mode_t mode) override { return under().makeDirectory(path, mode); }
    int syncDirectory(const std::string& d) override { return under().syncDirectory(d); }

private:
    static FileLayer& under() { return posixFiles(); }
    std::map<int, bool> tables_;  // open descriptors: of a table?
    void hook()
    {
        if (auto h = std::move(beforeRename)) {
            beforeRename = nullptr;
            h();
        }
    }
};

}  // namespace

class TestSharing : public QObject {
    Q_OBJECT

private slots:
    void interleavings_data();
    void interleavings();
    void createNeverReplaces_data();
    void createNeverReplaces();
    void locksFollowTheReplacement_data();
    void locksFollowTheReplacement();
    void tagAnotherProgramDroppedIsReported_data();
    void tagAnotherProgramDroppedIsReported();
    void packKeepsOthersWrites_data();
    void packKeepsOthersWrites();
    void indexInUseIsNotInterrupted_data();
    void indexInUseIsNotInterrupted();
    void takeBackKeepsOthersRecords_data();
    void takeBackKeepsOthersRecords();
    void lastUpdateIsTheDayOfTheWrite_data();
    void lastUpdateIsTheDayOfTheWrite();
    void moveFoundWhereItsCopyWent_data();
    void moveFoundWhereItsCopyWent();
    void counterNeverGoesBack_data();
    void counterNeverGoesBack();
    void counterWaitsForItsRecord_data();
    void counterWaitsForItsRecord();
    void exclusiveOpenHoldsTheTable();
    void failedRebuildRefusesWrites();
    void unopenableIndexRefusesWrites();
    void indexBuiltFromWhatIsOnTheDisk();
    void seekAndWalkCheckKeys_data();
    void seekAndWalkCheckKeys();
    void numbersThatAreNotNumbers_data();
    void numbersThatAreNotNumbers();
    void weightsThatAreNotNumbersRefused_data();
    void weightsThatAreNotNumbersRefused();
    void appendFrom_data();
    void appendFrom();
};

void TestSharing::interleavings_data()
{
    QTest::addColumn<int>("ourOp");
    QTest::addColumn<int>("otherOp");
    const auto o = ours();
    const auto t = others();
    for (std::size_t i = 0; i < o.size(); ++i)
        for (std::size_t j = 0; j < t.size(); ++j)
            QTest::newRow(qPrintable(QString("%1, the other %2").arg(o[i].name, t[j].name))) << int(i) << int(j);
}

void TestSharing::interleavings()
{
    QFETCH(int, ourOp);
    QFETCH(int, otherOp);
    const Ours us = ours()[std::size_t(ourOp)];
    const Other other = others()[std::size_t(otherOp)];
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    {
        Connection c;
        Table* s = c.create(dir.path().toStdString() + "/src.dbf", kFields);
        s->appendBlank();
        s->field("name")->assign("NEW");
        s->field("qty")->assignInteger(7);
    }
    Model model;
    for (int i = 1; i <= 5; ++i)
        model.push_back({"R" + std::to_string(i), i, i == 2});

    // The other program's lock: past our wait (a short one), or let go
    // while we wait (a long one).
    LockWait wait(other.briefly ? std::chrono::seconds(60) : std::chrono::milliseconds(300));
    testsupport::EngineErrors errors;
    bool done = false;
    {
        Connection c;
        Table* t = nullptr;
        us.open(c, t, path);
        QVERIFY(t);
        other.act(path);
        other.effect(model);
        Holder holder;
        if (other.holds)
            QVERIFY(holder.start(path, other.holds, other.briefly ? 300 : -1));
        done = us.write(t, path);
        c.closeAll();
    }
    const bool blocked = other.holds && !other.briefly &&
                         (std::string(other.holds) == "header" || us.needsTable || us.onRecord4);
    const bool moved = us.onRecord4 && other.renumbers;
    QCOMPARE(done, !blocked && !moved);
    if (done) {
        us.effect(model);
    } else {
        // Refused with a report naming the table and why.
        QVERIFY(errors.contains("t.dbf"));
        QVERIFY2(errors.contains(blocked ? "locked" : "packed"),
                 errors.messages.empty() ? "no report" : errors.messages.back().c_str());
    }
    QCOMPARE(liveRows(path), rowsOf(model));
    Rows byName = rowsOf(model);
    std::sort(byName.begin(), byName.end());
    QCOMPARE(liveRows(path, true), byName);
    const auto check = run(tool(), {"check", QString::fromStdString(path)});
    QVERIFY2(check.exitCode == 0, check.out.constData());
}

void TestSharing::createNeverReplaces_data()
{
    QTest::addColumn<QString>("theirs");  // the name the other program gives its table
    QTest::newRow("the same name") << "customer";
    // File names are found whatever their letter case: a table of that name
    // in other letters is the same table to every reader here.
    QTest::newRow("the name in capitals") << "CUSTOMER";
}

void TestSharing::createNeverReplaces()
{
    // Another program makes the table (and adds a customer) between our
    // look and our rename: its table is kept whole, with its index, and no
    // second table of that name is made beside it.
    QFETCH(QString, theirs);
    QTemporaryDir dir;
    const QString p = dir.path() + "/customer.dbf";
    const QString q = dir.path() + "/" + theirs + ".dbf";
    HookedFiles files;
    files.beforeRename = [&] {
        QCOMPARE(run(tool(), {"create", q, "3"}).exitCode, 0);
        QCOMPARE(run(tool(), {"append", q, "n_ame=THEIRS"}).exitCode, 0);
    };
    testsupport::EngineErrors errors;
    {
        Connection c(files);
        QVERIFY(c.create(p.toStdString(), catalogue::layoutFields(3), catalogue::layoutTags(3)) == nullptr);
    }
    QVERIFY(errors.contains("another program"));
    QCOMPARE(run(tool(), {"keys", p, "N_AME"}).out, QByteArray("THEIRS 1\n"));
    QCOMPARE(run(tool(), {"check", p}).exitCode, 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList {theirs + ".cdx", theirs + ".dbf"}));
}

void TestSharing::locksFollowTheReplacement_data()
{
    QTest::addColumn<bool>("appending");  // else: a change of record 4
    QTest::addColumn<bool>("againMeanwhile");  // the file is replaced again while we take it up
    QTest::newRow("append") << true << false;
    QTest::newRow("change") << false << false;
    QTest::newRow("append, the file replaced again meanwhile") << true << true;
    QTest::newRow("change, the file replaced again meanwhile") << false << true;
}

void TestSharing::locksFollowTheReplacement()
{
    // Another program wrote the table anew and renamed it over ours; our
    // next write follows the new file under the locks it needs. While it
    // holds them, the table tool (which honours them) writes the same
    // table: it must wait for them (and give up after its wait), never
    // write in between and have its write overwritten. (A table without an
    // index: the tool's exit says whether its write went through.)
    // Should the file be replaced once more between our open of the new
    // file and our locks on it, that one is not the table any more either.
    QFETCH(bool, appending);
    QFETCH(bool, againMeanwhile);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    const QString p = QString::fromStdString(path);
    makeTable(path, false);
    HookedFiles files;
    Connection c(files);
    Table* t = c.open(path);
    QVERIFY(t && t->go(4) == kSuccess);
    rawReplace(path);
    if (againMeanwhile)
        files.afterTableOpen = [&] { rawReplace(path); };
    int toolExit = -1;
    files.beforeRecordWrite = [&] {
        toolExit = appending ? run(tool(), {"append", p, "name=X", "qty=9"}).exitCode
                             : run(tool(), {"set", p, "4", "name=R4X"}).exitCode;
    };
    if (appending) {
        QCOMPARE(t->appendStart(), int(kSuccess));
        t->blank();
        QVERIFY(t->field("name")->assign("NEW") && t->field("qty")->assignInteger(7));
        QCOMPARE(t->append(), int(kSuccess));
    } else {
        QVERIFY(t->field("qty")->assignInteger(44));
        QCOMPARE(t->flush(), int(kSuccess));
    }
    c.closeAll();
    QVERIFY(toolExit >= 0);
    Rows want = appending ? Rows {"R1=1", "R3=3", "R4=4", "R5=5", "NEW=7"} : Rows {"R1=1", "R3=3", "R4=44", "R5=5"};
    if (toolExit == 0) {
        // The tool's write went through, so it came before ours and stays.
        if (appending)
            want.insert(want.end() - 1, "X=9");
        else
            want[2] = "R4X=44";
    }
    QCOMPARE(line(liveRows(path)), line(want));
}

void TestSharing::tagAnotherProgramDroppedIsReported_data()
{
    QTest::addColumn<bool>("fromTheTop");  // else: the walk goes on from where it is
    QTest::newRow("the walk goes on") << false;
    QTest::newRow("the walk starts again") << true;
}

void TestSharing::tagAnotherProgramDroppedIsReported()
{
    // We walk the table in name order; another program writes a new index
    // without that tag (its own tags) and appends. The walk must not go on
    // in record order as if nothing happened: it is refused, with a report
    // naming the tag.
    QFETCH(bool, fromTheTop);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    {
        std::vector<TagSpec> qtyTag(1);
        qtyTag[0].name = "QTY";
        qtyTag[0].keyExpr = "qty";
        Connection c;
        Table* o = c.create(dir.path().toStdString() + "/o.dbf", kFields, qtyTag);
        QVERIFY(o);
    }
    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    QVERIFY(t && t->selectTag("NAME") && t->top() == kSuccess);
    rawAppend(path, "A0", 9);
    QVERIFY(::rename((dir.path() + "/o.cdx").toStdString().c_str(), (dir.path() + "/t.cdx").toStdString().c_str()) == 0);
    const int r = fromTheTop ? t->top() : t->skip(1);
    QVERIFY2(r == kError && errors.contains("NAME"),
             qPrintable(QString("moved to %1 (%2) in \"%3\" order")
                            .arg(QString::fromStdString(t->field("name")->text()))
                            .arg(r)
                            .arg(QString::fromStdString(t->selectedTag()))));
}

void TestSharing::packKeepsOthersWrites_data()
{
    QTest::addColumn<QString>("other");
    // A program that holds the table open (as xBase programs do from their
    // open to their close) appends through its file after our pack.
    QTest::newRow("appends through the file it holds open") << "open file";
    // A change of another program in the clock tick of our last write: on
    // a kernel with coarse file times (Debian 12's) its file time is that
    // of our write; the test stamps it so.
    QTest::newRow("changes a record in the tick of our last write") << "same tick";
}

void TestSharing::packKeepsOthersWrites()
{
    QFETCH(QString, other);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path, false);
    Rows want;
    if (other == "open file") {
        const int fd = ::open(path.c_str(), O_RDWR);
        QVERIFY(fd >= 0);
        {
            Connection c;
            Table* t = c.open(path);
            QVERIFY(t);
            QCOMPARE(t->pack(), int(kSuccess));
        }
        appendThrough(fd, "X", 9);
        ::close(fd);
        want = {"R1=1", "R3=3", "R4=4", "R5=5", "X=9"};
    } else {
        Connection c;
        Table* t = c.open(path);
        QVERIFY(t);
        for (int r = t->top(); r == kSuccess; r = t->skip(1)) {
        }
        QVERIFY(t->go(3) == kSuccess && t->deleteRecord() == kSuccess);
        QCOMPARE(t->flush(), int(kSuccess));
        struct stat st;
        QVERIFY(::stat(path.c_str(), &st) == 0);
        rawWrite(path, 4, 11, "    40", &st.st_mtim);
        QCOMPARE(t->pack(), int(kSuccess));
        want = {"R1=1", "R4=40", "R5=5"};
    }
    QCOMPARE(line(liveRows(path)), line(want));
}

void TestSharing::indexInUseIsNotInterrupted_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("the table tool checks it") << "check";
    QTest::newRow("the table tool appends") << "append";
}

void TestSharing::indexInUseIsNotInterrupted()
{
    // A table this program keeps open and has appended to: its index is in
    // use, not left in the middle of a change by a program that died.
    // Another program neither reports it damaged nor rebuilds it.
    QFETCH(QString, command);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    const QString p = QString::fromStdString(path);
    makeTable(path);
    Connection c;
    Table* t = c.open(path);
    QVERIFY(t && t->appendBlank() == kSuccess && t->field("name")->assign("NEW"));
    QCOMPARE(t->go(1), int(kSuccess));
    const auto r = command == "check" ? run(tool(), {"check", p}) : run(tool(), {"append", p, "name=X", "qty=9"});
    QVERIFY2(!r.out.contains("middle of a change") && !r.err.contains("middle of a change"),
             (r.out + r.err).constData());
    QCOMPARE(r.exitCode, 0);
}

void TestSharing::takeBackKeepsOthersRecords_data()
{
    QTest::addColumn<bool>("otherFirst");  // the other's record comes before ours, else after
    QTest::newRow("another program appended before our records") << true;
    QTest::newRow("another program appended after our records") << false;
}

void TestSharing::takeBackKeepsOthersRecords()
{
    // A batch of appends is taken back (a month end's append-from that
    // failed part of the way): only our records go, never one another
    // program (one that takes no locks) appended meanwhile.
    QFETCH(bool, otherFirst);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    testsupport::EngineErrors errors;
    Connection c;
    Table* t = c.open(path);
    QVERIFY(t);
    const uint32_t keep = t->recCount();
    if (otherFirst)
        rawAppend(path, "X", 9);
    QVERIFY(t->appendStart() == kSuccess && (t->blank(), t->field("name")->assign("NEW")));
    QCOMPARE(t->append(), int(kSuccess));
    if (!otherFirst)
        rawAppend(path, "X", 9);
    t->discardRecordsAfter(keep);
    c.closeAll();
    const Rows rows = liveRows(path);
    QVERIFY2(std::find(rows.begin(), rows.end(), "X=9") != rows.end(), qPrintable(line(rows)));
}

void TestSharing::lastUpdateIsTheDayOfTheWrite_data()
{
    QTest::addColumn<bool>("appending");  // else: a change of record 1
    QTest::newRow("append") << true;
    QTest::newRow("change") << false;
}

void TestSharing::lastUpdateIsTheDayOfTheWrite()
{
    // A table the program keeps open over midnight: a write on the next day
    // stamps the next day as the table's last update, which other programs
    // read (and show, and back up by).
    QFETCH(bool, appending);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path, false);
    LocalTime when {2026, 3, 14, 23, 59, 0};
    setClockSource([&] { return when; });
    {
        Connection c;
        Table* t = c.open(path);
        QVERIFY(t && t->appendBlank() == kSuccess);
        QCOMPARE(t->flush(), int(kSuccess));
        when = {2026, 3, 15, 0, 1, 0};
        if (appending) {
            QCOMPARE(t->appendBlank(), int(kSuccess));
        } else {
            QVERIFY(t->go(1) == kSuccess && t->field("qty")->assignInteger(11));
        }
        QCOMPARE(t->flush(), int(kSuccess));
    }
    setClockSource({});
    QFile f(QString::fromStdString(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray h = f.read(4);
    QCOMPARE(QString("%1-%2-%3").arg(1900 + uint8_t(h[1])).arg(uint8_t(h[2])).arg(uint8_t(h[3])), QString("2026-3-15"));
}

void TestSharing::moveFoundWhereItsCopyWent_data()
{
    QTest::addColumn<bool>("completing");  // else: a renumbering
    QTest::newRow("completion") << true;
    QTest::newRow("renumbering") << false;
}

void TestSharing::moveFoundWhereItsCopyWent()
{
    // Another lane puts a completed ticket in the day table between the
    // record of our move and our copy, so our copy goes one record further
    // on; then the old record cannot be removed (the station's other
    // program holds it locked past our wait). The move must be settled by
    // where the copy is: the ticket ends in one table, never in both.
    QFETCH(bool, completing);
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    const LocalTime at {2026, 3, 14, 12, 5, 0};
    const QString day = QString::fromStdString(d + "Mar1426.dbf");
    QVERIFY(testsupport::writeTicketTable(QString::fromStdString(d + "Ticket.dbf"),
                                          completing ? std::vector<testsupport::HandTicket> {{7, "ACME", "T1", 14000}}
                                                     : std::vector<testsupport::HandTicket> {}));
    QVERIFY(testsupport::writeTicketTable(day, completing ? std::vector<testsupport::HandTicket> {{3, "BETA", "", 0, true}}
                                                          : std::vector<testsupport::HandTicket> {
                                                                {3, "BETA", "", 0, true}, {7, "ACME", "T1", 14000, true}}));
    HookedFiles files;
    files.beforeRename = [&] {
        QCOMPARE(run(tool(), {"append", day, "ticket=5", "customer=OTHER", "complete=T"}).exitCode, 0);
    };
    Connection c(files);
    store::TicketStore s(d, store::CounterMeaning::kLastIssued, {"Ticket.dbf", "Control.dbf"}, &c);
    LockWait wait(std::chrono::milliseconds(300));
    {
        testsupport::EngineErrors errors;
        Holder holder;
        QVERIFY(holder.start(completing ? d + "Ticket.dbf" : day.toStdString(), completing ? "1" : "2"));
        store::CompletedValues v;
        v.outWeight = 4000;
        const auto r = completing ? s.complete(7, std::nullopt, v, at) : s.renumber(7, 8, at);
        QVERIFY(r.outcome != store::Outcome::kDone);
    }
    // Settled by the store's next operation, the other program gone.
    QVERIFY(s.nextNumber().has_value());
    c.closeAll();
    int held = 0;
    for (const QString& table : {QString::fromStdString(d + "Ticket.dbf"), day})
        for (auto& row : testsupport::tableRows(table))
            held += (row["ticket"] == "7" || row["ticket"] == "8") ? 1 : 0;
    QCOMPARE(held, 1);
}

void TestSharing::counterNeverGoesBack_data()
{
    QTest::addColumn<bool>("lastIssued");  // the counter's meaning
    QTest::newRow("the counter holds the last number issued") << true;
    QTest::newRow("the counter holds the next number to issue") << false;
}

void TestSharing::counterNeverGoesBack()
{
    // A lane reads the next number (42) for the truck on its scale; before
    // it keeps it, another lane on the same counter issues 42 to 45. Keeping
    // 42 must not put the counter back: 43 to 45 would be issued again.
    QFETCH(bool, lastIssued);
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    const auto meaning = lastIssued ? store::CounterMeaning::kLastIssued : store::CounterMeaning::kNextToIssue;
    store::TicketStore ours(d, meaning, {"Ticket.dbf", "Control.dbf"});
    store::TicketStore theirs(d, meaning, {"Ticket.dbf", "Control.dbf"});
    QVERIFY(ours.recordIssued(41));
    const std::optional<long> mine = ours.nextNumber();
    QCOMPARE(mine, std::optional<long>(42));
    for (long n = 42; n <= 45; ++n)
        QVERIFY(theirs.recordIssued(n));
    QVERIFY(ours.recordIssued(*mine));
    QCOMPARE(ours.nextNumber().value_or(-1), 46L);
}

void TestSharing::counterWaitsForItsRecord_data()
{
    QTest::addColumn<bool>("briefly");
    QTest::newRow("the other lets go meanwhile") << true;
    QTest::newRow("the other keeps it") << false;
}

void TestSharing::counterWaitsForItsRecord()
{
    QFETCH(bool, briefly);
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    store::TicketStore s(d, store::CounterMeaning::kLastIssued, {"Ticket.dbf", "Control.dbf"});
    QVERIFY(s.recordIssued(41));
    LockWait wait(briefly ? std::chrono::seconds(60) : std::chrono::milliseconds(300));
    testsupport::EngineErrors errors;
    Holder holder;
    QVERIFY(holder.start(d + "Control.dbf", "1", briefly ? 300 : -1));
    QCOMPARE(s.recordIssued(42), briefly);
    if (!briefly)
        QVERIFY(errors.contains("Control.dbf") && errors.contains("record 1"));
    QCOMPARE(s.nextNumber(), std::optional<long>(briefly ? 43 : 42));
}

void TestSharing::exclusiveOpenHoldsTheTable()
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    const QString holder = QStringLiteral(GRAZULO_LOCK_HOLDER);
    {
        Connection c;
        c.setExclusive(true);
        Table* t = c.open(path);
        QVERIFY(t);
        QCOMPARE(run(holder, {QString::fromStdString(path), "header", "--release-after", "0"}).exitCode, 2);
        QCOMPARE(t->appendBlank(), int(kSuccess));
    }
    QCOMPARE(run(holder, {QString::fromStdString(path), "header", "--release-after", "0"}).exitCode, 0);
}

void TestSharing::failedRebuildRefusesWrites()
{
    // A pack whose new index cannot be put in place (the disk is full):
    // the index keeps its "interrupted" mark, nothing is written and no seek
    // answers from it until a rebuild succeeds.
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    testsupport::EngineErrors errors;
    FaultyFiles files;
    Connection c(files);
    Table* t = c.open(path);
    QVERIFY(t && t->selectTag("NAME"));
    files.failNth(Op::Rename, 2, ENOSPC, true);  // the table's rename goes through, the index's does not
    QCOMPARE(t->pack(), int(kError));
    QVERIFY(errors.contains("could not be rebuilt"));
    QCOMPARE(t->appendBlank(), int(kError));
    QVERIFY(t->seek("R4") != kSuccess || t->field("name")->text() == "R4");
    bool marked = false;
    for (const std::string& f : checkTableFile(path))
        marked = marked || f.find("middle of a change") != std::string::npos;
    QVERIFY(marked);

    // With room again, the next write rebuilds it first.
    files.clearFaults();
    errors.clear();
    QCOMPARE(t->appendBlank(), int(kSuccess));
    QVERIFY(t->selectTag("NAME"));
    QCOMPARE(t->seek("R4"), int(kSuccess));
    QCOMPARE(t->recNo(), 3u);
    c.closeAll();
    QVERIFY(checkTableFile(path).empty());
}

void TestSharing::unopenableIndexRefusesWrites()
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    const QByteArray before = testsupport::run("/bin/cat", {QString::fromStdString(path)}).out;
    HookedFiles files;
    files.failIndexOpens = true;  // no file descriptor left for it
    testsupport::EngineErrors errors;
    Connection c(files);
    Table* t = c.open(path);
    QVERIFY(t);
    QVERIFY(errors.contains("t.cdx") && errors.contains("cannot be read"));
    QCOMPARE(t->recCount(), 5u);  // read in record order
    QCOMPARE(t->appendBlank(), int(kError));
    QVERIFY(t->go(1) == kSuccess && t->field("name")->assign("ZED"));
    QCOMPARE(t->flush(), int(kError));
    QCOMPARE(t->pack(), int(kError));
    QCOMPARE(testsupport::run("/bin/cat", {QString::fromStdString(path)}).out, before);

    // Once it opens again, writes go ahead and keep it right.
    files.failIndexOpens = false;
    QCOMPARE(t->appendBlank(), int(kSuccess));
    QVERIFY(t->field("name")->assign("ZED"));
    c.closeAll();
    QVERIFY(checkTableFile(path).empty());
}

void TestSharing::indexBuiltFromWhatIsOnTheDisk()
{
    // A power cut after a rebuild: the table's records the rebuild indexed
    // reached the disk before the index did.
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    FaultyFiles files;
    {
        Connection c(files);
        Table* t = c.open(path);
        QVERIFY(t);
        t->appendBlank();
        t->field("name")->assign("NEW");
        QVERIFY(t->go(1) == kSuccess && t->field("name")->assign("A1"));
        QVERIFY(t->reindex());
        files.powerCut();
        testsupport::EngineErrors quiet;
        c.closeAll();
    }
    files.restart();
    QVERIFY(checkTableFile(path).empty());
    QCOMPARE(liveRows(path, true), (Rows {"A1=1", "NEW=0", "R3=3", "R4=4", "R5=5"}));
}

void TestSharing::seekAndWalkCheckKeys_data()
{
    QTest::addColumn<bool>("openBefore");
    QTest::newRow("opened before the other's edit") << true;
    QTest::newRow("opened after it") << false;
}

void TestSharing::seekAndWalkCheckKeys()
{
    // Another program renames R3 to ZZ without the index: the index still
    // says R3 for record 3.
    QFETCH(bool, openBefore);
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.dbf";
    makeTable(path);
    testsupport::EngineErrors errors;
    Connection c;
    Table* t = nullptr;
    if (openBefore) {
        t = c.open(path);
        QVERIFY(t && t->selectTag("NAME") && t->top() == kSuccess);
    }
    rawWrite(path, 3, 1, "ZZ");
    if (!openBefore) {
        t = c.open(path);
        QVERIFY(t && t->selectTag("NAME"));
    }
    QVERIFY(t->seek("R3") != kSuccess);  // not the record that holds ZZ
    QVERIFY(errors.contains("rebuilt"));
    QCOMPARE(t->seek("ZZ"), int(kSuccess));
    QCOMPARE(t->recNo(), 3u);
    Rows walked;
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        walked.push_back(t->field("name")->text());
    QCOMPARE(walked, (Rows {"R1", "R4", "R5", "ZZ"}));
}

void TestSharing::numbersThatAreNotNumbers_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<double>("value");
    QTest::addColumn<qlonglong>("whole");
    QTest::newRow("another program's overflow") << "*****" << 0 << false << 0.0 << 0LL;
    QTest::newRow("thousands separator") << "12,500" << 0 << false << 0.0 << 0LL;
    QTest::newRow("blank inside") << "1 250" << 0 << false << 0.0 << 0LL;
    QTest::newRow("nan") << "nan" << 0 << false << 0.0 << 0LL;
    QTest::newRow("inf") << "-inf" << 0 << false << 0.0 << 0LL;
    QTest::newRow("exponent") << "1e5" << 0 << false << 0.0 << 0LL;
    QTest::newRow("a sign alone") << "-" << 0 << false << 0.0 << 0LL;
    QTest::newRow("two signs") << "+-5" << 0 << false << 0.0 << 0LL;
    QTest::newRow("blank") << "" << 0 << true << 0.0 << 0LL;
    QTest::newRow("negative") << "-14020" << 0 << true << -14020.0 << -14020LL;
    QTest::newRow("plus sign") << "+7" << 0 << true << 7.0 << 7LL;
    QTest::newRow("decimals") << "-12.75" << 2 << true << -12.75 << -12LL;
    QTest::newRow("point first") << ".5" << 2 << true << 0.5 << 0LL;
}

void TestSharing::numbersThatAreNotNumbers()
{
    QFETCH(QString, stored);
    QFETCH(int, decimals);
    QFETCH(bool, readable);
    QFETCH(double, value);
    QFETCH(qlonglong, whole);
    QTemporaryDir dir;
    Connection c;
    Table* t = c.create(dir.path().toStdString() + "/n.dbf", {{"w", 'N', 10, decimals}});
    QVERIFY(t && t->appendBlank() == kSuccess);
    std::string raw = stored.toStdString();
    QVERIFY(t->field("w")->assignRaw(std::string(10 - raw.size(), ' ') + raw));
    const Field* f = t->field("w");
    QCOMPARE(f->readNumber().has_value(), readable);
    QCOMPARE(f->readInteger().has_value(), readable);
    std::string fault;
    QCOMPARE(util::ifetchChecked(t, "w", &fault).has_value(), readable);
    if (readable) {
        QCOMPARE(*f->readNumber(), value);
        QCOMPARE(*f->readInteger(), whole);
    } else {
        // Never a value made of part of the text.
        QCOMPARE(f->number(), 0.0);
        QCOMPARE(f->integer(), 0LL);
        QCOMPARE(fault, "record 1: field W holds \"" + raw + "\", which is not a number");
    }
}

void TestSharing::weightsThatAreNotNumbersRefused_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("weightGiven");
    QTest::newRow("completion") << "complete" << false;
    QTest::newRow("completion with the weight shown") << "complete" << true;
    QTest::newRow("reprint") << "renumber" << true;
}

void TestSharing::weightsThatAreNotNumbersRefused()
{
    // Another program's overflow in in_wgt: the ticket is refused, named
    // with its table, record and field, and stays where it was.
    QFETCH(QString, operation);
    QFETCH(bool, weightGiven);
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString() + "/";
    const LocalTime at {2026, 3, 14, 12, 5, 0};
    const bool completing = operation == "complete";
    const std::string table = completing ? d + "ticket.dbf" : d + "Mar1426.dbf";
    QVERIFY(testsupport::writeTicketTable(QString::fromStdString(table),
                                          {{4, "ACME"}, {5, "ACME", "T1", 14000, !completing}}));
    {
        Connection c;
        Table* t = c.open(table);
        QVERIFY(t && t->go(2) == kSuccess && t->field("in_wgt")->assignRaw("*****"));
    }
    const QByteArray before = testsupport::run("/bin/cat", {QString::fromStdString(table)}).out;
    store::TicketStore s(d, store::CounterMeaning::kNextToIssue);
    store::CompletedValues v;
    v.outWeight = 4000;
    if (weightGiven)
        v.inWeight = 0;  // what the screens show for a weight that does not read
    testsupport::EngineErrors errors;
    const auto r = completing ? s.complete(5, std::string("ACME"), v, at) : s.renumber(5, 6, at);
    QCOMPARE(int(r.outcome), int(store::Outcome::kBadValue));
    QVERIFY2(errors.contains(xb::baseName(table)) && errors.contains("record 2") && errors.contains("IN_WGT"),
             errors.messages.empty() ? "no report" : errors.messages.back().c_str());
    QCOMPARE(testsupport::run("/bin/cat", {QString::fromStdString(table)}).out, before);
    if (completing)
        QVERIFY(!QFile::exists(QString::fromStdString(d + "Mar1426.dbf")) ||
                testsupport::tableRows(QString::fromStdString(d + "Mar1426.dbf")).empty());
}

void TestSharing::appendFrom_data()
{
    QTest::addColumn<QString>("targetWeight");  // the target's field w: type and width
    QTest::addColumn<QString>("stored");        // the source's second record's w, as stored
    QTest::addColumn<bool>("appended");
    QTest::addColumn<QString>("report");
    // Alike fields: the bytes as they are, another program's overflow kept.
    QTest::newRow("alike, overflow kept") << "N10" << "*****" << true << "";
    QTest::newRow("alike, number") << "N10" << "14020" << true << "";
    // Converted: a value that cannot be read stops the whole append.
    QTest::newRow("wider, overflow") << "N12" << "*****" << false << "record 2: field W holds \"*****\"";
    QTest::newRow("wider, separator") << "N12" << "12,500" << false << "record 2: field W holds \"12,500\"";
    QTest::newRow("wider, number") << "N12" << "14020" << true << "";
    QTest::newRow("into text") << "C10" << "*****" << true << "";
    QTest::newRow("into itself") << "same" << "14020" << false << "appended to itself";
}

void TestSharing::appendFrom()
{
    QFETCH(QString, targetWeight);
    QFETCH(QString, stored);
    QFETCH(bool, appended);
    QFETCH(QString, report);
    QTemporaryDir dir;
    const std::string src = dir.path().toStdString() + "/src.dbf";
    const std::string dst = targetWeight == "same" ? src : dir.path().toStdString() + "/dst.dbf";
    {
        Connection c;
        Table* s = c.create(src, {{"name", 'C', 10, 0}, {"w", 'N', 10, 0}});
        for (const char* n : {"A", "B"}) {
            s->appendBlank();
            s->field("name")->assign(n);
            s->field("w")->assign("1");
        }
        s->field("w")->assignRaw(std::string(10 - stored.size(), ' ') + stored.toStdString());
        if (dst != src) {
            const char type = targetWeight[0].toLatin1();
            Table* t = c.create(dst, {{"name", 'C', 10, 0}, {"w", type, targetWeight.mid(1).toInt(), 0}});
            t->appendBlank();
            t->field("name")->assign("OLD");
        }
    }
    const QByteArray before = testsupport::run("/bin/cat", {QString::fromStdString(dst)}).out;
    testsupport::EngineErrors errors;
    QCOMPARE(util::cbAppendFrom(src, dst), appended);
    if (!appended) {
        QVERIFY2(errors.contains(report.toStdString()), errors.messages.empty() ? "no report" : errors.messages.back().c_str());
        QCOMPARE(testsupport::run("/bin/cat", {QString::fromStdString(dst)}).out, before);
        return;
    }
    Connection c;
    Table* t = c.open(dst);
    QVERIFY(t && t->go(3) == kSuccess);
    QCOMPARE(t->field("name")->text(), std::string("B"));
    QCOMPARE(QString::fromStdString(t->field("w")->text()), stored);
}

QTEST_GUILESS_MAIN(TestSharing)
#include "test_sharing.moc"

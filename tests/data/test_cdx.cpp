// The compound index: reading what other xBase programs wrote, writing fresh
// indexes, keeping them in order through inserts and removes, refusing
// damaged files without crashing, and agreeing with an independent reader
// (Debian's index_dump) on everything written.

#include "data/Cdx.h"
#include "data/CdxPage.h"
#include "data/KeyExpr.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

using namespace xb;

namespace {

const char* const kIndexDump = "/usr/bin/index_dump";

// Records in memory with a table's layout; record n is recs[n - 1].
struct Table {
    FieldList fields;
    int reclen = 1;
    std::vector<std::string> recs;

    void addField(const char* name, char type, int width, int dec = 0)
    {
        fields.push_back({name, type, reclen, width, dec});
        reclen += width;
    }
    void set(uint32_t recno, const char* name, const std::string& value)
    {
        for (const FieldDesc& f : fields) {
            if (f.name != name)
                continue;
            std::string v = value.substr(0, size_t(f.width));
            bool right = f.type == 'N' || f.type == 'F';
            std::string& r = recs[recno - 1];
            r.replace(size_t(f.offset), size_t(f.width), std::string(size_t(f.width), ' '));
            r.replace(size_t(f.offset) + (right ? size_t(f.width) - v.size() : 0), v.size(), v);
        }
    }
    uint32_t count() const { return uint32_t(recs.size()); }
    RecordPtr rec(uint32_t n) const { return recs[n - 1].data(); }
    std::function<RecordPtr(uint32_t)> reader() const
    {
        return [this](uint32_t n) -> RecordPtr { return n >= 1 && n <= recs.size() ? recs[n - 1].data() : nullptr; };
    }
};

// Enough of a .dbf reader for the fixtures: lengths from the header, offsets by summing widths.
Table readDbf(const QString& table)
{
    QFile f(QDir(testsupport::fixturesDir()).filePath(table + ".dbf"));
    f.open(QIODevice::ReadOnly);
    QByteArray d = f.readAll();
    Table t;
    if (d.size() < 32)
        return t;
    auto u = [&](int o) { return uint32_t(uint8_t(d[o])); };
    uint32_t count = u(4) | u(5) << 8 | u(6) << 16 | u(7) << 24;
    int hl = int(u(8) | u(9) << 8), rl = int(u(10) | u(11) << 8);
    for (int o = 32; o + 32 <= hl && d[o] != 0x0D && d[o] != 0x0A; o += 32)
        t.addField(std::string(d.constData() + o).substr(0, 10).c_str(), d[o + 11], int(u(o + 16)), int(u(o + 17)));
    for (uint32_t r = 0; r < count && hl + qsizetype(r + 1) * rl <= d.size(); ++r)
        t.recs.emplace_back(d.constData() + hl + qsizetype(r) * rl, size_t(rl));
    return t;
}

QString copyFixture(const QString& name, const QTemporaryDir& dir)
{
    QString to = dir.filePath(name);
    QFile::remove(to);
    QFile::copy(QDir(testsupport::fixturesDir()).filePath(name), to);
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
    return to;
}

std::vector<IndexEntry> scan(CdxIndex& x, int t, bool backwards = false, IdxStatus* status = nullptr)
{
    std::vector<IndexEntry> out;
    IndexEntry e, n;
    IdxStatus st = backwards ? x.last(t, e) : x.first(t, e);
    for (; st == IdxStatus::Ok && out.size() < 1000000; e = n) {
        out.push_back(e);
        st = backwards ? x.prev(t, e, n) : x.next(t, e, n);
    }
    if (status)
        *status = st;
    return out;
}

// What a tag must hold, worked out from the records: keys of the records the
// FOR clause admits, by (key, record); a unique tag keeps the first record.
std::vector<IndexEntry> expected(const Table& tb, const TagSpec& def)
{
    KeyExpr key, forx;
    std::string err;
    key.compile(def.keyExpr, tb.fields, err);
    forx.compile(def.forExpr, tb.fields, err);
    std::vector<IndexEntry> v;
    for (uint32_t r = 1; r <= tb.count(); ++r) {
        if (def.forExpr.empty() || forx.isTrue(tb.rec(r))) {
            v.push_back({{}, r});
            key.makeKey(tb.rec(r), v.back().key);
        }
    }
    std::stable_sort(v.begin(), v.end(), [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
    if (def.unique)
        v.erase(std::unique(v.begin(), v.end(), [](auto& a, auto& b) { return a.key == b.key; }), v.end());
    if (def.descending)
        std::reverse(v.begin(), v.end());
    return v;
}

QString printable(const std::string& s) { return QString::fromLatin1(QByteArray::fromStdString(s).toPercentEncoding(" &-.~")); }

// Empty when equal, else where they part.
QString difference(const std::vector<IndexEntry>& a, const std::vector<IndexEntry>& b)
{
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i].key != b[i].key || a[i].recno != b[i].recno)
            return QString("entry %1: \"%2\" %3, expected \"%4\" %5")
                .arg(i).arg(printable(a[i].key)).arg(a[i].recno).arg(printable(b[i].key)).arg(b[i].recno);
    return a.size() == b.size() ? QString() : QString("%1 entries, expected %2").arg(a.size()).arg(b.size());
}

#define COMPARE_ENTRIES(got, want, what)                                          \
    do {                                                                          \
        QString d_ = difference(got, want);                                       \
        QVERIFY2(d_.isEmpty(), qPrintable(QString::fromStdString(what) + ": " + d_)); \
    } while (0)

#define VERIFY_CLEAN(faults)                                                      \
    do {                                                                          \
        std::vector<std::string> f_ = (faults);                                   \
        QString s_;                                                               \
        for (const std::string& l : f_)                                           \
            s_ += QString::fromStdString(l) + "\n";                               \
        QVERIFY2(f_.empty(), qPrintable(s_));                                     \
    } while (0)

bool mentions(const std::vector<std::string>& lines, const std::string& words)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(words) != std::string::npos; });
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeBytes(const QString& path, const QByteArray& b)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(b);
}

const uint8_t* at(const QByteArray& b, qsizetype off) { return reinterpret_cast<const uint8_t*>(b.constData() + off); }
uint8_t* at(QByteArray& b, qsizetype off) { return reinterpret_cast<uint8_t*>(b.data() + off); }

// A tag's header offset, from a single-leaf tag directory.
uint32_t tagHeader(const QByteArray& file, std::string name)
{
    cdx::NodeData dir;
    std::string why;
    if (!cdx::decodeNode(at(file, cdx::rd32(at(file, 0))), 10, ' ', dir, why))
        return 0;
    name.resize(10, ' ');
    for (int i = 0; i < dir.count(); ++i)
        if (dir.key(i, 10) == name)
            return dir.recs[size_t(i)];
    return 0;
}

// Pages from a tag's root down its leftmost children.
std::vector<uint32_t> leftEdge(const QByteArray& file, uint32_t header, int keyLen, char pad)
{
    std::vector<uint32_t> pages{cdx::rd32(at(file, header))};
    cdx::NodeData n;
    std::string why;
    while (pages.size() < 40 && cdx::decodeNode(at(file, pages.back()), keyLen, pad, n, why) && !n.leaf())
        pages.push_back(n.kids[0]);
    return pages;
}

TagSpec tagDef(const std::string& name, const std::string& key, const std::string& forx = "", bool unique = false,
             bool descending = false)
{
    return {name, key, forx, unique, descending};
}

// Long, often similar names, numbers (some blank), dates (some blank), logicals, codes.
Table sampleTable(uint32_t count, quint32 seed)
{
    static const char* words[] = {"ACME", "BLUE", "RIVER", "GRAVEL", "SAND", "CONCRETE", "HAULING", "AGGREGATES",
                                  "north", "Shore", "PIT", "ROAD", "LTD", "&", "SONS", "a"};
    Table t;
    t.addField("NAME", 'C', 35);
    t.addField("QTY", 'N', 10, 2);
    t.addField("DAY", 'D', 8);
    t.addField("FLAG", 'L', 1);
    t.addField("CODE", 'C', 6);
    QRandomGenerator rng(seed);
    for (uint32_t r = 1; r <= count; ++r) {
        t.recs.emplace_back(size_t(t.reclen), ' ');
        std::string name;
        for (int w = rng.bounded(1, 6); w > 0; --w)
            name += std::string(name.empty() ? "" : " ") + words[rng.bounded(16)];
        if (rng.bounded(3) == 0)
            name += " " + std::to_string(rng.bounded(100000));
        t.set(r, "NAME", name);
        if (rng.bounded(20))
            t.set(r, "QTY", formatNumber((rng.bounded(2000000) - 500000) / 100.0, 10, 2));
        if (rng.bounded(25))
            t.set(r, "DAY", textFromJulian(julianDay(2015, 1, 1) + rng.bounded(4000)));
        t.set(r, "FLAG", rng.bounded(2) ? "T" : "F");
        t.set(r, "CODE", std::to_string(rng.bounded(500)));
    }
    return t;
}

std::vector<TagSpec> sampleTags()
{
    return {tagDef("NAME", "NAME"),
            tagDef("QTY", "QTY"),
            tagDef("DAY", "DAY"),
            tagDef("UNAME", "UPPER(NAME)", "QTY > 0 .AND. .NOT. DELETED()"),
            tagDef("CODE", "CODE", "", true),
            tagDef("DAYCODE", "DTOS(DAY)+CODE", "", false, true),
            tagDef("FLAG", "FLAG")};
}

// Adds the keys of records in `order` to every tag.
bool insertAll(CdxIndex& x, const Table& tb, const std::vector<uint32_t>& order, std::string& fault)
{
    for (uint32_t r : order)
        for (int t = 0; t < x.tagCount(); ++t)
            if (auto k = x.recordKey(t, tb.rec(r)); k && !x.insert(t, *k, r, fault))
                return false;
    return true;
}

// --- index_dump

std::vector<std::string> runDump(const QStringList& args)
{
    QProcess p;
    p.start(kIndexDump, args);
    bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    std::vector<std::string> lines;
    for (const QByteArray& l : p.readAllStandardOutput().split('\n'))
        if (!l.isEmpty())
            lines.push_back(l.toStdString());
    if (!ok)
        lines.insert(lines.begin(), "index_dump failed: " + p.readAllStandardError().toStdString());
    return lines;
}

// An entry as an index_dump "key record" line: character keys without
// trailing blanks, numbers as printed, dates as yyyymmdd (a blank date as 0).
std::string dumpLine(char type, const IndexEntry& e)
{
    std::string k = e.key;
    double v = decodeNumberKey(e.key);
    char buf[40];
    if (type == 'D' && v != 0) {
        k = textFromJulian(julianOf(v));
    } else if (type == 'N' || type == 'D') {
        std::snprintf(buf, sizeof buf, "%.15g", v);
        k = buf;
    } else {
        k.erase(k.find_last_not_of(' ') + 1);
    }
    return k + " " + std::to_string(e.recno);
}

// index_dump prints a character key without its trailing pad, or with the
// blanks a writer chose to store: blanks either way.
std::string normalisedDumpLine(std::string l)
{
    size_t sp = l.rfind(' ');
    if (sp != std::string::npos && sp > 0) {
        size_t end = l.find_last_not_of(' ', sp - 1);
        size_t from = end == std::string::npos ? 0 : end + 1;
        l.erase(from, sp - from);
    }
    return l;
}

const char* dumpType(char t) { return t == 'N' ? "-type=num" : t == 'D' ? "-type=date" : "-type=char"; }

// Every tag as index_dump lists it, against our own reading.
void agreesWithDump(const QString& path, const FieldList& fields)
{
    std::string fault;
    auto x = CdxIndex::open(path.toStdString(), fields, fault, true);
    QVERIFY2(x, fault.c_str());
    std::vector<std::string> names;
    for (int t = 0; t < x->tagCount(); ++t)
        names.push_back(x->tag(t).name);
    QCOMPARE(runDump({"-type=char", path}), names);
    for (int t = 0; t < x->tagCount(); ++t) {
        std::vector<IndexEntry> entries = scan(*x, t);
        if (x->tag(t).descending)   // stored ascending, and read so
            std::reverse(entries.begin(), entries.end());
        std::vector<std::string> got = runDump({dumpType(x->keyType(t)), path, QString::fromStdString(names[size_t(t)])});
        QCOMPARE(got.size(), entries.size());
        for (size_t i = 0; i < got.size(); ++i) {
            std::string want = dumpLine(x->keyType(t), entries[i]);
            if (normalisedDumpLine(got[i]) != want)
                QFAIL(qPrintable(QString("tag %1, line %2: index_dump \"%3\", ours \"%4\"")
                                     .arg(QString::fromStdString(names[size_t(t)])).arg(i + 1)
                                     .arg(printable(got[i]), printable(want))));
        }
    }
}

#define REQUIRE_INDEX_DUMP()                                                               \
    do {                                                                                   \
        if (!QFileInfo(kIndexDump).isExecutable())                                         \
            QSKIP("index_dump (Debian package libdbd-xbase-perl) is not installed; skipped"); \
    } while (0)

}  // namespace

class TestCdx : public QObject {
    Q_OBJECT

private slots:
    void fixtures_data();
    void fixtures();
    void fixtureSeeks();
    void fixtureTagsDescribed();
    void leavesEncodedAsOtherProgramsDo();
    void tagWithUnknownFieldStillReads();

    void keysFromTextAndRecords();
    void buildWritesWhatTheTableSays();
    void buildRefusesBadTags();
    void insertsAndRemovesKeepOrder();
    void removingEverythingReusesPages();
    void navigationSurvivesChanges();
    void uniqueTag();
    void descendingTag();
    void interruptedMarker();
    void readOnly();

    void damagedFilesAreRefused();
    void checkFindsQuietDamage();
    void randomDamageNeverCrashes();

    void dumpReadsWhatWeWrite();
    void dumpSeeksAlike();
};

// ---------------------------------------------------------------- fixtures

void TestCdx::fixtures_data()
{
    QTest::addColumn<QString>("table");
    for (const char* t : {"customer", "product", "ticket", "rooms"})
        QTest::newRow(t) << t;
}

void TestCdx::fixtures()
{
    REQUIRE_FIXTURES();
    QFETCH(QString, table);
    QTemporaryDir dir;
    Table tb = readDbf(table);
    QVERIFY(tb.count() > 0);
    std::string fault;
    auto x = CdxIndex::open(copyFixture(table + ".cdx", dir).toStdString(), tb.fields, fault);
    QVERIFY2(x, fault.c_str());
    QVERIFY(!x->foundInterrupted());
    for (int t = 0; t < x->tagCount(); ++t) {
        const TagSpec& def = x->tag(t);
        QVERIFY2(x->usable(t), def.name.c_str());
        IdxStatus st;
        std::vector<IndexEntry> got = scan(*x, t, false, &st);
        QCOMPARE(st, IdxStatus::End);
        COMPARE_ENTRIES(got, expected(tb, def), def.name);
        std::vector<IndexEntry> back = scan(*x, t, true);
        std::reverse(back.begin(), back.end());
        COMPARE_ENTRIES(back, got, def.name + " backwards");
    }
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));
    if (QFileInfo(kIndexDump).isExecutable())
        agreesWithDump(QDir(testsupport::fixturesDir()).filePath(table + ".cdx"), tb.fields);
}

void TestCdx::fixtureSeeks()
{
    REQUIRE_FIXTURES();
    QTemporaryDir dir;
    std::string fault;
    auto openFixture = [&](const char* table, Table& tb) {
        tb = readDbf(table);
        return CdxIndex::open(copyFixture(QString(table) + ".cdx", dir).toStdString(), tb.fields, fault);
    };
    Table tb;
    auto x = openFixture("customer", tb);
    int t = x->findTag("n_ame");
    QString order;
    for (const IndexEntry& e : scan(*x, t))
        order += QString("%1 %2, ").arg(QString::fromStdString(e.key).trimmed()).arg(e.recno);
    QCOMPARE(order, QString("ACME GRAVEL LTD 1, BLUE RIVER AGGREGATES 2, CASCADE CONCRETE 3, "
                            "ZED HAULING AND EXCAVATING SERVICES 5, acme gravel ltd 4, "));
    IndexEntry e;
    QCOMPARE(x->seek(t, *x->seekKey(t, "CASCADE"), e), IdxStatus::End);      // no such whole key
    QCOMPARE(x->seekNear(t, "CASCADE", e), IdxStatus::Ok);                   // but one after it
    QCOMPARE(e.recno, 3u);
    QCOMPARE(x->seekNear(t, *x->seekKey(t, "zzz"), e), IdxStatus::End);
    QCOMPARE(x->seek(t, *x->seekKey(t, "acme gravel ltd"), e), IdxStatus::Ok);
    QCOMPARE(e.recno, 4u);
    QCOMPARE(x->seek(t, std::string(36, 'A'), e), IdxStatus::End);          // longer than the key

    x = openFixture("product", tb);
    t = x->findTag("BALANCE");
    for (auto [text, rec] : std::vector<std::pair<const char*, uint32_t>>{{"1200", 1}, {"-350", 2}, {"0", 3}}) {
        QCOMPARE(x->seek(t, *x->seekKey(t, text), e), IdxStatus::Ok);
        QCOMPARE(e.recno, rec);
    }
    QCOMPARE(x->seekNear(t, *x->seekKey(t, "1000"), e), IdxStatus::Ok);
    QCOMPARE(e.recno, 1u);

    x = openFixture("ticket", tb);
    t = x->findTag("in_date");
    QCOMPARE(x->keyType(t), 'D');
    QCOMPARE(x->seek(t, *x->seekKey(t, "20240315"), e), IdxStatus::Ok);
    QCOMPARE(e.recno, 3u);
    QCOMPARE(x->seek(t, *x->seekKey(t, "20240314"), e), IdxStatus::Ok);
    QCOMPARE(e.recno, 1u);   // the first of equal keys

    // every key of every tag seeks to its first entry
    for (const char* table : {"customer", "product", "ticket", "rooms"}) {
        x = openFixture(table, tb);
        for (t = 0; t < x->tagCount(); ++t) {
            std::vector<IndexEntry> all = scan(*x, t);
            for (size_t i = 0; i < all.size(); ++i) {
                QCOMPARE(x->seek(t, all[i].key, e), IdxStatus::Ok);
                size_t first = i;
                while (first > 0 && all[first - 1].key == all[i].key)
                    --first;
                QCOMPARE(e.recno, all[first].recno);
            }
        }
    }
}

void TestCdx::fixtureTagsDescribed()
{
    REQUIRE_FIXTURES();
    QTemporaryDir dir;
    Table tb = readDbf("rooms");
    std::string fault;
    auto x = CdxIndex::open(copyFixture("rooms.cdx", dir).toStdString(), tb.fields, fault);
    QVERIFY2(x, fault.c_str());
    QCOMPARE(x->tagCount(), 5);
    QCOMPARE(x->tag(0).name + x->tag(4).name, std::string("AUDIOROOMNAME"));
    int audio = x->findTag("Audio");
    QCOMPARE(x->tag(audio).keyExpr, std::string("roomname"));
    QCOMPARE(x->tag(audio).forExpr, std::string("TRIM(UPPER(facility))==\"AUDIO\""));
    QCOMPARE(x->keyType(audio), 'C');
    QCOMPARE(x->keyLength(audio), 10);
    QVERIFY(x->tag(x->findTag("ROOMNAME")).forExpr.empty());
    QCOMPARE(x->findTag("nosuch"), -1);
    std::string rec(size_t(tb.reclen), ' ');
    std::memcpy(rec.data() + 11, "Film", 4);
    QVERIFY(!x->recordKey(audio, rec.data()));   // excluded by the FOR clause
    std::memcpy(rec.data() + 11, "audio", 5);
    QVERIFY(x->recordKey(audio, rec.data()));
}

void TestCdx::leavesEncodedAsOtherProgramsDo()
{
    // the leaves of these fixtures come out byte for byte as their writer made them
    REQUIRE_FIXTURES();
    for (const char* table : {"customer", "product", "ticket"}) {
        Table tb = readDbf(table);
        QByteArray file = readBytes(QDir(testsupport::fixturesDir()).filePath(QString(table) + ".cdx"));
        std::string fault;
        auto x = CdxIndex::open(QDir(testsupport::fixturesDir()).filePath(QString(table) + ".cdx").toStdString(),
                                tb.fields, fault, true);
        QVERIFY2(x, fault.c_str());
        std::vector<std::pair<uint32_t, int>> leaves{{cdx::rd32(at(file, 0)), -1}};   // the directory's and each tag's
        for (int t = 0; t < x->tagCount(); ++t)
            leaves.push_back({cdx::rd32(at(file, tagHeader(file, x->tag(t).name))), t});
        for (auto [off, t] : leaves) {
            int len = t < 0 ? 10 : x->keyLength(t);
            char pad = t < 0 || x->keyType(t) == 'C' ? ' ' : '\0';
            cdx::NodeData n;
            std::string why;
            QVERIFY2(cdx::decodeNode(at(file, off), len, pad, n, why), why.c_str());
            uint8_t again[512];
            QVERIFY(cdx::encodeNode(n, len, pad, again));
            QVERIFY2(std::memcmp(again, at(file, off), 512) == 0, qPrintable(QString("%1 page %2").arg(table).arg(off)));
        }
    }
    // repeated bytes stop where the previous key's padding starts ("&" then "& &")
    cdx::NodeData n;
    n.keys = "&" + std::string(34, ' ') + "& &" + std::string(32, ' ');
    n.recs = {1, 2};
    uint8_t page[512];
    QVERIFY(cdx::encodeNode(n, 35, ' ', page));
    uint32_t second = uint32_t(page[27]) | uint32_t(page[28]) << 8 | uint32_t(page[29]) << 16;
    QCOMPARE(int(page[20]), 12);                    // record bits, then 6 repeat bits
    QCOMPARE(int((second >> 12) & 63), 1);          // repeats "&", not "& "
    QCOMPARE(std::string(reinterpret_cast<char*>(page) + 512 - 3, 2), std::string(" &"));
}

void TestCdx::tagWithUnknownFieldStillReads()
{
    REQUIRE_FIXTURES();
    QTemporaryDir dir;
    Table tb = readDbf("customer");
    FieldList fields;
    std::copy_if(tb.fields.begin(), tb.fields.end(), std::back_inserter(fields),
                 [](const FieldDesc& f) { return f.name != "N_AME"; });
    std::string fault, why;
    auto x = CdxIndex::open(copyFixture("customer.cdx", dir).toStdString(), fields, fault);
    QVERIFY2(x, fault.c_str());
    int t = x->findTag("N_AME");
    QVERIFY(!x->usable(t, &why));
    QVERIFY(why.find("n_ame") != std::string::npos);
    QVERIFY(x->usable(x->findTag("FAX_NO")));
    QCOMPARE(scan(*x, t).size(), size_t(5));   // still navigable
    QVERIFY(!x->recordKey(t, tb.rec(1)));
    std::vector<std::string> faults = x->check(tb.count(), tb.reader());
    QCOMPARE(faults.size(), size_t(1));
    QVERIFY(mentions(faults, "N_AME"));
}

// ---------------------------------------------------------------- writing

void TestCdx::keysFromTextAndRecords()
{
    Table tb = sampleTable(3, 1);
    QTemporaryDir dir;
    std::string path = dir.filePath("k.cdx").toStdString(), fault;
    QVERIFY2(CdxIndex::build(path, sampleTags(), tb.fields, tb.count(), tb.reader(), fault), fault.c_str());
    auto x = CdxIndex::open(path, tb.fields, fault);
    int name = x->findTag("NAME"), qty = x->findTag("QTY"), day = x->findTag("DAY"), flag = x->findTag("FLAG");
    QCOMPARE(QString("%1%2 %3%4 %5%6 %7%8").arg(x->keyType(name)).arg(x->keyLength(name)).arg(x->keyType(qty))
                 .arg(x->keyLength(qty)).arg(x->keyType(day)).arg(x->keyLength(day)).arg(x->keyType(flag))
                 .arg(x->keyLength(flag)), QString("C35 N8 D8 L1"));
    QCOMPARE(*x->seekKey(name, "AB"), "AB" + std::string(33, ' '));
    QCOMPARE(*x->seekKey(qty, " -350 "), encodeNumberKey(-350));
    QCOMPARE(*x->seekKey(qty, ""), encodeNumberKey(0));
    QCOMPARE(*x->seekKey(day, "20240314"), encodeNumberKey(2460384));
    QCOMPARE(*x->seekKey(day, "        "), encodeNumberKey(0));
    QCOMPARE(*x->seekKey(flag, ".T."), std::string("T"));
    QVERIFY(!x->seekKey(name, std::string(36, 'x')) && !x->seekKey(qty, "12x") && !x->seekKey(day, "20241340"));
    tb.set(1, "QTY", "-5.00");
    tb.set(2, "QTY", "7.25");
    int uname = x->findTag("UNAME");   // FOR QTY > 0 .AND. .NOT. DELETED()
    QCOMPARE(x->recordKey(qty, tb.rec(2)).value(), encodeNumberKey(7.25));
    QVERIFY(!x->recordKey(uname, tb.rec(1)) && x->recordKey(uname, tb.rec(2)));
    tb.recs[1][0] = '*';
    QVERIFY(!x->recordKey(uname, tb.rec(2)));
}

void TestCdx::buildWritesWhatTheTableSays()
{
    Table tb = sampleTable(30000, 2);
    for (uint32_t r = 1; r <= tb.count(); r += 97)
        tb.recs[r - 1][0] = '*';   // deleted records keep their keys
    QTemporaryDir dir;
    std::string path = dir.filePath("b.cdx").toStdString(), fault;
    std::vector<TagSpec> tags = sampleTags();
    QVERIFY2(CdxIndex::build(path, tags, tb.fields, tb.count(), tb.reader(), fault), fault.c_str());
    QByteArray file = readBytes(QString::fromStdString(path));
    QCOMPARE(file.size() % 512, 0);
    QVERIFY(leftEdge(file, tagHeader(file, "NAME"), 35, ' ').size() >= 3);
    QVERIFY(leftEdge(file, tagHeader(file, "QTY"), 8, '\0').size() >= 3);

    auto x = CdxIndex::open(path, tb.fields, fault);
    QVERIFY2(x, fault.c_str());
    QCOMPARE(x->tagCount(), int(tags.size()));
    for (int t = 1; t < x->tagCount(); ++t)
        QVERIFY(x->tag(t - 1).name < x->tag(t).name);   // the directory is sorted
    for (const TagSpec& def : tags) {
        int t = x->findTag(def.name);
        QCOMPARE(x->tag(t).keyExpr, def.keyExpr);
        QCOMPARE(x->tag(t).forExpr, def.forExpr);
        QCOMPARE(x->tag(t).unique, def.unique);
        QCOMPARE(x->tag(t).descending, def.descending);
        COMPARE_ENTRIES(scan(*x, t), expected(tb, def), def.name);
    }
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));
    QVERIFY(mentions(x->check(tb.count() - 5, tb.reader()), "beyond"));
    Table changed = tb;
    changed.set(2, "NAME", "SOMETHING ELSE");
    QVERIFY(mentions(x->check(changed.count(), changed.reader()), "record 2 is in the tag under"));
    changed.set(2, "QTY", "-1");
    QVERIFY(mentions(x->check(changed.count(), changed.reader()), "FOR expression excludes it"));

    Table empty = sampleTable(0, 3);   // empty tags check clean
    QVERIFY2(CdxIndex::build(path, tags, empty.fields, 0, empty.reader(), fault), fault.c_str());
    x = CdxIndex::open(path, empty.fields, fault);
    IndexEntry e;
    QCOMPARE(x->first(0, e), IdxStatus::End);
    QCOMPARE(x->last(0, e), IdxStatus::End);
    QCOMPARE(x->seekNear(0, "", e), IdxStatus::End);
    VERIFY_CLEAN(x->check(0, empty.reader()));
}

void TestCdx::buildRefusesBadTags()
{
    Table tb = sampleTable(5, 4);
    QTemporaryDir dir;
    std::string path = dir.filePath("bad.cdx").toStdString(), fault;
    const std::string longKey = "NAME+NAME+NAME+NAME+NAME+NAME";   // 210 bytes; one more NAME is too long
    for (const std::vector<TagSpec>& tags : std::vector<std::vector<TagSpec>>{
             {tagDef("", "NAME")}, {tagDef("ELEVENCHARS", "NAME")}, {tagDef("9LIVES", "NAME")}, {tagDef("A B", "NAME")},
             {tagDef("NAME", "NAME"), tagDef("name", "CODE")}, {tagDef("NAME", "NOSUCH")}, {tagDef("NAME", "NAME", "QTY")},
             {tagDef("NAME", "NAME", "QTY >")}, {tagDef("LONG", longKey + "+NAME")},
             {tagDef("LONGEXPR", "NAME", std::string(600, ' ') + ".T.")}}) {
        fault.clear();
        QVERIFY(!CdxIndex::build(path, tags, tb.fields, tb.count(), tb.reader(), fault));
        QVERIFY(!fault.empty());
    }
    QVERIFY(CdxIndex::build(path, {tagDef("LONG", longKey)}, tb.fields, tb.count(), tb.reader(), fault));
}

void TestCdx::insertsAndRemovesKeepOrder()
{
    Table tb = sampleTable(24000, 5);
    QTemporaryDir dir;
    std::string path = dir.filePath("i.cdx").toStdString(), fault;
    std::vector<TagSpec> tags = sampleTags();
    QVERIFY(CdxIndex::build(path, tags, tb.fields, 0, tb.reader(), fault));
    auto x = CdxIndex::open(path, tb.fields, fault);
    QVERIFY2(x, fault.c_str());
    std::vector<uint32_t> order(tb.count());
    std::iota(order.begin(), order.end(), 1u);
    std::shuffle(order.begin(), order.begin() + 16000, std::mt19937(6));   // then appends in record order
    QVERIFY2(insertAll(*x, tb, order, fault), fault.c_str());
    auto k = x->recordKey(0, tb.rec(10));
    QVERIFY(x->insert(0, *k, 10, fault));               // already there: no change
    QVERIFY(!x->insert(0, k->substr(1), 10, fault));    // wrong length
    for (const TagSpec& def : tags) {
        int t = x->findTag(def.name);
        std::vector<IndexEntry> got = scan(*x, t), want = expected(tb, def);
        if (def.unique) {   // the record kept for a key is the first inserted, not the lowest
            for (size_t i = 0; i < std::min(got.size(), want.size()); ++i)
                QCOMPARE(x->recordKey(t, tb.rec(got[i].recno)).value(), want[i].key);
            QCOMPARE(got.size(), want.size());
        } else {
            COMPARE_ENTRIES(got, want, def.name);
        }
    }
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));

    // change key fields the way the table engine does: remove the old entry, insert the new
    QRandomGenerator rng(8);
    for (int i = 0; i < 6000; ++i) {
        uint32_t r = uint32_t(rng.bounded(int(tb.count()))) + 1;
        std::vector<std::optional<std::string>> old;
        for (int t = 0; t < x->tagCount(); ++t)
            old.push_back(x->recordKey(t, tb.rec(r)));
        switch (rng.bounded(3)) {
        case 0: tb.set(r, "NAME", "RENAMED " + std::to_string(rng.bounded(3000))); break;
        case 1: tb.set(r, "QTY", formatNumber(rng.bounded(-1000, 1000) / 4.0, 10, 2)); break;
        default: tb.set(r, "DAY", rng.bounded(5) ? textFromJulian(2450000 + rng.bounded(9000)) : ""); break;
        }
        for (int t = 0; t < x->tagCount(); ++t) {
            auto now = x->recordKey(t, tb.rec(r));
            if (now == old[size_t(t)] || x->tag(t).unique)
                continue;
            if (old[size_t(t)])
                QVERIFY2(x->remove(t, *old[size_t(t)], r, fault), fault.c_str());
            if (now)
                QVERIFY2(x->insert(t, *now, r, fault), fault.c_str());
        }
    }
    QVERIFY(!x->remove(x->findTag("NAME"), std::string(35, '~'), 1, fault));   // not there
    QVERIFY(fault.find("NAME") != std::string::npos);
    // take every third record out of all tags; the table marks them deleted
    for (uint32_t r = 1; r <= tb.count(); r += 3) {
        for (int t = 0; t < x->tagCount(); ++t)
            if (auto key = x->recordKey(t, tb.rec(r)); key && !x->tag(t).unique)
                QVERIFY2(x->remove(t, *key, r, fault), fault.c_str());
        tb.recs[r - 1][0] = '*';
    }
    QVERIFY(x->close(fault));

    x = CdxIndex::open(path, tb.fields, fault);   // what the file alone holds
    QVERIFY(!x->foundInterrupted());
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));
    for (const TagSpec& def : tags) {
        std::vector<IndexEntry> want = expected(tb, def);
        want.erase(std::remove_if(want.begin(), want.end(), [](auto& e) { return e.recno % 3 == 1; }), want.end());
        if (!def.unique)
            COMPARE_ENTRIES(scan(*x, x->findTag(def.name)), want, def.name);
    }
    QByteArray file = readBytes(QString::fromStdString(path));
    QCOMPARE(file.size() % 512, 0);
    QVERIFY(leftEdge(file, tagHeader(file, "NAME"), 35, ' ').size() >= 3);
    QVERIFY(leftEdge(file, tagHeader(file, "DAY"), 8, '\0').size() >= 3);
    if (QFileInfo(kIndexDump).isExecutable())
        agreesWithDump(QString::fromStdString(path), tb.fields);
}

void TestCdx::removingEverythingReusesPages()
{
    Table tb = sampleTable(6000, 9);
    QTemporaryDir dir;
    std::string path = dir.filePath("r.cdx").toStdString(), fault;
    QVERIFY(CdxIndex::build(path, {tagDef("NAME", "NAME")}, tb.fields, tb.count(), tb.reader(), fault));
    qint64 builtSize = QFileInfo(QString::fromStdString(path)).size();
    auto x = CdxIndex::open(path, tb.fields, fault);
    const std::vector<IndexEntry> sorted = scan(*x, 0);
    std::vector<IndexEntry> all = sorted;
    std::shuffle(all.begin(), all.end(), std::mt19937(10));
    for (const IndexEntry& e : all)
        QVERIFY2(x->remove(0, e.key, e.recno, fault), fault.c_str());
    IndexEntry e;
    QCOMPARE(x->first(0, e), IdxStatus::End);
    QVERIFY(x->flush(fault));
    VERIFY_CLEAN(x->check(0, tb.reader()));
    QByteArray file = readBytes(QString::fromStdString(path));
    QVERIFY(cdx::rd32(at(file, 4)) != 0);   // emptied pages went to the free list
    QCOMPARE(leftEdge(file, tagHeader(file, "NAME"), 35, ' ').size(), size_t(1));
    // refilled in key order (full leaves, as build() makes) from the free pages, not a longer file
    for (const IndexEntry& s : sorted)
        QVERIFY2(x->insert(0, s.key, s.recno, fault), fault.c_str());
    QVERIFY(x->close(fault));
    QVERIFY(QFileInfo(QString::fromStdString(path)).size() <= builtSize + 512 * 4);
    x = CdxIndex::open(path, tb.fields, fault);
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));
}

void TestCdx::navigationSurvivesChanges()
{
    Table tb = sampleTable(3000, 11);
    QTemporaryDir dir;
    std::string path = dir.filePath("n.cdx").toStdString(), fault;
    QVERIFY(CdxIndex::build(path, {tagDef("QTY", "QTY")}, tb.fields, tb.count(), tb.reader(), fault));
    auto x = CdxIndex::open(path, tb.fields, fault);
    std::vector<IndexEntry> all = scan(*x, 0);
    // removing each entry right after stepping past it: the walk still meets every entry once
    IndexEntry e, n;
    size_t seen = 0;
    IdxStatus st = x->first(0, e);
    for (; st == IdxStatus::Ok; e = n) {
        QCOMPARE(e.recno, all[seen++].recno);
        st = x->next(0, e, n);
        QVERIFY(x->remove(0, e.key, e.recno, fault));
    }
    QCOMPARE(st, IdxStatus::End);
    QCOMPARE(seen, all.size());
    // from an entry that is gone, next() and prev() give its neighbours
    for (const IndexEntry& a : all)
        QVERIFY(x->insert(0, a.key, a.recno, fault));
    QVERIFY(x->remove(0, all[100].key, all[100].recno, fault));
    QCOMPARE(x->next(0, all[100], n), IdxStatus::Ok);
    QCOMPARE(n.recno, all[101].recno);
    QCOMPARE(x->prev(0, all[100], n), IdxStatus::Ok);
    QCOMPARE(n.recno, all[99].recno);
    QCOMPARE(x->prev(0, all[0], n), IdxStatus::End);
    QCOMPARE(x->next(0, all.back(), n), IdxStatus::End);
}

void TestCdx::uniqueTag()
{
    Table tb = sampleTable(5000, 12);   // CODE takes 500 values
    QTemporaryDir dir;
    std::string path = dir.filePath("u.cdx").toStdString(), fault;
    const TagSpec code = tagDef("CODE", "CODE", "", true);
    QVERIFY(CdxIndex::build(path, {code}, tb.fields, tb.count() - 1, tb.reader(), fault));
    auto x = CdxIndex::open(path, tb.fields, fault);
    QVERIFY(x->tag(0).unique);
    std::vector<IndexEntry> got = scan(*x, 0);
    Table less = tb;
    less.recs.pop_back();
    COMPARE_ENTRIES(got, expected(less, code), code.name);
    QVERIFY(x->insert(0, got[3].key, 5000, fault));   // a present key: no second entry
    IndexEntry e;
    QCOMPARE(x->seek(0, got[3].key, e), IdxStatus::Ok);
    QCOMPARE(e.recno, got[3].recno);
    tb.set(5000, "CODE", "NEW");
    QVERIFY(x->insert(0, *x->recordKey(0, tb.rec(5000)), 5000, fault));
    QCOMPARE(scan(*x, 0).size(), got.size() + 1);
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));
}

void TestCdx::descendingTag()
{
    Table tb = sampleTable(4000, 13);
    tb.set(1, "QTY", "99999.99");   // the largest
    QTemporaryDir dir;
    std::string path = dir.filePath("d.cdx").toStdString(), fault;
    const TagSpec down = tagDef("QTYD", "QTY", "", false, true);
    QVERIFY(CdxIndex::build(path, {down, tagDef("QTY", "QTY")}, tb.fields, tb.count() - 1, tb.reader(), fault));
    QByteArray file = readBytes(QString::fromStdString(path));
    QCOMPARE(int(file[tagHeader(file, "QTYD") + 502]), 1);
    QCOMPARE(int(file[tagHeader(file, "QTY") + 502]), 0);
    auto x = CdxIndex::open(path, tb.fields, fault);
    int d = x->findTag("QTYD"), a = x->findTag("QTY");
    QVERIFY(x->tag(d).descending);
    QVERIFY(x->insert(d, *x->recordKey(d, tb.rec(tb.count())), tb.count(), fault));
    QVERIFY(x->insert(a, *x->recordKey(a, tb.rec(tb.count())), tb.count(), fault));
    std::vector<IndexEntry> got = scan(*x, d), up = scan(*x, a), back = scan(*x, d, true);
    COMPARE_ENTRIES(got, expected(tb, down), down.name);
    std::reverse(up.begin(), up.end());
    COMPARE_ENTRIES(got, up, std::string("reversed QTY"));
    std::reverse(back.begin(), back.end());
    COMPARE_ENTRIES(back, got, std::string("backwards"));
    QCOMPARE(got.front().recno, 1u);
    // seek: the first entry in tag order with the key; seekNear: the first at or below it
    IndexEntry e;
    size_t mid = got.size() / 2, first = mid;
    while (first > 0 && got[first - 1].key == got[mid].key)
        --first;
    QCOMPARE(x->seek(d, got[mid].key, e), IdxStatus::Ok);
    QCOMPARE(e.recno, got[first].recno);
    QCOMPARE(x->seekNear(d, *x->seekKey(d, "1000000"), e), IdxStatus::Ok);
    QCOMPARE(e.recno, 1u);
    QCOMPARE(x->seekNear(d, *x->seekKey(d, "-1000000"), e), IdxStatus::End);
    VERIFY_CLEAN(x->check(tb.count(), tb.reader()));
}

void TestCdx::interruptedMarker()
{
    Table tb = sampleTable(500, 14);
    QTemporaryDir dir;
    QString path = dir.filePath("m.cdx"), copy = dir.filePath("crash.cdx");
    std::string fault;
    QVERIFY(CdxIndex::build(path.toStdString(), sampleTags(), tb.fields, tb.count() - 1, tb.reader(), fault));
    const QByteArray before = readBytes(path);
    auto x = CdxIndex::open(path.toStdString(), tb.fields, fault);
    QVERIFY(!x->foundInterrupted());
    scan(*x, 0);
    QCOMPARE(readBytes(path), before);   // reading changes nothing
    QVERIFY(insertAll(*x, tb, {tb.count()}, fault));
    QVERIFY(QFile::copy(path, copy));   // the program dies here: the file as it is now
    QByteArray during = readBytes(copy);
    QCOMPARE(during.left(4), before.left(4));
    QVERIFY(during.mid(16, 486) != before.mid(16, 486));   // marked in the reserved bytes
    QVERIFY(x->flush(fault));
    QCOMPARE(readBytes(path).mid(16, 486), before.mid(16, 486));   // and cleared

    auto crashed = CdxIndex::open(copy.toStdString(), tb.fields, fault);
    QVERIFY(crashed->foundInterrupted());
    VERIFY_CLEAN(crashed->check(tb.count(), tb.reader()));   // the marker is no fault in itself
    scan(*crashed, 0);   // and reading leaves it set
    crashed.reset();
    if (QFileInfo(kIndexDump).isExecutable())
        agreesWithDump(copy, tb.fields);   // other programs ignore it

    int name = x->findTag("NAME");
    QVERIFY(x->remove(name, *x->recordKey(name, tb.rec(tb.count())), tb.count(), fault));
    x.reset();   // the destructor flushes too
    x = CdxIndex::open(path.toStdString(), tb.fields, fault);
    QVERIFY(!x->foundInterrupted());
}

void TestCdx::readOnly()
{
    Table tb = sampleTable(50, 15);
    QTemporaryDir dir;
    QString path = dir.filePath("ro.cdx");
    std::string fault;
    QVERIFY(CdxIndex::build(path.toStdString(), sampleTags(), tb.fields, tb.count(), tb.reader(), fault));
    const QByteArray before = readBytes(path);
    QFile::setPermissions(path, QFile::ReadOwner);
    bool unwritable = ::access(path.toLocal8Bit().constData(), W_OK) != 0;   // not so for root
    for (bool asked : {false, true}) {   // a read-only file, and read-only by request
        if (!asked && !unwritable)
            continue;
        auto x = CdxIndex::open(path.toStdString(), tb.fields, fault, asked);
        int t = x->findTag("NAME");
        QCOMPARE(scan(*x, t).size(), size_t(50));
        QVERIFY(!x->insert(t, std::string(35, 'Q'), 51, fault) && fault.find("reading only") != std::string::npos);
    }
    QCOMPARE(readBytes(path), before);
}

// ---------------------------------------------------------------- damage

void TestCdx::damagedFilesAreRefused()
{
    Table tb = sampleTable(3000, 16);
    QTemporaryDir dir;
    QString good = dir.filePath("good.cdx"), bad = dir.filePath("bad.cdx");
    std::string fault, why;
    QVERIFY(CdxIndex::build(good.toStdString(), {tagDef("NAME", "NAME"), tagDef("QTY", "QTY")}, tb.fields, tb.count(),
                            tb.reader(), fault));
    const QByteArray image = readBytes(good);
    const uint32_t header = tagHeader(image, "NAME");
    const std::vector<uint32_t> edge = leftEdge(image, header, 35, ' ');
    const uint32_t root = edge.front(), leaf = edge.back();
    cdx::NodeData leafNode;
    QVERIFY(edge.size() >= 3 && cdx::decodeNode(at(image, leaf), 35, ' ', leafNode, why));
    auto openBad = [&](const QByteArray& bytes) {
        writeBytes(bad, bytes);
        fault.clear();
        return CdxIndex::open(bad.toStdString(), tb.fields, fault);
    };

    QVERIFY(!openBad(image.left(1000)) && !fault.empty());   // no room for a header
    for (uint32_t off : {0x7FFFFE00u, 1024u + 3}) {              // directory outside the file, off the grid
        QByteArray b = image;
        cdx::wr32(at(b, 0), off);
        QVERIFY(!openBad(b) && fault.find("tag directory") != std::string::npos);
    }

    // each damage: the walk over NAME ends Broken saying why, check() finds it, QTY reads on
    QRandomGenerator rng(17);
    const std::vector<std::pair<const char*, std::function<void(QByteArray&)>>> damage = {
        {"cut short", [&](QByteArray& b) { b.truncate(header + 1024); }},
        {"root outside the file", [&](QByteArray& b) { cdx::wr32(at(b, header), 0x7FFFFE00u); }},
        {"root off the page grid", [&](QByteArray& b) { cdx::wr32(at(b, header), root + 7); }},
        {"root in the file header", [&](QByteArray& b) { cdx::wr32(at(b, header), 512); }},
        {"child link back to the root", [&](QByteArray& b) { cdx::wr32be(at(b, root + 12 + 35 + 4), root); }},
        {"garbage leaf", [&](QByteArray& b) {
             for (int i = 0; i < 512; ++i)
                 b[leaf + i] = char(rng.bounded(256));
             cdx::wr16(at(b, leaf), 2);
             b[leaf + 23] = 9;   // 9 bytes per entry
         }},
        {"more keys than fit", [&](QByteArray& b) { cdx::wr16(at(b, leaf + 2), 400); }},
        {"counts beyond the key", [&](QByteArray& b) { b[leaf + 24] = b[leaf + 25] = b[leaf + 26] = char(0xff); }},
        {"keys out of order", [&](QByteArray& b) {
             std::swap(leafNode.recs[0], leafNode.recs[1]);
             std::string k0(leafNode.key(0, 35));
             leafNode.keys.replace(0, 35, leafNode.key(1, 35));
             leafNode.keys.replace(35, 35, k0);
             cdx::encodeNode(leafNode, 35, ' ', at(b, leaf));
         }},
    };
    for (const auto& [what, spoil] : damage) {
        QByteArray b = image;
        spoil(b);
        auto x = openBad(b);
        QVERIFY2(x, what);
        IdxStatus st;
        scan(*x, 0, false, &st);
        QVERIFY2(st == IdxStatus::Broken && !x->lastFault().empty(), what);
        QVERIFY2(!x->check(tb.count(), tb.reader()).empty(), what);
        if (b.size() > qsizetype(header) + 2048)
            QVERIFY2(scan(*x, 1).size() == tb.count(), what);
    }
    QByteArray b = image;   // a tag that cannot be read cannot be changed
    cdx::wr32(at(b, header), 0x7FFFFE00u);
    QVERIFY(!openBad(b)->insert(0, std::string(35, 'A'), 1, fault) && !fault.empty());
}

void TestCdx::checkFindsQuietDamage()
{
    // damage an independent reader does not notice; check() must
    Table tb = sampleTable(3000, 18);
    QTemporaryDir dir;
    QString good = dir.filePath("good.cdx"), bad = dir.filePath("bad.cdx");
    std::string fault, why;
    QVERIFY(CdxIndex::build(good.toStdString(), {tagDef("NAME", "NAME"), tagDef("QTY", "QTY")}, tb.fields, tb.count(),
                            tb.reader(), fault));
    const QByteArray image = readBytes(good);
    const uint32_t header = tagHeader(image, "NAME");
    const std::vector<uint32_t> edge = leftEdge(image, header, 35, ' ');
    const uint32_t leafOff = edge.back();
    cdx::NodeData root, leaf;
    QVERIFY(cdx::decodeNode(at(image, edge.front()), 35, ' ', root, why));
    QVERIFY(cdx::decodeNode(at(image, leafOff), 35, ' ', leaf, why));
    const uint32_t lost = leaf.recs.back();
    auto faultsOf = [&](const QByteArray& bytes) {
        writeBytes(bad, bytes);
        auto x = CdxIndex::open(bad.toStdString(), tb.fields, fault);
        return x ? x->check(tb.count(), tb.reader()) : std::vector<std::string>{"cannot open: " + fault};
    };
    VERIFY_CLEAN(faultsOf(image));
    const std::vector<std::pair<std::vector<std::string>, std::function<void(QByteArray&)>>> damage = {
        {{"free space"}, [&](QByteArray& b) { cdx::wr16(at(b, leafOff + 12), 77); }},
        {{"right sibling"}, [&](QByteArray& b) { cdx::wr32(at(b, leafOff + 8), cdx::kNone); }},
        {{"left sibling"}, [&](QByteArray& b) { cdx::wr32(at(b, leafOff + 4), leafOff); }},
        {{"NUL"}, [&](QByteArray& b) {   // a branch key padded with NUL instead of blanks
             size_t end = root.key(0, 35).find_last_not_of(' ') + 1;
             std::memset(b.data() + edge.front() + 12 + end, 0, 35 - end);
         }},
        {{"512"}, [&](QByteArray& b) { b += QByteArray(100, '\0'); }},
        {{"FOR"}, [&](QByteArray& b) { b[header + 14] = char(0x68); }},   // says FOR, has none
        {{"record " + std::to_string(lost) + " ", "differs from the last key"}, [&](QByteArray& b) {
             // the leaf's last key lost; its parent still names it
             cdx::NodeData n = leaf;
             n.keys.resize(n.keys.size() - 35);
             n.recs.pop_back();
             cdx::encodeNode(n, 35, ' ', at(b, leafOff));
         }},
        {{"beyond"}, [&](QByteArray& b) {   // a record the table lacks (4000 still fits 12 record bits)
             cdx::NodeData n = leaf;
             n.recs.back() = 4000;
             cdx::encodeNode(n, 35, ' ', at(b, leafOff));
         }},
        {{"free-page list"}, [&](QByteArray& b) { cdx::wr32(at(b, 4), leafOff); }},   // runs into a page in use
    };
    for (const auto& [words, spoil] : damage) {
        QByteArray b = image;
        spoil(b);
        std::vector<std::string> faults = faultsOf(b);
        for (const std::string& w : words)
            QVERIFY2(mentions(faults, w), w.c_str());
    }
}

void TestCdx::randomDamageNeverCrashes()
{
    Table tb = sampleTable(1000, 19);
    QTemporaryDir dir;
    QString good = dir.filePath("good.cdx"), bad = dir.filePath("bad.cdx");
    std::string fault;
    QVERIFY(CdxIndex::build(good.toStdString(), sampleTags(), tb.fields, tb.count(), tb.reader(), fault));
    const QByteArray image = readBytes(good);
    QRandomGenerator rng(20);
    int opened = 0;
    for (int round = 0; round < 250; ++round) {
        QByteArray b = image;
        for (int i = rng.bounded(1, 40); i > 0; --i) {
            qsizetype pos = rng.bounded(int(b.size()));
            if (rng.bounded(3) == 0 && pos + 4 <= b.size())
                cdx::wr32(at(b, pos & ~qsizetype(3)), rng.bounded(2) ? rng.generate() : rng.bounded(int(b.size())));
            else
                b[pos] = char(rng.bounded(256));
        }
        if (rng.bounded(10) == 0)
            b.truncate(rng.bounded(int(b.size())));
        writeBytes(bad, b);
        auto x = CdxIndex::open(bad.toStdString(), tb.fields, fault);
        if (!x)
            continue;
        ++opened;
        for (int t = 0; t < x->tagCount(); ++t) {
            scan(*x, t);
            scan(*x, t, true);
            IndexEntry e;
            x->seekNear(t, std::string(size_t(x->keyLength(t)), 'M'), e);
            if (rng.bounded(4) == 0)
                x->insert(t, std::string(size_t(x->keyLength(t)), 'M'), 1, fault);
        }
        x->check(tb.count(), tb.reader());
    }
    QVERIFY(opened > 100);
}

// ---------------------------------------------------------------- index_dump

void TestCdx::dumpReadsWhatWeWrite()
{
    REQUIRE_INDEX_DUMP();
    QTemporaryDir dir;
    QString path = dir.filePath("built.cdx");
    std::string fault;
    for (uint32_t n : {7u, 24000u}) {   // single leaves; deep trees with record numbers past 4095
        Table tb = sampleTable(n, 31);
        QVERIFY2(CdxIndex::build(path.toStdString(), sampleTags(), tb.fields, n, tb.reader(), fault), fault.c_str());
        agreesWithDump(path, tb.fields);
    }
}

void TestCdx::dumpSeeksAlike()
{
    REQUIRE_INDEX_DUMP();
    Table tb = sampleTable(5000, 35);
    QTemporaryDir dir;
    QString path = dir.filePath("seek.cdx");
    std::string fault;
    QVERIFY(CdxIndex::build(path.toStdString(), sampleTags(), tb.fields, tb.count(), tb.reader(), fault));
    auto x = CdxIndex::open(path.toStdString(), tb.fields, fault);
    for (auto [tag, probe] : std::vector<std::pair<const char*, const char*>>{
             {"NAME", "BLUE RIVER"}, {"NAME", "Shore"}, {"NAME", "north ROAD 5"}, {"QTY", "-1000"}, {"QTY", "2500.5"}}) {
        int t = x->findTag(tag);
        IndexEntry e;
        QCOMPARE(x->seekNear(t, *x->seekKey(t, probe), e), IdxStatus::Ok);
        std::vector<std::string> got = runDump({dumpType(x->keyType(t)), QString("--start=%1").arg(probe), path, tag});
        QVERIFY(!got.empty());
        QCOMPARE(normalisedDumpLine(got.front()), dumpLine(x->keyType(t), e));
    }
}

QTEST_APPLESS_MAIN(TestCdx)
#include "test_cdx.moc"

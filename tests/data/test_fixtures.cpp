// The tables other xBase programs made (../shared/fixtures/xbase) open and
// read right, and `dbftool dump` prints them right.
//
// What each table holds is written out below from the bytes of the files;
// the dump is also compared, field by field, with what Debian's dbfread
// reads from the same file. The tests work on copies of the fixtures.

#include "TestSupport.h"

#include "data/CodeBase.h"
#include "data/Date.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#ifndef GRAZULO_PYTHON
#define GRAZULO_PYTHON ""
#endif
#ifndef GRAZULO_PY_HELPERS
#define GRAZULO_PY_HELPERS ""
#endif

namespace {

struct FieldDef {
    const char* name;
    char type;
    int width;
    int decimals;
};

struct Row {
    bool deleted;
    QList<QByteArray> cells;  // as the dump prints them
};

struct Fixture {
    QString file;
    int version;
    int headerLength;
    int recordLength;
    int flags;
    int codePage;
    QList<FieldDef> fields;
    QList<Row> rows;
};

const QList<FieldDef> kCustomerFields = {
    {"CODE_NUM", 'N', 3, 0}, {"N_AME", 'C', 35, 0}, {"ADD_R", 'C', 25, 0}, {"FAX_NO", 'C', 20, 0}};
const QList<FieldDef> kProductFields = {
    {"CODE_NUM", 'N', 3, 0}, {"N_AME", 'C', 35, 0}, {"PRICE_T", 'F', 6, 2}, {"BALANCE", 'N', 6, 0}};
const QList<FieldDef> kTicketFields = {
    {"USER_ID", 'C', 20, 0},  {"TICKET", 'N', 5, 0},   {"COMPANY", 'C', 35, 0}, {"CARRIER", 'C', 35, 0},
    {"TRUCK", 'C', 12, 0},    {"CUSTOMER", 'C', 35, 0}, {"PRODUCT", 'C', 35, 0}, {"PO", 'C', 20, 0},
    {"PAYMENT", 'C', 20, 0},  {"AMOUNT", 'N', 10, 2},  {"GST", 'N', 10, 2},     {"PST", 'N', 10, 2},
    {"TOTAL", 'N', 10, 2},    {"POUNDS", 'L', 1, 0},   {"IN_TIME", 'N', 4, 0},  {"IN_DATE", 'D', 8, 0},
    {"OUT_TIME", 'N', 4, 0},  {"OUT_DATE", 'D', 8, 0}, {"IN_WGT", 'N', 10, 0},  {"OUT_WGT", 'N', 10, 0},
    {"NET_WGT", 'N', 10, 0},  {"COMPLETE", 'L', 1, 0}, {"REMARKS", 'C', 50, 0},
};

QList<Row> roomRows()
{
    const char* rooms[][2] = {
        {" None", ""},      {"Bay  1", "Main"},  {"Bay 14", "Main"},   {"Bay  2", "Main"},    {"Bay  5", "Main"},
        {"Bay 11", "Main"}, {"Bay  6", "Main"},  {"Bay  3", "Main"},   {"Bay  4", "Main"},    {"Bay 10", "Main"},
        {"Bay  8", "Main"}, {"Gigapix", "Main"}, {"Bay 12", "Main"},   {"Bay 15", "Main"},    {"Bay 16", "Main"},
        {"Bay 17", "Main"}, {"Bay 18", "Main"},  {"Mix A", "Audio"},   {"Mix B", "Audio"},    {"Mix C", "Audio"},
        {"Mix D", "Audio"}, {"Mix E", "Audio"},  {"ADR-Foley", "Audio"}, {"Mach Rm", "Audio"}, {"Transfer", "Audio"},
        {"Bay 19", "Main"}, {"Dub", "Main"},     {"Flambe", "Audio"},  {"FILM 1", "Film"},    {"FILM 2", "Film"},
        {"FILM 3", "Film"}, {"SCANNING", "Film"}, {"Mix F", "Audio"},  {"Mix G", "Audio"},    {"Mix H", "Audio"},
        {"BullPen", "Film"}, {"Celco", "Film"},  {"MacGrfx", "Main"},  {"Mix J", "Audio"},    {"AVID", "Main"},
        {"BAY 7", "Main"},  {"", ""},
    };
    QList<Row> rows;
    for (const auto& r : rooms)
        rows.append({false, {r[0], r[1]}});
    return rows;
}

// What each fixture holds, read from its bytes. Memo fields have no cells:
// the engine reads them as the raw block pointers they hold.
const QMap<QString, Fixture>& fixtures()
{
    static const QMap<QString, Fixture> all = {
        {"customer",
         {"customer.dbf", 0x03, 161, 84, 0x01, 0x03, kCustomerFields,
          {
              {false, {"1", "ACME GRAVEL LTD", "12 PIT ROAD", "604-555-0101"}},
              {false, {"2", "BLUE RIVER AGGREGATES", "4 MILL ST", ""}},
              {true, {"3", "CASCADE CONCRETE", "77 DAM RD", "604-555-0303"}},
              {false, {"", "acme gravel ltd", "LOWER CASE ADDR", ""}},
              {false, {"10", "ZED HAULING AND EXCAVATING SERVICES", "1 END RD", "250-555-1000"}},
          }}},
        {"product",
         {"product.dbf", 0x03, 161, 51, 0x01, 0x03, kProductFields,
          {
              {false, {"1", "3/4 CRUSH", "12.50", "1200"}},
              {false, {"2", "PEA GRAVEL", "9.75", "-350"}},
              {true, {"3", "WASHED SAND", "8.00", "0"}},
              {false, {"", "ROAD BASE", "", ""}},
              {false, {"5", "RIP RAP", "145.00", "999999"}},
          }}},
        {"ticket",
         {"ticket.dbf", 0x03, 769, 364, 0x01, 0x03, kTicketFields,
          {
              {false, {"SCALEOP1", "1001", "NORTH SHORE SCALE", "ACE TRUCKING", "BC 12345", "ACME GRAVEL LTD",
                       "3/4 CRUSH", "PO-7781", "ACCOUNT", "150.00", "7.50", "10.50", "168.00", "F", "730",
                       "20240314", "805", "20240314", "36500", "16500", "20000", "T", "FIRST LOAD"}},
              {false, {"SCALEOP1", "1002", "NORTH SHORE SCALE", "BLUE LINE", "TRK-9", "BLUE RIVER AGGREGATES",
                       "PEA GRAVEL", "", "CASH", "97.50", "4.88", "6.83", "109.21", "T", "1459", "20240314",
                       "1512", "20240314", "52000", "32000", "20000", "T", ""}},
              // POUNDS holds '?', a blank logical.
              {false, {"SCALEOP2", "1003", "NORTH SHORE SCALE", "ACE TRUCKING", "BC 12345", "ACME GRAVEL LTD",
                       "RIP RAP", "PO-7782", "ACCOUNT", "", "", "", "", "", "2359", "20240315", "", "", "41000",
                       "", "", "F", "INBOUND ONLY - NOT WEIGHED OUT"}},
          }}},
        // Its descriptors end in 0x0A instead of 0x0D, and a 0x0A follows the end mark.
        {"rooms",
         {"rooms.dbf", 0x03, 97, 21, 0x01, 0x00, {{"ROOMNAME", 'C', 10, 0}, {"FACILITY", 'C', 10, 0}}, roomRows()}},
        // Visual FoxPro: a 263-byte backlink after the descriptors, memo
        // fields holding 4-byte binary block numbers.
        {"afox5",
         {"afox5.dbf", 0x30, 456, 50, 0x02, 0x03,
          {{"ID", 'C', 10, 0}, {"PRICE", 'N', 11, 0}, {"NAME", 'C', 20, 0}, {"DESC", 'M', 4, 0}, {"MESSAGE", 'M', 4, 0}},
          {
              {false, {"b20", "10", "John"}},
              {false, {"c21", "5", "Bill"}},
          }}},
    };
    return all;
}

QByteArray rstripped(QByteArray s)
{
    while (s.endsWith(' '))
        s.chop(1);
    return s;
}

QString dbftool() { return testsupport::binDir() + "/dbftool"; }

// RFC 4180: quoted cells may hold commas, doubled quotes and line breaks.
QList<QList<QByteArray>> parseCsv(const QByteArray& text)
{
    QList<QList<QByteArray>> rows;
    QList<QByteArray> row;
    QByteArray cell;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (quoted) {
            if (c != '"')
                cell += c;
            else if (i + 1 < text.size() && text.at(i + 1) == '"')
                cell += text.at(++i);
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.append(cell);
            cell.clear();
        } else if (c == '\n') {
            row.append(cell);
            rows.append(row);
            row.clear();
            cell.clear();
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || !row.isEmpty()) {
        row.append(cell);
        rows.append(row);
    }
    return rows;
}

// The field of the current record against the cell the dump must print.
void expectField(const xb::Field& f, const QByteArray& cell, const QString& where)
{
    const QByteArray raw(f.raw().data(), int(f.raw().size()));
    switch (f.type()) {
    case 'C':
        QVERIFY2(rstripped(raw) == cell, qPrintable(where + ": read \"" + raw + "\""));
        QCOMPARE(QByteArray::fromStdString(f.text()), cell.trimmed());
        break;
    case 'N':
    case 'F':
        if (cell.isEmpty()) {
            QVERIFY2(f.isBlank(), qPrintable(where + ": not blank: \"" + raw + "\""));
            QCOMPARE(f.number(), 0.0);
        } else {
            QVERIFY2(!f.isBlank(), qPrintable(where + ": blank"));
            QCOMPARE(QByteArray::fromStdString(f.text()), cell);
            QVERIFY2(f.number() == cell.toDouble(), qPrintable(where + ": read " + QString::number(f.number())));
            QCOMPARE(f.integer(), (long long)std::trunc(cell.toDouble()));
        }
        break;
    case 'D':
        if (cell.isEmpty()) {
            QVERIFY2(!f.date(), qPrintable(where + ": read a date from \"" + raw + "\""));
        } else {
            QVERIFY2(f.date().has_value(), qPrintable(where + ": no date in \"" + raw + "\""));
            QCOMPARE(QByteArray::fromStdString(f.date()->text()), cell);
        }
        break;
    case 'L':
        QCOMPARE(f.isTrue(), cell == "T");
        // The '?' of a logical is blank, like a blank.
        QVERIFY2(f.isBlank() == cell.isEmpty(), qPrintable(where + ": blank is " + (f.isBlank() ? "true" : "false")));
        break;
    default:
        break;
    }
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class Fixtures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void opensAndReads_data() { fixtureRows(); }
    void opensAndReads();
    void readingLeavesFilesAsTheyWere_data() { fixtureRows(); }
    void readingLeavesFilesAsTheyWere();
    void dumpsExactly_data();
    void dumpsExactly();
    void dumpAgreesWithDbfread_data() { fixtureRows(); }
    void dumpAgreesWithDbfread();
    void fixturesPassCheck();

private:
    void fixtureRows()
    {
        QTest::addColumn<QString>("name");
        for (const QString& name : fixtures().keys())
            QTest::newRow(qPrintable(name)) << name;
    }
    QString copyOf(const QString& file) { return testsupport::copyFixture(file, dir_.path()); }

    QTemporaryDir dir_;
};

void Fixtures::initTestCase()
{
    REQUIRE_FIXTURES();
    QVERIFY(dir_.isValid());
    for (const Fixture& f : fixtures())
        QVERIFY2(QFile::exists(copyOf(f.file)), qPrintable(f.file + " could not be copied"));
}

void Fixtures::opensAndReads()
{
    QFETCH(QString, name);
    const Fixture& fx = fixtures()[name];
    testsupport::EngineErrors errors;
    xb::Connection conn;
    xb::Table* t = conn.open(copyOf(fx.file).toStdString());
    QVERIFY2(t, errors.messages.empty() ? "" : errors.messages.front().c_str());

    QCOMPARE(int(t->version()), fx.version);
    QCOMPARE(t->headerLength(), fx.headerLength);
    QCOMPARE(t->recordLength(), fx.recordLength);
    QCOMPARE(int(t->tableFlags()), fx.flags);
    QCOMPARE(int(t->codePage()), fx.codePage);
    QCOMPARE(t->recCount(), uint32_t(fx.rows.size()));
    QCOMPARE(t->headerRecordCount(), uint32_t(fx.rows.size()));
    QVERIFY(!t->needsRepair());
    QCOMPARE(t->fieldCount(), int(fx.fields.size()));
    int offset = 1;
    for (int i = 0; i < fx.fields.size(); ++i) {
        const xb::Field* f = t->fieldAt(i + 1);
        QCOMPARE(QString::fromStdString(f->name()), QString(fx.fields[i].name));
        QCOMPARE(f->type(), fx.fields[i].type);
        QCOMPARE(f->width(), fx.fields[i].width);
        QCOMPARE(f->decimals(), fx.fields[i].decimals);
        QCOMPARE(f->desc().offset, offset);
        QCOMPARE(t->field(QByteArray(fx.fields[i].name).toLower().toStdString()), t->fieldAt(i + 1));
        offset += fx.fields[i].width;
    }
    QCOMPARE(offset, fx.recordLength);

    QList<uint32_t> live;
    for (int n = 1; n <= fx.rows.size(); ++n) {
        const Row& row = fx.rows[n - 1];
        QCOMPARE(t->go(uint32_t(n)), int(xb::kSuccess));
        QCOMPARE(t->deleted(), row.deleted);
        if (!row.deleted)
            live.append(uint32_t(n));
        for (int i = 0; i < row.cells.size(); ++i) {
            expectField(*t->fieldAt(i + 1), row.cells[i],
                        name + " record " + QString::number(n) + " " + fx.fields[i].name);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Record order passes over the deleted records, both ways.
    QList<uint32_t> forward, backward;
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        forward.append(t->recNo());
    QVERIFY(t->eof());
    for (int r = t->bottom(); r == xb::kSuccess; r = t->skip(-1))
        backward.prepend(t->recNo());
    QCOMPARE(forward, live);
    QCOMPARE(backward, live);
    QVERIFY2(errors.messages.empty(), errors.messages.empty() ? "" : errors.messages.front().c_str());
}

// Opening, reading and closing a table another program made writes nothing:
// neither the table nor its index or memo file changes.
void Fixtures::readingLeavesFilesAsTheyWere()
{
    QFETCH(QString, name);
    const QString table = copyOf(fixtures()[name].file);
    QDir dir(dir_.path());
    QMap<QString, QByteArray> before;
    for (const QString& f : dir.entryList({name + ".*"}, QDir::Files))
        before[f] = QCryptographicHash::hash(fileBytes(dir.filePath(f)), QCryptographicHash::Sha256);
    QVERIFY(before.size() >= 2);
    {
        xb::Connection conn;
        xb::Table* t = conn.open(table.toStdString());
        QVERIFY(t);
        for (int r = t->top(); r == xb::kSuccess; r = t->skip(1)) {
        }
        for (uint32_t n = 1; n <= t->recCount(); ++n)
            QCOMPARE(t->go(n), int(xb::kSuccess));
        QCOMPARE(t->close(), int(xb::kSuccess));
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(QCryptographicHash::hash(fileBytes(dir.filePath(it.key())), QCryptographicHash::Sha256) == it.value(),
                 qPrintable(it.key() + " was changed by reading its table"));
}

void Fixtures::dumpsExactly_data()
{
    // Not the Visual FoxPro table: its memo fields hold binary block numbers.
    QTest::addColumn<QString>("name");
    for (const char* name : {"customer", "product", "ticket", "rooms"})
        QTest::newRow(name) << QString(name);
}

void Fixtures::dumpsExactly()
{
    QFETCH(QString, name);
    const Fixture& fx = fixtures()[name];
    const QString table = copyOf(fx.file);
    QByteArray head;
    for (const FieldDef& f : fx.fields)
        head += (head.isEmpty() ? "" : ",") + QByteArray(f.name);
    QByteArray plain = head + "\n", withDeleted = "," + head + "\n";
    for (const Row& row : fx.rows) {
        const QByteArray line = row.cells.join(',') + "\n";
        if (!row.deleted)
            plain += line;
        withDeleted += (row.deleted ? "*," : ",") + line;
    }
    auto r = testsupport::run(dbftool(), {"dump", table});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.out, plain);
    r = testsupport::run(dbftool(), {"dump", table, "--deleted"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, withDeleted);
}

// The dump, field by field, against dbfread's reading of the same file; the
// header and field list against dbfread's too.
void Fixtures::dumpAgreesWithDbfread()
{
    QFETCH(QString, name);
    const QString python = QStringLiteral(GRAZULO_PYTHON), helpers = QStringLiteral(GRAZULO_PY_HELPERS);
    if (python.isEmpty() || helpers.isEmpty() || testsupport::run(python, {"-c", "import dbfread"}).exitCode != 0)
        QSKIP("Debian's python3-dbfread (/usr/bin/python3) is not available");
    const QString table = copyOf(fixtures()[name].file);

    auto py = testsupport::run(python, {helpers + "/read_dbf.py", table});
    QVERIFY2(py.exitCode == 0, py.err.constData());
    QJsonParseError perr {};
    const QJsonObject doc = QJsonDocument::fromJson(py.out, &perr).object();
    QVERIFY2(perr.error == QJsonParseError::NoError, qPrintable(perr.errorString()));
    const QJsonArray fields = doc.value("fields").toArray();
    const QJsonObject head = doc.value("header").toObject();

    {
        xb::Connection conn;
        xb::Table* t = conn.open(table.toStdString());
        QVERIFY(t);
        QCOMPARE(int(t->version()), doc.value("version").toInt());
        QCOMPARE(t->headerLength(), head.value("headerlen").toInt());
        QCOMPARE(t->recordLength(), head.value("recordlen").toInt());
        QCOMPARE(int(t->recCount()), head.value("numrecords").toInt());
        QCOMPARE(int(t->tableFlags()), head.value("flags").toInt());
        QCOMPARE(int(t->codePage()), head.value("codepage").toInt());
        QCOMPARE(t->fieldCount(), int(fields.size()));
        for (int i = 0; i < fields.size(); ++i) {
            const QJsonObject f = fields[i].toObject();
            const xb::Field* mine = t->fieldAt(i + 1);
            QCOMPARE(QString::fromStdString(mine->name()), f.value("name").toString());
            QCOMPARE(QString(QChar(mine->type())), f.value("type").toString());
            QCOMPARE(mine->width(), f.value("length").toInt());
            QCOMPARE(mine->decimals(), f.value("decimals").toInt());
        }
    }

    auto r = testsupport::run(dbftool(), {"dump", table, "--deleted"});
    QCOMPARE(r.exitCode, 0);
    const auto dump = parseCsv(r.out);
    QVERIFY(!dump.isEmpty());
    QCOMPARE(dump.size() - 1, head.value("numrecords").toInt());
    QCOMPARE(dump[0].size(), int(fields.size()) + 1);
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(QString::fromLatin1(dump[0][i + 1]), fields[i].toObject().value("name").toString());

    // dbfread gives the live and the deleted records apart, each in file order.
    int nextLive = 0, nextDeleted = 0;
    const QJsonArray live = doc.value("records").toArray(), gone = doc.value("deleted").toArray();
    const QJsonArray liveRaw = doc.value("raw_records").toArray(), goneRaw = doc.value("raw_deleted").toArray();
    QList<QList<QByteArray>> liveDump;
    for (int n = 1; n < dump.size(); ++n) {
        const QList<QByteArray>& line = dump[n];
        QCOMPARE(line.size(), int(fields.size()) + 1);
        const bool deleted = line[0] == "*";
        QVERIFY2(deleted || line[0].isEmpty(), line[0].constData());
        QVERIFY(deleted ? nextDeleted < gone.size() : nextLive < live.size());
        const QJsonObject values = (deleted ? gone : live)[deleted ? nextDeleted : nextLive].toObject();
        const QJsonObject raw = (deleted ? goneRaw : liveRaw)[deleted ? nextDeleted : nextLive].toObject();
        (deleted ? nextDeleted : nextLive)++;
        if (!deleted)
            liveDump.append(line.mid(1));
        for (int i = 0; i < fields.size(); ++i) {
            const QString field = fields[i].toObject().value("name").toString();
            const QString type = fields[i].toObject().value("type").toString();
            const QByteArray cell = line[i + 1];
            const QJsonValue v = values.value(field);
            const QString where = name + " record " + QString::number(n) + " " + field + ": dump \"" +
                                  QString::fromLatin1(cell) + "\"";
            if (type == "C") {
                QVERIFY2(QString::fromLatin1(cell) == v.toString(), qPrintable(where + ", dbfread \"" + v.toString() + "\""));
            } else if (type == "N" || type == "F") {
                QVERIFY2(cell.isEmpty() == v.isNull(), qPrintable(where));
                if (!v.isNull()) {
                    QVERIFY2(cell.toDouble() == v.toDouble(), qPrintable(where + ", dbfread " + QString::number(v.toDouble())));
                    QCOMPARE(QString::fromLatin1(cell), raw.value(field).toString().trimmed());
                }
            } else if (type == "D") {
                QVERIFY2(v.isNull() ? cell.isEmpty() : QString::fromLatin1(cell) == v.toString(), qPrintable(where));
            } else if (type == "L") {
                const QByteArray want = v.isNull() ? "" : v.toBool() ? "T" : "F";
                QVERIFY2(cell == want, qPrintable(where));
            }
        }
    }
    QCOMPARE(nextLive, live.size());
    QCOMPARE(nextDeleted, gone.size());

    // Without --deleted the dump is the live records alone.
    r = testsupport::run(dbftool(), {"dump", table});
    QCOMPARE(r.exitCode, 0);
    const auto plain = parseCsv(r.out);
    QCOMPARE(plain.size(), liveDump.size() + 1);
    QCOMPARE(plain.mid(1), liveDump);
}

void Fixtures::fixturesPassCheck()
{
    auto r = testsupport::run(dbftool(), {"check", dir_.path()});
    QCOMPARE(QString::fromUtf8(r.out + r.err), QString());
    QCOMPARE(r.exitCode, 0);
}

QTEST_GUILESS_MAIN(Fixtures)
#include "test_fixtures.moc"

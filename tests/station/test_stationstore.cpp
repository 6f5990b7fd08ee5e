// The station's logic without its window: the settings of setup.dbf, its
// numbering and moves in the data directory, the clock's purge.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "station/StationStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace station;

namespace {

xb::LocalTime at(int y, int mo, int d, int h = 9, int mi = 0, int s = 0) { return {y, mo, d, h, mi, s}; }

void writeSetup(const QString& dir, const char* prtport, const char* modemport, const std::string& datapath)
{
    xb::Connection c;
    xb::Table* t = c.create((dir + "/setup.dbf").toStdString(), catalogue::layoutFields(catalogue::kSetupLayout));
    QVERIFY(t);
    t->appendStart();
    t->blank();
    t->field("scalport")->assign("1");
    t->field("prtport")->assign(prtport);
    t->field("modemport")->assign(modemport);
    t->field("datapath")->assign(datapath);
    QCOMPARE(t->append(), xb::kSuccess);
    QCOMPARE(t->close(), xb::kSuccess);
}

void writeCounter(const QString& path, long long value)
{
    xb::Connection c;
    xb::Table* t = c.create(path.toStdString(), {{"company", 'N', 10, 0}});
    t->appendStart();
    t->blank();
    t->field("company")->assignInteger(value);
    QCOMPARE(t->append(), xb::kSuccess);
    QCOMPARE(t->close(), xb::kSuccess);
}

}  // namespace

class TestStationStore : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("GRAZULO_HOME", dir_->path().toUtf8());
    }
    void cleanup() { qunsetenv("GRAZULO_HOME"); }

    void settings_data()
    {
        QTest::addColumn<QString>("prtport");
        QTest::addColumn<QString>("modemport");
        QTest::addColumn<QString>("datapath");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("printer");
        QTest::addColumn<QString>("dataDir");
        QTest::newRow("usual") << "3" << "4" << "/site/data" << true << 3 << "/site/data/";
        QTest::newRow("trailing separator") << "3" << "0" << "/site/data/" << true << 3 << "/site/data/";
        // A drive letter names no directory here: no data directory, the
        // path kept for the message.
        QTest::newRow("written the old way") << "3" << "0" << "C:\\SITE\\DATA" << true << 3 << "";
        QTest::newRow("no data directory") << "3" << "0" << "" << true << 3 << "";
        QTest::newRow("empty printer port") << "" << "0" << "/site" << false << 0 << "";
        QTest::newRow("printer port no number") << "x" << "0" << "/site" << false << 0 << "";
        QTest::newRow("empty modem port") << "3" << "" << "/site" << false << 0 << "";
    }
    void settings()
    {
        QFETCH(QString, prtport);
        QFETCH(QString, modemport);
        QFETCH(QString, datapath);
        QFETCH(bool, ok);
        writeSetup(dir_->path(), prtport.toUtf8().constData(), modemport.toUtf8().constData(), datapath.toStdString());
        const SettingsResult r = readStationSettings();
        QCOMPARE(r.settings.has_value(), ok);
        if (ok) {
            QTEST(r.settings->printerPort, "printer");
            QTEST(QString::fromStdString(r.settings->dataDir), "dataDir");
            QCOMPARE(QString::fromStdString(r.settings->foreignDataPath),
                     datapath.startsWith("C:") ? datapath : QString());
        } else {
            QVERIFY(QString::fromStdString(r.error).contains("not a valid port number"));
        }
    }

    void settingsMissing()
    {
        const SettingsResult r = readStationSettings();
        QVERIFY(!r.settings);
        QVERIFY(QString::fromStdString(r.error).contains("setup.dbf is missing"));
    }

    // The counter holds the last number issued; the next is passed on to a
    // number no open ticket holds.
    void numbering()
    {
        const QString data = dir_->path() + "/";
        StationTickets tickets(data.toStdString());
        QCOMPARE(tickets.GetTicketNo(), std::optional<long>(1));
        writeCounter(data + "Control.dbf", 41);
        QCOMPARE(tickets.GetTicketNo(), std::optional<long>(42));
        QVERIFY(testsupport::writeTicketTable(data + "Ticket.dbf", {{42, "KIOSK CUSTOMER"}, {43, "OTHER"}}));
        QCOMPARE(tickets.GetTicketNo(), std::optional<long>(44));

        // A number taken meanwhile (the kiosk numbers from the same counter)
        // is not stored twice.
        Entry e;
        e.ticket = "43";
        e.customer = "ACME";
        e.product = "SAND";
        e.inWeight = "1500";
        const InboundSaved saved = tickets.UpdateTempTable(e, at(2026, 12, 8, 9, 30));
        QCOMPARE(saved.outcome, SaveOutcome::kStored);
        QCOMPARE(saved.number, 44L);
        QVERIFY(tickets.UpdateControlTable(saved.number));
        QCOMPARE(tickets.GetTicketNo(), std::optional<long>(45));
        auto rows = testsupport::tableRows(data + "Ticket.dbf");
        QCOMPARE(rows.size(), std::size_t(3));
        QCOMPARE(rows[1]["customer"], std::string("OTHER"));
        QCOMPARE(rows[2]["in_time"], std::string("930"));
        QCOMPARE(rows[2]["in_date"], std::string("20261208"));

        // No weight: debris of a frame, or a scale below zero.
        for (const char* w : {"12-3", "-500"}) {
            e.inWeight = w;
            QCOMPARE(tickets.UpdateTempTable(e, at(2026, 12, 8)).outcome, SaveOutcome::kBadWeight);
        }
        // The number is the counter's, whatever the screen shows.
        e.inWeight = "1500";
        e.ticket = "100000";
        const InboundSaved counted = tickets.UpdateTempTable(e, at(2026, 12, 8));
        QCOMPARE(counted.outcome, SaveOutcome::kStored);
        QCOMPARE(counted.number, 45L);
        QCOMPARE(tickets.GetTicketNo(), std::optional<long>(46));
        // A counter that cannot be read issues no number: nothing stored.
        {
            QFile::remove(data + "Control.dbf");
            xb::Connection c;
            QVERIFY(c.create((data + "Control.dbf").toStdString(), {{"other", 'N', 10, 0}}));
        }
        testsupport::EngineErrors errors;
        QCOMPARE(tickets.UpdateTempTable(e, at(2026, 12, 8)).outcome, SaveOutcome::kNoCounter);
        QCOMPARE(testsupport::tableRows(data + "Ticket.dbf").size(), std::size_t(4));
    }

    // Names in the code page of Ticket.dbf: one another program stored
    // reads right and reaches the day table as the same bytes; one typed at
    // the station is stored in the table's code page; a character the table
    // cannot hold is refused, naming it, before anything is stored.
    void namesInTheTicketsCodePage_data()
    {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QByteArray>("stored");   // by another program
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("typedStored");
        QTest::addColumn<QString>("refused");  // the character of `typed` refused, or empty
        QTest::newRow("1252") << 1252 << QByteArray("M\xDCLLER BAU") << QString::fromUtf8("MÜLLER BAU")
                              << QString::fromUtf8("Peña") << QByteArray("Pe\xF1" "a") << QString();
        QTest::newRow("437") << 437 << QByteArray("M\x9ALLER BAU") << QString::fromUtf8("MÜLLER BAU")
                             << QString::fromUtf8("Peña") << QByteArray("Pe\xA4" "a") << QString();
        QTest::newRow("850") << 850 << QByteArray("\xB5" "RIDOS") << QString::fromUtf8("ÁRIDOS")
                             << QString::fromUtf8("Peña") << QByteArray("Pe\xA4" "a") << QString();
        QTest::newRow("1252 refuses ő") << 1252 << QByteArray("M\xDCLLER") << QString::fromUtf8("MÜLLER")
                                        << QString::fromUtf8("Kőbánya") << QByteArray() << QString::fromUtf8("ő");
        QTest::newRow("1250 holds ő") << 1250 << QByteArray("\x8A" "KODA") << QString::fromUtf8("ŠKODA")
                                      << QString::fromUtf8("Kőbánya") << QByteArray("K\xF5" "b\xE1nya") << QString();
        QTest::newRow("437 refuses the euro") << 437 << QByteArray("CAF\x90") << QString::fromUtf8("CAFÉ")
                                              << QString::fromUtf8("5 €") << QByteArray() << QString::fromUtf8("€");
    }
    void namesInTheTicketsCodePage()
    {
        QFETCH(int, codePage);
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        QFETCH(QString, typed);
        QFETCH(QByteArray, typedStored);
        QFETCH(QString, refused);
        const QString data = dir_->path() + "/";
        writeCounter(data + "Control.dbf", 41);
        {
            QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, (data + "Ticket.dbf").toStdString(),
                                           xb::CodePage::ofNumber(codePage)->mark()));
            xb::Connection c;
            xb::Table* t = c.open((data + "Ticket.dbf").toStdString());
            QVERIFY(t);
            t->appendStart();
            t->blank();
            t->field("ticket")->assignInteger(42);
            t->field("customer")->assignRaw(stored.toStdString());
            t->field("product")->assignRaw(stored.toStdString());
            t->field("in_time")->assignInteger(900);
            t->field("in_date")->assignDate(xb::Date {2026, 12, 9});
            t->field("in_wgt")->assignInteger(1500);
            t->field("complete")->assignLogical(false);
            QCOMPARE(t->append(), xb::kSuccess);
        }
        auto bytesOf = [](const QString& path, int record, const char* field) {
            xb::Connection c;
            c.setReadOnly(true);
            xb::Table* t = c.open(path.toStdString());
            return t && t->go(uint32_t(record)) == xb::kSuccess
                       ? QByteArray::fromStdString(std::string(t->field(field)->trimmedView()))
                       : QByteArray("(none)");
        };
        StationTickets tickets(data.toStdString());

        // Typed at the station, weighed in.
        Entry typedIn;
        typedIn.customer = typed.toStdString();
        typedIn.product = "SAND";
        typedIn.inWeight = "1000";
        const auto refusal = tickets.refusedText(typedIn, false, at(2026, 12, 9, 10));
        if (refused.isEmpty()) {
            QVERIFY2(!refusal, refusal ? refusal->message.c_str() : "");
            QCOMPARE(tickets.UpdateTempTable(typedIn, at(2026, 12, 9, 10)).outcome, SaveOutcome::kStored);
            QCOMPARE(bytesOf(data + "Ticket.dbf", 2, "customer"), typedStored);
        } else {
            QVERIFY(refusal);
            QCOMPARE(refusal->text, EntryText::kCustomer);
            const QString message = QString::fromStdString(refusal->message);
            QVERIFY2(message.contains("\"" + refused + "\"") && message.contains("Customer Name") &&
                         message.contains("Ticket.dbf"),
                     qPrintable(message));
        }

        // Another program's name: shown, completed, kept byte for byte.
        const auto open = tickets.CheckInRecord(42, false, at(2026, 12, 9, 11));
        QVERIFY(open);
        Entry loaded = entryOf(*open);
        QCOMPARE(QString::fromStdString(loaded.customer), shown);
        loaded.outWeight = "9000";
        QVERIFY(!tickets.refusedText(loaded, true, at(2026, 12, 9, 11)));
        SaveOutcome outcome {};
        tickets.UpdateTables(loaded, false, at(2026, 12, 9, 11), outcome);
        QCOMPARE(outcome, SaveOutcome::kStored);
        QCOMPARE(bytesOf(data + "Dec0926.dbf", 1, "customer"), stored);
        QCOMPARE(bytesOf(data + "Dec0926.dbf", 1, "product"), stored);
        QCOMPARE(QString::fromStdString(testsupport::tableRows(data + "Dec0926.dbf")[0]["customer"]), shown);
    }

    // A ticket weighed in before midnight is completed into the day of its
    // outbound and keeps its in date; a reprint files it again under the
    // same or a new number of that day.
    void completeAndReprint()
    {
        const QString data = dir_->path() + "/";
        writeCounter(data + "Control.dbf", 41);
        StationTickets tickets(data.toStdString());
        Entry e;
        e.ticket = "42";
        e.customer = "ACME";
        e.product = "SAND";
        e.truck = "AB-123";
        e.inWeight = "1500";
        QCOMPARE(tickets.UpdateTempTable(e, at(2026, 12, 8, 23, 50)).outcome, SaveOutcome::kStored);
        const auto open = tickets.CheckInRecord(42, false, at(2026, 12, 9));
        QVERIFY(open);
        Entry loaded = entryOf(*open);
        QCOMPARE(loaded.inDate, std::string("12/08/2026"));
        QCOMPARE(loaded.inTime, std::string("2350"));
        SaveOutcome outcome {};
        loaded.outWeight = "-12";
        tickets.UpdateTables(loaded, false, at(2026, 12, 9, 0, 10), outcome);
        QCOMPARE(outcome, SaveOutcome::kBadWeight);
        loaded.outWeight = "12";
        // The open ticket's own in weight, time and date are stored, not
        // what a screen holds.
        loaded.inWeight = "9";
        loaded.inTime = "1200";
        loaded.inDate = "01/01/2026";
        tickets.UpdateTables(loaded, false, at(2026, 12, 9, 0, 10), outcome);
        QCOMPARE(outcome, SaveOutcome::kStored);
        const QString day = data + "Dec0926.dbf";
        auto rows = testsupport::tableRows(day);
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows[0]["in_date"], std::string("20261208"));
        QCOMPARE(rows[0]["out_date"], std::string("20261209"));
        QCOMPARE(rows[0]["out_time"], std::string("10"));
        QCOMPARE(rows[0]["in_wgt"], std::string("1500"));
        QCOMPARE(rows[0]["net_wgt"], std::string("1488"));
        QCOMPARE(rows[0]["complete"], std::string("T"));
        QVERIFY(testsupport::tableRows(data + "Ticket.dbf").empty());
        // Completed once: a second Print finds nothing to complete.
        tickets.UpdateTables(loaded, false, at(2026, 12, 9, 0, 11), outcome);
        QCOMPARE(outcome, SaveOutcome::kNotFound);

        QVERIFY(!tickets.CheckInRecord(42, true, at(2026, 12, 10)));  // yesterday's
        auto done = tickets.CheckInRecord(42, true, at(2026, 12, 9, 8));
        QVERIFY(done);
        Entry again = entryOf(*done);
        QCOMPARE(again.outWeight, std::string("12"));
        again.newTicket = "57";
        tickets.UpdateTables(again, true, at(2026, 12, 9, 8), outcome);
        QCOMPARE(outcome, SaveOutcome::kStored);
        rows = testsupport::tableRows(day);
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows[0]["ticket"], std::string("57"));
        QCOMPARE(rows[0]["in_wgt"], std::string("1500"));
        QCOMPARE(rows[0]["in_time"], std::string("2350"));
        QCOMPARE(rows[0]["out_time"], std::string("10"));  // the weighing's, not the reprint's

        again.ticket = again.newTicket = "57";
        tickets.UpdateTables(again, true, at(2026, 12, 9, 8), outcome);
        QCOMPARE(outcome, SaveOutcome::kStored);
        QCOMPARE(testsupport::tableRows(day).size(), std::size_t(1));
    }

    void purgeMoments_data()
    {
        QTest::addColumn<QDateTime>("before");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("purges");
        const QDate d(2026, 12, 8);
        auto t = [&](int h, int m, int s, int days = 0) { return QDateTime(d.addDays(days), QTime(h, m, s)); };
        QTest::newRow("tick onto midnight") << t(23, 59, 59) << t(0, 0, 0, 1) << true;
        QTest::newRow("tick onto noon") << t(11, 59, 59) << t(12, 0, 0) << true;
        QTest::newRow("midnight skipped") << t(23, 59, 58) << t(0, 0, 2, 1) << true;
        QTest::newRow("noon skipped by a busy minute") << t(11, 59, 30) << t(12, 0, 45) << true;
        QTest::newRow("the tick after noon") << t(12, 0, 0) << t(12, 0, 1) << false;
        QTest::newRow("an ordinary second") << t(9, 14, 0) << t(9, 14, 1) << false;
        QTest::newRow("suspended for two days") << t(9, 0, 0) << t(9, 0, 0, 2) << true;
        QTest::newRow("clock set back over noon") << t(12, 0, 5) << t(11, 59, 0) << false;
    }
    void purgeMoments()
    {
        QFETCH(QDateTime, before);
        QFETCH(QDateTime, now);
        auto lt = [](const QDateTime& q) {
            return xb::LocalTime {q.date().year(), q.date().month(), q.date().day(),
                                  q.time().hour(), q.time().minute(), q.time().second()};
        };
        QTEST(crossesPurgeMoment(lt(before), lt(now)), "purges");
    }

    // Files of 14 to 20 days back go; 13 and 21 stay, and nothing else of
    // the folder is touched.
    void purge()
    {
        const QString data = dir_->path() + "/";
        QVERIFY(QDir(data).mkdir("HS_data"));
        const QDate today(2026, 12, 8);
        QStringList kept;
        for (int d = 12; d <= 22; ++d) {
            const QDate day = today.addDays(-d);
            const QString name = "HS_data/" + QString::fromStdString(catalogue::purgeTableName(
                                                   xb::Date {day.year(), day.month(), day.day()}))
                                                   .section('/', -1);
            QFile f(data + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (d < 14 || d > 20)
                kept << QFileInfo(name).fileName();
        }
        for (const char* other : {"HS_data/notes.txt", "Nov2426.dbf"}) {
            QFile f(data + other);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        kept << "notes.txt";
        QCOMPARE(purgeFiles(data.toStdString(), at(2026, 12, 8)).front(), (data + "HS_data/HS_Nov2426.dbf").toStdString());
        QCOMPARE(purgeOldFiles(data.toStdString(), at(2026, 12, 8, 0, 0, 0)), 7);
        QStringList left = QDir(data + "HS_data").entryList(QDir::Files);
        left.sort();
        kept.sort();
        QCOMPARE(left, kept);
        QVERIFY(QFile::exists(data + "Nov2426.dbf"));
        QCOMPARE(purgeOldFiles("", at(2026, 12, 8)), 0);
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_GUILESS_MAIN(TestStationStore)
#include "test_stationstore.moc"

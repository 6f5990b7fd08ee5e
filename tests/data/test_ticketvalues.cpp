// The one conversion of ticket values between their stored and shown forms:
// each table row is one text as a field or a device may carry it.

#include "data/TicketValues.h"

#include <QtTest>

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

class TestTicketValues : public QObject {
    Q_OBJECT
private slots:
    void weights_data();
    void weights();
    void weighings_data();
    void weighings();
    void times_data();
    void times();
    void dates_data();
    void dates();
    void namedDates_data();
    void namedDates();
    void texts();
};

void TestTicketValues::weights_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<qlonglong>("value");
    QTest::newRow("padded field") << QByteArray("     12340") << true << 12340LL;
    QTest::newRow("leading zeros") << QByteArray("001234") << true << 1234LL;
    QTest::newRow("zero") << QByteArray("0") << true << 0LL;
    QTest::newRow("negative") << QByteArray(" -120") << true << -120LL;
    QTest::newRow("line end") << QByteArray("4500\r\n") << true << 4500LL;
    QTest::newRow("largest") << QByteArray("9999999999") << true << 9999999999LL;
    QTest::newRow("smallest") << QByteArray("-999999999") << true << -999999999LL;
    QTest::newRow("too large") << QByteArray("10000000000") << false << 0LL;
    QTest::newRow("too small") << QByteArray("-1000000000") << false << 0LL;
    QTest::newRow("empty") << QByteArray("") << false << 0LL;
    QTest::newRow("blank") << QByteArray("    ") << false << 0LL;
    QTest::newRow("lone minus") << QByteArray("-") << false << 0LL;
    QTest::newRow("two minus") << QByteArray("--") << false << 0LL;
    QTest::newRow("minus inside") << QByteArray("12-3") << false << 0LL;
    QTest::newRow("decimal") << QByteArray("1.5") << false << 0LL;
    QTest::newRow("plus sign") << QByteArray("+7") << false << 0LL;
    QTest::newRow("blank inside") << QByteArray("12 34") << false << 0LL;
    QTest::newRow("unit") << QByteArray("1200kg") << false << 0LL;
}

void TestTicketValues::weights()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, whole);
    QFETCH(qlonglong, value);
    const auto w = values::wholeWeight(text.toStdString());
    QCOMPARE(w.has_value(), whole);
    if (whole)
        QCOMPARE(*w, value);
    QCOMPARE(values::weightOrZero(text.toStdString()), whole ? value : 0LL);
}

void TestTicketValues::weighings_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("gross");
    QTest::addColumn<QString>("tare");
    QTest::addColumn<qlonglong>("net");
    QTest::addColumn<qlonglong>("stationNet");
    QTest::newRow("loaded out") << "12000" << "30000" << true << "30000" << "12000" << 18000LL << 18000LL;
    QTest::newRow("unloaded out") << "30000" << "12000" << true << "30000" << "12000" << 18000LL << 18000LL;
    QTest::newRow("equal: out is gross") << "15000" << "15000" << true << "15000" << "15000" << 0LL << 0LL;
    QTest::newRow("padded") << "   500" << " 1500 " << true << "1500" << "500" << 1000LL << 1000LL;
    QTest::newRow("garbled out") << "12000" << "12-3" << false << "" << "" << 0LL << 12000LL;
    QTest::newRow("blank in") << "" << "9000" << false << "" << "" << 0LL << 9000LL;
}

void TestTicketValues::weighings()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QFETCH(bool, valid);
    const auto w = values::weighing(in.toStdString(), out.toStdString());
    QCOMPARE(w.has_value(), valid);
    if (valid) {
        QTEST(q(w->gross), "gross");
        QTEST(q(w->tare), "tare");
        QTEST(qlonglong(w->net), "net");
    }
    QTEST(qlonglong(values::netOf(in.toStdString(), out.toStdString())), "stationNet");
}

void TestTicketValues::times_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("report");
    QTest::newRow("morning") << "930" << "09:30" << "9:30";
    QTest::newRow("padded field") << " 935" << "09:35" << "9:35";
    QTest::newRow("afternoon") << "1405" << "14:05" << "14:05";
    QTest::newRow("with zero") << "0930" << "09:30" << "9:30";
    QTest::newRow("as the station shows it") << "9:30" << "09:30" << "9:30";
    QTest::newRow("midnight") << "0" << "00:00" << "0:00";
    QTest::newRow("minutes only") << "45" << "00:45" << "0:45";
    QTest::newRow("one digit") << "5" << "00:05" << "0:05";
    QTest::newRow("last minute") << "2359" << "23:59" << "23:59";
    QTest::newRow("blank") << "    " << "" << "";
    QTest::newRow("five digits") << "12345" << "" << "";
    QTest::newRow("hour 24") << "2400" << "" << "";
    QTest::newRow("minute 60") << "960" << "" << "";
    QTest::newRow("colon misplaced") << "93:0" << "" << "";
    QTest::newRow("colon first") << ":30" << "" << "";
    QTest::newRow("negative") << "-930" << "" << "";
    QTest::newRow("letters") << "9h30" << "" << "";
}

void TestTicketValues::times()
{
    QFETCH(QString, stored);
    QTEST(q(values::timeText(stored.toStdString())), "shown");
    QTEST(q(values::shortTimeText(stored.toStdString())), "report");
    QCOMPARE(values::storedTime(xb::LocalTime {2026, 12, 8, 9, 30, 0}), 930);
    QCOMPARE(values::storedTime(0, 5), 5);
    QCOMPARE(q(values::timeText(xb::LocalTime {2026, 12, 8, 7, 4, 0})), QString("07:04"));
}

void TestTicketValues::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("report");
    QTest::newRow("stored") << "20261208" << "12/08/2026" << "12/08/26";
    QTest::newRow("shown") << "12/08/2026" << "12/08/2026" << "12/08/26";
    QTest::newRow("shown short") << "1/5/2027" << "01/05/2027" << "01/05/27";
    QTest::newRow("leap day") << "20280229" << "02/29/2028" << "02/29/28";
    QTest::newRow("no leap day") << "20270229" << "" << "";
    QTest::newRow("month 13") << "13/01/2026" << "" << "";
    QTest::newRow("two-digit year") << "12/08/26" << "" << "";
    QTest::newRow("blank field") << "        " << "" << "";
    QTest::newRow("letters") << "2026Dec8" << "" << "";
    QTest::newRow("four parts") << "1/2/3/2026" << "" << "";
}

void TestTicketValues::dates()
{
    QFETCH(QString, text);
    QTEST(q(values::dateText(text.toStdString())), "shown");
    QTEST(q(values::shortDateText(text.toStdString())), "report");
}

void TestTicketValues::namedDates_data()
{
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<QString>("longText");
    QTest::addColumn<QString>("medium");
    QTest::addColumn<QString>("full");
    QTest::addColumn<QString>("clock");
    QTest::newRow("morning") << QDateTime(QDate(2026, 12, 8), QTime(9, 14)) << "December 8, 2026"
                             << "Dec 08, 2026" << "Tuesday December 08, 2026" << "Tue, Dec 8, 2026, 9:14 AM";
    QTest::newRow("noon") << QDateTime(QDate(2027, 1, 31), QTime(12, 0)) << "January 31, 2027"
                          << "Jan 31, 2027" << "Sunday January 31, 2027" << "Sun, Jan 31, 2027, 12:00 PM";
    QTest::newRow("midnight") << QDateTime(QDate(2028, 2, 29), QTime(0, 5)) << "February 29, 2028"
                              << "Feb 29, 2028" << "Tuesday February 29, 2028" << "Tue, Feb 29, 2028, 12:05 AM";
    QTest::newRow("evening") << QDateTime(QDate(2026, 7, 4), QTime(23, 59)) << "July 4, 2026" << "Jul 04, 2026"
                             << "Saturday July 04, 2026" << "Sat, Jul 4, 2026, 11:59 PM";
}

void TestTicketValues::namedDates()
{
    QFETCH(QDateTime, at);
    const xb::LocalTime t {at.date().year(), at.date().month(), at.date().day(), at.time().hour(),
                           at.time().minute(), 0};
    const xb::Date d = values::dateOf(t);
    QTEST(q(values::longDateText(d)), "longText");
    QTEST(q(values::mediumDateText(d)), "medium");
    QTEST(q(values::fullDateText(d)), "full");
    QTEST(q(values::clockText(t)), "clock");
    // The names agree with the calendar, whatever the system's language.
    QCOMPARE(values::weekday(d), at.date().dayOfWeek() % 7);
}

void TestTicketValues::texts()
{
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    for (const Case& c : {Case {"Acme Ltd", "ACME LTD", true}, Case {"acme", "acme ", false},
                          Case {"Ärger", "ärger", false}, Case {"", "", true}})
        QCOMPARE(values::sameText(c.a, c.b), c.same);
    QCOMPARE(values::trimmed(std::string(" \tACME\r\n\0\0", 10)), std::string("ACME"));
    QCOMPARE(values::upper("gravel \xe9"), std::string("GRAVEL \xe9"));
    QCOMPARE(std::string(values::monthName(13)), std::string());
}

QTEST_GUILESS_MAIN(TestTicketValues)
#include "test_ticketvalues.moc"

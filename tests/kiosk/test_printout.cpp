// The ticket's byte stream, without any device: whole tickets for the
// printer types against bytes written out here, the primitives, and how the
// values are shown.

#include "kiosk/TicketPrintout.h"

#include <QTest>

#include <string>

using kiosk::TicketOutput;

namespace {

kiosk::Ticket sampleTicket()
{
    kiosk::Ticket t;
    t.ticket = 1042;
    t.customer = "Harlow Sand & Gravel";
    t.product = "Washed sand 20mm";
    t.in_time = "930";
    t.in_date = "20261208";
    t.out_time = {2026, 12, 8, 14, 15, 0};
    t.out_date = {2026, 12, 8, 14, 15, 0};
    t.in_wgt = "9000";
    t.out_wgt = "12000";
    t.net_wgt = "3000";
    t.truck = "KX 4410";
    return t;
}

const xb::LocalTime kToday {2026, 12, 9, 10, 5, 0};

std::string twelve(const std::string& blankLine)
{
    std::string s;
    for (int i = 0; i < 12; ++i)
        s += blankLine;
    return s;
}

// The line of a ticket that holds `label`, without its line end.
std::string lineWith(const std::string& bytes, const std::string& label, const std::string& end = "\n")
{
    const std::size_t at = bytes.find(label);
    if (at == std::string::npos)
        return {};
    const std::size_t start = bytes.rfind(end, at);
    const std::size_t from = start == std::string::npos ? 0 : start + end.size();
    return bytes.substr(from, bytes.find(end, at) - from);
}

std::string ticketOf(const kiosk::Ticket& t, int type = 3)
{
    const auto bytes = kiosk::KioskTicketBytes(t, type, kToday);
    return bytes ? *bytes : std::string("<none>");
}

}  // namespace

class TestPrintout : public QObject {
    Q_OBJECT

private slots:
    void serialTicketWithWrapCharacters()
    {
        const std::string expected =
            "\x1A\r"
            "          \x17VELMORE GREENHOUSE\x17\r"
            "        \x17" "ARDWICK HOLLOW, REGION\x17\r"
            " \r"
            "                         12/09/2026\r"
            " \r"
            " \r"
            "TICKET  : 1042\r"
            "CUSTOMER: HARLOW SAND & GRAVEL\r"
            "IN TIME : 09:30  12/08/2026 \r"
            "OUT TIME: 14:15  12/08/2026 \r"
            "MATERIAL: WASHED SAND 20MM\r"
            " \r"
            "     \x17GROSS:           12000  kg\x17\r"
            " \r"
            "     \x17TARE:             9000  kg\x17\r"
            " \r"
            "     \x17NET:              3000  kg\x17\r"
            + twelve(" \r") +
            "\x1Bi\r"
            "\x17\r";
        QCOMPARE(ticketOf(sampleTicket(), 1), expected);
    }

    void parallelTicket()
    {
        const std::string expected =
            "\r\n"
            "           VELMORE GREENHOUSE\r\n"
            "         ARDWICK HOLLOW, REGION\r\n"
            " \r\n"
            "                         12/09/2026\r\n"
            " \r\n"
            " \r\n"
            "TICKET  : 1042\r\n"
            "CUSTOMER: HARLOW SAND & GRAVEL\r\n"
            "IN TIME : 09:30  12/08/2026 \r\n"
            "OUT TIME: 14:15  12/08/2026 \r\n"
            "MATERIAL: WASHED SAND 20MM\r\n"
            " \r\n"
            "     GROSS:           12000  kg\r\n"
            " \r\n"
            "     TARE:             9000  kg\r\n"
            " \r\n"
            "     NET:              3000  kg\r\n"
            + twelve(" \r\n") +
            "\x1Bi\r\n"
            "\r\n";
        QCOMPARE(ticketOf(sampleTicket(), 2), expected);
        QCOMPARE(ticketOf(sampleTicket(), 5), expected);
    }

    void serialTicketWithLineFeeds()
    {
        const std::string expected =
            "\x1A\n"
            "           VELMORE GREENHOUSE\n"
            "         ARDWICK HOLLOW, REGION\n"
            " \n"
            "                         12/09/2026\n"
            " \n"
            " \n"
            "TICKET  : 1042\n"
            "CUSTOMER: HARLOW SAND & GRAVEL\n"
            "IN TIME : 09:30  12/08/2026 \n"
            "OUT TIME: 14:15  12/08/2026 \n"
            "MATERIAL: WASHED SAND 20MM\n"
            " \n"
            "     GROSS:           12000  kg\n"
            " \n"
            "     TARE:             9000  kg\n"
            " \n"
            "     NET:              3000  kg\n"
            + twelve(" \n") +
            "\x1Bi\n"
            "\n";
        const std::string type3 = ticketOf(sampleTicket(), 3);
        QCOMPARE(type3, expected);
        QCOMPARE(ticketOf(sampleTicket(), 4), expected);
        QVERIFY(type3.find('\r') == std::string::npos);
        QVERIFY(type3.find('\x17') == std::string::npos);
    }

    void otherPrinterTypesHaveNoTicket()
    {
        for (int type : {0, 6, -1, 99}) {
            QCOMPARE(int(kiosk::printerPathFor(type).output), int(kiosk::PrinterOutput::kNone));
            QVERIFY(!kiosk::KioskTicketBytes(sampleTicket(), type, kToday));
        }
    }

    void heavierWeighingIsGrossWhicheverCameFirst_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("gross");
        QTest::addColumn<QString>("tare");
        QTest::addColumn<QString>("net");
        QTest::newRow("loaded out") << "9000" << "12000" << "12000" << "9000" << "3000";
        QTest::newRow("loaded in") << "12000" << "9000" << "12000" << "9000" << "3000";
        QTest::newRow("leading zeros kept") << "1234" << "005678" << "005678" << "1234" << "4444";
        QTest::newRow("equal: out is gross") << "07000" << "7000" << "7000" << "07000" << "0";
        QTest::newRow("negative reading") << "-50" << "150" << "150" << "-50" << "200";
    }
    void heavierWeighingIsGrossWhicheverCameFirst()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(QString, gross);
        QFETCH(QString, tare);
        QFETCH(QString, net);
        kiosk::Ticket t = sampleTicket();
        t.in_wgt = in.toStdString();
        t.out_wgt = out.toStdString();
        const std::string bytes = ticketOf(t);
        auto weightLine = [](const char* label, const QString& v) {
            const std::string value = v.toStdString();
            return "     " + std::string(label) + std::string(15 - value.size(), ' ') + value + "  kg";
        };
        QCOMPARE(lineWith(bytes, "GROSS:"), weightLine("GROSS: ", gross));
        QCOMPARE(lineWith(bytes, "TARE:"), weightLine("TARE:  ", tare));
        QCOMPARE(lineWith(bytes, "NET:"), weightLine("NET:   ", net));
    }

    void weightsThatAreNoNumbersPrintNothing()
    {
        for (const char* bad : {"", "12-3", "--", "12 000", "1e5", "9999999999999999999"}) {
            kiosk::Ticket t = sampleTicket();
            t.out_wgt = bad;
            QVERIFY2(!kiosk::KioskTicketBytes(t, 3, kToday), bad);
        }
        kiosk::Ticket t = sampleTicket();
        t.in_wgt = " 9000 ";  // blanks around a number are no harm
        QCOMPARE(lineWith(ticketOf(t), "TARE:"), std::string("     TARE:             9000  kg"));
    }

    void materialIsCutTo31Characters()
    {
        kiosk::Ticket t = sampleTicket();
        t.product = "crushed limestone base course 40mm grade";  // 40 characters
        QCOMPARE(t.product.size(), std::size_t(40));
        QCOMPARE(lineWith(ticketOf(t), "MATERIAL:"), std::string("MATERIAL: CRUSHED LIMESTONE BASE COURSE 4"));
        // A character is one byte of the printer's code page: 31 of them.
        t.product = std::string(30, 'a') + "\xC3\xA9" "bc";
        QCOMPARE(lineWith(ticketOf(t), "MATERIAL:"), "MATERIAL: " + std::string(30, 'A') + "\xC9");
    }

    // The names as the printer's code page has them, in upper case; what it
    // cannot print is a '?'. 1252 is what the tables hold and the default.
    void namesInThePrintersCodePage_data()
    {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QString>("customer");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("1252") << 1252 << QString::fromUtf8("café Müller") << QByteArray("CUSTOMER: CAF\xC9 M\xDCLLER");
        QTest::newRow("437") << 437 << QString::fromUtf8("MÜLLER BAU") << QByteArray("CUSTOMER: M\x9ALLER BAU");
        QTest::newRow("850") << 850 << QString::fromUtf8("Peña") << QByteArray("CUSTOMER: PE\xA5" "A");
        QTest::newRow("euro in 437") << 437 << QString::fromUtf8("5 € AG") << QByteArray("CUSTOMER: 5 ? AG");
        QTest::newRow("ß keeps its case") << 1252 << QString::fromUtf8("Straße") << QByteArray("CUSTOMER: STRA\xDF" "E");
        QTest::newRow("unknown code page is 1252") << 999 << QString::fromUtf8("Ü") << QByteArray("CUSTOMER: \xDC");
    }
    void namesInThePrintersCodePage()
    {
        QFETCH(int, codePage);
        QFETCH(QString, customer);
        QFETCH(QByteArray, line);
        kiosk::Ticket t = sampleTicket();
        t.customer = customer.toStdString();
        const auto bytes = kiosk::KioskTicketBytes(t, 3, kToday, codePage);
        QVERIFY(bytes);
        QCOMPARE(QByteArray::fromStdString(lineWith(*bytes, "CUSTOMER:")), line);
    }

    void inDateAndTimeAsHeld_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("line");
        QTest::newRow("930") << "930" << "20261208" << "IN TIME : 09:30  12/08/2026 ";
        QTest::newRow("1415") << "1415" << "20260102" << "IN TIME : 14:15  01/02/2026 ";
        QTest::newRow("45") << "45" << "20261208" << "IN TIME : 00:45  12/08/2026 ";
        QTest::newRow("5") << "5" << "20261208" << "IN TIME : 00:05  12/08/2026 ";
        QTest::newRow("station's date") << "0930" << "12/08/2026" << "IN TIME : 09:30  12/08/2026 ";
        QTest::newRow("slashes as held") << "2359" << "8/1/26" << "IN TIME : 23:59  8/1/26 ";
        QTest::newRow("blank time") << "" << "20261208" << "IN TIME :   12/08/2026 ";
        QTest::newRow("short date") << "1200" << "2026" << "IN TIME : 12:00  //2026 ";
    }
    void inDateAndTimeAsHeld()
    {
        QFETCH(QString, time);
        QFETCH(QString, date);
        QFETCH(QString, line);
        kiosk::Ticket t = sampleTicket();
        t.in_time = time.toStdString();
        t.in_date = date.toStdString();
        QCOMPARE(QString::fromStdString(lineWith(ticketOf(t), "IN TIME")), line);
    }

    void outTimeAndDateAndToday()
    {
        kiosk::Ticket t = sampleTicket();
        t.out_time = {2027, 1, 3, 0, 7, 59};
        t.out_date = {2027, 1, 3, 0, 7, 59};
        const auto bytes = kiosk::KioskTicketBytes(t, 3, xb::LocalTime {2027, 1, 4, 23, 59, 59});
        QVERIFY(bytes);
        QCOMPARE(lineWith(*bytes, "OUT TIME"), std::string("OUT TIME: 00:07  01/03/2027 "));
        QCOMPARE(lineWith(*bytes, "01/04/2027"), std::string(25, ' ') + "01/04/2027");
        t.ticket = -1;
        QCOMPARE(lineWith(ticketOf(t), "TICKET"), std::string("TICKET  : -1"));
    }

    void centringRoundsHalvesToEven_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("blanks");
        QTest::newRow("18") << 18 << 11;
        QTest::newRow("17: 11.5") << 17 << 12;
        QTest::newRow("19: 10.5") << 19 << 10;
        QTest::newRow("21: 9.5") << 21 << 10;
        QTest::newRow("23: 8.5") << 23 << 8;
        QTest::newRow("0") << 0 << 20;
        QTest::newRow("1: 19.5") << 1 << 20;
        QTest::newRow("40") << 40 << 0;
        QTest::newRow("wider than the ticket") << 47 << 0;
    }
    void centringRoundsHalvesToEven()
    {
        QFETCH(int, length);
        QFETCH(int, blanks);
        TicketOutput out;
        out.path = kiosk::printerPathFor(2);
        const std::string text(std::size_t(length), 'x');
        kiosk::PrintCentred(out, text);
        QCOMPARE(out.bytes, std::string(std::size_t(blanks), ' ') + text + "\r\n");
    }

    void rightAlignedValuesEndInOneColumn()
    {
        for (std::size_t len : {1u, 5u, 10u, 15u}) {
            TicketOutput out;
            out.path = kiosk::printerPathFor(1);
            kiosk::PrintRight(out, std::string(len, '7'), 5);
            QCOMPARE(out.bytes.size(), std::size_t(15));  // no line end
        }
        TicketOutput out;
        kiosk::PrintRight(out, std::string(18, '7'), 5);
        QCOMPARE(out.bytes, std::string(18, '7'));
        kiosk::PrintSpaces(out, -4);
        kiosk::PrintSpaces(out, 0);
        QCOMPARE(out.bytes.size(), std::size_t(18));
    }
};

QTEST_GUILESS_MAIN(TestPrintout)
#include "test_printout.moc"

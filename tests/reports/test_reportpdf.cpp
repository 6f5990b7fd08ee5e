// The reports' pages as a PDF reader sees them: every text at its place
// within a millimetre, right-aligned numbers ending at their box's right
// edge, the page breaks with the headers repeated, the page numbers, the
// summary, and the same pages whether drawn into a PDF file or on a printer.

#include "ReportSite.h"

#include "reports/rCustomer.h"
#include "reports/rProduct.h"
#include "reports/rTransactionRpt.h"

#include <QGuiApplication>
#include <QPrinter>
#include <QtTest>

using reporttest::Word;

namespace {

enum Edge { kLeft, kCentre, kRight };

// Where a phrase (words on one line) is expected: its left edge, centre or
// right edge, and its top, in mm from the paper's top left corner.
struct Place {
    const char* phrase;
    Edge edge;
    double x;
    double top;
};

// The occurrence of the phrase nearest the expected place.
std::optional<std::pair<double, double>> placed(const std::vector<Word>& words, int page, const Place& p)
{
    const QStringList tokens = QString(p.phrase).split(' ');
    std::optional<std::pair<double, double>> best;
    double bestMiss = 1e9;
    for (std::size_t i = 0; i + std::size_t(tokens.size()) <= words.size(); ++i) {
        bool match = true;
        for (int k = 0; k < tokens.size() && match; ++k) {
            const Word& w = words[i + std::size_t(k)];
            match = w.page == page && w.text == tokens[k] && std::abs(w.top - words[i].top) < 0.3;
        }
        if (!match)
            continue;
        const Word& first = words[i];
        const Word& last = words[i + std::size_t(tokens.size()) - 1];
        const double x = p.edge == kLeft ? first.left : p.edge == kRight ? last.right : (first.left + last.right) / 2;
        const double miss = std::abs(x - p.x) + std::abs(first.top - p.top);
        if (miss < bestMiss) {
            bestMiss = miss;
            best = std::make_pair(x, first.top);
        }
    }
    return best;
}

void checkPlaces(const std::vector<Word>& words, int page, const std::vector<Place>& places)
{
    for (const Place& p : places) {
        const auto at = placed(words, page, p);
        QVERIFY2(at, qPrintable(QString("\"%1\" is not on page %2").arg(p.phrase).arg(page)));
        QVERIFY2(std::abs(at->first - p.x) <= 1.0 && std::abs(at->second - p.top) <= 1.0,
                 qPrintable(QString("\"%1\" at x %2 top %3, expected x %4 top %5")
                                .arg(p.phrase)
                                .arg(at->first, 0, 'f', 2)
                                .arg(at->second, 0, 'f', 2)
                                .arg(p.x)
                                .arg(p.top)));
    }
}

std::vector<reports::TransactionRow> rowsOf(int n, int firstTicket = 1)
{
    std::vector<reports::TransactionRow> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({std::to_string(firstTicket + i), "ACME HAULING", "PEA GRAVEL", "ABC 123", "12/08/26", "935",
                        "14020", "12/08/26", "1405", "8760", "5260"});
    return rows;
}

// The ticket numbers of a page's detail lines: the words at the ticket's
// left edge below the column header.
QStringList ticketsOn(const std::vector<Word>& words, int page)
{
    QStringList out;
    for (const Word& w : words)
        if (w.page == page && w.top > 52 && std::abs(w.left - 13.2) < 0.3 && w.text != "Transactions")
            out << w.text;
    return out;
}

}  // namespace

class TestReportPdf : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    const xb::Date kFrom {2026, 12, 1};
    const xb::Date kTo {2026, 12, 8};

    std::vector<Word> transactions(std::vector<reports::TransactionRow> rows, int* pages = nullptr)
    {
        TrptTransactionRpt report;
        report.setRange(kFrom, kTo, kTo);
        report.setRows(std::move(rows));
        const QString path = dir_.filePath("t.pdf");
        QString error;
        if (!report.writePdf(path, error))
            qWarning("%s", qPrintable(error));
        if (pages)
            *pages = report.pageCount();
        return reporttest::pdfWords(path);
    }

    std::vector<Word> list(reports::ListReport& report, std::vector<reports::ListLine> rows)
    {
        report.setRows(std::move(rows));
        const QString path = dir_.filePath("l.pdf");
        QString error;
        if (!report.writePdf(path, error))
            qWarning("%s", qPrintable(error));
        return reporttest::pdfWords(path);
    }

private slots:
    void transactionPlaces()
    {
        const auto words = transactions(rowsOf(1));
        QCOMPARE(reporttest::pageCount(words), 1);
        checkPlaces(words, 1,
                    {
                        // page header: the band's top is the top margin, 12.7 mm
                        {"VELMORE GREENHOUSE", kCentre, 139.7, 15.3},
                        {"PONDERIX TRANSACTIONS REPORT", kCentre, 139.7, 22.2},
                        {"FROM", kLeft, 109.3, 29.6},
                        {"Dec 01, 2026", kCentre, 131.8, 29.6},
                        {"TO", kLeft, 143.1, 29.6},
                        {"Dec 08, 2026", kLeft, 149.8, 29.6},
                        {"Printed:", kLeft, 14.8, 31.8},
                        {"Tuesday December 08, 2026", kLeft, 28.0, 31.8},
                        {"Page", kLeft, 244.7, 32.3},
                        {"1", kLeft, 254.5, 32.3},
                        // column header at 40.5
                        {"INBOUND", kCentre, 179.35, 40.8},
                        {"OUTBOUND", kCentre, 227.05, 40.8},
                        {"TICKET", kLeft, 13.2, 46.8},
                        {"CUSTOMER NAME", kLeft, 34.1, 46.8},
                        {"PRODUCT", kLeft, 83.3, 46.8},
                        {"LICENSE PLATE", kLeft, 119.3, 46.8},
                        {"DATE", kCentre, 164.8, 46.8},
                        {"TIME", kCentre, 178.8, 46.8},
                        {"WEIGHT", kRight, 199.5, 46.8},
                        {"DATE", kCentre, 213.5, 46.8},
                        {"TIME", kCentre, 227.3, 46.8},
                        {"WEIGHT", kRight, 247.1, 46.8},
                        {"NET", kRight, 264.3, 46.8},
                        // the detail line at 51.1
                        {"1", kLeft, 13.2, 53.2},
                        {"ACME HAULING", kLeft, 34.1, 53.2},
                        {"PEA GRAVEL", kLeft, 83.3, 53.2},
                        {"ABC 123", kLeft, 119.3, 53.2},
                        {"12/08/26", kRight, 172.5, 53.2},
                        {"9:35", kCentre, 178.8, 53.2},
                        {"14020", kRight, 199.5, 53.2},
                        {"12/08/26", kRight, 219.1, 53.2},
                        {"14:05", kCentre, 227.3, 53.2},
                        {"8760", kRight, 247.2, 53.2},
                        {"5260", kRight, 264.3, 53.2},
                        // the summary at 57.4: "Transactions = " ends at 62.7
                        // with its blank, the count from 67.7
                        {"Transactions =", kRight, 61.9, 64.8},
                        {"1", kLeft, 67.7, 64.8},
                    });
    }

    void rightAlignedNumbersEndAtTheirBox_data()
    {
        QTest::addColumn<QString>("weight");
        QTest::newRow("one digit") << "7";
        QTest::newRow("five digits") << "14020";
        QTest::newRow("ten digits, wider than the box") << "9999999999";
    }
    void rightAlignedNumbersEndAtTheirBox()
    {
        QFETCH(QString, weight);
        auto rows = rowsOf(1);
        rows[0].inWeight = rows[0].outWeight = rows[0].netWeight = weight.toStdString();
        const auto words = transactions(rows);
        std::vector<double> ends;
        for (const Word& w : words)
            if (w.text == weight && w.top > 52)
                ends.push_back(w.right);
        // in, out and net weight, never cut
        QCOMPARE(int(ends.size()), 3);
        const double boxes[] = {199.5, 247.2, 264.3};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(std::abs(ends[std::size_t(i)] - boxes[i]) <= 0.5, qPrintable(QString::number(ends[std::size_t(i)])));
    }

    void longNamesAreCutAtTheirColumn()
    {
        auto rows = rowsOf(1);
        rows[0].customer = std::string(35, 'W');
        rows[0].product = std::string(35, 'M');
        const auto words = transactions(rows);
        for (const Word& w : words) {
            if (w.text.startsWith("WWW"))
                QVERIFY2(w.right <= 12.7 + 21.4 + 40.2 + 0.1, qPrintable(QString::number(w.right)));
            if (w.text.startsWith("MMM"))
                QVERIFY2(w.right <= 12.7 + 70.6 + 29.1 + 0.1, qPrintable(QString::number(w.right)));
        }
    }

    // Landscape Letter: 190.5 mm below the top margin; the headers take
    // 38.4, a line 6.3, so a page holds 24 lines.
    void pageBreaks_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("perPage");  // detail lines on each page
        QTest::addColumn<double>("summaryTop");   // of "Transactions", on the last page
        QTest::newRow("no rows") << 0 << QList<int> {0} << 51.1 + 7.4;
        QTest::newRow("one page") << 21 << QList<int> {21} << 51.1 + 21 * 6.3 + 7.4;
        QTest::newRow("the summary does not fit under the last line") << 22 << QList<int> {22, 0} << 51.1 + 7.4;
        QTest::newRow("a full page: the summary on a page of its own") << 24 << QList<int> {24, 0} << 51.1 + 7.4;
        QTest::newRow("three pages") << 60 << QList<int> {24, 24, 12} << 51.1 + 12 * 6.3 + 7.4;
    }
    void pageBreaks()
    {
        QFETCH(int, rows);
        QFETCH(QList<int>, perPage);
        QFETCH(double, summaryTop);
        int pages = 0;
        const auto words = transactions(rowsOf(rows), &pages);
        QCOMPARE(reporttest::pageCount(words), int(perPage.size()));
        QCOMPARE(pages, int(perPage.size()));
        int next = 1;
        for (int page = 1; page <= perPage.size(); ++page) {
            // the page header and the column header on every page, with its number
            checkPlaces(words, page,
                        {{"VELMORE GREENHOUSE", kCentre, 139.7, 15.3},
                         {"Page", kLeft, 244.7, 32.3},
                         {qPrintable(QString::number(page)), kLeft, 254.5, 32.3},
                         {"TICKET", kLeft, 13.2, 46.8},
                         {"OUTBOUND", kCentre, 227.05, 40.8}});
            QStringList expected;
            for (int k = 0; k < perPage[page - 1]; ++k)
                expected << QString::number(next++);
            QCOMPARE(ticketsOn(words, page), expected);
            const bool last = page == perPage.size();
            QCOMPARE(reporttest::find(words, page, "Transactions") != nullptr, last);
        }
        checkPlaces(words, int(perPage.size()),
                    {{"Transactions =", kRight, 61.9, summaryTop}, {qPrintable(QString::number(rows)), kLeft, 67.7, summaryTop}});
    }

    void customerList()
    {
        TrptCustomer report;
        // record order, not name order
        const auto words = list(report, {{"2", "ZED FARMS", "12 MILL RD", "1002"}, {"1", "ACME HAULING", "", "1001"}});
        QCOMPARE(reporttest::pageCount(words), 1);
        checkPlaces(words, 1,
                    {
                        {"CUSTOMER RECORDS", kCentre, 107.95, 16.9},
                        {"Page", kLeft, 180.7, 21.2},
                        {"1", kCentre, 196.1, 21.2},
                        {"CODE NO.", kLeft, 21.2, 34.1},
                        {"NAME", kLeft, 52.9, 34.1},
                        {"CONTACT", kLeft, 107.9, 34.1},
                        {"FAX", kLeft, 158.8, 34.1},
                        {"2", kLeft, 21.2, 40.2},
                        {"ZED FARMS", kLeft, 52.9, 40.2},
                        {"12 MILL RD", kLeft, 107.9, 40.2},
                        {"1002", kLeft, 158.8, 40.2},
                        {"1", kLeft, 21.2, 46.3},
                        {"ACME HAULING", kLeft, 52.9, 46.3},
                        {"1001", kLeft, 158.8, 46.3},
                    });
    }

    void productList()
    {
        TrptProduct report;
        const auto words = list(report, {{"7", "PEA GRAVEL", "12.50", "300"}, {"8", "TOPSOIL", "", ""}});
        checkPlaces(words, 1,
                    {
                        {"PRODUCT RECORDS", kCentre, 107.95, 16.9},
                        {"Page", kLeft, 180.7, 22.0},
                        {"1", kCentre, 196.1, 22.0},
                        {"PRICE PER TONNAGE", kLeft, 123.8, 34.1},
                        {"BALANCE", kLeft, 179.4, 34.1},
                        {"PEA GRAVEL", kLeft, 52.9, 40.2},
                        {"12.50", kRight, 160.0, 40.2},
                        {"300", kRight, 196.1, 40.2},
                        {"TOPSOIL", kLeft, 52.9, 46.3},
                    });
        // blank price and balance print nothing
        int onSecondLine = 0;
        for (const Word& w : words)
            onSecondLine += std::abs(w.top - 46.3) < 0.5;
        QCOMPARE(onSecondLine, 2);
    }

    // Portrait Letter: 254 mm; page 1 holds 37 lines under the title and
    // the headings, the next pages 40 under the headings alone.
    void listPages()
    {
        std::vector<reports::ListLine> rows;
        for (int i = 1; i <= 80; ++i)
            rows.push_back({std::to_string(i), "CUSTOMER " + std::to_string(i), "", ""});
        TrptCustomer report;
        const auto words = list(report, rows);
        QCOMPARE(reporttest::pageCount(words), 3);
        QVERIFY(reporttest::find(words, 1, "RECORDS"));
        for (int page = 2; page <= 3; ++page) {
            QVERIFY2(!reporttest::find(words, page, "RECORDS"), "the title is on the first page only");
            QVERIFY(!reporttest::find(words, page, "Page"));
            checkPlaces(words, page, {{"CODE NO.", kLeft, 21.2, 16.9}, {"FAX", kLeft, 158.8, 16.9}});
        }
        auto codes = [&](int page) {
            QStringList out;
            for (const Word& w : words)
                if (w.page == page && std::abs(w.left - 21.2) < 0.3 && w.text != "CODE")
                    out << w.text;
            return out;
        };
        QCOMPARE(codes(1).size(), 37);
        QCOMPARE(codes(1).first(), "1");
        QCOMPARE(codes(2).size(), 40);
        QCOMPARE(codes(2).first(), "38");
        checkPlaces(words, 2, {{"38", kLeft, 21.2, 12.7 + 8.2 + 2.1}});
        QCOMPARE(codes(3).size(), 3);
        QCOMPARE(codes(3).last(), "80");
    }

    // The printer gets the pages the PDF file gets.
    void printerAndPdfAgree()
    {
        TrptTransactionRpt report;
        report.setRange(kFrom, kTo, kTo);
        report.setRows(rowsOf(30));
        QString error;
        QVERIFY(report.writePdf(dir_.filePath("file.pdf"), error));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir_.filePath("printer.pdf"));
        QVERIFY(report.print(printer));
        const auto a = reporttest::pdfWords(dir_.filePath("file.pdf"));
        const auto b = reporttest::pdfWords(dir_.filePath("printer.pdf"));
        QCOMPARE(a.size(), b.size());
        QVERIFY(!a.empty());
        for (std::size_t i = 0; i < a.size(); ++i) {
            QCOMPARE(a[i].text, b[i].text);
            QCOMPARE(a[i].page, b[i].page);
            QVERIFY(std::abs(a[i].left - b[i].left) < 0.1 && std::abs(a[i].top - b[i].top) < 0.1);
        }
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    TestReportPdf t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_reportpdf.moc"

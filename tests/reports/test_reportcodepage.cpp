// Names in the code page of the day tables, as other programs store them,
// through the reports: the rows read as text, the CSV (UTF-8 after a
// byte-order mark) and the PDF as a reader sees it.

#include "ReportSite.h"

#include "reports/ReportData.h"
#include "reports/rTransactionRpt.h"

#include <QGuiApplication>
#include <QtTest>

namespace {

// The day table of `day` in the code page `number`, one completed ticket
// whose customer and product hold these bytes.
bool dayTableOf(const reporttest::Site& site, const xb::Date& day, int number, const std::string& customer,
                const std::string& product)
{
    const std::string path = site.data() + catalogue::dayTableName(day);
    if (!catalogue::CreateTable(catalogue::kTicketLayout, path, xb::CodePage::ofNumber(number)->mark()))
        return false;
    xb::Connection c;
    xb::Table* t = c.open(path);
    if (!t)
        return false;
    t->appendStart();
    t->blank();
    t->field("ticket")->assignInteger(7);
    t->field("customer")->assignRaw(customer);
    t->field("product")->assignRaw(product);
    t->field("truck")->assign("XY 9");
    t->field("in_time")->assignInteger(930);
    t->field("out_time")->assignInteger(1015);
    t->field("in_date")->assignDate(day);
    t->field("out_date")->assignDate(day);
    t->field("in_wgt")->assignInteger(14020);
    t->field("out_wgt")->assignInteger(8760);
    t->field("net_wgt")->assignInteger(5260);
    t->field("complete")->assignLogical(true);
    return t->append() == xb::kSuccess && t->close() == xb::kSuccess;
}

}  // namespace

class TestReportCodePage : public QObject {
    Q_OBJECT

private slots:
    void namesThroughTheReports_data()
    {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QByteArray>("customer");  // as stored
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QString>("customerText");
        QTest::addColumn<QString>("productText");
        QTest::newRow("1252") << 1252 << QByteArray("M\xDCLLER BAU") << QByteArray("Pe\xF1" "asco")
                              << QString::fromUtf8("MÜLLER BAU") << QString::fromUtf8("Peñasco");
        QTest::newRow("437") << 437 << QByteArray("M\x9ALLER BAU") << QByteArray("Pe\xA4" "asco")
                             << QString::fromUtf8("MÜLLER BAU") << QString::fromUtf8("Peñasco");
        QTest::newRow("850") << 850 << QByteArray("\xB5" "RIDOS") << QByteArray("Pe\xA4" "asco")
                             << QString::fromUtf8("ÁRIDOS") << QString::fromUtf8("Peñasco");
        QTest::newRow("1250") << 1250 << QByteArray("K\xD5" "B\xC1NYA") << QByteArray("\x8A" "TRK")
                              << QString::fromUtf8("KŐBÁNYA") << QString::fromUtf8("ŠTRK");
    }
    void namesThroughTheReports()
    {
        QFETCH(int, codePage);
        QFETCH(QByteArray, customer);
        QFETCH(QByteArray, product);
        QFETCH(QString, customerText);
        QFETCH(QString, productText);
        reporttest::Site site;
        const xb::Date day {2026, 12, 8};
        QVERIFY(dayTableOf(site, day, codePage, customer.toStdString(), product.toStdString()));

        const auto t = reports::gatherTransactions(site.data(), day, day);
        QVERIFY2(t.ok(), t.error.c_str());
        QCOMPARE(int(t.rows.size()), 1);
        QCOMPARE(QString::fromStdString(t.rows[0].customer), customerText);
        QCOMPARE(QString::fromStdString(t.rows[0].product), productText);

        // The CSV: a byte-order mark, then UTF-8 only.
        const std::string csv = reports::transactionsCsv(t.rows);
        QVERIFY(csv.starts_with("\xEF\xBB\xBF"));
        const QByteArray lines = QByteArray::fromStdString(csv.substr(3));
        QVERIFY(lines.contains(("," + customerText + "," + productText + ",").toUtf8()));
        QCOMPARE(QString::fromUtf8(lines).toUtf8(), lines);  // no byte that is not UTF-8

        // The PDF as a reader extracts its words.
        TrptTransactionRpt report;
        report.setRange(day, day, day);
        report.setRows(t.rows);
        QTemporaryDir dir;
        const QString pdf = dir.filePath("t.pdf");
        QString error;
        QVERIFY2(report.writePdf(pdf, error), qPrintable(error));
        QStringList words;
        for (const auto& w : reporttest::pdfWords(pdf))
            words << w.text;
        for (const QString& word : (customerText + " " + productText).split(' '))
            QVERIFY2(words.contains(word), qPrintable(word + " not in: " + words.join(' ')));
    }
};

QTEST_MAIN(TestReportCodePage)
#include "test_reportcodepage.moc"

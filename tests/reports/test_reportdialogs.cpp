// The report windows driven offscreen as the operator drives them: the two
// date questions and print-or-preview, what stops the report, printing on a
// printer that writes a PDF file, no printer, the preview with its Save as
// PDF and Save as CSV, and the lists from the record window's Print.

#include "ReportSite.h"

#include "dialogs/MessageSeam.h"
#include "records/View.h"
#include "reports/ReportPreview.h"
#include "reports/ReportPrinter.h"
#include "reports/Reports.h"
#include "reports/fPrintPreview.h"
#include "reports/fReports.h"
#include "reports/rCustomer.h"
#include "station/main.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <deque>

using reporttest::Site;

namespace {

// Answers the modal windows as they come up, each by its object name.
class Script {
public:
    struct Step {
        QString window;
        std::function<void(QWidget*)> act;
    };
    explicit Script(std::deque<Step> steps) : steps_(std::move(steps))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || w == handled_ || steps_.empty() || w->objectName() != steps_.front().window)
                return;
            handled_ = w;
            Step s = steps_.front();
            steps_.pop_front();
            s.act(w);
        });
        timer_.start();
    }
    bool done() const { return steps_.empty(); }
    QString next() const { return steps_.empty() ? QString() : steps_.front().window; }

private:
    std::deque<Step> steps_;
    QTimer timer_;
    QPointer<QWidget> handled_;
};

Script::Step date(const QDate& d)
{
    return {"frmReports", [d](QWidget* w) {
                auto* f = static_cast<TfrmReports*>(w);
                f->calReports->setSelectedDate(d);
                f->cmdOK->click();
            }};
}
Script::Step cancelDate()
{
    return {"frmReports", [](QWidget* w) { static_cast<TfrmReports*>(w)->cmdCancel->click(); }};
}
Script::Step choose(bool print)
{
    return {"frmPrintPreview", [print](QWidget* w) {
                auto* f = static_cast<TfrmPrintPreview*>(w);
                (print ? f->radPrint : f->radPreview)->setChecked(true);
                f->cmdOK->click();
            }};
}

// A printer that writes a PDF file, in place of the default printer.
struct FilePrinter {
    QString path;
    int made = 0;
    reports::PrinterSource previous;
    explicit FilePrinter(const QString& p) : path(p)
    {
        previous = reports::setPrinterSource([this] {
            ++made;
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(path);
            return printer;
        });
    }
    ~FilePrinter() { reports::setPrinterSource(std::move(previous)); }
};

}  // namespace

class TestReportDialogs : public QObject {
    Q_OBJECT

    std::unique_ptr<Site> site_;
    QString file(const char* name) const { return QString::fromStdString(site_->home()) + name; }

    void run(std::deque<Script::Step> steps)
    {
        Script script(std::move(steps));
        reports::RunTransactionReport(site_->data());
        QVERIFY2(script.done(), qPrintable("no window came for " + script.next()));
    }

private slots:
    void init()
    {
        site_ = std::make_unique<Site>();
        site_->dayTable({2026, 11, 30}, {{30}}, "26Nov");
        site_->dayTable({2026, 12, 1}, {{10}, {11, "ZED FARMS"}});
        xb::setClockSource([] { return xb::LocalTime {2026, 12, 8, 9, 0, 0}; });
    }
    void cleanup() { xb::setClockSource({}); }

    void dialogsAsLaidOut()
    {
        TfrmReports r;
        r.setPrompt("Please enter a date to print the report from.");
        QCOMPARE(r.windowTitle(), "Reports");
        QVERIFY(!(r.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(r.lblRequest->font().bold());
        QCOMPARE(r.cmdOK->text(), "&OK");
        QCOMPARE(r.cmdCancel->text(), "&Cancel");
        TfrmPrintPreview p;
        QCOMPARE(p.windowTitle(), "Print or Preview");
        QCOMPARE(p.radgrpPrintPreview->title(), "Do you want to Print or Preview?");
        QVERIFY(p.radPrint->isChecked());
        QVERIFY(p.printChosen());
        for (QWidget* form : {static_cast<QWidget*>(&r), static_cast<QWidget*>(&p)})
            for (QWidget* w : form->findChildren<QWidget*>())
                if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_") &&
                    (qobject_cast<QAbstractButton*>(w) || qobject_cast<QCalendarWidget*>(w) ||
                    qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w)))
                    QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    }

    void askReportDate()
    {
        {
            Script s({{"frmReports", [](QWidget* w) {
                           auto* f = static_cast<TfrmReports*>(w);
                           // the calendar opens on today, by the program's clock
                           QCOMPARE(f->calReports->selectedDate(), QDate(2026, 12, 8));
                           QCOMPARE(f->lblRequest->text(), "Which day?");
                           f->calReports->setSelectedDate(QDate(2026, 11, 3));
                           f->cmdOK->click();
                       }}});
            const auto d = reports::AskReportDate("Which day?");
            QVERIFY(s.done());
            QVERIFY(d);
            QCOMPARE(d->text(), "20261103");
        }
        Script s({cancelDate()});
        QVERIFY(!reports::AskReportDate("Which day?"));
    }

    void runStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::newRow("first date cancelled") << "cancel first" << "";
        QTest::newRow("second date cancelled") << "cancel second" << "";
        QTest::newRow("to before from") << "backwards" << "The Dates are invalid!";
        QTest::newRow("unreadable day table") << "bad table" << "Dec0526.dbf: ";
        QTest::newRow("no default printer") << "no printer" << "There is no default printer";
    }
    void runStops()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);
        dialogs::RecordingMessages messages;
        FilePrinter printer(file("printed.pdf"));
        reports::PrinterSource none;
        if (how == "no printer")
            none = reports::setPrinterSource([] { return std::unique_ptr<QPrinter>(); });
        if (how == "bad table")
            site_->garbage(site_->data() + "Dec0526.dbf");
        std::deque<Script::Step> steps;
        if (how == "cancel first")
            steps = {cancelDate()};
        else if (how == "cancel second")
            steps = {date({2026, 12, 1}), cancelDate()};
        else if (how == "backwards")
            steps = {date({2026, 12, 8}), date({2026, 12, 1}), choose(true)};
        else
            steps = {date({2026, 12, 1}), date({2026, 12, 8}), choose(true)};
        run(steps);
        if (how == "no printer")
            reports::setPrinterSource(std::move(none));
        if (message.isEmpty()) {
            QVERIFY(messages.shown.empty());
        } else {
            QCOMPARE(int(messages.shown.size()), 1);
            QCOMPARE(messages.last().kind, int(dialogs::kError));
            QVERIFY2(QString::fromStdString(messages.last().line1).contains(message), messages.last().line1.c_str());
        }
        QVERIFY(!QFile::exists(file("printed.pdf")));
    }

    void printOnThePrinter()
    {
        dialogs::RecordingMessages messages;
        FilePrinter printer(file("printed.pdf"));
        run({date({2026, 11, 30}), date({2026, 12, 1}), choose(true)});
        QVERIFY(messages.shown.empty());
        QCOMPARE(printer.made, 1);
        const auto lines = reporttest::pageLines(reporttest::pdfWords(file("printed.pdf")), 1);
        QVERIFY2(lines.contains("FROM Nov 30, 2026 TO Dec 01, 2026"), qPrintable(lines.join('\n')));
        QVERIFY(lines.contains("Printed: Tuesday December 08, 2026 Page 1"));
        QVERIFY(lines.contains("11 ZED FARMS PEA GRAVEL ABC 123 12/01/26 9:35 14020 12/01/26 14:05 8760 5260"));
        QVERIFY(lines.contains("Transactions = 3"));
    }

    void previewAndSave()
    {
        dialogs::RecordingMessages messages;
        FilePrinter printer(file("printed.pdf"));
        QStringList offered;
        int answer = 0;
        const QString answers[] = {file("saved"), file("saved.csv")};
        auto previous = reports::setSaveFileChooser(
            [&](QWidget*, const QString& caption, const QString& suggested, const QString&) {
                offered << caption + "|" + suggested;
                return answers[answer++];
            });
        int pages = -1;
        run({date({2026, 11, 1}), date({2026, 12, 31}), choose(false), {"frmPreview", [&](QWidget* w) {
                 auto* preview = static_cast<QPrintPreviewDialog*>(w);
                 pages = preview->findChild<QPrintPreviewWidget*>()->pageCount();
                 for (const char* name : {"cmdSavePdf", "cmdSaveCsv"}) {
                     auto* b = preview->findChild<QAbstractButton*>(name);
                     QVERIFY(b && !b->accessibleName().isEmpty());
                 }
                 preview->findChild<QAction*>("actSavePdf")->trigger();
                 preview->findChild<QAction*>("actSaveCsv")->trigger();
                 preview->reject();
             }}});
        reports::setSaveFileChooser(std::move(previous));
        QVERIFY(messages.shown.empty());
        QCOMPARE(pages, 1);
        QCOMPARE(offered, (QStringList {"Save as PDF|transactions-20261101-20261231.pdf",
                                        "Save as CSV|transactions-20261101-20261231.csv"}));
        // ".pdf" added to a name without it
        const auto lines = reporttest::pageLines(reporttest::pdfWords(file("saved.pdf")), 1);
        QVERIFY2(lines.contains("Transactions = 3"), qPrintable(lines.join('\n')));
        QFile csv(file("saved.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count("\r\n"), 4);
        QVERIFY(!QFile::exists(file("printed.pdf")));  // previewed, not printed
    }

    void listsFromTheRecordWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("customers") << int(records::Mode::kCustomer)
                                   << QStringList {"CUSTOMER RECORDS", "Page 1", "CODE NO. NAME CONTACT FAX",
                                                   "2 ZED FARMS 12 MILL RD 1002", "1 ACME 1001"};
        QTest::newRow("products") << int(records::Mode::kProduct)
                                  << QStringList {"PRODUCT RECORDS", "Page 1", "CODE NO. NAME PRICE PER TONNAGE BALANCE",
                                                  "7 PEA GRAVEL 12.50 300"};
    }
    void listsFromTheRecordWindow()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, expected);
        site_->master(catalogue::kCustomerLayout, {{"2", "ZED FARMS", "12 MILL RD", "1002"}, {"1", "ACME", "", "1001"}});
        site_->master(catalogue::kProductLayout, {{"7", "PEA GRAVEL", "12.5", "300"}});
        qputenv("GRAZULO_HOME", QByteArray::fromStdString(site_->home()));
        reports::installReports();
        QVERIFY(bool(station::Windows().transactionsReport));
        dialogs::RecordingMessages messages;
        FilePrinter printer(file("list.pdf"));
        {
            TfrmView view(static_cast<records::Mode>(mode));
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QVERIFY(view.cmdPrint->isEnabled());
            view.cmdPrint->click();
        }
        TfrmView::setListPrinter({});
        QVERIFY(messages.shown.empty());
        const auto lines = reporttest::pageLines(reporttest::pdfWords(file("list.pdf")), 1);
        QCOMPARE(lines, expected);
    }

    void listWithoutItsTable()
    {
        dialogs::RecordingMessages messages;
        FilePrinter printer(file("list.pdf"));
        QVERIFY(!reports::PrintCustomerList(site_->data()));
        QCOMPARE(int(messages.shown.size()), 1);
        QVERIFY2(QString::fromStdString(messages.last().line1).startsWith("Customer.dbf: the table does not exist"),
                 messages.last().line1.c_str());
        QCOMPARE(printer.made, 0);
    }
};

QTEST_MAIN(TestReportDialogs)
#include "test_reportdialogs.moc"

#include "reports/fReports.h"

#include "data/Catalogue.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/WindowFocus.h"
#include "reports/ReportData.h"
#include "reports/ReportPreview.h"
#include "reports/ReportPrinter.h"
#include "reports/fPrintPreview.h"
#include "reports/rTransactionRpt.h"

#include <QCalendarWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfrmReports::TfrmReports(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmReports");
    setWindowTitle("Reports");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* root = new QVBoxLayout(this);

    lblRequest = new QLabel(this);
    lblRequest->setObjectName("lblRequest");
    QFont f = lblRequest->font();
    f.setBold(true);
    lblRequest->setFont(f);
    root->addWidget(lblRequest);

    calReports = new QCalendarWidget(this);
    calReports->setObjectName("calReports");
    calReports->setGridVisible(true);
    lblRequest->setBuddy(calReports);
    root->addWidget(calReports);

    auto* buttons = new QHBoxLayout;
    cmdOK = new QPushButton("&OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setAccessibleName("OK");
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton("&Cancel", this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setAccessibleName("Cancel");
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    buttons->addStretch();
    root->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(calReports, &QCalendarWidget::activated, this, &QDialog::accept);
}

void TfrmReports::setPrompt(const QString& prompt)
{
    lblRequest->setText(prompt);
    lblRequest->setAccessibleName(prompt);
    calReports->setAccessibleName(prompt);
}

xb::Date TfrmReports::date() const
{
    const QDate d = calReports->selectedDate();
    return xb::Date {d.year(), d.month(), d.day()};
}

void TfrmReports::setDate(const xb::Date& d) { calReports->setSelectedDate(QDate(d.year, d.month, d.day)); }

void TfrmReports::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    reports::centreOnDesktop(this);
    calReports->setFocus();
}

namespace reports {

std::optional<xb::Date> AskReportDate(const QString& prompt, QWidget* parent)
{
    TfrmReports form(parent);
    form.setPrompt(prompt);
    form.setDate(catalogue::today());
    const int result = form.exec();
    if (parent)
        dialogs::takeFocus(parent->window());
    if (result != QDialog::Accepted)
        return std::nullopt;
    return form.date();
}

void RunTransactionReport(const std::string& dataDir, QWidget* parent)
{
    const auto from = AskReportDate("Please enter a date to print the report from.", parent);
    if (!from)
        return;
    const auto to = AskReportDate("Please enter a date to print the report up to.", parent);
    if (!to)
        return;
    const bool print = AskPrintOrPreview(parent);
    if (to->julianDay() < from->julianDay()) {
        dialogs::ShowMessage(dialogs::kError, "Error", "The Dates are invalid!");
        return;
    }
    Transactions gathered = gatherTransactions(dataDir, *from, *to);
    if (!gathered.ok()) {
        dialogs::ShowMessage(dialogs::kError, "Report Error",
                             gathered.error + "\r\rThe transactions report was not printed.");
        return;
    }
    TrptTransactionRpt report;
    report.setRange(*from, *to, catalogue::today());
    report.setRows(std::move(gathered.rows));
    if (print) {
        printOnDefaultPrinter(report, "The transactions report");
        return;
    }
    const std::string name = "transactions-" + from->text() + "-" + to->text();
    showPreview(report, [&report] { return transactionsCsv(report.rows()); }, QString::fromStdString(name), parent);
    if (parent)
        dialogs::takeFocus(parent->window());
}

}  // namespace reports

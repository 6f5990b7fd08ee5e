#pragma once
// The date question of the transactions report, and the report's run from
// the station's Reports menu.

#include "data/Date.h"

#include <QDialog>

#include <optional>
#include <string>

class QCalendarWidget;
class QLabel;
class QPushButton;

class TfrmReports : public QDialog {
    Q_OBJECT
public:
    explicit TfrmReports(QWidget* parent = nullptr);

    QLabel* lblRequest;
    QCalendarWidget* calReports;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void setPrompt(const QString& prompt);
    xb::Date date() const;
    void setDate(const xb::Date& d);

protected:
    void showEvent(QShowEvent* e) override;
};

namespace reports {

// Asks for a day under the prompt, the calendar on today; nothing when the
// operator cancels.
std::optional<xb::Date> AskReportDate(const QString& prompt, QWidget* parent = nullptr);

// The Reports menu's Transactions Report: the first and the last day, print
// or preview, then the report of the data directory's day tables (and their
// archived copies). Cancelling a date ends it; a last day before the first,
// a table that cannot be read or a printer that cannot print is reported.
void RunTransactionReport(const std::string& dataDir, QWidget* parent = nullptr);

}  // namespace reports

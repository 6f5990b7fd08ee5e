#pragma once
// The month end window: choose a year and a month, see every ticket of its
// day tables, and close the month (MonthEndArchive does the work).

#include "monthend/MonthEndArchive.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableView;
class QTableWidget;
class QToolButton;

class TfrmEndMonth : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEndMonth(QWidget* parent = nullptr);

    QStackedWidget* pages;
    QLabel* lblTitle;
    QLabel* lblYear;
    QSpinBox* speYear;
    QLabel* lblMonth;
    QLineEdit* txtMonth;
    QWidget* spbMonth;
    QToolButton* spbMonthUp;
    QToolButton* spbMonthDown;
    QLabel* lblPg1;
    QLabel* lblTotalRecord;
    QLineEdit* txtTotalRecord;
    QTableWidget* StringGrid1;
    // The grid's first three columns, held in place over its left edge
    // while the rest scrolls sideways: a second view of the same rows.
    QTableView* StringGrid1Fixed;
    QPushButton* cmdBack;
    QPushButton* cmdNext;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    int month() const;  // MonthNumber of txtMonth: 1 to 12, 0 when none
    int year() const;

    void GoPage(int page);
    void spbMonthUpClick();
    void spbMonthDownClick();
    void cmdNextClick();
    void cmdBackClick();
    void cmdOKClick();
    void cmdCancelClick();
    long ShowRecords();

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void placeFixedColumns();
    void FormShow();
    void SetHints();
    void setMonth(int year, int month);
    std::string dataDir_;
    long count_ = 0;
    bool shown_ = false;
};

namespace monthend {

// Installs the window into the station's menu.
void installMonthEnd();

}  // namespace monthend

#pragma once
// The transactions report: every ticket of a range of days, one line each,
// under the site's name, the range and the date printed, with the number of
// tickets at the end. Letter paper, landscape.

#include "data/Date.h"
#include "reports/BandedReport.h"
#include "reports/ReportData.h"

#include <vector>

class TrptTransactionRpt : public reports::BandedReport {
public:
    TrptTransactionRpt();

    // The header's texts: the range as "Dec 01, 2026", the moment printed
    // as "Tuesday December 08, 2026".
    void setRange(const xb::Date& from, const xb::Date& to, const xb::Date& printed);
    // The rows to print, and "Transactions = " their number.
    void setRows(std::vector<reports::TransactionRow> rows);
    const std::vector<reports::TransactionRow>& rows() const { return rows_; }

    // The data callback: fills the detail line from the row at the feed
    // position and advances it; false once every row is printed.
    void QuickRepNeedData(bool& moreData);

    xb::Date fromDate;
    xb::Date toDate;

private:
    std::vector<reports::TransactionRow> rows_;
    std::size_t feed_ = 1;  // the 1-based position of the next row
    reports::ReportItem* detail_[reports::kTransactionColumns] = {};
};

#pragma once
// The customer and product lists share one form: Letter portrait, a title
// with the page number on the first page, column headings on every page,
// one line per record in the table's record order.

#include "reports/BandedReport.h"
#include "reports/ReportData.h"

#include <vector>

namespace reports {

class ListReport : public BandedReport {
public:
    struct Column {
        const char* valueName;  // the detail item (txtCode)
        double headingLeft;
        double left;
        double width;
        Align align;
    };
    // `pageTop`: the top of "Page" and its number in the title band.
    ListReport(ListKind kind, double pageTop, const Column (&columns)[kListColumns]);

    void setRows(std::vector<ListLine> rows);
    const std::vector<ListLine>& rows() const { return rows_; }

    // The data callback: fills the detail line from the next record and
    // advances; false once every record is printed.
    void QuickRepNeedData(bool& moreData);

private:
    std::vector<ListLine> rows_;
    std::size_t next_ = 0;
    ReportItem* detail_[kListColumns] = {};
};

}  // namespace reports

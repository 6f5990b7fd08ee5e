#include "reports/rProduct.h"

#include "dialogs/MessageSeam.h"
#include "reports/ReportPrinter.h"

namespace {

constexpr double kBalanceEnd = 183.4;
constexpr double kBalanceBox = 16.7;  // from the heading's left edge

const reports::ListReport::Column kColumns[reports::kListColumns] = {
    {"txtCode", 8.5, 8.5, 29.4, reports::Align::kLeft},
    {"txtName", 40.2, 40.2, 67.5, reports::Align::kLeft},
    {"txtPrice", 111.1, 111.1, 36.2, reports::Align::kRight},
    {"txtBalance", 166.7, kBalanceEnd - kBalanceBox, kBalanceBox, reports::Align::kRight},
};

}  // namespace

TrptProduct::TrptProduct() : ListReport(reports::ListKind::kProducts, 9.3, kColumns) {}

namespace reports {

bool PrintProductList(const std::string& dataDir)
{
    ListRows rows = listRows(ListKind::kProducts, dataDir);
    if (!rows.ok()) {
        dialogs::ShowMessage(dialogs::kError, "Print Error", rows.error + "\r\rThe product list was not printed.");
        return false;
    }
    TrptProduct report;
    report.setRows(std::move(rows.rows));
    return printOnDefaultPrinter(report, "The product list");
}

}  // namespace reports

#include "reports/rCustomer.h"

#include "dialogs/MessageSeam.h"
#include "reports/ReportPrinter.h"

namespace {

const reports::ListReport::Column kColumns[reports::kListColumns] = {
    {"txtCode", 8.5, 8.5, 29.9, reports::Align::kLeft},
    {"txtName", 40.2, 40.2, 53.2, reports::Align::kLeft},
    {"txtContact", 95.2, 95.2, 48.9, reports::Align::kLeft},
    {"txtFax", 146.1, 146.1, 44.7, reports::Align::kLeft},
};

}  // namespace

TrptCustomer::TrptCustomer() : ListReport(reports::ListKind::kCustomers, 8.5, kColumns) {}

namespace reports {

bool PrintCustomerList(const std::string& dataDir)
{
    ListRows rows = listRows(ListKind::kCustomers, dataDir);
    if (!rows.ok()) {
        dialogs::ShowMessage(dialogs::kError, "Print Error", rows.error + "\r\rThe customer list was not printed.");
        return false;
    }
    TrptCustomer report;
    report.setRows(std::move(rows.rows));
    return printOnDefaultPrinter(report, "The customer list");
}

}  // namespace reports

#include "reports/Reports.h"

#include "records/View.h"
#include "reports/fReports.h"
#include "reports/rCustomer.h"
#include "reports/rProduct.h"
#include "station/main.h"

namespace reports {

void installReports()
{
    station::Windows().transactionsReport = [](TfrmMain& s) { RunTransactionReport(s.dataDir(), &s); };
    TfrmView::setListPrinter([](records::Mode mode, const std::string& dataDir, QWidget*) {
        if (mode == records::Mode::kCustomer)
            PrintCustomerList(dataDir);
        else if (mode == records::Mode::kProduct)
            PrintProductList(dataDir);
    });
}

}  // namespace reports

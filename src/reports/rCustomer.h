#pragma once
// The customer list: code, name, contact (add_r) and card number (fax_no)
// of every customer, in the table's record order.

#include "reports/ListReport.h"

#include <string>

class QWidget;

class TrptCustomer : public reports::ListReport {
public:
    TrptCustomer();
};

namespace reports {

// Prints the customer list of the data directory on the default printer.
// A missing or unreadable table, no printer or a failed print is reported
// and nothing is printed. True when it was printed.
bool PrintCustomerList(const std::string& dataDir);

}  // namespace reports

#pragma once
// The product list: code, name, price per tonnage (price_t) and balance of
// every product, in the table's record order.

#include "reports/ListReport.h"

#include <string>

class TrptProduct : public reports::ListReport {
public:
    TrptProduct();
};

namespace reports {

// Prints the product list of the data directory on the default printer;
// as PrintCustomerList.
bool PrintProductList(const std::string& dataDir);

}  // namespace reports
